#include "equaliser/loud_pipeline.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "equaliser/kernel_path.h"
#include "equaliser/process_steps.h"

namespace eq {

namespace {

// A band's polls come every kPollInterval frames; it must have taken one
// before the band after it reaches the next.
static_assert(kLag < kPollInterval, "the pipeline is shorter than the poll spacing");

class Pipeline {
public:
    Pipeline(PipelinePlace place, int32_t n)
        : place_(place), n_(n), firstPoll_(kPollInterval - place.counter), nextPoll_(firstPoll_) {
        lanes_.offset = _mm_set1_pd(denormalOffset);
        if (firstPoll_ < kLag) {
            // The first poll falls while the pipeline fills. No poll is
            // pending yet, so the caches it is compared with are those the
            // bands will see when they reach it.
            const int moved = bandsMoved(firstPoll_);
            firstPollMoves_ = moved != 0;
            for (int k = 0; k < kBandCount; ++k)
                if (firstPoll_ + kSkew * k >= kLag)
                    queue_[queued_++] = {firstPoll_ + kSkew * k, k, firstPoll_, ((moved >> k) & 1) != 0};
            if (moved != 0) exactUntil_ = firstPoll_ + kLag;
            nextPoll_ = firstPoll_ + kPollInterval;
        }
    }

    PipelineRun run(const float* in1, const float* in2, float* out1, float* out2) {
        enter();
        for (int32_t chunk = 0, count = 0; chunk < n_ + kLag; chunk += count) {
            // The last chunk takes the drain too, so the bands drain
            // without a turn of the lines.
            count = n_ + kLag - chunk <= kLastChunk ? n_ + kLag - chunk : kChunk;
            // Inputs are taken in, and outputs gathered, a chunk at a time:
            // written straight to the host's buffers, a buffer at an unlucky
            // distance (modulo 4 KiB) from another makes the processor take
            // an output store for one that an input load depends on. What
            // each frame asks for (which of its inputs are zero) is read
            // now too.
            const int32_t frames = n_ - chunk < count ? n_ - chunk : count;
            takeIn(in1 + chunk, in2 + chunk, frames);
            // The first frame the caller has already found is filtered.
            if (chunk == 0) lanes_.maybeSkip[0] = 0;
            mark(count);
            runChunk(chunk, count);
            giveOut(chunk, count, out1, out2);
            if (chunk + count < n_ + kLag) turnLines();
        }
        leave();

        const int32_t polls =
            n_ > firstPoll_ ? (n_ - firstPoll_ + kPollInterval - 1) / kPollInterval : 0;
        place_.controlIndex += kPollInterval * polls;
        place_.counter =
            polls > 0 ? n_ - (firstPoll_ + kPollInterval * (polls - 1)) : place_.counter + n_;
        return {n_, last_};
    }

private:
    // Band 1's inputs for chunk steps 0 .. frames - 1, and what each frame
    // asks for. Four frames at a time: most have no zero input, and those
    // need nothing more.
    void takeIn(const float* in1, const float* in2, int32_t frames) {
        int32_t u = 0;
        for (; u + 4 <= frames; u += 4) {
            const __m128 left = _mm_loadu_ps(in1 + u);
            const __m128 right = _mm_loadu_ps(in2 + u);
            const __m128 low = _mm_unpacklo_ps(left, right);
            const __m128 high = _mm_unpackhi_ps(left, right);
            line(lanes_, 0, u + kHistory) = _mm_cvtps_pd(low);
            line(lanes_, 0, u + kHistory + 1) = _mm_cvtps_pd(_mm_movehl_ps(low, low));
            line(lanes_, 0, u + kHistory + 2) = _mm_cvtps_pd(high);
            line(lanes_, 0, u + kHistory + 3) = _mm_cvtps_pd(_mm_movehl_ps(high, high));
            const FourFrames asked = decideFour(in1 + u, in2 + u);
            storeBits(lanes_.flush + flushIndex(0, u), asked.flush);
            storeBits(lanes_.maybeSkip + u, asked.skip);
        }
        for (; u < frames; ++u) {
            line(lanes_, 0, u + kHistory) = loadFrame(in1 + u, in2 + u);
            ask(u, in1[u], in2[u]);
        }
    }

    // The marks of steps [0, count), sixteen at a time (every flag is 0 or 1).
    void mark(int32_t count) {
        auto at = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
        for (int32_t u = 0; u < count; u += 16) {
            __m128i any = _mm_setzero_si128();
            __m128i all = _mm_set1_epi8(1);
            for (int k = 0; k < kBandCount; ++k) {
                const __m128i now = at(lanes_.flush + flushIndex(k, u));
                any = _mm_or_si128(any, now);
                all = _mm_and_si128(all, _mm_and_si128(now, at(lanes_.flush + flushIndex(k, u) - 1)));
            }
            const __m128i skip = at(lanes_.maybeSkip + u);
            const __m128i marks =
                _mm_or_si128(_mm_or_si128(any, _mm_add_epi8(skip, skip)), _mm_slli_epi16(all, 2));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes_.marked + u), marks);
        }
    }

    // Four flags, one byte each, from four bits.
    static void storeBits(uint8_t* to, int bits) {
        static constexpr uint32_t kSpread[16] = {
            0x00000000, 0x00000001, 0x00000100, 0x00000101, 0x00010000, 0x00010001, 0x00010100, 0x00010101,
            0x01000000, 0x01000001, 0x01000100, 0x01000101, 0x01010000, 0x01010001, 0x01010100, 0x01010101,
        };
        std::memcpy(to, &kSpread[bits], 4);  // little-endian: bit j to byte j
    }

    void ask(int32_t u, float left, float right) {
        const Treatment asked = decide(left, right);
        lanes_.flush[flushIndex(0, u)] = asked != Treatment::Filter;
        lanes_.maybeSkip[u] = asked == Treatment::Skip;
    }

    void enter() {
        // Nothing before the stretch counts as a flushed frame.
        for (int32_t j = 0; j <= kLag; ++j) lanes_.flush[j] = 0;
        for (uint8_t& m : lanes_.marked) m = 0;
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
    void turnLines() {
        for (int32_t j = 0; j < kHistory + kSkew; ++j)
            for (int k = 0; k < kBandCount; ++k) lanes_.signal[j][k] = lanes_.signal[kChunk + j][k];
        for (int32_t j = 0; j <= kLag; ++j) lanes_.flush[j] = lanes_.flush[kChunk + j];
    }

    // Step chunk + u gave band 5's output for frame chunk + u - kLag.
    void giveOut(int32_t chunk, int32_t count, float* out1, float* out2) {
        int32_t first = kLag - chunk > 0 ? kLag - chunk : 0;
        int32_t end = n_ + kLag - chunk < count ? n_ + kLag - chunk : count;
        const int32_t base = chunk - kLag;
        // Output1 first: where both outputs share one buffer, Output2's
        // sample is the one that stays, as when every frame is written in turn.
        const float* stage = lanes_.stage;
        int32_t u = first;
        for (; u + 4 <= end; u += 4) {
            const __m128 low = _mm_loadu_ps(stage + 2 * u);
            const __m128 high = _mm_loadu_ps(stage + 2 * u + 4);
            _mm_storeu_ps(out1 + base + u, _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
            _mm_storeu_ps(out2 + base + u, _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)));
        }
        for (; u < end; ++u) out1[base + u] = stage[2 * u], out2[base + u] = stage[2 * u + 1];
        if (end > first && base + end == n_)
            last_ = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(stage + 2 * (end - 1))));
    }

    bool firstPollMoves_ = false;
    int32_t stillUntil_ = 0;  // polls before this frame are known not to move

    bool pollFrame(int32_t frame) const {
        static_assert((kPollInterval & (kPollInterval - 1)) == 0, "polls a power of two apart");
        return frame >= firstPoll_ && frame < n_ && ((frame - firstPoll_) & (kPollInterval - 1)) == 0;
    }

    void runChunk(int32_t chunk, int32_t count) {
        int32_t u = 0;
        while (u < count && chunk + u < n_ + kLag) {
            const int32_t t = chunk + u;
            if (t == 0 && fillNeedsNoLook()) {
                fill();
                u = kLag;
                continue;
            }
            if (t == n_ - 1 && drainNeedsNoLook(u)) {
                drain(u);
                u += kLag + 1;
                continue;
            }
            if (t < kLag || t >= n_ - 1) {
                anyStep(chunk, u);
                ++u;
                continue;
            }
            lookAhead(t, chunk, chunk + count);
            int32_t end = count;
            // Never past a poll not looked at yet.
            for (int32_t limit : {n_ - 1, nextPoll_})
                if (limit - chunk < end) end = limit - chunk;
            // The events still to come, their steps counted from the run's
            // start (the chunk starts at step `chunk`).
            const PollEvents events{queue_ + done_, queued_ - done_, chunk};
            const KernelPath path = kernelPath();
            const int32_t stop = path == KernelPath::Avx512 ? avx512SteadySteps(lanes_, u, end, events)
                                 : path == KernelPath::Avx  ? avxSteadySteps(lanes_, u, end, events)
                                                            : sse2SteadySteps(lanes_, u, end, events);
            while (done_ < queued_ && queue_[done_].step < chunk + stop) ++done_;
            u = stop;
            if (stop < end) {
                if (lanes_.maybeSkip[u] && band1Rests(u)) {
                    // Band 1 rests before a frame that may be skipped: this
                    // step goes band by band, and the stretch may end here.
                    anyStep(chunk, u);
                    ++u;
                } else {
                    // A band polls as the loop defines (its controls moved,
                    // or its delay values ran away), before its section of
                    // this step; then the steps go on from this one. (The
                    // poll comes before the band's flush of this step rather
                    // than after it: a flush changes no control, no design,
                    // and no delay value's being finite or within the
                    // runaway bound, and a restart's zeros flush to zeros.)
                    const BandPollEvent& e = queue_[done_++];
                    if (e.designed)
                        takeDesign(e, u);
                    else if (e.exact)
                        pollBand(e.band, chunk + u - kSkew * e.band, u);
                    else
                        restartIfRunAway(e.band, u);
                }
            }
        }
    }

    // Filling and draining, when no step of it needs a look, go in steps
    // with the bands at work known in advance and their delay values in
    // registers. Band k joins at step kSkew * k and leaves after the last
    // frame's step plus kSkew * k.
    static_assert(kSkew == 4 && kBandCount == 5, "the fill and drain are written out for these");

    template <int First, int Last>
    inline void edgeStep(int32_t u, __m128d* y1, __m128d* y2) {
#pragma GCC unroll 5
        for (int k = First; k <= Last; ++k)
            bandStep(lanes_, k, u, line(lanes_, k, u + 1), line(lanes_, k, u), y1[k], y2[k]);
    }

    // No step of the fill flushes or may skip, and no band polls in it, or
    // all do on frame 0 with nothing moved and nothing run away (with the
    // delay values the stretch starts with).
    bool fillNeedsNoLook() const {
        if (firstMarked(lanes_, 0, kLag) < kLag) return false;
        if (firstPoll_ >= kLag) return true;
        if (firstPoll_ != 0 || firstPollMoves_) return false;
        for (int k = 0; kSkew * k < kLag; ++k) {
            const PairedBand& band = place_.state.band[k];
            if (!withinBound(band.y1, band.y2, band.x1, band.x2)) return false;
        }
        return true;
    }

    void fill() {
        __m128d y1[kBandCount], y2[kBandCount];
        for (int k = 0; k < kBandCount; ++k) y1[k] = lanes_.y1[k], y2[k] = lanes_.y2[k];
        for (int32_t u = 0; u < 4; ++u) edgeStep<0, 0>(u, y1, y2);
        for (int32_t u = 4; u < 8; ++u) edgeStep<0, 1>(u, y1, y2);
        for (int32_t u = 8; u < 12; ++u) edgeStep<0, 2>(u, y1, y2);
        for (int32_t u = 12; u < 16; ++u) edgeStep<0, 3>(u, y1, y2);
        for (int k = 0; k < kBandCount; ++k) lanes_.y1[k] = y1[k], lanes_.y2[k] = y2[k];
    }

    // From the last frame's step at chunk step u on: no band polls, no band
    // flushes on any frame it still takes, and band 1 cannot rest before
    // the last frame.
    bool drainNeedsNoLook(int32_t u) const {
        if (pollFrame(n_ - 1) || done_ < queued_ || lanes_.maybeSkip[u]) return false;
        for (int32_t j = 0; j <= kLag; ++j)
            if (lanes_.flush[flushIndex(0, u) - j]) return false;
        return true;
    }

    void drain(int32_t u) {
        __m128d y1[kBandCount], y2[kBandCount];
        for (int k = 0; k < kBandCount; ++k) y1[k] = lanes_.y1[k], y2[k] = lanes_.y2[k];
        edgeStep<0, 4>(u, y1, y2);
        finished(0, u);
        for (int32_t i = 0; i < 4; ++i) edgeStep<1, 4>(++u, y1, y2);
        finished(1, u);
        for (int32_t i = 0; i < 4; ++i) edgeStep<2, 4>(++u, y1, y2);
        finished(2, u);
        for (int32_t i = 0; i < 4; ++i) edgeStep<3, 4>(++u, y1, y2);
        finished(3, u);
        for (int32_t i = 0; i < 4; ++i) edgeStep<4, 4>(++u, y1, y2);
        finished(4, u);
        for (int k = 0; k < kBandCount; ++k) lanes_.y1[k] = y1[k], lanes_.y2[k] = y2[k];
    }

    // Band k took the stretch's last frame at chunk step u.
    void finished(int k, int32_t u) {
        lastInput_[k] = line(lanes_, k, u + 2);
        inputBefore_[k] = line(lanes_, k, u + 1);
    }

    // Looks at the polls ahead of step t, up to step `until`, before band 1
    // reaches them. When no band's controls moved at a poll, each band needs
    // only its runaway check when its turn comes; otherwise every band takes
    // that poll as the loop defines. While such a poll is still to be taken
    // nothing further is looked at: its redesigns change the caches a later
    // poll is compared with. It is taken before band 1 reaches the next poll,
    // which is looked at then.
    void lookAhead(int32_t t, int32_t chunk, int32_t until) {
        if (done_ == queued_) {
            done_ = queued_ = 0;
        } else if (queued_ + kBandCount > kMaxEvents) {
            for (int32_t i = done_; i < queued_; ++i) queue_[i - done_] = queue_[i];
            queued_ -= done_;
            done_ = 0;
        }
        while (t > exactUntil_ && nextPoll_ < until && nextPoll_ < n_ - 1 &&
               queued_ + kBandCount <= kMaxEvents) {
            const int32_t poll = nextPoll_;
            nextPoll_ += kPollInterval;
            const int moved = bandsMoved(poll);
            const bool early = moved != 0 && reachedForSure(t, chunk, until, poll);
            if (moved != 0 && !early) exactUntil_ = poll + kLag;
            for (int k = 0; k < kBandCount; ++k) {
                BandPollEvent& e = queue_[queued_++];
                e = {poll + kSkew * k, k, poll, ((moved >> k) & 1) != 0};
                if (early && e.exact) designEarly(e);
            }
        }
    }

    // Whether every band surely takes the poll on `frame` in the steady
    // steps of this chunk, from step t on: its last band's step lies before
    // the chunk's end and the stretch's last frame, and no frame before it
    // may be skipped (where band 1 might rest, the stretch may end).
    bool reachedForSure(int32_t t, int32_t chunk, int32_t until, int32_t frame) const {
        const int32_t last = frame + kLag;
        if (last >= until || last >= n_ - 1) return false;
        for (int32_t u = t - chunk; u <= last - chunk; ++u)
            if (lanes_.marked[u] & kMaySkip) return false;
        return true;
    }

    // The design half of band e.band's poll, made now: the caches and the
    // band's design move on to the poll's controls, and the event keeps the
    // coefficients for the band's step (later polls looked at ahead may
    // redesign the band again before then).
    void designEarly(BandPollEvent& e) {
        Module& m = place_.module;
        const BandRedesign r =
            redesignBand(m, e.band, place_.controls, place_.controlIndex + (e.frame - firstPoll_));
        const BandFilter& f = *m.bands[e.band];
        e.designed = r.redesigned;
        e.clears = r.typeChanged;
        e.b0 = f.b0, e.b1 = f.b1, e.b2 = f.b2, e.a1 = f.a1, e.a2 = f.a2;
    }

    // Band e.band takes a design made ahead, at chunk step u before its
    // section: the new coefficients, cleared delay values after a type
    // change, and a restart where its delay values ran away, as a poll
    // there would give them.
    void takeDesign(const BandPollEvent& e, int32_t u) {
        const int k = e.band;
        takeCoefficients(lanes_, e);
        __m128d& x1 = line(lanes_, k, u + 1);
        __m128d& x2 = line(lanes_, k, u);
        if (e.clears) {
            lanes_.y1[k] = lanes_.y2[k] = x1 = x2 = _mm_setzero_pd();
            return;
        }
        restartIfRunAway(k, u);
    }

    // A band whose controls did not move at its poll (looked at ahead,
    // against the caches as the polls before it left them: a later poll's
    // design made ahead may have moved them on since) only restarts if its
    // delay values ran away, with the coefficients it runs on finite.
    void restartIfRunAway(int k, int32_t u) {
        __m128d& x1 = line(lanes_, k, u + 1);
        __m128d& x2 = line(lanes_, k, u);
        if (withinBound(lanes_.y1[k], lanes_.y2[k], x1, x2)) return;
        const double coefficients[] = {_mm_cvtsd_f64(lanes_.b0[k]), _mm_cvtsd_f64(lanes_.b1[k]),
                                       _mm_cvtsd_f64(lanes_.b2[k]), _mm_cvtsd_f64(lanes_.a1[k]),
                                       _mm_cvtsd_f64(lanes_.a2[k])};
        for (double c : coefficients)
            if (!std::isfinite(c)) return;
        lanes_.y1[k] = lanes_.y2[k] = x1 = x2 = _mm_setzero_pd();
    }

    // The bands (bit k for band k + 1) whose controls at the poll on `frame`
    // differ from their caches: only those take the poll as defined. When
    // none did, the three polls after it are compared at once, control by
    // control, and when none of them moved either, they need no look of
    // their own.
    int bandsMoved(int32_t frame) {
        if (frame < stillUntil_) return 0;
        const int32_t at = place_.controlIndex + (frame - firstPoll_);
        const Module& m = place_.module;
        // This poll first: where a control is modulated it moves at every
        // poll, and nothing further need be read.
        int moved = 0;
        for (int k = 0; k < kBandCount; ++k)
            if (!controlsAsCached(m, k, place_.controls, at)) moved |= 1 << k;
        if (moved != 0) return moved;
        const int32_t last = n_ - 2 - frame;  // polls past the stretch's last step are not read
        const int32_t second = last >= kPollInterval ? kPollInterval : 0;
        const int32_t third = last >= 2 * kPollInterval ? 2 * kPollInterval : 0;
        const int32_t fourth = last >= 3 * kPollInterval ? 3 * kPollInterval : 0;
        __m128 same = _mm_castsi128_ps(_mm_set1_epi32(-1));
        for (int k = 0; k < kBandCount; ++k) {
            const float cached[4] = {m.cachedFreq[k], m.cachedGain[k], m.cachedQ[k], m.cachedType[k]};
            for (int c = 0; c < 4; ++c) {
                const float* control = place_.controls[4 * k + c] + at;
                const __m128 now = _mm_setr_ps(control[0], control[second], control[third], control[fourth]);
                same = _mm_and_ps(same, _mm_cmpeq_ps(now, _mm_set1_ps(cached[c])));
            }
        }
        if (_mm_movemask_ps(same) == 0xF) stillUntil_ = frame + 3 * kPollInterval + 1;
        return 0;
    }

    bool band1Rests(int32_t u) const {
        return resting(lanes_.y1[0], lanes_.y2[0], line(lanes_, 0, u + 1), line(lanes_, 0, u),
                       lanes_.offset);
    }

    // Step chunk + u, band by band: filling, draining, the last frame of
    // band 1, and bands taking their polls on their own.
    // `ringing`: band 1 is known not to rest before this step's frame (it
    // may rest once its poll has cleared it, which must not end the stretch).
    void anyStep(int32_t chunk, int32_t u, bool ringing = false) {
        const int32_t t = chunk + u;
        if (!ringing && t < n_ && lanes_.maybeSkip[u] && band1Rests(u)) {
            // Whether every band rests decides this frame: the stretch ends
            // before it, and band 1 keeps the state it has.
            n_ = t;
            lastInput_[0] = line(lanes_, 0, u + 1);
            inputBefore_[0] = line(lanes_, 0, u);
        }
        for (int k = 0; k < kBandCount; ++k) {
            const int32_t frame = t - kSkew * k;
            if (frame < 0 || frame >= n_) continue;
            if (lanes_.flush[flushIndex(k, u)]) {
                lanes_.y1[k] = flushed(lanes_.y1[k], lanes_.offset);
                lanes_.y2[k] = flushed(lanes_.y2[k], lanes_.offset);
                line(lanes_, k, u + 1) = flushed(line(lanes_, k, u + 1), lanes_.offset);
                line(lanes_, k, u) = flushed(line(lanes_, k, u), lanes_.offset);
            }
            if (pollFrame(frame)) pollBand(k, frame, u);
            bandStep(lanes_, k, u, line(lanes_, k, u + 1), line(lanes_, k, u), lanes_.y1[k], lanes_.y2[k]);
            if (frame == n_ - 1) finished(k, u);
        }
    }

    // Band k's part of the poll on `frame`, at chunk step u before its
    // section. Unless its controls moved or its delay values ran away there
    // is nothing to do.
    void pollBand(int k, int32_t frame, int32_t u) {
        Module& m = place_.module;
        const int32_t at = place_.controlIndex + (frame - firstPoll_);
        __m128d& x1 = line(lanes_, k, u + 1);
        __m128d& x2 = line(lanes_, k, u);
        if (controlsAsCached(m, k, place_.controls, at) &&
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

    PipelinePlace place_;
    int32_t n_;                // frames in the stretch; less if it stops early
    const int32_t firstPoll_;  // run frame of the first poll (0: the first frame polls)
    int32_t nextPoll_;         // the next poll not looked at yet
    int32_t exactUntil_ = -1;  // the last step at which a band takes a poll as defined
    // Band poll events of the polls looked at ahead, by step.
    static constexpr int32_t kMaxEvents = kBandCount * (kChunk / kPollInterval + 2);
    BandPollEvent queue_[kMaxEvents] = {};
    int32_t queued_ = 0;
    int32_t done_ = 0;
    __m128d lastInput_[kBandCount];
    __m128d inputBefore_[kBandCount];
    __m128 last_ = _mm_setzero_ps();
    PipelineLanes lanes_;
};

}  // namespace

int32_t sse2SteadySteps(PipelineLanes& lanes, int32_t from, int32_t to, const PollEvents& events) {
    // The recursions' state in locals for the stretch: stores to the lines
    // and the stage may alias anything in memory, so state kept there would
    // be reloaded after every one of them.
    __m128d y1[kBandCount];
#pragma GCC unroll 5
    for (int k = 0; k < kBandCount; ++k) y1[k] = lanes.y1[k];
#if defined(__i386__)
    // Eight registers hold the five bands' newer delay values but not the
    // older five as well. Those stay in the lanes, each read once a step,
    // two steps after it was written, so nothing waits on it; left to the
    // compiler, the spill may take a newer one, and its band would wait on a
    // store and a load at every step.
    __m128d* const y2 = lanes.y2;
#else
    __m128d y2[kBandCount];
#pragma GCC unroll 5
    for (int k = 0; k < kBandCount; ++k) y2[k] = lanes.y2[k];
#endif
    int32_t next = 0;
    int32_t u = from;
    int32_t look = nextLook(lanes, u, to, events, next);
    for (; u < to; ++u) {
        // Most steps need no look at all: no band flushes, band 1's frame
        // may not be skipped, and no band polls.
        const bool looking = u == look;
        const int marks = looking ? lanes.marked[u] : 0;
        if (__builtin_expect(looking, 0)) {
            if ((marks & kMaySkip) &&
                resting(y1[0], y2[0], line(lanes, 0, u + 1), line(lanes, 0, u), lanes.offset))
                break;
            if (next < events.count && events.at[next].step == u + events.base) {
                // The band is picked by constant indices only: an array
                // indexed at run time would have to live in memory through
                // the loop.
                const BandPollEvent& e = events.at[next];
                // A band whose controls moved (its design made ahead or
                // not) takes its poll outside the loop: stores of new
                // coefficients in here would cost the steady steps their
                // addressing, about a fifth of their time, for a few cycles
                // saved per redesign. The others only need a look at their
                // delay values.
                bool quiet = !e.exact;
#pragma GCC unroll 5
                for (int k = 0; k < kBandCount; ++k)
                    if (k == e.band && quiet)
                        quiet = withinBound(y1[k], y2[k], line(lanes, k, u + 1), line(lanes, k, u));
                if (!quiet) break;
                ++next;
            }
            // In silence every step is marked.
            look = lanes.marked[u + 1] != 0 ? u + 1 : nextLook(lanes, u + 1, to, events, next);
        }
        // Band k's line u + c. The 32-bit build finds this step's from one
        // row pointer: with seven general registers it otherwise works each
        // address out anew and spills them (a sixth of the DLL's SSE2 time).
#if defined(__i386__)
        __m128d(*const row)[kSlotsPerIndex] = lanes.signal + u;
        auto lineAt = [row](int k, int32_t c) -> __m128d& { return row[c][k]; };
#else
        auto lineAt = [&lanes, u](int k, int32_t c) -> __m128d& { return line(lanes, k, u + c); };
#endif
        // flushedBandStep written out on these lines. One helper for both,
        // taking a line accessor, was timed: with this loop's test of the
        // flush the 32-bit AVX steps (band 5 goes through flushedBandStep)
        // lost 2.5 %, with flushedBandStep's the compiler laid out the native
        // SSE2 loop anew, no faster.
#pragma GCC unroll 5
        for (int k = 0; k < kBandCount; ++k) {
            __m128d x1 = lineAt(k, 1);
            __m128d x2 = lineAt(k, 0);
            const int32_t at = flushIndex(k, u);
            const bool again = marks & kAllFlushAgain;
            if (__builtin_expect(looking, 0) && (again || lanes.flush[at])) {
                y1[k] = flushed(y1[k], lanes.offset);
                x1 = lineAt(k, 1) = flushed(x1, lanes.offset);
                // The older two were flushed a frame ago as the newer two,
                // when that frame flushed too, and a flush of a flushed
                // value gives it back bit for bit.
                if (!again && !lanes.flush[at - 1]) {
                    y2[k] = flushed(y2[k], lanes.offset);
                    x2 = flushed(x2, lanes.offset);
                }
            }
            // bandStep's section, its lines found from the row.
            __m128d y = _mm_mul_pd(lanes.b0[k], lineAt(k, kHistory));
            y = _mm_add_pd(y, _mm_mul_pd(lanes.b1[k], x1));
            y = _mm_add_pd(y, _mm_mul_pd(lanes.b2[k], x2));
            y = _mm_sub_pd(y, _mm_mul_pd(lanes.a1[k], y1[k]));
            y = _mm_sub_pd(y, _mm_mul_pd(lanes.a2[k], y2[k]));
            y2[k] = y1[k];
            y1[k] = y;
            if (k == kBandCount - 1)
                stageFrame(lanes, u, _mm_cvtpd_ps(y));
            else
                lineAt(k + 1, kHistory + kSkew) = throughFloat(y);
        }
    }
#pragma GCC unroll 5
    for (int k = 0; k < kBandCount; ++k) {
        lanes.y1[k] = y1[k];
#if !defined(__i386__)
        lanes.y2[k] = y2[k];
#endif
    }
    return u;
}

PipelineRun runPipeline(PipelinePlace place, const float* in1, const float* in2, float* out1,
                        float* out2, int32_t n) {
    Pipeline pipeline(place, n);
    return pipeline.run(in1, in2, out1, out2);
}

}  // namespace eq
