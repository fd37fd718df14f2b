// What the plug-in tells hosts about its controls: one table that the
// plug-in's .ttl is written from and that run() falls back on for a control
// port a host left unconnected (or set to NaN).
#pragma once

#include "lv2/ports.h"
#include "lv2/width_range.h"

namespace qvlv2 {

// Octaves have no term in the LV2 units vocabulary; the plug-in's .ttl
// defines one of its own, shown as "oct".
enum class ControlUnit { Hz, Db, Octaves, None };

struct ControlDescription {
    const char* symbol;  // band number appended: freq1 .. freq5
    const char* name;    // band number inserted before any parenthesis: "Frequency 1"
    float minimum;
    float maximum;
    ControlUnit unit;
    bool logarithmic;
    bool enumeration;  // integer response number with scale points
    const char* comment;
};

constexpr ControlDescription kControls[4] = {
    {"freq", "Frequency", 10.0f, 20000.0f, ControlUnit::Hz, true, false, "Centre or corner frequency"},
    {"gain", "Gain", -20.0f, 20.0f, ControlUnit::Db, false, false,
     "Gain of the peaking and shelf responses; the others ignore it"},
    {"width", "Width (oct, shelf Q)", kWidthPortRange.minimum, kWidthPortRange.maximum, ControlUnit::Octaves, true,
     false,
     "Bandwidth in octaves for responses 0 to 6: between the -3 dB points of the band-passes and the notch, "
     "between the half-gain points of a peaking band. For the shelves (7 and 8) it is the slope as a Q: 0.707 is "
     "the steepest shelf without overshoot, higher values overshoot near the corner. Each response takes the part "
     "of the range where nothing is lifted by much more than +20 dB: low-pass, high-pass and skirt band-pass at "
     "least 0.15 octave (a corner peak of +19.7 dB; 1.9 octaves is Butterworth, flat), the shelves a Q of at "
     "most 1 (+1 dB of overshoot at +20 dB); a setting beyond is taken as that end."},
    {"type", "Type", 0.0f, 8.0f, ControlUnit::None, false, true, "Response"},
};
static_assert(BAND_FREQ == 0 && BAND_GAIN == 1 && BAND_WIDTH == 2 && BAND_TYPE == 3,
              "the table follows the port order");

// Labels of the response numbers the type ports take.
constexpr const char* kResponseLabels[9] = {"Low-pass",  "High-pass", "Band-pass (skirt)",
                                            "Band-pass (peak)", "Notch", "All-pass",
                                            "Peaking",   "Low shelf", "High shelf"};

// A new instance is flat, with its bands where people reach first: shelves
// for the bass and the air at the ends, bells two octaves apart between
// them. Each width is the one quorvane-render gives the response when none
// is written (1 octave; Q 0.707 for the shelves, their steepest slope
// without overshoot), so presets/flat.preset spells these out in the
// render tool's own defaults.
struct BandDefault {
    float type;
    float freqHz;
    float width;
    float gainDb;
};
constexpr BandDefault kBandDefaults[kBands] = {
    {7.0f, 80.0f, 0.707f, 0.0f},     // low shelf
    {6.0f, 250.0f, 1.0f, 0.0f},      // peaking
    {6.0f, 1000.0f, 1.0f, 0.0f},     // peaking
    {6.0f, 4000.0f, 1.0f, 0.0f},     // peaking
    {8.0f, 12000.0f, 0.707f, 0.0f},  // high shelf
};

constexpr float defaultValue(uint32_t band, BandControl control) {
    const BandDefault& d = kBandDefaults[band];
    return control == BAND_FREQ ? d.freqHz : control == BAND_GAIN ? d.gainDb : control == BAND_WIDTH ? d.width : d.type;
}

// The bypass, the output gain after the equaliser (in dB) and each band's on
// switch ("on1" .. "on5").
constexpr const char* kEnabledSymbol = "enabled";
constexpr const char* kOutputGainSymbol = "output_gain";
constexpr const char* kBandOnSymbol = "on";
constexpr float kMinOutputGainDb = -20.0f;
constexpr float kMaxOutputGainDb = 20.0f;
constexpr float kDefaultOutputGainDb = 0.0f;

// Toggles (the bypass, a band's on switch) read as LV2 defines them: above
// zero is on. A NaN reads as on, which both toggles default to.
inline bool toggleIsOn(float value) { return !(value <= 0.0f); }

}  // namespace qvlv2
