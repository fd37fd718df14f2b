// The inline-display extension, through which a host shows a small picture
// drawn by the plug-in in its mixer strip. No system header declares it;
// these declarations follow the extension's documented interface.
#pragma once

#include <lv2/core/lv2.h>

#include <cstdint>

namespace qvlv2 {

constexpr const char* kInlineDisplayInterfaceUri = "http://harrisonconsoles.com/lv2/inlinedisplay#interface";
constexpr const char* kInlineDisplayQueueDrawUri = "http://harrisonconsoles.com/lv2/inlinedisplay#queue_draw";

// Pixels in native-endian 32-bit words 0xAARRGGBB with premultiplied alpha,
// rows `stride` bytes apart; the plug-in owns them.
struct InlineDisplayImage {
    unsigned char* data;
    int width;
    int height;
    int stride;
};

// The extension data the plug-in offers: draw the picture `width` pixels
// wide and at most `maxHeight` high, or give null to draw nothing. Called
// from the host's display thread, never from its audio thread.
struct InlineDisplayInterface {
    InlineDisplayImage* (*render)(LV2_Handle instance, uint32_t width, uint32_t maxHeight);
};

// The host feature: queueDraw(handle) asks for a render soon; real-time safe.
struct InlineDisplayQueue {
    void* handle;
    void (*queueDraw)(void* handle);
};

}  // namespace qvlv2
