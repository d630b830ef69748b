#pragma once

#include <ox/errors.h>
#include <ox/export.h>

#include <QtGlobal>

// Memory hooks: every byte of pixel memory is obtained, released and (across memory kinds) copied
// through these three functions. Set them before the first buffer is allocated: each buffer
// remembers the release hook and memory tag of its allocation. The hooks are read without a lock;
// changing them while pixel operations run is not supported.

namespace ox {

using MallocFuncPtr = void* (*)(quint64 size);
using FreeFuncPtr = void (*)(void* p);
// Copies `size` bytes between two kinds of memory (told apart by their tags); true on success.
using MemCpyFuncPtr = bool (*)(void* dst, const void* src, quint64 size, quint64 dstTag, quint64 srcTag);

// Installs all three hooks. Null mallocFn: eErrInvalidArg1, null freeFn: eErrInvalidArg2, null
// memCpyFn: eErrInvalidArg3 (in that order; nothing is installed on error). Otherwise eOk.
OX_EXPORT unsigned int SetMemoryFuncPtrs(MallocFuncPtr mallocFn, FreeFuncPtr freeFn, MemCpyFuncPtr memCpyFn);
// Restores malloc, free and no copy hook. Always eOk.
OX_EXPORT unsigned int SetDefaultMemoryFuncPtr();
OX_EXPORT MallocFuncPtr GetMallocFuncPtr();
OX_EXPORT FreeFuncPtr GetFreeFuncPtr();
OX_EXPORT MemCpyFuncPtr GetMemCpyFuncPtr(); // may be null

// Tag-aware copy. Null src: eErrInvalidArg1; null dst: eErrInvalidArg2 (source first, as in the
// buffer operations). size 0: eOk without copying. Equal tags: a plain byte copy. Different tags:
// eErrNoCopyFunction without a copy hook, else the hook's result (false gives eErrFailed).
OX_EXPORT unsigned int MemCpy(void* dst, const void* src, quint64 size, quint64 dstTag, quint64 srcTag);

} // namespace ox
