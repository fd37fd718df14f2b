// Getting back from bad values: a NaN or infinite input sample, or a NaN
// design, poisons a band's delay values; at the next poll at which its
// coefficients are finite the band starts again from silence. And type
// controls that are NaN or beyond the 32-bit range.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "process_test_support.h"

namespace {

using namespace looptest;

constexpr size_t kLength = 128;

bool allDelaysFinite(const BandFilter& f) {
    return std::isfinite(f.leftY1) && std::isfinite(f.leftY2) && std::isfinite(f.leftX1) &&
           std::isfinite(f.leftX2) && std::isfinite(f.rightY1) && std::isfinite(f.rightY2) &&
           std::isfinite(f.rightX1) && std::isfinite(f.rightX2);
}

struct PoisonCase {
    const char* name;
    int pin;        // the pin that carries the bad value
    int32_t index;  // at this buffer index
    float value;
    int32_t badUntil;    // control samples [index, badUntil) carry it, for a control pin
    unsigned restarted;  // bands (bit k: band k+1) that start again at the poll on sample 64
};

std::ostream& operator<<(std::ostream& os, const PoisonCase& c) { return os << c.name; }

const PoisonCase kPoisonCases[] = {
    {"NaN on Input1", PIN_INPUT1, 40, kNaN, 41, 0b11111u},
    {"infinity on Input2", PIN_INPUT2, 50, kInf, 51, 0b11111u},
    {"-infinity on Input1 right before the poll", PIN_INPUT1, 63, -kInf, 64, 0b11111u},
    {"NaN design of band 3 for one poll", controlPin(2, CONTROL_FREQ), 32, kNaN, 64, 0b11100u},
    {"NaN gain of band 5 for one poll", controlPin(4, CONTROL_GAIN), 32, kNaN, 64, 0b10000u},
};

class Recovery : public ::testing::TestWithParam<PoisonCase> {};

TEST_P(Recovery, BandRestartsFromSilenceAtTheNextPoll) {
    const PoisonCase& c = GetParam();
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(kLength);
    arena.attach(*module);
    fillActiveControls(arena);
    Rng rng(21);
    fillNoise(arena, PIN_INPUT1, rng);
    fillNoise(arena, PIN_INPUT2, rng);
    arena.fill(c.pin, c.value, static_cast<size_t>(c.index),
               static_cast<size_t>(c.badUntil - c.index));

    // Polls on samples 0 and 32 (reading control samples 0 and 32).
    module.process(0, 64);
    bool poisoned = false;
    for (int k = 0; k < kBandCount; ++k) {
        const bool finite = allDelaysFinite(*module->bands[k]);
        EXPECT_EQ(!finite, ((c.restarted >> k) & 1u) != 0)
            << "band " << k + 1 << " before the poll";
        poisoned |= !finite;
    }
    ASSERT_TRUE(poisoned);

    // The poll on sample 64 restarts exactly the poisoned bands: their delay
    // values were zero when the sample came in, so what was x1 and y1 (now
    // x2 and y2) is 0.0, in both chains.
    module.process(64, 1);
    for (int k = 0; k < kBandCount; ++k) {
        const BandFilter& band = *module->bands[k];
        EXPECT_TRUE(allDelaysFinite(band)) << "band " << k + 1;
        const bool restarted = ((c.restarted >> k) & 1u) != 0;
        for (double v : {band.leftX2, band.leftY2, band.rightX2, band.rightY2})
            EXPECT_EQ(v == 0.0, restarted) << "band " << k + 1 << ": " << show(v);
    }

    // From the poll on, the output is finite.
    module.process(65, static_cast<int32_t>(kLength) - 65);
    for (int pin : {PIN_OUTPUT1, PIN_OUTPUT2})
        for (size_t i = 64; i < kLength; ++i)
            EXPECT_TRUE(std::isfinite(arena.pin(pin)[i])) << "pin " << pin << " sample " << i;
}

INSTANTIATE_TEST_SUITE_P(BadValues, Recovery, ::testing::ValuesIn(kPoisonCases));

// While a band's design stays NaN there is nothing to restart it with: it
// stays NaN, and so does everything after it. The first poll that designs it
// finite again restarts it and the bands after it.
TEST(RecoveryWaitsForAFiniteDesign, OutputTurnsFiniteOnTheFirstFinitePoll) {
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(kLength);
    arena.attach(*module);
    fillActiveControls(arena);
    Rng rng(22);
    fillNoise(arena, PIN_INPUT1, rng);
    fillNoise(arena, PIN_INPUT2, rng);
    arena.fill(controlPin(1, CONTROL_Q), kNaN, 32, 64);  // read by the polls on 32 and 64

    module.process(0, static_cast<int32_t>(kLength));

    for (int pin : {PIN_OUTPUT1, PIN_OUTPUT2})
        for (size_t i = 0; i < kLength; ++i) {
            const bool expectFinite = i < 32 || i >= 96;
            EXPECT_EQ(std::isfinite(arena.pin(pin)[i]), expectFinite)
                << "pin " << pin << " sample " << i;
        }
    for (const BandFilter* band : module->bands) EXPECT_TRUE(allDelaysFinite(*band));
}

// Random runs with NaN and infinite bursts in the inputs and NaN controls:
// once a run has been free of them for a whole poll spacing, the output is
// finite again, and every path agrees bit for bit (NaNs as NaNs).
TEST(RecoveryInRandomRuns, EveryPathAgrees) {
    for (uint64_t seed = 200; seed < 208; ++seed) {
        expectAgreementOnRandomRun(Sharing{"separate buffers", {}, 0}, seed, 40, true);
        if (HasFatalFailure()) return;
    }
}

// ---------------------------------------------------------------------------
// The type control is truncated toward zero; NaN and values beyond the
// signed 32-bit range give INT32_MIN. Any type outside 0..8 has no response
// and the band passes its input through (b0 = 1, the rest 0).

struct TypeCase {
    float control;
    int32_t type;
};

std::ostream& operator<<(std::ostream& os, const TypeCase& c) { return os << c.control; }

constexpr int32_t kLowest = std::numeric_limits<int32_t>::min();

const TypeCase kTypeCases[] = {
    {kNaN, kLowest},
    {3e9f, kLowest},
    {-3e9f, kLowest},
    {kInf, kLowest},
    {-kInf, kLowest},
    {2147483648.0f, kLowest},     // 2^31: just out of range
    {-2147483648.0f, kLowest},    // -2^31: in range, and the same value
    {2147483520.0f, 2147483520},  // the largest float below 2^31
    {-2147483520.0f, -2147483520},
    {5.9f, 5},
    {-0.7f, 0},
    {8.99f, 8},
    {9.0f, 9},
    {-1.0f, -1},
    {-0.0f, 0},
};

class TypeControl : public ::testing::TestWithParam<TypeCase> {};

TEST_P(TypeControl, TruncatesOrFallsBackToNoResponse) {
    const TypeCase& c = GetParam();
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(kLength);
    arena.attach(*module);
    fillActiveControls(arena);
    for (int band = 0; band < kBandCount; ++band)
        arena.fill(controlPin(band, CONTROL_TYPE), c.control);
    Rng rng(23);
    fillNoise(arena, PIN_INPUT1, rng);
    fillNoise(arena, PIN_INPUT2, rng);

    module.process(0, static_cast<int32_t>(kLength));

    const bool hasResponse = c.type >= 0 && c.type <= 8;
    for (int k = 0; k < kBandCount; ++k) {
        const BandFilter& band = *module->bands[k];
        EXPECT_EQ(module->bandType[k], c.type) << "band " << k + 1;
        EXPECT_EQ(band.type, c.type) << "band " << k + 1;
        if (!hasResponse) {
            EXPECT_TRUE(band.b0 == 1.0 && band.b1 == 0.0 && band.b2 == 0.0 && band.a1 == 0.0 &&
                        band.a2 == 0.0)
                << "band " << k + 1;
        }
    }
    for (size_t i = 0; i < kLength; ++i) {
        const float out1 = arena.pin(PIN_OUTPUT1)[i];
        const float out2 = arena.pin(PIN_OUTPUT2)[i];
        ASSERT_TRUE(std::isfinite(out1) && std::isfinite(out2)) << "sample " << i;
        if (!hasResponse) {
            ASSERT_TRUE(sameBits(out1, arena.pin(PIN_INPUT1)[i])) << "sample " << i;
            ASSERT_TRUE(sameBits(out2, arena.pin(PIN_INPUT2)[i])) << "sample " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Values, TypeControl, ::testing::ValuesIn(kTypeCases));

}  // namespace
