#include "host_interface/host_callback.h"

HostResult callHost(HostCallback callback, ModuleRecord* record, int32_t opcode, int32_t index,
                    int32_t value, void* pointer) {
    if (callback == nullptr) return 0;
    return callback(record, opcode, index, value, pointer, 0.0f);
}
