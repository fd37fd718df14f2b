// Input audio as the equaliser takes it: an infinite or NaN sample becomes
// silence (0.0). Such a sample would go on through the bands' feedback into
// the following outputs until the module noticed and restarted the band;
// a host's audio graph can carry one from a broken plug-in upstream, and the
// equaliser had better not pass it on, let alone multiply it.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace qvlv2 {

// Copies `count` samples, replacing every non-finite one with 0.0. Finite
// audio pays for one integer maximum per sample beside the copy, which the
// compiler runs on whole vectors; only a block that holds a non-finite
// sample is gone over again.
inline void copyFinite(const float* __restrict from, int32_t count, float* __restrict to) {
    // A float is finite when its bits without the sign lie below those of
    // infinity.
    constexpr uint32_t kInfinityBits = 0x7F800000u;
    uint32_t largest = 0;
    for (int32_t i = 0; i < count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, from + i, sizeof bits);
        bits &= 0x7FFFFFFFu;
        largest = bits > largest ? bits : largest;
        to[i] = from[i];
    }
    if (largest < kInfinityBits) return;
    for (int32_t i = 0; i < count; ++i)
        if (!std::isfinite(to[i])) to[i] = 0.0f;
}

}  // namespace qvlv2
