// The equaliser module: its pins, what open sets up, and the output status it
// derives from its inputs.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "equaliser/module.h"
#include "tests/unit/equaliser_fixture.h"
#include "tests/unit/recording_module.h"

namespace {

using hostif::Equaliser;
using hostif::FakeHost;

struct PinCase {
    int32_t index;
    const char* name;
    int32_t direction;
    const char* defaultText;  // null: none
};

std::vector<PinCase> allPins() {
    std::vector<PinCase> pins = {{0, "Input1", DIR_INPUT, "0"}, {1, "Input2", DIR_INPUT, "0"}};
    for (int band = 1; band <= 5; ++band) {
        static std::string names[5][4];
        const char* kinds[4] = {"Freq", "Gain", "Q", "Type"};
        const char* defaults[4] = {"5", "0", "3", "60"};
        for (int k = 0; k < 4; ++k) {
            names[band - 1][k] = kinds[k] + std::to_string(band);
            pins.push_back({4 * band - 2 + k, names[band - 1][k].c_str(), DIR_INPUT, defaults[k]});
        }
    }
    pins.push_back({22, "Output1", DIR_OUTPUT, nullptr});
    pins.push_back({23, "Output2", DIR_OUTPUT, nullptr});
    return pins;
}

void PrintTo(const PinCase& c, std::ostream* os) { *os << c.index << " " << c.name; }

class ModulePinDescription : public ::testing::TestWithParam<PinCase> {};

TEST_P(ModulePinDescription, DescribesTheAudioPinWithItsVariable) {
    const PinCase& c = GetParam();
    Equaliser eq;
    PinDescriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    descriptor.hostWord20 = 0x11111111;
    descriptor.flags = 0x22222222;
    descriptor.hostWord28 = 0x33333333;

    ASSERT_EQ(eq.dispatch(MOD_GET_PIN_PROPERTIES, c.index, 0, &descriptor), 1);
    EXPECT_STREQ(descriptor.name, c.name);
    EXPECT_EQ(descriptor.direction, c.direction);
    EXPECT_EQ(descriptor.datatype, DT_AUDIO);
    EXPECT_EQ(descriptor.variable, &eq.module->pins[c.index]);
    if (c.defaultText != nullptr)
        EXPECT_STREQ(descriptor.defaultText, c.defaultText);
    else
        EXPECT_EQ(descriptor.defaultText, nullptr) << "left as the asker zeroed it";
    // Words the module does not own stay as the asker left them.
    EXPECT_EQ(descriptor.hostWord20, 0x11111111);
    EXPECT_EQ(descriptor.flags, 0x22222222u);
    EXPECT_EQ(descriptor.hostWord28, 0x33333333);
}

INSTANTIATE_TEST_SUITE_P(AllPins, ModulePinDescription, ::testing::ValuesIn(allPins()),
                         [](const ::testing::TestParamInfo<PinCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(ModulePinDescription, IndicesOutsideTheTwentyFourLeaveTheDescriptorUntouched) {
    Equaliser eq;
    for (int32_t index : {24, 25, -1, 1000, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max()}) {
        unsigned char bytes[sizeof(PinDescriptor)];
        std::memset(bytes, 0x5A, sizeof bytes);
        EXPECT_EQ(eq.dispatch(MOD_GET_PIN_PROPERTIES, index, 0, bytes), 0) << "index " << index;
        for (unsigned char byte : bytes) ASSERT_EQ(byte, 0x5A) << "index " << index;
    }
}

// Every band of the instance designs at 2*pi / `rate`.
::testing::AssertionResult bandsDesignAt(const Equaliser& eq, double rate) {
    for (int band = 0; band < kBandCount; ++band) {
        if (eq.module->bands[band] == nullptr)
            return ::testing::AssertionFailure() << "band " << band << " missing";
        if (eq.module->bands[band]->radiansPerHertz != 6.283185307179586 / rate)
            return ::testing::AssertionFailure()
                   << "band " << band << " designs at " << 6.283185307179586 / eq.module->bands[band]->radiansPerHertz
                   << " Hz, not " << rate;
    }
    return ::testing::AssertionSuccess();
}

TEST(ModuleOpen, SetsUpTheBandsForTheSampleRate) {
    Equaliser eq;
    eq.setSampleRate(48000.0f);
    eq.open();
    EXPECT_EQ(eq.module->sampleRate, 48000.0f);
    EXPECT_TRUE(bandsDesignAt(eq, 48000.0));
    for (int band = 0; band < kBandCount; ++band) {
        SCOPED_TRACE(band);
        ASSERT_NE(eq.module->bands[band], nullptr);
        // Each filter starts in its initial state.
        EXPECT_EQ(eq.module->bands[band]->type, kInitialFilterType);
        EXPECT_EQ(eq.module->bands[band]->lastFreq, kFreqSentinel);
        EXPECT_EQ(eq.module->bands[band]->leftY1, 0.0);
        EXPECT_EQ(eq.module->bands[band]->rightX2, 0.0);
        EXPECT_EQ(eq.module->cachedFreq[band], -10.0f);
        EXPECT_EQ(eq.module->cachedGain[band], -1000.0f);
        EXPECT_EQ(eq.module->cachedQ[band], -5.0f);
        EXPECT_EQ(eq.module->bandType[band], 6);
        // Whatever cachedType holds, no control sample may match it.
        EXPECT_TRUE(std::isnan(eq.module->cachedType[band]));
    }
    EXPECT_EQ(eq.module->pollCounter, 32);
    EXPECT_EQ(eq.record->processEntry, &process);
    EXPECT_EQ(eq.module->currentProcess().function, &process);
    ASSERT_NE(eq.module->pinTable(), nullptr);
    EXPECT_EQ(eq.module->pinTable()->count(), kPinCount);
    EXPECT_EQ((*eq.module->pinTable())[23].variable, &eq.module->pins[23]);
}

TEST(ModuleOpen, TellsTheHostOfTheNewProcessFunctionOnlyTheFirstTime) {
    Equaliser eq;
    eq.open();
    EXPECT_EQ(eq.processFunctionChanges(), 1);
    eq.open();
    eq.open();
    EXPECT_EQ(eq.processFunctionChanges(), 1);
}

TEST(ModuleOpen, ReopeningReplacesTheFiltersAndResetsThePoll) {
    Equaliser eq;
    eq.open();
    eq.module->pollCounter = 7;
    eq.module->cachedFreq[2] = 0.5f;
    eq.module->bands[1]->leftY1 = 0.25;
    eq.setSampleRate(96000.0f);
    eq.open();
    EXPECT_EQ(eq.module->pollCounter, 32);
    EXPECT_EQ(eq.module->cachedFreq[2], -10.0f);
    EXPECT_EQ(eq.module->bands[1]->leftY1, 0.0);
    EXPECT_TRUE(bandsDesignAt(eq, 96000.0));
}

TEST(ModuleOpen, EachInstanceDesignsAtTheRateItWasOpenedWith) {
    // Whichever opens last, and a re-open at a new rate moves only that one.
    Equaliser first, second;
    first.setSampleRate(48000.0f);
    first.open();
    second.setSampleRate(96000.0f);
    second.open();
    EXPECT_TRUE(bandsDesignAt(first, 48000.0));
    EXPECT_TRUE(bandsDesignAt(second, 96000.0));
    first.setSampleRate(44100.0f);
    first.open();
    EXPECT_TRUE(bandsDesignAt(first, 44100.0));
    EXPECT_TRUE(bandsDesignAt(second, 96000.0));
}

TEST(ModuleOpen, RepeatedOpenAndCloseLeavesNothingBehind) {
    // Run under the leak checker: every open's filters and pin table must be
    // released by the next open or by close.
    for (int cycle = 0; cycle < 20; ++cycle) {
        Equaliser eq;
        for (int open = 0; open <= cycle % 4; ++open) eq.open();
    }
}

TEST(ModuleOpen, ASampleRateThatIsNotPositiveAndFiniteKeepsTheLastUsableOne) {
    const float unusable[] = {0.0f,
                              -0.0f,
                              -1.0f,
                              std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity()};
    for (float rate : unusable) {
        SCOPED_TRACE(rate);
        Equaliser fresh;
        fresh.setSampleRate(rate);
        fresh.open();
        EXPECT_EQ(fresh.module->sampleRate, 44100.0f);
        EXPECT_TRUE(bandsDesignAt(fresh, 44100.0));

        Equaliser opened;
        opened.setSampleRate(48000.0f);
        opened.open();
        opened.setSampleRate(rate);
        opened.open();
        EXPECT_EQ(opened.module->sampleRate, 48000.0f);
        EXPECT_TRUE(bandsDesignAt(opened, 48000.0));
    }
}

TEST(ModuleOpen, ARateSetAfterOpenWaitsForTheNextOpen) {
    Equaliser eq;
    eq.setSampleRate(48000.0f);
    eq.open();
    eq.setSampleRate(22050.0f);
    EXPECT_TRUE(bandsDesignAt(eq, 48000.0));
    EXPECT_EQ(eq.module->sampleRate, 48000.0f);
}

TEST(ModuleOpen, AnAbsurdPinCountFailsCleanly) {
    Equaliser eq;
    eq.host.pinCount = std::numeric_limits<int32_t>::max();
    eq.open();
    EXPECT_EQ(eq.record->processEntry, &SEModule_base::doNothingProcess);
    EXPECT_EQ(eq.module->currentProcess().function, &SEModule_base::doNothingProcess);
    EXPECT_EQ(eq.module->pinTable(), nullptr);
    for (BandFilter* band : eq.module->bands) EXPECT_EQ(band, nullptr);
    EXPECT_EQ(eq.processFunctionChanges(), 0);
    // Status events find no table; processing does nothing.
    EventRecord change = hostif::event(EVENT_PIN_STATUS, PIN_STREAMING, 0);
    eq.record->eventEntry(eq.record->object, &change);
    eq.record->processEntry(eq.record->object, 0, 16);
}

TEST(ModuleOpen, AFailedReopenFallsBackToTheDoNothingProcessFunction) {
    Equaliser eq;
    eq.open();
    ASSERT_EQ(eq.record->processEntry, &process);
    eq.host.pinCount = std::numeric_limits<int32_t>::max();
    eq.open();
    EXPECT_EQ(eq.record->processEntry, &SEModule_base::doNothingProcess);
    EXPECT_EQ(eq.processFunctionChanges(), 2);
    for (BandFilter* band : eq.module->bands) EXPECT_EQ(band, nullptr);

    // And a later good open recovers.
    eq.host.pinCount = kPinCount;
    eq.open();
    EXPECT_EQ(eq.record->processEntry, &process);
    for (BandFilter* band : eq.module->bands) EXPECT_NE(band, nullptr);
}

// Output status: derived from both inputs' statuses and current values.
struct OutputCase {
    const char* what;
    int32_t status1;
    float value1;
    int32_t status2;
    float value2;
    int32_t expected;
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.what; }

class ModuleOutputStatus : public ::testing::TestWithParam<OutputCase> {};

TEST_P(ModuleOutputStatus, FollowsTheInputs) {
    const OutputCase& c = GetParam();
    Equaliser eq;
    eq.open();
    std::vector<float> input1(64, c.value1);
    std::vector<float> input2(64, c.value2);
    eq.module->pins[PIN_INPUT1] = input1.data();
    eq.module->pins[PIN_INPUT2] = input2.data();
    eq.host.blockStart[PIN_INPUT1] = 100;
    eq.host.blockStart[PIN_INPUT2] = 100;
    eq.host.sampleClock = 110;
    eq.host.sampleClockStep = 3;  // every answer moves the clock on

    (*eq.module->pinTable())[PIN_INPUT1].status = c.status1;
    EventRecord change = hostif::event(EVENT_PIN_STATUS, c.status2, PIN_INPUT2);
    eq.host.requests.clear();
    eq.record->eventEntry(eq.record->object, &change);

    // Each notice carries the clock the module asked for just before it.
    std::vector<hostif::HostRequest> notices;
    int32_t lastClock = -1;
    int32_t clock = 110;
    std::vector<int32_t> clocksOfNotices;
    for (const auto& request : eq.host.requests) {
        if (request.opcode == HOST_GET_SAMPLE_CLOCK) {
            lastClock = clock;
            clock += 3;
        } else if (request.opcode == HOST_SET_PIN_STATUS) {
            notices.push_back(request);
            clocksOfNotices.push_back(lastClock);
        }
    }
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].index, PIN_OUTPUT1);
    EXPECT_EQ(notices[1].index, PIN_OUTPUT2);
    EXPECT_EQ(notices[0].value, c.expected);
    EXPECT_EQ(notices[1].value, c.expected);
    EXPECT_EQ(notices[0].pointer, clocksOfNotices[0]);
    EXPECT_EQ(notices[1].pointer, clocksOfNotices[1]);
    EXPECT_NE(notices[0].pointer, notices[1].pointer) << "the clock is asked anew for each output";
    EXPECT_EQ(eq.host.requests.back().opcode, HOST_SET_PIN_STATUS);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ModuleOutputStatus,
    ::testing::Values(
        OutputCase{"silent static input 1, streaming input 2", PIN_STATIC, 0.0f, PIN_STREAMING,
                   0.3f, 1},
        OutputCase{"both streaming", PIN_STREAMING, 0.0f, PIN_STREAMING, 0.0f, 2},
        OutputCase{"both static and sounding", PIN_STATIC, 0.5f, PIN_STATIC, 0.25f, 0},
        OutputCase{"static sounding, one change to silence", PIN_STATIC, 0.5f, PIN_ONE_CHANGE, 0.0f,
                   1},
        OutputCase{"static minus zero counts as silent", PIN_STATIC, -0.0f, PIN_STATIC, 0.25f, 1},
        OutputCase{"static NaN is not silent", PIN_STATIC, std::numeric_limits<float>::quiet_NaN(),
                   PIN_STATIC, 0.25f, 0},
        OutputCase{"streaming sounding, static silent", PIN_STREAMING, 0.7f, PIN_STATIC, 0.0f, 1}),
    [](const ::testing::TestParamInfo<OutputCase>& info) {
        std::string name;
        for (const char* c = info.param.what; *c != '\0'; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

}  // namespace
