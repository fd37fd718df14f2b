// Shared helpers for the processing-loop tests: an equaliser made through
// makeModule with no host and opened at 48 kHz, pin buffers carved out of one
// arena (so that pins can share buffers the way hosts process in place), an
// independent per-sample model of the loop written straight from its
// definition, a bit-exact comparison of the loop state, and a random scenario
// generator for multi-block runs.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "equaliser/band_filter.h"
#include "equaliser/kernel_path.h"
#include "equaliser/module.h"
#include "host_interface/module_record.h"
#include "host_interface/se_module_base.h"

QV_EXPORT ModuleRecord* QV_HOST_ENTRY makeModule(int32_t index, int32_t interfaceKind,
                                                 HostCallback callback, intptr_t hostValue);

namespace eq {
// The loop exactly as defined, sample by sample, on positions already offset.
void processSampleBySample(Module& module, float* const* positions, int32_t sampleCount);
}  // namespace eq

namespace looptest {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

inline bool sameBits(float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; }
inline bool sameBits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

// Bit for bit, except that any NaN matches any NaN: which NaN an operation
// on two NaNs returns (and the sign of a NaN made from infinities) depends on
// the order the compiler puts the operands in, and nothing in the loop looks
// further than "is it a NaN". Zeros still differ by sign.
inline bool sameValue(float x, float y) {
    return sameBits(x, y) || (std::isnan(x) && std::isnan(y));
}
inline bool sameValue(double x, double y) {
    return sameBits(x, y) || (std::isnan(x) && std::isnan(y));
}

inline std::string show(double value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// ---------------------------------------------------------------------------
// The module under test.

// An equaliser as makeModule creates it, without a host (every request to the
// host answers 0), opened at the given rate. Closing goes through the
// dispatcher, which deletes the object.
class TestModule {
public:
    explicit TestModule(float sampleRate = 48000.0f) {
        record_ = makeModule(0, 1, nullptr, 0);
        if (record_ == nullptr) return;
        record_->dispatcherEntry(record_, MOD_SET_SAMPLE_RATE, 0, 0, nullptr, sampleRate);
        record_->dispatcherEntry(record_, MOD_OPEN, 0, 0, nullptr, 0.0f);
    }
    ~TestModule() {
        if (record_ != nullptr) record_->dispatcherEntry(record_, MOD_CLOSE, 0, 0, nullptr, 0.0f);
    }
    TestModule(const TestModule&) = delete;
    TestModule& operator=(const TestModule&) = delete;

    bool valid() const { return record_ != nullptr; }
    ModuleRecord* record() const { return record_; }
    Module& operator*() const { return *static_cast<Module*>(record_->object); }
    Module* operator->() const { return static_cast<Module*>(record_->object); }

    void process(int32_t bufferOffset, int32_t sampleCount) const {
        ::process(record_->object, bufferOffset, sampleCount);
    }
    // The reference path of the library, on the same pin variables.
    void processSampleBySample(int32_t bufferOffset, int32_t sampleCount) const {
        if (sampleCount <= 0) return;
        Module& m = **this;
        float* positions[kPinCount];
        for (int pin = 0; pin < kPinCount; ++pin) positions[pin] = m.pins[pin] + bufferOffset;
        eq::processSampleBySample(m, positions, sampleCount);
    }

private:
    ModuleRecord* record_ = nullptr;
};

// ---------------------------------------------------------------------------
// Pin buffers.

// Every pin's buffer is a stretch of one arena. By default each pin has its
// own stretch, with a margin on both sides; `share` points a pin into another
// pin's stretch (with a shift in samples), as a host processing in place does.
class PinArena {
public:
    static constexpr size_t kMargin = 64;

    explicit PinArena(size_t length) : length_(length), stride_(length + 2 * kMargin) {
        storage_.assign(stride_ * kPinCount, 0.0f);
        for (int pin = 0; pin < kPinCount; ++pin) start_[pin] = stride_ * pin + kMargin;
    }

    size_t length() const { return length_; }
    float* pin(int index) { return storage_.data() + start_[index]; }
    const std::vector<float>& storage() const { return storage_; }

    // `pin` now uses `owner`'s stretch, `shift` samples further on.
    void share(int pin, int owner, int shift = 0) {
        start_[pin] = static_cast<size_t>(static_cast<std::ptrdiff_t>(start_[owner]) + shift);
    }

    // The same contents as `other`, which must have the same length and sharing.
    void copyContents(const PinArena& other) { storage_ = other.storage_; }

    void attach(Module& m) {
        for (int index = 0; index < kPinCount; ++index) m.pins[index] = pin(index);
    }

    void fill(int index, float value, size_t from = 0, size_t count = SIZE_MAX) {
        float* p = pin(index);
        for (size_t i = from; i < length_ && i - from < count; ++i) p[i] = value;
    }

private:
    size_t length_;
    size_t stride_;
    std::vector<float> storage_;
    size_t start_[kPinCount];
};

// Control values of one band as they stand on its four pins (a tenth of the
// design's Hz, dB and octaves or shelf Q; the type unscaled).
struct BandControls {
    float freq, gain, q, type;
};

// Five bands with audible, different settings: a low shelf, two peaks, a
// notch and a high shelf.
inline const BandControls* activeBands() {
    static const BandControls bands[kBandCount] = {
        {12.0f, 0.6f, 0.07f, 7.0f},    // low shelf 120 Hz, +6 dB, Q 0.7
        {45.0f, -0.45f, 0.1f, 6.0f},   // peak 450 Hz, -4.5 dB, 1 octave
        {180.0f, 0.9f, 0.05f, 6.0f},   // peak 1.8 kHz, +9 dB, half an octave
        {320.0f, 0.0f, 0.2f, 4.0f},    // notch 3.2 kHz, 2 octaves
        {700.0f, -0.8f, 0.07f, 8.0f},  // high shelf 7 kHz, -8 dB, Q 0.7
    };
    return bands;
}

inline void fillControls(PinArena& arena, int band, const BandControls& c) {
    arena.fill(controlPin(band, CONTROL_FREQ), c.freq);
    arena.fill(controlPin(band, CONTROL_GAIN), c.gain);
    arena.fill(controlPin(band, CONTROL_Q), c.q);
    arena.fill(controlPin(band, CONTROL_TYPE), c.type);
}

inline void fillActiveControls(PinArena& arena) {
    for (int band = 0; band < kBandCount; ++band) fillControls(arena, band, activeBands()[band]);
}

// Deterministic noise, the same on every build. Given bytes (a fuzzer's
// input), each draw also takes the next two of them, so every choice the
// scenario makes can be steered; once they run out it goes on as a plain
// generator.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    Rng(const uint8_t* bytes, size_t size) : state_(1), bytes_(bytes), byteCount_(size) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        if (byteCount_ >= 2) {
            z ^= static_cast<uint64_t>(bytes_[0] | (bytes_[1] << 8)) << 40;
            bytes_ += 2;
            byteCount_ -= 2;
        }
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int32_t below(int32_t n) { return static_cast<int32_t>(next() % static_cast<uint64_t>(n)); }
    bool chance(int32_t percent) { return below(100) < percent; }
    // Uniform in [-amplitude, amplitude).
    float noise(float amplitude = 1.0f) {
        const double unit = static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
        return static_cast<float>((2.0 * unit - 1.0) * amplitude);
    }

private:
    uint64_t state_;
    const uint8_t* bytes_ = nullptr;
    size_t byteCount_ = 0;
};

inline void fillNoise(PinArena& arena, int pin, Rng& rng, float amplitude = 0.5f) {
    float* p = arena.pin(pin);
    for (size_t i = 0; i < arena.length(); ++i) {
        p[i] = rng.noise(amplitude);
        if (p[i] == 0.0f) p[i] = amplitude;  // the tests choose their silences themselves
    }
}

// ---------------------------------------------------------------------------
// The state the loop works on, copied out of a module.

struct LoopState {
    BandFilter bands[kBandCount];
    float leftSample, rightSample;
    float cachedFreq[kBandCount], cachedGain[kBandCount], cachedQ[kBandCount],
        cachedType[kBandCount];
    int32_t bandType[kBandCount];
    int32_t pollCounter;
};

inline LoopState stateOf(const Module& m) {
    LoopState s;
    std::memset(&s, 0, sizeof s);
    for (int band = 0; band < kBandCount; ++band) {
        s.bands[band] = *m.bands[band];
        s.cachedFreq[band] = m.cachedFreq[band];
        s.cachedGain[band] = m.cachedGain[band];
        s.cachedQ[band] = m.cachedQ[band];
        s.cachedType[band] = m.cachedType[band];
        s.bandType[band] = m.bandType[band];
    }
    s.leftSample = m.leftSample;
    s.rightSample = m.rightSample;
    s.pollCounter = m.pollCounter;
    return s;
}

// Bit for bit (NaNs as NaNs): everything the loop reads or writes, and the
// design inputs the band holds.
inline ::testing::AssertionResult sameState(const LoopState& actual, const LoopState& expected) {
    auto differ = [](const std::string& what, double a, double e) {
        return ::testing::AssertionFailure() << what << ": " << show(a) << ", expected " << show(e);
    };
    if (actual.pollCounter != expected.pollCounter)
        return differ("pollCounter", actual.pollCounter, expected.pollCounter);
    if (!sameValue(actual.leftSample, expected.leftSample))
        return differ("leftSample", actual.leftSample, expected.leftSample);
    if (!sameValue(actual.rightSample, expected.rightSample))
        return differ("rightSample", actual.rightSample, expected.rightSample);
    for (int k = 0; k < kBandCount; ++k) {
        const std::string band = "band " + std::to_string(k + 1) + " ";
        const float cachesA[4] = {actual.cachedFreq[k], actual.cachedGain[k], actual.cachedQ[k],
                                  actual.cachedType[k]};
        const float cachesE[4] = {expected.cachedFreq[k], expected.cachedGain[k],
                                  expected.cachedQ[k], expected.cachedType[k]};
        static const char* const cacheNames[4] = {"cachedFreq", "cachedGain", "cachedQ",
                                                  "cachedType"};
        for (int c = 0; c < 4; ++c)
            if (!sameValue(cachesA[c], cachesE[c]))
                return differ(band + cacheNames[c], cachesA[c], cachesE[c]);
        if (actual.bandType[k] != expected.bandType[k])
            return differ(band + "bandType", actual.bandType[k], expected.bandType[k]);
        const BandFilter& a = actual.bands[k];
        const BandFilter& e = expected.bands[k];
        if (a.type != e.type) return differ(band + "filter type", a.type, e.type);
        const float inputsA[3] = {a.lastFreq, a.lastWidth, a.lastGain};
        const float inputsE[3] = {e.lastFreq, e.lastWidth, e.lastGain};
        static const char* const inputNames[3] = {"lastFreq", "lastWidth", "lastGain"};
        for (int i = 0; i < 3; ++i)
            if (!sameValue(inputsA[i], inputsE[i]))
                return differ(band + inputNames[i], inputsA[i], inputsE[i]);
        const double valuesA[13] = {a.b0,      a.b1,      a.b2,     a.a1,     a.a2,
                                    a.leftY1,  a.leftY2,  a.leftX1, a.leftX2, a.rightY1,
                                    a.rightY2, a.rightX1, a.rightX2};
        const double valuesE[13] = {e.b0,      e.b1,      e.b2,     e.a1,     e.a2,
                                    e.leftY1,  e.leftY2,  e.leftX1, e.leftX2, e.rightY1,
                                    e.rightY2, e.rightX1, e.rightX2};
        static const char* const valueNames[13] = {
            "b0",     "b1",     "b2",      "a1",      "a2",      "leftY1", "leftY2",
            "leftX1", "leftX2", "rightY1", "rightY2", "rightX1", "rightX2"};
        for (int i = 0; i < 13; ++i)
            if (!sameValue(valuesA[i], valuesE[i]))
                return differ(band + valueNames[i], valuesA[i], valuesE[i]);
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult sameSamples(const std::vector<float>& actual,
                                              const std::vector<float>& expected) {
    if (actual.size() != expected.size()) return ::testing::AssertionFailure() << "sizes differ";
    // Identical bits are the common case; the word walk (NaNs of any payload
    // match) only runs where they are not, which keeps the fuzzer's rate up.
    if (std::memcmp(actual.data(), expected.data(), actual.size() * sizeof(float)) == 0)
        return ::testing::AssertionSuccess();
    for (size_t i = 0; i < actual.size(); ++i)
        if (!sameValue(actual[i], expected[i]))
            return ::testing::AssertionFailure() << "arena word " << i << ": " << show(actual[i])
                                                 << ", expected " << show(expected[i]);
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// The model: the loop as its definition reads, one sample at a time, on raw
// positions (so shared buffers behave exactly as the definition says). Only
// the band design itself is borrowed from the library.

namespace model {

constexpr int32_t kPollSpacing = 32;
constexpr double kFlushOffset = 1e-21;

// Truncation toward zero; NaN and values outside the signed 32-bit range give
// the lowest integer, a type with no response.
inline int32_t typeFromControl(float control) {
    const double t = control;
    if (!(t > -2147483649.0 && t < 2147483648.0)) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(std::trunc(t));
}

// Delay values a band can carry on with: finite and no further than 2^40
// from zero (beyond that a band has been pumped up and restarts).
inline bool saneDelays(const BandFilter& f) {
    const double v[8] = {f.leftY1,  f.leftY2,  f.leftX1,  f.leftX2,
                         f.rightY1, f.rightY2, f.rightX1, f.rightX2};
    for (double x : v)
        if (!std::isfinite(x) || std::fabs(x) > 1099511627776.0) return false;
    return true;
}

inline bool finiteCoefficients(const BandFilter& f) {
    return std::isfinite(f.b0) && std::isfinite(f.b1) && std::isfinite(f.b2) &&
           std::isfinite(f.a1) && std::isfinite(f.a2);
}

inline float tenTimes(float control) {
    // 10 * a float is exact in double; one rounding to float follows.
    return static_cast<float>(10.0 * static_cast<double>(control));
}

inline void poll(LoopState& s, float* const* at) {
    for (int band = 0; band < kBandCount; ++band) {
        const float f = *at[2 + 4 * band];
        const float g = *at[3 + 4 * band];
        const float q = *at[4 + 4 * band];
        const float t = *at[5 + 4 * band];
        BandFilter& filter = s.bands[band];
        const bool same = f == s.cachedFreq[band] && g == s.cachedGain[band] &&
                          q == s.cachedQ[band] && t == s.cachedType[band];
        if (!same) {
            s.cachedFreq[band] = f;
            s.cachedGain[band] = g;
            s.cachedQ[band] = q;
            s.cachedType[band] = t;
            s.bandType[band] = typeFromControl(t);
            designBand(&filter, s.bandType[band], tenTimes(f), tenTimes(q), tenTimes(g));
        }
        // A band whose delay values went non-finite or ran away restarts
        // from silence as soon as its design is finite.
        if (!saneDelays(filter) && finiteCoefficients(filter)) {
            filter.leftY1 = filter.leftY2 = filter.leftX1 = filter.leftX2 = 0.0;
            filter.rightY1 = filter.rightY2 = filter.rightX1 = filter.rightX2 = 0.0;
        }
    }
}

inline void flush(double& v) { v = (v + kFlushOffset) - kFlushOffset; }

inline float section(const BandFilter& f, double& x1, double& x2, double& y1, double& y2,
                     float input) {
    const double x = input;
    const double y = f.b0 * x + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return static_cast<float>(y);
}

// How often each treatment came up, so a random run can show what it covered.
struct Tally {
    long filtered = 0, flushed = 0, skipped = 0, polls = 0;
    long cameToRest = 0;  // skips right after a silent frame that was still filtered
};

// process(module, bufferOffset, sampleCount) on a copy of the loop state and
// the given pin variables.
inline void process(LoopState& s, float* const* pinVariables, int32_t bufferOffset,
                    int32_t sampleCount, Tally* tally = nullptr) {
    Tally ignored;
    Tally& count = tally != nullptr ? *tally : ignored;
    if (sampleCount <= 0) return;
    float* at[kPinCount];
    for (int pin = 0; pin < kPinCount; ++pin) at[pin] = pinVariables[pin] + bufferOffset;
    float*& in1 = at[0];
    float*& in2 = at[1];
    float*& out1 = at[22];
    float*& out2 = at[23];
    bool silenceFiltered = false;
    for (int32_t n = 0; n < sampleCount; ++n) {
        s.leftSample = *in1;
        s.rightSample = *in2;
        const bool leftZero = s.leftSample == 0.0f;
        const bool rightZero = s.rightSample == 0.0f;
        bool skip = false;
        bool flushFirst = leftZero || rightZero;
        if (leftZero && rightZero) {
            // Skipped exactly while every band rests (every delay value
            // below 1e-21 in magnitude; a NaN is not); a ringing filter goes
            // on. The output places are not looked at.
            bool resting = true;
            for (const BandFilter& f : s.bands)
                for (double v : {f.leftY1, f.leftY2, f.leftX1, f.leftX2, f.rightY1, f.rightY2,
                                 f.rightX1, f.rightX2})
                    resting = resting && std::fabs(v) < 1e-21;
            skip = resting;
            flushFirst = !skip;
        }
        if (skip && silenceFiltered) ++count.cameToRest;
        silenceFiltered = leftZero && rightZero && !skip;
        if (skip) {
            ++count.skipped;
            for (int pin = 2; pin < 22; ++pin) at[pin] += 1;
        } else {
            ++(flushFirst ? count.flushed : count.filtered);
            if (flushFirst)
                for (BandFilter& f : s.bands) {
                    flush(f.leftY1), flush(f.leftY2), flush(f.leftX1), flush(f.leftX2);
                    flush(f.rightY1), flush(f.rightY2), flush(f.rightX1), flush(f.rightX2);
                }
            if (s.pollCounter == kPollSpacing) {
                ++count.polls;
                poll(s, at);
                for (int pin = 2; pin < 22; ++pin) at[pin] += kPollSpacing;
                s.pollCounter = 0;
            }
            s.pollCounter += 1;
            for (BandFilter& f : s.bands)
                s.leftSample = section(f, f.leftX1, f.leftX2, f.leftY1, f.leftY2, s.leftSample);
            for (BandFilter& f : s.bands)
                s.rightSample =
                    section(f, f.rightX1, f.rightX2, f.rightY1, f.rightY2, s.rightSample);
        }
        *out1 = s.leftSample;
        *out2 = s.rightSample;
        ++in1, ++in2, ++out1, ++out2;
    }
}

}  // namespace model

// ---------------------------------------------------------------------------
// Random multi-block scenarios: block sizes and offsets, stretches of noise,
// silence on one or both sides, tiny and signed zeros, NaN and infinite
// bursts, output places holding all kinds of values (never read by the loop),
// and control streams that change between and within blocks.

struct BlockPlan {
    int32_t offset;
    int32_t count;
};

class ScenarioWriter {
public:
    explicit ScenarioWriter(uint64_t seed, bool withBursts)
        : ScenarioWriter(Rng(seed), withBursts) {}
    ScenarioWriter(Rng rng, bool withBursts) : rng_(rng), withBursts_(withBursts) {
        for (int band = 0; band < kBandCount; ++band) controls_[band] = activeBands()[band];
    }

    // Chooses the next block and writes every pin's buffer for it. A
    // positive `count` fixes the block's length (the offset then stays
    // within the arena's room for it).
    BlockPlan next(PinArena& arena, int32_t count = 0) {
        BlockPlan plan;
        const int32_t room = static_cast<int32_t>(arena.length());
        plan.offset = rng_.chance(30) ? rng_.below(16) : 0;
        const int32_t roll = rng_.below(100);
        if (roll < 4)
            plan.count = -rng_.below(6);  // nothing to do
        else if (roll < 30)
            plan.count = 1 + rng_.below(8);
        else
            plan.count = 1 + rng_.below(room - plan.offset);
        if (count > 0) {
            plan.count = count;
            if (plan.offset > room - count) plan.offset = room - count;
        }
        if (plan.offset + plan.count > room) plan.count = room - plan.offset;

        // Outputs first: an output that shares another pin's buffer then
        // holds that pin's samples, as it does in a host processing in place.
        writeOutputs(arena, PIN_OUTPUT2);
        writeOutputs(arena, PIN_OUTPUT1);
        changeControls();
        writeInputs(arena);
        for (int band = 0; band < kBandCount; ++band) writeControls(arena, band);
        return plan;
    }

private:
    float specialSample() {
        static const float values[] = {0.0f, -0.0f, 1e-40f, -1e-38f, 1e-30f, 0.75f, -1.0f};
        return values[rng_.below(7)];
    }

    void writeInputs(PinArena& arena) {
        float* left = arena.pin(PIN_INPUT1);
        float* right = arena.pin(PIN_INPUT2);
        size_t i = 0;
        while (i < arena.length()) {
            // Now and then a long loud stretch, which runs through the
            // pipeline across polls.
            const bool long_ = rng_.chance(8);
            const size_t run = long_ ? 60 + static_cast<size_t>(rng_.below(200))
                                     : 1 + static_cast<size_t>(rng_.below(48));
            const int32_t kind = long_ ? 60 + rng_.below(37) : rng_.below(100);
            for (size_t j = 0; j < run && i < arena.length(); ++j, ++i) {
                float l = rng_.noise(0.8f);
                float r = rng_.noise(0.8f);
                if (kind < 25)
                    l = r = rng_.chance(80) ? 0.0f : -0.0f;  // both silent
                else if (kind < 35)
                    l = 0.0f;
                else if (kind < 45)
                    r = 0.0f;
                else if (kind < 55)
                    l = specialSample(), r = specialSample();
                else if (kind < 60)
                    l *= 1e-6f, r *= 1e-6f;  // about -120 dBFS
                if (withBursts_ && kind >= 97) {
                    static const float bursts[] = {kNaN, kInf, -kInf};
                    (rng_.chance(50) ? l : r) = bursts[rng_.below(3)];
                }
                left[i] = l;
                right[i] = r;
            }
        }
    }

    void writeOutputs(PinArena& arena, int pin) {
        static const float kinds[] = {0.5f, 0.25f, 0.0f, -0.0f, 1e-20f, -1e-20f, -1.0f, 0.3f, kNaN};
        float* p = arena.pin(pin);
        size_t i = 0;
        while (i < arena.length()) {
            const size_t run = 1 + static_cast<size_t>(rng_.below(24));
            const float value = kinds[rng_.below(9)];
            for (size_t j = 0; j < run && i < arena.length(); ++j, ++i) p[i] = value;
        }
    }

    void changeControls() {
        if (!rng_.chance(40)) return;
        BandControls& c = controls_[rng_.below(kBandCount)];
        switch (rng_.below(7)) {
            case 0:
                c.freq = 1.0f + static_cast<float>(rng_.below(2000));
                break;
            case 1:
                c.gain = rng_.noise(2.5f);
                break;
            case 2:
                c.q = 0.005f + static_cast<float>(rng_.below(300)) * 0.01f;
                break;
            case 3:
                c.type = static_cast<float>(rng_.below(11)) - 0.5f + rng_.noise(0.45f);
                break;
            case 4:
                c.freq = withBursts_ && rng_.chance(30) ? kNaN : -c.freq;
                break;
            case 5:
                // No band with a response: two silent frames bring every
                // band to rest, so silence is let through again.
                for (BandControls& band : controls_) band.type = 20.0f;
                break;
            default:
                c = activeBands()[rng_.below(kBandCount)];
                break;
        }
    }

    void writeControls(PinArena& arena, int band) {
        const BandControls& c = controls_[band];
        arena.fill(controlPin(band, CONTROL_FREQ), c.freq);
        arena.fill(controlPin(band, CONTROL_GAIN), c.gain);
        arena.fill(controlPin(band, CONTROL_Q), c.q);
        arena.fill(controlPin(band, CONTROL_TYPE), c.type);
        // Automated stretches: a control that moves sample by sample, so
        // the control sample a poll reads shows in the design.
        if (rng_.chance(15)) {
            float* freq = arena.pin(controlPin(band, CONTROL_FREQ));
            for (size_t i = 0; i < arena.length(); ++i)
                freq[i] = c.freq + 0.05f * static_cast<float>(i);
        }
        if (rng_.chance(10)) {
            float* gain = arena.pin(controlPin(band, CONTROL_GAIN));
            for (size_t i = 0; i < arena.length(); ++i)
                gain[i] = c.gain - 0.002f * static_cast<float>(i);
        }
        if (rng_.chance(10)) {
            float* q = arena.pin(controlPin(band, CONTROL_Q));
            for (size_t i = 0; i < arena.length(); ++i) q[i] = c.q + 0.001f * static_cast<float>(i);
        }
        if (rng_.chance(5)) {
            float* type = arena.pin(controlPin(band, CONTROL_TYPE));
            for (size_t i = 0; i < arena.length(); ++i) type[i] = static_cast<float>((i / 40) % 9);
        }
    }

    Rng rng_;
    bool withBursts_;
    BandControls controls_[kBandCount];
};

// How pins share buffers in a run.
struct Sharing {
    const char* name;
    struct Link {
        int pin, owner, shift;
    } links[3];
    int linkCount;
};

inline void applySharing(PinArena& arena, const Sharing& sharing) {
    for (int i = 0; i < sharing.linkCount; ++i)
        arena.share(sharing.links[i].pin, sharing.links[i].owner, sharing.links[i].shift);
}

// One random scenario through `process`, through the library's
// sample-by-sample loop and through the model, each on its own copy of the
// buffers, block by block.
class AgreementRun {
public:
    static constexpr size_t kLength = 300;

    // The loop runs on `path` (every open chooses the machine's best, so it
    // is set once the modules are open); the caller puts back the path it
    // had.
    AgreementRun(const Sharing& sharing, ScenarioWriter writer, eq::KernelPath path, size_t length = kLength)
        : a_(length), b_(length), c_(length), writer_(writer) {
        for (PinArena* arena : {&a_, &b_, &c_}) applySharing(*arena, sharing);
        pathSet_ = eq::setKernelPath(path);
        if (!valid()) return;
        a_.attach(*fast_);
        b_.attach(*reference_);
        for (int pin = 0; pin < kPinCount; ++pin) modelPins_[pin] = c_.pin(pin);
        modelState_ = stateOf(*fast_);
    }

    bool valid() const { return pathSet_ && fast_.valid() && reference_.valid(); }

    // The next block through all three; whether they agree bit for bit on
    // every buffer word and on the loop state, and if not, where not.
    ::testing::AssertionResult nextBlock(model::Tally* tally = nullptr, int32_t count = 0) {
        const BlockPlan plan = writer_.next(a_, count);
        b_.copyContents(a_);
        c_.copyContents(a_);
        fast_.process(plan.offset, plan.count);
        reference_.processSampleBySample(plan.offset, plan.count);
        model::process(modelState_, modelPins_, plan.offset, plan.count, tally);
        const std::string where = "block " + std::to_string(block_++) + " (offset " +
                                  std::to_string(plan.offset) + ", count " +
                                  std::to_string(plan.count) + "): ";
        if (auto r = sameSamples(a_.storage(), b_.storage()); !r)
            return ::testing::AssertionFailure() << where << "process vs sample by sample: " << r.message();
        if (auto r = sameState(stateOf(*fast_), stateOf(*reference_)); !r)
            return ::testing::AssertionFailure() << where << "process vs sample by sample: " << r.message();
        if (auto r = sameSamples(a_.storage(), c_.storage()); !r)
            return ::testing::AssertionFailure() << where << "process vs model: " << r.message();
        if (auto r = sameState(stateOf(*fast_), modelState_); !r)
            return ::testing::AssertionFailure() << where << "process vs model: " << r.message();
        return ::testing::AssertionSuccess();
    }

private:
    TestModule fast_;
    TestModule reference_;
    PinArena a_, b_, c_;
    float* modelPins_[kPinCount] = {};
    LoopState modelState_{};
    ScenarioWriter writer_;
    bool pathSet_ = false;
    int block_ = 0;
};

// Runs `blocks` random blocks of one scenario (see AgreementRun) on `path`
// and checks after every block that all three agree.
inline void expectAgreementOnRandomRun(const Sharing& sharing, uint64_t seed, int blocks,
                                       bool bursts, model::Tally* tally = nullptr,
                                       eq::KernelPath path = eq::kernelPath()) {
    struct Restore {
        eq::KernelPath saved = eq::kernelPath();
        ~Restore() { eq::setKernelPath(saved); }
    } restore;
    AgreementRun run(sharing, ScenarioWriter(seed, bursts), path);
    ASSERT_TRUE(run.valid()) << eq::pathName(path);
    ASSERT_EQ(eq::kernelPath(), path);
    for (int block = 0; block < blocks; ++block)
        ASSERT_TRUE(run.nextBlock(tally)) << sharing.name << ", seed " << seed;
}

}  // namespace looptest
