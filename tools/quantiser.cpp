#include "tools/quantiser.h"

#include <cmath>

namespace qvtools {

Quantiser::Quantiser(int bits, bool dither)
    : scale_(std::ldexp(1.0, bits - 1)), shift_(32 - bits), dither_(dither) {}

double Quantiser::nextUniform() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<double>(state_ >> 11) / 9007199254740992.0;
}

int32_t Quantiser::operator()(float sample) {
    double steps = static_cast<double>(sample) * scale_;
    if (dither_) steps += nextUniform() - nextUniform();
    double rounded = std::nearbyint(steps);
    const double highest = scale_ - 1.0;
    if (rounded > highest || rounded < -scale_) {
        rounded = rounded > highest ? highest : -scale_;
        // Dither alone may step a sample at full scale over the edge; only
        // the signal itself counts as clipped.
        if (std::fabs(static_cast<double>(sample)) > 1.0) ++clipped_;
    }
    return static_cast<int32_t>(static_cast<int64_t>(rounded) * (int64_t{1} << shift_));
}

}  // namespace qvtools
