#include <ox/progress.h>

namespace ox {

using Lock = std::lock_guard<std::mutex>;

CxProgressUpdater::CxProgressUpdater() : CxProgressUpdater(0.0, 100.0) {}

CxProgressUpdater::CxProgressUpdater(double minimum, double maximum)
    : m_minimum(minimum), m_maximum(maximum), m_value(minimum)
{}

CxProgressUpdater::~CxProgressUpdater() = default;

double CxProgressUpdater::minimum() const
{
    Lock lock(m_lock);
    return m_minimum;
}

double CxProgressUpdater::maximum() const
{
    Lock lock(m_lock);
    return m_maximum;
}

double CxProgressUpdater::value() const
{
    Lock lock(m_lock);
    return m_value;
}

void CxProgressUpdater::setRange(double minimum, double maximum)
{
    Lock lock(m_lock);
    if (maximum > minimum) {
        m_minimum = minimum;
        m_maximum = maximum;
    }
}

void CxProgressUpdater::setValue(double value, bool notify)
{
    {
        Lock lock(m_lock);
        if (value == m_value || !(value >= m_minimum && value <= m_maximum))
            return;
        m_value = value;
    }
    if (notify)
        emit progressChanged();
}

double CxProgressUpdater::valuePercent() const
{
    Lock lock(m_lock);
    if (m_maximum == m_minimum)
        return 0.0;
    return (m_value - m_minimum) / (m_maximum - m_minimum) * 100.0;
}

void CxProgressUpdater::notifyProgressChanged()
{
    emit progressChanged();
}

CxCancellationToken::CxCancellationToken() = default;

CxCancellationToken::~CxCancellationToken() = default;

void CxCancellationToken::cancel()
{
    bool wasCancelled;
    {
        Lock lock(m_lock);
        wasCancelled = m_cancelled;
        m_cancelled = true;
    }
    if (!wasCancelled)
        emit cancelled();
}

void CxCancellationToken::reset()
{
    Lock lock(m_lock);
    m_cancelled = false;
}

bool CxCancellationToken::isCancelled() const
{
    Lock lock(m_lock);
    return m_cancelled;
}

} // namespace ox
