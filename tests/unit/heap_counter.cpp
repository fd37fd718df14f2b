#include "heap_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Heap counter for the unit test program. It only counts and forwards to
// malloc/free, so every other test sees the ordinary allocator. Under
// AddressSanitizer it is left out: the sanitizer's own operator new keeps
// checking new/delete pairing for the whole program.
#if defined(__SANITIZE_ADDRESS__)
#define UNIT_TESTS_COUNT_HEAP 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNIT_TESTS_COUNT_HEAP 0
#endif
#endif
#ifndef UNIT_TESTS_COUNT_HEAP
#define UNIT_TESTS_COUNT_HEAP 1
#endif

namespace {
std::atomic<unsigned long> heapAllocations{0};
}  // namespace

namespace heapcount {
bool counting() { return UNIT_TESTS_COUNT_HEAP != 0; }
unsigned long allocations() { return heapAllocations.load(std::memory_order_relaxed); }
}  // namespace heapcount

#if UNIT_TESTS_COUNT_HEAP

void* operator new(std::size_t size) {
    heapAllocations.fetch_add(1, std::memory_order_relaxed);
    if (size == 0) size = 1;
    for (;;) {
        if (void* p = std::malloc(size)) return p;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return ::operator new(size, tag);
}
// The compiler cannot see that these pointers came from malloc above.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#endif
