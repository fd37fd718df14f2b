// What a poll redesigns and with which values, how a sample travels down the
// five bands, what an empty call does, and whole multi-block runs (with the
// host's buffers shared between pins) checked bit for bit against the
// library's sample-by-sample loop and against an independent model.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "process_test_support.h"

namespace {

using namespace looptest;

constexpr size_t kLength = 64;

// Peaks everywhere, each band on its own frequency; band 5 flat (0 dB).
const BandControls kPeaks[kBandCount] = {
    {10.0f, 0.3f, 0.1f, 6.0f},  {40.0f, 0.3f, 0.1f, 6.0f},   {160.0f, 0.3f, 0.1f, 6.0f},
    {640.0f, 0.3f, 0.1f, 6.0f}, {1500.0f, 0.0f, 0.1f, 6.0f},
};

void setUnitCoefficients(BandFilter& band) {
    band.b0 = 1.0;
    band.b1 = band.b2 = band.a1 = band.a2 = 0.0;
}

bool hasUnitCoefficients(const BandFilter& band) {
    return sameBits(band.b0, 1.0) && sameBits(band.b1, 0.0) && sameBits(band.b2, 0.0) &&
           sameBits(band.a1, 0.0) && sameBits(band.a2, 0.0);
}

// What a band in its initial state holds after designBand with these inputs.
BandFilter designedFresh(int32_t type, float freq, float width, float gain) {
    BandFilter f;
    resetBandFilter(f, 6.283185307179586 / 48000.0);
    designBand(&f, type, freq, width, gain);
    return f;
}

::testing::AssertionResult sameDesign(const BandFilter& actual, const BandFilter& expected) {
    const double a[5] = {actual.b0, actual.b1, actual.b2, actual.a1, actual.a2};
    const double e[5] = {expected.b0, expected.b1, expected.b2, expected.a1, expected.a2};
    for (int i = 0; i < 5; ++i)
        if (!sameBits(a[i], e[i]))
            return ::testing::AssertionFailure()
                   << "coefficient " << i << ": " << show(a[i]) << ", expected " << show(e[i]);
    if (!sameBits(actual.lastFreq, expected.lastFreq) ||
        !sameBits(actual.lastWidth, expected.lastWidth) ||
        !sameBits(actual.lastGain, expected.lastGain) || actual.type != expected.type)
        return ::testing::AssertionFailure() << "design inputs or type differ";
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// Which bands a poll redesigns. After a first poll every band's coefficients
// are overwritten with a unit marker; the next poll replaces the marker only
// in the bands it redesigns.

struct ControlChange {
    int band;  // 0-based; -1: no change
    ControlOffset control;
    float value;
    int32_t from, to;  // control buffer indices holding the new value
};

struct RedesignCase {
    const char* name;
    ControlChange changes[2];
    unsigned redesigned;  // bit k: band k+1
    int32_t changedType;  // bandType of the first change's band afterwards
};

std::ostream& operator<<(std::ostream& os, const RedesignCase& c) { return os << c.name; }

constexpr ControlChange kNone = {-1, CONTROL_FREQ, 0.0f, 0, 0};

const RedesignCase kRedesignCases[] = {
    {"nothing changes", {kNone, kNone}, 0u, 0},
    {"Type4 6.0 to 3.7: band 4 alone, type 3", {{3, CONTROL_TYPE, 3.7f, 0, 64}, kNone}, 1u << 3, 3},
    {"Type3 6.0 to 7.9: band 3 alone, type 7", {{2, CONTROL_TYPE, 7.9f, 0, 64}, kNone}, 1u << 2, 7},
    {"Type1 6.0 to 6.9: same type, still redesigned",
     {{0, CONTROL_TYPE, 6.9f, 0, 64}, kNone},
     1u,
     6},
    {"Type2 6.0 to -0.7: type 0", {{1, CONTROL_TYPE, -0.7f, 0, 64}, kNone}, 1u << 1, 0},
    {"Freq2 alone", {{1, CONTROL_FREQ, 41.0f, 0, 64}, kNone}, 1u << 1, 6},
    {"Q5 alone", {{4, CONTROL_Q, 0.2f, 0, 64}, kNone}, 1u << 4, 6},
    {"Gain1 and Freq3",
     {{0, CONTROL_GAIN, -0.3f, 0, 64}, {2, CONTROL_FREQ, 170.0f, 0, 64}},
     0b101u,
     6},
    {"Gain5 0.0 to -0.0: no redesign", {{4, CONTROL_GAIN, -0.0f, 0, 64}, kNone}, 0u, 6},
    {"change gone again at the poll",
     {{0, CONTROL_Q, 0.4f, 1, 31}, {3, CONTROL_GAIN, 2.0f, 2, 20}},
     0u,
     6},
};

class Redesign : public ::testing::TestWithParam<RedesignCase> {};

TEST_P(Redesign, OnlyBandsWhoseControlsChanged) {
    const RedesignCase& c = GetParam();
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(kLength);
    arena.attach(*module);
    for (int band = 0; band < kBandCount; ++band) fillControls(arena, band, kPeaks[band]);
    Rng rng(5);
    fillNoise(arena, PIN_INPUT1, rng);
    fillNoise(arena, PIN_INPUT2, rng);
    module.process(0, 1);  // first poll: every band designed
    for (BandFilter* band : module->bands) setUnitCoefficients(*band);
    const LoopState before = stateOf(*module);

    for (const ControlChange& change : c.changes)
        if (change.band >= 0)
            arena.fill(controlPin(change.band, change.control), change.value,
                       static_cast<size_t>(change.from),
                       static_cast<size_t>(change.to - change.from));
    module.process(0, 32);  // polls on its last sample, reading control sample 0
    ASSERT_EQ(module->pollCounter, 1);

    for (int k = 0; k < kBandCount; ++k) {
        const BandFilter& band = *module->bands[k];
        const bool redesigned = (c.redesigned >> k) & 1u;
        EXPECT_EQ(!hasUnitCoefficients(band), redesigned) << "band " << k + 1;
        if (!redesigned) {
            EXPECT_EQ(module->bandType[k], before.bandType[k]) << "band " << k + 1;
            EXPECT_TRUE(sameBits(module->cachedFreq[k], before.cachedFreq[k]));
            EXPECT_TRUE(sameBits(module->cachedGain[k], before.cachedGain[k]));
            EXPECT_TRUE(sameBits(module->cachedQ[k], before.cachedQ[k]));
            EXPECT_TRUE(sameBits(module->cachedType[k], before.cachedType[k]));
            continue;
        }
        // A redesign takes up all four values read at the poll.
        const float* at = arena.pin(controlPin(k, CONTROL_FREQ));
        const float freq = at[0];
        const float gain = arena.pin(controlPin(k, CONTROL_GAIN))[0];
        const float q = arena.pin(controlPin(k, CONTROL_Q))[0];
        const float type = arena.pin(controlPin(k, CONTROL_TYPE))[0];
        EXPECT_TRUE(sameBits(module->cachedFreq[k], freq));
        EXPECT_TRUE(sameBits(module->cachedGain[k], gain));
        EXPECT_TRUE(sameBits(module->cachedQ[k], q));
        EXPECT_TRUE(sameBits(module->cachedType[k], type));
        EXPECT_TRUE(sameDesign(
            band, designedFresh(module->bandType[k], 10.0f * freq, 10.0f * q, 10.0f * gain)))
            << "band " << k + 1;
    }
    if (c.changes[0].band >= 0) {
        EXPECT_EQ(module->bandType[c.changes[0].band], c.changedType);
    }
}

INSTANTIATE_TEST_SUITE_P(Polls, Redesign, ::testing::ValuesIn(kRedesignCases));

// A NaN control equals no cache, so its band is redesigned at every poll for
// as long as it lasts; the other bands are left alone.
TEST(RedesignNaN, RedesignsItsBandAtEveryPoll) {
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(kLength);
    arena.attach(*module);
    for (int band = 0; band < kBandCount; ++band) fillControls(arena, band, kPeaks[band]);
    Rng rng(6);
    fillNoise(arena, PIN_INPUT1, rng);
    fillNoise(arena, PIN_INPUT2, rng);
    module.process(0, 1);
    arena.fill(controlPin(4, CONTROL_FREQ), kNaN);
    for (int poll = 0; poll < 3; ++poll) {
        for (BandFilter* band : module->bands) setUnitCoefficients(*band);
        module.process(0, 32);
        EXPECT_TRUE(std::isnan(module->bands[4]->b0)) << "poll " << poll;
        EXPECT_TRUE(std::isnan(module->cachedFreq[4]));
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(hasUnitCoefficients(*module->bands[k])) << "band " << k + 1;
    }
}

// ---------------------------------------------------------------------------
// The values designBand receives: ten times each control sample, rounded to
// float once; the type unscaled.

struct ProductCase {
    const char* name;
    float type, freq, q, gain;                  // control samples
    float designFreq, designWidth, designGain;  // what designBand must receive
};

std::ostream& operator<<(std::ostream& os, const ProductCase& c) { return os << c.name; }

const ProductCase kProductCases[] = {
    {"Freq 0.5, Q 0.1, Gain -0.5", 6.0f, 0.5f, 0.1f, -0.5f, 5.0f, 1.0f, -5.0f},
    {"Freq 100.1, Q 0.07, Gain 0.6", 6.0f, 100.1f, 0.07f, 0.6f, 1001.0f, 0x1.666666p-1f, 6.0f},
    {"Freq 123.4, Q 0.023, Gain -1.7", 6.0f, 123.4f, 0.023f, -1.7f, 1234.0f, 0x1.d70a3ep-3f,
     -17.0f},
    {"Freq 1999.9, Q 0.3, Gain 1/3", 7.0f, 1999.9f, 0.3f, 0.33333334f, 19999.0f, 3.0f,
     0x1.aaaaacp+1f},
    {"band-pass, Q 0.0031 unclamped", 3.0f, 50.0f, 0.0031f, 0.0f, 500.0f, 0x1.fbe76ep-6f, 0.0f},
};

class ControlProducts : public ::testing::TestWithParam<ProductCase> {};

TEST_P(ControlProducts, ReachTheDesignAsTenTimesTheControl) {
    const ProductCase& c = GetParam();
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(8);
    arena.attach(*module);
    fillActiveControls(arena);
    fillControls(arena, 1, {c.freq, c.gain, c.q, c.type});  // band 2
    arena.fill(PIN_INPUT1, 0.25f);
    arena.fill(PIN_INPUT2, 0.25f);
    module.process(0, 1);
    const BandFilter expected =
        designedFresh(static_cast<int32_t>(c.type), c.designFreq, c.designWidth, c.designGain);
    EXPECT_TRUE(sameDesign(*module->bands[1], expected));
    EXPECT_EQ(module->bandType[1], static_cast<int32_t>(c.type));
}

INSTANTIATE_TEST_SUITE_P(Band2, ControlProducts, ::testing::ValuesIn(kProductCases));

// ---------------------------------------------------------------------------
// The signal between bands is a float; each band's own arithmetic and delay
// values are doubles.

TEST(Cascade, RoundsToFloatBetweenBandsOnly) {
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(8);
    arena.attach(*module);
    fillActiveControls(arena);
    arena.fill(PIN_INPUT1, 1.0f);
    arena.fill(PIN_INPUT2, 0.5f);
    module.process(0, 1);
    for (BandFilter* band : module->bands) {
        setUnitCoefficients(*band);
        band->leftY1 = band->leftY2 = band->leftX1 = band->leftX2 = 0.0;
        band->rightY1 = band->rightY2 = band->rightX1 = band->rightX2 = 0.0;
    }
    BandFilter& band1 = *module->bands[0];
    BandFilter& band2 = *module->bands[1];
    band1.b0 = 1.0 / 3.0;
    band1.a1 = -0.25;

    module.process(0, 2);

    // Sample 0: y = x / 3. Sample 1: y = x / 3 + 0.25 * (previous y, unrounded).
    const double left0 = 1.0 / 3.0;
    const double left1 =
        ((((1.0 / 3.0) * 1.0 + 0.0 * 1.0) + 0.0 * 0.0) - (-0.25) * left0) - 0.0 * 0.0;
    const double right0 = (1.0 / 3.0) * 0.5;
    const double right1 =
        ((((1.0 / 3.0) * 0.5 + 0.0 * 0.5) + 0.0 * 0.0) - (-0.25) * right0) - 0.0 * 0.0;
    EXPECT_TRUE(sameBits(band1.leftY1, left1)) << show(band1.leftY1);
    EXPECT_TRUE(sameBits(band1.leftY2, left0)) << show(band1.leftY2);
    EXPECT_TRUE(sameBits(band1.rightY1, right1)) << show(band1.rightY1);
    EXPECT_TRUE(sameBits(band2.leftX1, static_cast<double>(static_cast<float>(left1))));
    EXPECT_TRUE(sameBits(band2.leftX2, static_cast<double>(static_cast<float>(left0))));
    EXPECT_TRUE(sameBits(band2.rightX1, static_cast<double>(static_cast<float>(right1))));
    EXPECT_NE(band2.leftX1, band1.leftY1);  // the rounding really happened
    EXPECT_TRUE(sameBits(arena.pin(PIN_OUTPUT1)[1], static_cast<float>(left1)));
    EXPECT_TRUE(sameBits(arena.pin(PIN_OUTPUT2)[1], static_cast<float>(right1)));
}

// With b0 = 1 and the rest 0 in every band (and controls that do not change,
// so no poll redesigns), every output equals its input.
TEST(Cascade, UnitCoefficientsPassEveryInputThrough) {
    constexpr size_t kBlock = 256;
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(kBlock);
    arena.attach(*module);
    fillActiveControls(arena);
    arena.fill(PIN_INPUT1, 0.5f);
    arena.fill(PIN_INPUT2, 0.5f);
    module.process(0, 1);
    for (BandFilter* band : module->bands) setUnitCoefficients(*band);
    const float specials[] = {FLT_MAX, -FLT_MAX, FLT_MIN, 1e-40f, -1e-45f,
                              1.0f,    -0.0f,    0.0f,    3e-20f};
    Rng rng(8);
    for (int block = 0; block < 4; ++block) {
        fillNoise(arena, PIN_INPUT1, rng, 2.0f);
        fillNoise(arena, PIN_INPUT2, rng, 2.0f);
        for (size_t i = 0; i < kBlock; i += 3) arena.pin(PIN_INPUT1)[i] = specials[(i / 3) % 9];
        for (size_t i = 1; i < kBlock; i += 5) arena.pin(PIN_INPUT2)[i] = specials[(i / 5) % 9];
        arena.fill(PIN_OUTPUT1, 0.5f);
        arena.fill(PIN_OUTPUT2, 0.5f);
        module.process(0, static_cast<int32_t>(kBlock));
        for (size_t i = 0; i < kBlock; ++i) {
            // Equal as numbers: a filtered -0.0 comes out as +0.0 (-0.0 + 0.0).
            ASSERT_EQ(arena.pin(PIN_OUTPUT1)[i], arena.pin(PIN_INPUT1)[i]) << "sample " << i;
            ASSERT_EQ(arena.pin(PIN_OUTPUT2)[i], arena.pin(PIN_INPUT2)[i]) << "sample " << i;
        }
    }
}

// ---------------------------------------------------------------------------
// A count of 0 or less reads and writes nothing and changes no state.

struct EmptyCall {
    int32_t offset, count;
    bool attached;  // false: pin variables left null, so any access would fault
};

class EmptyCalls : public ::testing::TestWithParam<EmptyCall> {};

TEST_P(EmptyCalls, TouchNothing) {
    const EmptyCall& c = GetParam();
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(kLength);
    arena.attach(*module);
    fillActiveControls(arena);
    Rng rng(9);
    fillNoise(arena, PIN_INPUT1, rng);
    fillNoise(arena, PIN_INPUT2, rng);
    module.process(0, 40);
    arena.fill(PIN_OUTPUT1, 0.125f);
    arena.fill(PIN_OUTPUT2, -0.125f);
    if (!c.attached)
        for (float*& pin : module->pins) pin = nullptr;
    const std::vector<float> buffersBefore = arena.storage();
    const LoopState before = stateOf(*module);

    module.process(c.offset, c.count);

    EXPECT_TRUE(sameSamples(arena.storage(), buffersBefore));
    EXPECT_TRUE(sameState(stateOf(*module), before));
}

INSTANTIATE_TEST_SUITE_P(Counts, EmptyCalls,
                         ::testing::Values(EmptyCall{0, 0, true}, EmptyCall{0, -5, true},
                                           EmptyCall{7, 0, true}, EmptyCall{3, -5, true},
                                           EmptyCall{0, 0, false}, EmptyCall{4096, -5, false},
                                           EmptyCall{-4096, INT32_MIN, false}));

// ---------------------------------------------------------------------------
// Whole runs: random blocks, offsets, silences, control changes and output
// places, with pins sharing buffers the way hosts share them. `process`, the
// sample-by-sample loop and the model must agree on every buffer word and on
// the loop state after every block.

const Sharing kSharings[] = {
    {"separate buffers", {}, 0},
    {"Output1 in place of Input1", {{PIN_OUTPUT1, PIN_INPUT1, 0}}, 1},
    {"Output2 in place of Input2", {{PIN_OUTPUT2, PIN_INPUT2, 0}}, 1},
    {"both outputs in place", {{PIN_OUTPUT1, PIN_INPUT1, 0}, {PIN_OUTPUT2, PIN_INPUT2, 0}}, 2},
    {"Output1 and Output2 one buffer", {{PIN_OUTPUT1, PIN_OUTPUT2, 0}}, 1},
    {"outputs crossed onto the inputs",
     {{PIN_OUTPUT1, PIN_INPUT2, 0}, {PIN_OUTPUT2, PIN_INPUT1, 0}},
     2},
    {"one buffer for everything audio",
     {{PIN_INPUT2, PIN_INPUT1, 0}, {PIN_OUTPUT1, PIN_INPUT1, 0}, {PIN_OUTPUT2, PIN_INPUT1, 0}},
     3},
    {"Output1 on Freq1", {{PIN_OUTPUT1, controlPin(0, CONTROL_FREQ), 0}}, 1},
    {"Output2 on Type3", {{PIN_OUTPUT2, controlPin(2, CONTROL_TYPE), 0}}, 1},
    {"Output1 on Gain5, Output2 in place",
     {{PIN_OUTPUT1, controlPin(4, CONTROL_GAIN), 0}, {PIN_OUTPUT2, PIN_INPUT2, 0}},
     2},
    {"Output1 one sample after Input1", {{PIN_OUTPUT1, PIN_INPUT1, 1}}, 1},
    {"Output1 one sample before Input1", {{PIN_OUTPUT1, PIN_INPUT1, -1}}, 1},
    {"Output2 three samples into Q2", {{PIN_OUTPUT2, controlPin(1, CONTROL_Q), 3}}, 1},
    {"Output1 two samples after Output2", {{PIN_OUTPUT1, PIN_OUTPUT2, 2}}, 1},
};

class SharedBuffers : public ::testing::TestWithParam<Sharing> {};

TEST_P(SharedBuffers, BehaveAsTheSampleBySampleDefinition) {
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        expectAgreementOnRandomRun(GetParam(), seed, 30, true);
        if (HasFatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, SharedBuffers, ::testing::ValuesIn(kSharings),
                         [](const ::testing::TestParamInfo<Sharing>& info) {
                             return "layout" + std::to_string(info.index);
                         });

TEST(RandomRuns, AgreeBitForBitAndCoverEveryTreatment) {
    model::Tally tally;
    for (uint64_t seed = 100; seed < 116; ++seed) {
        expectAgreementOnRandomRun(kSharings[0], seed, 40, seed % 2 == 0, &tally);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(tally.filtered, 10000);
    EXPECT_GT(tally.flushed, 2000);
    EXPECT_GT(tally.skipped, 1000);
    EXPECT_GT(tally.cameToRest, 20);
    EXPECT_GT(tally.polls, 500);
}

}  // namespace
