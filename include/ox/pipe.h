#pragma once

#include <ox/export.h>

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <mutex>
#include <utility>

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
// without the lock. start() and stop() run on the caller's thread; stop() waits for the items'
// worker threads as described for IxPipeItem, blocking plainly: the caller's own queued calls
// wait until stop() has returned. A worker must therefore never block on the thread that stops
// or deletes the pipe (no BlockingQueuedConnection to it, no waiting for its locks); it hands
// frames over with queued (non-blocking) calls.
//
// Lifetimes: deleting the pipe stops it when needed and detaches its items, which stay alive and
// linked: the former root heads a branch that branchAfter(root, nullptr) can hang into another
// pipe. Deleting an item makes the pipe forget it (see ~IxPipeItem). An outside listener may be
// destroyed while the pipe is stopped or running (not while another thread starts or stops it,
// nor concurrently with the destruction of the pipe or of that item): the pipe, the source and
// the item it listens to forget it.
class OX_EXPORT CxPipe : public QObject
{
    Q_OBJECT

public:
    enum ExState { eStopped = 0, eStopping = 1, eStarted = 2, eStarting = 3 };
    Q_ENUM(ExState)
    enum ExDataFeed { ePull = 0, ePush = 1 };
    Q_ENUM(ExDataFeed)

    explicit CxPipe(QObject* parent = nullptr);
    // Stops the pipe unless it is stopped, then detaches the items (they lose the pipe, keep their
    // links and are not deleted). Detached even when stopping fails.
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

    // Graph edits (the item being inserted comes first). An anchor (`after`, `before`) must be an
    // item of this pipe. Every cut link is cut on both sides, so that the former predecessor
    // stops sending frames to the item. remove() cuts the item from all its predecessors and
    // every head it hands back from all of its predecessors; remove() and detachAsBranch() are
    // refused unless the pipe is stopped. detachBranchItems() cuts each leaf of the branch from
    // its predecessors, emptying their successor lists; it and deleteBranch() take only items of
    // no pipe. insertAfter(), insertBefore(), branchAfter() and replaceRoot() change nothing when
    // they fail: every new link is checked before any is cut (a new root must be of no pipe and
    // unlinked); replaceRoot() sets `oldRoot` only when it succeeds.
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
    // dataAvailable(int) as a queued call. False for null arguments, an item outside the pipe, a
    // started item or a slot that cannot be connected.
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
    friend class IxPipeItem;
    // Called by a pipe item's destructor: forgets the item and takes the pipe away from the items
    // that can no longer be reached from the root.
    void forgetItem(IxPipeItem* item);
    void addSuccessors_noLock(IxPipeItem* item, QSet<IxPipeItem*>& items) const;
    QSet<IxPipeItem*> allItems_noLock() const;
    QSet<QObject*> allDataListeners_noLock() const;
    IxDataSource* source_noLock() const;
    bool connectRequestors_noLock();
    void disconnectRequestors_noLock();
    static bool link(IxPipeItem* from, IxPipeItem* to);
    static bool unlink(IxPipeItem* from, IxPipeItem* to);
    static bool unlinkFromPrecedessors(IxPipeItem* item);
    // A link as (from, to).
    using Link = std::pair<IxPipeItem*, IxPipeItem*>;
    // Checks that every link of `made` can be made (distinct stopped items that accept each
    // other), then cuts `cut` and makes `made`, each link on both sides. False, with nothing
    // changed, when a check or a step fails.
    static bool relink(const QList<Link>& cut, const QList<Link>& made);
    // The checks insertAfter() and insertBefore() share (`anchor` null: as the root); logs the
    // failing one and returns false.
    bool canInsert_noLock(IxPipeItem* item, IxPipeItem* anchor) const;

    mutable std::recursive_mutex m_lock;
    std::atomic<IxPipeItem*> m_root{nullptr}; // not owned; changed under m_lock
    std::atomic<ExState> m_state{eStopped};
    std::atomic<ExDataFeed> m_feed{ePull};
    std::atomic<bool> m_captureMetadata{false};

    // Listeners whose requestData() hangs on started(): that connection and the one that drops
    // the entry when the listener is destroyed. Guarded by m_listenersLock, a leaf lock (the
    // destroyed() handler runs on whatever thread deletes the listener and takes only this lock).
    struct StartedLink
    {
        QMetaObject::Connection request;
        QMetaObject::Connection guard;
    };
    std::mutex m_listenersLock;
    QHash<QObject*, StartedLink> m_startedConnections;
};

} // namespace ox
