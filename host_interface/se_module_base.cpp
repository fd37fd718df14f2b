#include "host_interface/se_module_base.h"

#include <cstring>

namespace {

// Record entries the host calls. The dispatcher entry finds the object
// through the record; the event entry is handed the object itself.
//
// Nothing may unwind into the host. The shipped DLL is built without
// exceptions (every allocation asks for a null result instead of a throw), so
// nothing in it can throw; builds with exceptions catch at the boundary.
DispatcherResult QV_HOST_ENTRY dispatcherEntry(ModuleRecord* record, int32_t opcode, int32_t index,
                                               int32_t value, void* pointer, float option) {
#if defined(__cpp_exceptions)
    try {
        return record->object->dispatcher(opcode, index, value, pointer, option);
    } catch (...) {
        return 0;
    }
#else
    return record->object->dispatcher(opcode, index, value, pointer, option);
#endif
}

void QV_HOST_ENTRY eventEntry(SEModule_base* object, EventRecord* event) {
#if defined(__cpp_exceptions)
    try {
        object->handleEvent(event);
    } catch (...) {
    }
#else
    object->handleEvent(event);
#endif
}

using MemberOperation = void(QV_THISCALL*)(SEModule_base* self);

// Shared by every instance; each request names the asking object in it. Its
// other words never change, so they are written once, here; the one that does
// is stored atomically, since instances may ask from several threads at once
// (the last to ask is named, as with one thread).
ProcessInfo processInfo = {1, static_cast<int32_t>(sizeof(ProcessFunction)), nullptr, 0};

}  // namespace

SEModule_base::SEModule_base(HostCallback callback, intptr_t hostValue) {
    pinTable_ = nullptr;
    callback_ = callback;
    std::memset(&record_, 0, sizeof record_);
    record_.magic = kRecordMagic;
    record_.version = 1;
    record_.hostValue = hostValue;
    record_.object = this;
    record_.dispatcherEntry = &dispatcherEntry;
    record_.eventEntry = &eventEntry;
    record_.processEntry = &doNothingProcess;
    currentProcess_ = ProcessFunction{&doNothingProcess, {0, 0, 0}};
    sampleRate_ = 44100.0f;
    blockSize_ = 1024;
}

SEModule_base::~SEModule_base() { releasePinTable(); }

void SEModule_base::doNothingProcess(SEModule_base*, int32_t, int32_t) {}

HostResult SEModule_base::requestHost(int32_t opcode, int32_t index, int32_t value, void* pointer) {
    return callHost(callback_, &record_, opcode, index, value, pointer);
}

DispatcherResult SEModule_base::dispatcher(int32_t opcode, int32_t index, int32_t value,
                                           void* pointer, float option) {
    switch (opcode) {
        case MOD_OPEN:
            open();
            return 0;
        case MOD_CLOSE:
            close();
            delete this;
            return 1;
        case MOD_SET_SAMPLE_RATE:
            setSampleRate(option);
            return 0;
        case MOD_SET_BLOCK_SIZE:
            setBlockSize(value);
            return 0;
        case MOD_GET_PIN_PROPERTIES:
            // A host that passes no descriptor gets a plain "no".
            if (pointer == nullptr) return 0;
            return getPinProperties(index, static_cast<PinDescriptor*>(pointer)) ? 1 : 0;
        case MOD_NOTIFY:
            onHostNotify();
            if (index > 0) onHostNotifyCount(index);
            return 0;
        case MOD_MESSAGE:
            onHostMessage(value, index, pointer);
            return 0;
        case MOD_GET_PROCESS_INFO:
            __atomic_store_n(&processInfo.member, &currentProcess_, __ATOMIC_RELAXED);
            return reinterpret_cast<DispatcherResult>(&processInfo);
        default:
            return 0;
    }
}

void SEModule_base::handleEvent(EventRecord* event) {
    switch (event->eventType) {
        case EVENT_PIN_STATUS: {
            // Only the pins of our own table can change status; an index
            // outside it (or an event before open) is dropped.
            const intptr_t position = event->ptrParam;
            if (pinTable_ == nullptr || position < 0 || position >= pinTable_->count()) return;
            SEPin& pin = (*pinTable_)[static_cast<int32_t>(position)];
            pin.status = event->intParam;
            // A position the module never described (the host counted more
            // pins) has no owner yet; it is still ours to notify.
            SEModule_base* owner = pin.owner != nullptr ? pin.owner : this;
            owner->onPinStatusChange(&pin);
            if (event->intParam == PIN_ONE_CHANGE) pin.status = PIN_STATIC;
            return;
        }
        case EVENT_DATA:
            onDataEvent(event->param0, event->intParam, event->shortParam);
            return;
        case EVENT_CALL_REQUEST: {
            const auto operation = reinterpret_cast<MemberOperation>(event->ptrParam);
            if (operation != nullptr) operation(this);
            return;
        }
        default:
            return;
    }
}

void SEModule_base::onPinStatusChange(SEPin*) {}
void SEModule_base::open() { buildPinTable(); }
void SEModule_base::close() {}
void SEModule_base::hook6(int32_t, int32_t) {}
void SEModule_base::setSampleRate(float rate) { sampleRate_ = rate; }
void SEModule_base::setBlockSize(int32_t size) { blockSize_ = size; }
float SEModule_base::getSampleRate() { return sampleRate_; }
int32_t SEModule_base::getBlockSize() { return blockSize_; }
bool SEModule_base::getPinProperties(int32_t, PinDescriptor*) { return false; }
bool SEModule_base::hook12(int32_t) { return false; }
bool SEModule_base::hook13(int32_t) { return false; }
void SEModule_base::onHostNotify() {}
void SEModule_base::onHostNotifyCount(int32_t) {}
void SEModule_base::onDataEvent(int32_t, int32_t, uint16_t) {}
void SEModule_base::onHostMessage(int32_t, int32_t, void*) {}

void SEModule_base::releasePinTable() {
    PinTable::destroy(pinTable_);
    pinTable_ = nullptr;
}

namespace {
bool getsTableEntry(const PinDescriptor& descriptor) {
    return !((descriptor.flags & PIN_FLAG_NO_ENTRY) != 0 && (descriptor.flags & PIN_FLAG_KEEP_ENTRY) == 0);
}
}  // namespace

bool SEModule_base::buildPinTable() {
    const int32_t count =
        callback_ == nullptr ? 0 : static_cast<int32_t>(requestHost(HOST_GET_PIN_COUNT));
    // With no pins reported the earlier table (if any) stays.
    if (count <= 0) return true;

    // Opening again replaces the earlier table instead of leaking it.
    releasePinTable();
    PinTable* table = PinTable::create(count);
    if (table == nullptr) return false;
    pinTable_ = table;

    PinDescriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    bool described = getPinProperties(0, &descriptor);
    int32_t n = 0;
    int32_t p = 0;
    while (described && p < count) {
        if (getsTableEntry(descriptor)) {
            (*table)[p].initialise(this, p, descriptor);
            ++p;
        }
        ++n;
        std::memset(&descriptor, 0, sizeof descriptor);
        described = getPinProperties(n, &descriptor);
    }

    // The last description may stand for every remaining position, each pin
    // then keeping its own storage.
    std::memset(&descriptor, 0, sizeof descriptor);
    getPinProperties(n - 1, &descriptor);
    if (getsTableEntry(descriptor) && (descriptor.flags & PIN_FLAG_REPEAT_LAST) != 0 && p < count) {
        descriptor.variable = nullptr;
        for (; p < count; ++p) (*table)[p].initialise(this, p, descriptor);
    }
    return true;
}

void SEModule_base::installProcess(ProcessEntry function) {
    if (currentProcess_.function == function && currentProcess_.zero[0] == 0 &&
        currentProcess_.zero[1] == 0 && currentProcess_.zero[2] == 0)
        return;
    currentProcess_ = ProcessFunction{function, {0, 0, 0}};
    record_.processEntry = function;
    requestHost(HOST_PROCESS_FUNCTION_CHANGED);
}
