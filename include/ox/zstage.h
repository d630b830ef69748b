#pragma once

#include <ox/export.h>

#include <QObject>
#include <QString>

#include <atomic>

class QSettings;

namespace ox {

// A motorised Z (focus axis) stage. Concrete stages drive hardware and come from plug-ins; the
// interface enforces one rule itself: a manual move step (moveStepUp(), moveStepDown()) is never
// smaller in magnitude than the smallest step the stage can make. Positions, distances and steps
// are plain doubles in the stage's own length unit (see unitText()).
//
// A stage emits moveStarted() when a movement begins and moveFinished() when it has ended.
//
// Threads: the move step value is atomic and may be read and set from any thread; everything else
// is the stage implementation's business (its slots run on the thread the stage lives on).
class OX_EXPORT IxZStage : public QObject
{
    Q_OBJECT
public:
    IxZStage();
    ~IxZStage() override;
    IxZStage(const IxZStage&) = delete;
    IxZStage& operator=(const IxZStage&) = delete;

    // Identity and state; the library calls none of these but step().
    virtual QString name() const = 0;
    virtual bool isConnected() const = 0;
    virtual double position() const = 0;
    virtual double minPosition() const = 0;
    virtual double maxPosition() const = 0;
    // The smallest step the stage can make (a magnitude, not negative).
    virtual double step() const = 0;
    virtual bool isMoving() const = 0;
    // Halts a movement.
    virtual bool stopMove() = 0;
    // Moves by `distance` relative to the current position.
    virtual bool moveBy(double distance) = 0;
    // Runs to the reference position.
    virtual bool home() = 0;
    // The stage's length unit, for example "µm".
    virtual QString unitText() const = 0;
    // The reason of the last failure, empty when there was none.
    virtual QString errorMessage() const = 0;

public Q_SLOTS:
    // Move by moveStepValue() up or down. The interface's own versions do not move and return
    // false.
    virtual bool moveStepUp();
    virtual bool moveStepDown();

public:
    // The interface's own versions return false.
    virtual bool loadSettings(QSettings* settings);
    virtual bool saveSettings(QSettings* settings);
    // Not called by the library: a longer human-readable description of the stage.
    virtual QString description() const = 0;

    // The distance of one moveStepUp() or moveStepDown(), kept with its sign; 1.0 initially.
    double moveStepValue() const;
    // Refuses (false, logged, old value kept) a value whose magnitude is below step(), and a value
    // that is not finite (NaN, infinite); otherwise stores `value` unchanged, sign included, and
    // returns true. A magnitude equal to step() is accepted.
    bool setMoveStepValue(double value);
    // Not virtual: the interface itself cannot move to an absolute position and returns false. A
    // stage class offers absolute moves through its own operations.
    bool moveToPos(double position);

Q_SIGNALS:
    void moveStarted();
    void moveFinished();

private:
    std::atomic<double> m_moveStepValue{1.0};
};

} // namespace ox
