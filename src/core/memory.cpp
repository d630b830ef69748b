#include <ox/memory.h>

#include "core/memory_internal.h"
#include "core/platform/sysinfo.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace ox {

namespace {

void* DefaultMalloc(quint64 size)
{
    void* p = std::malloc(static_cast<std::size_t>(size));
    detail::AdviseLargePages(p, size);
    return p;
}

void DefaultFree(void* p)
{
    std::free(p);
}

// The three hooks. Set by the host from one thread before buffers are made; read without a lock
// by any thread (relaxed atomics only keep those reads well defined).
std::atomic<MallocFuncPtr> g_malloc{&DefaultMalloc};
std::atomic<FreeFuncPtr> g_free{&DefaultFree};
std::atomic<MemCpyFuncPtr> g_memCpy{nullptr};

} // namespace

namespace detail {

bool IsDefaultMallocHook(MallocFuncPtr fn)
{
    return fn == &DefaultMalloc;
}

} // namespace detail

unsigned int SetMemoryFuncPtrs(MallocFuncPtr mallocFn, FreeFuncPtr freeFn, MemCpyFuncPtr memCpyFn)
{
    if (!mallocFn)
        return eErrInvalidArg1;
    if (!freeFn)
        return eErrInvalidArg2;
    if (!memCpyFn)
        return eErrInvalidArg3;
    g_malloc.store(mallocFn, std::memory_order_relaxed);
    g_free.store(freeFn, std::memory_order_relaxed);
    g_memCpy.store(memCpyFn, std::memory_order_relaxed);
    return eOk;
}

unsigned int SetDefaultMemoryFuncPtr()
{
    g_malloc.store(&DefaultMalloc, std::memory_order_relaxed);
    g_free.store(&DefaultFree, std::memory_order_relaxed);
    g_memCpy.store(nullptr, std::memory_order_relaxed);
    return eOk;
}

MallocFuncPtr GetMallocFuncPtr()
{
    return g_malloc.load(std::memory_order_relaxed);
}

FreeFuncPtr GetFreeFuncPtr()
{
    return g_free.load(std::memory_order_relaxed);
}

MemCpyFuncPtr GetMemCpyFuncPtr()
{
    return g_memCpy.load(std::memory_order_relaxed);
}

unsigned int MemCpy(void* dst, const void* src, quint64 size, quint64 dstTag, quint64 srcTag)
{
    if (!src)
        return eErrInvalidArg1;
    if (!dst)
        return eErrInvalidArg2;
    if (size == 0)
        return eOk;
    if (dstTag == srcTag) {
        std::memcpy(dst, src, static_cast<std::size_t>(size));
        return eOk;
    }
    const MemCpyFuncPtr copy = GetMemCpyFuncPtr();
    if (!copy)
        return eErrNoCopyFunction;
    return copy(dst, src, size, dstTag, srcTag) ? eOk : eErrFailed;
}

} // namespace ox
