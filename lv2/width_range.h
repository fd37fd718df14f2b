// The widths the plug-in lets each response take. A host's generic slider
// goes from one end of a port's range to the other, and the module's own
// range (0.001 to 20) lets a low-pass, high-pass or skirt band-pass resonate
// by some +63 dB and a shelf overshoot without bound at its narrowest: a
// slider dragged to its end would be a hazard to ears and speakers. So the
// width port spans what some response can use, and each response takes the
// part of it where no setting, at any frequency and the usual sample rates,
// lifts anything by much more than the peaking band's own maximum, +20 dB
// (tests/lv2/width_range_test.cpp sweeps every slider position to show it).
//
// One port serves every response, so that sessions and presets keep their
// meaning when a band changes response: the limit follows the response the
// band has, not the port.
#pragma once

#include <algorithm>
#include <cmath>

#include "equaliser/band_filter.h"

namespace qvlv2 {

struct WidthRange {
    float minimum;
    float maximum;
};

// What the port offers: octaves from a hundredth (a hum notch a third of a
// hertz wide at 50 Hz) to ten (the whole audible range), and the shelves'
// Q in the same numbers.
constexpr WidthRange kWidthPortRange = {0.01f, 10.0f};

// A resonant low-pass or high-pass peaks at its corner by about its Q, a
// skirt band-pass by exactly its Q; 0.15 octave is Q 9.6, +19.7 dB, and the
// frequency warping of the design only widens a band. A shelf's Q above
// 0.707 overshoots on the lifted side; at Q 1 a +20 dB shelf peaks at
// +21.0 dB, keeping the resonant shelf people reach for. The band-pass with
// a 0 dB peak, the notch and the all-pass never lift anything, and the
// peaking band never beyond its gain, so they take the whole port.
constexpr float kMinResonantWidth = 0.15f;
constexpr float kMaxShelfQ = 1.0f;

constexpr WidthRange widthRange(int type) {
    switch (type) {
        case FILTER_LOW_PASS:
        case FILTER_HIGH_PASS:
        case FILTER_BAND_PASS_SKIRT:
            return {kMinResonantWidth, kWidthPortRange.maximum};
        case FILTER_LOW_SHELF:
        case FILTER_HIGH_SHELF:
            return {kWidthPortRange.minimum, kMaxShelfQ};
        default:
            return kWidthPortRange;
    }
}

// The width a band of this response is designed with for a port value (a
// number: the caller has replaced a NaN).
inline double limitedWidth(int type, double width) {
    const WidthRange range = widthRange(type);
    return std::min<double>(range.maximum, std::max<double>(range.minimum, width));
}

}  // namespace qvlv2
