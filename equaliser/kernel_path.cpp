#include "equaliser/kernel_path.h"

#include <cpuid.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace eq {

namespace {

// Read by every process call, written only at open (and by tests): a plain
// value, every write the same for a given environment.
KernelPath currentPath = KernelPath::Sse2;

bool osSavesAvxState() {
    uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 0x6u) == 0x6u;  // the XMM and YMM state
}

}  // namespace

bool avxAvailable() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool osxsave = (ecx & bit_OSXSAVE) != 0;
    const bool avx = (ecx & bit_AVX) != 0;
    return osxsave && avx && osSavesAvxState();
}

KernelPath kernelPath() { return currentPath; }

bool setKernelPath(KernelPath path) {
    if (path == KernelPath::Avx && !avxAvailable()) return false;
    currentPath = path;
    return true;
}

void chooseKernelPath() {
    const char* asked = std::getenv("QUORVANE_KERNEL");
    if (asked != nullptr && std::strcmp(asked, "sse2") == 0) {
        currentPath = KernelPath::Sse2;
        return;
    }
    currentPath = avxAvailable() ? KernelPath::Avx : KernelPath::Sse2;
}

}  // namespace eq
