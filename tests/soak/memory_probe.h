// How many bytes the process has allocated right now, for before/after
// comparisons. Under AddressSanitizer its allocator counts them; otherwise
// memory_probe.cpp counts every operator new and delete of the program and
// of the module library it loads.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define QUORVANE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVANE_UNDER_ASAN 1
#endif
#endif

#if defined(QUORVANE_UNDER_ASAN)
// From the sanitizer runtime (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace soak {

#if defined(QUORVANE_UNDER_ASAN)
inline size_t allocatedBytes() { return __sanitizer_get_current_allocated_bytes(); }
#else
size_t allocatedBytes();
#endif

// The resident set from /proc/self/statm, in bytes (0 where unavailable):
// a coarse second opinion for long runs.
size_t residentBytes();

}  // namespace soak
