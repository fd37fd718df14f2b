// An equaliser created through the export, with a fake host that reports its
// 24 pins, closed through the dispatcher when the test is done with it.
#pragma once

#include <cstdint>

#include "equaliser/module.h"
#include "tests/unit/recording_module.h"

extern "C" ModuleRecord* QV_HOST_ENTRY makeModule(int32_t index, int32_t interfaceKind,
                                                  HostCallback callback, intptr_t hostValue);

namespace hostif {

struct Equaliser {
    FakeHost host;
    ModuleRecord* record = nullptr;
    Module* module = nullptr;  // null when makeModule gave no record

    Equaliser() {
        host.pinCount = kPinCount;
        record = makeModule(0, 1, &FakeHost::callback, host.hostValue());
        if (record != nullptr) module = static_cast<Module*>(record->object);
    }
    ~Equaliser() {
        if (record != nullptr) dispatch(MOD_CLOSE);
    }
    Equaliser(const Equaliser&) = delete;
    Equaliser& operator=(const Equaliser&) = delete;

    intptr_t dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* pointer = nullptr,
                      float option = 0.0f) {
        return record->dispatcherEntry(record, opcode, index, value, pointer, option);
    }
    void setSampleRate(float rate) { dispatch(MOD_SET_SAMPLE_RATE, 0, 0, nullptr, rate); }
    void open() { dispatch(MOD_OPEN); }
    int32_t processFunctionChanges() const {
        return static_cast<int32_t>(host.requestsOf(HOST_PROCESS_FUNCTION_CHANGED).size());
    }
};

}  // namespace hostif
