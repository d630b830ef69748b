// Z stage: the move-step rule and the defaults of the optional operations.

#include <ox/zstage.h>

#include "core/log.h"

#include <cmath>

namespace ox {

IxZStage::IxZStage() = default;

IxZStage::~IxZStage() = default;

bool IxZStage::moveStepUp()
{
    return false;
}

bool IxZStage::moveStepDown()
{
    return false;
}

bool IxZStage::loadSettings(QSettings*)
{
    return false;
}

bool IxZStage::saveSettings(QSettings*)
{
    return false;
}

double IxZStage::moveStepValue() const
{
    return m_moveStepValue;
}

bool IxZStage::setMoveStepValue(double value)
{
    if (!std::isfinite(value) || step() > std::abs(value)) {
        detail::LogError(
            QStringLiteral("The absolute value of the step must be greater or equal to step()."));
        return false;
    }
    m_moveStepValue = value;
    return true;
}

bool IxZStage::moveToPos(double)
{
    return false;
}

} // namespace ox
