// From band settings in design units to the control pin values a host feeds
// the equaliser.
//
// The module multiplies its frequency, width and gain pins by ten, as floats,
// and takes the type pin as the response number. A host therefore feeds a
// tenth of Hz, of the width (octaves, or the shelves' Q) and of dB, chosen so
// that the module's own product lands on the float nearest the setting, and
// the type unscaled. Every front end (the render tool, the plug-in for open
// hosts) uses this one translation, so the same settings give the same bits.
#pragma once

#include <cmath>

#include "equaliser/band_filter.h"

namespace eq {

// The pin value p whose product with ten, rounded to a float as the module
// does it, gives the float nearest `designValue`.
inline float controlValueFor(double designValue) {
    const float target = static_cast<float>(designValue);
    const auto reaches = [target](float pin) { return 10.0f * pin == target; };
    const float first = static_cast<float>(designValue / 10.0);
    if (reaches(first)) return first;
    float up = first, down = first;
    for (int step = 0; step < 4; ++step) {
        up = std::nextafter(up, INFINITY);
        if (reaches(up)) return up;
        down = std::nextafter(down, -INFINITY);
        if (reaches(down)) return down;
    }
    return first;  // no pin value lands exactly; the nearest tenth is as close as the module gets
}

// Peaking and the shelves are the responses whose design takes a gain.
inline bool responseHasGain(int type) {
    return type == FILTER_PEAKING || type == FILTER_LOW_SHELF || type == FILTER_HIGH_SHELF;
}

// The four control pin values of one band.
struct BandPins {
    float freq = 0.0f;
    float gain = 0.0f;
    float width = 0.0f;
    float type = 0.0f;
};

// `widthDesign` is what the design takes: octaves for responses 0 to 6, the
// Q for the shelves. A response without a gain is fed 0 dB, so a gain left
// over from another response never reaches its pin.
inline BandPins bandPinsFor(int type, double freqHz, double widthDesign, double gainDb) {
    BandPins pins;
    pins.type = static_cast<float>(type);
    pins.freq = controlValueFor(freqHz);
    pins.width = controlValueFor(widthDesign);
    pins.gain = controlValueFor(responseHasGain(type) ? gainDb : 0.0);
    return pins;
}

}  // namespace eq
