// One band of the equaliser: a biquad section whose coefficients the left and
// right chains share, each chain with its own delay values, plus a cache of
// the design inputs and intermediates so a redesign recomputes only what an
// input change really touches.
#pragma once

#include <cstdint>

enum FilterType : int32_t {
    FILTER_LOW_PASS = 0,
    FILTER_HIGH_PASS = 1,
    FILTER_BAND_PASS_SKIRT = 2,  // constant skirt gain: the peak rises as the band narrows
    FILTER_BAND_PASS_PEAK = 3,   // 0 dB peak gain
    FILTER_NOTCH = 4,
    FILTER_ALL_PASS = 5,
    FILTER_PEAKING = 6,
    FILTER_LOW_SHELF = 7,
    FILTER_HIGH_SHELF = 8
};

struct BandFilter {
    // Design inputs last taken up (after clamping), or their reset sentinels.
    float lastFreq;
    float lastWidth;
    float lastGain;
    // Design intermediates.
    double alpha;
    double w0;
    double shelfTerm;
    double amplitude;
    double sinW0;
    double cosW0;
    // Coefficients, already divided by a0:
    // y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2.
    double b0, b1, b2, a1, a2;
    // Delay values: previous output, the one before, previous input, the one
    // before; each with its left and right side by side, as the block kernel
    // takes them.
    double leftY1, rightY1, leftY2, rightY2;
    double leftX1, rightX1, leftX2, rightX2;
    int32_t type;
    // 2*pi / the sample rate of the instance the band belongs to: the design
    // turns Hz into radians per sample with it. Each instance keeps its own,
    // so instances opened at different rates never design at each other's.
    double radiansPerHertz;
};

// What the design takes up: frequencies are clamped to kMinFreqHz..kMaxFreqHz
// for every type, widths and gains only for peaking and the shelves. A band
// at or above half the sample rate stays at kMaxW0 radians per sample.
constexpr float kMinFreqHz = 10.0f;
constexpr float kMaxFreqHz = 20000.0f;
constexpr float kMinWidth = 0.001f;
constexpr float kMaxWidth = 20.0f;
constexpr float kMinGainDb = -20.0f;
constexpr float kMaxGainDb = 20.0f;
constexpr double kMaxW0 = 3.141592653589793 * (1.0 - 1.0 / 4096.0);

constexpr float kFreqSentinel = -50.0f;
constexpr float kWidthSentinel = -5.0f;
constexpr float kGainSentinel = -100.0f;
constexpr int32_t kInitialFilterType = -6;  // matches no response: the first design is a type change

// A filter in its initial state, designing at `radiansPerHertz` (2*pi / the
// sample rate), or null when memory runs out.
BandFilter* createBandFilter(double radiansPerHertz);
void resetBandFilter(BandFilter& filter, double radiansPerHertz);

// Designs the band for a response type, a frequency in Hz, a width (octaves
// for types 0 to 6, the shelf's Q for 7 and 8) and a gain in dB. Allocates
// nothing; called between samples.
void designBand(BandFilter* filter, int32_t type, float freqHz, float width, float gainDb);

// True when every delay value lies within +-limit (a NaN does not).
bool delayValuesWithin(const BandFilter& filter, double limit);
bool coefficientsFinite(const BandFilter& filter);
void clearDelayValues(BandFilter& filter);
