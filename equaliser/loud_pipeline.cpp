#include "equaliser/loud_pipeline.h"

#include <climits>
#include <initializer_list>

#include "equaliser/kernel_path.h"
#include "equaliser/process_steps.h"

namespace eq {

namespace {

inline __m128d magnitude(__m128d v) { return _mm_andnot_pd(_mm_set1_pd(-0.0), v); }

// All four values within the runaway bound, on both lanes (a NaN is not).
inline bool withinBound(__m128d y1, __m128d y2, __m128d x1, __m128d x2) {
    const __m128d limit = _mm_set1_pd(kMaxDelayMagnitude);
    const __m128d ok = _mm_and_pd(_mm_and_pd(_mm_cmple_pd(magnitude(y1), limit),
                                             _mm_cmple_pd(magnitude(y2), limit)),
                                  _mm_and_pd(_mm_cmple_pd(magnitude(x1), limit),
                                             _mm_cmple_pd(magnitude(x2), limit)));
    return _mm_movemask_pd(ok) == 3;
}

constexpr int32_t kNever = INT32_MAX;

// A band's polls come every kPollInterval frames; it must have taken one
// before the band after it reaches the next.
static_assert(kLag < kPollInterval, "the pipeline is shorter than the poll spacing");

class Pipeline {
public:
    Pipeline(LoudRunPlace place, int32_t n)
        : place_(place), n_(n), firstPoll_(kPollInterval - place.counter), nextPoll_(firstPoll_) {
        if (firstPoll_ < kLag) {
            // The first poll falls while the pipeline fills: band by band.
            exactPoll_ = firstPoll_;
            nextPoll_ = firstPoll_ + kPollInterval;
        }
    }

    __m128 run(const float* in1, const float* in2, float* out1, float* out2) {
        enter();
        const int32_t steps = n_ + kLag;
        for (int32_t chunk = 0; chunk < steps; chunk += kChunk) {
            const int32_t count = steps - chunk < kChunk ? steps - chunk : kChunk;
            // Inputs are taken in, and outputs gathered, a chunk at a time:
            // written straight to the host's buffers, a buffer at an unlucky
            // distance (modulo 4 KiB) from another makes the processor take
            // an output store for one that an input load depends on.
            for (int32_t u = 0; u < count && chunk + u < n_; ++u)
                line(lanes_, 0, u + kHistory) = loadFrame(in1 + chunk + u, in2 + chunk + u);
            runChunk(chunk, count);
            giveOut(chunk, count, out1, out2);
            if (chunk + count < steps) turnSignalLines();
        }
        leave();

        const int32_t polls =
            n_ > firstPoll_ ? (n_ - firstPoll_ + kPollInterval - 1) / kPollInterval : 0;
        place_.controlIndex += kPollInterval * polls;
        place_.counter =
            polls > 0 ? n_ - (firstPoll_ + kPollInterval * (polls - 1)) : place_.counter + n_;
        return last_;
    }

private:
    void enter() {
        // Band 5's neighbour in the pair layout: a line of zeros.
        for (int32_t i = 0; i < kSignalLength; ++i) lanes_.signal[kPairs - 1][i][1] = _mm_setzero_pd();
        for (int k = 0; k < kBandCount; ++k) {
            const PairedBand& band = place_.state.band[k];
            loadCoefficients(k);
            lanes_.y1[k] = band.y1;
            lanes_.y2[k] = band.y2;
            // Band k takes frame 0 at step kSkew * k, from signal[k][that + 2].
            line(lanes_, k, kSkew * k) = band.x2;
            line(lanes_, k, kSkew * k + 1) = band.x1;
        }
    }

    void leave() {
        for (int k = 0; k < kBandCount; ++k) {
            PairedBand& band = place_.state.band[k];
            eq::loadCoefficients(band, *place_.module.bands[k]);  // a poll may have redesigned it
            band.y1 = lanes_.y1[k];
            band.y2 = lanes_.y2[k];
            band.x1 = lastInput_[k];
            band.x2 = inputBefore_[k];
        }
    }

    void loadCoefficients(int k) {
        const BandFilter& f = *place_.module.bands[k];
        lanes_.b0[k] = _mm_set1_pd(f.b0);
        lanes_.b1[k] = _mm_set1_pd(f.b1);
        lanes_.b2[k] = _mm_set1_pd(f.b2);
        lanes_.a1[k] = _mm_set1_pd(f.a1);
        lanes_.a2[k] = _mm_set1_pd(f.a2);
    }

    // What the lines hold beyond this chunk's steps moves to their start.
    void turnSignalLines() {
        for (int p = 0; p < kPairs; ++p)
            for (int32_t j = 0; j < kHistory + kSkew; ++j)
                for (int h = 0; h < 2; ++h) lanes_.signal[p][j][h] = lanes_.signal[p][kChunk + j][h];
    }

    // Step chunk + u gave band 5's output for frame chunk + u - kLag.
    void giveOut(int32_t chunk, int32_t count, float* out1, float* out2) {
        int32_t first = kLag - chunk > 0 ? kLag - chunk : 0;
        int32_t end = n_ + kLag - chunk < count ? n_ + kLag - chunk : count;
        const int32_t base = chunk - kLag;
        // Output1 first: where both outputs share one buffer, Output2's
        // sample is the one that stays, as when every frame is written in turn.
        for (int32_t u = first; u < end; ++u) out1[base + u] = lanes_.stage1[u];
        for (int32_t u = first; u < end; ++u) out2[base + u] = lanes_.stage2[u];
        if (end > first && base + end == n_)
            last_ = _mm_unpacklo_ps(_mm_set_ss(lanes_.stage1[end - 1]), _mm_set_ss(lanes_.stage2[end - 1]));
    }

    bool pollFrame(int32_t frame) const {
        static_assert((kPollInterval & (kPollInterval - 1)) == 0, "polls a power of two apart");
        return frame >= firstPoll_ && frame < n_ && ((frame - firstPoll_) & (kPollInterval - 1)) == 0;
    }

    // The next step, from t on, at which a band takes its part of a poll on
    // its own.
    int32_t nextExactStep(int32_t t) const {
        if (exactPoll_ < 0) return kNever;
        for (int k = 0; k < kBandCount; ++k)
            if (exactPoll_ + kSkew * k >= t) return exactPoll_ + kSkew * k;
        return kNever;
    }

    void runChunk(int32_t chunk, int32_t count) {
        int32_t u = 0;
        while (u < count) {
            const int32_t t = chunk + u;
            if (t < kLag || t >= n_ - 1 || t == nextExactStep(t)) {
                anyStep(chunk, u);
                ++u;
                continue;
            }
            lookAhead(t, chunk + count);
            int32_t end = count;
            // Never past a poll not looked at yet.
            for (int32_t limit : {n_ - 1, nextExactStep(t), nextPoll_})
                if (limit != kNever && limit - chunk < end) end = limit - chunk;
            RunawayCheck checks[kMaxChecks];
            int32_t checkCount = 0;
            for (int32_t i = checksDone_; i < checksQueued_ && queue_[i].step < chunk + end; ++i)
                checks[checkCount++] = {queue_[i].step - chunk, queue_[i].band};
            const int32_t stop = kernelPath() == KernelPath::Avx
                                     ? avxSteadySteps(lanes_, u, end, checks, checkCount)
                                     : sse2SteadySteps(lanes_, u, end, checks, checkCount);
            while (checksDone_ < checksQueued_ && queue_[checksDone_].step < chunk + stop) ++checksDone_;
            u = stop;
            if (stop < end) {
                // A band ran away: it takes its poll on its own.
                anyStep(chunk, u);
                ++checksDone_;
                ++u;
            }
        }
    }

    // Looks at the polls ahead of step t, up to step `until`, before band 1
    // reaches them. When no band's controls moved at a poll, each band needs
    // only its runaway check when its turn comes; otherwise every band takes
    // that poll on its own, and nothing further is looked at until they
    // have (a redesign changes the caches later polls are compared with).
    void lookAhead(int32_t t, int32_t until) {
        if (exactPoll_ >= 0 && t <= exactPoll_ + kLag) return;
        for (int32_t i = checksDone_; i < checksQueued_; ++i) queue_[i - checksDone_] = queue_[i];
        checksQueued_ -= checksDone_;
        checksDone_ = 0;
        Module& m = place_.module;
        while (nextPoll_ < until && nextPoll_ < n_ - 1 && checksQueued_ + kBandCount <= kMaxChecks) {
            const int32_t at = place_.controlIndex + (nextPoll_ - firstPoll_);
            bool moved = false;
            for (int k = 0; k < kBandCount && !moved; ++k) {
                float* const* c = place_.controls + 4 * k;
                moved = !(c[CONTROL_FREQ][at] == m.cachedFreq[k] && c[CONTROL_GAIN][at] == m.cachedGain[k] &&
                          c[CONTROL_Q][at] == m.cachedQ[k] && c[CONTROL_TYPE][at] == m.cachedType[k]);
            }
            const int32_t poll = nextPoll_;
            nextPoll_ += kPollInterval;
            if (moved) {
                exactPoll_ = poll;
                return;
            }
            for (int k = 0; k < kBandCount; ++k) queue_[checksQueued_++] = {poll + kSkew * k, k};
        }
    }

    // Step chunk + u, band by band: filling, draining, the last frame of
    // band 1, and bands taking their polls on their own.
    void anyStep(int32_t chunk, int32_t u) {
        const int32_t t = chunk + u;
        for (int k = 0; k < kBandCount; ++k) {
            const int32_t frame = t - kSkew * k;
            if (frame < 0 || frame >= n_) continue;
            if (pollFrame(frame)) pollBand(k, frame, u);
            const __m128d x = line(lanes_, k, u + 2);
            const __m128d x1 = line(lanes_, k, u + 1);
            __m128d y = _mm_mul_pd(lanes_.b0[k], x);
            y = _mm_add_pd(y, _mm_mul_pd(lanes_.b1[k], x1));
            y = _mm_add_pd(y, _mm_mul_pd(lanes_.b2[k], line(lanes_, k, u)));
            y = _mm_sub_pd(y, _mm_mul_pd(lanes_.a1[k], lanes_.y1[k]));
            y = _mm_sub_pd(y, _mm_mul_pd(lanes_.a2[k], lanes_.y2[k]));
            lanes_.y2[k] = lanes_.y1[k];
            lanes_.y1[k] = y;
            if (frame == n_ - 1) lastInput_[k] = x, inputBefore_[k] = x1;
            if (k == kBandCount - 1)
                storeFrame(_mm_cvtpd_ps(y), lanes_.stage1 + u, lanes_.stage2 + u);
            else
                line(lanes_, k + 1, u + kHistory + kSkew) = throughFloat(y);
        }
    }

    // Band k's part of the poll on `frame`, at chunk step u before its
    // section. Unless its controls moved or its delay values ran away there
    // is nothing to do.
    void pollBand(int k, int32_t frame, int32_t u) {
        Module& m = place_.module;
        const int32_t at = place_.controlIndex + (frame - firstPoll_);
        float* const* c = place_.controls + 4 * k;
        __m128d& x1 = line(lanes_, k, u + 1);
        __m128d& x2 = line(lanes_, k, u);
        if (c[CONTROL_FREQ][at] == m.cachedFreq[k] && c[CONTROL_GAIN][at] == m.cachedGain[k] &&
            c[CONTROL_Q][at] == m.cachedQ[k] && c[CONTROL_TYPE][at] == m.cachedType[k] &&
            withinBound(lanes_.y1[k], lanes_.y2[k], x1, x2))
            return;
        PairedBand band;
        band.y1 = lanes_.y1[k];
        band.y2 = lanes_.y2[k];
        band.x1 = x1;
        band.x2 = x2;
        BandFilter& filter = *m.bands[k];
        storeDelays(band, filter);
        eq::pollBand(m, k, place_.controls, at);
        loadDelays(band, filter);
        loadCoefficients(k);
        lanes_.y1[k] = band.y1;
        lanes_.y2[k] = band.y2;
        x1 = band.x1;
        x2 = band.x2;
    }

    LoudRunPlace place_;
    const int32_t n_;
    const int32_t firstPoll_;  // run frame of the first poll (0: the first frame polls)
    int32_t nextPoll_;         // the next poll not looked at yet
    int32_t exactPoll_ = -1;   // the last poll whose bands poll on their own
    // Runaway checks of the polls looked at ahead, by step.
    static constexpr int32_t kMaxChecks = kBandCount * (kChunk / kPollInterval + 2);
    RunawayCheck queue_[kMaxChecks] = {};
    int32_t checksQueued_ = 0;
    int32_t checksDone_ = 0;
    __m128d lastInput_[kBandCount];
    __m128d inputBefore_[kBandCount];
    __m128 last_ = _mm_setzero_ps();
    PipelineLanes lanes_;
};

}  // namespace

int32_t sse2SteadySteps(PipelineLanes& lanes, int32_t from, int32_t to, const RunawayCheck* checks,
                        int32_t checkCount) {
    // The recursions' state in locals for the stretch: stores to the lines
    // and the stage may alias anything in memory, so state kept there would
    // be reloaded after every one of them.
    __m128d y1[kBandCount], y2[kBandCount];
#pragma GCC unroll 5
    for (int k = 0; k < kBandCount; ++k) y1[k] = lanes.y1[k], y2[k] = lanes.y2[k];
    int32_t next = 0;
    int32_t u = from;
    for (; u < to; ++u) {
        if (next < checkCount && checks[next].step == u) {
            // The band picked by constant indices only: an array indexed at
            // run time would have to live in memory through the loop.
            const int32_t band = checks[next].band;
            bool within = true;
#pragma GCC unroll 5
            for (int k = 0; k < kBandCount; ++k)
                if (k == band) within = withinBound(y1[k], y2[k], line(lanes, k, u + 1), line(lanes, k, u));
            if (!within) break;
            ++next;
        }
#pragma GCC unroll 5
        for (int k = 0; k < kBandCount; ++k) {
            __m128d y = _mm_mul_pd(lanes.b0[k], line(lanes, k, u + 2));
            y = _mm_add_pd(y, _mm_mul_pd(lanes.b1[k], line(lanes, k, u + 1)));
            y = _mm_add_pd(y, _mm_mul_pd(lanes.b2[k], line(lanes, k, u)));
            y = _mm_sub_pd(y, _mm_mul_pd(lanes.a1[k], y1[k]));
            y = _mm_sub_pd(y, _mm_mul_pd(lanes.a2[k], y2[k]));
            y2[k] = y1[k];
            y1[k] = y;
            if (k == kBandCount - 1)
                storeFrame(_mm_cvtpd_ps(y), lanes.stage1 + u, lanes.stage2 + u);
            else
                line(lanes, k + 1, u + kHistory + kSkew) = throughFloat(y);
        }
    }
#pragma GCC unroll 5
    for (int k = 0; k < kBandCount; ++k) lanes.y1[k] = y1[k], lanes.y2[k] = y2[k];
    return u;
}

__m128 filterLoudRun(LoudRunPlace place, const float* in1, const float* in2, float* out1,
                     float* out2, int32_t n) {
    Pipeline pipeline(place, n);
    return pipeline.run(in1, in2, out1, out2);
}

}  // namespace eq
