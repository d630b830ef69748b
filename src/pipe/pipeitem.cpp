// The pipe item: worker thread, links, output store and receiver table, publishing, hand-over of
// frames, frame-rate regulation, start and stop down the graph.

#include <ox/pipeitem.h>

#include <ox/data.h>
#include <ox/dataconsumer.h>
#include <ox/framerate.h>
#include <ox/pipe.h>
#include <ox/units.h>

#include "core/log.h"

#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <utility>

namespace ox {

using detail::LogError;
using detail::LogWarning;

IxPipeItem::IxPipeItem(ExFlags flags)
    : m_flags(int(flags)), m_fpsCounter(std::make_unique<CxFrameRateCounter>()), m_thread(new QThread)
{
    m_thread->setObjectName(QStringLiteral("Thread: %1").arg(name()));
    moveToThread(m_thread);
    m_thread->start(QThread::InheritPriority);
    // Wait until the thread runs its event loop: it reads its own name while starting, and the
    // constructors of the item kinds rename it right after this.
    drainEvents();
}

IxPipeItem::~IxPipeItem()
{
    // The outside listeners' destroyed() handlers reach into this item: cut them before anything
    // of it goes away (Qt would only cut them in ~QObject, after the members are gone).
    {
        std::lock_guard<std::recursive_mutex> data(m_dataLock);
        for (const QMetaObject::Connection& guard : std::as_const(m_listenerGuards))
            disconnect(guard);
        m_listenerGuards.clear();
    }
    // Leave no dangling pointer behind in the pipe, the neighbours' link lists and their receiver
    // tables.
    if (CxPipe* pipe = m_pipe)
        pipe->forgetItem(this);
    else
        unlinkFromNeighbours();
    freeProcessedData();
    // Let the worker finish what is queued for it before its event loop is told to quit.
    drainEvents();
    m_thread->quit();
    if (QThread::currentThread() != m_thread)
        m_thread->wait();
    delete m_thread;
}

void IxPipeItem::unlinkFromNeighbours()
{
    for (IxPipeItem* p : precedessors()) {
        {
            std::lock_guard<std::mutex> links(p->m_linksLock);
            p->m_successors.removeAll(this);
        }
        std::lock_guard<std::recursive_mutex> data(p->m_dataLock);
        p->m_receivers.remove(this);
        p->m_receiverItems.remove(this);
        p->m_queued.remove(this);
        p->m_owed.remove(this);
    }
    for (IxPipeItem* s : successors()) {
        std::lock_guard<std::mutex> links(s->m_linksLock);
        s->m_predecessors.removeAll(this);
    }
    std::lock_guard<std::mutex> links(m_linksLock);
    m_successors.clear();
    m_predecessors.clear();
}

QString IxPipeItem::title() const
{
    return name();
}

void IxPipeItem::setName(const QString& name)
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_itemLock);
        m_name = name;
    }
    renameThread();
}

QString IxPipeItem::name() const
{
    std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    return m_name.isEmpty() ? QString::fromLatin1(metaObject()->className()) : m_name;
}

void IxPipeItem::renameThread()
{
    m_thread->setObjectName(name());
}

double IxPipeItem::calcFps() const
{
    return m_fpsCounter->currentFps();
}

bool IxPipeItem::isStarted() const
{
    return m_state == eStarted;
}

bool IxPipeItem::isStopped() const
{
    return m_state == eStopped;
}

bool IxPipeItem::isValid() const
{
    return m_state == eInvalid;
}

bool IxPipeItem::loadSettings(QSettings*)
{
    return true;
}

bool IxPipeItem::saveSettings(QSettings*)
{
    return true;
}

bool IxPipeItem::hasConfigurationWidget() const
{
    return false;
}

QWidget* IxPipeItem::configurationWidget()
{
    return nullptr;
}

void IxPipeItem::setState(ExState state)
{
    std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    if (m_state.exchange(state) != state)
        Q_EMIT stateChanged();
}

void IxPipeItem::addFlags(ExFlags flags)
{
    std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    m_flags |= int(flags);
}

IxPipeItem::ExFlags IxPipeItem::flags() const
{
    return ExFlags(m_flags.load());
}

bool IxPipeItem::supportsFpsRegulation() const
{
    return flags().testFlag(eSupportsFpsRegulation);
}

double IxPipeItem::maxFps() const
{
    return m_fpsCounter->maxFps();
}

void IxPipeItem::setMaxFps(double fps)
{
    m_fpsCounter->setMaxFps(fps);
}

CxDuration IxPipeItem::elapsed() const
{
    return CxDuration(double(m_fpsCounter->elapsedMsec()), CxUnits::eMilliseconds);
}

CxPipe* IxPipeItem::pipe() const
{
    return m_pipe;
}

IxPipeItem::ExState IxPipeItem::state() const
{
    return m_state;
}

IxPipeItem::ExState IxPipeItem::state_noLock() const
{
    return m_state;
}

CxFrameRateCounter& IxPipeItem::frameRateCounter() const
{
    return *m_fpsCounter;
}

QThread* IxPipeItem::myThread() const
{
    return m_thread;
}

QList<IxPipeItem*> IxPipeItem::successors() const
{
    std::lock_guard<std::mutex> lock(m_linksLock);
    return m_successors;
}

QList<IxPipeItem*> IxPipeItem::precedessors() const
{
    std::lock_guard<std::mutex> lock(m_linksLock);
    return m_predecessors;
}

bool IxPipeItem::hasPrecedessor(IxPipeItem* item) const
{
    std::lock_guard<std::mutex> lock(m_linksLock);
    return m_predecessors.contains(item);
}

QList<QObject*> IxPipeItem::nonPipeItemListeners() const
{
    std::lock_guard<std::recursive_mutex> lock(m_dataLock);
    QList<QObject*> listeners;
    for (auto it = m_receivers.cbegin(); it != m_receivers.cend(); ++it)
        if (!m_receiverItems.value(it.key()))
            listeners << it.key();
    return listeners;
}

// ---- Links ----------------------------------------------------------------------------------

bool IxPipeItem::linkEdit(QList<IxPipeItem*>& list, IxPipeItem* item, bool add, bool successor)
{
    std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    if (isStarted()) {
        LogError(QStringLiteral("The item is started."));
        return false;
    }
    if (!item) {
        LogError(QStringLiteral("The item is null."));
        return false;
    }
    if (add) {
        if (!(successor ? acceptAsSuccessor(item) : acceptAsPrecedessor(item))) {
            LogError(successor ? QStringLiteral("The item cannot be accepted as a successor.")
                               : QStringLiteral("The item cannot be accepted as a precedessor."));
            return false;
        }
        std::lock_guard<std::mutex> links(m_linksLock);
        if (list.contains(item)) {
            LogError(QStringLiteral("The item is already present."));
            return false;
        }
        list.append(item);
    } else {
        std::lock_guard<std::mutex> links(m_linksLock);
        if (!list.removeOne(item)) {
            LogError(QStringLiteral("The item is not present."));
            return false;
        }
    }
    return true;
}

bool IxPipeItem::addSuccessor(IxPipeItem* item)
{
    std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    if (!linkEdit(m_successors, item, true, true))
        return false;
    if (connectDataReceiver(item, SLOT(onDataAvailable(int))))
        return true;
    std::lock_guard<std::mutex> links(m_linksLock);
    m_successors.removeOne(item);
    return false;
}

bool IxPipeItem::removeSuccessor(IxPipeItem* item)
{
    std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    if (!linkEdit(m_successors, item, false, true))
        return false;
    disconnectDataReceiver(item, SLOT(onDataAvailable(int)));
    return true;
}

bool IxPipeItem::addPrecedessor(IxPipeItem* item)
{
    return linkEdit(m_predecessors, item, true, false);
}

bool IxPipeItem::removePrecedessor(IxPipeItem* item)
{
    return linkEdit(m_predecessors, item, false, false);
}

// ---- Receivers --------------------------------------------------------------------------------

bool IxPipeItem::connectDataReceiver(QObject* receiver, const char* slot)
{
    if (!receiver || !slot)
        return false;
    std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    if (isStarted())
        return false;
    std::lock_guard<std::recursive_mutex> data(m_dataLock);
    if (m_receivers.contains(receiver))
        return true;
    if (!connect(this, SIGNAL(dataAvailable(int)), receiver, slot, Qt::QueuedConnection))
        return false;
    m_receivers.insert(receiver, QSet<int>());
    IxPipeItem* item = qobject_cast<IxPipeItem*>(receiver);
    m_receiverItems.insert(receiver, item);
    if (!item) {
        ++m_listenerCount;
        // An outside listener may go away on its own, on any thread and also while the item
        // runs: forget it then. Only the data lock is taken, as by any publisher.
        m_listenerGuards.insert(receiver, connect(
                                              receiver, &QObject::destroyed, this,
                                              [this](QObject* gone) {
                                                  std::lock_guard<std::recursive_mutex> data(m_dataLock);
                                                  if (m_receivers.remove(gone)) {
                                                      m_receiverItems.remove(gone);
                                                      m_listenerGuards.remove(gone);
                                                      --m_listenerCount;
                                                      removeUnwantedFrames_noLock();
                                                  }
                                              },
                                              Qt::DirectConnection));
    }
    return true;
}

bool IxPipeItem::disconnectDataReceiver(QObject* receiver, const char* slot)
{
    if (!receiver || !slot)
        return false;
    std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    if (isStarted())
        return false;
    std::lock_guard<std::recursive_mutex> data(m_dataLock);
    if (!m_receivers.contains(receiver))
        return false;
    disconnect(this, SIGNAL(dataAvailable(int)), receiver, slot);
    if (!m_receiverItems.value(receiver)) {
        --m_listenerCount;
        disconnect(m_listenerGuards.take(receiver));
    }
    m_receivers.remove(receiver);
    m_receiverItems.remove(receiver);
    m_queued.remove(receiver);
    m_owed.remove(receiver);
    removeUnwantedFrames_noLock();
    return true;
}

bool IxPipeItem::hasConsumer() const
{
    return hasConsumer_noLock();
}

// Reads only the links (links lock) and the listener count (atomic): safe to call from a publisher
// that holds its own data lock.
bool IxPipeItem::hasConsumer_noLock() const
{
    if (qobject_cast<const IxDataConsumer*>(this) || m_listenerCount > 0)
        return true;
    const QList<IxPipeItem*> next = successors();
    return std::any_of(next.begin(), next.end(), [](IxPipeItem* s) { return s->hasConsumer_noLock(); });
}

bool IxPipeItem::isBlind() const
{
    return !hasConsumer();
}

bool IxPipeItem::dataRequested(int frameNo)
{
    if (!acceptsData(frameNo))
        return false;
    const QList<IxPipeItem*> next = successors();
    return next.isEmpty() || std::any_of(next.begin(), next.end(),
                                         [frameNo](IxPipeItem* s) { return s->dataRequested(frameNo); });
}

bool IxPipeItem::acceptsData(int)
{
    return true;
}

// ---- Output store ---------------------------------------------------------------------------

void IxPipeItem::dropFrame_noLock(int frameNo)
{
    delete m_output.take(frameNo);
    for (QSet<int>& pending : m_receivers)
        pending.remove(frameNo);
}

void IxPipeItem::removeUnwantedFrames_noLock()
{
    for (auto it = m_output.begin(); it != m_output.end();) {
        const int frameNo = it.key();
        const bool wanted =
            std::any_of(m_receivers.cbegin(), m_receivers.cend(),
                        [frameNo](const QSet<int>& pending) { return pending.contains(frameNo); });
        if (wanted) {
            ++it;
        } else {
            delete it.value();
            it = m_output.erase(it);
        }
    }
}

bool IxPipeItem::addToOutputData_noLock(IxData* data)
{
    if (!data) {
        LogError(QStringLiteral("A null data passed."));
        return false;
    }
    const int frameNo = data->frameNo();
    if (!isStarted() || m_receivers.isEmpty() || m_output.contains(frameNo))
        return false;
    // A latest-frame receiver with a notification still queued needs no further signal: that
    // notification fetches the newest frame. Any other pipe item gets at most
    // kMaxQueuedNotifications queued notifications; beyond that it is owed one, sent when it has
    // worked through its queue (acknowledgeNotification). Either way a receiver that is slower
    // than its input never makes its event queue grow. This is read before the eviction below.
    QSet<QObject*> awaiting;
    for (auto it = m_receivers.cbegin(); it != m_receivers.cend(); ++it) {
        IxPipeItem* item = m_receiverItems.value(it.key());
        if (item && item->flags().testFlag(eTakeLatestFrame) && m_queued.value(it.key()) > 0)
            awaiting.insert(it.key());
    }
    if (m_output.size() >= m_outputCapacity)
        dropFrame_noLock(m_output.firstKey());

    QList<QObject*> takers;
    bool notify = false;
    for (auto it = m_receivers.begin(); it != m_receivers.end(); ++it) {
        IxPipeItem* item = m_receiverItems.value(it.key());
        if (item && !(item->hasConsumer_noLock() && item->dataRequested(frameNo)))
            continue;
        takers << it.key();
        if (awaiting.contains(it.key())) {
            it.value().clear();
            m_owed.insert(it.key());
        } else if (item && m_queued.value(it.key()) >= kMaxQueuedNotifications) {
            m_owed.insert(it.key());
        } else {
            notify = true;
        }
    }
    removeUnwantedFrames_noLock();
    if (takers.isEmpty())
        return false;
    m_output.insert(frameNo, data);
    for (QObject* receiver : takers)
        m_receivers[receiver].insert(frameNo);
    if (notify && isStarted())
        notify_noLock(frameNo);
    return true;
}

void IxPipeItem::notify_noLock(int frameNo)
{
    // One signal reaches every receiver: each has one more notification queued, and none is owed
    // one any more.
    for (auto it = m_receiverItems.cbegin(); it != m_receiverItems.cend(); ++it)
        if (it.value())
            ++m_queued[it.key()];
    m_owed.clear();
    Q_EMIT dataAvailable(frameNo);
}

void IxPipeItem::acknowledgeNotification(QObject* receiver)
{
    std::lock_guard<std::recursive_mutex> lock(m_dataLock);
    auto it = m_queued.find(receiver);
    if (it == m_queued.end() || --it.value() > 0)
        return;
    it.value() = 0;
    const QSet<int> pending = m_receivers.value(receiver);
    if (m_owed.contains(receiver) && !pending.isEmpty() && isStarted())
        notify_noLock(*std::max_element(pending.begin(), pending.end()));
}

bool IxPipeItem::publish(IxData* data)
{
    std::lock_guard<std::recursive_mutex> lock(m_dataLock);
    if (addToOutputData_noLock(data))
        return true;
    delete data;
    return false;
}

IxData* IxPipeItem::getData(QObject* receiver, int frameNo)
{
    std::lock_guard<std::recursive_mutex> lock(m_dataLock);
    return getData_noLock(receiver, frameNo);
}

IxData* IxPipeItem::getData_noLock(QObject* receiver, int frameNo)
{
    auto it = m_receivers.find(receiver);
    if (it == m_receivers.end() || !it.value().contains(frameNo) || !m_output.contains(frameNo))
        return nullptr;
    it.value().remove(frameNo);
    const bool othersWaiting =
        std::any_of(m_receivers.cbegin(), m_receivers.cend(),
                    [frameNo](const QSet<int>& pending) { return pending.contains(frameNo); });
    if (othersWaiting)
        return m_output.value(frameNo)->clone();
    return m_output.take(frameNo);
}

IxData* IxPipeItem::getLatestData(QObject* receiver)
{
    std::lock_guard<std::recursive_mutex> lock(m_dataLock);
    auto it = m_receivers.find(receiver);
    if (it == m_receivers.end() || it.value().isEmpty())
        return nullptr;
    const QSet<int> pending = it.value();
    const int latest = *std::max_element(pending.begin(), pending.end());
    for (int frameNo : pending)
        if (frameNo != latest)
            discardData_noLock(receiver, frameNo);
    return getData_noLock(receiver, latest);
}

void IxPipeItem::discardData(QObject* receiver, int frameNo)
{
    std::lock_guard<std::recursive_mutex> lock(m_dataLock);
    discardData_noLock(receiver, frameNo);
}

void IxPipeItem::discardData_noLock(QObject* receiver, int frameNo)
{
    auto it = m_receivers.find(receiver);
    if (it != m_receivers.end())
        it.value().remove(frameNo);
    if (!m_output.contains(frameNo)) {
        LogError(QStringLiteral("No data to discard."));
        return;
    }
    const bool wanted =
        std::any_of(m_receivers.cbegin(), m_receivers.cend(),
                    [frameNo](const QSet<int>& pending) { return pending.contains(frameNo); });
    if (!wanted)
        delete m_output.take(frameNo);
}

void IxPipeItem::discardLatestData(QObject* receiver)
{
    std::lock_guard<std::recursive_mutex> lock(m_dataLock);
    auto it = m_receivers.find(receiver);
    if (it == m_receivers.end())
        return;
    const QSet<int> pending = it.value();
    for (int frameNo : pending)
        discardData_noLock(receiver, frameNo);
}

void IxPipeItem::freeProcessedData()
{
    std::lock_guard<std::recursive_mutex> lock(m_dataLock);
    qDeleteAll(m_output);
    m_output.clear();
    for (QSet<int>& pending : m_receivers)
        pending.clear();
    m_queued.clear();
    m_owed.clear();
}

// ---- Receiving --------------------------------------------------------------------------------

IxPipeItem* IxPipeItem::senderItem() const
{
    QObject* from = sender();
    if (!from) {
        LogError(QStringLiteral("The sender is NULL."));
        return nullptr;
    }
    IxPipeItem* item = qobject_cast<IxPipeItem*>(from);
    if (!item)
        LogError(QStringLiteral("The sender is not an instance of the IxPipeItem."));
    return item;
}

bool IxPipeItem::canRegulateFps_noLock() const
{
    CxPipe* pipe = m_pipe;
    return pipe && supportsFpsRegulation() && maxFps() > 0 && pipe->dataFeed() == CxPipe::ePush;
}

void IxPipeItem::onDataAvailable(int frameNo)
{
    if (auto* notifier = qobject_cast<IxPipeItem*>(sender()))
        notifier->acknowledgeNotification(this);
    CxPipe* pipe = m_pipe;
    if (!pipe || pipe->isStopped() || isStopped())
        return;
    IxPipeItem* from = senderItem();
    if (!from)
        return;

    std::unique_lock<std::recursive_mutex> lock(m_itemLock);
    if (!hasPrecedessor(from))
        return;
    const double before = calcFps();
    m_fpsCounter->addTimestamp();
    const bool regulated = canRegulateFps_noLock();
    const bool takeLatest = flags().testFlag(eTakeLatestFrame);
    if (regulated) {
        const double after = calcFps();
        if (after > maxFps() && after - before > -0.5) {
            if (takeLatest)
                from->discardLatestData(this);
            else
                from->discardData(this, frameNo);
            m_fpsCounter->removeLastTimestamp();
            return;
        }
    }
    IxData* input = takeLatest ? from->getLatestData(this) : from->getData(this, frameNo);
    if (!input) {
        LogError(QStringLiteral("No data for frameNo %1.").arg(frameNo));
        if (regulated)
            m_fpsCounter->removeLastTimestamp();
        return;
    }
    lock.unlock();

    IxData* output = nullptr;
    const bool ok = processData(input, output);
    if (ok && output) {
        publish(output);
        return;
    }
    if (ok)
        LogError(QStringLiteral("The processed data must not be null."));
    if (output && output != input)
        delete output;
    delete input;
}

void IxPipeItem::onPipeStarted() {}

void IxPipeItem::onPipeStopped() {}

bool IxPipeItem::processData(IxData*, IxData*&)
{
    return true;
}

bool IxPipeItem::setupStart()
{
    return true;
}

bool IxPipeItem::setupStop()
{
    return true;
}

// ---- Start and stop ---------------------------------------------------------------------------

bool IxPipeItem::start()
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_itemLock);
        if (!m_pipe) {
            LogError(QStringLiteral("Failed to start the pipe item. The pipe is null."));
            return false;
        }
        if (isStarted()) {
            LogError(QStringLiteral("The pipe item '%1' is already started.").arg(name()));
            return false;
        }
    }
    if (!setupStart()) {
        LogError(QStringLiteral("Failed to initialize the pipe item '%1'.").arg(name()));
        return false;
    }
    std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    m_fpsCounter->start();
    for (IxPipeItem* next : successors()) {
        if (!next->start()) {
            LogError(QStringLiteral("Failed to start the successor '%1'.").arg(next->name()));
            setupStop();
            return false;
        }
    }
    m_state = eStarted;
    return true;
}

bool IxPipeItem::stop()
{
    // From here on the item neither takes nor publishes frames. Taking the item lock also waits
    // for a triggerData() in progress on another thread.
    ExState previous = eStopped;
    {
        std::lock_guard<std::recursive_mutex> lock(m_itemLock);
        previous = m_state.exchange(eStopped);
    }
    if (previous == eStopped) {
        LogWarning(QStringLiteral("The pipe item '%1' is already stopped.").arg(name()));
    } else {
        // The worker finishes the frame in hand; what is queued behind it finds the item stopped.
        // Only then may setupStop() close what processData() uses.
        drainEvents();
        if (!setupStop()) {
            LogError(QStringLiteral("Failed to deinitialize the pipe item '%1'.").arg(name()));
            std::lock_guard<std::recursive_mutex> lock(m_itemLock);
            m_state = previous;
            return false;
        }
    }
    for (IxPipeItem* next : successors()) {
        if (!next->stop()) {
            LogError(QStringLiteral("Failed to stop the successor '%1'.").arg(next->name()));
            return false;
        }
    }
    m_fpsCounter->stop();
    m_state = eStopped;
    freeProcessedData();
    return true;
}

bool IxPipeItem::setPipe(CxPipe* pipe, bool recursive)
{
    std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    CxPipe* old = m_pipe;
    if (old == pipe) {
        LogWarning(QStringLiteral("The pipe is already set."));
        return true;
    }
    if (old) {
        disconnect(old, &CxPipe::started, this, &IxPipeItem::onPipeStarted);
        disconnect(old, &CxPipe::stopped, this, &IxPipeItem::onPipeStopped);
    }
    m_pipe = pipe;
    if (pipe) {
        connect(pipe, &CxPipe::started, this, &IxPipeItem::onPipeStarted);
        connect(pipe, &CxPipe::stopped, this, &IxPipeItem::onPipeStopped);
    }
    if (recursive) {
        for (IxPipeItem* next : successors()) {
            if (!next->setPipe(pipe, true)) {
                LogError(QStringLiteral("Failed to set the pipe to successors."));
                return false;
            }
        }
    }
    return true;
}

bool IxPipeItem::event(QEvent* event)
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_itemLock);
    }
    return QObject::event(event);
}

void IxPipeItem::drainEvents()
{
    if (QThread::currentThread() == m_thread || !m_thread->isRunning())
        return;
    std::mutex mutex;
    std::condition_variable ran;
    bool done = false;
    {
        // Posted under the item lock, which the worker takes before every event, and answered
        // through a standard mutex: race detectors, which cannot see inside Qt's event queue, see
        // the hand-over in both directions.
        std::lock_guard<std::recursive_mutex> lock(m_itemLock);
        QMetaObject::invokeMethod(
            this,
            [&] {
                std::lock_guard<std::mutex> guard(mutex);
                done = true;
                ran.notify_one();
            },
            Qt::QueuedConnection);
    }
    std::unique_lock<std::mutex> guard(mutex);
    ran.wait(guard, [&] { return done; });
}

} // namespace ox
