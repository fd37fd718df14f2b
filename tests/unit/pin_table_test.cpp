// The pin table open builds from the module's pin descriptions and the host's
// pin count, and the current value of an audio pin.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <limits>
#include <vector>

#include "tests/unit/recording_module.h"

namespace {

using hostif::CallLog;
using hostif::describe;
using hostif::FakeHost;
using hostif::Recorded;

constexpr uint32_t kNoEntry = PIN_FLAG_NO_ENTRY;
constexpr uint32_t kKeep = PIN_FLAG_NO_ENTRY | PIN_FLAG_KEEP_ENTRY;
constexpr uint32_t kRepeat = PIN_FLAG_REPEAT_LAST;

// Module variables, one per description, so each pin can be traced to its
// descriptor.
struct Variables {
    float* audio[8] = {};
};

SEPin& pinAt(Recorded& instance, int32_t position) {
    return (*instance.module->pinTable())[position];
}

void expectDescribedPin(Recorded& instance, int32_t position, void* variable, int32_t datatype) {
    SEPin& pin = pinAt(instance, position);
    EXPECT_EQ(pin.owner, instance.module) << "position " << position;
    EXPECT_EQ(pin.index, position);
    EXPECT_EQ(pin.variable, variable) << "position " << position;
    EXPECT_EQ(pin.datatype, datatype) << "position " << position;
    EXPECT_EQ(pin.status, PIN_STATIC);
}

void expectUntouchedPin(Recorded& instance, int32_t position) {
    SEPin& pin = pinAt(instance, position);
    EXPECT_EQ(pin.owner, nullptr) << "position " << position;
    EXPECT_EQ(pin.variable, nullptr) << "position " << position;
    EXPECT_EQ(pin.index, 0) << "position " << position;
    EXPECT_EQ(pin.datatype, 0) << "position " << position;
    EXPECT_EQ(pin.status, PIN_STATIC);
}

TEST(PinTableSkipping, APinWithNoEntryFlagGivesItsPositionToTheNext) {
    Variables v;
    Recorded instance;
    instance.host.pinCount = 3;
    instance.module->descriptions = {
        describe(DT_AUDIO, &v.audio[0]), describe(DT_AUDIO, &v.audio[1], kNoEntry),
        describe(DT_AUDIO, &v.audio[2], kKeep), describe(DT_AUDIO, &v.audio[3])};
    instance.open();
    ASSERT_EQ(instance.module->pinTable()->count(), 3);
    expectDescribedPin(instance, 0, &v.audio[0], DT_AUDIO);
    expectDescribedPin(instance, 1, &v.audio[2], DT_AUDIO);  // kept: both flags
    expectDescribedPin(instance, 2, &v.audio[3], DT_AUDIO);
}

TEST(PinTableRepetition, TheLastPinFillsTheRemainingPositionsWithItsOwnStorage) {
    Variables v;
    Recorded instance;
    instance.host.pinCount = 6;
    instance.module->descriptions = {describe(DT_AUDIO, &v.audio[0]),
                                     describe(DT_FLOAT, &v.audio[1], kRepeat)};
    instance.open();
    expectDescribedPin(instance, 0, &v.audio[0], DT_AUDIO);
    expectDescribedPin(instance, 1, &v.audio[1], DT_FLOAT);
    for (int32_t position = 2; position < 6; ++position) {
        SEPin& pin = pinAt(instance, position);
        expectDescribedPin(instance, position, &pin.storage, DT_FLOAT);
        EXPECT_EQ(pin.storage.floatValue, 0.0f);
    }
}

TEST(PinTableRepetition, RepeatedAudioPinsAskTheHostForTheirBuffers) {
    float buffers[4][4] = {};
    Recorded instance;
    instance.host.pinCount = 4;
    for (int32_t pin = 0; pin < 4; ++pin) instance.host.pinBuffers[pin] = buffers[pin];
    Variables v;
    instance.module->descriptions = {describe(DT_AUDIO, &v.audio[0], kRepeat)};
    instance.open();
    const auto asked = instance.host.requestsOf(HOST_GET_PIN_BUFFER);
    ASSERT_EQ(asked.size(), 3u);
    for (int32_t position = 1; position < 4; ++position) {
        EXPECT_EQ(asked[static_cast<size_t>(position - 1)].index, position);
        EXPECT_EQ(pinAt(instance, position).storage.audioBuffer, buffers[position]);
    }
}

struct RepeatCase {
    const char* what;
    uint32_t lastFlags;
    int32_t hostCount;
    bool repeats;
};

void PrintTo(const RepeatCase& c, std::ostream* os) { *os << c.what; }

class PinTableRepetitionRule : public ::testing::TestWithParam<RepeatCase> {};

TEST_P(PinTableRepetitionRule, OnlyAnEntryWithTheRepeatFlagAndRoomLeftRepeats) {
    const RepeatCase& c = GetParam();
    Variables v;
    Recorded instance;
    instance.host.pinCount = c.hostCount;
    instance.module->descriptions = {describe(DT_INT, &v.audio[0]),
                                     describe(DT_INT, &v.audio[1], c.lastFlags)};
    instance.open();
    const int32_t described =
        (c.lastFlags & kNoEntry) != 0 && (c.lastFlags & PIN_FLAG_KEEP_ENTRY) == 0 ? 1 : 2;
    for (int32_t position = described; position < c.hostCount; ++position) {
        if (c.repeats)
            expectDescribedPin(instance, position, &pinAt(instance, position).storage, DT_INT);
        else
            expectUntouchedPin(instance, position);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flags, PinTableRepetitionRule,
    ::testing::Values(RepeatCase{"repeat", kRepeat, 5, true},
                      RepeatCase{"repeat of a kept pin", kRepeat | kKeep, 5, true},
                      RepeatCase{"no repeat flag", 0, 5, false},
                      RepeatCase{"repeat of a skipped pin", kRepeat | kNoEntry, 5, false},
                      RepeatCase{"no room left", kRepeat, 2, false}));

TEST(PinTableRepetition, AskedForOnceMoreAfterTheLastDescription) {
    Variables v;
    Recorded instance;
    instance.host.pinCount = 2;
    instance.module->descriptions = {describe(DT_AUDIO, &v.audio[0]),
                                     describe(DT_AUDIO, &v.audio[1])};
    instance.dispatch(MOD_OPEN);
    EXPECT_EQ(instance.log, (CallLog{"open()", "getPinProperties(0)", "getPinProperties(1)",
                                     "getPinProperties(2)", "getPinProperties(1)"}));
}

struct StorageCase {
    int32_t datatype;
    bool ownStorage;
};

void PrintTo(const StorageCase& c, std::ostream* os) { *os << "datatype " << c.datatype; }

class PinOwnStorage : public ::testing::TestWithParam<StorageCase> {};

TEST_P(PinOwnStorage, WithoutAModuleVariableAPinKeepsItsValueByDatatype) {
    const StorageCase& c = GetParam();
    Recorded instance;
    instance.host.pinCount = 1;
    instance.module->descriptions = {describe(c.datatype)};
    instance.open();
    SEPin& pin = pinAt(instance, 0);
    EXPECT_EQ(pin.datatype, c.datatype);
    EXPECT_EQ(pin.variable, c.ownStorage ? static_cast<void*>(&pin.storage) : nullptr);
    EXPECT_EQ(pin.storage.intValue, 0);
    EXPECT_TRUE(instance.host.requestsOf(HOST_GET_PIN_BUFFER).empty());
}

// Own storage for short, byte, float and int values; none for the rest.
INSTANTIATE_TEST_SUITE_P(
    Datatypes, PinOwnStorage,
    ::testing::Values(StorageCase{DT_SHORT, true}, StorageCase{DT_BYTE, true},
                      StorageCase{DT_FLOAT, true}, StorageCase{DT_INT, true},
                      StorageCase{DT_TYPE1, false}, StorageCase{DT_TYPE2, false},
                      StorageCase{DT_TYPE3, false}, StorageCase{DT_TYPE7, false},
                      StorageCase{9, false}, StorageCase{-1, false}));

TEST(PinAudioStorage, WithoutAVariableTheHostsBufferIsAskedForOnceAtOpen) {
    float hostBuffer[8] = {};
    Recorded instance;
    instance.host.pinCount = 2;
    instance.host.pinBuffers[1] = hostBuffer;
    float* variable = nullptr;
    instance.module->descriptions = {describe(DT_AUDIO, &variable), describe(DT_AUDIO)};
    instance.open();

    const auto asked = instance.host.requestsOf(HOST_GET_PIN_BUFFER);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].index, 1);
    SEPin& own = pinAt(instance, 1);
    EXPECT_EQ(own.variable, &own.storage);
    EXPECT_EQ(own.storage.audioBuffer, hostBuffer);

    // Reading values asks for clocks, never for the buffer again.
    own.currentValue();
    EXPECT_EQ(instance.host.requestsOf(HOST_GET_PIN_BUFFER).size(), 1u);
}

TEST(PinAudioStorage, WithAVariableSamplesAreReadThroughTheModulesVariable) {
    float first[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    float second[4] = {5.0f, 6.0f, 7.0f, 8.0f};
    float* variable = first;
    Recorded instance;
    instance.host.pinCount = 1;
    instance.module->descriptions = {describe(DT_AUDIO, &variable)};
    instance.open();
    SEPin& pin = pinAt(instance, 0);
    EXPECT_EQ(pin.variable, &variable);
    EXPECT_EQ(pin.storage.intValue, 0);
    EXPECT_EQ(pin.currentValue(), 1.0f);
    variable = second;  // the host moved on to the next block's buffer
    EXPECT_EQ(pin.currentValue(), 5.0f);
}

TEST(PinTableSize, AHostWithFewerPinsGetsATableOfItsCount) {
    Variables v;
    Recorded instance;
    instance.host.pinCount = 2;
    instance.module->descriptions = {
        describe(DT_AUDIO, &v.audio[0]), describe(DT_AUDIO, &v.audio[1]),
        describe(DT_AUDIO, &v.audio[2]), describe(DT_AUDIO, &v.audio[3])};
    instance.dispatch(MOD_OPEN);
    ASSERT_EQ(instance.module->pinTable()->count(), 2);
    expectDescribedPin(instance, 0, &v.audio[0], DT_AUDIO);
    expectDescribedPin(instance, 1, &v.audio[1], DT_AUDIO);
    // Enumeration stops once the table is full.
    EXPECT_EQ(instance.log, (CallLog{"open()", "getPinProperties(0)", "getPinProperties(1)",
                                     "getPinProperties(2)", "getPinProperties(1)"}));
}

TEST(PinTableSize, AHostWithMorePinsLeavesTheExtraPositionsUninitialised) {
    Variables v;
    Recorded instance;
    instance.host.pinCount = 5;
    instance.module->descriptions = {describe(DT_AUDIO, &v.audio[0]),
                                     describe(DT_AUDIO, &v.audio[1])};
    instance.open();
    ASSERT_EQ(instance.module->pinTable()->count(), 5);
    expectDescribedPin(instance, 0, &v.audio[0], DT_AUDIO);
    expectDescribedPin(instance, 1, &v.audio[1], DT_AUDIO);
    for (int32_t position = 2; position < 5; ++position) expectUntouchedPin(instance, position);
}

TEST(PinTableSize, AModuleDescribingNoPinsGetsTheHostsCountOfBlankPins) {
    Recorded instance;
    instance.host.pinCount = 4;
    instance.dispatch(MOD_OPEN);
    ASSERT_NE(instance.module->pinTable(), nullptr);
    ASSERT_EQ(instance.module->pinTable()->count(), 4);
    for (int32_t position = 0; position < 4; ++position) expectUntouchedPin(instance, position);
    // No repetition: the query for descriptor -1 fails.
    EXPECT_EQ(instance.log, (CallLog{"open()", "getPinProperties(0)", "getPinProperties(-1)"}));
}

TEST(PinTableSize, NoPinsReportedMakesNoTableAndKeepsAnEarlierOne) {
    Variables v;
    Recorded instance;
    instance.module->descriptions = {describe(DT_AUDIO, &v.audio[0])};
    for (int32_t count : {0, -1, std::numeric_limits<int32_t>::min()}) {
        instance.host.pinCount = count;
        instance.open();
        EXPECT_EQ(instance.module->pinTable(), nullptr) << "count " << count;
    }

    instance.host.pinCount = 1;
    instance.open();
    PinTable* earlier = instance.module->pinTable();
    ASSERT_NE(earlier, nullptr);
    instance.host.pinCount = 0;
    instance.open();
    EXPECT_EQ(instance.module->pinTable(), earlier);
}

TEST(PinTableSize, OpeningAgainReplacesTheTable) {
    Variables v;
    Recorded instance;
    instance.module->descriptions = {describe(DT_AUDIO, &v.audio[0], kRepeat)};
    instance.host.pinCount = 2;
    instance.open();
    instance.host.pinCount = 7;
    instance.open();
    ASSERT_EQ(instance.module->pinTable()->count(), 7);
    expectDescribedPin(instance, 6, &pinAt(instance, 6).storage, DT_AUDIO);
}

TEST(PinTableSize, AnAbsurdCountFailsAsAnAllocationFailure) {
    EXPECT_EQ(PinTable::create(std::numeric_limits<int32_t>::max()), nullptr);
    EXPECT_EQ(PinTable::create(0), nullptr);
    EXPECT_EQ(PinTable::create(-5), nullptr);

    Recorded instance;
    instance.host.pinCount = std::numeric_limits<int32_t>::max();
    instance.module->descriptions = {describe(DT_AUDIO)};
    instance.dispatch(MOD_OPEN);
    EXPECT_EQ(instance.module->pinTable(), nullptr);
}

TEST(PinTableWithoutHost, ANullCallbackMeansNoPins) {
    CallLog log;
    auto* module = new hostif::RecordingModule(&log);
    module->descriptions = {describe(DT_AUDIO)};
    module->dispatcher(MOD_OPEN, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(module->pinTable(), nullptr);
    module->dispatcher(MOD_CLOSE, 0, 0, nullptr, 0.0f);
}

// Current value: the sample of the pin's buffer that belongs to the host's clock.
struct ClockCase {
    int32_t clock;
    int32_t blockStart;
    float expected;
};

void PrintTo(const ClockCase& c, std::ostream* os) {
    *os << "clock " << c.clock << ", block start " << c.blockStart;
}

class PinCurrentValue : public ::testing::TestWithParam<ClockCase> {};

TEST_P(PinCurrentValue, ReadsTheSampleAtTheClockWithinTheBlock) {
    const ClockCase& c = GetParam();
    std::vector<float> samples(32);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = 100.0f + static_cast<float>(i);
    float* variable = samples.data();
    Recorded instance;
    instance.host.pinCount = 3;
    Variables v;
    instance.module->descriptions = {describe(DT_AUDIO, &v.audio[0]),
                                     describe(DT_AUDIO, &v.audio[1]),
                                     describe(DT_AUDIO, &variable)};
    instance.open();
    instance.host.sampleClock = c.clock;
    instance.host.blockStart[2] = c.blockStart;
    instance.host.requests.clear();

    EXPECT_EQ(pinAt(instance, 2).currentValue(), c.expected);
    // The block start of this very pin, then the clock.
    ASSERT_EQ(instance.host.requests.size(), 2u);
    EXPECT_EQ(instance.host.requests[0].opcode, HOST_GET_BLOCK_START_CLOCK);
    EXPECT_EQ(instance.host.requests[0].index, 2);
    EXPECT_EQ(instance.host.requests[1].opcode, HOST_GET_SAMPLE_CLOCK);
}

INSTANTIATE_TEST_SUITE_P(Clocks, PinCurrentValue,
                         ::testing::Values(ClockCase{1000, 990, 110.0f},
                                           ClockCase{990, 990, 100.0f},
                                           ClockCase{-5, -36, 131.0f}));

TEST(PinCurrentValue, WithoutAHostTheFirstSampleIsRead) {
    float samples[3] = {0.75f, 0.5f, 0.25f};
    float* variable = samples;
    SEModule_base owner(nullptr, 0);
    SEPin pin;
    pin.initialise(&owner, 0, describe(DT_AUDIO, &variable));
    EXPECT_EQ(pin.currentValue(), 0.75f);
}

TEST(PinCurrentValue, APinWithoutABufferReadsSilence) {
    float* variable = nullptr;
    Recorded instance;
    instance.host.pinCount = 1;
    instance.module->descriptions = {describe(DT_AUDIO, &variable)};
    instance.open();
    EXPECT_EQ(pinAt(instance, 0).currentValue(), 0.0f);
}

}  // namespace
