// String and array storage of the host file library, with the seam through
// which tests watch or fail allocations.
#pragma once

#include "math/QuorArray.h"
#include "math/String.h"

namespace tq::fileio {

// Replaces the allocator behind AllocString and AllocExt (null restores the
// default, malloc). Returns the previous hook. Buffers still go back through
// FreeString and FreeExt, which call free.
using AllocHook = void* (*)(unsigned long n);
AllocHook SetAllocStringHook(AllocHook hook) noexcept;
AllocHook SetAllocExtHook(AllocHook hook) noexcept;

// Watches FreeString (null removes the watcher); the buffer is freed after it.
using FreeHook = void (*)(void* p);
FreeHook SetFreeStringHook(FreeHook hook) noexcept;

}  // namespace tq::fileio
