// Focus drives: conversions between physical positions and step indices, and the sharpness
// measure interface.

#include <ox/focuscontroller.h>

#include <cmath>
#include <limits>

namespace ox {

namespace {

// Truncates toward zero into the int range: saturates beyond it, and maps a non-number to 0.
int TruncateToInt(double v)
{
    if (std::isnan(v))
        return 0;
    const double t = std::trunc(v);
    if (t >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (t <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(t);
}

double ValueIn(const CxLength& length, CxUnits::ExLength unit)
{
    return CxUnits::convertLength(length.value, length.unit, unit);
}

} // namespace

IxFocusController::IxFocusController() = default;

IxFocusController::~IxFocusController() = default;

int IxFocusController::stepsCount() const
{
    const CxLength max = maxPosition();
    const double min = ValueIn(minPosition(), max.unit);
    const double step = ValueIn(this->step(), max.unit);
    if (step == 0.0)
        return 0;
    return TruncateToInt((max.value - min) / step);
}

CxLength IxFocusController::positionForSteps(int steps) const
{
    const CxLength max = maxPosition();
    const double min = ValueIn(minPosition(), max.unit);
    const int count = stepsCount();
    if (count == 0)
        return CxLength(min, max.unit);
    return CxLength(min + (max.value - min) * steps / count, max.unit);
}

int IxFocusController::stepsForPosition(const CxLength& position) const
{
    const double max = ValueIn(maxPosition(), position.unit);
    const double min = ValueIn(minPosition(), position.unit);
    const int count = stepsCount();
    if (count == 0 || max == min)
        return 0;
    return TruncateToInt(count * (position.value - min) / (max - min));
}

int IxFocusController::positionSteps() const
{
    return stepsForPosition(position());
}

bool IxFocusController::setPositionSteps(int steps)
{
    return setPosition(positionForSteps(steps));
}

IxFocusFunction::IxFocusFunction() = default;

IxFocusFunction::~IxFocusFunction() = default;

} // namespace ox
