// The dispatcher: which virtual operation each host opcode reaches, with which
// arguments, and what the host gets back.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/unit/recording_module.h"

namespace {

using hostif::CallLog;
using hostif::Recorded;

struct DispatchCase {
    const char* what;
    int32_t opcode;
    int32_t index;
    int32_t value;
    intptr_t pointer;
    float option;
    intptr_t result;
    std::vector<std::string> calls;
};

void PrintTo(const DispatchCase& c, std::ostream* os) { *os << c.what; }

class DispatcherAction : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(DispatcherAction, ReachesTheOperationWithTheArgumentsItNeeds) {
    const DispatchCase& c = GetParam();
    Recorded instance;
    const intptr_t result =
        instance.dispatch(c.opcode, c.index, c.value, reinterpret_cast<void*>(c.pointer), c.option);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(instance.log, c.calls);
    EXPECT_TRUE(instance.host.requests.empty()) << "the dispatcher itself asks the host nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Opcodes, DispatcherAction,
    // clang-format off
    ::testing::Values(
        // The rate travels in the float option, never in value.
        DispatchCase{"sample rate from the option", MOD_SET_SAMPLE_RATE, 7, 96000, 0, 48000.0f,
                     0, {"setSampleRate(48000)"}},
        // The block size travels in value, never in the option.
        DispatchCase{"block size from value", MOD_SET_BLOCK_SIZE, 7, 256, 0, 512.0f,
                     0, {"setBlockSize(256)"}},
        DispatchCase{"notify with index 0", MOD_NOTIFY, 0, 9, 0, 0.0f,
                     0, {"onHostNotify()"}},
        DispatchCase{"notify with a negative index", MOD_NOTIFY, -3, 9, 0, 0.0f,
                     0, {"onHostNotify()"}},
        DispatchCase{"notify with index 1", MOD_NOTIFY, 1, 9, 0, 0.0f,
                     0, {"onHostNotify()", "onHostNotifyCount(1)"}},
        DispatchCase{"notify with index 7", MOD_NOTIFY, 7, 9, 0, 0.0f,
                     0, {"onHostNotify()", "onHostNotifyCount(7)"}},
        // The message hook takes value, index, pointer: not the dispatcher's order.
        DispatchCase{"message", MOD_MESSAGE, 5, 6, 0x1234, 0.0f,
                     0, {"onHostMessage(6,5,4660)"}},
        DispatchCase{"opcode 4", 4, 1, 2, 0x10, 3.0f, 0, {}},
        DispatchCase{"opcode 5", 5, 1, 2, 0x10, 3.0f, 0, {}},
        DispatchCase{"opcode 7", 7, 1, 2, 0x10, 3.0f, 0, {}},
        DispatchCase{"opcode 9", 9, 1, 2, 0x10, 3.0f, 0, {}},
        DispatchCase{"opcode 10", 10, 1, 2, 0x10, 3.0f, 0, {}},
        DispatchCase{"opcode 11", 11, 1, 2, 0x10, 3.0f, 0, {}},
        DispatchCase{"opcode 14", 14, 1, 2, 0x10, 3.0f, 0, {}},
        DispatchCase{"opcode 100", 100, 1, 2, 0x10, 3.0f, 0, {}},
        DispatchCase{"opcode -1", -1, 1, 2, 0x10, 3.0f, 0, {}},
        DispatchCase{"lowest opcode", INT32_MIN, 1, 2, 0x10, 3.0f, 0, {}},
        DispatchCase{"highest opcode", INT32_MAX, 1, 2, 0x10, 3.0f, 0, {}}),
    // clang-format on
    [](const ::testing::TestParamInfo<DispatchCase>& info) {
        std::string name;
        for (const char* c = info.param.what; *c != '\0'; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

TEST(DispatcherOpen, OpensAndAnswersZero) {
    Recorded instance;
    instance.host.pinCount = 2;
    EXPECT_EQ(instance.dispatch(MOD_OPEN), 0);
    // The base open builds the pin table from the descriptions.
    EXPECT_EQ(instance.log, (CallLog{"open()", "getPinProperties(0)", "getPinProperties(-1)"}));
}

TEST(DispatcherClose, ClosesThenDestroysTheObjectAndAnswersOne) {
    Recorded instance;
    EXPECT_EQ(instance.dispatch(MOD_CLOSE), 1);
    instance.module = nullptr;  // gone: the close opcode freed it
    EXPECT_EQ(instance.log, (CallLog{"close()", "destructor()"}));
}

TEST(DispatcherPinProperties, AnswersWhetherTheModuleDescribedThePin) {
    Recorded instance;
    instance.module->descriptions = {hostif::describe(DT_AUDIO), hostif::describe(DT_FLOAT)};

    for (int32_t index : {0, 1, 2, -1}) {
        PinDescriptor descriptor;
        std::memset(&descriptor, 0, sizeof descriptor);
        instance.log.clear();
        const intptr_t result = instance.dispatch(MOD_GET_PIN_PROPERTIES, index, 0, &descriptor);
        EXPECT_EQ(result, index == 0 || index == 1 ? 1 : 0) << "pin " << index;
        EXPECT_EQ(instance.log, (CallLog{hostif::call("getPinProperties", index)}));
    }
}

TEST(DispatcherPinProperties, NoDescriptorGetsZeroWithoutAskingTheModule) {
    Recorded instance;
    instance.module->descriptions = {hostif::describe(DT_AUDIO)};
    EXPECT_EQ(instance.dispatch(MOD_GET_PIN_PROPERTIES, 0, 0, nullptr), 0);
    EXPECT_TRUE(instance.log.empty());
}

TEST(DispatcherPinProperties, TheBaseModuleDescribesNoPins) {
    SEModule_base* module = new SEModule_base(nullptr, 0);
    PinDescriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    EXPECT_EQ(module->dispatcher(MOD_GET_PIN_PROPERTIES, 0, 0, &descriptor, 0.0f), 0);
    EXPECT_EQ(module->dispatcher(MOD_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

// The block the host reads the process function member from.
const ProcessInfo& processInfoOf(Recorded& instance) {
    return *reinterpret_cast<const ProcessInfo*>(instance.dispatch(MOD_GET_PROCESS_INFO));
}

TEST(DispatcherProcessInfo, DescribesTheAskingObjectsProcessFunctionMember) {
    Recorded instance;
    const ProcessInfo& info = processInfoOf(instance);
    EXPECT_EQ(info.one, 1);
#if QV_TARGET_LAYOUT
    EXPECT_EQ(info.memberSize, 16);
#else
    EXPECT_EQ(info.memberSize, static_cast<int32_t>(sizeof(ProcessFunction)));
#endif
    EXPECT_EQ(info.member, &instance.module->currentProcess());
    EXPECT_EQ(info.zero, 0);
    EXPECT_TRUE(instance.log.empty());

    // The member names the function the record calls.
    EXPECT_EQ(info.member->function, instance.module->record()->processEntry);
    EXPECT_EQ(info.member->zero[0], 0);
    EXPECT_EQ(info.member->zero[1], 0);
    EXPECT_EQ(info.member->zero[2], 0);
}

TEST(DispatcherProcessInfo, OneBlockForEveryInstanceNamingTheLastAsker) {
    Recorded first;
    Recorded second;
    const intptr_t firstAnswer = first.dispatch(MOD_GET_PROCESS_INFO);
    const intptr_t secondAnswer = second.dispatch(MOD_GET_PROCESS_INFO);
    EXPECT_EQ(firstAnswer, secondAnswer);
    const auto* block = reinterpret_cast<const ProcessInfo*>(firstAnswer);
    EXPECT_EQ(block->member, &second.module->currentProcess());

    first.dispatch(MOD_GET_PROCESS_INFO);
    EXPECT_EQ(block->member, &first.module->currentProcess());
}

void QV_HOST_ENTRY otherProcess(SEModule_base*, int32_t, int32_t) {}

TEST(DispatcherProcessInfo, InstallingAProcessFunctionChangesMemberAndRecordTogether) {
    Recorded instance;
    instance.module->installProcess(&otherProcess);
    EXPECT_EQ(instance.module->record()->processEntry, &otherProcess);
    EXPECT_EQ(processInfoOf(instance).member->function, &otherProcess);
    ASSERT_EQ(instance.host.requests.size(), 1u);
    EXPECT_EQ(instance.host.requests[0].opcode, HOST_PROCESS_FUNCTION_CHANGED);

    // Installing the function that is already current tells the host nothing.
    instance.module->installProcess(&otherProcess);
    EXPECT_EQ(instance.host.requests.size(), 1u);
}

}  // namespace
