// The loud pipeline's steady steps alone, on the path in use: every band at
// work on a chunk of frames, with nothing to look at on the way (no flush,
// no frame that may be skipped, no poll). Only the five sections a frame and
// the handing on between bands are left, so this is the floor of the loop's
// arithmetic in the build at hand: the rest of the loop's time is taking
// frames in and out, marking them and polling. Shared by the native
// benchmark and the timing program that runs the shipped DLL, whose own
// build of the steps (eight vector registers instead of sixteen) it times.
#pragma once

#include <cstring>
#include <memory>

#include "bench/silence_cases.h"
#include "equaliser/band_filter.h"
#include "equaliser/kernel_path.h"
#include "equaliser/loud_pipeline.h"
#include "equaliser/module.h"
#include "equaliser/process_steps.h"

namespace steady {

class Steps {
public:
    // The five bands' designs (kBandCount of them), taken as they are now;
    // by default on the path in force.
    explicit Steps(const BandFilter* const* bands, eq::KernelPath path = eq::kernelPath())
        : lanes_(std::make_unique<eq::PipelineLanes>()), path_(path) {
        std::memset(lanes_.get(), 0, sizeof *lanes_);
        for (int k = 0; k < kBandCount; ++k) {
            const BandFilter& f = *bands[k];
            lanes_->b0[k] = _mm_set1_pd(f.b0), lanes_->b1[k] = _mm_set1_pd(f.b1);
            lanes_->b2[k] = _mm_set1_pd(f.b2), lanes_->a1[k] = _mm_set1_pd(f.a1);
            lanes_->a2[k] = _mm_set1_pd(f.a2);
        }
        lanes_->offset = _mm_set1_pd(denormalOffset);
        // Band 1's inputs: loud noise, the same every turn (the steps never
        // write band 1's slot); the other bands' come from the band before.
        const auto noise = silence::noise(2 * eq::kSignalLength, 0.5f, 3);
        for (int32_t i = 0; i < eq::kSignalLength; ++i)
            eq::line(*lanes_, 0, i) = _mm_set_pd(noise[2 * i + 1], noise[2 * i]);
    }

    static constexpr int32_t kFrames = eq::kChunk;  // frames a run takes

    // One chunk of steps; returns the step it stopped before (kFrames).
    int32_t run() {
        const eq::PollEvents none{nullptr, 0, 0};
        return path_ == eq::KernelPath::Avx512 ? eq::avx512SteadySteps(*lanes_, 0, kFrames, none)
               : path_ == eq::KernelPath::Avx  ? eq::avxSteadySteps(*lanes_, 0, kFrames, none)
                                               : eq::sse2SteadySteps(*lanes_, 0, kFrames, none);
    }

    // Band 5's outputs are in lanes().stage; the other bands' in the lines.
    const eq::PipelineLanes& lanes() const { return *lanes_; }

private:
    std::unique_ptr<eq::PipelineLanes> lanes_;
    eq::KernelPath path_;
};

}  // namespace steady
