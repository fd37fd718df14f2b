#include "equaliser/kernel_path.h"

#include <cpuid.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace eq {

namespace {

// Read by every process call, written at every open (and by tests), on
// whatever threads the host uses: every write the same for a given
// environment, so relaxed order is enough, but the accesses must be atomic
// for one instance's open not to race another's processing.
std::atomic<KernelPath> currentPath{KernelPath::Sse2};

uint32_t savedState() {
    uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return low;
}

}  // namespace

bool avxAvailable() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    // xgetbv only where the processor says the system enables it.
    const bool avx = (ecx & bit_AVX) != 0 && (ecx & bit_OSXSAVE) != 0;
    return avx && (savedState() & 0x6u) == 0x6u;  // the XMM and YMM state
}

bool avx512Available() {
    if (!avxAvailable()) return false;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    const bool foundation = (ebx & bit_AVX512F) != 0;
    const bool quadwords = (ebx & bit_AVX512DQ) != 0;
    // The opmask registers and all of the ZMM registers' state.
    return foundation && quadwords && (savedState() & 0xE6u) == 0xE6u;
}

bool pathAvailable(KernelPath path) {
    switch (path) {
        case KernelPath::Sse2:
            return true;
        case KernelPath::Avx:
            return avxAvailable();
        case KernelPath::Avx512:
            return avx512Available();
    }
    return false;
}

const char* pathName(KernelPath path) {
    switch (path) {
        case KernelPath::Sse2:
            return "sse2";
        case KernelPath::Avx:
            return "avx";
        case KernelPath::Avx512:
            return "avx512";
    }
    return "?";
}

KernelPath kernelPath() { return currentPath.load(std::memory_order_relaxed); }

bool setKernelPath(KernelPath path) {
    if (!pathAvailable(path)) return false;
    currentPath.store(path, std::memory_order_relaxed);
    return true;
}

void chooseKernelPath() {
    KernelPath best = KernelPath::Sse2;
    if (avxAvailable()) best = KernelPath::Avx;
    if (avx512Available()) best = KernelPath::Avx512;
    const char* asked = std::getenv("QUORVANE_KERNEL");
    if (asked != nullptr && std::strcmp(asked, "sse2") == 0)
        best = KernelPath::Sse2;
    else if (asked != nullptr && std::strcmp(asked, "avx") == 0 && best == KernelPath::Avx512)
        best = KernelPath::Avx;
    currentPath.store(best, std::memory_order_relaxed);
}

}  // namespace eq
