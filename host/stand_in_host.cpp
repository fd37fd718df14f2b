#include "host/stand_in_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "host/stack_call.h"

namespace standin {

namespace {

constexpr size_t kMaxDescribedPins = 4096;

#if defined(__i386__)
inline uint32_t word(int32_t value) { return static_cast<uint32_t>(value); }
template <typename T>
inline uint32_t word(T* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }
inline uint32_t word(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}
#endif

// Calls an entry point of the module, off the stack alignment the host is
// set to on the 32-bit target.
template <typename Result, typename Function, typename... Args>
Result callEntry(Function function, Args... args) {
#if defined(__i386__)
    if (stackMisalignment() != 0) {
        const uint32_t words[] = {word(args)...};
        const uint32_t result = qvCallMisaligned(reinterpret_cast<const void*>(function), words,
                                                 static_cast<int32_t>(sizeof...(Args)),
                                                 stackMisalignment());
        if constexpr (std::is_pointer<Result>::value)
            return reinterpret_cast<Result>(static_cast<uintptr_t>(result));
        else
            return static_cast<Result>(result);
    }
#endif
    return function(args...);
}

template <typename Function, typename... Args>
void callEntryVoid(Function function, Args... args) {
#if defined(__i386__)
    if (stackMisalignment() != 0) {
        const uint32_t words[] = {word(args)...};
        qvCallMisaligned(reinterpret_cast<const void*>(function), words,
                         static_cast<int32_t>(sizeof...(Args)), stackMisalignment());
        return;
    }
#endif
    function(args...);
}

}  // namespace

int32_t callGetModuleProperties(const ModuleExports& exports, int32_t index, ModuleInfo* info) {
    return callEntry<int32_t>(exports.getModuleProperties, index, info);
}

ModuleRecord* callMakeModule(const ModuleExports& exports, int32_t index, int32_t interfaceKind,
                             HostCallback callback, intptr_t hostValue) {
    return callEntry<ModuleRecord*>(exports.makeModule, index, interfaceKind, callback, hostValue);
}

float defaultControlValue(const std::string& defaultText) {
    return static_cast<float>(std::strtod(defaultText.c_str(), nullptr) / 10.0);
}

Instance::Instance(const ModuleExports& exports, int32_t index, int32_t interfaceKind)
    : exports_(exports) {
    record_ = callMakeModule(exports_, index, interfaceKind, &Instance::hostCallback,
                             reinterpret_cast<intptr_t>(this));
}

Instance::~Instance() {
    if (record_ != nullptr) close();
}

intptr_t Instance::dispatch(int32_t opcode, int32_t index, int32_t value, void* pointer, float option) {
    return callEntry<intptr_t>(record_->dispatcherEntry, record_, opcode, index, value, pointer, option);
}

void Instance::sendEvent(EventRecord& event) {
    callEntryVoid(record_->eventEntry, record_->object, &event);
}

void Instance::process(int32_t bufferOffset, int32_t sampleCount) {
    attachBuffers();
    callEntryVoid(record_->processEntry, record_->object, bufferOffset, sampleCount);
}

void Instance::setSampleRate(float rate) { dispatch(2 /* MOD_SET_SAMPLE_RATE */, 0, 0, nullptr, rate); }

void Instance::setBlockSize(int32_t size) {
    blockSize_ = size;
    dispatch(3 /* MOD_SET_BLOCK_SIZE */, 0, size);
}

void Instance::describePins() {
    pins_.clear();
    // A module that describes absurdly many pins is cut off; ours has 24.
    for (int32_t index = 0; index < static_cast<int32_t>(kMaxDescribedPins); ++index) {
        PinDescriptor descriptor;
        std::memset(&descriptor, 0, sizeof descriptor);
        if (dispatch(6 /* MOD_GET_PIN_PROPERTIES */, index, 0, &descriptor) == 0) break;
        PinInfo info;
        info.descriptor = descriptor;
        if (descriptor.name != nullptr) info.name = descriptor.name;
        info.hasDefault = descriptor.defaultText != nullptr;
        if (info.hasDefault) info.defaultText = descriptor.defaultText;
        pins_.push_back(info);
    }
    // A buffer for every pin the host reports, beyond the described ones too;
    // a test may report an absurd (or negative) count, which gets no buffers
    // of its own beyond the cut-off.
    size_t bufferPins = pins_.size();
    if (overridePinCount && pinCount > 0 && static_cast<size_t>(pinCount) > bufferPins)
        bufferPins = std::min<size_t>(static_cast<size_t>(pinCount), kMaxDescribedPins);
    buffers_.assign(bufferPins, std::vector<float>(static_cast<size_t>(blockSize_ > 0 ? blockSize_ : 1), 0.0f));
    blockStartClock.assign(bufferPins, sampleClock);
    for (size_t pin = 0; pin < pins_.size(); ++pin)
        if (pins_[pin].descriptor.direction == DIR_INPUT && pins_[pin].hasDefault)
            fill(static_cast<int32_t>(pin), defaultControlValue(pins_[pin].defaultText));
}

void Instance::open() {
    describePins();
    attachBuffers();
    dispatch(0 /* MOD_OPEN */);
}

intptr_t Instance::close() {
    const intptr_t result = dispatch(1 /* MOD_CLOSE */);
    record_ = nullptr;
    return result;
}

void Instance::sendPinStatus(int32_t pin, int32_t status) {
    EventRecord event;
    std::memset(&event, 0, sizeof event);
    event.eventType = EVENT_PIN_STATUS;
    event.intParam = status;
    event.ptrParam = pin;
    sendEvent(event);
}

int32_t Instance::pinIndex(const std::string& name) const {
    for (size_t pin = 0; pin < pins_.size(); ++pin)
        if (pins_[pin].name == name) return static_cast<int32_t>(pin);
    return -1;
}

void Instance::fill(int32_t pin, float value) {
    for (float& sample : buffers_[static_cast<size_t>(pin)]) sample = value;
}

void Instance::attachBuffers() {
    for (size_t pin = 0; pin < pins_.size() && pin < buffers_.size(); ++pin) {
        void* variable = pins_[pin].descriptor.variable;
        if (variable != nullptr) *static_cast<float**>(variable) = buffers_[pin].data();
    }
}

HostResult Instance::hostCallback(ModuleRecord* record, int32_t opcode, int32_t index, int32_t value,
                                  void* pointer, float) {
    if (record == nullptr) return 0;
    Instance* self = reinterpret_cast<Instance*>(record->hostValue);
    return self->answer(opcode, index, value, pointer);
}

HostResult Instance::answer(int32_t opcode, int32_t index, int32_t value, void* pointer) {
    requests.push_back(opcode);
    switch (opcode) {
        case HOST_SET_PIN_STATUS:
            statusNotices.push_back({index, value, static_cast<int32_t>(reinterpret_cast<intptr_t>(pointer))});
            return 0;
        case HOST_GET_SAMPLE_CLOCK:
            return sampleClock;
        case HOST_GET_PIN_BUFFER:
            if (index < 0 || static_cast<size_t>(index) >= buffers_.size()) return 0;
            return reinterpret_cast<HostResult>(buffers_[static_cast<size_t>(index)].data());
        case HOST_GET_BLOCK_START_CLOCK:
            if (index < 0 || static_cast<size_t>(index) >= blockStartClock.size()) return sampleClock;
            return blockStartClock[static_cast<size_t>(index)];
        case HOST_GET_PIN_COUNT:
            return overridePinCount ? pinCount : static_cast<HostResult>(pins_.size());
        case HOST_PROCESS_FUNCTION_CHANGED:
            ++processFunctionChanges;
            return 0;
        default:
            return 0;
    }
}

}  // namespace standin
