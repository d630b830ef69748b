#include <ox/framerate.h>

#include "core/framerate_internal.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>

namespace ox {

namespace {

// The test clock; null in normal use.
std::atomic<detail::FrameRateClock> g_clock{nullptr};

using Lock = std::lock_guard<std::recursive_mutex>;

// Holds samples from which a window can be measured: at least two, oldest not after newest.
bool HasWindow(const std::deque<qint64>& samples)
{
    return samples.size() >= 2 && samples.front() <= samples.back();
}

} // namespace

namespace detail {

void SetFrameRateClock(FrameRateClock clock)
{
    g_clock.store(clock, std::memory_order_relaxed);
}

} // namespace detail

CxFrameRateCounter::CxFrameRateCounter(QObject* parent) : QObject(parent) {}

CxFrameRateCounter::~CxFrameRateCounter() = default;

void CxFrameRateCounter::start()
{
    Lock lock(m_lock);
    m_samples.clear();
    m_timer.start();
}

void CxFrameRateCounter::stop()
{
    Lock lock(m_lock);
    m_timer.invalidate();
}

bool CxFrameRateCounter::isStarted() const
{
    Lock lock(m_lock);
    return m_timer.isValid();
}

qint64 CxFrameRateCounter::elapsedMsec_noLock() const
{
    if (!m_timer.isValid())
        return 0;
    if (const detail::FrameRateClock clock = g_clock.load(std::memory_order_relaxed))
        return clock();
    return m_timer.elapsed();
}

qint64 CxFrameRateCounter::elapsedMsec() const
{
    Lock lock(m_lock);
    return elapsedMsec_noLock();
}

void CxFrameRateCounter::addTimestamp()
{
    Lock lock(m_lock);
    if (!m_timer.isValid())
        return;
    m_samples.push_back(elapsedMsec_noLock());
    if (m_samples.size() > std::size_t(m_maxSamples))
        m_samples.pop_front();
}

void CxFrameRateCounter::removeLastTimestamp()
{
    Lock lock(m_lock);
    if (!m_samples.empty())
        m_samples.pop_back();
}

std::size_t CxFrameRateCounter::windowStart_noLock() const
{
    const qint64 newest = m_samples.back();
    auto start = std::lower_bound(m_samples.begin(), m_samples.end(), newest - m_averagingInterval);
    // Only samples equal to the newest in the window: widen it by one interval, never before the
    // first sample.
    if (start != m_samples.begin() && (start == m_samples.end() || *start == newest))
        --start;
    return std::size_t(start - m_samples.begin());
}

double CxFrameRateCounter::currentFps_noLock() const
{
    if (!HasWindow(m_samples))
        return 0.0;
    const std::size_t start = windowStart_noLock();
    const qint64 span = m_samples.back() - m_samples[start];
    if (span <= 0)
        return 0.0;
    const std::size_t n = m_samples.size() - start;
    return double(n - 1) * 1000.0 / double(span);
}

double CxFrameRateCounter::currentFps() const
{
    Lock lock(m_lock);
    return currentFps_noLock();
}

bool CxFrameRateCounter::isOverMaxFps()
{
    Lock lock(m_lock);
    if (m_maxFps <= 0.0)
        return false;
    return currentFps_noLock() > m_maxFps;
}

int CxFrameRateCounter::nextSampleTimeout() const
{
    Lock lock(m_lock);
    if (m_maxFps <= 0.0 || !HasWindow(m_samples))
        return 0;
    const std::size_t start = windowStart_noLock();
    const double n = double(m_samples.size() - start);
    const double span = double(m_samples.back() - m_samples[start]);
    const double msec = std::trunc((n / m_maxFps - span / 1000.0) * 1000.0);
    if (!(msec > 0.0)) // negative, zero or NaN
        return 0;
    return msec >= double(INT_MAX) ? INT_MAX : int(msec);
}

double CxFrameRateCounter::maxFps() const
{
    Lock lock(m_lock);
    return m_maxFps;
}

void CxFrameRateCounter::setMaxFps(double fps)
{
    Lock lock(m_lock);
    m_maxFps = fps;
}

int CxFrameRateCounter::maxSamples() const
{
    Lock lock(m_lock);
    return m_maxSamples;
}

void CxFrameRateCounter::setMaxSamples(int count)
{
    Lock lock(m_lock);
    m_maxSamples = std::max(count, 2);
}

int CxFrameRateCounter::averagingInterval() const
{
    Lock lock(m_lock);
    return m_averagingInterval;
}

void CxFrameRateCounter::setAveragingInterval(int msec)
{
    Lock lock(m_lock);
    m_averagingInterval = std::max(msec, 1);
}

} // namespace ox
