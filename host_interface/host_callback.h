// The one function through which a module asks anything of the host.
#pragma once

#include <cstdint>

struct ModuleRecord;

// Pointer-sized on every build: the host may answer with an address.
using HostResult = intptr_t;

// (record, opcode, index, value, pointer, float option). The library always
// passes its own record and 0.0 as the option.
using HostCallback = HostResult (*)(ModuleRecord* record, int32_t opcode, int32_t index,
                                    int32_t value, void* pointer, float option);

// Requests the library sends. No other opcode is ever sent.
enum HostOpcode : int32_t {
    HOST_SET_PIN_STATUS = 0,            // index: output pin, value: status, pointer: sample clock
    HOST_GET_SAMPLE_CLOCK = 3,          // -> current sample clock
    HOST_GET_PIN_BUFFER = 7,            // index: pin -> address of its sample buffer
    HOST_GET_BLOCK_START_CLOCK = 8,     // index: pin -> clock of its buffer's first sample
    HOST_GET_PIN_COUNT = 14,            // -> total pin count (0 or less: none)
    HOST_PROCESS_FUNCTION_CHANGED = 22  // processEntry now holds a different function
};

// Every request goes through here: a missing callback answers 0 and drops
// notifications, so a module created without a host still works.
HostResult callHost(HostCallback callback, ModuleRecord* record, int32_t opcode,
                    int32_t index = 0, int32_t value = 0, void* pointer = nullptr);
