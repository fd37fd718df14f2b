// The two exports and the record an instance shows the host.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "equaliser/module.h"
#include "host_interface/se_module_base.h"
#include "tests/unit/recording_module.h"

extern "C" int32_t QV_HOST_ENTRY getModuleProperties(int32_t index, ModuleInfo* info);
extern "C" ModuleRecord* QV_HOST_ENTRY makeModule(int32_t index, int32_t interfaceKind,
                                                  HostCallback callback, intptr_t hostValue);

namespace {

using hostif::FakeHost;

ModuleInfo scribbledInfo() {
    ModuleInfo info;
    std::memset(&info, 0xA5, sizeof info);
    return info;
}

TEST(GetModuleProperties, DescribesModuleZero) {
    ModuleInfo info = scribbledInfo();
    const ModuleInfo before = info;
    EXPECT_EQ(getModuleProperties(0, &info), 1);
    EXPECT_EQ(info.interfaceVersion, 2230);
    EXPECT_STREQ(info.name, "Quorvane");
    EXPECT_STREQ(info.id, "Quorvane");
    // The host lists the module by this text; the release's version follows
    // the name.
    EXPECT_EQ(std::string(info.about).rfind("Five Band EQ " QUORVANE_VERSION " ", 0), 0u)
        << info.about;
    EXPECT_EQ(std::strchr(info.about, '\n'), nullptr) << "one line";
    for (const char* c = info.about; *c != '\0'; ++c)
        EXPECT_TRUE(*c >= ' ' && *c != '\x7f') << "plain text, one line: " << info.about;
    // The host's two words are left alone.
    EXPECT_EQ(info.hostWord12, before.hostWord12);
    EXPECT_EQ(info.hostWord16, before.hostWord16);
}

TEST(GetModuleProperties, OtherIndicesGetOnlyTheInterfaceVersion) {
    for (int32_t index : {1, 2, -1, INT32_MIN, INT32_MAX}) {
        ModuleInfo info = scribbledInfo();
        const ModuleInfo before = info;
        EXPECT_EQ(getModuleProperties(index, &info), 0) << "index " << index;
        EXPECT_EQ(info.interfaceVersion, 2230) << "index " << index;
        info.interfaceVersion = before.interfaceVersion;
        EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0) << "index " << index;
    }
}

TEST(MakeModule, RejectsOtherIndicesAndInterfaceKinds) {
    FakeHost host;
    struct Request {
        int32_t index;
        int32_t interfaceKind;
    };
    for (Request r : {Request{1, 1}, Request{-1, 1}, Request{0, 0}, Request{0, 2}, Request{0, -1},
                      Request{1, 2}}) {
        EXPECT_EQ(makeModule(r.index, r.interfaceKind, &FakeHost::callback, host.hostValue()),
                  nullptr)
            << "index " << r.index << ", interface kind " << r.interfaceKind;
    }
    EXPECT_TRUE(host.requests.empty());
}

class MadeModule : public ::testing::Test {
protected:
    void SetUp() override {
        record = makeModule(0, 1, &FakeHost::callback, host.hostValue());
        ASSERT_NE(record, nullptr);
    }
    void TearDown() override {
        if (record != nullptr) record->dispatcherEntry(record, MOD_CLOSE, 0, 0, nullptr, 0.0f);
    }
    FakeHost host;
    ModuleRecord* record = nullptr;
};

TEST_F(MadeModule, RecordHoldsTheDocumentedFields) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(record);
    EXPECT_EQ(bytes[0], 0x65);
    EXPECT_EQ(bytes[1], 0x63);
    EXPECT_EQ(bytes[2], 0x6F);
    EXPECT_EQ(bytes[3], 0x64);
    EXPECT_EQ(record->magic, 0x646F6365u);
    EXPECT_EQ(record->version, 1);
    EXPECT_EQ(record->hostValue, host.hostValue());
    EXPECT_EQ(record->reserved16, 0);
    for (int32_t word : record->reserved32) EXPECT_EQ(word, 0);
    EXPECT_NE(record->dispatcherEntry, nullptr);
    EXPECT_NE(record->eventEntry, nullptr);
    EXPECT_EQ(record->processEntry, &SEModule_base::doNothingProcess);
    // Creating an instance asks nothing of the host.
    EXPECT_TRUE(host.requests.empty());
}

TEST_F(MadeModule, ObjectLeadsBackToTheInstanceThatHoldsTheRecord) {
    SEModule_base* object = record->object;
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->record(), record);
    EXPECT_NE(dynamic_cast<Module*>(object), nullptr);
    EXPECT_EQ(object->currentProcess().function, record->processEntry);
}

TEST_F(MadeModule, AFreshInstanceRunsAt44100WithBlocksOf1024) {
    EXPECT_EQ(record->object->getSampleRate(), 44100.0f);
    EXPECT_EQ(record->object->getBlockSize(), 1024);
}

TEST_F(MadeModule, DispatcherAndEventEntryReachTheSameObject) {
    record->dispatcherEntry(record, MOD_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(record->object->getSampleRate(), 48000.0f);

    static SEModule_base* calledOn;
    calledOn = nullptr;
    struct Probe {
        static void QV_THISCALL note(SEModule_base* self) { calledOn = self; }
    };
    EventRecord request =
        hostif::event(EVENT_CALL_REQUEST, 0, reinterpret_cast<intptr_t>(&Probe::note));
    record->eventEntry(record->object, &request);
    EXPECT_EQ(calledOn, record->object);
}

TEST_F(MadeModule, TheDoNothingProcessFunctionTouchesNothing) {
    float buffer[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    auto* module = static_cast<Module*>(record->object);
    for (float*& pin : module->pins) pin = buffer;
    record->processEntry(record->object, 0, 4);
    EXPECT_EQ(buffer[0], 1.0f);
    EXPECT_EQ(buffer[3], 4.0f);
    EXPECT_TRUE(host.requests.empty());
}

TEST(MakeModuleWithoutHost, EveryRequestYieldsZeroAndTheInstanceStillWorks) {
    for (int32_t opcode :
         {HOST_SET_PIN_STATUS, HOST_GET_SAMPLE_CLOCK, HOST_GET_PIN_BUFFER,
          HOST_GET_BLOCK_START_CLOCK, HOST_GET_PIN_COUNT, HOST_PROCESS_FUNCTION_CHANGED})
        EXPECT_EQ(callHost(nullptr, nullptr, opcode, 1, 2, nullptr), 0) << "opcode " << opcode;

    ModuleRecord* record = makeModule(0, 1, nullptr, 77);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->hostValue, 77);
    SEModule_base* object = record->object;
    EXPECT_EQ(object->requestHost(HOST_GET_SAMPLE_CLOCK), 0);
    EXPECT_EQ(object->requestHost(HOST_GET_PIN_COUNT), 0);

    record->dispatcherEntry(record, MOD_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(record->dispatcherEntry(record, MOD_OPEN, 0, 0, nullptr, 0.0f), 0);
    // No pins without a host to count them; the equaliser is ready all the same.
    EXPECT_EQ(object->pinTable(), nullptr);
    EXPECT_EQ(record->processEntry, &process);
    EventRecord change = hostif::event(EVENT_PIN_STATUS, PIN_STREAMING, 0);
    record->eventEntry(object, &change);
    EXPECT_EQ(record->dispatcherEntry(record, MOD_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

TEST(CallHost, PassesTheRequestThroughAndReturnsTheAnswerUnchanged) {
    FakeHost host;
    host.sampleClock = -123456;
    ModuleRecord record;
    std::memset(&record, 0, sizeof record);
    record.hostValue = host.hostValue();
    int marker = 0;
    EXPECT_EQ(callHost(&FakeHost::callback, &record, HOST_GET_SAMPLE_CLOCK), -123456);
    callHost(&FakeHost::callback, &record, HOST_SET_PIN_STATUS, 22, 2, &marker);
    ASSERT_EQ(host.requests.size(), 2u);
    EXPECT_EQ(host.requests[1].opcode, HOST_SET_PIN_STATUS);
    EXPECT_EQ(host.requests[1].index, 22);
    EXPECT_EQ(host.requests[1].value, 2);
    EXPECT_EQ(host.requests[1].pointer, reinterpret_cast<intptr_t>(&marker));
}

}  // namespace
