// The block kernel, written once over a lane type. Not a header of its own:
// block_kernel.cpp includes it once for each instruction set, each time in a
// namespace of its own and with every function in it compiled for that
// instruction set (so no function of it is shared between instruction sets,
// and the lane types' own functions may be inlined into all of it).
//
// Expects LaneState, Segment, the lane types, pollAllBands and
// kShortestSegment of block_kernel.cpp to be declared before it. Staging and giving out are
// here too, so that no part of a call runs 128-bit code of another
// encoding between the wider steps.

#define QV_KERNEL_INLINE inline __attribute__((always_inline))

// y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2, summed in that order.
template <class L, class V>
QV_KERNEL_INLINE V section(V b0, V b1, V b2, V a1, V a2, V x, V x1, V x2, V y1, V y2) {
    V y = L::mul(b0, x);
    y = L::add(y, L::mul(b1, x1));
    y = L::add(y, L::mul(b2, x2));
    y = L::sub(y, L::mul(a1, y1));
    return L::sub(y, L::mul(a2, y2));
}

// Adding and removing the offset turns every value below about 9.4e-38
// (denormals included) into exact zero and leaves ordinary values alone.
template <class L, class V>
QV_KERNEL_INLINE V flushed(V v, V offset) {
    return L::sub(L::add(v, offset), offset);
}

// v flushed on the lanes where `mask` is set.
template <class L, class V>
QV_KERNEL_INLINE V flushedWhere(V mask, V v, V offset) {
    return L::select(mask, flushed<L>(v, offset), v);
}

// A section's last two inputs flushed on the lanes where `mask` is set:
// in x1 and x2, or where they are kept in memory, in the rows of the last
// two steps.
template <class L, bool kInMemory, class V>
QV_KERNEL_INLINE void flushInputs(V mask, V offset, V& x1, V& x2, double* row1, double* row2) {
    if (kInMemory) {
        L::store(row1, flushedWhere<L>(mask, L::load(row1), offset));
        L::store(row2, flushedWhere<L>(mask, L::load(row2), offset));
    } else {
        x1 = flushedWhere<L>(mask, x1, offset), x2 = flushedWhere<L>(mask, x2, offset);
    }
}

// One frame through the five bands one after another, two lanes at a time;
// flushed first where an input is zero. Returns the outputs.
template <class L>
inline __m128 cascadeFrame(LaneState& s, float left, float right) {
    using T = typename L::Tail;
    const bool flush = isZero(left) || isZero(right);
    const __m128d offset = T::set1(denormalOffset);
    __m128d x = _mm_cvtps_pd(_mm_setr_ps(left, right, 0.0f, 0.0f));
    __m128 out = _mm_setzero_ps();
    for (int lane = 0; lane < 2 * kBandCount; lane += 2) {
        __m128d x1 = T::load(s.x1 + lane), x2 = T::load(s.x2 + lane);
        __m128d y1 = T::load(s.y1 + lane), y2 = T::load(s.y2 + lane);
        if (flush) {
            x1 = flushed<T>(x1, offset), x2 = flushed<T>(x2, offset);
            y1 = flushed<T>(y1, offset), y2 = flushed<T>(y2, offset);
        }
        const __m128d y = section<T>(T::load(s.b0 + lane), T::load(s.b1 + lane), T::load(s.b2 + lane),
                                     T::load(s.a1 + lane), T::load(s.a2 + lane), x, x1, x2, y1, y2);
        T::store(s.x2 + lane, x1), T::store(s.x1 + lane, x);
        T::store(s.y2 + lane, y1), T::store(s.y1 + lane, y);
        x = T::throughFloat(y, out);
    }
    return out;
}

// One byte for each of sixteen inputs: all bits set where it is zero.
QV_KERNEL_INLINE __m128i zeroBytes(__m128 first4, __m128 second4, __m128 third4, __m128 fourth4) {
    const __m128 zero = _mm_setzero_ps();
    const auto is0 = [zero](__m128 v) { return _mm_castps_si128(_mm_cmpeq_ps(v, zero)); };
    return _mm_packs_epi16(_mm_packs_epi32(is0(first4), is0(second4)), _mm_packs_epi32(is0(third4), is0(fourth4)));
}

// The same for a call's last one to fifteen frames, `count` of them; past
// the last the inputs count as non-zero (nothing asked). Four frames an
// instruction wherever four are left, so a short call's frames are looked
// at without a branch each.
__attribute__((noinline)) inline __m128i lastZeroBytes(const float* in, int32_t count) {
    const auto four = [=](int32_t from) {
        if (from + 4 <= count) return _mm_loadu_ps(in + from);
        if (from >= count) return _mm_set1_ps(1.0f);
        const int32_t left = count - from;
        return _mm_setr_ps(in[from], left > 1 ? in[from + 1] : 1.0f, left > 2 ? in[from + 2] : 1.0f, 1.0f);
    };
    return zeroBytes(four(0), four(4), four(8), four(12));
}

// What the sixteen frames from `first` ask for (kFlushes where an input
// is zero, kMaySkip too where both are), one byte each; none past `n`.
QV_KERNEL_INLINE __m128i zerosOf(const float* in1, const float* in2, int32_t first, int32_t n) {
    const auto bytes = [=](const float* in) {
        return first + 16 <= n ? zeroBytes(_mm_loadu_ps(in + first), _mm_loadu_ps(in + first + 4),
                                           _mm_loadu_ps(in + first + 8), _mm_loadu_ps(in + first + 12))
                               : lastZeroBytes(in + first, n - first);
    };
    const __m128i left = bytes(in1), right = bytes(in2);
    return _mm_or_si128(_mm_and_si128(_mm_or_si128(left, right), _mm_set1_epi8(kFlushes)),
                        _mm_and_si128(_mm_and_si128(left, right), _mm_set1_epi8(kMaySkip)));
}

// Bytes `now` moved `kBytes` places on, the last of `before` coming in first.
template <int kBytes>
QV_KERNEL_INLINE __m128i later(__m128i now, __m128i before) {
    return _mm_or_si128(_mm_slli_si128(now, kBytes), _mm_srli_si128(before, 16 - kBytes));
}

// What each frame's zeros ask for, and the steps at which something besides
// the sections happens, sixteen at a time: every byte is worked out in
// registers and stored once (bytes stored one by one and read back sixteen
// at a time would wait for the stores to reach the cache).
template <int32_t S>
inline void stageSegment(Segment& g, const float* in1, const float* in2, int32_t n, int32_t counter,
                         int32_t controlIndex) {
    g.n = n;
    g.firstPoll = kPollInterval - counter;
    g.controlIndex = controlIndex;
    g.in1 = in1;
    g.in2 = in2;
    constexpr int32_t lag = S * (kBandCount - 1);
    static_assert(lag <= 16, "the skew reaches back no more than sixteen frames");
    const __m128i flushBit = _mm_set1_epi8(kFlushes), skipBit = _mm_set1_epi8(kMaySkip);
    __m128i before = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(g.zeros), before);
    const auto stage16 = [&](int32_t first, __m128i now) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(g.zeros + lag + first), now);
        // Music: no zero input here or in the sixteen frames before.
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(now, before), _mm_setzero_si128())) == 0xFFFF) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(g.events + first), now);
            return;
        }
        const __m128i some = _mm_or_si128(
            _mm_or_si128(now, later<S>(now, before)),
            _mm_or_si128(_mm_or_si128(later<2 * S>(now, before), later<3 * S>(now, before)),
                         later<4 * S>(now, before)));
        const __m128i events = _mm_or_si128(_mm_and_si128(some, flushBit), _mm_and_si128(now, skipBit));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(g.events + first), events);
        before = now;
    };
    int32_t first = 0;
    for (; first < n; first += 16) stage16(first, zerosOf(in1, in2, first, n));
    // The draining steps past the frames: one group at most, the lag being
    // no longer (a loop of such groups, all zero after the first, became a
    // call to memset in the 32-bit build).
    if (first < n + lag) stage16(first, _mm_setzero_si128());
    for (int32_t poll = g.firstPoll; poll < n; poll += kPollInterval)
        for (int k = 0; k < kBandCount; ++k) g.events[poll + S * k] |= kPolls;
}

// Steps from t with the delay values in registers: the steady steps (every
// band at work) or, Masked, the filling and draining ones. `polledAt`: the
// step whose poll (and skip check) is already done.
//
// Bands 1 to 4 fill F registers of the lane type; band 5 goes alone on two
// lanes (L::Tail: its own register is all a wider one would do useful work
// in). The coefficients are read from memory at every step, and on the
// narrower types the outputs of the last S steps wait in a ring there:
// held in registers as well, they would crowd out the recursions' own state,
// which then waits on spills at every step. For the same reason, where the
// four delay values of every register outgrow the sixteen registers (SSE2),
// the steady steps keep each section's last two inputs in memory (g.inputs)
// and only its outputs in registers: the inputs are off the recursion's
// chain, so reading them where they are needed costs a load, not time.
template <class L, bool Masked>
QV_KERNEL_INLINE RunEnd runSteps(Segment& g, int32_t t, int32_t polledAt) {
    using V = typename L::V;
    using T = typename L::Tail;  // band 5
    using V2 = __m128d;
    constexpr int W = L::kWidth;
    constexpr int F = 2 * (kBandCount - 1) / W;
    constexpr int kTail = 2 * (kBandCount - 1);  // band 5's first lane
    static_assert(F * W == kTail, "bands 1 to 4 fill whole registers");
    constexpr int32_t skew = L::kSkew, lag = L::kLag;
    LaneState& s = g.state;
    V x1[F], x2[F], y1[F], y2[F];
#pragma GCC unroll 4
    for (int v = 0; v < F; ++v) {
        x1[v] = L::load(s.x1 + W * v), x2[v] = L::load(s.x2 + W * v);
        y1[v] = L::load(s.y1 + W * v), y2[v] = L::load(s.y2 + W * v);
    }
    // Where bands 1 to 4 take one register, the outputs of the last skew
    // steps stay in registers too (oldest first).
    constexpr bool kHeld = F == 1;
    constexpr bool kInputsInMemory = !Masked && 4 * (F + 1) > 16;
    V held[skew][F];
#pragma GCC unroll 4
    for (int j = 0; j < skew; ++j)
#pragma GCC unroll 4
        for (int v = 0; v < F; ++v)
            held[j][v] = kHeld ? L::load(g.recent[(t - skew + j) & (kRecentRows - 1)] + W * v) : L::set1(0.0);
    V2 tx1 = T::load(s.x1 + kTail), tx2 = T::load(s.x2 + kTail);
    V2 ty1 = T::load(s.y1 + kTail), ty2 = T::load(s.y2 + kTail);
    // Where the inputs live in memory, a section's x1 and x2 at step t are
    // its inputs of steps t - 1 and t - 2; the registers x1, x2, tx1 and tx2
    // hold them only on the way in and out.
    const auto inputsAt = [&g](int32_t step) { return g.inputs[step & (kRecentRows - 1)]; };
    if (kInputsInMemory) {
#pragma GCC unroll 4
        for (int v = 0; v < F; ++v)
            L::store(inputsAt(t - 1) + W * v, x1[v]), L::store(inputsAt(t - 2) + W * v, x2[v]);
        T::store(inputsAt(t - 1) + kTail, tx1), T::store(inputsAt(t - 2) + kTail, tx2);
    }
    RunEnd end{t, -1};
    int32_t n = g.n;
    for (;; ++t) {
        if (Masked ? !(t < n + lag && (t < lag || t >= n)) : t >= n) break;
        const auto inputs1 = [&](int v) { return kInputsInMemory ? L::load(inputsAt(t - 1) + W * v) : x1[v]; };
        const auto inputs2 = [&](int v) { return kInputsInMemory ? L::load(inputsAt(t - 2) + W * v) : x2[v]; };
        const auto tailInputs1 = [&] { return kInputsInMemory ? T::load(inputsAt(t - 1) + kTail) : tx1; };
        const auto tailInputs2 = [&] { return kInputsInMemory ? T::load(inputsAt(t - 2) + kTail) : tx2; };
        const unsigned events = g.events[t];
        unsigned working = Masked ? bandsAtWork<skew>(t, n) : (1u << kBandCount) - 1;
        if (__builtin_expect(events != 0, 0)) {
            if (t != polledAt && (events & kMaySkip) && (working & 1)) {
                // Band 1 at rest before a frame that may be skipped: whether
                // every band rests decides it, so the segment ends before it.
                const V bound = L::set1(denormalOffset);
                const unsigned ringing = L::notBelow(inputs1(0), bound) | L::notBelow(inputs2(0), bound) |
                                         L::notBelow(y1[0], bound) | L::notBelow(y2[0], bound);
                if ((ringing & 3) == 0) {
                    n = g.n = t;
                    if (!Masked) break;  // the rest of the segment drains, masked
                    working &= ~1u;
                }
            }
            if (t != polledAt && (events & kPolls)) {
                const int k = pollingBand<skew>(g, t);
                if ((working >> k) & 1) {
                    // Only the register that holds band k is looked at.
                    unsigned runaway = 0;
                    if (k == kBandCount - 1) {
                        const V2 limit = T::set1(kMaxDelayMagnitude);
                        runaway = T::beyond(tailInputs1(), limit) | T::beyond(tailInputs2(), limit) |
                                  T::beyond(ty1, limit) | T::beyond(ty2, limit);
                    } else {
                        const V limit = L::set1(kMaxDelayMagnitude);
#pragma GCC unroll 4
                        for (int v = 0; v < F; ++v)
                            if (2 * k / W == v)
                                runaway = (L::beyond(inputs1(v), limit) | L::beyond(inputs2(v), limit) |
                                           L::beyond(y1[v], limit) | L::beyond(y2[v], limit)) >>
                                          (2 * k - W * v);
                    }
                    if ((runaway & 3) != 0 ||
                        !controlsAsCached(*g.module, k, g.controls, pollControlIndex<skew>(g, k, t))) {
                        end.polling = k;
                        break;
                    }
                }
            }
            const unsigned flushing = (events & kFlushes) ? bandsFlushing<skew>(g, t) & working : 0;
            if (flushing != 0) {
                const V offset = L::set1(denormalOffset);
#pragma GCC unroll 4
                for (int v = 0; v < F; ++v) {
                    const V mask = L::load(kLaneMasks.lanes(flushing, W * v));
                    flushInputs<L, kInputsInMemory>(mask, offset, x1[v], x2[v], inputsAt(t - 1) + W * v,
                                                    inputsAt(t - 2) + W * v);
                    y1[v] = flushedWhere<L>(mask, y1[v], offset), y2[v] = flushedWhere<L>(mask, y2[v], offset);
                }
                const V2 mask = T::load(kLaneMasks.lanes(flushing, kTail));
                const V2 tailOffset = T::set1(denormalOffset);
                flushInputs<T, kInputsInMemory>(mask, tailOffset, tx1, tx2, inputsAt(t - 1) + kTail,
                                                inputsAt(t - 2) + kTail);
                ty1 = flushedWhere<T>(mask, ty1, tailOffset), ty2 = flushedWhere<T>(mask, ty2, tailOffset);
            }
        }
        // Band 1 takes frame t (straight from the host's buffers: the outputs
        // reach them only after the segment); band k + 1 the output band k
        // gave skew steps ago. The draining steps read the last frame again.
        const int32_t frame = Masked && t >= n ? (n > 0 ? n - 1 : 0) : t;
        const double* given = g.recent[(t - skew) & (kRecentRows - 1)];
        double* giving = g.recent[t & (kRecentRows - 1)];
        V earlier[F];
#pragma GCC unroll 4
        for (int v = 0; v < F; ++v) earlier[v] = kHeld ? held[0][v] : L::load(given + W * v);
        V x[F];
        x[0] = L::shiftIn(L::frameAtTop(g.in1 + frame, g.in2 + frame), earlier[0]);
#pragma GCC unroll 4
        for (int v = 1; v < F; ++v) x[v] = L::shiftIn(earlier[v - 1], earlier[v]);
        const V2 tx = kHeld ? L::topPair(earlier[F - 1]) : T::load(given + kTail - 2);
        if (kHeld)
#pragma GCC unroll 4
            for (int j = 0; j + 1 < skew; ++j)
#pragma GCC unroll 4
                for (int v = 0; v < F; ++v) held[j][v] = held[j + 1][v];
#pragma GCC unroll 4
        for (int v = 0; v < F; ++v) {
            // A register none of whose bands has a frame at this step
            // (filling or draining) is left as it is: its lanes' output
            // reaches no band at work.
            constexpr unsigned kAllBands = (1u << (W / 2)) - 1;
            const unsigned bandsHere = (working >> (v * W / 2)) & kAllBands;
            if (Masked && bandsHere == 0) continue;
            const int lane = W * v;
            const V y = section<L>(L::load(s.b0 + lane), L::load(s.b1 + lane), L::load(s.b2 + lane),
                                   L::load(s.a1 + lane), L::load(s.a2 + lane), x[v], inputs1(v), inputs2(v), y1[v],
                                   y2[v]);
            if (Masked && bandsHere != kAllBands) {
                const V mask = L::load(kLaneMasks.lanes(working, lane));
                x2[v] = L::select(mask, x1[v], x2[v]);
                x1[v] = L::select(mask, x[v], x1[v]);
                y2[v] = L::select(mask, y1[v], y2[v]);
                y1[v] = L::select(mask, y, y1[v]);
            } else if (kInputsInMemory) {
                L::store(inputsAt(t) + lane, x[v]);
                y2[v] = y1[v], y1[v] = y;
            } else {
                x2[v] = x1[v], x1[v] = x[v], y2[v] = y1[v], y1[v] = y;
            }
            __m128 unused;
            const V given = L::throughFloat(y, unused);
            if (kHeld)
                held[skew - 1][v] = given;
            else
                L::store(giving + lane, given);
        }
        // Band 5 has a frame at every step but the filling ones.
        if (Masked && !((working >> (kBandCount - 1)) & 1)) continue;
        const V2 ty = section<T>(T::load(s.b0 + kTail), T::load(s.b1 + kTail), T::load(s.b2 + kTail),
                                 T::load(s.a1 + kTail), T::load(s.a2 + kTail), tx,
                                 tailInputs1(), tailInputs2(), ty1, ty2);
        if (kInputsInMemory)
            T::store(inputsAt(t) + kTail, tx);
        else
            tx2 = tx1, tx1 = tx;
        ty2 = ty1, ty1 = ty;
        // Band 5's output for frame t - lag.
        _mm_storel_pi(reinterpret_cast<__m64*>(g.outs + 2 * t), _mm_cvtpd_ps(ty));
    }
    if (kInputsInMemory) {
#pragma GCC unroll 4
        for (int v = 0; v < F; ++v)
            x1[v] = L::load(inputsAt(t - 1) + W * v), x2[v] = L::load(inputsAt(t - 2) + W * v);
        tx1 = T::load(inputsAt(t - 1) + kTail), tx2 = T::load(inputsAt(t - 2) + kTail);
    }
#pragma GCC unroll 4
    for (int v = 0; v < F; ++v) {
        L::store(s.x1 + W * v, x1[v]), L::store(s.x2 + W * v, x2[v]);
        L::store(s.y1 + W * v, y1[v]), L::store(s.y2 + W * v, y2[v]);
    }
    if (kHeld)
#pragma GCC unroll 4
        for (int j = 0; j < skew; ++j)
#pragma GCC unroll 4
            for (int v = 0; v < F; ++v) L::store(g.recent[(t - skew + j) & (kRecentRows - 1)] + W * v, held[j][v]);
    T::store(s.x1 + kTail, tx1), T::store(s.x2 + kTail, tx2);
    T::store(s.y1 + kTail, ty1), T::store(s.y2 + kTail, ty2);
    end.t = t;
    return end;
}

// Runs the segment staged in g (stageSegment) from its first step to its
// last; returns how many frames it took.
template <class L>
QV_KERNEL_INLINE int32_t runSegment(Segment& g) {
    constexpr int32_t skew = L::kSkew, lag = L::kLag;
    // The rows the first steps read before any step of this segment wrote
    // them (only lanes of bands not yet at work take them), cleared as wide
    // as they are read.
    for (int32_t row = kRecentRows - skew; row < kRecentRows; ++row)
        for (int lane = 0; lane < 2 * kBandCount; lane += L::kWidth)
            L::store(g.recent[row] + lane, L::set1(0.0));
    int32_t t = 0;
    int32_t polledAt = -1;
    while (t < g.n + lag) {
        const RunEnd end = t >= lag && t < g.n ? runSteps<L, false>(g, t, polledAt)
                                                : runSteps<L, true>(g, t, polledAt);
        t = end.t;
        if (end.polling >= 0) {
            // The band takes its poll as defined, through the band itself.
            const int k = end.polling;
            BandFilter& band = *g.module->bands[k];
            scatterBand(g.state, k, band);
            pollBand(*g.module, k, g.controls, pollControlIndex<skew>(g, k, t));
            gatherBand(g.state, k, band);
            polledAt = t;
        }
    }
    return g.n;
}

// The segment's outputs to the host's buffers: Output1 before Output2, so
// that where both share one buffer Output2's sample stays, as when every
// frame is written in turn.
template <int32_t Lag>
inline void giveOut(const Segment& g, float* out1, float* out2, int32_t n) {
    const float* outs = g.outs + 2 * Lag;
    int32_t f = 0;
    for (; f + 4 <= n; f += 4) {
        const __m128 low = _mm_load_ps(outs + 2 * f), high = _mm_load_ps(outs + 2 * f + 4);
        _mm_storeu_ps(out1 + f, _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(out2 + f, _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    for (; f < n; ++f) out1[f] = outs[2 * f], out2[f] = outs[2 * f + 1];
}

// A segment of up to n frames from the call's frame i, staged, run and
// given out at K's skew; returns how many frames it took, the last one's
// outputs in `last`.
template <class K>
QV_KERNEL_INLINE int32_t runWholeSegment(Segment& g, const CallPositions& at, int32_t i, int32_t n, int32_t counter,
                                         int32_t controlIndex, SilentFrame& last) {
    stageSegment<K::kSkew>(g, at.input1 + i, at.input2 + i, n, counter, controlIndex);
    n = runSegment<K>(g);
    giveOut<K::kLag>(g, at.output1 + i, at.output2 + i, n);
    last = {g.outs[2 * (K::kLag + n - 1)], g.outs[2 * (K::kLag + n - 1) + 1]};
    return n;
}

// One bit a lane (bit 2k and 2k + 1 for band k) whose delay values are not
// all below the rest bound: bands 1 to 4 on the lane type, band 5 on two.
template <class L>
QV_KERNEL_INLINE unsigned ringingLanes(const LaneState& s) {
    using T = typename L::Tail;
    constexpr int W = L::kWidth;
    constexpr int kTail = 2 * (kBandCount - 1);
    const typename L::V bound = L::set1(denormalOffset);
    const __m128d tailBound = T::set1(denormalOffset);
    unsigned ringing = (T::notBelow(T::load(s.x1 + kTail), tailBound) |
                        T::notBelow(T::load(s.x2 + kTail), tailBound) |
                        T::notBelow(T::load(s.y1 + kTail), tailBound) |
                        T::notBelow(T::load(s.y2 + kTail), tailBound))
                       << kTail;
#pragma GCC unroll 4
    for (int first = 0; first < kTail; first += W)
        ringing |= (L::notBelow(L::load(s.x1 + first), bound) | L::notBelow(L::load(s.x2 + first), bound) |
                    L::notBelow(L::load(s.y1 + first), bound) | L::notBelow(L::load(s.y2 + first), bound))
                   << first;
    return ringing;
}

template <class L>
QV_KERNEL_INLINE void processBlockWith(Module& m, float* const* positions, int32_t count) {
    const CallPositions at(positions);
    Segment g;
    g.module = &m;
    g.controls = at.controls;
    gather(g.state, m);
    int32_t counter = m.pollCounter;
    int32_t controlIndex = 0;
    float lastLeft = m.leftSample, lastRight = m.rightSample;

    // An output laid on a control pin is read by a later poll as the frames
    // before it left it: such a layout ends its segments at polls, where
    // every frame before is written out. Looked at only when a segment would
    // reach past its first frame's poll.
    int outputsOnControls = -1;  // not looked at yet

    int32_t i = 0;
    while (i < count) {
        const float left = at.input1[i], right = at.input2[i];
        const unsigned ringing = isZero(left) && isZero(right) ? ringingLanes<L>(g.state) : ~0u;
        if (ringing == 0) {
            // Silence through bands at rest: the inputs go through as they are.
            SilentFrame last{lastLeft, lastRight};
            const int32_t n = passSilence(at.input1 + i, at.input2 + i, at.output1 + i, at.output2 + i,
                                          count - i, last);
            lastLeft = last.left, lastRight = last.right;
            controlIndex += n;
            i += n;
            continue;
        }
        // A silence band 1 has rung out of, while a later band still rings:
        // the segment would stop again at the next frame.
        if ((ringing & 3) == 0 || count - i < kShortestSegment) {
            if (counter == kPollInterval) {
                pollAllBands(g, controlIndex);
                controlIndex += kPollInterval;
                counter = 0;
            }
            ++counter;
            const __m128 out = cascadeFrame<L>(g.state, left, right);
            lastLeft = _mm_cvtss_f32(out);
            lastRight = _mm_cvtss_f32(_mm_shuffle_ps(out, out, _MM_SHUFFLE(1, 1, 1, 1)));
            at.output1[i] = lastLeft;
            at.output2[i] = lastRight;
            ++i;
            continue;
        }
        int32_t n = count - i < kMaxSegment ? count - i : kMaxSegment;
        const int32_t toPoll = counter == kPollInterval ? kPollInterval : kPollInterval - counter;
        if (n > toPoll && outputsOnControls < 0) {
            outputsOnControls = 0;
            for (int c = 0; c < 4 * kBandCount; ++c)
                outputsOnControls |= at.controls[c] == at.output1 || at.controls[c] == at.output2;
        }
        if (n > toPoll && outputsOnControls) n = toPoll;
        // A short segment goes skewed less, through the lane type's
        // ShortSegments: its filling and draining are most of its steps.
        SilentFrame last{};
        using Long = Skewed<L, kSkew>;
        using Short = Skewed<typename L::ShortSegments, kShortSkew>;
        n = n < L::kLongSegmentFrom ? runWholeSegment<Short>(g, at, i, n, counter, controlIndex, last)
                              : runWholeSegment<Long>(g, at, i, n, counter, controlIndex, last);
        const int32_t polls = n > g.firstPoll ? (n - g.firstPoll + kPollInterval - 1) / kPollInterval : 0;
        counter = polls > 0 ? n - (g.firstPoll + kPollInterval * (polls - 1)) : counter + n;
        controlIndex += kPollInterval * polls;
        lastLeft = last.left, lastRight = last.right;
        i += n;
    }
    scatter(g.state, m);
    m.pollCounter = counter;
    m.leftSample = lastLeft;
    m.rightSample = lastRight;
    L::leave();
}

#undef QV_KERNEL_INLINE
