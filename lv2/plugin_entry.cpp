// The plug-in's C boundary: the descriptor an LV2 host finds through
// lv2_descriptor(), and the inline display's extension data. No exception
// leaves through here.
#include <lv2/core/lv2.h>

#include <cstring>

#include "lv2/equaliser_instance.h"
#include "lv2/inline_display.h"
#include "lv2/ports.h"

namespace {

using qvlv2::EqualiserInstance;

EqualiserInstance* instanceOf(LV2_Handle handle) { return static_cast<EqualiserInstance*>(handle); }

const qvlv2::InlineDisplayQueue* queueDrawFeature(const LV2_Feature* const* features) {
    for (const LV2_Feature* const* f = features; f != nullptr && *f != nullptr; ++f)
        if ((*f)->URI != nullptr && std::strcmp((*f)->URI, qvlv2::kInlineDisplayQueueDrawUri) == 0)
            return static_cast<const qvlv2::InlineDisplayQueue*>((*f)->data);
    return nullptr;
}

LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const* features) {
    try {
        return EqualiserInstance::create(sampleRate, queueDrawFeature(features));
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

qvlv2::InlineDisplayImage* renderDisplay(LV2_Handle handle, uint32_t width, uint32_t maxHeight) {
    try {
        return instanceOf(handle)->renderDisplay(width, maxHeight);
    } catch (...) {
        return nullptr;  // nothing drawn this time
    }
}

const qvlv2::InlineDisplayInterface kInlineDisplay = {renderDisplay};

const void* extensionData(const char* uri) {
    if (uri != nullptr && std::strcmp(uri, qvlv2::kInlineDisplayInterfaceUri) == 0) return &kInlineDisplay;
    return nullptr;
}

const LV2_Descriptor kDescriptor = {qvlv2::kPluginUri, instantiate, connectPort, activate,
                                    run,               deactivate,  cleanup,     extensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
