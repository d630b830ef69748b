// Auto-focus: a consumer that feeds a live pipe's frames to a focus algorithm and keeps the result
// of the last completed search.

#include <ox/autofocus.h>

#include <ox/data.h>

namespace ox {

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;
using AlgorithmLock = std::lock_guard<std::mutex>;
} // namespace

IxFocusAlgorithm::IxFocusAlgorithm() = default;

IxFocusAlgorithm::~IxFocusAlgorithm() = default;

CxAutoFocus::CxAutoFocus() : IxDataConsumer(eTakeLatestFrame)
{
    setEmitRequestDataInPullMode(false);
    renameThread();
}

CxAutoFocus::~CxAutoFocus()
{
    IxFocusAlgorithm* algorithm = nullptr;
    {
        Lock lock(itemLock());
        algorithm = m_algorithm;
    }
    if (algorithm)
        disconnect(algorithm, &IxFocusAlgorithm::focusingFinished, this,
                   &CxAutoFocus::onFocusingAlgorithmFinished);
    // A notification already queued for this item must run while the item is still whole.
    drainEvents();
    {
        Lock lock(itemLock());
        AlgorithmLock guard(m_algorithmLock);
        m_algorithm = nullptr;
    }
    delete algorithm;
}

bool CxAutoFocus::setAlgorithm(IxFocusAlgorithm* algorithm)
{
    Lock lock(itemLock());
    if (algorithm == m_algorithm)
        return !(m_algorithm && m_algorithm->isFocusing());
    if (m_algorithm && m_algorithm->isFocusing())
        return false;
    if (m_algorithm)
        disconnect(m_algorithm, &IxFocusAlgorithm::focusingFinished, this,
                   &CxAutoFocus::onFocusingAlgorithmFinished);
    {
        AlgorithmLock guard(m_algorithmLock);
        m_algorithm = algorithm;
    }
    // Queued, so that the result is collected on the worker thread after processImage() returned.
    if (algorithm)
        connect(algorithm, &IxFocusAlgorithm::focusingFinished, this,
                &CxAutoFocus::onFocusingAlgorithmFinished, Qt::QueuedConnection);
    return true;
}

IxFocusAlgorithm* CxAutoFocus::algorithm() const
{
    Lock lock(itemLock());
    return m_algorithm;
}

bool CxAutoFocus::focusPosition(CxLength& position) const
{
    Lock lock(itemLock());
    if (!m_hasResult)
        return false;
    position = m_position;
    return true;
}

bool CxAutoFocus::focusingCurve(QList<QPair<CxLength, double>>& curve) const
{
    Lock lock(itemLock());
    if (!m_hasResult)
        return false;
    curve = m_curve;
    return true;
}

bool CxAutoFocus::acceptsData(int frameNo)
{
    AlgorithmLock guard(m_algorithmLock);
    return m_algorithm && m_algorithm->acceptsFrame(frameNo);
}

bool CxAutoFocus::consumeData(IxData* data)
{
    auto* image = qobject_cast<CxImageData*>(data);
    if (!image)
        return false;
    Lock lock(itemLock());
    if (!m_algorithm || !m_algorithm->processImage(image))
        return false;
    delete image;
    return true;
}

bool CxAutoFocus::startFocusing()
{
    Lock lock(itemLock());
    if (!m_algorithm || m_algorithm->isFocusing() || !isStarted())
        return false;
    m_hasResult = false;
    m_cancelled = false;
    m_curve.clear();
    m_position.value = 0.0;
    return m_algorithm->startFocusing();
}

bool CxAutoFocus::cancelFocusing()
{
    Lock lock(itemLock());
    if (!m_algorithm || !m_algorithm->isFocusing())
        return false;
    m_cancelled = true;
    m_algorithm->cancelFocusing();
    return true;
}

void CxAutoFocus::onFocusingAlgorithmFinished()
{
    {
        Lock lock(itemLock());
        // Only the current algorithm's notification carries a result (a replaced algorithm's may
        // still be queued), and only while no newer search runs: a search started before this
        // notification arrived has already cleared the result it belongs to.
        QObject* from = sender();
        const bool current = m_algorithm && (!from || from == m_algorithm);
        if (current && !m_cancelled && !m_algorithm->isFocusing()) {
            m_curve.clear();
            m_algorithm->focusingCurve(m_curve);
            m_algorithm->focusPosition(m_position);
            m_hasResult = true;
        }
    }
    Q_EMIT focusingFinished();
}

} // namespace ox
