// Consumers: link rules, the receive algorithm in both feeds with its request pacing, and the
// eater-based consumer.

#include <ox/dataconsumer.h>

#include <ox/data.h>
#include <ox/dataprocessor.h>
#include <ox/datasource.h>
#include <ox/framerate.h>
#include <ox/pipe.h>

#include "core/log.h"

#include <QTimer>

namespace ox {

using detail::LogError;

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;
}

IxDataConsumer::IxDataConsumer(ExFlags flags) : IxPipeItem(flags)
{
    renameThread();
}

IxDataConsumer::~IxDataConsumer() = default;

bool IxDataConsumer::acceptAsSuccessor(IxPipeItem*)
{
    return false;
}

bool IxDataConsumer::acceptAsPrecedessor(IxPipeItem* item)
{
    return qobject_cast<IxDataSource*>(item) || qobject_cast<IxDataProcessor*>(item);
}

bool IxDataConsumer::addSuccessor(IxPipeItem*)
{
    return false;
}

bool IxDataConsumer::removeSuccessor(IxPipeItem*)
{
    return false;
}

bool IxDataConsumer::currentInputDataInfo(IxDataInfo*& input, CxMetadata* metadata)
{
    IxPipeItem* first = precedessors().value(0);
    return first && first->currentOutputDataInfo(input, metadata);
}

bool IxDataConsumer::currentOutputDataInfo(IxDataInfo*& output, CxMetadata*)
{
    output = nullptr;
    return false;
}

bool IxDataConsumer::queryOutputDataInfo(const IxDataInfo*, IxDataInfo*& output, const CxMetadata*,
                                         CxMetadata*)
{
    output = nullptr;
    return false;
}

bool IxDataConsumer::processData(IxData* input, IxData*& output)
{
    output = nullptr;
    return consumeData(input);
}

void IxDataConsumer::emitRequestData()
{
    Q_EMIT requestData();
}

void IxDataConsumer::emitRequestDataNo(int n)
{
    CxPipe* p = pipe();
    if (p && p->dataFeed() == CxPipe::ePull)
        Q_EMIT requestFrameNo(n);
}

bool IxDataConsumer::emitRequestDataInPullMode() const
{
    Lock lock(itemLock());
    return m_emitRequests;
}

void IxDataConsumer::setEmitRequestDataInPullMode(bool on)
{
    Lock lock(itemLock());
    m_emitRequests = on;
}

IxData* IxDataConsumer::takeFrame(IxPipeItem* from, int frameNo)
{
    return flags().testFlag(eTakeLatestFrame) ? from->getLatestData(this) : from->getData(this, frameNo);
}

void IxDataConsumer::onDataAvailable(int frameNo)
{
    if (auto* notifier = qobject_cast<IxPipeItem*>(sender()))
        notifier->acknowledgeNotification(this);
    if (!dataRequested(frameNo) || isStopped())
        return;
    CxPipe* p = pipe();
    if (!p || p->isStopped())
        return;
    IxPipeItem* from = senderItem();
    if (!from)
        return;
    IxDataSource* source = nullptr;
    CxPipe::ExDataFeed feed = CxPipe::ePull;
    {
        Lock lock(itemLock());
        if (!hasPrecedessor(from))
            return;
        source = qobject_cast<IxDataSource*>(p->rootItem());
        feed = p->dataFeed();
    }

    CxFrameRateCounter& counter = frameRateCounter();
    IxData* frame = nullptr;
    int delay = 0;
    if (feed == CxPipe::ePush) {
        Lock lock(itemLock());
        const double before = counter.currentFps();
        const double max = counter.maxFps();
        counter.addTimestamp();
        const double after = counter.currentFps();
        if (max > 0 && after > max && after - before > -0.5) {
            if (flags().testFlag(eTakeLatestFrame))
                from->discardLatestData(this);
            else
                from->discardData(this, frameNo);
            counter.removeLastTimestamp();
            return;
        }
        frame = takeFrame(from, frameNo);
        if (!frame) {
            if (max > 0) {
                LogError(
                    QStringLiteral("The consumer '%1' got no data for frameNo %2.").arg(name()).arg(frameNo));
                counter.removeLastTimestamp();
            } else {
                LogError(QStringLiteral("No data for frameNo %1.").arg(frameNo));
            }
            return;
        }
    } else {
        frame = takeFrame(from, frameNo);
        if (!frame)
            LogError(QStringLiteral("No data for frameNo %1.").arg(frameNo));
        Lock lock(itemLock());
        counter.addTimestamp();
        delay = supportsFpsRegulation() ? counter.nextSampleTimeout() : 0;
    }

    if (frame && !consumeData(frame))
        delete frame;

    if (feed == CxPipe::ePull && emitRequestDataInPullMode() && source &&
        source->sourceType() == IxDataSource::eSequence &&
        source->dataTriggerType() == IxDataSource::eFreeRunning) {
        // One request in flight per consumer, paced to its maximum rate: frames that other
        // consumers asked for reach this one too, and must not multiply the requests.
        if (m_requestsInFlight.exchange(1) == 0) {
            QTimer::singleShot(delay, this, [this] {
                if (isStarted())
                    Q_EMIT requestData();
                else
                    m_requestsInFlight = 0;
            });
        }
    }
}

void IxDataConsumer::requestTakenUp()
{
    m_requestsInFlight = 0;
}

IxDataEater::~IxDataEater()
{
    if (CxDataConsumer* consumer = m_feeds) {
        Lock lock(consumer->itemLock());
        consumer->m_eater = nullptr;
    }
}

void IxDataEater::requestData()
{
    if (m_consumer)
        m_consumer->emitRequestData();
}

CxDataConsumer::CxDataConsumer(IxDataEater* eater)
    : IxDataConsumer(ExFlags(eSupportsFpsRegulation) | eTakeLatestFrame), m_eater(eater)
{
    if (eater) {
        // An eater moved to a second consumer feeds only that one.
        if (CxDataConsumer* previous = eater->m_feeds) {
            Lock lock(previous->itemLock());
            previous->m_eater = nullptr;
        }
        eater->m_consumer = this;
        eater->m_feeds = this;
    }
    renameThread();
}

CxDataConsumer::~CxDataConsumer()
{
    // An eater deleted before this consumer has cleared m_eater under the same lock, so a
    // non-null pointer here is a live eater.
    Lock lock(itemLock());
    if (IxDataEater* eater = m_eater.exchange(nullptr)) {
        eater->m_feeds = nullptr;
        if (eater->m_consumer == this)
            eater->m_consumer = nullptr;
    }
}

bool CxDataConsumer::acceptsData(int frameNo)
{
    IxDataEater* eater = m_eater;
    return eater && eater->acceptsData(frameNo);
}

bool CxDataConsumer::consumeData(IxData* data)
{
    IxDataEater* eater = m_eater;
    return eater && eater->consumeData(data);
}

} // namespace ox
