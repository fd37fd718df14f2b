// How a module describes one pin to the host (and to its own pin table).
#pragma once

#include <cstddef>
#include <cstdint>

#include "host_interface/abi.h"

enum PinDirection : int32_t { DIR_INPUT = 0, DIR_OUTPUT = 1 };

// Kinds of pin value. Only DT_AUDIO (a stream of float samples) is used by
// the equaliser; the others matter for the storage a pin keeps of its own.
enum PinDatatype : int32_t {
    DT_SHORT = 0,
    DT_TYPE1 = 1,
    DT_TYPE2 = 2,
    DT_TYPE3 = 3,
    DT_BYTE = 4,
    DT_AUDIO = 5,
    DT_FLOAT = 6,
    DT_TYPE7 = 7,
    DT_INT = 8
};

enum PinFlags : uint32_t {
    PIN_FLAG_REPEAT_LAST = 0x8,  // the last pin repeats over the remaining positions
    PIN_FLAG_NO_ENTRY = 0x400,   // no table entry ...
    PIN_FLAG_KEEP_ENTRY = 0x8000 // ... unless this is set too
};

struct PinDescriptor {
    void* variable;          // module variable holding the value; null: own storage
    int32_t direction;
    int32_t datatype;
    const char* name;
    const char* defaultText; // null when none is given
    int32_t hostWord20;      // neither written nor read by the library
    uint32_t flags;
    int32_t hostWord28;      // neither written nor read by the library
};

#if QV_TARGET_LAYOUT
static_assert(offsetof(PinDescriptor, variable) == 0, "PinDescriptor layout");
static_assert(offsetof(PinDescriptor, direction) == 4, "PinDescriptor layout");
static_assert(offsetof(PinDescriptor, datatype) == 8, "PinDescriptor layout");
static_assert(offsetof(PinDescriptor, name) == 12, "PinDescriptor layout");
static_assert(offsetof(PinDescriptor, defaultText) == 16, "PinDescriptor layout");
static_assert(offsetof(PinDescriptor, flags) == 24, "PinDescriptor layout");
static_assert(sizeof(PinDescriptor) == 32, "PinDescriptor layout");
#endif
