#pragma once

#include <ox/memory.h>

namespace ox::detail {

// True when `fn` is the library's default allocation hook (the C runtime's malloc). A buffer's
// memory tag is 0 for memory from the default hook and the hook's address otherwise.
bool IsDefaultMallocHook(MallocFuncPtr fn);

} // namespace ox::detail
