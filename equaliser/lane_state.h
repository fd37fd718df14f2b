// The block kernel's working copy of the five bands: coefficients and delay
// values lane by lane, band k's left and right chains at lanes 2k and
// 2k + 1. A call gathers it from the bands once, works on it alone, and
// scatters the delay values back once at its end; only a poll that redesigns
// a band or restarts it goes through the band itself.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "equaliser/band_filter.h"
#include "equaliser/module.h"

namespace eq {

constexpr int kLanes = 16;  // 10 used (the spare ones are never read); 64-byte rows

struct alignas(64) LaneState {
    double b0[kLanes], b1[kLanes], b2[kLanes], a1[kLanes], a2[kLanes];
    double x1[kLanes], x2[kLanes], y1[kLanes], y2[kLanes];
};

static_assert(offsetof(BandFilter, rightY1) == offsetof(BandFilter, leftY1) + sizeof(double) &&
                  offsetof(BandFilter, rightY2) == offsetof(BandFilter, leftY2) + sizeof(double) &&
                  offsetof(BandFilter, rightX1) == offsetof(BandFilter, leftX1) + sizeof(double) &&
                  offsetof(BandFilter, rightX2) == offsetof(BandFilter, leftX2) + sizeof(double),
              "a band keeps each delay value's left and right side by side");

inline void gatherCoefficients(LaneState& s, int band, const BandFilter& f) {
    _mm_store_pd(s.b0 + 2 * band, _mm_set1_pd(f.b0));
    _mm_store_pd(s.b1 + 2 * band, _mm_set1_pd(f.b1));
    _mm_store_pd(s.b2 + 2 * band, _mm_set1_pd(f.b2));
    _mm_store_pd(s.a1 + 2 * band, _mm_set1_pd(f.a1));
    _mm_store_pd(s.a2 + 2 * band, _mm_set1_pd(f.a2));
}

inline void gatherBand(LaneState& s, int band, const BandFilter& f) {
    gatherCoefficients(s, band, f);
    _mm_store_pd(s.x1 + 2 * band, _mm_loadu_pd(&f.leftX1));
    _mm_store_pd(s.x2 + 2 * band, _mm_loadu_pd(&f.leftX2));
    _mm_store_pd(s.y1 + 2 * band, _mm_loadu_pd(&f.leftY1));
    _mm_store_pd(s.y2 + 2 * band, _mm_loadu_pd(&f.leftY2));
}

inline void scatterBand(const LaneState& s, int band, BandFilter& f) {
    _mm_storeu_pd(&f.leftX1, _mm_load_pd(s.x1 + 2 * band));
    _mm_storeu_pd(&f.leftX2, _mm_load_pd(s.x2 + 2 * band));
    _mm_storeu_pd(&f.leftY1, _mm_load_pd(s.y1 + 2 * band));
    _mm_storeu_pd(&f.leftY2, _mm_load_pd(s.y2 + 2 * band));
}

inline void gather(LaneState& s, const Module& m) {
    for (int k = 0; k < kBandCount; ++k) gatherBand(s, k, *m.bands[k]);
}

inline void scatter(const LaneState& s, Module& m) {
    for (int k = 0; k < kBandCount; ++k) scatterBand(s, k, *m.bands[k]);
}

// All ones on the lanes of the bands whose bits are set (bit k: band k + 1).
struct LaneMasks {
    alignas(64) uint64_t bits[1 << kBandCount][kLanes];
    constexpr LaneMasks() : bits{} {
        for (int bands = 0; bands < (1 << kBandCount); ++bands)
            for (int lane = 0; lane < 2 * kBandCount; ++lane)
                bits[bands][lane] = ((bands >> (lane / 2)) & 1) ? ~uint64_t{0} : 0;
    }
    const double* lanes(unsigned bands, int first) const {
        return reinterpret_cast<const double*>(bits[bands] + first);
    }
};

inline constexpr LaneMasks kLaneMasks{};

}  // namespace eq
