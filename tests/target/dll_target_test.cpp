// The shipped DLL, loaded under wine through its two exported names only,
// with every call into it made off 16-byte stack alignment by 0, 4, 8 or 12
// bytes, as a 32-bit Windows host may call. Records are read byte for byte at
// their documented offsets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/stack_call.h"
#include "host/stand_in_host.h"
#include "host_interface/module_event.h"
#include "host_interface/pin_descriptor.h"
#include "tests/host/loaded_library.h"

namespace {

using hosttest::moduleExports;
using hosttest::wordAt;
using standin::Instance;

// Host opcodes as plain numbers: the test speaks to the DLL only through the
// record.
enum : int32_t {
    OPEN = 0,
    CLOSE = 1,
    SAMPLE_RATE = 2,
    BLOCK_SIZE = 3,
    PIN_PROPERTIES = 6,
    NOTIFY = 8,
    MESSAGE = 12,
    PROCESS_INFO = 13
};

int32_t properties(int32_t index, unsigned char* info) {
    return standin::callGetModuleProperties(moduleExports(), index,
                                            reinterpret_cast<ModuleInfo*>(info));
}

const char* textAt(const void* record, size_t offset) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(wordAt(record, offset)));
}

// Output of a boosted band for a fixed input, in two calls so that the second
// starts at a buffer offset.
std::vector<float> renderThroughTheDll() {
    Instance instance(moduleExports());
    instance.setSampleRate(48000.0f);
    instance.setBlockSize(512);
    instance.open();
    hosttest::boostBandOne(instance);
    hosttest::fillWithTone(instance, 0, 0.5f, 40);
    hosttest::fillWithTone(instance, 1, -0.3f, 24);
    instance.buffer(1)[100] = 0.0f;  // a silent sample on one side: flushed, then filtered
    instance.process(0, 201);
    instance.process(201, 311);
    std::vector<float> output = instance.buffer(instance.pinIndex("Output1"));
    const std::vector<float>& right = instance.buffer(instance.pinIndex("Output2"));
    output.insert(output.end(), right.begin(), right.end());
    return output;
}

// Hands back the stack pointer as it stands on entry, just below the return
// address.
extern "C" uint32_t qvTestStackPointerOnEntry();
asm(".text\n"
    ".globl _qvTestStackPointerOnEntry\n"
    "_qvTestStackPointerOnEntry:\n"
    "    mov %esp, %eax\n"
    "    ret\n");

// A host callback that notes the stack pointer on entry before answering, to
// see how the module's own calls leave the stack.
extern "C" {
uint32_t qvCallbackEntry = 0;
const void* qvCallbackAnswer = nullptr;
HostResult qvProbeCallback(ModuleRecord*, int32_t, int32_t, int32_t, void*, float);
}
asm(".text\n"
    ".globl _qvProbeCallback\n"
    "_qvProbeCallback:\n"
    "    mov %esp, _qvCallbackEntry\n"
    "    jmp *_qvCallbackAnswer\n");

std::vector<uint32_t> callbackOffsets;  // (entry + return address) modulo 16, per request
std::vector<int32_t> callbackOpcodes;

HostResult QV_HOST_ENTRY answerProbe(ModuleRecord*, int32_t opcode, int32_t, int32_t, void*,
                                     float) {
    callbackOffsets.push_back((qvCallbackEntry + 4) % 16);
    callbackOpcodes.push_back(opcode);
    return opcode == HOST_GET_PIN_COUNT ? 24 : 0;
}

uint32_t word(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}
uint32_t word(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

class Misaligned : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override {
        ASSERT_NE(moduleExports().makeModule, nullptr);
        standin::setStackMisalignment(GetParam());
    }
    void TearDown() override { standin::setStackMisalignment(0); }
};

TEST_P(Misaligned, TheHostReallyCallsOffAlignment) {
    // The stack pointer at the call instruction (entry plus the return
    // address) lies the chosen number of bytes below a 16-byte boundary.
    const uint32_t entry = standin::qvCallMisaligned(
        reinterpret_cast<const void*>(&qvTestStackPointerOnEntry), nullptr, 0, GetParam());
    EXPECT_EQ((entry + 4 + static_cast<uint32_t>(GetParam())) % 16, 0u);
}

TEST_P(Misaligned, EveryEntryRealignsTheStackForWhatItCalls) {
    // Code built for SSE2 keeps 16-byte alignment from its entry on, so a
    // request the module makes reaches the host aligned however it was called.
    qvCallbackAnswer = reinterpret_cast<const void*>(&answerProbe);
    callbackOffsets.clear();
    callbackOpcodes.clear();
    ModuleRecord* record = standin::callMakeModule(moduleExports(), 0, 1, &qvProbeCallback, 0);
    ASSERT_NE(record, nullptr);
    const void* dispatcher = reinterpret_cast<const void*>(record->dispatcherEntry);
    const void* eventEntry = reinterpret_cast<const void*>(record->eventEntry);
    const int32_t m = GetParam();

    const uint32_t setRate[] = {word(record), SAMPLE_RATE, 0, 0, 0, word(48000.0f)};
    standin::qvCallMisaligned(dispatcher, setRate, 6, m);
    const uint32_t open[] = {word(record), OPEN, 0, 0, 0, 0};
    // Open asks for the pin count and reports the process function.
    standin::qvCallMisaligned(dispatcher, open, 6, m);

    EventRecord change;
    std::memset(&change, 0, sizeof change);
    change.eventType = 0;
    change.intParam = 2;
    change.ptrParam = 1;
    const uint32_t event[] = {word(record->object), word(&change)};
    standin::qvCallMisaligned(eventEntry, event, 2, m);  // asks for clocks, reports both outputs

    EXPECT_GE(callbackOpcodes.size(), 6u);
    for (size_t i = 0; i < callbackOffsets.size(); ++i)
        EXPECT_EQ(callbackOffsets[i], 0u)
            << "request " << i << " (opcode " << callbackOpcodes[i] << ")";

    const uint32_t close[] = {word(record), CLOSE, 0, 0, 0, 0};
    EXPECT_EQ(standin::qvCallMisaligned(dispatcher, close, 6, m), 1u);
}

TEST_P(Misaligned, ModulePropertiesSitAtTheirOffsets) {
    unsigned char info[24];
    std::memset(info, 0, sizeof info);
    ASSERT_EQ(properties(0, info), 1);
    EXPECT_STREQ(textAt(info, 0), "Quorvane");
    EXPECT_STREQ(textAt(info, 4), "Quorvane");
    EXPECT_EQ(std::strncmp(textAt(info, 8), "Five Band EQ", 12), 0);
    EXPECT_EQ(wordAt(info, 12), 0u);
    EXPECT_EQ(wordAt(info, 16), 0u);
    EXPECT_EQ(wordAt(info, 20), 2230u);

    std::memset(info, 0, sizeof info);
    EXPECT_EQ(properties(1, info), 0);
    EXPECT_EQ(wordAt(info, 0), 0u);
    EXPECT_EQ(wordAt(info, 20), 2230u);
}

TEST_P(Misaligned, MakeModuleRejectsOtherModulesAndKinds) {
    EXPECT_EQ(standin::callMakeModule(moduleExports(), 1, 1, &Instance::hostCallback, 0), nullptr);
    EXPECT_EQ(standin::callMakeModule(moduleExports(), 0, 2, &Instance::hostCallback, 0), nullptr);
}

TEST_P(Misaligned, RecordBytesSitAtTheirOffsets) {
    Instance instance(moduleExports());
    const void* record = instance.record();
    ASSERT_NE(record, nullptr);
    const auto* bytes = static_cast<const unsigned char*>(record);
    EXPECT_EQ(bytes[0], 0x65);
    EXPECT_EQ(bytes[1], 0x63);
    EXPECT_EQ(bytes[2], 0x6F);
    EXPECT_EQ(bytes[3], 0x64);
    EXPECT_EQ(wordAt(record, 4), 1u);
    EXPECT_EQ(wordAt(record, 8), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&instance)));
    EXPECT_NE(wordAt(record, 12), 0u);
    EXPECT_EQ(wordAt(record, 16), 0u);
    EXPECT_NE(wordAt(record, 20), 0u);
    EXPECT_NE(wordAt(record, 24), 0u);
    EXPECT_NE(wordAt(record, 28), 0u);
    for (size_t offset = 32; offset < 48; offset += 4)
        EXPECT_EQ(wordAt(record, offset), 0u) << offset;

    // Opening installs a different process function in the record.
    const uint32_t idle = wordAt(record, 24);
    instance.open();
    EXPECT_NE(wordAt(record, 24), idle);
    EXPECT_EQ(instance.processFunctionChanges, 1);
}

TEST_P(Misaligned, EveryOpcodeAnswersAsDocumented) {
    Instance instance(moduleExports());
    EXPECT_EQ(instance.dispatch(SAMPLE_RATE, 0, 0, nullptr, 48000.0f), 0);
    EXPECT_EQ(instance.dispatch(BLOCK_SIZE, 0, 128), 0);

    PinDescriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    EXPECT_EQ(instance.dispatch(PIN_PROPERTIES, 5, 0, &descriptor), 1);
    EXPECT_STREQ(textAt(&descriptor, 12), "Type1");
    EXPECT_EQ(wordAt(&descriptor, 4), 0u);  // input
    EXPECT_EQ(wordAt(&descriptor, 8), 5u);  // audio
    EXPECT_STREQ(textAt(&descriptor, 16), "60");
    EXPECT_EQ(wordAt(&descriptor, 24), 0u);  // flags untouched

    std::memset(&descriptor, 0, sizeof descriptor);
    EXPECT_EQ(instance.dispatch(PIN_PROPERTIES, 22, 0, &descriptor), 1);
    EXPECT_STREQ(textAt(&descriptor, 12), "Output1");
    EXPECT_EQ(wordAt(&descriptor, 4), 1u);   // output
    EXPECT_EQ(wordAt(&descriptor, 16), 0u);  // no default text

    unsigned char untouched[32];
    std::memset(untouched, 0x5A, sizeof untouched);
    EXPECT_EQ(instance.dispatch(PIN_PROPERTIES, 24, 0, untouched), 0);
    EXPECT_EQ(instance.dispatch(PIN_PROPERTIES, -1, 0, untouched), 0);
    for (unsigned char byte : untouched) EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(instance.dispatch(PIN_PROPERTIES, 0, 0, nullptr), 0);

    EXPECT_EQ(instance.dispatch(NOTIFY, 2), 0);
    EXPECT_EQ(instance.dispatch(MESSAGE, 1, 2, &descriptor), 0);
    for (int32_t unhandled : {4, 5, 7, 9, 10, 11, 14, -1})
        EXPECT_EQ(instance.dispatch(unhandled, 1, 2, &descriptor, 3.0f), 0)
            << "opcode " << unhandled;

    // The process information block: four words, the third naming a 16-byte
    // member whose first word is the record's process entry.
    const auto* info = reinterpret_cast<const void*>(instance.dispatch(PROCESS_INFO));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(wordAt(info, 0), 1u);
    EXPECT_EQ(wordAt(info, 4), 16u);
    EXPECT_EQ(wordAt(info, 12), 0u);
    const void* member = reinterpret_cast<const void*>(static_cast<uintptr_t>(wordAt(info, 8)));
    EXPECT_EQ(wordAt(member, 0), wordAt(instance.record(), 24));
    EXPECT_EQ(wordAt(member, 4), 0u);
    EXPECT_EQ(wordAt(member, 8), 0u);
    EXPECT_EQ(wordAt(member, 12), 0u);
    Instance other(moduleExports());
    EXPECT_EQ(other.dispatch(PROCESS_INFO), reinterpret_cast<intptr_t>(info));
    EXPECT_NE(wordAt(info, 8), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(member)))
        << "the block names the last instance to ask";

    EXPECT_EQ(instance.dispatch(OPEN), 0);
    EXPECT_EQ(instance.close(), 1);
}

TEST_P(Misaligned, CallRequestsRunOnTheObjectInThisCallConvention) {
    Instance instance(moduleExports());
    hosttest::CallProbe::calledOn = nullptr;
    hosttest::CallProbe::calls = 0;
    EventRecord request;
    std::memset(&request, 0, sizeof request);
    request.eventType = 21;
    request.ptrParam = reinterpret_cast<intptr_t>(&hosttest::CallProbe::note);
    instance.sendEvent(request);
    EXPECT_EQ(hosttest::CallProbe::calls, 1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(hosttest::CallProbe::calledOn),
              static_cast<uintptr_t>(wordAt(instance.record(), 12)));

    // Other event types run nothing.
    request.eventType = 20;
    instance.sendEvent(request);
    EXPECT_EQ(hosttest::CallProbe::calls, 1);
}

TEST_P(Misaligned, PinStatusEventsReachTheObjectAndComeBackAsOutputStatus) {
    Instance instance(moduleExports());
    instance.setBlockSize(64);
    instance.open();
    instance.sampleClock = 777;
    instance.blockStartClock.assign(instance.blockStartClock.size(), 770);
    instance.fill(0, 0.0f);
    instance.fill(1, 0.25f);
    instance.sendPinStatus(1, 2);  // Input1 static at 0.0, Input2 streaming
    ASSERT_EQ(instance.statusNotices.size(), 2u);
    EXPECT_EQ(instance.statusNotices[0].pin, 22);
    EXPECT_EQ(instance.statusNotices[1].pin, 23);
    for (const auto& notice : instance.statusNotices) {
        EXPECT_EQ(notice.status, 1);
        EXPECT_EQ(notice.clock, 777);
    }
    instance.statusNotices.clear();
    instance.sendPinStatus(0, 2);
    ASSERT_EQ(instance.statusNotices.size(), 2u);
    EXPECT_EQ(instance.statusNotices[0].status, 2);
    // Outside the table: ignored.
    instance.statusNotices.clear();
    instance.sendPinStatus(24, 2);
    instance.sendPinStatus(-1, 2);
    EXPECT_TRUE(instance.statusNotices.empty());
}

TEST_P(Misaligned, ProcessesAudioExactlyAsWithAnAlignedStack) {
    static const std::vector<float> aligned = [] {
        const int32_t misalignment = standin::stackMisalignment();
        standin::setStackMisalignment(0);
        std::vector<float> output = renderThroughTheDll();
        standin::setStackMisalignment(misalignment);
        return output;
    }();
    const std::vector<float> output = renderThroughTheDll();
    ASSERT_EQ(output.size(), aligned.size());
    EXPECT_EQ(std::memcmp(output.data(), aligned.data(), output.size() * sizeof(float)), 0);

    // And the band really worked on it.
    Instance reference(moduleExports());
    reference.setBlockSize(512);
    reference.open();
    hosttest::fillWithTone(reference, 0, 0.5f, 40);
    EXPECT_NE(std::memcmp(output.data(), reference.buffer(0).data(), 512 * sizeof(float)), 0);
}

TEST_P(Misaligned, AnAbsurdPinCountLeavesAnInstanceThatClosesSafely) {
    Instance instance(moduleExports());
    const uint32_t idle = wordAt(instance.record(), 24);
    instance.overridePinCount = true;
    instance.pinCount = 0x7FFFFFFF;
    instance.open();
    EXPECT_EQ(wordAt(instance.record(), 24), idle);
    instance.process(0, 64);
    EXPECT_EQ(instance.close(), 1);
}

INSTANTIATE_TEST_SUITE_P(StackOffsets, Misaligned, ::testing::Values(0, 4, 8, 12),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return "by" + std::to_string(info.param);
                         });

}  // namespace
