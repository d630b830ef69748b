#include <ox/system.h>

#include <gtest/gtest.h>

#include <unistd.h>

TEST(System, VersionTextMatchesTheNumbersAndMemoryFiguresAreConsistentBytes)
{
    int major = -1, minor = -1, patch = -1;
    ox::Version(major, minor, patch);
    EXPECT_EQ(ox::VersionString(), QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch));
    EXPECT_EQ(ox::VersionString(), QStringLiteral("2.5.18"));

    // The kernel's page count is an independent upper bound (a container may report less).
    const quint64 total = ox::TotalRAM();
    EXPECT_GT(total, quint64(64) << 20);
    EXPECT_LE(total, quint64(sysconf(_SC_PHYS_PAGES)) * quint64(sysconf(_SC_PAGE_SIZE)));
    for (quint64 available : {ox::AvailableRAM(), ox::AvailableManagedRAM()})
        EXPECT_TRUE(available > 0 && available <= total) << available;
    const unsigned int l2 = ox::L2CacheSize(); // 0 when the platform reports none
    EXPECT_TRUE(l2 == 0 || (l2 >= 16u * 1024 && l2 <= 1u << 30 && l2 % 1024 == 0)) << l2;
}
