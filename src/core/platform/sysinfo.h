#pragma once

// The operating-system queries behind the system functions. One implementation per platform
// (sysinfo_linux.cpp); all are safe to call from any thread.

#include <QtGlobal>

namespace ox::detail {

// One reading of the physical-memory status, in bytes. `ok` is false when the platform could not
// be asked; the figures are 0 then.
struct SxMemoryStatus
{
    bool ok = false;
    quint64 totalPhysical = 0;
    quint64 availablePhysical = 0;
};

SxMemoryStatus ReadMemoryStatus();

// Size in bytes of the first level-2 cache the platform reports; 0 if none.
quint64 ReadL2CacheSize();

// Asks the platform to back a fresh, not yet touched allocation of `size` bytes at `p` with large
// pages where it can (fewer address-translation misses when pixel loops walk columns of a large
// image). Advice only: nothing happens for small sizes or where the platform has no such pages.
void AdviseLargePages(void* p, quint64 size);

} // namespace ox::detail
