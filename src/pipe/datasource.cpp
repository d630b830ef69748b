// Sources: link rules, data triggering, request connections and metadata capture.

#include <ox/datasource.h>

#include <ox/data.h>
#include <ox/dataconsumer.h>
#include <ox/dataprocessor.h>
#include <ox/metadata.h>

#include <QThread>

#include <utility>

namespace ox {

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;
}

IxMetadataCapture::IxMetadataCapture(IxDataSource* source) : m_source(source) {}

IxMetadataCapture::~IxMetadataCapture() = default;

bool IxMetadataCapture::enabled() const
{
    return m_enabled;
}

void IxMetadataCapture::setEnabled(bool enabled)
{
    m_enabled = enabled;
}

IxDataSource::IxDataSource(ExFlags flags) : IxPipeItem(flags)
{
    renameThread();
}

IxDataSource::~IxDataSource()
{
    // The requestors' destroyed() handlers reach into this source: cut them while it is whole.
    std::lock_guard<std::mutex> requestors(m_requestorsLock);
    for (const QMetaObject::Connection& guard : std::as_const(m_requestors))
        disconnect(guard);
    m_requestors.clear();
}

IxDataSource::ExDataTriggerType IxDataSource::dataTriggerType() const
{
    Lock lock(itemLock());
    return dataTriggerType_nolock();
}

IxDataSource::ExDataTriggerType IxDataSource::dataTriggerType_nolock() const
{
    return m_triggerType;
}

bool IxDataSource::setDataTriggerType(ExDataTriggerType type)
{
    Lock lock(itemLock());
    if (isStarted())
        return false;
    m_triggerType = type;
    return true;
}

void IxDataSource::triggerData()
{
    Lock lock(itemLock());
    if (isStarted() && dataTriggerType_nolock() == eDataTriggered)
        triggerDataLow();
}

void IxDataSource::onRequestFrameNo(int)
{
    onRequestData();
}

void IxDataSource::onDataAvailable(int) {}

// Requests reach the source through these relays: a consumer learns that its request has been
// taken up, so that it never has more than one request queued here.
void IxDataSource::relayRequestData()
{
    if (auto* consumer = qobject_cast<IxDataConsumer*>(sender()))
        consumer->requestTakenUp();
    onRequestData();
}

void IxDataSource::relayRequestFrameNo(int frmNo)
{
    if (auto* consumer = qobject_cast<IxDataConsumer*>(sender()))
        consumer->requestTakenUp();
    onRequestFrameNo(frmNo);
}

bool IxDataSource::connectDataRequestor(QObject* requestor, const char* requestSignal,
                                        const char* frameNoSignal)
{
    if (!requestor || !requestSignal)
        return false;
    Lock lock(itemLock());
    if (isStarted())
        return false;
    std::lock_guard<std::mutex> requestors(m_requestorsLock);
    if (m_requestors.contains(requestor))
        return true;
    connect(requestor, requestSignal, this, SLOT(relayRequestData()));
    if (frameNoSignal)
        connect(requestor, frameNoSignal, this, SLOT(relayRequestFrameNo(int)));
    // A requestor destroyed while the pipe runs is forgotten at once, on the thread that destroys
    // it; only the leaf lock is taken there.
    m_requestors.insert(requestor, connect(
                                       requestor, &QObject::destroyed, this,
                                       [this](QObject* gone) {
                                           std::lock_guard<std::mutex> requestors(m_requestorsLock);
                                           m_requestors.remove(gone);
                                       },
                                       Qt::DirectConnection));
    return true;
}

bool IxDataSource::disconnectDataRequestor(QObject* requestor, const char* requestSignal,
                                           const char* frameNoSignal)
{
    if (!requestor || !requestSignal)
        return false;
    Lock lock(itemLock());
    if (isStarted())
        return false;
    QMetaObject::Connection guard;
    {
        std::lock_guard<std::mutex> requestors(m_requestorsLock);
        auto it = m_requestors.find(requestor);
        if (it == m_requestors.end())
            return false;
        guard = it.value();
        m_requestors.erase(it);
    }
    disconnect(guard);
    disconnect(requestor, requestSignal, this, SLOT(relayRequestData()));
    if (frameNoSignal)
        disconnect(requestor, frameNoSignal, this, SLOT(relayRequestFrameNo(int)));
    return true;
}

bool IxDataSource::isRequestorConnected(QObject* requestor) const
{
    std::lock_guard<std::mutex> requestors(m_requestorsLock);
    return m_requestors.contains(requestor);
}

void IxDataSource::addMetadataCapture(IxMetadataCapture* capture)
{
    Lock lock(itemLock());
    m_captures.append(capture);
}

QList<IxMetadataCapture*> IxDataSource::metadataCapture() const
{
    Lock lock(itemLock());
    return m_captures;
}

bool IxDataSource::captureMetadataEnabled() const
{
    Lock lock(itemLock());
    return m_captureMetadata;
}

void IxDataSource::setCaptureMetadataEnabled(bool enabled)
{
    Lock lock(itemLock());
    m_captureMetadata = enabled;
}

void IxDataSource::captureMetadata(CxMetadata* metadata, const IxData* data)
{
    if (!metadata || !data)
        return;
    for (IxMetadataCapture* capture : metadataCapture()) {
        if (!capture || !capture->enabled())
            continue;
        for (IxMetadataItem* item : capture->capture(data))
            metadata->addMetadata(item);
    }
}

bool IxDataSource::acceptAsSuccessor(IxPipeItem* item)
{
    return qobject_cast<IxDataProcessor*>(item) || qobject_cast<IxDataConsumer*>(item);
}

bool IxDataSource::acceptAsPrecedessor(IxPipeItem*)
{
    return false;
}

bool IxDataSource::addPrecedessor(IxPipeItem*)
{
    return false;
}

bool IxDataSource::removePrecedessor(IxPipeItem*)
{
    return false;
}

bool IxDataSource::acceptsData(int)
{
    return false;
}

bool IxDataSource::processData(IxData* input, IxData*& output)
{
    delete input;
    output = nullptr;
    return true;
}

bool IxDataSource::currentInputDataInfo(IxDataInfo*& input, CxMetadata*)
{
    input = nullptr;
    return false;
}

bool IxDataSource::queryOutputDataInfo(const IxDataInfo*, IxDataInfo*& output, const CxMetadata*, CxMetadata*)
{
    output = nullptr;
    return false;
}

} // namespace ox
