// The baseline the processing loop is measured against: the fastest
// straightforward scalar code for the job. Five biquads per chain, the same
// double arithmetic in the same order and the float between bands, frames in
// the outer loop and bands in the inner one, with every coefficient and delay
// value held in local variables for the whole block, so the compiler keeps
// in registers whatever fits. Shared by the native benchmark and the timing
// program that runs the shipped DLL.
#pragma once

#include "equaliser/band_filter.h"

namespace plain {

constexpr int kBands = 5;

class Cascade {
public:
    void design(int band, const BandFilter& filter) {
        c_[band] = {filter.b0, filter.b1, filter.b2, filter.a1, filter.a2};
    }

    void run(const float* inL, const float* inR, float* outL, float* outR, int frames) {
        Coefficients c[kBands];
        Delays left[kBands], right[kBands];
#pragma GCC unroll 5
        for (int k = 0; k < kBands; ++k) c[k] = c_[k], left[k] = left_[k], right[k] = right_[k];
        for (int i = 0; i < frames; ++i) {
            float l = inL[i];
            float r = inR[i];
#pragma GCC unroll 5
            for (int k = 0; k < kBands; ++k) l = section(c[k], left[k], l);
#pragma GCC unroll 5
            for (int k = 0; k < kBands; ++k) r = section(c[k], right[k], r);
            outL[i] = l;
            outR[i] = r;
        }
#pragma GCC unroll 5
        for (int k = 0; k < kBands; ++k) left_[k] = left[k], right_[k] = right[k];
    }

private:
    struct Coefficients {
        double b0, b1, b2, a1, a2;
    };
    struct Delays {
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    };

    static inline float section(const Coefficients& c, Delays& d, float input) {
        const double x = input;
        const double y = c.b0 * x + c.b1 * d.x1 + c.b2 * d.x2 - c.a1 * d.y1 - c.a2 * d.y2;
        d.x2 = d.x1;
        d.x1 = x;
        d.y2 = d.y1;
        d.y1 = y;
        return static_cast<float>(y);
    }

    Coefficients c_[kBands] = {};
    Delays left_[kBands], right_[kBands];
};

}  // namespace plain
