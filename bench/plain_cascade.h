// The baseline the processing loop is measured against: the fastest
// straightforward scalar code for the job. Five biquads per chain, the same
// double arithmetic in the same order and the float between bands, with
// every coefficient and delay value held in local variables for the whole
// block, so the compiler keeps in registers whatever fits. Two orders, both
// timed, the faster being the baseline on the machine at hand:
// - frame-major: frames in the outer loop, bands in the inner one (forty
//   delay values and twenty-five coefficients: more than the registers hold);
// - band-major: one band over the whole block, both chains, then the next
//   band on what it left (one band's state fits in registers, and the
//   processor overlaps the two chains' recursions).
// Both give the same samples. Shared by the native benchmark and the timing
// program that runs the shipped DLL.
#pragma once

#include <vector>

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

    void runBandMajor(const float* inL, const float* inR, float* outL, float* outR, int frames) {
        if (static_cast<int>(scratchL_.size()) < frames) scratchL_.resize(frames), scratchR_.resize(frames);
        const float* fromL = inL;
        const float* fromR = inR;
        for (int k = 0; k < kBands; ++k) {
            const Coefficients c = c_[k];
            Delays left = left_[k], right = right_[k];
            float* toL = k == kBands - 1 ? outL : scratchL_.data();
            float* toR = k == kBands - 1 ? outR : scratchR_.data();
            for (int i = 0; i < frames; ++i) {
                const float l = section(c, left, fromL[i]);
                const float r = section(c, right, fromR[i]);
                toL[i] = l;
                toR[i] = r;
            }
            left_[k] = left, right_[k] = right;
            fromL = toL;
            fromR = toR;
        }
    }

private:
    std::vector<float> scratchL_, scratchR_;

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
