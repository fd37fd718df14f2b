#include "equaliser/band_filter.h"

#include <cmath>
#include <new>

#include "equaliser/design_math.h"

namespace {

constexpr double kHalfLn2 = 0.6931471805599453 / 2.0;

// The 20 kHz bound does not follow the sample rate: at 40 kHz and below it
// reaches half the sample rate, where the formulas give an infinite design or
// fold back to a mirrored frequency. Such a band stays just below half the
// sample rate instead (kMaxW0), far enough for cos(w0) to stay clear of -1.

// The range of the bandwidth term in which every design is finite and stable
// in double precision. The formulas leave it only where they break: a width
// of 0 or below (poles on or outside the unit circle) or one so wide for its
// frequency that sinh overflows or the band degenerates.
constexpr double kMinAlpha = 1.0 / 16777216.0;  // 2^-24
constexpr double kMaxAlpha = 16777216.0;        // 2^24

// Clamps that let a NaN through unchanged.
float clampInput(float value, float low, float high) {
    if (value < low) return low;
    if (value > high) return high;
    return value;
}

double guardW0(double w0) {
    // Only finite frequencies past the guard; NaN and an infinite rate keep
    // their (NaN) design.
    return (w0 > kMaxW0 && std::isfinite(w0)) ? kMaxW0 : w0;
}

double bandwidthTerm(double widthOctaves, double w0, double sinW0) {
    return sinW0 * eq::dmath::sinh(kHalfLn2 * widthOctaves * w0 / sinW0);
}

struct Raw {
    double b0, b1, b2, a0, a1, a2;
};

Raw rawDirect(int32_t type, double c, double s, double alpha) {
    switch (type) {
        case FILTER_LOW_PASS:
            return {(1.0 - c) / 2.0, 1.0 - c, (1.0 - c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
        case FILTER_HIGH_PASS:
            return {(1.0 + c) / 2.0, -(1.0 + c), (1.0 + c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
        case FILTER_BAND_PASS_SKIRT:
            return {s / 2.0, 0.0, -s / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
        case FILTER_BAND_PASS_PEAK:
            return {alpha, 0.0, -alpha, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
        case FILTER_NOTCH:
            return {1.0, -2.0 * c, 1.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
        default:  // FILTER_ALL_PASS
            return {1.0 - alpha, -2.0 * c, 1.0 + alpha, 1.0 + alpha, -2.0 * c, 1.0 - alpha};
    }
}

Raw rawPeaking(double c, double alpha, double A) {
    return {1.0 + alpha * A, -2.0 * c, 1.0 - alpha * A, 1.0 + alpha / A, -2.0 * c, 1.0 - alpha / A};
}

Raw rawShelf(int32_t type, double c, double s, double A, double S) {
    if (type == FILTER_LOW_SHELF)
        return {A * ((A + 1.0) - (A - 1.0) * c + s * S),
                2.0 * A * ((A - 1.0) - (A + 1.0) * c),
                A * ((A + 1.0) - (A - 1.0) * c - s * S),
                (A + 1.0) + (A - 1.0) * c + s * S,
                -2.0 * ((A - 1.0) + (A + 1.0) * c),
                (A + 1.0) + (A - 1.0) * c - s * S};
    return {A * ((A + 1.0) + (A - 1.0) * c + s * S),
            -2.0 * A * ((A - 1.0) + (A + 1.0) * c),
            A * ((A + 1.0) + (A - 1.0) * c - s * S),
            (A + 1.0) - (A - 1.0) * c + s * S,
            2.0 * ((A - 1.0) - (A + 1.0) * c),
            (A + 1.0) - (A - 1.0) * c - s * S};
}

void store(BandFilter& f, const Raw& r) {
    f.b0 = r.b0 / r.a0;
    f.b1 = r.b1 / r.a0;
    f.b2 = r.b2 / r.a0;
    f.a1 = r.a1 / r.a0;
    f.a2 = r.a2 / r.a0;
}

void storePassThrough(BandFilter& f) {
    f.b0 = 1.0;
    f.b1 = 0.0;
    f.b2 = 0.0;
    f.a1 = 0.0;
    f.a2 = 0.0;
}

// Both poles strictly inside the unit circle, all coefficients finite.
bool finiteAndStable(const BandFilter& f) {
    return coefficientsFinite(f) && std::fabs(f.a2) < 1.0 && std::fabs(f.a1) < 1.0 + f.a2;
}

double clampAlpha(double alpha) {
    if (alpha < kMinAlpha) return kMinAlpha;
    if (alpha > kMaxAlpha) return kMaxAlpha;
    return alpha;
}

// The formulas' design stands wherever it is finite and stable, and so does
// the NaN design that NaN inputs give. Where the formulas break for inputs
// that are numbers, the bandwidth term is brought back into the range where
// the same response is finite and stable; should even that fail, the band
// passes its input through.
template <typename Design>
void storeGuarded(BandFilter& f, bool inputsAreNumbers, double alpha, const Design& design) {
    store(f, design(alpha));
    if (!inputsAreNumbers || finiteAndStable(f)) return;
    store(f, design(clampAlpha(alpha)));
    if (!finiteAndStable(f)) storePassThrough(f);
}

void designCached(BandFilter& f, int32_t type, float freqHz, float width, float gainDb,
                  bool takeAll) {
    const bool freqChanged = takeAll || !(freqHz == f.lastFreq);
    if (freqChanged) {
        f.lastFreq = clampInput(freqHz, kMinFreqHz, kMaxFreqHz);
        f.w0 = guardW0(static_cast<double>(f.lastFreq) * f.radiansPerHertz);
        const eq::dmath::SinCos sc = eq::dmath::sincos(f.w0);
        f.sinW0 = sc.sin;
        f.cosW0 = sc.cos;
    }
    const bool widthChanged = freqChanged || !(width == f.lastWidth);
    if (widthChanged) {
        f.lastWidth = clampInput(width, kMinWidth, kMaxWidth);
        if (type == FILTER_PEAKING) f.alpha = bandwidthTerm(f.lastWidth, f.w0, f.sinW0);
    }
    const bool gainChanged = takeAll || !(gainDb == f.lastGain);
    if (gainChanged) {
        f.lastGain = clampInput(gainDb, kMinGainDb, kMaxGainDb);
        f.amplitude = eq::dmath::exp10(static_cast<double>(f.lastGain) * 0.025);
    }
    if (type != FILTER_PEAKING && (freqChanged || widthChanged || gainChanged))
        f.shelfTerm = eq::dmath::sqrt(f.amplitude) / static_cast<double>(f.lastWidth);

    const bool inputsAreNumbers = !std::isnan(f.lastFreq) && !std::isnan(f.lastWidth) &&
                                  !std::isnan(f.lastGain) && std::isfinite(f.w0);
    const double c = f.cosW0;
    const double A = f.amplitude;
    if (type == FILTER_PEAKING) {
        storeGuarded(f, inputsAreNumbers, f.alpha,
                     [c, A](double alpha) { return rawPeaking(c, alpha, A); });
    } else {
        // Shelves have no bandwidth term to bring back; with w0 kept below
        // half the sample rate they do not break.
        const double s = f.sinW0;
        const double S = f.shelfTerm;
        storeGuarded(f, inputsAreNumbers, 0.0,
                     [type, c, s, A, S](double) { return rawShelf(type, c, s, A, S); });
    }
}

void designDirect(BandFilter& f, int32_t type, float freqHz, float width) {
    const float clampedHz = clampInput(freqHz, kMinFreqHz, kMaxFreqHz);
    f.w0 = guardW0(static_cast<double>(clampedHz) * f.radiansPerHertz);
    const eq::dmath::SinCos sc = eq::dmath::sincos(f.w0);
    f.sinW0 = sc.sin;
    f.cosW0 = sc.cos;
    f.alpha = bandwidthTerm(width, f.w0, f.sinW0);
    const bool inputsAreNumbers = !std::isnan(clampedHz) && !std::isnan(width) && std::isfinite(f.w0);
    const double c = f.cosW0;
    const double s = f.sinW0;
    storeGuarded(f, inputsAreNumbers, f.alpha,
                 [type, c, s](double alpha) { return rawDirect(type, c, s, alpha); });
}

}  // namespace

void clearDelayValues(BandFilter& f) {
    f.leftY1 = f.leftY2 = f.leftX1 = f.leftX2 = 0.0;
    f.rightY1 = f.rightY2 = f.rightX1 = f.rightX2 = 0.0;
}

void resetBandFilter(BandFilter& f, double radiansPerHertz) {
    // Every field gets a value, though the first design computes each one it
    // reads: nothing is ever read uninitialised.
    f = BandFilter{};
    f.type = kInitialFilterType;
    f.lastFreq = kFreqSentinel;
    f.lastWidth = kWidthSentinel;
    f.lastGain = kGainSentinel;
    f.radiansPerHertz = radiansPerHertz;
    storePassThrough(f);
    clearDelayValues(f);
}

BandFilter* createBandFilter(double radiansPerHertz) {
    BandFilter* filter = new (std::nothrow) BandFilter;
    if (filter != nullptr) resetBandFilter(*filter, radiansPerHertz);
    return filter;
}

bool delayValuesWithin(const BandFilter& f, double limit) {
    const double values[] = {f.leftY1,  f.leftY2,  f.leftX1,  f.leftX2,
                             f.rightY1, f.rightY2, f.rightX1, f.rightX2};
    for (double v : values)
        if (!(std::fabs(v) <= limit)) return false;
    return true;
}

bool coefficientsFinite(const BandFilter& f) {
    return std::isfinite(f.b0) && std::isfinite(f.b1) && std::isfinite(f.b2) &&
           std::isfinite(f.a1) && std::isfinite(f.a2);
}

void designBand(BandFilter* filter, int32_t type, float freqHz, float width, float gainDb) {
    BandFilter& f = *filter;
    bool takeAll = false;
    if (type != f.type) {
        f.type = type;
        f.lastFreq = kFreqSentinel;
        f.lastWidth = kWidthSentinel;
        f.lastGain = kGainSentinel;
        clearDelayValues(f);
        // The first design of a type takes up all three inputs, even one that
        // equals its sentinel, so no intermediate is read before it is computed.
        takeAll = true;
    }
    if (type >= FILTER_PEAKING && type <= FILTER_HIGH_SHELF) {
        designCached(f, type, freqHz, width, gainDb, takeAll);
    } else if (type >= FILTER_LOW_PASS && type <= FILTER_ALL_PASS) {
        designDirect(f, type, freqHz, width);
    } else {
        // No response of its own: the band passes its input through.
        storePassThrough(f);
    }
}
