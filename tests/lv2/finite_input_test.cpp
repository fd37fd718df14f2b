// Non-finite input audio: the plug-in takes an infinite or NaN sample as
// silence, so not one output sample is non-finite, and the output is bit
// for bit that of the same input with those samples at 0.0; whether the
// equaliser is enabled, bypassed or behind an output gain, and wherever
// the samples fall in the host's and the plug-in's blocks.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "lv2/finite_input.h"
#include "tests/lv2/lv2_test_support.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(CopyFinite, KeepsEveryFiniteValueAndZeroesTheRest) {
    const float finite[] = {0.0f, -0.0f, 1.0f, -0.5f, FLT_MAX, -FLT_MAX, FLT_MIN, 1e-45f, -1e-45f, 3.0e38f};
    const float broken[] = {kInf, -kInf, kNan, -kNan, std::numeric_limits<float>::signaling_NaN()};
    for (int32_t count : {0, 1, 7, 16, 33, 512}) {
        SCOPED_TRACE(count);
        for (int bad = -1; bad < 5; ++bad) {
            std::vector<float> from(count), to(count, 9.0f);
            for (int32_t i = 0; i < count; ++i) from[i] = finite[i % 10];
            const int32_t where = count / 2;
            if (bad >= 0 && count > 0) from[where] = broken[bad];
            qvlv2::copyFinite(from.data(), count, to.data());
            for (int32_t i = 0; i < count; ++i) {
                const float want = (bad >= 0 && i == where) ? 0.0f : from[i];
                uint32_t a, b;
                std::memcpy(&a, &to[i], 4);
                std::memcpy(&b, &want, 4);
                ASSERT_EQ(a, b) << "sample " << i << " with broken value " << bad;
            }
        }
    }
}

struct Spoilt {
    size_t frame;
    int channel;  // 0 left, 1 right, 2 both
    float value;
    size_t run = 1;  // frames from `frame` on
};

struct FiniteCase {
    const char* name;
    std::vector<Spoilt> spoilt;
    float enabled = 1.0f;
    float outputGainDb = 0.0f;
    size_t callFrames = 1024;
};

const FiniteCase kCases[] = {
    {"one_infinity", {{3000, 0, kInf}}},
    {"one_nan", {{3000, 1, kNan}}},
    {"minus_infinity_on_both_at_a_chunk_edge", {{511, 2, -kInf, 2}}},
    {"a_run_of_nans_across_calls", {{1000, 2, kNan, 700}}, 1.0f, 0.0f, 333},
    {"every_kind_one_frame_at_a_time", {{10, 0, kInf}, {11, 1, kNan}, {12, 2, -kInf}}, 1.0f, 0.0f, 1},
    {"bypassed", {{3000, 0, kInf}, {4000, 1, kNan, 50}}, 0.0f},
    {"behind_an_output_gain", {{3000, 0, kInf}, {4000, 1, kNan, 50}}, 1.0f, -6.0f},
    {"all_of_it", {{0, 2, kInf, 8000}}},
};

void PrintTo(const FiniteCase& c, std::ostream* os) { *os << c.name; }

class NonFiniteInput : public ::testing::TestWithParam<FiniteCase> {};

TEST_P(NonFiniteInput, PlaysAsSilence) {
    const FiniteCase& c = GetParam();
    lv2test::PluginLibrary library;
    ASSERT_NE(library.descriptor(), nullptr);
    const std::vector<float> clean = lv2test::stereoMaterial(8000, 21);
    std::vector<float> spoilt = clean, zeroed = clean;
    for (const Spoilt& s : c.spoilt)
        for (size_t frame = s.frame; frame < s.frame + s.run && frame < 8000; ++frame)
            for (int channel = 0; channel < 2; ++channel)
                if (s.channel == 2 || s.channel == channel) {
                    spoilt[2 * frame + channel] = s.value;
                    zeroed[2 * frame + channel] = 0.0f;
                }
    const std::vector<lv2test::Band> bands = {
        {6, 100, 1, 12}, {0, 500, 0.15, 0}, {2, 1000, 0.2, 0}, {4, 3000, 1, 0}, {8, 8000, 1, 20}};
    const auto render = [&](const std::vector<float>& input) {
        lv2test::PluginInstance instance(library.descriptor(), 48000.0, bands);
        instance.set(qvlv2::PORT_ENABLED, c.enabled);
        instance.set(qvlv2::PORT_OUTPUT_GAIN, c.outputGainDb);
        return instance.render(input, c.callFrames);
    };
    const std::vector<float> got = render(spoilt);
    size_t nonFinite = 0;
    for (float sample : got) nonFinite += std::isfinite(sample) ? 0 : 1;
    EXPECT_EQ(nonFinite, 0u);
    EXPECT_TRUE(sameBits(got, render(zeroed)));
}

INSTANTIATE_TEST_SUITE_P(Inputs, NonFiniteInput, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FiniteCase>& info) { return info.param.name; });

}  // namespace
