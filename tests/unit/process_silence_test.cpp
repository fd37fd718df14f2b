// Silence handling in the loop: which samples are filtered, flushed first or
// skipped, what the flush does to the delay values, and how a tail dies out.
#include <gtest/gtest.h>

#include <cfloat>
#include <cctype>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "equaliser/process_steps.h"
#include "process_test_support.h"

namespace {

using namespace looptest;

enum class Expect { Filter, FlushAndFilter, Skip };

constexpr double kTiny = 1e-310;  // a denormal double: only a flush removes it
constexpr double kRestBound = 1e-21;  // the flush's offset: below it in magnitude, a band rests
constexpr int32_t kCounterBetweenPolls = 5;

// A module whose bands all pass the signal through (b0 = 1, the rest 0) with
// every delay value set to `delay`, between two polls.
void prepare(TestModule& module, PinArena& arena, double delay) {
    arena.attach(*module);
    fillActiveControls(arena);
    arena.fill(PIN_INPUT1, 0.5f);
    arena.fill(PIN_INPUT2, 0.5f);
    module.process(0, 1);  // designs every band
    for (BandFilter* band : module->bands) {
        band->b0 = 1.0;
        band->b1 = band->b2 = band->a1 = band->a2 = 0.0;
        band->leftY1 = band->leftY2 = band->leftX1 = band->leftX2 = delay;
        band->rightY1 = band->rightY2 = band->rightX1 = band->rightX2 = delay;
    }
    module->pollCounter = kCounterBetweenPolls;
}

// What stands at the output places beforehand is never read: every kind of
// value there (tiny, zero, signed zeros, -1.0, NaN, infinite, what an older
// rule once asked for) leaves the treatment to the inputs and the bands'
// rest alone.
struct SilenceCase {
    const char* name;
    float left, right;       // the two input samples
    float output1, output2;  // what stands at the output places beforehand
    Expect treatment;        // with the bands at rest
};

std::ostream& operator<<(std::ostream& os, const SilenceCase& c) { return os << c.name; }

const SilenceCase kSilenceCases[] = {
    {"both inputs sounding", 0.5f, 0.25f, 0.5f, 0.25f, Expect::Filter},
    {"NaN inputs are not zero", kNaN, kNaN, 0.0f, 0.0f, Expect::Filter},
    {"left 0, right 0.5", 0.0f, 0.5f, 0.5f, 0.25f, Expect::FlushAndFilter},
    {"left 0.5, right 0", 0.5f, 0.0f, 0.0f, 0.0f, Expect::FlushAndFilter},
    {"left NaN, right 0", kNaN, 0.0f, 0.5f, 0.25f, Expect::FlushAndFilter},
    {"left -0.0 counts as zero", -0.0f, 0.5f, 0.5f, 0.25f, Expect::FlushAndFilter},
    {"left infinite, right -0.0", kInf, -0.0f, 0.5f, 0.25f, Expect::FlushAndFilter},
    {"silence, outputs 0.5 and 0.25", 0.0f, 0.0f, 0.5f, 0.25f, Expect::Skip},
    {"silence, outputs 0 and 0", 0.0f, 0.0f, 0.0f, 0.0f, Expect::Skip},
    {"silence as -0.0 on both sides", -0.0f, -0.0f, 0.5f, 0.25f, Expect::Skip},
    {"silence as 0.0 and -0.0", 0.0f, -0.0f, 0.5f, 0.25f, Expect::Skip},
    {"silence, outputs 1e-20 and 0.3", 0.0f, 0.0f, 1e-20f, 0.3f, Expect::Skip},
    {"silence, outputs -1e-20 and 0.3", 0.0f, 0.0f, -1e-20f, 0.3f, Expect::Skip},
    {"silence, outputs 9.9e-19 and 0.3", 0.0f, 0.0f, 9.9e-19f, 0.3f, Expect::Skip},
    {"silence, outputs 1e-17 and 0.3", 0.0f, 0.0f, 1e-17f, 0.3f, Expect::Skip},
    // 1e-18 is no float: the float nearest it lies above it, the one before
    // that below it.
    {"silence, outputs the float at 1e-18 and 0.3", 0.0f, 0.0f, 0x1.2725dep-60f, 0.3f, Expect::Skip},
    {"silence, outputs the float under 1e-18 and 0.3", 0.0f, 0.0f, 0x1.2725dcp-60f, 0.3f,
     Expect::Skip},
    {"silence, outputs minus the float at 1e-18", 0.0f, 0.0f, -0x1.2725dep-60f, 0.3f, Expect::Skip},
    {"silence, outputs minus the float under 1e-18", 0.0f, 0.0f, -0x1.2725dcp-60f, 0.3f,
     Expect::Skip},
    {"silence, outputs 0 and 0.3", 0.0f, 0.0f, 0.0f, 0.3f, Expect::Skip},
    {"silence, outputs -0 and 0.3", 0.0f, 0.0f, -0.0f, 0.3f, Expect::Skip},
    {"silence, outputs denormal and 0.3", 0.0f, 0.0f, 1e-40f, 0.3f, Expect::Skip},
    {"silence, outputs -1.0 and 0.0", 0.0f, 0.0f, -1.0f, 0.0f, Expect::Skip},
    {"silence, outputs -1.0 and -0.0", 0.0f, 0.0f, -1.0f, -0.0f, Expect::Skip},
    {"silence, outputs -1.0 and 0.3", 0.0f, 0.0f, -1.0f, 0.3f, Expect::Skip},
    {"silence, outputs next to -1.0 and 0.0", 0.0f, 0.0f, -0.99999994f, 0.0f, Expect::Skip},
    {"silence, outputs 1e-20 and 0.0", 0.0f, 0.0f, 1e-20f, 0.0f, Expect::Skip},
    {"silence, outputs 1e-20 and NaN", 0.0f, 0.0f, 1e-20f, kNaN, Expect::Skip},
    {"silence, outputs -1.0 and NaN", 0.0f, 0.0f, -1.0f, kNaN, Expect::Skip},
    {"silence, outputs NaN and 0.3", 0.0f, 0.0f, kNaN, 0.3f, Expect::Skip},
    {"silence, outputs NaN and 0.0", 0.0f, 0.0f, kNaN, 0.0f, Expect::Skip},
    {"silence, outputs infinite and 0.3", 0.0f, 0.0f, kInf, 0.3f, Expect::Skip},
};

// Every row of the table with every delay value at one of these: at rest
// (zero, or a stale value just below the bound, which a skipped frame
// leaves as it is), where silence is skipped, and still ringing (the bound
// itself), where a silent frame is flushed and filtered instead.
struct DelayCase {
    const char* name;
    double value;
};

const DelayCase kDelayCases[] = {
    {"zero", 0.0},
    {"below_the_bound", 9.9e-22},
    {"at_the_bound", kRestBound},
};

class SilenceDecision : public ::testing::TestWithParam<std::tuple<SilenceCase, DelayCase>> {};

TEST_P(SilenceDecision, ChoosesTheTreatmentFromTheInputsAndRestAlone) {
    const SilenceCase& c = std::get<0>(GetParam());
    const double delay = std::get<1>(GetParam()).value;
    const bool ringing = !(std::fabs(delay) < kRestBound);
    const Expect treatment = c.treatment == Expect::Skip && ringing ? Expect::FlushAndFilter
                                                                    : c.treatment;
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(8);
    prepare(module, arena, delay);
    arena.pin(PIN_INPUT1)[2] = c.left;
    arena.pin(PIN_INPUT2)[2] = c.right;
    arena.pin(PIN_OUTPUT1)[2] = c.output1;
    arena.pin(PIN_OUTPUT2)[2] = c.output2;
    const LoopState before = stateOf(*module);

    module.process(2, 1);

    const Module& m = *module;
    const float out1 = arena.pin(PIN_OUTPUT1)[2];
    const float out2 = arena.pin(PIN_OUTPUT2)[2];
    switch (treatment) {
        case Expect::Skip:
            // The zero inputs go out with their signs; no filter, counter or
            // cache moves.
            EXPECT_TRUE(sameBits(out1, c.left)) << out1;
            EXPECT_TRUE(sameBits(out2, c.right)) << out2;
            EXPECT_TRUE(sameState(stateOf(m), [&] {
                LoopState s = before;
                s.leftSample = c.left;
                s.rightSample = c.right;
                return s;
            }()));
            break;
        case Expect::Filter:
        case Expect::FlushAndFilter: {
            EXPECT_EQ(m.pollCounter, kCounterBetweenPolls + 1);
            // The delay values of band 1 moved on by one sample; what was
            // x1 is now x2, flushed or not.
            const double shifted = treatment == Expect::Filter ? delay : eq::flushed(delay, kRestBound);
            for (const BandFilter* band : m.bands) {
                EXPECT_TRUE(sameBits(band->leftX2, shifted)) << show(band->leftX2);
                EXPECT_TRUE(sameBits(band->leftY2, shifted)) << show(band->leftY2);
                EXPECT_TRUE(sameBits(band->rightX2, shifted)) << show(band->rightX2);
                EXPECT_TRUE(sameBits(band->rightY2, shifted)) << show(band->rightY2);
            }
            EXPECT_TRUE(sameValue(m.bands[0]->leftX1, static_cast<double>(c.left)));
            EXPECT_TRUE(sameValue(m.bands[0]->rightX1, static_cast<double>(c.right)));
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SilenceDecision,
    ::testing::Combine(::testing::ValuesIn(kSilenceCases), ::testing::ValuesIn(kDelayCases)),
    [](const ::testing::TestParamInfo<std::tuple<SilenceCase, DelayCase>>& info) {
        std::string name = std::string("delays_") + std::get<1>(info.param).name + "_" +
                           std::get<0>(info.param).name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name + "_" + std::to_string(info.index);
    });

// ---------------------------------------------------------------------------

// At rest means every one of the forty delay values is smaller in magnitude
// than 1e-21 (the flush's offset); one value anywhere at the bound or above,
// or a NaN, keeps the silent frame filtered.
struct RestCase {
    const char* name;
    int band;           // -1: none set
    int value;          // 0..7: leftY1, leftY2, leftX1, leftX2, rightY1, ... rightX2
    double setTo;
    bool skipped;
};

std::ostream& operator<<(std::ostream& os, const RestCase& c) { return os << c.name; }

double& delayValue(BandFilter& band, int which) {
    double* values[8] = {&band.leftY1,  &band.leftY2,  &band.leftX1,  &band.leftX2,
                         &band.rightY1, &band.rightY2, &band.rightX1, &band.rightX2};
    return *values[which];
}

const double kJustBelowBound = std::nextafter(kRestBound, 0.0);
const double kJustAboveBound = std::nextafter(kRestBound, 1.0);

const RestCase kRestCases[] = {
    {"every value +0.0", -1, 0, 0.0, true},
    {"band 3 rightX1 -0.0", 2, 6, -0.0, true},
    {"band 1 leftY1 a denormal", 0, 0, 1e-310, true},
    {"band 5 rightX2 a negative denormal", 4, 7, -1e-310, true},
    {"band 2 leftX2 on the flush's grid", 1, 3, 1.9e-37, true},
    {"band 1 rightY1 just below the bound", 0, 4, kJustBelowBound, true},
    {"band 4 leftY2 just below the bound, negative", 3, 1, -kJustBelowBound, true},
    {"band 1 leftX1 at the bound", 0, 2, kRestBound, false},
    {"band 5 rightY2 at the bound, negative", 4, 5, -kRestBound, false},
    {"band 3 leftY1 just above the bound", 2, 0, kJustAboveBound, false},
    {"band 2 rightX2 a quiet signal (1e-9)", 1, 7, 1e-9, false},
    {"band 4 rightY2 NaN", 3, 5, std::nan(""), false},
    {"band 5 leftX1 infinite", 4, 2, HUGE_VAL, false},
};

class RestTest : public ::testing::TestWithParam<RestCase> {};

TEST_P(RestTest, OnlyFiltersAtRestLetASilentFrameThrough) {
    const RestCase& c = GetParam();
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(8);
    prepare(module, arena, 0.0);
    if (c.band >= 0) delayValue(*module->bands[c.band], c.value) = c.setTo;
    arena.fill(PIN_INPUT1, 0.0f);
    arena.fill(PIN_INPUT2, -0.0f);
    arena.fill(PIN_OUTPUT1, 1e-20f);  // never read, whatever stands there
    arena.fill(PIN_OUTPUT2, 0.3f);

    module.process(0, 1);

    EXPECT_EQ(module->pollCounter, kCounterBetweenPolls + (c.skipped ? 0 : 1));
    if (c.skipped) {
        EXPECT_TRUE(sameBits(arena.pin(PIN_OUTPUT1)[0], 0.0f));
        EXPECT_TRUE(sameBits(arena.pin(PIN_OUTPUT2)[0], -0.0f));
        // The stale value stays as it was: filtering resumes from it.
        if (c.band >= 0) {
            EXPECT_TRUE(sameBits(delayValue(*module->bands[c.band], c.value), c.setTo));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(DelayValues, RestTest, ::testing::ValuesIn(kRestCases));

// ---------------------------------------------------------------------------

struct FlushCase {
    const char* name;
    double before;
    double after;
};

std::ostream& operator<<(std::ostream& os, const FlushCase& c) { return os << c.name; }

const double kBelowBoundary = std::ldexp(0x1.fffffp0, -124);  // just under 2^-123 (~9.4e-38)

const FlushCase kFlushCases[] = {
    {"denormal 1e-310", 1e-310, 0.0},
    {"negative denormal", -1e-310, 0.0},
    {"smallest normal", DBL_MIN, 0.0},
    {"1e-300", 1e-300, 0.0},
    {"9.0e-38", 9.0e-38, 0.0},
    {"-9.0e-38", -9.0e-38, 0.0},
    {"just under 2^-123", kBelowBoundary, 0.0},
    {"-0.0", -0.0, 0.0},
    {"2^-122 (a step of the offset)", std::ldexp(1.0, -122), std::ldexp(1.0, -122)},
    {"-3 * 2^-122", -3.0 * std::ldexp(1.0, -122), -3.0 * std::ldexp(1.0, -122)},
    {"0.25", 0.25, 0.25},
    {"-3.5", -3.5, -3.5},
    {"1e-3", 1e-3, 1e-3},
    {"123456.789", 123456.789, 123456.789},
    {"1e300", 1e300, 1e300},
    {"infinity", HUGE_VAL, HUGE_VAL},
    {"-infinity", -HUGE_VAL, -HUGE_VAL},
};

class Flush : public ::testing::TestWithParam<FlushCase> {};

TEST_P(Flush, ClearsOnlyVanishingDelayValues) {
    const FlushCase& c = GetParam();
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(4);
    prepare(module, arena, c.before);
    arena.pin(PIN_INPUT1)[0] = 0.0f;  // one input zero: flush, then filter
    arena.pin(PIN_INPUT2)[0] = 0.5f;

    module.process(0, 1);

    // Filtering moved each flushed x1 and y1 into x2 and y2, in every band.
    for (int k = 0; k < kBandCount; ++k) {
        const BandFilter& band = *module->bands[k];
        for (double value : {band.leftX2, band.leftY2, band.rightX2, band.rightY2})
            EXPECT_TRUE(sameBits(value, c.after)) << "band " << k + 1 << ": " << show(value);
    }
}

TEST(Flush, LeavesNaNDelayValuesNaN) {
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(4);
    prepare(module, arena, std::nan(""));
    arena.pin(PIN_INPUT1)[0] = 0.0f;
    arena.pin(PIN_INPUT2)[0] = 0.5f;
    module.process(0, 1);
    for (const BandFilter* band : module->bands)
        for (double value : {band->leftX2, band->leftY2, band->rightX2, band->rightY2})
            EXPECT_TRUE(std::isnan(value));
}

INSTANTIATE_TEST_SUITE_P(DelayValues, Flush, ::testing::ValuesIn(kFlushCases));

// ---------------------------------------------------------------------------

// After loud noise stops dead (the host's buffers holding 1e-20 and 0.3,
// which are never read), the flush keeps every band's tail out of the
// denormal range while it rings: the tail sinks far below anything
// audible, no denormal reaches an output, and at every block end each delay
// value is either 0.0 or at least 2^-123. (The flush rounds the delay values
// to steps of about 1.9e-37, so a band with poles near the unit circle may
// settle into a limit cycle of a few hundred steps instead of exact zeros.)
TEST(SilenceTail, SinksWithoutDenormals) {
    constexpr size_t kBlock = 512;
    const double kSmallestKept = std::ldexp(1.0, -123);
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(kBlock);
    arena.attach(*module);
    fillActiveControls(arena);
    Rng rng(99);
    for (int block = 0; block < 8; ++block) {
        fillNoise(arena, PIN_INPUT1, rng, 1.0f);
        fillNoise(arena, PIN_INPUT2, rng, 1.0f);
        module.process(0, static_cast<int32_t>(kBlock));
    }
    arena.fill(PIN_INPUT1, 0.0f);
    arena.fill(PIN_INPUT2, 0.0f);
    size_t denormalOutputs = 0;
    size_t denormalDelays = 0;
    float loudestLate = 0.0f;
    for (size_t block = 0; block < 100; ++block) {
        arena.fill(PIN_OUTPUT1, 1e-20f);
        arena.fill(PIN_OUTPUT2, 0.3f);
        module.process(0, static_cast<int32_t>(kBlock));
        for (int pin : {PIN_OUTPUT1, PIN_OUTPUT2})
            for (size_t i = 0; i < kBlock; ++i) {
                const float y = arena.pin(pin)[i];
                if (std::fpclassify(y) == FP_SUBNORMAL) ++denormalOutputs;
                if (block >= 90) loudestLate = std::fmax(loudestLate, std::fabs(y));
            }
        for (const BandFilter* band : module->bands) {
            const double values[8] = {band->leftY1,  band->leftY2,  band->leftX1,  band->leftX2,
                                      band->rightY1, band->rightY2, band->rightX1, band->rightX2};
            for (double v : values)
                if (v != 0.0 && std::fabs(v) < kSmallestKept) ++denormalDelays;
        }
    }
    EXPECT_LT(loudestLate, 1e-30f) << "the tail is still sounding";
    EXPECT_EQ(denormalOutputs, 0u);
    EXPECT_EQ(denormalDelays, 0u);
}

}  // namespace
