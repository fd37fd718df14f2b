// Which instruction set the processing loop's steady stretches run on. Every
// path computes the very same bits, in the same order: AVX only carries two
// bands (four chains' worth of lanes) per instruction where SSE2 carries one.
#pragma once

namespace eq {

enum class KernelPath { Sse2, Avx };

// True when the processor has AVX and the operating system saves its
// registers (cpuid and xgetbv).
bool avxAvailable();

// The path in force for every instance of the process. Chosen at open: the
// best the machine has, unless QUORVANE_KERNEL=sse2 or QUORVANE_KERNEL=avx
// in the environment asks for one (AVX only where it is available).
KernelPath kernelPath();
void chooseKernelPath();
// For tests and benchmarks: false (and nothing changes) when AVX is asked
// for on a machine without it.
bool setKernelPath(KernelPath path);

}  // namespace eq
