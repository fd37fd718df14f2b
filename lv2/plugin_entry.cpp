// The plug-in's C boundary: the descriptor an LV2 host finds through
// lv2_descriptor(). No exception leaves through here.
#include <lv2/core/lv2.h>

#include "lv2/equaliser_instance.h"
#include "lv2/ports.h"

namespace {

using qvlv2::EqualiserInstance;

EqualiserInstance* instanceOf(LV2_Handle handle) { return static_cast<EqualiserInstance*>(handle); }

LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const*) {
    try {
        return EqualiserInstance::create(sampleRate);
    } catch (...) {
        return nullptr;
    }
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) { instanceOf(handle)->connect(port, data); }

void activate(LV2_Handle handle) {
    try {
        instanceOf(handle)->activate();
    } catch (...) {
    }
}

void run(LV2_Handle handle, uint32_t frames) { instanceOf(handle)->run(frames); }

void deactivate(LV2_Handle) {}

void cleanup(LV2_Handle handle) { delete instanceOf(handle); }

const void* extensionData(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {qvlv2::kPluginUri, instantiate, connectPort, activate,
                                    run,               deactivate,  cleanup,     extensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
