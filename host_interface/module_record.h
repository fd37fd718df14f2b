// The records exchanged with the host: what getModuleProperties fills and the
// record the host holds for each instance. On the 32-bit target every field is
// a 32-bit word at a fixed offset; a 64-bit native build widens only the
// pointer-sized fields and keeps the order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host_interface/abi.h"

class SEModule_base;
struct ModuleRecord;

using DispatcherResult = intptr_t;
using DispatcherEntry = DispatcherResult(QV_HOST_ENTRY*)(ModuleRecord* record, int32_t opcode,
                                                         int32_t index, int32_t value,
                                                         void* pointer, float option);
using ProcessEntry = void(QV_HOST_ENTRY*)(SEModule_base* object, int32_t bufferOffset,
                                          int32_t sampleCount);
using EventEntry = void(QV_HOST_ENTRY*)(SEModule_base* object, struct EventRecord* event);

constexpr int32_t kInterfaceVersion = 2230;
constexpr uint32_t kRecordMagic = 0x646F6365u;  // bytes 65 63 6F 64

struct ModuleInfo {
    const char* name;
    const char* id;
    const char* about;
    int32_t hostWord12;  // the host's; never written
    int32_t hostWord16;  // the host's; never written
    int32_t interfaceVersion;
};

struct ModuleRecord {
    uint32_t magic;
    int32_t version;
    intptr_t hostValue;  // stored unchanged, never interpreted
    SEModule_base* object;
    int32_t reserved16;
    DispatcherEntry dispatcherEntry;
    ProcessEntry processEntry;
    EventEntry eventEntry;
    int32_t reserved32[4];
};

#if QV_TARGET_LAYOUT
static_assert(offsetof(ModuleInfo, name) == 0, "ModuleInfo layout");
static_assert(offsetof(ModuleInfo, id) == 4, "ModuleInfo layout");
static_assert(offsetof(ModuleInfo, about) == 8, "ModuleInfo layout");
static_assert(offsetof(ModuleInfo, interfaceVersion) == 20, "ModuleInfo layout");
static_assert(sizeof(ModuleInfo) == 24, "ModuleInfo layout");

static_assert(offsetof(ModuleRecord, magic) == 0, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, version) == 4, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, hostValue) == 8, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, object) == 12, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, reserved16) == 16, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, dispatcherEntry) == 20, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, processEntry) == 24, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, eventEntry) == 28, "ModuleRecord layout");
static_assert(offsetof(ModuleRecord, reserved32) == 32, "ModuleRecord layout");
static_assert(sizeof(ModuleRecord) == 48, "ModuleRecord layout");
#endif
