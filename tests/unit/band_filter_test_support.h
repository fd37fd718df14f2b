// Shared helpers for the band filter design tests: a filter on the stack in
// its initial state, the five coefficients as a value, bit-exact comparison,
// the transfer function on the unit circle and a sample rate that is restored
// when a test ends.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

#include "equaliser/band_filter.h"

namespace bandtest {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;

struct Coeffs {
    double b0, b1, b2, a1, a2;
};

inline Coeffs coeffsOf(const BandFilter& f) { return {f.b0, f.b1, f.b2, f.a1, f.a2}; }

inline bool sameBits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

// Bit for bit: a NaN equals a NaN of the same pattern, 0.0 differs from -0.0.
inline bool sameBits(const Coeffs& x, const Coeffs& y) {
    return sameBits(x.b0, y.b0) && sameBits(x.b1, y.b1) && sameBits(x.b2, y.b2) &&
           sameBits(x.a1, y.a1) && sameBits(x.a2, y.a2);
}

inline std::ostream& operator<<(std::ostream& os, const Coeffs& c) {
    char text[160];
    std::snprintf(text, sizeof text, "{%.17g, %.17g, %.17g, %.17g, %.17g}", c.b0, c.b1, c.b2,
                  c.a1, c.a2);
    return os << text;
}

inline bool allFinite(const Coeffs& c) {
    return std::isfinite(c.b0) && std::isfinite(c.b1) && std::isfinite(c.b2) &&
           std::isfinite(c.a1) && std::isfinite(c.a2);
}

inline bool allNaN(const Coeffs& c) {
    return std::isnan(c.b0) && std::isnan(c.b1) && std::isnan(c.b2) && std::isnan(c.a1) &&
           std::isnan(c.a2);
}

// Both poles of 1 + a1 z^-1 + a2 z^-2 strictly inside the unit circle (the
// stability triangle), with every coefficient finite.
inline bool finiteAndStable(const Coeffs& c) {
    return allFinite(c) && std::fabs(c.a2) < 1.0 && std::fabs(c.a1) < 1.0 + c.a2;
}

inline bool isPassThrough(const Coeffs& c) {
    return c.b0 == 1.0 && c.b1 == 0.0 && c.b2 == 0.0 && c.a1 == 0.0 && c.a2 == 0.0;
}

// H(e^jw) of the normalised section.
inline std::complex<double> response(const Coeffs& c, double w) {
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = z1 * z1;
    return (c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 + c.a1 * z1 + c.a2 * z2);
}

inline double magnitude(const Coeffs& c, double w) { return std::abs(response(c, w)); }
inline double magnitudeDb(const Coeffs& c, double w) { return 20.0 * std::log10(magnitude(c, w)); }

// 2*pi / the rate the tests' bands are made to design at (an instance's
// bands take it from the rate it opened with).
inline double& testRadiansPerHertz() {
    static double value = kTwoPi / 44100.0;
    return value;
}

// The rate the tests' bands design at, set for one test and put back after.
class ScopedSampleRate {
public:
    explicit ScopedSampleRate(double rate) : saved_(testRadiansPerHertz()) { set(rate); }
    ~ScopedSampleRate() { testRadiansPerHertz() = saved_; }
    ScopedSampleRate(const ScopedSampleRate&) = delete;
    ScopedSampleRate& operator=(const ScopedSampleRate&) = delete;
    void set(double rate) { testRadiansPerHertz() = kTwoPi / rate; }

private:
    double saved_;
};

// A band in the state open creates it in, without touching the heap.
inline BandFilter initialFilter() {
    BandFilter f;
    resetBandFilter(f, testRadiansPerHertz());
    return f;
}

// The design a band in its initial state gets for these inputs.
inline Coeffs freshDesign(int32_t type, float freq, float width, float gain) {
    BandFilter f = initialFilter();
    designBand(&f, type, freq, width, gain);
    return coeffsOf(f);
}

inline void fillDelayValues(BandFilter& f, double value) {
    f.leftY1 = value;
    f.leftY2 = value + 1.0;
    f.leftX1 = value + 2.0;
    f.leftX2 = value + 3.0;
    f.rightY1 = value + 4.0;
    f.rightY2 = value + 5.0;
    f.rightX1 = value + 6.0;
    f.rightX2 = value + 7.0;
}

inline bool delayValuesAllZero(const BandFilter& f) {
    return f.leftY1 == 0.0 && f.leftY2 == 0.0 && f.leftX1 == 0.0 && f.leftX2 == 0.0 &&
           f.rightY1 == 0.0 && f.rightY2 == 0.0 && f.rightX1 == 0.0 && f.rightX2 == 0.0;
}

inline bool delayValuesAre(const BandFilter& f, double value) {
    return f.leftY1 == value && f.leftY2 == value + 1.0 && f.leftX1 == value + 2.0 &&
           f.leftX2 == value + 3.0 && f.rightY1 == value + 4.0 && f.rightY2 == value + 5.0 &&
           f.rightX1 == value + 6.0 && f.rightX2 == value + 7.0;
}

}  // namespace bandtest
