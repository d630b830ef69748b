#pragma once

#include <ox/export.h>
#include <ox/units.h>

#include <QObject>
#include <QRect>
#include <QString>

class QSettings;

namespace ox {

class CxImageData;

// A focus drive described by its travel (minPosition() to maxPosition()), the size of one step and
// its current position. Concrete controllers come from plug-ins; the library adds the conversions
// between physical positions and step indices.
//
// Step indices: index 0 is minPosition(), index stepsCount() is maxPosition(), and index n lies at
// min + (max - min) * n / stepsCount(). Lengths are converted with CxUnits::convertLength; every
// division into whole steps truncates toward zero, so a round trip
// stepsForPosition(positionForSteps(n)) may give n - 1. The same holds for a position that lies
// exactly on a step in its own unit: converted to another unit in floating point it may fall a
// hair short and truncate to the step before (callers that want the nearest step add half a step
// first). No clamping is applied: an index outside 0 to stepsCount() gives a position outside the
// travel and the other way round.
//
// Degenerate drives: a step of zero length, an empty travel, or a travel shorter than one step all
// give stepsCount() == 0. Then positionForSteps(n) is the lower end of the travel for every n, and
// stepsForPosition(p) is 0 for every p (instead of a division by zero). Counts that do not fit an
// int saturate at the int range; a result that is not a number gives 0.
//
// Threads: the interface keeps no state of its own; the conversions call the virtual operations on
// the calling thread, so they are as thread-safe as the controller's implementation.
class OX_EXPORT IxFocusController : public QObject
{
    Q_OBJECT
public:
    IxFocusController();
    ~IxFocusController() override;
    IxFocusController(const IxFocusController&) = delete;
    IxFocusController& operator=(const IxFocusController&) = delete;

    // Not called by the library; for hosts that list and pick drives.
    virtual QString name() const = 0;
    // Not called by the library: whether the drive is connected and answers.
    virtual bool isAvailable() const = 0;

    // The lower and upper ends of the travel.
    virtual CxLength minPosition() const = 0;
    virtual CxLength maxPosition() const = 0;
    virtual CxLength position() const = 0;
    // Moves to `position` (any unit); false when the drive cannot go there.
    virtual bool setPosition(const CxLength& position) = 0;
    // The size of one step.
    virtual CxLength step() const = 0;

    // (max - min) / step truncated, with min and step in the unit of maxPosition().
    int stepsCount() const;
    // min + (max - min) * steps / stepsCount(), in the unit of maxPosition().
    CxLength positionForSteps(int steps) const;
    // stepsCount() * (p - min) / (max - min) truncated, with min and max in the unit of `position`.
    int stepsForPosition(const CxLength& position) const;
    // stepsForPosition(position()).
    int positionSteps() const;
    // setPosition(positionForSteps(steps)).
    bool setPositionSteps(int steps);
};

// A sharpness measure: a number per image that is highest (or lowest, see higherIsSharper()) at
// best focus. Focus algorithms use one; the library itself calls none of these operations.
// Threads: whatever thread the algorithm using it runs on (for an auto-focus item, its worker
// thread).
class OX_EXPORT IxFocusFunction : public QObject
{
    Q_OBJECT
public:
    IxFocusFunction();
    ~IxFocusFunction() override;
    IxFocusFunction(const IxFocusFunction&) = delete;
    IxFocusFunction& operator=(const IxFocusFunction&) = delete;

    virtual QString name() const = 0;
    virtual QString description() const = 0;
    virtual bool loadSettings(QSettings* settings) = 0;
    virtual bool saveSettings(QSettings* settings) = 0;
    // Whether the measure handles this image's format.
    virtual bool isSupported(const CxImageData* image) const = 0;
    // The sharpness of one image into `value`; false when it cannot be measured.
    virtual bool evaluate(const CxImageData* image, double& value) = 0;
    // True when a larger value means a sharper image.
    virtual bool higherIsSharper() const = 0;
    // The part of the image that is measured; an empty rectangle means the whole image.
    virtual bool setRegion(const QRect& region) = 0;
    virtual QRect region() const = 0;
    // The channel measured in multi-channel images.
    virtual bool setChannel(int channel) = 0;
    virtual int channel() const = 0;
    // Forgets whatever the measure learned from earlier images (called between searches).
    virtual void reset() = 0;
    // The reason of the last failure, empty when there was none.
    virtual QString errorMessage() const = 0;
};

} // namespace ox
