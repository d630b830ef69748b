#include <ox/memory.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

// Hooks that count their calls and remember the arguments of the last copy.
struct HookLog
{
    int mallocs = 0;
    int frees = 0;
    int copies = 0;
    bool copyResult = true;
    void* dst = nullptr;
    const void* src = nullptr;
    quint64 size = 0, dstTag = 0, srcTag = 0;
};
HookLog g_hooks;

void* CountingMalloc(quint64 size)
{
    ++g_hooks.mallocs;
    return std::malloc(size);
}

void CountingFree(void* p)
{
    ++g_hooks.frees;
    std::free(p);
}

bool CountingCopy(void* dst, const void* src, quint64 size, quint64 dstTag, quint64 srcTag)
{
    ++g_hooks.copies;
    g_hooks.dst = dst;
    g_hooks.src = src;
    g_hooks.size = size;
    g_hooks.dstTag = dstTag;
    g_hooks.srcTag = srcTag;
    return g_hooks.copyResult;
}

class MemoryHooks : public ::testing::Test
{
protected:
    void SetUp() override { g_hooks = HookLog(); }
    void TearDown() override { ox::SetDefaultMemoryFuncPtr(); }

    void expectCountingHooks()
    {
        EXPECT_EQ(ox::GetMallocFuncPtr(), &CountingMalloc);
        EXPECT_EQ(ox::GetFreeFuncPtr(), &CountingFree);
        EXPECT_EQ(ox::GetMemCpyFuncPtr(), &CountingCopy);
    }
};

TEST_F(MemoryHooks, SetChecksHooksInOrderAndKeepsTheOldOnesOnError)
{
    ASSERT_EQ(ox::SetMemoryFuncPtrs(&CountingMalloc, &CountingFree, &CountingCopy), ox::eOk);
    expectCountingHooks();

    EXPECT_EQ(ox::SetMemoryFuncPtrs(nullptr, nullptr, nullptr), ox::eErrInvalidArg1);
    EXPECT_EQ(ox::SetMemoryFuncPtrs(nullptr, &CountingFree, &CountingCopy), ox::eErrInvalidArg1);
    EXPECT_EQ(ox::SetMemoryFuncPtrs(&CountingMalloc, nullptr, nullptr), ox::eErrInvalidArg2);
    EXPECT_EQ(ox::SetMemoryFuncPtrs(&CountingMalloc, &CountingFree, nullptr), ox::eErrInvalidArg3);
    expectCountingHooks();

    // The installed hooks are the ones called.
    void* p = ox::GetMallocFuncPtr()(32);
    ASSERT_NE(p, nullptr);
    ox::GetFreeFuncPtr()(p);
    EXPECT_EQ(g_hooks.mallocs, 1);
    EXPECT_EQ(g_hooks.frees, 1);
}

TEST_F(MemoryHooks, DefaultsAllocateUsableMemoryAndHaveNoCopyHook)
{
    ASSERT_EQ(ox::SetMemoryFuncPtrs(&CountingMalloc, &CountingFree, &CountingCopy), ox::eOk);
    EXPECT_EQ(ox::SetDefaultMemoryFuncPtr(), ox::eOk);
    EXPECT_EQ(ox::GetMemCpyFuncPtr(), nullptr);
    EXPECT_NE(ox::GetMallocFuncPtr(), &CountingMalloc);
    EXPECT_NE(ox::GetFreeFuncPtr(), &CountingFree);

    auto* p = static_cast<unsigned char*>(ox::GetMallocFuncPtr()(4096));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x5a, 4096); // the sanitizer build catches a short allocation
    ox::GetFreeFuncPtr()(p);
    EXPECT_EQ(g_hooks.mallocs + g_hooks.frees, 0);
}

TEST_F(MemoryHooks, MemCpyChecksSourceThenDestination)
{
    char a[4] = {1, 2, 3, 4};
    char b[4] = {};
    EXPECT_EQ(ox::MemCpy(b, nullptr, 4, 0, 0), ox::eErrInvalidArg1);
    EXPECT_EQ(ox::MemCpy(nullptr, a, 4, 0, 0), ox::eErrInvalidArg2);
    EXPECT_EQ(ox::MemCpy(nullptr, nullptr, 4, 0, 0), ox::eErrInvalidArg1);
    EXPECT_EQ(ox::MemCpy(nullptr, nullptr, 0, 1, 2), ox::eErrInvalidArg1);
}

TEST_F(MemoryHooks, MemCpyCopiesPlainlyBetweenEqualTagsAndThroughTheHookOtherwise)
{
    const char src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    char dst[8] = {};

    // Without a copy hook: only equal tags or nothing to copy succeed.
    EXPECT_EQ(ox::MemCpy(dst, src, 0, 1, 2), ox::eOk);
    EXPECT_EQ(ox::MemCpy(dst, src, 1, 1, 2), ox::eErrNoCopyFunction);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(ox::MemCpy(dst, src, 8, 7, 7), ox::eOk);
    EXPECT_EQ(std::memcmp(dst, src, 8), 0);

    ASSERT_EQ(ox::SetMemoryFuncPtrs(&CountingMalloc, &CountingFree, &CountingCopy), ox::eOk);
    std::memset(dst, 0, sizeof dst);
    EXPECT_EQ(ox::MemCpy(dst, src, 5, 3, 3), ox::eOk);
    EXPECT_EQ(std::memcmp(dst, src, 5), 0);
    EXPECT_EQ(dst[5], 0);
    EXPECT_EQ(ox::MemCpy(dst, src, 0, 1, 2), ox::eOk);
    EXPECT_EQ(g_hooks.copies, 0);

    // The hook gets the arguments unchanged; its false becomes eErrFailed.
    EXPECT_EQ(ox::MemCpy(dst, src, 6, 11, 22), ox::eOk);
    EXPECT_EQ(g_hooks.copies, 1);
    EXPECT_EQ(g_hooks.dst, dst);
    EXPECT_EQ(g_hooks.src, src);
    EXPECT_EQ(g_hooks.size, 6u);
    EXPECT_EQ(g_hooks.dstTag, 11u);
    EXPECT_EQ(g_hooks.srcTag, 22u);
    g_hooks.copyResult = false;
    EXPECT_EQ(ox::MemCpy(dst, src, 6, 0, 22), ox::eErrFailed);
    EXPECT_EQ(g_hooks.copies, 2);
}

} // namespace
