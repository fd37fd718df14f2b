// When the loop reads the band controls, and which control samples it reads.
//
// Band 1 is a 12 dB peak whose frequency control carries a different value
// on every sample (so the cached frequency tells which control sample the
// last poll read); bands 2 to 5 have a type without a response and pass the
// signal through. One control sample, the marker, sets band 1's type to one
// without a response as well: while the design read from the marker is in
// force the equaliser's output equals its input bit for bit, and only then.
#include <gtest/gtest.h>

#include <string>

#include "process_test_support.h"

namespace {

using namespace looptest;

constexpr size_t kLength = 128;
constexpr float kPeakType = 6.0f;
constexpr float kNoResponseType = 20.0f;
constexpr float kOutput1Place = 0.5f;  // with both inputs zero, these let bands at rest skip
constexpr float kOutput2Place = 0.25f;

float freqControlAt(int32_t index) { return 100.0f + static_cast<float>(index); }

struct PollCase {
    const char* name;
    int32_t entryCounter;  // pollCounter when the call begins (32: as after open)
    int32_t offset;
    int32_t count;
    bool resting;                 // every delay value zero when the call begins
    int32_t skipFrom, skipCount;  // call samples whose inputs are both zero
    int32_t marker;               // control buffer index holding the no-response type
    int32_t passFrom, passTo;     // call samples expected to pass through unchanged
    int32_t counterAfter;
    int32_t lastControlRead;  // control buffer index the last poll of the call read
};

std::ostream& operator<<(std::ostream& os, const PollCase& c) { return os << c.name; }

// Silent samples are skipped when the bands rest; while band 1 still rings
// from the noise before them they are filtered, and count, like any other.
const PollCase kPollCases[] = {
    {"first sample of the first call polls", 32, 0, 1, true, 0, 0, 0, 0, 1, 1, 0},
    {"first call polls on sample 0 and 32", 32, 0, 40, true, 0, 0, 0, 0, 32, 8, 32},
    {"64 samples: poll 0 reads control 0", 32, 0, 64, true, 0, 0, 0, 0, 32, 32, 32},
    {"64 samples: poll on 32 reads control 32", 32, 0, 64, true, 0, 0, 32, 32, 64, 32, 32},
    {"counter 20: poll on sample 12 reads control 0", 20, 0, 40, false, 0, 0, 0, 12, 40, 28, 0},
    {"counter 20: control 12 is not read", 20, 0, 40, false, 0, 0, 12, 0, 0, 28, 0},
    {"counter 20: next poll on 44 reads control 32", 20, 0, 50, false, 0, 0, 32, 44, 50, 6, 32},
    {"offset 5: first poll reads control 5", 32, 5, 40, true, 0, 0, 5, 0, 32, 8, 37},
    {"offset 5: control 0 is never read", 32, 5, 40, true, 0, 0, 0, 0, 0, 8, 37},
    {"offset 5: second poll reads control 37", 32, 5, 40, true, 0, 0, 37, 32, 40, 8, 37},
    {"skips at rest do not count, move controls by one", 32, 0, 60, true, 0, 4, 36, 36, 60, 24,
     36},
    {"skips at rest: control 32 is not read", 32, 0, 60, true, 0, 4, 32, 0, 0, 24, 36},
    {"counter 20 with 5 skips at rest: poll on 17 reads 5", 20, 0, 40, true, 0, 5, 5, 17, 40, 23,
     5},
    {"offset 3, silence while ringing is filtered and counted", 32, 3, 70, false, 40, 2, 67, 64,
     70, 6, 67},
    {"offset 3, silence while ringing: control 69 is not read", 32, 3, 70, false, 40, 2, 69, 0, 0,
     6, 67},
};

class PollTiming : public ::testing::TestWithParam<PollCase> {};

TEST_P(PollTiming, DesignTakesEffectOnThePollingSample) {
    const PollCase& c = GetParam();
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(kLength);
    arena.attach(*module);
    for (int band = 1; band < kBandCount; ++band)
        fillControls(arena, band, {100.0f, 0.0f, 0.1f, kNoResponseType});
    fillControls(arena, 0, {50.0f, 1.2f, 0.1f, kPeakType});

    if (c.entryCounter != 32) {
        // A first call designs band 1 as a peak; then the counter is set.
        Rng rng(7);
        fillNoise(arena, PIN_INPUT1, rng);
        fillNoise(arena, PIN_INPUT2, rng);
        module.process(0, 1);
        module->pollCounter = c.entryCounter;
    }
    if (c.resting)
        for (BandFilter* band : module->bands) clearDelayValues(*band);

    Rng rng(11);
    fillNoise(arena, PIN_INPUT1, rng);
    fillNoise(arena, PIN_INPUT2, rng);
    for (int32_t i = c.skipFrom; i < c.skipFrom + c.skipCount; ++i) {
        arena.pin(PIN_INPUT1)[c.offset + i] = 0.0f;
        arena.pin(PIN_INPUT2)[c.offset + i] = 0.0f;
    }
    arena.fill(PIN_OUTPUT1, kOutput1Place);
    arena.fill(PIN_OUTPUT2, kOutput2Place);
    float* freq = arena.pin(controlPin(0, CONTROL_FREQ));
    for (size_t i = 0; i < kLength; ++i) freq[i] = freqControlAt(static_cast<int32_t>(i));
    arena.pin(controlPin(0, CONTROL_TYPE))[c.marker] = kNoResponseType;
    const std::vector<float> before = arena.storage();

    module.process(c.offset, c.count);

    const float* in1 = arena.pin(PIN_INPUT1) + c.offset;
    const float* in2 = arena.pin(PIN_INPUT2) + c.offset;
    const float* out1 = arena.pin(PIN_OUTPUT1) + c.offset;
    const float* out2 = arena.pin(PIN_OUTPUT2) + c.offset;
    std::string expected, actual;
    for (int32_t i = 0; i < c.count; ++i) {
        const bool skipped = c.resting && i >= c.skipFrom && i < c.skipFrom + c.skipCount;
        if (skipped) {
            expected += '.';
            actual += out1[i] == 0.0f && out2[i] == 0.0f ? '.' : '?';
            continue;
        }
        expected += i >= c.passFrom && i < c.passTo ? 'P' : 'E';
        const bool passed = sameBits(out1[i], in1[i]) && sameBits(out2[i], in2[i]);
        const bool equalised = !sameBits(out1[i], in1[i]) && !sameBits(out2[i], in2[i]);
        actual += passed ? 'P' : equalised ? 'E' : '?';
    }
    EXPECT_EQ(actual, expected) << "P: passed through, E: equalised, .: skipped";
    EXPECT_EQ(module->pollCounter, c.counterAfter);
    EXPECT_EQ(module->cachedFreq[0], freqControlAt(c.lastControlRead));

    // Only the outputs inside the call's stretch were written.
    const std::vector<float>& after = arena.storage();
    for (int pin : {PIN_OUTPUT1, PIN_OUTPUT2}) {
        const size_t base = static_cast<size_t>(arena.pin(pin) - arena.storage().data());
        for (size_t i = 0; i < kLength; ++i) {
            const bool inside =
                i >= static_cast<size_t>(c.offset) && i < static_cast<size_t>(c.offset + c.count);
            if (!inside) {
                EXPECT_TRUE(sameBits(after[base + i], before[base + i]))
                    << "pin " << pin << " index " << i;
            }
        }
    }
    // Nothing but the outputs changed.
    for (int pin = 0; pin < PIN_OUTPUT1; ++pin) {
        const size_t base = static_cast<size_t>(arena.pin(pin) - arena.storage().data());
        for (size_t i = 0; i < kLength; ++i)
            ASSERT_TRUE(sameBits(after[base + i], before[base + i]))
                << "pin " << pin << " index " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, PollTiming, ::testing::ValuesIn(kPollCases));

// The counter carries over from call to call and counts filtered samples
// only, however the host cuts its blocks. Each call starts with its silent
// samples, and the bands are brought to rest before it so they are skipped.
TEST(PollCounter, CountsFilteredSamplesAcrossCalls) {
    struct Call {
        int32_t offset, count, skipped;  // the first `skipped` samples of the call are silent
    };
    const Call calls[] = {{0, 1, 0},  {0, 31, 0}, {0, 32, 0}, {7, 5, 2},    {0, 0, 0},
                          {3, -5, 0}, {1, 60, 9}, {0, 3, 2},  {0, 100, 17}, {9, 64, 0}};
    TestModule module;
    ASSERT_TRUE(module.valid());
    PinArena arena(kLength);
    arena.attach(*module);
    fillActiveControls(arena);
    Rng rng(3);
    int32_t filtered = 0;
    for (const Call& call : calls) {
        fillNoise(arena, PIN_INPUT1, rng);
        fillNoise(arena, PIN_INPUT2, rng);
        arena.fill(PIN_OUTPUT1, kOutput1Place);
        arena.fill(PIN_OUTPUT2, kOutput2Place);
        for (int32_t i = 0; i < call.skipped; ++i) {
            arena.pin(PIN_INPUT1)[call.offset + i] = 0.0f;
            arena.pin(PIN_INPUT2)[call.offset + i] = -0.0f;
        }
        for (BandFilter* band : module->bands) clearDelayValues(*band);
        module.process(call.offset, call.count);
        if (call.count > 0) filtered += call.count - call.skipped;
        const int32_t expected = filtered == 0 ? 32 : (filtered - 1) % 32 + 1;
        EXPECT_EQ(module->pollCounter, expected)
            << "after the call at " << call.offset << " for " << call.count;
    }
}

}  // namespace
