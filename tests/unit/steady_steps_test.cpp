// The benchmarks' floor (bench/steady_steps.h) times the loop's real work:
// on every path the steady steps alone take every step of the chunk and
// compute the bits of five sections in turn with the float between bands,
// and run after run on the same lines they stay loud (no decay into
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

// Band 5's outputs of one chunk, worked out band by band on the lines the
// steps start from: band k at step u reads its line at u + 2, u + 1 and u
// and leaves its output, through float, at u + 6 of the next band's line.
std::vector<float> modelStage(const Bands& bands, const eq::PipelineLanes& start) {
    std::vector<float> stage(2 * eq::kChunk);
    for (int lane = 0; lane < 2; ++lane) {
        std::vector<std::vector<double>> lines(kBandCount, std::vector<double>(eq::kSignalLength));
        for (int k = 0; k < kBandCount; ++k)
            for (int32_t i = 0; i < eq::kSignalLength; ++i)
                lines[k][i] = reinterpret_cast<const double*>(&eq::line(start, k, i))[lane];
        double y1[kBandCount] = {}, y2[kBandCount] = {};
        for (int32_t u = 0; u < eq::kChunk; ++u)
            for (int k = 0; k < kBandCount; ++k) {
                const BandFilter& f = bands.filters[k];
                const double y = f.b0 * lines[k][u + 2] + f.b1 * lines[k][u + 1] + f.b2 * lines[k][u] -
                                 f.a1 * y1[k] - f.a2 * y2[k];
                y2[k] = y1[k];
                y1[k] = y;
                if (k + 1 < kBandCount)
                    lines[k + 1][u + eq::kHistory + eq::kSkew] = static_cast<float>(y);
                else
                    stage[2 * u + lane] = static_cast<float>(y);
            }
    }
    return stage;
}

TEST(SteadyStepsFloor, EveryPathTakesTheWholeChunkWithTheCascadesBits) {
    const Bands bands;
    for (eq::KernelPath path : kPaths) {
        if (!eq::pathAvailable(path)) continue;
        SCOPED_TRACE(eq::pathName(path));
        steady::Steps steps(bands.pointers, path);
        const std::vector<float> expected = modelStage(bands, steps.lanes());
        ASSERT_EQ(steps.run(), steady::Steps::kFrames);
        for (int32_t i = 0; i < 2 * eq::kChunk; ++i)
            ASSERT_EQ(bitsOf(steps.lanes().stage[i]), bitsOf(expected[i]))
                << "stage word " << i;
    }
}

TEST(SteadyStepsFloor, RunAfterRunOnTheSameLinesStaysLoud) {
    const Bands bands;
    for (eq::KernelPath path : kPaths) {
        if (!eq::pathAvailable(path)) continue;
        SCOPED_TRACE(eq::pathName(path));
        steady::Steps steps(bands.pointers, path);
        for (int run = 0; run < 2000; ++run) ASSERT_EQ(steps.run(), steady::Steps::kFrames) << "run " << run;
        // Band 5's last frames: the same chunk of noise replayed settles
        // into a periodic response (about 70 in magnitude with these bands,
        // the chunk's restarts being steps), neither dying away nor growing.
        float loudest = 0.0f;
        for (int32_t i = 2 * (eq::kChunk - 32); i < 2 * eq::kChunk; ++i) {
            ASSERT_TRUE(std::isfinite(steps.lanes().stage[i]));
            loudest = std::fmax(loudest, std::fabs(steps.lanes().stage[i]));
        }
        EXPECT_GT(loudest, 0.1f);
        EXPECT_LT(loudest, 1000.0f);
    }
}

}  // namespace
