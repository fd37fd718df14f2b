// Which instruction set the processing loop's steady stretches run on. Every
// path computes the very same bits, in the same order: AVX only carries two
// bands (four chains' worth of lanes) per instruction where SSE2 carries one.
#pragma once

namespace eq {

enum class KernelPath { Sse2, Avx, Avx512 };

// True when the processor has AVX and the operating system saves its
// registers (cpuid and xgetbv).
bool avxAvailable();
// The same for AVX-512 (its foundation and doubleword-quadword parts), which
// carries four bands per instruction.
bool avx512Available();
// Whether `path` can run here.
bool pathAvailable(KernelPath path);
// "sse2", "avx" or "avx512".
const char* pathName(KernelPath path);

// The path in force for every instance of the process. Chosen at open: the
// best the machine has, unless QUORVANE_KERNEL=sse2, avx or avx512 in the
// environment asks for one (a path only where it is available; otherwise
// the best there is below it).
KernelPath kernelPath();
void chooseKernelPath();
// For tests and benchmarks: false (and nothing changes) when a path is
// asked for on a machine without it.
bool setKernelPath(KernelPath path);

}  // namespace eq
