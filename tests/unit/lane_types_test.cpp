// The kernel's lane types do, lane by lane, exactly the scalar arithmetic
// and the moves between lanes the kernel counts on, on every instruction set
// the processor has: a wrong shuffle constant or comparison predicate would
// move a band's signal to the wrong band or let a NaN pass for rest.
// GCC 12's AVX-512 headers leave the unused upper lanes of a widening cast
// undefined on purpose, and warn about it where they are inlined.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>

#include "equaliser/kernel_path.h"
#include "equaliser/lane_types.h"
#include "equaliser/module.h"
#include "equaliser/segment_kernel.h"
#include "equaliser/target_region.h"

namespace {

constexpr int kMaxWidth = 8;

struct LaneResults {
    alignas(64) double sum[kMaxWidth], difference[kMaxWidth], product[kMaxWidth], selected[kMaxWidth];
    alignas(64) double shifted[kMaxWidth], rounded[kMaxWidth], frame[kMaxWidth];
    alignas(16) double top[2];
    float firstTwo[2];
    unsigned notBelow, beyond;
};

}  // namespace

namespace sse2 {
#include "tests/unit/lane_type_checks.h"
}
QV_BEGIN_TARGET("avx")
namespace avx {
#include "tests/unit/lane_type_checks.h"
void run(const double* a, const double* b, const double* mask, LaneResults& r) {
    runLaneOperations<eq::AvxLanes>(a, b, mask, r);
}
}  // namespace avx
QV_END_TARGET

QV_BEGIN_TARGET("avx512f,avx512dq")
namespace avx512 {
#include "tests/unit/lane_type_checks.h"
void run(const double* a, const double* b, const double* mask, LaneResults& r) {
    runLaneOperations<eq::Avx512Lanes>(a, b, mask, r);
}
}  // namespace avx512
QV_END_TARGET

namespace {

bool sameBits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Values around every bound the kernel tests lanes against, and the
// awkward ones: signed zeros, a denormal, infinities, a NaN.
const double kValues[] = {1.5,   -0.0,  1e-21, -9.99e-22, 1099511627776.0, -1099511627777.0, kNaN,
                          3e-310, kInf, -kInf, 0.1,       -2.5,            1e30,             0.0};
constexpr int kValueCount = sizeof kValues / sizeof kValues[0];

struct LaneTypeCase {
    const char* name;
    eq::KernelPath path;
    int width;
    void (*run)(const double*, const double*, const double*, LaneResults&);
};

const LaneTypeCase kLaneTypes[] = {
    {"sse2", eq::KernelPath::Sse2, 2,
     [](const double* a, const double* b, const double* m, LaneResults& r) {
         sse2::runLaneOperations<eq::Sse2Lanes>(a, b, m, r);
     }},
    {"avx", eq::KernelPath::Avx, 4, avx::run},
    {"avx512", eq::KernelPath::Avx512, 8, avx512::run},
};

class LaneTypes : public ::testing::TestWithParam<LaneTypeCase> {};

TEST_P(LaneTypes, DoEachLanesScalarArithmeticAndMoveLanesAsTheKernelCountsOn) {
    const LaneTypeCase& c = GetParam();
    if (!eq::pathAvailable(c.path)) {
        std::printf("%s: not on this processor\n", c.name);
        return;
    }
    const int w = c.width;
    for (int first = 0; first < kValueCount; ++first) {
        alignas(64) double a[kMaxWidth], b[kMaxWidth], mask[kMaxWidth];
        for (int lane = 0; lane < w; ++lane) {
            a[lane] = kValues[(first + lane) % kValueCount];
            b[lane] = kValues[(first + 3 * lane + 5) % kValueCount];
            const uint64_t bits = (first + lane) % 3 == 0 ? ~uint64_t{0} : 0;
            std::memcpy(&mask[lane], &bits, sizeof bits);
        }
        LaneResults r;
        c.run(a, b, mask, r);
        for (int lane = 0; lane < w; ++lane) {
            SCOPED_TRACE(::testing::Message() << c.name << ", values from " << first << ", lane " << lane);
            const bool nan = std::isnan(a[lane]) || std::isnan(b[lane]);
            if (!nan) {
                EXPECT_TRUE(sameBits(r.sum[lane], a[lane] + b[lane]) || std::isnan(a[lane] + b[lane]));
                EXPECT_TRUE(sameBits(r.difference[lane], a[lane] - b[lane]) || std::isnan(a[lane] - b[lane]));
                EXPECT_TRUE(sameBits(r.product[lane], a[lane] * b[lane]) || std::isnan(a[lane] * b[lane]));
            }
            EXPECT_TRUE(sameBits(r.selected[lane], (first + lane) % 3 == 0 ? a[lane] : b[lane]));
            // Each band's lanes take the band before it's: the last two of
            // `low`, then the first of `high`.
            const double shiftedIn = lane < 2 ? a[w - 2 + lane] : b[lane - 2];
            EXPECT_TRUE(sameBits(r.shifted[lane], shiftedIn));
            const double rounded = static_cast<double>(static_cast<float>(a[lane]));
            EXPECT_TRUE(sameBits(r.rounded[lane], rounded) || (std::isnan(rounded) && std::isnan(r.rounded[lane])));
            const double magnitude = std::fabs(a[lane]);
            EXPECT_EQ((r.notBelow >> lane) & 1, !(magnitude < 1e-21) ? 1u : 0u);
            EXPECT_EQ((r.beyond >> lane) & 1, !(magnitude <= 1099511627776.0) ? 1u : 0u);
        }
        for (int j = 0; j < 2; ++j) {
            EXPECT_TRUE(sameBits(r.top[j], a[w - 2 + j])) << c.name;
            const float rounded = static_cast<float>(a[j]);
            EXPECT_TRUE(std::memcmp(&r.firstTwo[j], &rounded, sizeof rounded) == 0 || std::isnan(rounded)) << c.name;
            EXPECT_TRUE(sameBits(r.frame[w - 2 + j], static_cast<double>(static_cast<float>(b[j]))) ||
                        std::isnan(b[j]))
                << c.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernel, LaneTypes, ::testing::ValuesIn(kLaneTypes),
                         [](const ::testing::TestParamInfo<LaneTypeCase>& info) { return info.param.name; });

// At step t of a segment of n frames skewed S steps a band, band k
// (0-based) works on frame t - S k: the masked steps keep exactly the bands
// without a frame still. Long segments and short ones alike.
template <int32_t S>
void expectBandsAtWork() {
    for (int32_t n = 1; n <= 40; ++n)
        for (int32_t t = 0; t < n + S * (kBandCount - 1); ++t) {
            unsigned expected = 0;
            for (int k = 0; k < kBandCount; ++k)
                if (t - S * k >= 0 && t - S * k < n) expected |= 1u << k;
            ASSERT_EQ(eq::bandsAtWork<S>(t, n), expected) << "skew " << S << ", step " << t << " of " << n;
        }
}

TEST(SegmentSteps, BandsAtWorkAreThoseWithAFrameAtTheStep) {
    expectBandsAtWork<eq::kSkew>();
    expectBandsAtWork<eq::kShortSkew>();
}

}  // namespace
