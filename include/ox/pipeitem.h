#pragma once

#include <ox/export.h>

#include <QFlags>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

class QSettings;
class QThread;
class QWidget;

namespace ox {

class CxDuration;
class CxFrameRateCounter;
class CxMetadata;
class CxPipe;
class IxData;
class IxDataInfo;
class IxDataSource;
class IxDataConsumer;

// A node of a processing pipe. Every item lives on a worker thread of its own: its queued slots
// (onDataAvailable, onPipeStarted, onPipeStopped and those of subclasses) run there. An item
// receives frames from its predecessors, turns each into an output frame with processData(), keeps
// the output until every interested receiver has taken it (at most one frame: a newer one evicts
// the older) and announces each new output with dataAvailable(frameNo).
//
// Threads and locks:
//  - item lock (recursive): the state transitions, flags, name and pipe. Held by start() while the
//    successors start (item locks are taken downstream) and by onDataAvailable() while it takes a
//    frame from a predecessor (then the predecessor's data lock is taken: own item lock, then
//    predecessor's data lock).
//  - data lock (recursive): the output store and the receiver table. Never held while taking any
//    item lock.
//  - links lock (leaf): the successor and predecessor lists. Changed under the item lock plus the
//    links lock; read under the links lock alone, so that a publisher holding its data lock can ask
//    receivers whether they want a frame without touching their item locks. No other lock is ever
//    taken while it is held.
//  - the state, flags and pipe are atomic, so that publishing can read them without the item lock.
// Links change only while the item is stopped. processData() and setupStart() run without the
// item lock. Frames cross threads only as ownership transfers through the output store.
//
// Waiting for the worker: stop() lets the worker finish the frame it is working on before
// setupStop() runs, the destructor lets it finish what is queued for it, and CxPipe::stop() does
// both for every item. These waits block the waiting thread plainly: it runs none of its own
// queued calls meanwhile. Hence the rule: a worker (processData(), consumeData(), an eater,
// setupStop() and any slot of the item) must never block on the thread that stops or deletes the
// pipe or its items, neither through a BlockingQueuedConnection to it nor by waiting for a lock
// that thread may hold (the item lock among them); that deadlocks. Hand frames to that thread with
// queued (non-blocking) calls instead.
//
// Outside listeners may be destroyed on any thread while the item lives (the item forgets them),
// but not concurrently with the destruction of the item itself.
class OX_EXPORT IxPipeItem : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ExState state READ state NOTIFY stateChanged)

public:
    enum ExState { eStopped = 0, eStarted = 1, eInvalid = 2 };
    Q_ENUM(ExState)
    enum ExFlag { eSupportsFpsRegulation = 1, eTakeLatestFrame = 2 };
    Q_DECLARE_FLAGS(ExFlags, ExFlag)
    Q_FLAG(ExFlags)

    // Creates the worker thread (named "Thread: <name>"), moves the item to it and starts it.
    explicit IxPipeItem(ExFlags flags = ExFlags());
    // Cuts the item's links on both sides (its predecessors forget it as a receiver), makes its
    // pipe forget it (a deleted root leaves the pipe empty; items no longer reachable from the
    // root lose the pipe and stay linked among themselves), frees the output store and ends the
    // worker thread (waits for it). Delete an item only while its pipe is stopped, from a thread
    // other than its own.
    ~IxPipeItem() override;
    IxPipeItem(const IxPipeItem&) = delete;
    IxPipeItem& operator=(const IxPipeItem&) = delete;

    virtual QString title() const;
    // Stores the name and renames the worker thread to it.
    virtual void setName(const QString& name);
    // The output description (and metadata) this item would make from the given input; the caller
    // owns `output`.
    virtual bool queryOutputDataInfo(const IxDataInfo* input, IxDataInfo*& output,
                                     const CxMetadata* inputMetadata, CxMetadata* outputMetadata) = 0;
    virtual bool currentOutputDataInfo(IxDataInfo*& output, CxMetadata* metadata) = 0;
    virtual bool currentInputDataInfo(IxDataInfo*& input, CxMetadata* metadata) = 0;
    // Frames per second received recently (the frame-rate counter's figure).
    virtual double calcFps() const;
    virtual bool isStarted() const;
    virtual bool isStopped() const;
    virtual bool isValid() const; // state is eInvalid
    virtual bool loadSettings(QSettings* settings);
    virtual bool saveSettings(QSettings* settings);
    virtual bool hasConfigurationWidget() const;
    virtual QWidget* configurationWidget();
    // Under the item lock: stores a different state and emits stateChanged().
    virtual void setState(ExState state);
    virtual void addFlags(ExFlags flags);
    // Link edits (refused while started). The pipe calls both sides of each link.
    virtual bool addSuccessor(IxPipeItem* item);
    virtual bool removeSuccessor(IxPipeItem* item);
    virtual bool addPrecedessor(IxPipeItem* item);
    virtual bool removePrecedessor(IxPipeItem* item);
    virtual bool acceptAsSuccessor(IxPipeItem* item) = 0;
    virtual bool acceptAsPrecedessor(IxPipeItem* item) = 0;
    // Called on start and stop (on the thread that starts or stops the pipe); open and close
    // resources here.
    virtual bool setupStart();
    virtual bool setupStop();
    // Turns `input` into `output` on the worker thread. The item owns `input`: pass it on as the
    // output or delete it. Returning false (or no output) makes the caller delete both.
    virtual bool processData(IxData* input, IxData*& output);
    // Whether this item wants the frame. Also consulted on the publishing item's thread.
    virtual bool acceptsData(int frameNo);

    QString name() const;
    ExFlags flags() const;
    bool supportsFpsRegulation() const;
    double maxFps() const;
    void setMaxFps(double fps);
    CxDuration elapsed() const;
    CxPipe* pipe() const;
    ExState state() const;
    QList<IxPipeItem*> successors() const;
    QList<IxPipeItem*> precedessors() const;
    // Receivers of this item's frames that are not pipe items.
    QList<QObject*> nonPipeItemListeners() const;

Q_SIGNALS:
    void stateChanged();
    void dataAvailable(int frameNo);

protected Q_SLOTS:
    virtual void onDataAvailable(int frameNo);
    virtual void onPipeStarted();
    virtual void onPipeStopped();

protected:
    // Every event (queued slot calls included) first passes the item lock, so that what the
    // posting thread wrote under or before that lock is visible to the worker thread, also to
    // race detectors that cannot see inside Qt's event queue.
    bool event(QEvent* event) override;

    // Starts this item and, depth-first, everything below it; the item is started only after all
    // its successors are.
    bool start();
    // Stops this item and everything below it, then frees the output store. The item first stops
    // taking and publishing frames (its state becomes eStopped), lets the worker finish the frame
    // in hand and only then calls setupStop(), so that setupStop() never runs alongside
    // processData(). When setupStop() fails the item returns to its former state.
    bool stop();
    bool setPipe(CxPipe* pipe, bool recursive);
    QThread* myThread() const;

    // Hand-over of output frames; `receiver` owns what it gets. The _noLock forms expect the
    // caller to hold this item's data lock.
    IxData* getData(QObject* receiver, int frameNo);
    IxData* getData_noLock(QObject* receiver, int frameNo);
    IxData* getLatestData(QObject* receiver);
    void discardData(QObject* receiver, int frameNo);
    void discardData_noLock(QObject* receiver, int frameNo);
    void discardLatestData(QObject* receiver);
    // Publishes a frame (data lock held). True when the store took ownership; else the caller
    // deletes `data`.
    bool addToOutputData_noLock(IxData* data);
    // A receiver calls this on the notifying item first thing when it handles a notification
    // (dataAvailable), so that the item can bound the notifications queued for it.
    void acknowledgeNotification(QObject* receiver);
    // Publishes under the data lock and deletes a refused frame.
    bool publish(IxData* data);
    void freeProcessedData();

    bool hasConsumer() const;
    bool hasConsumer_noLock() const;
    bool isBlind() const;
    bool dataRequested(int frameNo);
    bool canRegulateFps_noLock() const;
    // Registers `receiver` for dataAvailable(int) at `slot` (as made by SLOT()), queued. True when
    // the receiver is registered afterwards (also when it already was); false while the item is
    // started or when the connection cannot be made (no such slot, say). An outside receiver is
    // forgotten when it is destroyed.
    bool connectDataReceiver(QObject* receiver, const char* slot);
    // Undoes connectDataReceiver and drops the receiver's pending frames; false while started or
    // for a receiver that is not registered.
    bool disconnectDataReceiver(QObject* receiver, const char* slot);
    ExState state_noLock() const;

    // The item's locks, for subclasses that guard their own fields with them.
    std::recursive_mutex& itemLock() const { return m_itemLock; }
    std::recursive_mutex& dataLock() const { return m_dataLock; }
    CxFrameRateCounter& frameRateCounter() const;
    // Renames the worker thread to the current name().
    void renameThread();
    // Validates the sender of a queued dataAvailable (logs and returns null when it is missing or
    // not a pipe item).
    IxPipeItem* senderItem() const;
    // Whether `item` is a predecessor (links lock only).
    bool hasPrecedessor(IxPipeItem* item) const;
    // Waits until the worker thread has run every event queued for it so far (returns at once on
    // the worker thread itself). The wait blocks plainly (see the class comment). Call it without
    // holding this item's locks.
    void drainEvents();

private:
    friend class CxPipe;
    friend class IxDataSource;
    friend class IxDataProcessor;
    friend class IxDataConsumer;

    bool linkEdit(QList<IxPipeItem*>& list, IxPipeItem* item, bool add, bool successor);
    void dropFrame_noLock(int frameNo);
    void notify_noLock(int frameNo);
    void removeUnwantedFrames_noLock();
    // Removes this item from its neighbours' link lists and receiver tables.
    void unlinkFromNeighbours();

    mutable std::recursive_mutex m_itemLock;
    mutable std::recursive_mutex m_dataLock;
    mutable std::mutex m_linksLock;

    // Guarded by m_linksLock (written under m_itemLock too).
    QList<IxPipeItem*> m_successors;
    QList<IxPipeItem*> m_predecessors;

    // Guarded by m_dataLock. The store owns its frames.
    QMap<int, IxData*> m_output;
    QMap<QObject*, QSet<int>> m_receivers;        // frame numbers pending per receiver
    QHash<QObject*, IxPipeItem*> m_receiverItems; // the receiver as a pipe item, null for listeners
    QHash<QObject*, int> m_queued; // notifications sent to a pipe item and not yet handled by it
    QSet<QObject*> m_owed;         // pipe items owed a notification for a pending frame
    QHash<QObject*, QMetaObject::Connection> m_listenerGuards; // outside receivers' destroyed()
    static constexpr int kMaxQueuedNotifications = 4;
    int m_outputCapacity = 1;

    // Guarded by m_itemLock.
    QString m_name;

    // Written under m_itemLock; atomic so that publishers and stale queued calls can read them
    // without it.
    std::atomic<CxPipe*> m_pipe{nullptr};
    std::atomic<int> m_flags{0};
    std::atomic<ExState> m_state{eStopped};
    std::atomic<int> m_listenerCount{0};              // receivers that are not pipe items
    std::unique_ptr<CxFrameRateCounter> m_fpsCounter; // thread-safe on its own
    QThread* m_thread = nullptr;                      // owned
};

} // namespace ox

Q_DECLARE_OPERATORS_FOR_FLAGS(ox::IxPipeItem::ExFlags)
