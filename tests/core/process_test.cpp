#include <ox/appinterface.h>
#include <ox/globals.h>
#include <ox/memory.h>
#include <ox/system.h>

#include "support/core_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace oxtest;

TEST(MemoryHooks, SetChecksHooksInOrderAndKeepsTheOldOnesOnErrorAndMemCpyUsesTheCopyHookOnlyAcrossTags)
{
    hooks = SxHookLog();
    ASSERT_EQ(ox::SetMemoryFuncPtrs(&CountingMalloc, &CountingFree, &CountingCopy), ox::eOk);
    const ox::MallocFuncPtr otherMalloc = [](quint64) -> void* { return nullptr; };
    const ox::FreeFuncPtr otherFree = [](void*) {};
    EXPECT_EQ(ox::SetMemoryFuncPtrs(nullptr, otherFree, &CountingCopy), ox::eErrInvalidArg1);
    EXPECT_EQ(ox::SetMemoryFuncPtrs(otherMalloc, nullptr, nullptr), ox::eErrInvalidArg2);
    EXPECT_EQ(ox::SetMemoryFuncPtrs(otherMalloc, otherFree, nullptr), ox::eErrInvalidArg3);
    ox::GetFreeFuncPtr()(ox::GetMallocFuncPtr()(32)); // the installed hooks are the ones called
    EXPECT_TRUE(hooks.mallocs == 1 && hooks.frees == 1);

    // The copy hook gets the arguments unchanged, only for a copy between different tags, and its
    // false becomes eErrFailed. The source is checked first.
    const char src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    char dst[8] = {};
    EXPECT_TRUE(ox::MemCpy(dst, src, 5, 3, 3) == ox::eOk && ox::MemCpy(dst, src, 0, 3, 4) == ox::eOk);
    EXPECT_EQ(ox::MemCpy(dst, src, 6, 11, 22), ox::eOk);
    EXPECT_TRUE(hooks.copies == 1 && hooks.dst == dst && hooks.src == src);
    EXPECT_TRUE(hooks.size == 6u && hooks.dstTag == 11u && hooks.srcTag == 22u);
    hooks.copyResult = false;
    EXPECT_EQ(ox::MemCpy(dst, src, 6, 0, 22), ox::eErrFailed);
    EXPECT_EQ(ox::MemCpy(nullptr, nullptr, 4, 0, 0), ox::eErrInvalidArg1);
    EXPECT_EQ(ox::MemCpy(nullptr, src, 4, 0, 0), ox::eErrInvalidArg2);

    // The defaults: malloc and free, and no copy hook, so only equal tags or nothing to copy succeed.
    EXPECT_EQ(ox::SetDefaultMemoryFuncPtr(), ox::eOk);
    ox::GetFreeFuncPtr()(ox::GetMallocFuncPtr()(64));
    EXPECT_TRUE(hooks.mallocs == 1 && hooks.frees == 1 && hooks.copies == 2);
    std::memset(dst, 0, sizeof dst);
    EXPECT_EQ(ox::MemCpy(dst, src, 1, 1, 2), ox::eErrNoCopyFunction);
    EXPECT_EQ(ox::MemCpy(dst, src, 5, 7, 7), ox::eOk);
    EXPECT_TRUE(std::memcmp(dst, src, 5) == 0 && dst[5] == 0);
}

// The store is process-wide: every test uses keys of its own.
TEST(CxGlobals, EntriesAndTypedGettersAndConcurrentSettersAndGetters)
{
    ox::CxGlobals* g = ox::CxGlobals::instance();
    EXPECT_TRUE(!g->isSet("test.absent") && !g->get("test.absent").isValid() &&
                g->getInt32("test.absent") == 0);
    g->set("test.invalid", QVariant(), false); // still makes an entry
    QObject object;                            // pointers travel as 64-bit integers
    g->set("test.object", 1, false);
    g->set("test.object", QVariant::fromValue(quint64(quintptr(&object))), true);
    EXPECT_TRUE(g->isSet("test.invalid") && g->getQObject("test.object") == &object);

    constexpr int kThreads = 8, kRounds = 2000;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) { // a new key each round, and one shared by all
                const QString own = QString("test.thread.%1.%2").arg(t).arg(i);
                g->set(own, i, false);
                g->set("test.shared", t * 1000 + i % 1000, true); // always below kThreads * 1000
                const int seen = g->getInt32("test.shared");
                mismatches += g->getInt32(own) != i || seen < 0 || seen >= kThreads * 1000;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(mismatches.load(), 0);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(g->getInt32(QString("test.thread.%1.%2").arg(t).arg(kRounds - 1)), kRounds - 1);
}

TEST(IxAppInterface, FirstRegistrationWins)
{
    static ox::IxAppInterface a; // stays registered for the rest of the process
    ox::IxAppInterface b;
    // Registration is once per process: a repeated run finds `a` registered already.
    EXPECT_TRUE(ox::IxAppInterface::instance() == &a || ox::IxAppInterface::setInstance(&a));
    EXPECT_FALSE(ox::IxAppInterface::setInstance(&b) || ox::IxAppInterface::setInstance(nullptr));
    EXPECT_EQ(ox::IxAppInterface::instance(), &a);
}

TEST(System, VersionAndMemoryFiguresAreSane)
{
    int major = -1, minor = -1, patch = -1;
    ox::Version(major, minor, patch);
    EXPECT_TRUE(major == 2 && minor == 5 && patch == 18 && ox::VersionString() == "2.5.18");
    // The kernel's page count is an independent upper bound (a container may report less).
    const quint64 total = ox::TotalRAM();
    EXPECT_TRUE(total > quint64(64) << 20 &&
                total <= quint64(sysconf(_SC_PHYS_PAGES) * sysconf(_SC_PAGE_SIZE)));
    for (quint64 available : {ox::AvailableRAM(), ox::AvailableManagedRAM()})
        EXPECT_TRUE(available > 0 && available <= total) << available;
    EXPECT_EQ(ox::TotalManagedRAM(), 0u);      // no separately managed pool here
    const unsigned int l2 = ox::L2CacheSize(); // 0 when the platform reports none
    EXPECT_TRUE(l2 == 0 || (l2 >= 16u * 1024 && l2 <= 1u << 30 && l2 % 1024 == 0)) << l2;
}
