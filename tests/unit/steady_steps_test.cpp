// The benchmarks' floor (bench/steady_steps.h) times the loop's real work:
// on every path the steady steps alone take every step of the segment and
// compute the bits of five sections in turn with the float between bands,
// and run after run on the same frames they stay loud (no decay into
// denormals, no growth into infinities that would time other arithmetic).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/steady_steps.h"

namespace {

uint32_t bitsOf(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

const eq::KernelPath kPaths[] = {eq::KernelPath::Sse2, eq::KernelPath::Avx, eq::KernelPath::Avx512};

// Two bells, a notch-like narrow cut, a low and a high shelf, designed at
// the library's rate.
struct Bands {
    Bands() {
        const int32_t types[kBandCount] = {FILTER_LOW_SHELF, FILTER_PEAKING, FILTER_PEAKING, FILTER_PEAKING,
                                           FILTER_HIGH_SHELF};
        const float freqHz[kBandCount] = {120.0f, 700.0f, 2500.0f, 6000.0f, 9000.0f};
        const float widths[kBandCount] = {0.7f, 1.0f, 0.05f, 2.0f, 1.0f};
        const float gainsDb[kBandCount] = {6.0f, -4.0f, -18.0f, 3.0f, 9.0f};
        for (int k = 0; k < kBandCount; ++k) {
            resetBandFilter(filters[k], 6.283185307179586 / 44100.0);
            designBand(&filters[k], types[k], freqHz[k], widths[k], gainsDb[k]);
            pointers[k] = &filters[k];
        }
    }
    BandFilter filters[kBandCount];
    const BandFilter* pointers[kBandCount];
};

// Band 5's outputs of one run from silent bands, worked out band by band:
// at step t band k takes frame t - kSkew k, band 1 from the segment's frames
// and every other band the output, through float, the band before it gave
// kSkew steps earlier (zero before the run's first step).
std::vector<float> modelOutputs(const Bands& bands, const eq::Segment& start) {
    constexpr int32_t first = eq::kLag, end = steady::Steps::kFrames;
    std::vector<float> outs(2 * end, 0.0f);
    for (int lane = 0; lane < 2; ++lane) {
        std::vector<std::vector<double>> given(kBandCount, std::vector<double>(end, 0.0));
        double x1[kBandCount] = {}, x2[kBandCount] = {}, y1[kBandCount] = {}, y2[kBandCount] = {};
        for (int32_t t = first; t < end; ++t)
            for (int k = 0; k < kBandCount; ++k) {
                const BandFilter& f = bands.filters[k];
                const int32_t from = t - eq::kSkew;
                const double x = k == 0 ? (lane == 0 ? start.in1 : start.in2)[t] : from >= first ? given[k - 1][from] : 0.0;
                const double y = f.b0 * x + f.b1 * x1[k] + f.b2 * x2[k] - f.a1 * y1[k] - f.a2 * y2[k];
                x2[k] = x1[k], x1[k] = x, y2[k] = y1[k], y1[k] = y;
                given[k][t] = static_cast<float>(y);
                if (k == kBandCount - 1) outs[2 * t + lane] = static_cast<float>(y);
            }
    }
    return outs;
}

TEST(SteadyStepsFloor, EveryPathTakesTheWholeSegmentWithTheCascadesBits) {
    const Bands bands;
    for (eq::KernelPath path : kPaths) {
        if (!eq::pathAvailable(path)) continue;
        SCOPED_TRACE(eq::pathName(path));
        steady::Steps steps(bands.pointers, path);
        const std::vector<float> expected = modelOutputs(bands, steps.segment());
        ASSERT_EQ(steps.run(), steady::Steps::kFrames);
        for (int32_t i = 2 * eq::kLag; i < 2 * steady::Steps::kFrames; ++i)
            ASSERT_EQ(bitsOf(steps.segment().outs[i]), bitsOf(expected[i])) << "output word " << i;
    }
}

TEST(SteadyStepsFloor, RunAfterRunOnTheSameFramesStaysLoud) {
    const Bands bands;
    for (eq::KernelPath path : kPaths) {
        if (!eq::pathAvailable(path)) continue;
        SCOPED_TRACE(eq::pathName(path));
        steady::Steps steps(bands.pointers, path);
        for (int run = 0; run < 2000; ++run) ASSERT_EQ(steps.run(), steady::Steps::kFrames) << "run " << run;
        // Band 5's last frames: the same noise replayed settles into a
        // periodic response, neither dying away nor growing.
        const float* outs = steps.segment().outs;
        float loudest = 0.0f;
        for (int32_t i = 2 * (steady::Steps::kFrames - 32); i < 2 * steady::Steps::kFrames; ++i) {
            ASSERT_TRUE(std::isfinite(outs[i]));
            loudest = std::fmax(loudest, std::fabs(outs[i]));
        }
        EXPECT_GT(loudest, 0.1f);
        EXPECT_LT(loudest, 1000.0f);
    }
}

}  // namespace
