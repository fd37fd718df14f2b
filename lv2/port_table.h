// What the plug-in tells hosts about each band control: one table that the
// plug-in's .ttl is written from and that run() falls back on for a control
// port a host left unconnected.
#pragma once

#include "lv2/ports.h"

namespace qvlv2 {

enum class ControlUnit { Hz, Db, None };

struct ControlDescription {
    const char* symbol;  // band number appended: freq1 .. freq5
    const char* name;    // band number appended: "Frequency 1"
    float minimum;
    float maximum;
    // The module's own pin default in design units: a flat peaking band
    // (0 dB, 3 octaves). Its frequency default, 5 Hz, is designed at the
    // 10 Hz floor, which is where the port starts.
    float defaultValue;
    ControlUnit unit;
    bool logarithmic;
    bool enumeration;  // integer response number with scale points
    const char* comment;
};

constexpr ControlDescription kControls[4] = {
    {"freq", "Frequency", 10.0f, 20000.0f, 10.0f, ControlUnit::Hz, true, false,
     "Centre or corner frequency"},
    {"gain", "Gain", -20.0f, 20.0f, 0.0f, ControlUnit::Db, false, false,
     "Gain of the peaking and shelf responses; the others ignore it"},
    {"width", "Width", 0.001f, 20.0f, 3.0f, ControlUnit::None, true, false,
     "Bandwidth in octaves for responses 0 to 6, the slope Q for the shelves (7 and 8)"},
    {"type", "Type", 0.0f, 8.0f, 6.0f, ControlUnit::None, false, true, "Response"},
};
static_assert(BAND_FREQ == 0 && BAND_GAIN == 1 && BAND_WIDTH == 2 && BAND_TYPE == 3,
              "the table follows the port order");

// Labels of the response numbers the type ports take.
constexpr const char* kResponseLabels[9] = {"Low-pass",  "High-pass", "Band-pass (skirt)",
                                            "Band-pass (peak)", "Notch", "All-pass",
                                            "Peaking",   "Low shelf", "High shelf"};

}  // namespace qvlv2
