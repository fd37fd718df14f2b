#include "tests/soak/memory_probe.h"

#include <cstdio>
#include <unistd.h>

namespace soak {

size_t residentBytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    unsigned long pages = 0;
    unsigned long resident = 0;
    const int read = std::fscanf(statm, "%lu %lu", &pages, &resident);
    std::fclose(statm);
    return read == 2 ? static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

}  // namespace soak

#if !defined(QUORVANE_UNDER_ASAN)

#include <atomic>
#include <cstdlib>
#include <new>

// The C library's own totals count chunks parked in its per-thread caches as
// in use, which blurs a byte-exact comparison. So the test programs count
// every allocation made through operator new themselves, the module
// library's included (it allocates nothing any other way, and its calls
// bind to these definitions when the host loads it).
namespace {

std::atomic<size_t> liveBytes{0};

void* allocate(size_t size) {
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory != nullptr) liveBytes += malloc_usable_size(memory);
    return memory;
}

void* allocateAligned(size_t size, std::align_val_t alignment) {
    const size_t align = static_cast<size_t>(alignment);
    const size_t rounded = (size == 0 ? align : (size + align - 1) / align * align);
    void* memory = std::aligned_alloc(align, rounded);
    if (memory != nullptr) liveBytes += malloc_usable_size(memory);
    return memory;
}

void release(void* memory) {
    if (memory == nullptr) return;
    liveBytes -= malloc_usable_size(memory);
    std::free(memory);
}

}  // namespace

namespace soak {
size_t allocatedBytes() { return liveBytes.load(); }
}  // namespace soak

void* operator new(size_t size) {
    void* memory = allocate(size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(size_t size, std::align_val_t alignment) {
    void* memory = allocateAligned(size, alignment);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
void* operator new[](size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocateAligned(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocateAligned(size, alignment);
}
void operator delete(void* memory) noexcept { release(memory); }
void operator delete[](void* memory) noexcept { release(memory); }
void operator delete(void* memory, size_t) noexcept { release(memory); }
void operator delete[](void* memory, size_t) noexcept { release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { release(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { release(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { release(memory); }
void operator delete(void* memory, size_t, std::align_val_t) noexcept { release(memory); }
void operator delete[](void* memory, size_t, std::align_val_t) noexcept { release(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept { release(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept { release(memory); }

#endif
