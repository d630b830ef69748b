#pragma once

#include <ox/export.h>

#include <QString>
#include <QtGlobal>

// Version, the global clock and queries of the machine.

namespace ox {

OX_EXPORT void Version(int& major, int& minor, int& patch); // 2, 5, 18
OX_EXPORT QString VersionString();                          // "2.5.18"

// Milliseconds since the library was started (the global clock runs from start-up to shut-down).
// While the clock is not running the result is 0.
OX_EXPORT qint64 GlobalElapsedMsec();

// Physical memory in bytes; 0 when the platform cannot tell.
OX_EXPORT quint64 AvailableRAM();
OX_EXPORT quint64 AvailableManagedRAM(); // same figure as AvailableRAM: there is no separate pool
OX_EXPORT quint64 TotalRAM();
OX_EXPORT quint64 TotalManagedRAM(); // difference of two readings of the total: normally 0

// Size in bytes of the first level-2 cache the platform reports; 0 if none.
OX_EXPORT unsigned int L2CacheSize();

} // namespace ox
