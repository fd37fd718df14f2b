// GCC 12's AVX-512 headers leave the unused upper lanes of a widening cast
// undefined on purpose, and warn about it where they are inlined.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "equaliser/block_kernel.h"

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "equaliser/kernel_path.h"
#include "equaliser/lane_state.h"
#include "equaliser/lane_types.h"
#include "equaliser/process_steps.h"
#include "equaliser/segment_kernel.h"
#include "equaliser/silence_pass.h"
#include "equaliser/target_region.h"

namespace eq {

namespace {

// Calls shorter than this go frame by frame: a segment's filling and
// draining would cost more than the skew gains.
constexpr int32_t kShortestSegment = 3;

// The poll on a frame the bands take one after another (short calls, ring-
// outs: once in a poll interval), through the bands themselves.
void pollAllBands(Segment& g, int32_t controlIndex) {
    for (int k = 0; k < kBandCount; ++k) {
        BandFilter& band = *g.module->bands[k];
        scatterBand(g.state, k, band);
        pollBand(*g.module, k, g.controls, controlIndex);
        gatherBand(g.state, k, band);
    }
}

}  // namespace

// The kernel for each instruction set: the same source, compiled for each.
namespace sse2 {
#include "equaliser/block_kernel_body.h"
}  // namespace sse2

QV_BEGIN_TARGET("avx")
namespace avx {
#include "equaliser/block_kernel_body.h"
}  // namespace avx
QV_END_TARGET

QV_BEGIN_TARGET("avx512f,avx512dq")
namespace avx512 {
#include "equaliser/block_kernel_body.h"
}  // namespace avx512
QV_END_TARGET

namespace {

void processBlockSse2(Module& m, float* const* positions, int32_t count) {
    sse2::processBlockWith<Sse2Lanes>(m, positions, count);
}

QV_TARGET_AVX void processBlockAvx(Module& m, float* const* positions, int32_t count) {
    avx::processBlockWith<AvxLanes>(m, positions, count);
}

QV_TARGET_AVX512 void processBlockAvx512(Module& m, float* const* positions, int32_t count) {
    avx512::processBlockWith<Avx512Lanes>(m, positions, count);
}

int32_t steadyStepsSse2(Segment& g) { return sse2::runSteps<Skewed<Sse2Lanes, kSkew>, false>(g, kLag, -1).t; }
QV_TARGET_AVX int32_t steadyStepsAvx(Segment& g) {
    const int32_t end = avx::runSteps<Skewed<AvxLanes, kSkew>, false>(g, kLag, -1).t;
    AvxLanes::leave();
    return end;
}
QV_TARGET_AVX512 int32_t steadyStepsAvx512(Segment& g) {
    const int32_t end = avx512::runSteps<Skewed<Avx512Lanes, kSkew>, false>(g, kLag, -1).t;
    Avx512Lanes::leave();
    return end;
}

}  // namespace

int32_t runSteadySteps(Segment& g, KernelPath path) {
    return path == KernelPath::Avx512 ? steadyStepsAvx512(g)
           : path == KernelPath::Avx  ? steadyStepsAvx(g)
                                      : steadyStepsSse2(g);
}

void processBlock(Module& m, float* const* positions, int32_t count) {
    switch (kernelPath()) {
        case KernelPath::Avx512:
            return processBlockAvx512(m, positions, count);
        case KernelPath::Avx:
            return processBlockAvx(m, positions, count);
        case KernelPath::Sse2:
            break;
    }
    processBlockSse2(m, positions, count);
}

}  // namespace eq
