// The event record the host delivers to a module's event entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host_interface/abi.h"

enum EventType : int32_t {
    EVENT_PIN_STATUS = 0,    // intParam: new status, ptrParam: pin index
    EVENT_DATA = 2,          // param0, intParam, shortParam -> onDataEvent
    EVENT_CALL_REQUEST = 21  // ptrParam: address of a member operation to call
};

struct EventRecord {
    int32_t param0;
    int32_t eventType;
    int32_t intParam;
    uint16_t shortParam;
    uint16_t unused14;
    intptr_t ptrParam;
};

#if QV_TARGET_LAYOUT
static_assert(offsetof(EventRecord, param0) == 0, "EventRecord layout");
static_assert(offsetof(EventRecord, eventType) == 4, "EventRecord layout");
static_assert(offsetof(EventRecord, intParam) == 8, "EventRecord layout");
static_assert(offsetof(EventRecord, shortParam) == 12, "EventRecord layout");
static_assert(offsetof(EventRecord, ptrParam) == 16, "EventRecord layout");
static_assert(sizeof(EventRecord) == 20, "EventRecord layout");
#endif
