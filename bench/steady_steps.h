// The block kernel's steady steps alone, on the path in use: every band at
// work on a segment of frames, with nothing to look at on the way (no flush,
// no frame that may be skipped, no poll). Only the sections of a step and the
// handing on between bands are left, so this is the floor of the loop's
// arithmetic in the build at hand: the rest of the loop's time is taking
// frames in and out, filling and draining the skew, and polling. Shared by
// the native benchmark and the timing program that runs the shipped DLL,
// whose own build of the steps (eight vector registers instead of sixteen or
// thirty-two) it times.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "bench/silence_cases.h"
#include "equaliser/band_filter.h"
#include "equaliser/kernel_path.h"
#include "equaliser/lane_state.h"
#include "equaliser/module.h"
#include "equaliser/segment_kernel.h"

namespace steady {

class Steps {
public:
    // The five bands' designs (kBandCount of them), taken as they are now;
    // by default on the path in force.
    explicit Steps(const BandFilter* const* bands, eq::KernelPath path = eq::kernelPath())
        : segment_(std::make_unique<eq::Segment>()), path_(path) {
        eq::Segment& g = *segment_;
        std::memset(&g, 0, sizeof g);
        for (int k = 0; k < kBandCount; ++k) eq::gatherBand(g.state, k, *bands[k]);
        // Band 1's inputs: loud noise, the same every run.
        g.in1 = left_.data();
        g.in2 = right_.data();
        g.n = kFrames;
        g.firstPoll = 2 * eq::kMaxSegment;  // no poll
    }

    static constexpr int32_t kFrames = eq::kMaxSegment;
    // Steps a run takes: from the first at which every band is at work.
    static constexpr int32_t kSteps = kFrames - eq::kLag;

    // One run of steps; returns the step it stopped before (kFrames).
    int32_t run() { return eq::runSteadySteps(*segment_, path_); }

    const eq::Segment& segment() const { return *segment_; }

private:
    const std::vector<float> left_ = silence::noise(kFrames, 0.5f, 3);
    const std::vector<float> right_ = silence::noise(kFrames, 0.5f, 4);
    std::unique_ptr<eq::Segment> segment_;
    eq::KernelPath path_;
};

}  // namespace steady
