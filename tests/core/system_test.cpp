#include <ox/system.h>

#include "core/log.h"

#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(System, VersionIs2_5_18)
{
    int major = 0, minor = 0, patch = 0;
    ox::Version(major, minor, patch);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 5);
    EXPECT_EQ(patch, 18);
    EXPECT_EQ(ox::VersionString(), QStringLiteral("2.5.18"));
}

TEST(System, MemoryFiguresAreInBytesAndConsistent)
{
    // The kernel's page count is an independent upper bound (a container may report less).
    const quint64 physical = quint64(sysconf(_SC_PHYS_PAGES)) * quint64(sysconf(_SC_PAGE_SIZE));
    const quint64 total = ox::TotalRAM();
    EXPECT_GT(total, quint64(64) << 20);
    EXPECT_LE(total, physical);

    const quint64 available = ox::AvailableRAM();
    EXPECT_GT(available, 0u);
    EXPECT_LE(available, total);
    EXPECT_GT(ox::AvailableManagedRAM(), 0u);
    EXPECT_LE(ox::AvailableManagedRAM(), total);
    EXPECT_EQ(ox::TotalManagedRAM(), 0u);
}

TEST(System, L2CacheSizeIsPlausible)
{
    const unsigned int size = ox::L2CacheSize();
    if (size == 0)
        GTEST_SKIP() << "the platform reports no level-2 cache";
    EXPECT_GE(size, 16u * 1024);
    EXPECT_LE(size, 1u << 30);
    EXPECT_EQ(size % 1024, 0u);
}

TEST(System, GlobalClockCountsOnlyWhileStarted)
{
    ox::detail::StopGlobalClock();
    EXPECT_EQ(ox::GlobalElapsedMsec(), 0);

    ox::detail::StartGlobalClock();
    QThread::msleep(30); // measuring elapsed time, not waiting for another thread
    const qint64 elapsed = ox::GlobalElapsedMsec();
    EXPECT_GE(elapsed, 30);
    EXPECT_LT(elapsed, 10000);

    ox::detail::StopGlobalClock();
    EXPECT_EQ(ox::GlobalElapsedMsec(), 0);
}

} // namespace
