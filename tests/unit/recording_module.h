// Test doubles for the host interface: a host whose answers a test sets and
// which logs every request, and a module that records each virtual call the
// base class makes on it and describes whatever pins a test gives it.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host_interface/se_module_base.h"

namespace hostif {

struct HostRequest {
    int32_t opcode;
    int32_t index;
    int32_t value;
    intptr_t pointer;
};

// Plays the host for one instance; the instance finds it through hostValue.
struct FakeHost {
    int32_t pinCount = 0;
    int32_t sampleClock = 0;
    int32_t sampleClockStep = 0;            // the clock moves on by this after every answer
    std::map<int32_t, int32_t> blockStart;  // per pin; missing pins answer 0
    std::map<int32_t, float*> pinBuffers;   // per pin; missing pins answer null
    std::vector<HostRequest> requests;

    static HostResult callback(ModuleRecord* record, int32_t opcode, int32_t index, int32_t value,
                               void* pointer, float /*option*/) {
        auto* host = reinterpret_cast<FakeHost*>(record->hostValue);
        host->requests.push_back({opcode, index, value, reinterpret_cast<intptr_t>(pointer)});
        switch (opcode) {
            case HOST_GET_PIN_COUNT:
                return host->pinCount;
            case HOST_GET_SAMPLE_CLOCK: {
                const int32_t clock = host->sampleClock;
                host->sampleClock += host->sampleClockStep;
                return clock;
            }
            case HOST_GET_BLOCK_START_CLOCK: {
                auto found = host->blockStart.find(index);
                return found == host->blockStart.end() ? 0 : found->second;
            }
            case HOST_GET_PIN_BUFFER: {
                auto found = host->pinBuffers.find(index);
                return found == host->pinBuffers.end()
                           ? 0
                           : reinterpret_cast<HostResult>(found->second);
            }
            default:
                return 0;
        }
    }

    intptr_t hostValue() { return reinterpret_cast<intptr_t>(this); }

    std::vector<HostRequest> requestsOf(int32_t opcode) const {
        std::vector<HostRequest> found;
        for (const auto& request : requests)
            if (request.opcode == opcode) found.push_back(request);
        return found;
    }
};

// Every virtual call the base class makes, as text, in order. Kept outside
// the module so that the destructor's entry survives the object.
using CallLog = std::vector<std::string>;

template <typename... Args>
std::string call(const char* name, Args... args) {
    std::ostringstream text;
    text << name << "(";
    const char* separator = "";
    ((text << separator << args, separator = ","), ...);
    text << ")";
    return text.str();
}

class RecordingModule : public SEModule_base {
public:
    explicit RecordingModule(CallLog* log, HostCallback callback = nullptr, intptr_t hostValue = 0)
        : SEModule_base(callback, hostValue), log_(log) {}
    ~RecordingModule() override { log_->push_back("destructor()"); }

    void onPinStatusChange(SEPin* pin) override {
        log_->push_back(call("onPinStatusChange", pin->index));
        notifiedPin = pin;
        statusDuringNotification = pin->status;
    }
    void open() override {
        log_->push_back("open()");
        SEModule_base::open();
    }
    void close() override { log_->push_back("close()"); }
    void hook6(int32_t first, int32_t second) override {
        log_->push_back(call("hook6", first, second));
    }
    void setSampleRate(float rate) override {
        log_->push_back(call("setSampleRate", rate));
        SEModule_base::setSampleRate(rate);
    }
    void setBlockSize(int32_t size) override {
        log_->push_back(call("setBlockSize", size));
        SEModule_base::setBlockSize(size);
    }
    float getSampleRate() override {
        log_->push_back("getSampleRate()");
        return SEModule_base::getSampleRate();
    }
    int32_t getBlockSize() override {
        log_->push_back("getBlockSize()");
        return SEModule_base::getBlockSize();
    }
    bool getPinProperties(int32_t index, PinDescriptor* descriptor) override {
        log_->push_back(call("getPinProperties", index));
        if (index < 0 || static_cast<size_t>(index) >= descriptions.size()) return false;
        *descriptor = descriptions[static_cast<size_t>(index)];
        return true;
    }
    bool hook12(int32_t argument) override {
        log_->push_back(call("hook12", argument));
        return false;
    }
    bool hook13(int32_t argument) override {
        log_->push_back(call("hook13", argument));
        return false;
    }
    void onHostNotify() override { log_->push_back("onHostNotify()"); }
    void onHostNotifyCount(int32_t count) override {
        log_->push_back(call("onHostNotifyCount", count));
    }
    void onDataEvent(int32_t first, int32_t second, uint16_t third) override {
        log_->push_back(call("onDataEvent", first, second, third));
    }
    void onHostMessage(int32_t value, int32_t index, void* pointer) override {
        log_->push_back(call("onHostMessage", value, index, reinterpret_cast<intptr_t>(pointer)));
    }

    using SEModule_base::installProcess;

    // What getPinProperties answers: descriptor n for n inside the list.
    std::vector<PinDescriptor> descriptions;
    SEPin* notifiedPin = nullptr;
    int32_t statusDuringNotification = -1;

private:
    CallLog* log_;
};

inline PinDescriptor describe(int32_t datatype, void* variable = nullptr, uint32_t flags = 0) {
    PinDescriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    descriptor.variable = variable;
    descriptor.datatype = datatype;
    descriptor.flags = flags;
    return descriptor;
}

// A recording module that lives on the heap, as the close opcode expects.
struct Recorded {
    CallLog log;
    FakeHost host;
    RecordingModule* module;

    Recorded() : module(new RecordingModule(&log, &FakeHost::callback, host.hostValue())) {}
    ~Recorded() {
        if (module != nullptr) delete module;
    }
    intptr_t dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* pointer = nullptr,
                      float option = 0.0f) {
        ModuleRecord* record = module->record();
        return record->dispatcherEntry(record, opcode, index, value, pointer, option);
    }
    void sendEvent(EventRecord& event) {
        module->record()->eventEntry(module->record()->object, &event);
    }
    void open() {
        dispatch(MOD_OPEN);
        log.clear();
    }
};

inline EventRecord event(int32_t type, int32_t intParam = 0, intptr_t ptrParam = 0,
                         int32_t param0 = 0, uint16_t shortParam = 0) {
    EventRecord record;
    std::memset(&record, 0, sizeof record);
    record.param0 = param0;
    record.eventType = type;
    record.intParam = intParam;
    record.shortParam = shortParam;
    record.ptrParam = ptrParam;
    return record;
}

}  // namespace hostif
