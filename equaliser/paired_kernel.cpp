#include "equaliser/paired_kernel.h"

#include <emmintrin.h>

#include "equaliser/kernel_path.h"
#include "equaliser/loud_pipeline.h"
#include "equaliser/paired_state.h"
#include "equaliser/process_steps.h"
#include "equaliser/silence_pass.h"

namespace eq {

namespace {

// Runs `n` consecutive filtered frames with the bands skewed in time: in one
// step band k works on frame t - k, so the five sections of a step are
// independent of each other and their recursions overlap instead of waiting
// for the frame to crawl down the cascade. Each band still sees its frames
// in order with its own delay values, so every result is the one the plain
// cascade gives. With Flush, each band's delay values are flushed right
// before it takes each frame, as the frame's treatment asks.
template <bool Flush>
struct Skewed {
    PairedState& s;
    __m128d offset;
    const __m128d* frames;
    float* out1;
    float* out2;
    __m128d x[kBandCount];
    __m128 last;

    template <int First, int Last>
    inline void step(int32_t t) {
        if (First == 0) x[0] = frames[t];
#pragma GCC unroll 5
        for (int k = Last; k >= First; --k) {
            PairedBand& p = s.band[k];
            if (Flush) flushBand(p, offset);
            const __m128d y = section(p, x[k]);
            if (k == kBandCount - 1) {
                last = _mm_cvtpd_ps(y);
                storeFrame(last, out1 + (t - k), out2 + (t - k));
            } else {
                x[k + 1] = throughFloat(y);
            }
        }
    }

    // n must be at least kBandCount.
    inline __m128 run(int32_t n) {
        step<0, 0>(0);
        step<0, 1>(1);
        step<0, 2>(2);
        step<0, 3>(3);
        for (int32_t t = 4; t < n; ++t) step<0, 4>(t);
        step<1, 4>(n);
        step<2, 4>(n + 1);
        step<3, 4>(n + 2);
        step<4, 4>(n + 3);
        return last;
    }
};

// Filters `n` consecutive frames (at most one poll interval), flushing before
// each when Flush is set.
//
// The inputs are taken in and the outputs gather on the stack, and reach the
// host's buffers after the run. Loaded and stored straight away, a host
// buffer at an unlucky distance (modulo 4 KiB) from another, or from the
// stack, makes the processor take an output or delay-value store (whose
// value comes last, at the end of the cascade) for one that an input load
// depends on, which stalls the whole pipeline.
template <bool Flush>
__m128 filterFrames(PairedState& s, __m128d offset, const __m128d* frames, float* run1,
                    float* run2, int32_t n) {
    __m128 last = _mm_setzero_ps();
    if (n >= kBandCount) {
        Skewed<Flush> pipeline{s, offset, frames, run1, run2, {}, _mm_setzero_ps()};
        last = pipeline.run(n);
    } else {
        for (int32_t j = 0; j < n; ++j) {
            if (Flush) flushAll(s, offset);
            last = cascade(s, frames[j]);
            storeFrame(last, run1 + j, run2 + j);
        }
    }
    return last;
}

// A run's inputs taken in and its outputs gathered on the stack, reaching the
// host's buffers after the run (see filterFrames).
struct Staged {
    alignas(16) __m128d frames[kPollInterval];
    alignas(16) float run1[kPollInterval];
    alignas(16) float run2[kPollInterval];

    Staged(const float* left, const float* right, int32_t n) {
        for (int32_t j = 0; j < n; ++j) frames[j] = loadFrame(left + j, right + j);
    }

    void giveOut(float* out1, float* out2, int32_t n) const {
        // Output1 first: where both outputs share one buffer, Output2's
        // sample is the one that stays, as it is when every frame is written
        // in turn.
        copyFloats(run1, out1, 0, n);
        copyFloats(run2, out2, 0, n);
    }
};

template <bool Flush>
__m128 filterRun(PairedState& s, __m128d offset, const float* left, const float* right,
                 float* out1, float* out2, int32_t n) {
    Staged staged(left, right, n);
    const __m128 last = filterFrames<Flush>(s, offset, staged.frames, staged.run1, staged.run2, n);
    staged.giveOut(out1, out2, n);
    return last;
}

// A run of silent frames while the filters still ring: each is flushed and
// filtered until the filters come to rest, and skipped from then on (a
// skipped frame leaves the bands as they are, so rest, once reached, holds
// to the end of the run). Only the state before each frame decides: bands
// just below the rest bound may ring up above it again as they are
// filtered, so every frame is looked at before it is taken.
struct RingOut {
    __m128 last;
    int32_t filtered;
};

RingOut ringOutRun(PairedState& s, __m128d offset, const float* left, const float* right,
                   float* out1, float* out2, int32_t n) {
    Staged staged(left, right, n);
    RingOut result{_mm_setzero_ps(), 0};
    int32_t j = 0;
    for (; j < n && !atRest(s, offset); ++j) {
        flushAll(s, offset);
        result.last = cascade(s, staged.frames[j]);
        storeFrame(result.last, staged.run1 + j, staged.run2 + j);
    }
    result.filtered = j;
    for (; j < n; ++j) {
        result.last = _mm_cvtpd_ps(staged.frames[j]);  // the silent inputs, signs kept
        storeFrame(result.last, staged.run1 + j, staged.run2 + j);
    }
    staged.giveOut(out1, out2, n);
    return result;
}

// How many frames from the start, at most `limit`, are asked for the
// treatment of the first.
inline int32_t runOf(Treatment first, const float* left, const float* right, int32_t limit) {
    int32_t n = 1;
    if (first == Treatment::Filter) {
        const __m128 zero = _mm_setzero_ps();
        for (; n + 4 <= limit; n += 4) {
            const __m128 zeros = _mm_or_ps(_mm_cmpeq_ps(_mm_loadu_ps(left + n), zero),
                                           _mm_cmpeq_ps(_mm_loadu_ps(right + n), zero));
            if (_mm_movemask_ps(zeros) != 0) break;
        }
        while (n < limit && left[n] != 0.0f && right[n] != 0.0f) ++n;
        return n;
    }
    while (n < limit && decide(left[n], right[n]) == first) ++n;
    return n;
}

// From the first frame, which asks to be skipped, every frame that does
// (at most `limit`): each output sample takes its input's, Output1's first,
// as when every frame is written in turn.
struct SkippedRun {
    int32_t frames;
    __m128 last;  // the last one's inputs
};

SkippedRun skipped(const float* left, const float* right, float* out1, float* out2, int32_t limit) {
    // Silences go several frames a step, then a frame at a time. Both
    // inputs of a frame are read before either output is written: a host may
    // lay Output1 on Input2's buffer and Output2 on Input1's.
    SilentFrame last{0.0f, 0.0f};
    int32_t n = kernelPath() != KernelPath::Sse2 ? passSilenceAvx(left, right, out1, out2, limit, last)
                                                 : passSilenceSse2(left, right, out1, out2, limit, last);
    if (n == 0) {  // the first frame is known to ask to be skipped
        last = {left[0], right[0]};
        out1[0] = last.left;
        out2[0] = last.right;
        n = 1;
    }
    while (n < limit && decide(left[n], right[n]) == Treatment::Skip) {
        last = {left[n], right[n]};
        out1[n] = last.left;
        out2[n] = last.right;
        ++n;
    }
    return {n, _mm_unpacklo_ps(_mm_set_ss(last.left), _mm_set_ss(last.right))};
}

}  // namespace

void processPaired(Module& m, float* const* positions, int32_t sampleCount) {
    const CallPositions at(positions);
    const float* const input1 = at.input1;
    const float* const input2 = at.input2;
    float* const output1 = at.output1;
    float* const output2 = at.output2;
    const __m128d offset = _mm_set1_pd(denormalOffset);

    PairedState s;
    load(s, m);
    int32_t controlIndex = 0;
    int32_t counter = m.pollCounter;

    auto pollNow = [&]() {
        storeAllDelays(s, m);
        poll(m, at.controls, controlIndex);
        controlIndex += kPollInterval;
        counter = 0;
        load(s, m);
    };

    // The long pipeline reads a poll's controls before the last few frames
    // ahead of it are written out; an output laid on a control pin's buffer
    // would be read too early, so such a layout polls between runs instead.
    // Looked at only for calls long enough for the pipeline: short calls
    // pay nothing for it.
    bool outputsOnControls = false;
    if (sampleCount >= kMinPipelineRun)
        for (int c = 0; c < 4 * kBandCount; ++c)
            outputsOnControls = outputsOnControls || at.controls[c] == output1 || at.controls[c] == output2;

    // Whether the filters are at rest, worked out only when a frame that may
    // be skipped asks, and kept while nothing is filtered.
    bool restKnown = false;
    bool rest = false;

    __m128 lastFrame = _mm_setzero_ps();
    int32_t i = 0;
    while (i < sampleCount) {
        const float left = input1[i];
        const float right = input2[i];
        const Treatment asked = decide(left, right);
        Treatment treatment = asked;
        if (asked == Treatment::Skip) {
            if (!restKnown) rest = atRest(s, offset), restKnown = true;
            if (rest) {
                // Silence through bands at rest: the inputs go through as
                // they are, while the frames ask for nothing else.
                const SkippedRun run =
                    skipped(input1 + i, input2 + i, output1 + i, output2 + i, sampleCount - i);
                controlIndex += run.frames;
                i += run.frames;
                lastFrame = run.last;
                continue;
            }
            treatment = Treatment::FlushAndFilter;
        }
        restKnown = false;
        // Silence that may be skipped once a later band rests too, with band
        // 1 at rest already: the pipeline would end its stretch again at the
        // very next such frame, so these frames ring out one at a time.
        const bool ringingOut = asked == Treatment::Skip && bandRests(s.band[0], offset);
        if (!ringingOut && sampleCount - i >= kMinPipelineRun && !outputsOnControls) {
            const PipelineRun run = runPipeline({m, s, at.controls, controlIndex, counter},
                                                input1 + i, input2 + i, output1 + i, output2 + i,
                                                sampleCount - i);
            lastFrame = run.last;
            i += run.frames;
            continue;
        }
        if (counter == kPollInterval && treatment == Treatment::Filter) {
            // A loud polling frame leads the run that follows the poll.
            pollNow();
        } else if (counter == kPollInterval) {
            // A flushed polling frame goes on its own: flushed before the
            // poll, then filtered with the new designs.
            flushAll(s, offset);
            pollNow();
            ++counter;
            lastFrame = cascade(s, loadFrame(input1 + i, input2 + i));
            storeFrame(lastFrame, output1 + i, output2 + i);
            ++i;
            continue;
        }
        // Then runs of frames with one treatment, never across the next poll,
        // which must read the controls with every earlier frame written.
        const int32_t room = kPollInterval - counter;
        const int32_t limit = room < sampleCount - i ? room : sampleCount - i;
        const int32_t n = runOf(asked, input1 + i, input2 + i, limit);
        if (asked == Treatment::Skip) {
            const RingOut ring =
                ringOutRun(s, offset, input1 + i, input2 + i, output1 + i, output2 + i, n);
            lastFrame = ring.last;
            counter += ring.filtered;
            controlIndex += n - ring.filtered;
        } else {
            lastFrame = treatment == Treatment::FlushAndFilter
                            ? filterRun<true>(s, offset, input1 + i, input2 + i, output1 + i,
                                              output2 + i, n)
                            : filterRun<false>(s, offset, input1 + i, input2 + i, output1 + i,
                                               output2 + i, n);
            counter += n;
        }
        i += n;
    }

    storeAllDelays(s, m);
    m.pollCounter = counter;
    storeFrame(lastFrame, &m.leftSample, &m.rightSample);
}

}  // namespace eq
