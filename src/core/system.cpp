#include <ox/system.h>

#include "core/platform/sysinfo.h"

#include <limits>

namespace ox {

namespace {
constexpr int kVersionMajor = 2;
constexpr int kVersionMinor = 5;
constexpr int kVersionPatch = 18;
} // namespace

void Version(int& major, int& minor, int& patch)
{
    major = kVersionMajor;
    minor = kVersionMinor;
    patch = kVersionPatch;
}

QString VersionString()
{
    return QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionPatch);
}

quint64 AvailableRAM()
{
    return detail::ReadMemoryStatus().availablePhysical;
}

quint64 AvailableManagedRAM()
{
    return detail::ReadMemoryStatus().availablePhysical;
}

quint64 TotalRAM()
{
    return detail::ReadMemoryStatus().totalPhysical;
}

quint64 TotalManagedRAM()
{
    // There is no separately managed pool: two readings of the same total give 0 (the total
    // itself when only the second reading fails).
    const quint64 first = detail::ReadMemoryStatus().totalPhysical;
    const quint64 second = detail::ReadMemoryStatus().totalPhysical;
    return first < second ? 0 : first - second;
}

unsigned int L2CacheSize()
{
    const quint64 size = detail::ReadL2CacheSize();
    return static_cast<unsigned int>(qMin<quint64>(size, std::numeric_limits<unsigned int>::max()));
}

} // namespace ox
