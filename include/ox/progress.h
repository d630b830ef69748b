#pragma once

#include <ox/export.h>

#include <QObject>

#include <mutex>

// Progress and cancellation shared between a long operation and its caller. The library exports
// them and does not use them itself.

namespace ox {

// A progress value within a range, announced by progressChanged().
//
// Threads: every operation may be called from any thread. m_lock (not recursive) guards m_minimum,
// m_maximum and m_value; it is released before progressChanged() is emitted, so a directly
// connected receiver may call back into the updater.
class OX_EXPORT CxProgressUpdater : public QObject
{
    Q_OBJECT

public:
    // Range 0 to 100, value 0.
    CxProgressUpdater();
    // The bounds as given (not checked); the value starts at `minimum`.
    CxProgressUpdater(double minimum, double maximum);
    ~CxProgressUpdater() override;

    double minimum() const;
    double maximum() const;
    double value() const;

    // Stores both bounds only when maximum > minimum; otherwise nothing changes. The value is not
    // adjusted, so it may lie outside the new range.
    void setRange(double minimum, double maximum);
    // Stores `value` when it differs from the stored one and lies within the range (bounds
    // included), then emits progressChanged() when `notify` is true. Otherwise does nothing.
    void setValue(double value, bool notify);
    // (value - minimum) / (maximum - minimum) x 100; 0 when the bounds are equal. Outside 0..100
    // when the value lies outside the range.
    double valuePercent() const;

public slots:
    // Emits progressChanged() unconditionally.
    void notifyProgressChanged();

signals:
    void progressChanged();

private:
    mutable std::mutex m_lock; // guards the three numbers below
    double m_minimum;
    double m_maximum;
    double m_value;
};

// Carries a cancel request from any thread to an operation. Created cancelled: the owner calls
// reset() before handing it out; the operation polls isCancelled() or listens to cancelled().
//
// Threads: every operation may be called from any thread. m_lock (not recursive) guards
// m_cancelled; cancelled() is emitted after it is released, on the thread that called cancel().
class OX_EXPORT CxCancellationToken : public QObject
{
    Q_OBJECT

public:
    CxCancellationToken();
    ~CxCancellationToken() override;

    // Sets the flag; emits cancelled() only when it was clear (one signal per transition).
    virtual void cancel();
    // Clears the flag; no signal.
    virtual void reset();
    bool isCancelled() const;

signals:
    void cancelled();

private:
    mutable std::mutex m_lock; // guards m_cancelled
    bool m_cancelled = true;
};

} // namespace ox
