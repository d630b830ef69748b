#pragma once

#include <ox/export.h>

#include <QElapsedTimer>
#include <QObject>
#include <QtGlobal>

#include <deque>
#include <limits>
#include <mutex>

namespace ox {

// Measures the rate of events (frames) over a sliding window of time and, given a maximum rate,
// says whether it is exceeded and how long to wait before the next event.
//
// Samples are the milliseconds elapsed since start() at each addTimestamp(), oldest first. The
// window ends at the newest sample L and starts at the first sample S not older than L minus the
// averaging interval; when only samples equal to L lie in it, S moves one sample back so that the
// window spans at least one interval. n counts the samples from S to L, both included.
//
// Threads: every operation may be called from any thread. One recursive lock, m_lock, guards every
// member and is held for the whole of each operation (isOverMaxFps() calls currentFps() while
// holding it). No signals are emitted. Typically a pipe item's worker thread adds samples while
// other threads read the rate.
class OX_EXPORT CxFrameRateCounter : public QObject
{
    Q_OBJECT

public:
    explicit CxFrameRateCounter(QObject* parent = nullptr);
    ~CxFrameRateCounter() override;

    // Does nothing unless the counter is started. Appends the elapsed milliseconds; when the list
    // then holds more than maxSamples(), removes the oldest sample (one per call, so lowering the
    // maximum shortens the list by one sample per later call).
    void addTimestamp();
    // Removes the newest sample, if any (a sample taken back for a frame that was dropped).
    void removeLastTimestamp();

    // (n - 1) x 1000 / (L - S) frames per second; 0 with fewer than two samples, when the oldest
    // sample is greater than the newest, or when every sample is equal (no measurable span).
    double currentFps() const;
    // False when maxFps() <= 0, else currentFps() > maxFps().
    bool isOverMaxFps();
    // Milliseconds, from the newest sample, until one more sample keeps the window's rate at the
    // maximum: (n / maxFps - (L - S) / 1000) x 1000, truncated, at least 0. 0 when maxFps() <= 0,
    // with fewer than two samples or when the oldest sample is greater than the newest. When every
    // sample is equal the span is taken as 0.
    int nextSampleTimeout() const;

    bool isStarted() const;
    // Milliseconds since start(); 0 when the counter is not started.
    qint64 elapsedMsec() const;

    // Frames per second; 0 or less switches regulation off. Default: the largest finite double
    // (no limit). Stored unchanged.
    double maxFps() const;
    void setMaxFps(double fps);
    // The most samples kept; at least 2. Default 200.
    int maxSamples() const;
    void setMaxSamples(int count);
    // Length of the window in milliseconds; at least 1. Default 2000.
    int averagingInterval() const;
    void setAveragingInterval(int msec);

public slots:
    // Empties the samples and (re)starts the timer.
    void start();
    // Stops the timer; the samples stay so that the rate can still be read.
    void stop();

private:
    // Both expect m_lock to be held; they need at least two samples.
    double currentFps_noLock() const;
    // First sample of the window (see above) as an index into m_samples.
    std::size_t windowStart_noLock() const;
    qint64 elapsedMsec_noLock() const;

    mutable std::recursive_mutex m_lock; // guards every member below
    std::deque<qint64> m_samples;        // elapsed milliseconds, ascending
    QElapsedTimer m_timer;               // valid while started
    double m_maxFps = std::numeric_limits<double>::max();
    int m_maxSamples = 200;
    int m_averagingInterval = 2000;
};

} // namespace ox
