#include <ox/memory.h>

#include "support/core_helpers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using oxtest::CountingCopy;
using oxtest::CountingFree;
using oxtest::CountingMalloc;
using oxtest::hooks;

class MemoryHooks : public ::testing::Test
{
protected:
    void SetUp() override { hooks = oxtest::SxHookLog(); }
    void TearDown() override { ox::SetDefaultMemoryFuncPtr(); }
};

TEST_F(MemoryHooks, SetChecksHooksInOrderKeepsTheOldOnesOnErrorAndDefaultsRestoreMalloc)
{
    ASSERT_EQ(ox::SetMemoryFuncPtrs(&CountingMalloc, &CountingFree, &CountingCopy), ox::eOk);
    EXPECT_EQ(ox::SetMemoryFuncPtrs(nullptr, nullptr, nullptr), ox::eErrInvalidArg1);
    EXPECT_EQ(ox::SetMemoryFuncPtrs(&CountingMalloc, nullptr, nullptr), ox::eErrInvalidArg2);
    EXPECT_EQ(ox::SetMemoryFuncPtrs(&CountingMalloc, &CountingFree, nullptr), ox::eErrInvalidArg3);
    EXPECT_EQ(ox::GetMemCpyFuncPtr(), &CountingCopy);
    void* p = ox::GetMallocFuncPtr()(32); // the installed hooks are the ones called
    ASSERT_NE(p, nullptr);
    ox::GetFreeFuncPtr()(p);
    EXPECT_TRUE(hooks.mallocs == 1 && hooks.frees == 1);

    EXPECT_EQ(ox::SetDefaultMemoryFuncPtr(), ox::eOk);
    EXPECT_EQ(ox::GetMemCpyFuncPtr(), nullptr);
    ox::GetFreeFuncPtr()(ox::GetMallocFuncPtr()(64));
    EXPECT_TRUE(hooks.mallocs == 1 && hooks.frees == 1);
}

TEST_F(MemoryHooks, MemCpyChecksSourceFirstAndCopiesPlainlyBetweenEqualTagsAndThroughTheHookOtherwise)
{
    const char src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    char dst[8] = {};
    EXPECT_EQ(ox::MemCpy(dst, nullptr, 4, 0, 0), ox::eErrInvalidArg1);
    EXPECT_EQ(ox::MemCpy(nullptr, src, 4, 0, 0), ox::eErrInvalidArg2);

    // Without a copy hook: only equal tags or nothing to copy succeed.
    EXPECT_EQ(ox::MemCpy(dst, src, 0, 1, 2), ox::eOk);
    EXPECT_EQ(ox::MemCpy(dst, src, 1, 1, 2), ox::eErrNoCopyFunction);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(ox::MemCpy(dst, src, 5, 7, 7), ox::eOk);
    EXPECT_EQ(std::memcmp(dst, src, 5), 0);
    EXPECT_EQ(dst[5], 0);

    // With one: equal tags and empty copies still bypass it; it gets the arguments unchanged and
    // its false becomes eErrFailed.
    ASSERT_EQ(ox::SetMemoryFuncPtrs(&CountingMalloc, &CountingFree, &CountingCopy), ox::eOk);
    EXPECT_EQ(ox::MemCpy(dst, src, 5, 3, 3), ox::eOk);
    EXPECT_EQ(hooks.copies, 0);
    EXPECT_EQ(ox::MemCpy(dst, src, 6, 11, 22), ox::eOk);
    EXPECT_EQ(hooks.copies, 1);
    EXPECT_TRUE(hooks.dst == dst && hooks.src == src);
    EXPECT_TRUE(hooks.size == 6u && hooks.dstTag == 11u && hooks.srcTag == 22u);
    hooks.copyResult = false;
    EXPECT_EQ(ox::MemCpy(dst, src, 6, 0, 22), ox::eErrFailed);
    EXPECT_EQ(hooks.copies, 2);
}

} // namespace
