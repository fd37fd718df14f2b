// A small host that plays the closed host's part: it creates instances
// through the exports, answers their requests through the host callback,
// keeps a buffer per pin and calls the record's entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/module_library.h"
#include "host_interface/module_event.h"
#include "host_interface/module_record.h"
#include "host_interface/pin_descriptor.h"

namespace standin {

// What the module told the host.
struct StatusNotice {
    int32_t pin;
    int32_t status;
    int32_t clock;
};

struct PinInfo {
    PinDescriptor descriptor;  // as the module wrote it
    std::string name;
    bool hasDefault = false;
    std::string defaultText;
};

// Calls to the two exports, with the misalignment the host is set to.
int32_t callGetModuleProperties(const ModuleExports& exports, int32_t index, ModuleInfo* info);
ModuleRecord* callMakeModule(const ModuleExports& exports, int32_t index, int32_t interfaceKind,
                             HostCallback callback, intptr_t hostValue);

class Instance {
public:
    // Creates an instance with makeModule(index, interfaceKind, host callback, this).
    explicit Instance(const ModuleExports& exports, int32_t index = 0, int32_t interfaceKind = 1);
    ~Instance();  // closes the instance if it is still open
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    bool valid() const { return record_ != nullptr; }
    ModuleRecord* record() const { return record_; }

    // Through the record's entries.
    intptr_t dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* pointer = nullptr,
                      float option = 0.0f);
    void sendEvent(EventRecord& event);
    void process(int32_t bufferOffset, int32_t sampleCount);

    void setSampleRate(float rate);
    void setBlockSize(int32_t size);
    // Asks for every pin's description (opcode 6 until the module says no),
    // sizes a buffer per pin to the block size and fills input pins with their
    // default value (a tenth of the default text's number), then opens.
    void open();
    intptr_t close();  // MOD_CLOSE, with the module's answer; the record is gone afterwards

    // Status change of one of the module's input pins (event type 0).
    void sendPinStatus(int32_t pin, int32_t status);

    const std::vector<PinInfo>& pins() const { return pins_; }
    int32_t pinIndex(const std::string& name) const;  // -1 when absent
    std::vector<float>& buffer(int32_t pin) { return buffers_[static_cast<size_t>(pin)]; }
    void fill(int32_t pin, float value);
    int32_t blockSize() const { return blockSize_; }
    // Writes every pin variable with its buffer's address, as before every process call.
    void attachBuffers();

    // Host state the module may ask about.
    int32_t sampleClock = 0;
    std::vector<int32_t> blockStartClock;  // per pin
    bool overridePinCount = false;
    int32_t pinCount = 0;  // answered for HOST_GET_PIN_COUNT when overridden

    // Everything the module sent.
    std::vector<StatusNotice> statusNotices;
    int32_t processFunctionChanges = 0;
    std::vector<int32_t> requests;  // opcodes in arrival order

    static HostResult QV_HOST_ENTRY hostCallback(ModuleRecord* record, int32_t opcode, int32_t index,
                                                 int32_t value, void* pointer, float option);

private:
    HostResult answer(int32_t opcode, int32_t index, int32_t value, void* pointer);
    void describePins();

    ModuleExports exports_;
    ModuleRecord* record_ = nullptr;
    int32_t blockSize_ = 1024;
    std::vector<PinInfo> pins_;
    std::vector<std::vector<float>> buffers_;
};

// The value a host feeds an input pin for its default text.
float defaultControlValue(const std::string& defaultText);

}  // namespace standin
