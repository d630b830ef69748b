#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace oxtest {

// Runs the event loop until cond() holds or timeoutMs elapses; returns the last value of cond().
// Use it instead of a sleep whenever a test waits for another thread or a queued signal.
template <typename Cond>
bool waitFor(Cond cond, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!cond()) {
        if (timer.elapsed() > timeoutMs)
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::yieldCurrentThread();
    }
    return true;
}

} // namespace oxtest
