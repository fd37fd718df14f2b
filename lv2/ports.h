// The plug-in's ports in index order, as its .ttl describes them: the stereo
// audio pair in, the pair out, per band its frequency, gain, width and type
// controls, then the bypass, the output gain and the bands' on switches.
// Ports added later go after the earlier ones, so the first 24 keep the
// indices they had.
#pragma once

#include <cstdint>

namespace qvlv2 {

constexpr uint32_t kBands = 5;

enum Port : uint32_t {
    PORT_IN_LEFT = 0,
    PORT_IN_RIGHT = 1,
    PORT_OUT_LEFT = 2,
    PORT_OUT_RIGHT = 3,
    PORT_FIRST_CONTROL = 4,  // band k (0-based): freq, gain, width, type at 4 + 4k .. 7 + 4k
    PORT_ENABLED = PORT_FIRST_CONTROL + 4 * kBands,  // lv2:enabled: 0 bypasses
    PORT_OUTPUT_GAIN = PORT_ENABLED + 1,
    PORT_FIRST_BAND_ON = PORT_OUTPUT_GAIN + 1,  // band k (0-based) on at 26 + k
    PORT_COUNT = PORT_FIRST_BAND_ON + kBands
};
enum BandControl : uint32_t { BAND_FREQ = 0, BAND_GAIN = 1, BAND_WIDTH = 2, BAND_TYPE = 3 };

constexpr uint32_t controlPort(uint32_t band, BandControl control) {
    return PORT_FIRST_CONTROL + 4 * band + control;
}
constexpr uint32_t bandOnPort(uint32_t band) { return PORT_FIRST_BAND_ON + band; }

constexpr const char* kPluginUri = "urn:quorvane:lv2:eq5";

}  // namespace qvlv2
