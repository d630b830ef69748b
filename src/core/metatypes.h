#pragma once

#include <ox/export.h>

namespace ox::detail {

// Registers the library's value types with Qt's meta-type system: "OX_HANDLE" (an unsigned 64-bit
// handle, Qt's own stream operators), then "ox::CxLength", "ox::CxDuration", "ox::CxExposureTime"
// and "ox::SxImageInfo", each with its short name as an alias and with its data-stream operators.
// Start-up calls it on the main thread; calling it again is harmless. Exported for the tests.
OX_EXPORT void RegisterMetaTypes();

} // namespace ox::detail
