// Control ports carry floats, while people (and quorvane-render's options)
// give settings as decimals. Where no pin value lands exactly on a setting's
// float, the translation to pin values falls back on the nearest tenth of
// the decimal itself, so the plug-in recovers the decimal a port value was
// typed as: the shortest one that reads back as the same float. The same
// setting then gives the same pin values, and the same bits, in both.
#pragma once

#include <cmath>

namespace qvlv2 {

// Allocates nothing and takes no lock (no formatting or parsing): the
// decimal with p significant digits is N / 10^k or N * 10^-k with N a whole
// number, and IEEE division and multiplication by an exact power of ten give
// the correctly rounded double of that decimal, as reading its text would.
inline double typedValue(float portValue) {
    const double v = portValue;
    if (v == 0.0 || !std::isfinite(v)) return v;
    const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(v))));
    for (int digits = 1; digits <= 9; ++digits) {
        const int k = digits - 1 - exponent;  // decimal places kept
        if (k > 22 || k < -22) break;         // powers of ten beyond 10^22 are not exact doubles
        const double scale = std::pow(10.0, std::abs(k));
        const double decimal = k >= 0 ? std::nearbyint(v * scale) / scale : std::nearbyint(v / scale) * scale;
        if (static_cast<float>(decimal) == portValue) return decimal;
    }
    return v;
}

}  // namespace qvlv2
