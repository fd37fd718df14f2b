// The real module library driven through the stand-in host: what the host
// sees of the exports, the record, the opcodes, events, pins and processing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host_interface/se_module_base.h"
#include "tests/host/loaded_library.h"

namespace {

using hosttest::moduleExports;
using standin::Instance;

TEST(LibraryExports, DescribeTheEqualiserAsModuleZero) {
    ModuleInfo info;
    std::memset(&info, 0, sizeof info);
    ASSERT_EQ(standin::callGetModuleProperties(moduleExports(), 0, &info), 1);
    EXPECT_EQ(info.interfaceVersion, 2230);
    EXPECT_STREQ(info.name, "Quorvane");
    EXPECT_STREQ(info.id, "Quorvane");
    EXPECT_EQ(std::strncmp(info.about, "Five Band EQ", 12), 0) << info.about;

    ModuleInfo other;
    std::memset(&other, 0, sizeof other);
    EXPECT_EQ(standin::callGetModuleProperties(moduleExports(), 1, &other), 0);
    EXPECT_EQ(other.interfaceVersion, 2230);
    EXPECT_EQ(other.name, nullptr);
    EXPECT_EQ(other.about, nullptr);
}

TEST(LibraryExports, CreateInstancesOnlyForModuleZeroOfKindOne) {
    EXPECT_FALSE(Instance(moduleExports(), 1, 1).valid());
    EXPECT_FALSE(Instance(moduleExports(), 0, 2).valid());
    EXPECT_FALSE(Instance(moduleExports(), 0, 0).valid());
    EXPECT_TRUE(Instance(moduleExports(), 0, 1).valid());
}

TEST(LibraryRecord, HoldsTheHostValueAndLeadsToTheObject) {
    Instance instance(moduleExports());
    ModuleRecord* record = instance.record();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(hosttest::wordAt(record, 0), 0x646F6365u);
    EXPECT_EQ(record->version, 1);
    EXPECT_EQ(record->hostValue, reinterpret_cast<intptr_t>(&instance));
    EXPECT_NE(record->object, nullptr);
    EXPECT_EQ(record->reserved16, 0);
    for (int32_t word : record->reserved32) EXPECT_EQ(word, 0);

    // The process information block names a member of the same object.
    const auto* info = reinterpret_cast<const ProcessInfo*>(instance.dispatch(MOD_GET_PROCESS_INFO));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->member->function, record->processEntry);
}

TEST(LibraryOpcodes, AnswerAsTheHostExpects) {
    Instance instance(moduleExports());
    EXPECT_EQ(instance.dispatch(MOD_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f), 0);
    EXPECT_EQ(instance.dispatch(MOD_SET_BLOCK_SIZE, 0, 256), 0);
    PinDescriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    EXPECT_EQ(instance.dispatch(MOD_GET_PIN_PROPERTIES, 23, 0, &descriptor), 1);
    EXPECT_EQ(instance.dispatch(MOD_GET_PIN_PROPERTIES, 24, 0, &descriptor), 0);
    EXPECT_EQ(instance.dispatch(MOD_GET_PIN_PROPERTIES, -1, 0, &descriptor), 0);
    EXPECT_EQ(instance.dispatch(MOD_GET_PIN_PROPERTIES, 0, 0, nullptr), 0);
    EXPECT_EQ(instance.dispatch(MOD_NOTIFY, 3), 0);
    EXPECT_EQ(instance.dispatch(MOD_MESSAGE, 1, 2, &descriptor), 0);
    for (int32_t unhandled : {4, 5, 7, 9, 10, 11, 14, -1})
        EXPECT_EQ(instance.dispatch(unhandled, 1, 2, &descriptor, 3.0f), 0) << "opcode " << unhandled;

    const intptr_t block = instance.dispatch(MOD_GET_PROCESS_INFO);
    const auto* info = reinterpret_cast<const ProcessInfo*>(block);
    EXPECT_EQ(info->one, 1);
#if QV_TARGET_LAYOUT
    EXPECT_EQ(info->memberSize, 16);
#else
    EXPECT_EQ(info->memberSize, static_cast<int32_t>(sizeof(ProcessFunction)));
#endif
    EXPECT_EQ(info->zero, 0);
    Instance other(moduleExports());
    EXPECT_EQ(other.dispatch(MOD_GET_PROCESS_INFO), block);

    EXPECT_EQ(instance.dispatch(MOD_OPEN), 0);
    EXPECT_TRUE(instance.requests.size() > 0) << "open asks the host for its pin count";
    EXPECT_EQ(instance.close(), 1);
}

TEST(LibraryEvents, ReachTheObjectThroughTheObjectPointer) {
    Instance instance(moduleExports());
    hosttest::CallProbe::calledOn = nullptr;
    hosttest::CallProbe::calls = 0;
    EventRecord request;
    std::memset(&request, 0, sizeof request);
    request.eventType = EVENT_CALL_REQUEST;
    request.ptrParam = reinterpret_cast<intptr_t>(&hosttest::CallProbe::note);
    instance.sendEvent(request);
    EXPECT_EQ(hosttest::CallProbe::calls, 1);
    EXPECT_EQ(hosttest::CallProbe::calledOn, static_cast<void*>(instance.record()->object));
}

TEST(LibraryPins, TheHostSeesTwentyFourAudioPins) {
    Instance instance(moduleExports());
    instance.open();
    ASSERT_EQ(instance.pins().size(), 24u);
    const char* expectedNames[24] = {"Input1", "Input2", "Freq1", "Gain1", "Q1",     "Type1",
                                     "Freq2",  "Gain2",  "Q2",    "Type2", "Freq3",  "Gain3",
                                     "Q3",     "Type3",  "Freq4", "Gain4", "Q4",     "Type4",
                                     "Freq5",  "Gain5",  "Q5",    "Type5", "Output1", "Output2"};
    const char* expectedDefaults[4] = {"5", "0", "3", "60"};
    for (size_t pin = 0; pin < 24; ++pin) {
        const standin::PinInfo& info = instance.pins()[pin];
        EXPECT_EQ(info.name, expectedNames[pin]);
        EXPECT_EQ(info.descriptor.datatype, DT_AUDIO);
        EXPECT_EQ(info.descriptor.flags, 0u);
        EXPECT_NE(info.descriptor.variable, nullptr);
        if (pin >= 22) {
            EXPECT_EQ(info.descriptor.direction, DIR_OUTPUT) << info.name;
            EXPECT_FALSE(info.hasDefault) << info.name;
        } else {
            EXPECT_EQ(info.descriptor.direction, DIR_INPUT) << info.name;
            ASSERT_TRUE(info.hasDefault) << info.name;
            EXPECT_EQ(info.defaultText, pin < 2 ? "0" : expectedDefaults[(pin - 2) % 4]) << info.name;
        }
    }
}

TEST(LibraryOpen, InstallsProcessingAndTellsTheHostOnce) {
    Instance instance(moduleExports());
    const ProcessEntry before = instance.record()->processEntry;
    instance.setSampleRate(48000.0f);
    instance.open();
    EXPECT_NE(instance.record()->processEntry, before);
    EXPECT_EQ(instance.processFunctionChanges, 1);
    instance.open();
    EXPECT_EQ(instance.processFunctionChanges, 1);
}

TEST(LibraryOpen, AnAbsurdPinCountLeavesTheInstanceDoingNothing) {
    Instance instance(moduleExports());
    const ProcessEntry before = instance.record()->processEntry;
    instance.overridePinCount = true;
    instance.pinCount = std::numeric_limits<int32_t>::max();
    instance.open();
    EXPECT_EQ(instance.record()->processEntry, before);
    EXPECT_EQ(instance.processFunctionChanges, 0);

    const int32_t output = instance.pinIndex("Output1");
    instance.fill(output, 0.5f);
    instance.fill(instance.pinIndex("Input1"), 0.25f);
    instance.process(0, 16);
    EXPECT_EQ(instance.buffer(output)[0], 0.5f);
    instance.sendPinStatus(0, PIN_STREAMING);
    EXPECT_TRUE(instance.statusNotices.empty());
}

struct OutputStatusCase {
    const char* what;
    int32_t status1;
    float value1;
    int32_t status2;
    float value2;
    int32_t expected;
};

void PrintTo(const OutputStatusCase& c, std::ostream* os) { *os << c.what; }

class LibraryOutputStatus : public ::testing::TestWithParam<OutputStatusCase> {};

TEST_P(LibraryOutputStatus, IsReportedForBothOutputsWithTheSampleClock) {
    const OutputStatusCase& c = GetParam();
    Instance instance(moduleExports());
    instance.setBlockSize(64);
    instance.open();
    instance.fill(0, c.value1);
    instance.fill(1, c.value2);
    instance.sampleClock = 5000;
    instance.blockStartClock.assign(instance.blockStartClock.size(), 4990);
    instance.sendPinStatus(0, c.status1);
    instance.statusNotices.clear();
    instance.sendPinStatus(1, c.status2);
    ASSERT_EQ(instance.statusNotices.size(), 2u);
    EXPECT_EQ(instance.statusNotices[0].pin, 22);
    EXPECT_EQ(instance.statusNotices[1].pin, 23);
    for (const auto& notice : instance.statusNotices) {
        EXPECT_EQ(notice.status, c.expected);
        EXPECT_EQ(notice.clock, 5000);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, LibraryOutputStatus,
    ::testing::Values(OutputStatusCase{"silent and streaming", PIN_STATIC, 0.0f, PIN_STREAMING, 0.3f, 1},
                      OutputStatusCase{"both streaming", PIN_STREAMING, 0.4f, PIN_STREAMING, 0.3f, 2},
                      OutputStatusCase{"both static and sounding", PIN_STATIC, 0.5f, PIN_STATIC, 0.25f, 0}));

TEST(LibraryProcessing, EqualisesAudioTheSameWayInEveryInstance) {
    std::vector<float> outputs[2];
    for (auto& output : outputs) {
        Instance instance(moduleExports());
        instance.setSampleRate(48000.0f);
        instance.setBlockSize(256);
        instance.open();
        hosttest::boostBandOne(instance);
        hosttest::fillWithTone(instance, 0, 0.5f, 48);
        hosttest::fillWithTone(instance, 1, -0.25f, 48);
        instance.process(0, 256);
        output = instance.buffer(instance.pinIndex("Output1"));
        const auto& right = instance.buffer(instance.pinIndex("Output2"));
        output.insert(output.end(), right.begin(), right.end());

        // A 12 dB boost is plainly audible in both channels.
        double inputEnergy = 0.0, outputEnergy = 0.0;
        for (size_t i = 128; i < 256; ++i) {
            inputEnergy += double(instance.buffer(0)[i]) * instance.buffer(0)[i];
            outputEnergy += double(output[i]) * output[i];
        }
        EXPECT_GT(outputEnergy, 2.0 * inputEnergy);
    }
    ASSERT_EQ(outputs[0].size(), outputs[1].size());
    EXPECT_EQ(std::memcmp(outputs[0].data(), outputs[1].data(), outputs[0].size() * sizeof(float)), 0);
}

TEST(LibraryProcessing, NoSamplesMeansNothingWritten) {
    Instance instance(moduleExports());
    instance.setBlockSize(32);
    instance.open();
    hosttest::fillWithTone(instance, 0, 0.5f, 8);
    const int32_t output = instance.pinIndex("Output1");
    instance.fill(output, 0.75f);
    for (int32_t count : {0, -5}) {
        instance.process(0, count);
        for (float sample : instance.buffer(output)) ASSERT_EQ(sample, 0.75f);
    }
}

TEST(LibraryLifecycle, ManyInstancesOpenAndCloseIndependently) {
    std::vector<std::unique_ptr<Instance>> instances;
    for (int i = 0; i < 8; ++i) {
        instances.push_back(std::make_unique<Instance>(moduleExports()));
        instances.back()->setBlockSize(64);
        instances.back()->open();
    }
    for (size_t i = 0; i < instances.size(); i += 2) instances[i]->close();
    for (size_t i = 1; i < instances.size(); i += 2) instances[i]->process(0, 64);
}

}  // namespace
