#pragma once

#include <ox/export.h>

#include <QtGlobal>

namespace ox::detail {

// Test hook for CxFrameRateCounter: while a clock is set, every started counter takes its elapsed
// milliseconds from it instead of from its timer, so that tests can place samples at exact times.
// Null restores the timers. Process-wide; exported for the tests only.
using FrameRateClock = qint64 (*)();
OX_EXPORT void SetFrameRateClock(FrameRateClock clock);

} // namespace ox::detail
