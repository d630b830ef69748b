// The pipe: graph edits, start and stop, pull and push feed, outside listeners.

#include <ox/pipe.h>

#include <ox/dataconsumer.h>
#include <ox/datasource.h>
#include <ox/pipeitem.h>

#include "core/log.h"

#include <QMetaMethod>

#include <algorithm>
#include <utility>

namespace ox {

using detail::LogError;

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

bool hasSignal(QObject* object, const char* signature)
{
    return object->metaObject()->indexOfSignal(signature) >= 0;
}

} // namespace

CxPipe::CxPipe(QObject* parent) : QObject(parent) {}

CxPipe::~CxPipe()
{
    // The listeners' destroyed() handlers reach into the pipe: cut them before anything of it goes
    // away (Qt would only cut them in ~QObject, after the members are gone).
    {
        std::lock_guard<std::mutex> listeners(m_listenersLock);
        for (const StartedLink& link : std::as_const(m_startedConnections)) {
            disconnect(link.request);
            disconnect(link.guard);
        }
        m_startedConnections.clear();
    }
    if (m_root && m_state != eStopped)
        stop();
    QSet<IxPipeItem*> items;
    {
        Lock lock(m_lock);
        items = allItems_noLock();
        if (IxPipeItem* root = m_root.exchange(nullptr))
            root->setPipe(nullptr, true);
    }
    // A worker that read the pipe pointer before it was taken away finishes with it now, while
    // the pipe is still whole.
    for (IxPipeItem* item : items)
        item->drainEvents();
}

void CxPipe::forgetItem(IxPipeItem* item)
{
    Lock lock(m_lock);
    const QSet<IxPipeItem*> before = allItems_noLock();
    if (item == m_root)
        m_root = nullptr;
    item->unlinkFromNeighbours();
    const QSet<IxPipeItem*> after = allItems_noLock();
    for (IxPipeItem* lost : before)
        if (lost != item && !after.contains(lost))
            lost->setPipe(nullptr, false);
}

CxPipe::ExState CxPipe::state() const
{
    return m_state;
}

bool CxPipe::isStarted() const
{
    return m_state == eStarted;
}

bool CxPipe::isStopped() const
{
    return m_state == eStopped;
}

CxPipe::ExDataFeed CxPipe::dataFeed() const
{
    return m_feed;
}

bool CxPipe::setDataFeed(ExDataFeed feed)
{
    Lock lock(m_lock);
    if (m_state == eStarted)
        return false;
    m_feed = feed;
    return true;
}

bool CxPipe::captureMetadataEnabled() const
{
    return m_captureMetadata;
}

void CxPipe::setCaptureMetadataEnabled(bool enabled)
{
    Lock lock(m_lock);
    if (m_captureMetadata.exchange(enabled) == enabled || m_state == eStarted)
        return;
    if (IxDataSource* source = source_noLock())
        source->setCaptureMetadataEnabled(enabled);
}

bool CxPipe::setConsumersNotRequestDataInPullMode(bool value)
{
    Lock lock(m_lock);
    if (m_state != eStopped && m_state != eStopping) {
        LogError(QStringLiteral("The pipe is not stopped."));
        return false;
    }
    for (IxPipeItem* item : allItems_noLock())
        if (auto* consumer = qobject_cast<IxDataConsumer*>(item))
            consumer->setEmitRequestDataInPullMode(value);
    return true;
}

// ---- Queries ----------------------------------------------------------------------------------

IxPipeItem* CxPipe::rootItem() const
{
    return m_root;
}

void CxPipe::addSuccessors_noLock(IxPipeItem* item, QSet<IxPipeItem*>& items) const
{
    for (IxPipeItem* next : item->successors()) {
        if (!items.contains(next)) {
            items.insert(next);
            addSuccessors_noLock(next, items);
        }
    }
}

QSet<IxPipeItem*> CxPipe::allItems_noLock() const
{
    QSet<IxPipeItem*> items;
    if (IxPipeItem* root = m_root) {
        items.insert(root);
        addSuccessors_noLock(root, items);
    }
    return items;
}

QSet<IxPipeItem*> CxPipe::allItems() const
{
    Lock lock(m_lock);
    return allItems_noLock();
}

bool CxPipe::hasItem(IxPipeItem* item) const
{
    return item && allItems().contains(item);
}

bool CxPipe::hasItem(const QString& className) const
{
    for (IxPipeItem* item : allItems())
        if (QLatin1String(item->metaObject()->className()) == className)
            return true;
    return false;
}

IxDataSource* CxPipe::source_noLock() const
{
    return qobject_cast<IxDataSource*>(m_root.load());
}

QSet<IxDataSource*> CxPipe::sources() const
{
    Lock lock(m_lock);
    QSet<IxDataSource*> result;
    if (IxDataSource* source = source_noLock())
        result.insert(source);
    return result;
}

QSet<IxDataConsumer*> CxPipe::consumers() const
{
    QSet<IxDataConsumer*> result;
    for (IxPipeItem* item : allItems())
        if (auto* consumer = qobject_cast<IxDataConsumer*>(item))
            result.insert(consumer);
    return result;
}

QSet<QObject*> CxPipe::nonPipeItemListeners() const
{
    QSet<QObject*> result;
    for (IxPipeItem* item : allItems())
        for (QObject* listener : item->nonPipeItemListeners())
            result.insert(listener);
    return result;
}

QSet<QObject*> CxPipe::allDataListeners_noLock() const
{
    QSet<QObject*> result;
    for (IxPipeItem* item : allItems_noLock()) {
        if (qobject_cast<IxDataConsumer*>(item))
            result.insert(item);
        for (QObject* listener : item->nonPipeItemListeners())
            result.insert(listener);
    }
    return result;
}

QSet<QObject*> CxPipe::allDataListeners() const
{
    Lock lock(m_lock);
    return allDataListeners_noLock();
}

// ---- Graph edits ------------------------------------------------------------------------------

bool CxPipe::link(IxPipeItem* from, IxPipeItem* to)
{
    if (!from->addSuccessor(to))
        return false;
    if (to->addPrecedessor(from))
        return true;
    from->removeSuccessor(to);
    return false;
}

bool CxPipe::unlink(IxPipeItem* from, IxPipeItem* to)
{
    if (!to->removePrecedessor(from))
        return false;
    if (from->removeSuccessor(to))
        return true;
    to->addPrecedessor(from);
    return false;
}

bool CxPipe::relink(const QList<Link>& cut, const QList<Link>& made)
{
    const bool possible = std::all_of(made.begin(), made.end(), [](const Link& l) {
        return l.first != l.second && !l.first->isStarted() && !l.second->isStarted() &&
               l.first->acceptAsSuccessor(l.second) && l.second->acceptAsPrecedessor(l.first);
    });
    if (!possible)
        return false;
    int cuts = 0, links = 0;
    while (cuts < cut.size() && unlink(cut[cuts].first, cut[cuts].second))
        ++cuts;
    if (cuts == cut.size())
        while (links < made.size() && link(made[links].first, made[links].second))
            ++links;
    if (cuts == cut.size() && links == made.size())
        return true;
    // Undone: the same links as before (a restored link goes to the end of the lists).
    for (int i = links - 1; i >= 0; --i)
        unlink(made[i].first, made[i].second);
    for (int i = 0; i < cuts; ++i)
        link(cut[i].first, cut[i].second);
    return false;
}

bool CxPipe::unlinkFromPrecedessors(IxPipeItem* item)
{
    for (IxPipeItem* p : item->precedessors())
        if (!unlink(p, item))
            return false;
    return true;
}

bool CxPipe::canInsert_noLock(IxPipeItem* item, IxPipeItem* anchor) const
{
    if (m_state == eStarted || !item || item->pipe() || item->isStarted()) {
        LogError(QStringLiteral("Cannot insert new pipe item."));
        return false;
    }
    if (!anchor && m_root) {
        LogError(QStringLiteral("Cannot insert new pipe item. The root item exists."));
        return false;
    }
    if (!item->successors().isEmpty() || !item->precedessors().isEmpty()) {
        LogError(QStringLiteral("The item being inserted has precedessors or successors."));
        return false;
    }
    if (anchor && !allItems_noLock().contains(anchor)) {
        LogError(QStringLiteral("Cannot insert new pipe item."));
        return false;
    }
    if (anchor && anchor->isStarted()) {
        LogError(QStringLiteral("The item being inserted has invalid state for insertation."));
        return false;
    }
    return true;
}

bool CxPipe::insertAfter(IxPipeItem* item, IxPipeItem* after)
{
    Lock lock(m_lock);
    if (!canInsert_noLock(item, after))
        return false;
    if (!after) {
        m_root = item;
        return item->setPipe(this, true);
    }
    // Every new link is checked before any link is cut.
    const QList<IxPipeItem*> next = after->successors();
    QList<Link> cut, made{{after, item}};
    for (IxPipeItem* s : next) {
        cut << Link(after, s);
        made << Link(item, s);
    }
    if (!relink(cut, made)) {
        LogError(QStringLiteral("The item cannot be linked to its new neighbours."));
        return false;
    }
    return item->setPipe(this, false);
}

bool CxPipe::insertBefore(IxPipeItem* item, IxPipeItem* before)
{
    Lock lock(m_lock);
    if (!canInsert_noLock(item, before))
        return false;
    if (!before) {
        m_root = item;
        return item->setPipe(this, false);
    }
    const QList<IxPipeItem*> previous = before->precedessors();
    QList<Link> cut, made{{item, before}};
    for (IxPipeItem* p : previous) {
        cut << Link(p, before);
        made << Link(p, item);
    }
    if (!relink(cut, made)) {
        LogError(QStringLiteral("The item cannot be linked to its new neighbours."));
        return false;
    }
    const bool ok = item->setPipe(this, false);
    if (item->precedessors().isEmpty())
        m_root = item;
    return ok;
}

bool CxPipe::branchAfter(IxPipeItem* item, IxPipeItem* after)
{
    Lock lock(m_lock);
    if (m_state == eStarted || !item || item->pipe() || item->isStarted()) {
        LogError(QStringLiteral("Cannot insert new branch."));
        return false;
    }
    if (!after) {
        if (m_root) {
            LogError(QStringLiteral("Cannot insert new pipe item. The root item exists."));
            return false;
        }
        m_root = item;
    } else {
        if (!allItems_noLock().contains(after)) {
            LogError(QStringLiteral("Cannot insert new branch."));
            return false;
        }
        if (after->isStarted()) {
            LogError(QStringLiteral("The item being inserted has invalid state for insertation."));
            return false;
        }
        if (!link(after, item))
            return false;
    }
    return item->setPipe(this, true);
}

bool CxPipe::remove(IxPipeItem* item, QSet<IxPipeItem*>& removed)
{
    Lock lock(m_lock);
    if (!item)
        return false;
    if (m_state != eStopped) {
        LogError(QStringLiteral("The pipe is not stopped."));
        return false;
    }
    if (!allItems_noLock().contains(item))
        return false;
    if (item == m_root) {
        m_root = nullptr;
    } else if (!unlinkFromPrecedessors(item)) {
        LogError(QStringLiteral("Failed to disconnect the precedessor."));
        return false;
    }
    // Each head is cut from all its predecessors (the item among them) on both sides, so that
    // none of them keeps sending it frames.
    for (IxPipeItem* head : item->successors()) {
        removed.insert(head);
        if (!unlinkFromPrecedessors(head))
            return false;
        head->setPipe(nullptr, true);
    }
    return item->setPipe(nullptr, false);
}

bool CxPipe::replaceRoot(IxPipeItem* newRoot, IxPipeItem*& oldRoot)
{
    Lock lock(m_lock);
    oldRoot = nullptr;
    if (m_state != eStopped) {
        LogError(QStringLiteral("The pipe is not stopped."));
        return false;
    }
    if (!newRoot) {
        LogError(QStringLiteral("The new root item is null."));
        return false;
    }
    IxPipeItem* root = m_root;
    if (!root)
        return insertAfter(newRoot, nullptr);
    if (newRoot == root || newRoot->pipe() || newRoot->isStarted() || !newRoot->successors().isEmpty() ||
        !newRoot->precedessors().isEmpty()) {
        LogError(QStringLiteral("The new root item belongs to a pipe or has links."));
        return false;
    }
    // The old root's successors move below the new root, all or none; their branches keep the
    // pipe throughout.
    QList<Link> cut, made;
    for (IxPipeItem* s : root->successors()) {
        cut << Link(root, s);
        made << Link(newRoot, s);
    }
    if (!relink(cut, made)) {
        LogError(QStringLiteral("Failed to connect the successor to the new root item."));
        return false;
    }
    m_root = newRoot;
    root->setPipe(nullptr, false);
    newRoot->setPipe(this, false);
    oldRoot = root;
    return true;
}

bool CxPipe::detachAsBranch(IxPipeItem* item)
{
    Lock lock(m_lock);
    if (!item)
        return false;
    if (m_state != eStopped) {
        LogError(QStringLiteral("The pipe is not stopped."));
        return false;
    }
    if (!allItems_noLock().contains(item) || !unlinkFromPrecedessors(item))
        return false;
    if (item == m_root)
        m_root = nullptr;
    return item->setPipe(nullptr, true);
}

bool CxPipe::destroyAllItems()
{
    QSet<IxPipeItem*> items;
    {
        Lock lock(m_lock);
        if (m_state == eStarted)
            return false;
        items = allItems_noLock();
        m_root = nullptr;
        for (IxPipeItem* item : items)
            item->setPipe(nullptr, false);
    }
    // Deleted without the lock: each deletion waits for the item's worker thread.
    qDeleteAll(items);
    return true;
}

bool CxPipe::detachBranchItems(IxPipeItem* item, QSet<IxPipeItem*>& items)
{
    if (!item || item->pipe())
        return false;
    const QList<IxPipeItem*> next = item->successors();
    if (next.isEmpty()) {
        // Every predecessor loses all its successors, each link cut on both sides.
        for (IxPipeItem* p : item->precedessors())
            for (IxPipeItem* s : p->successors())
                if (!unlink(p, s))
                    return false;
        items.insert(item);
        return true;
    }
    bool ok = true;
    for (IxPipeItem* s : next)
        ok = detachBranchItems(s, items) && ok;
    return ok;
}

bool CxPipe::deleteBranch(IxPipeItem* item)
{
    if (!item || item->pipe())
        return false;
    const QList<IxPipeItem*> next = item->successors();
    if (next.isEmpty()) {
        delete item;
        return true;
    }
    bool ok = true;
    for (IxPipeItem* s : next)
        ok = deleteBranch(s) && ok;
    return ok;
}

// ---- Outside listeners ------------------------------------------------------------------------

bool CxPipe::connectNonPipeItemObject(IxPipeItem* item, QObject* listener, const char* slot)
{
    Lock lock(m_lock);
    if (!item || !listener || !slot || !allItems_noLock().contains(item))
        return false;
    return item->connectDataReceiver(listener, slot);
}

bool CxPipe::disconnectNonPipeItemObject(IxPipeItem* item, QObject* listener, const char* slot)
{
    Lock lock(m_lock);
    if (!item || !listener || !slot || !allItems_noLock().contains(item))
        return false;
    return item->disconnectDataReceiver(listener, slot);
}

// ---- Start and stop ---------------------------------------------------------------------------

bool CxPipe::connectRequestors_noLock()
{
    IxDataSource* source = source_noLock();
    bool ok = true;
    for (QObject* listener : allDataListeners_noLock()) {
        if (!hasSignal(listener, "requestData()"))
            continue; // a listener without requests only receives
        const char* frameNoSignal =
            hasSignal(listener, "requestFrameNo(int)") ? SIGNAL(requestFrameNo(int)) : nullptr;
        if (!source->connectDataRequestor(listener, SIGNAL(requestData()), frameNoSignal)) {
            LogError(QStringLiteral("Failed to connect the object."));
            ok = false;
            continue;
        }
        if (source->dataTriggerType() != IxDataSource::eFreeRunning)
            continue;
        std::lock_guard<std::mutex> listeners(m_listenersLock);
        if (m_startedConnections.contains(listener))
            continue;
        StartedLink link;
        link.request =
            connect(this, SIGNAL(started()), listener, SIGNAL(requestData()), Qt::QueuedConnection);
        // A listener destroyed while the pipe runs is forgotten at once, on the thread that
        // destroys it; only the leaf lock is taken there.
        link.guard = connect(
            listener, &QObject::destroyed, this,
            [this](QObject* gone) {
                std::lock_guard<std::mutex> listeners(m_listenersLock);
                m_startedConnections.remove(gone);
            },
            Qt::DirectConnection);
        m_startedConnections.insert(listener, link);
    }
    return ok;
}

void CxPipe::disconnectRequestors_noLock()
{
    IxDataSource* source = source_noLock();
    for (QObject* listener : allDataListeners_noLock()) {
        if (!source->isRequestorConnected(listener))
            continue;
        const char* frameNoSignal =
            hasSignal(listener, "requestFrameNo(int)") ? SIGNAL(requestFrameNo(int)) : nullptr;
        if (!source->disconnectDataRequestor(listener, SIGNAL(requestData()), frameNoSignal)) {
            LogError(QStringLiteral("Failed to disconnect the object."));
            LogError(QStringLiteral("Failed to disconnect the data requestor."));
        }
    }
    QHash<QObject*, StartedLink> links;
    {
        std::lock_guard<std::mutex> listeners(m_listenersLock);
        links.swap(m_startedConnections);
    }
    for (const StartedLink& link : links) {
        disconnect(link.request);
        disconnect(link.guard);
    }
}

bool CxPipe::start()
{
    std::unique_lock<std::recursive_mutex> lock(m_lock);
    if (m_state == eStarted || m_state == eStarting) {
        LogError(QStringLiteral("The pipe is already started."));
        return false;
    }
    if (m_state == eStopping) {
        LogError(QStringLiteral("The pipe is stopping."));
        return false;
    }
    IxDataSource* source = source_noLock();
    if (!source) {
        LogError(QStringLiteral("The pipe has no data source."));
        return false;
    }
    if (source->isBlind()) {
        LogError(QStringLiteral("The pipe has no data consumer."));
        return false;
    }
    source->setCaptureMetadataEnabled(m_captureMetadata);
    m_state = eStarting;
    lock.unlock();
    Q_EMIT starting();
    lock.lock();

    if (m_feed == ePull && !connectRequestors_noLock()) {
        LogError(QStringLiteral("Failed to connect data requestors."));
        disconnectRequestors_noLock();
        m_state = eStopped;
        return false;
    }
    if (!source->start()) {
        // Stopped without the lock: stopping waits for the items' worker threads.
        lock.unlock();
        source->stop();
        lock.lock();
        if (m_feed == ePull)
            disconnectRequestors_noLock();
        m_state = eStopped;
        return false;
    }
    m_state = eStarted;
    lock.unlock();
    Q_EMIT started();
    return true;
}

bool CxPipe::stop()
{
    std::unique_lock<std::recursive_mutex> lock(m_lock);
    IxPipeItem* root = m_root;
    if (!root) {
        LogError(QStringLiteral("The pipe has no items."));
        return false;
    }
    if (m_state == eStopped) {
        LogError(QStringLiteral("The pipe is already stopped."));
        return false;
    }
    m_state = eStopping;
    lock.unlock();
    Q_EMIT stopping();
    if (!root->stop()) {
        LogError(QStringLiteral("Failed to stop the root item '%1'.").arg(root->name()));
        return false;
    }
    lock.lock();
    if (m_feed == ePull && source_noLock())
        disconnectRequestors_noLock();
    m_state = eStopped;
    const QSet<IxPipeItem*> items = allItems_noLock();
    lock.unlock();
    Q_EMIT stopped();
    // Let every call already queued for the items run (they find the pipe stopped), twice so that
    // calls queued by the first round are covered: afterwards no item thread touches an item
    // until the pipe starts again, and the items may be deleted.
    for (int round = 0; round < 2; ++round)
        for (IxPipeItem* item : items)
            item->drainEvents();
    return true;
}

} // namespace ox
