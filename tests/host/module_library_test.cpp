// The real module library driven through the stand-in host: what the host
// sees of the exports, the record, the opcodes, events, pins and processing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
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

TEST(LibraryOpen, InstallsProcessingAndTellsTheHostOnce) {
    Instance instance(moduleExports());
    const ProcessEntry before = instance.record()->processEntry;
    instance.setSampleRate(48000.0f);
    instance.open();
    EXPECT_EQ(instance.pins().size(), 24u);
    EXPECT_NE(instance.record()->processEntry, before);
    EXPECT_EQ(instance.processFunctionChanges, 1);
    instance.open();
    EXPECT_EQ(instance.processFunctionChanges, 1);
    EXPECT_EQ(instance.close(), 1);
}

TEST(LibraryOpen, InputStatusComesBackAsOutputStatusWithTheHostsClock) {
    Instance instance(moduleExports());
    instance.setBlockSize(64);
    instance.open();
    instance.fill(0, 0.0f);
    instance.fill(1, 0.3f);
    instance.sampleClock = 5000;
    instance.blockStartClock.assign(instance.blockStartClock.size(), 4990);
    instance.sendPinStatus(1, PIN_STREAMING);  // Input1 stays static at 0.0
    ASSERT_EQ(instance.statusNotices.size(), 2u);
    EXPECT_EQ(instance.statusNotices[0].pin, 22);
    EXPECT_EQ(instance.statusNotices[1].pin, 23);
    for (const auto& notice : instance.statusNotices) {
        EXPECT_EQ(notice.status, PIN_ONE_CHANGE);
        EXPECT_EQ(notice.clock, 5000);
    }
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
    EXPECT_EQ(std::memcmp(outputs[0].data(), outputs[1].data(), outputs[0].size() * sizeof(float)),
              0);
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
