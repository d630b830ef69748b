#pragma once

#include <ox/export.h>

#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <mutex>

namespace ox {

class IxPipeItem;
class IxDataSource;
class IxDataConsumer;

// A directed graph of pipe items hanging from one root item (the source), edited while stopped and
// started and stopped as a whole. Frames are pulled (consumers request them) or pushed (the source
// sets the pace). The pipe does not own its items.
//
// Threads and locks: one recursive lock guards the root and the graph edits; it is held while the
// root starts (so setupStart() runs on the caller's thread under it and may call back into the
// pipe) and never while starting(), started(), stopping() or stopped() is emitted, nor while the
// root stops. The state and the data feed are atomic: items read them from their worker threads
// without the lock. start() and stop() run on the caller's thread.
class OX_EXPORT CxPipe : public QObject
{
    Q_OBJECT

public:
    enum ExState { eStopped = 0, eStopping = 1, eStarted = 2, eStarting = 3 };
    Q_ENUM(ExState)
    enum ExDataFeed { ePull = 0, ePush = 1 };
    Q_ENUM(ExDataFeed)

    explicit CxPipe(QObject* parent = nullptr);
    ~CxPipe() override;

    ExState state() const;
    bool isStarted() const;
    bool isStopped() const;

    ExDataFeed dataFeed() const;
    // Accepted only while the pipe is not started.
    bool setDataFeed(ExDataFeed feed);
    bool captureMetadataEnabled() const;
    void setCaptureMetadataEnabled(bool enabled);
    bool setConsumersNotRequestDataInPullMode(bool value);

    IxPipeItem* rootItem() const;
    QSet<IxPipeItem*> allItems() const;
    bool hasItem(IxPipeItem* item) const;
    bool hasItem(const QString& className) const;
    QSet<IxDataSource*> sources() const;
    QSet<IxDataConsumer*> consumers() const;
    QSet<QObject*> nonPipeItemListeners() const;
    QSet<QObject*> allDataListeners() const;

    // Graph edits (the item being inserted comes first).
    bool insertAfter(IxPipeItem* item, IxPipeItem* after);
    bool insertBefore(IxPipeItem* item, IxPipeItem* before);
    bool branchAfter(IxPipeItem* item, IxPipeItem* after);
    bool remove(IxPipeItem* item, QSet<IxPipeItem*>& removed);
    bool replaceRoot(IxPipeItem* newRoot, IxPipeItem*& oldRoot);
    bool detachAsBranch(IxPipeItem* item);
    bool destroyAllItems();
    static bool detachBranchItems(IxPipeItem* item, QSet<IxPipeItem*>& items);
    static bool deleteBranch(IxPipeItem* item);

    // Registers a plain object as a receiver of `item`'s frames: `slot` (as made by SLOT()) gets
    // dataAvailable(int) as a queued call.
    bool connectNonPipeItemObject(IxPipeItem* item, QObject* listener, const char* slot);
    bool disconnectNonPipeItemObject(IxPipeItem* item, QObject* listener, const char* slot);

public Q_SLOTS:
    bool start();
    bool stop();

Q_SIGNALS:
    void starting();
    void started();
    void stopping();
    void stopped();

private:
    void addSuccessors_noLock(IxPipeItem* item, QSet<IxPipeItem*>& items) const;
    QSet<IxPipeItem*> allItems_noLock() const;
    QSet<QObject*> allDataListeners_noLock() const;
    IxDataSource* source_noLock() const;
    bool connectRequestors_noLock();
    void disconnectRequestors_noLock();
    bool link(IxPipeItem* from, IxPipeItem* to);
    bool unlink(IxPipeItem* from, IxPipeItem* to);

    mutable std::recursive_mutex m_lock;
    std::atomic<IxPipeItem*> m_root{nullptr}; // not owned; changed under m_lock
    std::atomic<ExState> m_state{eStopped};
    std::atomic<ExDataFeed> m_feed{ePull};
    std::atomic<bool> m_captureMetadata{false};
    QSet<QObject*> m_startedConnections; // listeners whose requestData() hangs on started()
};

} // namespace ox
