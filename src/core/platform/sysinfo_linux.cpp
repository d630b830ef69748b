#include "core/platform/sysinfo.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <sys/mman.h>
#include <unistd.h>

namespace ox::detail {

namespace {

// Whole contents of a small kernel file (procfs and sysfs files report size 0, so read to the end).
QByteArray ReadKernelFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// The value of a "Key:   12345 kB" line of /proc/meminfo in bytes; false when the key is missing.
bool MemInfoValue(const QByteArray& text, const QByteArray& key, quint64& bytes)
{
    for (const QByteArray& line : text.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0 || line.left(colon) != key)
            continue;
        const QList<QByteArray> fields = line.mid(colon + 1).simplified().split(' ');
        bool ok = false;
        const quint64 value = fields.value(0).toULongLong(&ok);
        if (!ok)
            return false;
        const QByteArray unit = fields.value(1).toLower();
        if (unit == "kb")
            bytes = value * 1024;
        else if (unit.isEmpty())
            bytes = value;
        else
            return false;
        return true;
    }
    return false;
}

// A sysfs cache size such as "1024K", "8M" or "512"; 0 when it does not parse.
quint64 ParseCacheSize(QByteArray text)
{
    text = text.trimmed().toUpper();
    quint64 factor = 1;
    if (text.endsWith('K'))
        factor = 1024;
    else if (text.endsWith('M'))
        factor = 1024 * 1024;
    if (factor != 1)
        text.chop(1);
    bool ok = false;
    const quint64 value = text.toULongLong(&ok);
    return ok ? value * factor : 0;
}

} // namespace

SxMemoryStatus ReadMemoryStatus()
{
    SxMemoryStatus status;
    const QByteArray text = ReadKernelFile(QStringLiteral("/proc/meminfo"));
    quint64 total = 0;
    quint64 available = 0;
    if (MemInfoValue(text, "MemTotal", total) && MemInfoValue(text, "MemAvailable", available)) {
        status.ok = true;
        status.totalPhysical = total;
        status.availablePhysical = available;
    }
    return status;
}

quint64 ReadL2CacheSize()
{
    // The C library knows the caches of the x86 processors it runs on ...
    const long size = sysconf(_SC_LEVEL2_CACHE_SIZE);
    if (size > 0)
        return static_cast<quint64>(size);

    // ... elsewhere the kernel lists the first processor's caches, one folder each.
    const QDir cacheDir(QStringLiteral("/sys/devices/system/cpu/cpu0/cache"));
    const QStringList indices =
        cacheDir.entryList({QStringLiteral("index*")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& index : indices) {
        const QString base = cacheDir.filePath(index);
        if (ReadKernelFile(base + QStringLiteral("/level")).trimmed() != "2")
            continue;
        return ParseCacheSize(ReadKernelFile(base + QStringLiteral("/size")));
    }
    return 0;
}

void AdviseLargePages(void* p, quint64 size)
{
    // Transparent huge pages are 2 MiB; the kernel uses them for the whole 2 MiB-aligned stretches
    // of an advised range. Below a few of them the advice is not worth a system call.
    constexpr quint64 kHugePage = quint64(2) << 20;
    if (!p || size < 4 * kHugePage)
        return;
    const quintptr begin = (quintptr(p) + kHugePage - 1) & ~quintptr(kHugePage - 1);
    const quintptr end = (quintptr(p) + size) & ~quintptr(kHugePage - 1);
#ifdef MADV_HUGEPAGE
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE); // advice: errors are harmless
#endif
}

} // namespace ox::detail
