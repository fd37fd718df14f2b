#include "tests/soak/soak_engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "host/stand_in_host.h"
#include "tests/soak/memory_probe.h"

namespace soak {

namespace {

constexpr int32_t kInput1 = 0;
constexpr int32_t kInput2 = 1;
constexpr int32_t kFirstControl = 2;
constexpr int32_t kOutput1 = 22;
constexpr int32_t kOutput2 = 23;
constexpr int kBands = 5;
constexpr int kPollInterval = 32;
constexpr size_t kTableLength = 1 << 16;

// The host's clock is a signed 32-bit count that wraps; the host keeps it
// as unsigned (defined wrapping) and hands the library its bit pattern.
int32_t asClock(uint32_t clock) {
    int32_t value;
    std::memcpy(&value, &clock, sizeof value);
    return value;
}

class Random {
public:
    explicit Random(uint64_t seed) : engine_(seed) {}
    uint32_t below(uint32_t bound) { return static_cast<uint32_t>(engine_() % bound); }
    double uniform(double low, double high) {
        return low + (high - low) * (static_cast<double>(engine_() >> 11) * 0x1.0p-53);
    }
    double logUniform(double low, double high) { return std::exp(uniform(std::log(low), std::log(high))); }
    bool chance(double p) { return uniform(0.0, 1.0) < p; }

private:
    std::mt19937_64 engine_;
};

// Block sizes a host uses, and the odd ones it may.
int32_t pickBlock(Random& rng, int32_t maxBlock) {
    static const int32_t kCommon[] = {32, 64, 96, 128, 256, 441, 480, 512, 1000, 1024};
    const uint32_t kind = rng.below(10);
    int32_t count;
    if (kind < 6)
        count = kCommon[rng.below(10)];
    else if (kind < 8)
        count = 1 + static_cast<int32_t>(rng.below(7));
    else
        count = 1 + static_cast<int32_t>(rng.below(static_cast<uint32_t>(maxBlock)));
    return std::min(count, maxBlock);
}

// Control values as the host feeds them: a tenth of the design value for
// frequency, gain and width, the type as it is. Every type and every range,
// beyond the design's clamps too.
struct BandSetting {
    float freq, gain, q, type;
};

BandSetting pickBand(Random& rng) {
    BandSetting band;
    const uint32_t t = rng.below(20);
    if (t < 17)
        band.type = static_cast<float>(rng.below(9));
    else if (t == 17)
        band.type = static_cast<float>(rng.below(9)) + 0.5f;
    else if (t == 18)
        band.type = static_cast<float>(static_cast<int32_t>(rng.below(30)) - 10);
    else
        band.type = rng.chance(0.5) ? 3e9f : -1e12f;

    const uint32_t f = rng.below(10);
    if (f < 8)
        band.freq = static_cast<float>(rng.logUniform(1.0, 2000.0));  // 10 Hz .. 20 kHz
    else if (f == 8)
        band.freq = static_cast<float>(rng.uniform(-10.0, 1.0));
    else
        band.freq = static_cast<float>(rng.logUniform(2000.0, 1e6));

    band.gain = static_cast<float>(rng.uniform(-3.0, 3.0));  // +-30 dB, beyond the clamp

    const uint32_t q = rng.below(10);
    if (q < 8)
        band.q = static_cast<float>(rng.logUniform(1e-4, 3.0));  // width 0.001 .. 30
    else if (q == 8)
        band.q = 0.0f;
    else
        band.q = static_cast<float>(rng.uniform(-1.0, 0.0));
    return band;
}

enum class Source { Music, Silence, Burst };

struct Signal {
    Source source = Source::Music;
    int64_t left = 48000;  // samples until the next change of source
    size_t phase1 = 0;
    size_t phase2 = 12345;
    float burstValue1 = 0.0f;
    float burstValue2 = 0.0f;
};

// Picks what follows the current stretch.
void nextStretch(Signal& signal, Random& rng, SoakResult& result) {
    if (signal.source != Source::Music) {
        signal.source = Source::Music;
        signal.left = static_cast<int64_t>(rng.logUniform(1000.0, 4e6));
        return;
    }
    if (rng.chance(0.5)) {
        signal.source = Source::Silence;
        signal.left = static_cast<int64_t>(rng.logUniform(1.0, 5e5));
        ++result.silences;
    } else {
        static const float kBad[] = {std::numeric_limits<float>::quiet_NaN(),
                                     std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity(), 0.25f};
        signal.source = Source::Burst;
        signal.left = static_cast<int64_t>(rng.logUniform(1.0, 512.0));
        signal.burstValue1 = kBad[rng.below(4)];
        signal.burstValue2 = kBad[rng.below(3)];  // at least one channel non-finite
        ++result.nanBursts;
    }
}

bool finite(float x) { return std::isfinite(x); }

}  // namespace

SoakResult runSoak(const SoakSettings& settings, const standin::ModuleExports& exports) {
    SoakResult result;
    const auto started = std::chrono::steady_clock::now();
    auto lastProgress = started;
    Random rng(settings.seed);

    // Music-like material, well within full scale: a few partials and noise.
    std::vector<float> table(kTableLength);
    for (size_t i = 0; i < kTableLength; ++i) {
        const double t = static_cast<double>(i);
        table[i] = static_cast<float>(0.3 * std::sin(t * 0.0123) + 0.2 * std::sin(t * 0.291) +
                                      0.1 * std::sin(t * 1.7) + 0.05 * rng.uniform(-1.0, 1.0));
    }

    standin::Instance instance(exports);
    if (!instance.valid()) {
        result.ok = false;
        result.failure = "makeModule returned no record";
        return result;
    }
    const int32_t maxBlock = settings.maxBlock;
    instance.setSampleRate(48000.0f);
    instance.setBlockSize(maxBlock);
    instance.open();

    uint32_t clock = settings.startClock;
    Signal signal;
    int64_t blocksUntilSweep = 0;
    bool controlsFinite = true;
    // Samples with a non-zero input since the last non-finite input or
    // control. Every such sample is filtered, so by the 32nd a poll has read
    // finite controls, redesigned finite stable bands and restarted any band
    // whose delay values had gone non-finite: from then on every output
    // sample is finite. A fresh open counts as settled.
    int32_t loudSinceDirty = kPollInterval;

    std::vector<float>& in1 = instance.buffer(kInput1);
    std::vector<float>& in2 = instance.buffer(kInput2);
    std::vector<float>& out1 = instance.buffer(kOutput1);
    std::vector<float>& out2 = instance.buffer(kOutput2);

    auto releaseLogs = [&instance]() {
        std::vector<int32_t>().swap(instance.requests);
        std::vector<standin::StatusNotice>().swap(instance.statusNotices);
    };
    releaseLogs();
    result.bytesBefore = allocatedBytes();
    result.residentBefore = residentBytes();

    while (result.samples < settings.samplesPerChannel) {
        const int32_t count = static_cast<int32_t>(
            std::min<int64_t>(pickBlock(rng, maxBlock), settings.samplesPerChannel - result.samples));
        const int32_t offset = static_cast<int32_t>(rng.below(static_cast<uint32_t>(maxBlock - count + 1)));

        // Sweep the controls every few blocks; now and then one of them
        // turns NaN until the next sweep.
        if (blocksUntilSweep-- <= 0) {
            blocksUntilSweep = 1 + rng.below(8);
            ++result.sweeps;
            controlsFinite = true;
            for (int band = 0; band < kBands; ++band) {
                const BandSetting setting = pickBand(rng);
                const float values[4] = {setting.freq, setting.gain, setting.q, setting.type};
                for (int control = 0; control < 4; ++control)
                    instance.fill(kFirstControl + 4 * band + control, values[control]);
            }
            if (rng.chance(0.003)) {
                instance.fill(kFirstControl + static_cast<int32_t>(rng.below(20)),
                              std::numeric_limits<float>::quiet_NaN());
                controlsFinite = false;
                ++result.controlBursts;
            }
        }

        // The block's input: music, silence or a burst, stretch by stretch.
        bool burstInBlock = false;
        for (int32_t i = offset; i < offset + count;) {
            if (signal.left <= 0) nextStretch(signal, rng, result);
            const int32_t n = static_cast<int32_t>(std::min<int64_t>(signal.left, offset + count - i));
            switch (signal.source) {
                case Source::Music:
                    for (int32_t k = 0; k < n; ++k) {
                        in1[static_cast<size_t>(i + k)] = table[signal.phase1];
                        in2[static_cast<size_t>(i + k)] = table[signal.phase2];
                        signal.phase1 = (signal.phase1 + 1) & (kTableLength - 1);
                        signal.phase2 = (signal.phase2 + 3) & (kTableLength - 1);
                    }
                    break;
                case Source::Silence:
                    std::fill_n(in1.begin() + i, n, 0.0f);
                    std::fill_n(in2.begin() + i, n, rng.chance(0.5) ? 0.0f : -0.0f);
                    break;
                case Source::Burst:
                    std::fill_n(in1.begin() + i, n, signal.burstValue1);
                    std::fill_n(in2.begin() + i, n, signal.burstValue2);
                    burstInBlock = true;
                    break;
            }
            signal.left -= n;
            i += n;
        }

        // The buffers' first sample sits `offset` samples before the block's.
        const uint32_t bufferStart = clock - static_cast<uint32_t>(offset);

        // A pin status event follows some blocks, and always the block in
        // which the clock passes 2^31 - 1 (at its last sample, past the
        // wrap). A zero planted in Input1 may wait for it at the event's clock.
        const uint32_t lastClock = bufferStart + static_cast<uint32_t>(offset + count - 1);
        const bool straddling = asClock(lastClock) < asClock(bufferStart);
        const bool eventAfter = straddling || rng.below(64) == 0;
        const int32_t eventAt = straddling ? offset + count - 1
                                           : offset + static_cast<int32_t>(rng.below(static_cast<uint32_t>(count)));
        if (eventAfter && rng.chance(0.5) && finite(in2[static_cast<size_t>(eventAt)]))
            in1[static_cast<size_t>(eventAt)] = 0.0f;
        std::fill(instance.blockStartClock.begin(), instance.blockStartClock.end(), asClock(bufferStart));
        instance.sampleClock = asClock(clock);
        instance.process(offset, count);

        // Outputs: finite once the inputs and controls have settled.
        if (burstInBlock || !controlsFinite) {
            loudSinceDirty = 0;
        } else {
            for (int32_t i = offset; i < offset + count; ++i) {
                const size_t s = static_cast<size_t>(i);
                if (loudSinceDirty < kPollInterval && (in1[s] != 0.0f || in2[s] != 0.0f)) ++loudSinceDirty;
                if (loudSinceDirty < kPollInterval) continue;
                ++result.checkedSamples;
                if (!finite(out1[s]) || !finite(out2[s])) {
                    char text[256];
                    std::snprintf(text, sizeof text,
                                  "non-finite output %g / %g at sample %lld (block %lld, offset %d, count %d)",
                                  static_cast<double>(out1[s]), static_cast<double>(out2[s]),
                                  static_cast<long long>(result.samples + (i - offset)),
                                  static_cast<long long>(result.blocks), offset, count);
                    result.ok = false;
                    result.failure = text;
                    break;
                }
            }
        }
        if (!result.ok) break;

        if (eventAfter) {
            const uint32_t eventClock = bufferStart + static_cast<uint32_t>(eventAt);
            const bool straddles = asClock(eventClock) < asClock(bufferStart);
            if (straddles && !settings.eventsAcrossWrap) {
                ++result.eventsHeldBack;
            } else {
                ++result.events;
                instance.sampleClock = asClock(eventClock);
                const size_t s = static_cast<size_t>(eventAt);
                // Both inputs static: silent (1) if either is 0.0 at the
                // clock; Input1 streaming again: 1 only if Input2 is 0.0
                // there; both streaming: 2.
                const int32_t bothStatic = (in1[s] == 0.0f || in2[s] == 0.0f) ? 1 : 0;
                const int32_t oneStreaming = in2[s] == 0.0f ? 1 : 2;
                const int32_t expectedAfter[4] = {-1, bothStatic, oneStreaming, 2};
                instance.statusNotices.clear();
                instance.sendPinStatus(kInput1, 0);
                instance.sendPinStatus(kInput2, 0);
                instance.sendPinStatus(kInput1, 2);
                instance.sendPinStatus(kInput2, 2);
                const auto& notices = instance.statusNotices;
                bool right = notices.size() == 8;
                for (size_t k = 0; right && k < notices.size(); ++k) {
                    const int32_t expected = expectedAfter[k / 2];
                    right = notices[k].pin == (k % 2 == 0 ? kOutput1 : kOutput2) &&
                            notices[k].clock == asClock(eventClock) &&
                            (expected < 0 || notices[k].status == expected);
                }
                if (!right) {
                    char text[160];
                    std::snprintf(text, sizeof text,
                                  "pin status at clock %d (block starting %d) not as the inputs there say",
                                  asClock(eventClock), asClock(bufferStart));
                    result.ok = false;
                    result.failure = text;
                    break;
                }
                releaseLogs();
            }
        }

        const uint32_t next = clock + static_cast<uint32_t>(count);
        if (asClock(next) < asClock(clock)) ++result.signedWraps;
        clock = next;
        result.samples += count;
        ++result.blocks;

        if (settings.progressSeconds > 0.0 && (result.blocks & 1023) == 0) {
            const auto now = std::chrono::steady_clock::now();
            if (std::chrono::duration<double>(now - lastProgress).count() >= settings.progressSeconds) {
                lastProgress = now;
                result.seconds = std::chrono::duration<double>(now - started).count();
                result.bytesAfter = allocatedBytes();
                result.residentAfter = residentBytes();
                result.endClock = clock;
                std::fprintf(stderr, "%s\n", describe(result).c_str());
            }
        }
    }

    releaseLogs();
    result.bytesAfter = allocatedBytes();
    result.residentAfter = residentBytes();
    result.endClock = clock;
    if (result.ok && result.bytesAfter != result.bytesBefore) {
        result.ok = false;
        result.failure = "allocated bytes changed while processing";
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

std::string describe(const SoakResult& r) {
    char text[640];
    const double hours = static_cast<double>(r.samples) / 48000.0 / 3600.0;
    std::snprintf(text, sizeof text,
                  "%lld samples/channel (%.3f h at 48 kHz) in %lld blocks, %.1f s (%.1f M samples/s); "
                  "%lld sweeps, %lld NaN/inf bursts, %lld NaN control stretches, %lld silences, "
                  "%lld status events (%lld held back at the wrap), %lld outputs checked finite, "
                  "clock passed 2^31 %lld times, ends at %u; allocated bytes %zu -> %zu, "
                  "resident %zu KiB -> %zu KiB",
                  static_cast<long long>(r.samples), hours, static_cast<long long>(r.blocks), r.seconds,
                  r.seconds > 0 ? static_cast<double>(r.samples) / r.seconds / 1e6 : 0.0,
                  static_cast<long long>(r.sweeps), static_cast<long long>(r.nanBursts),
                  static_cast<long long>(r.controlBursts), static_cast<long long>(r.silences),
                  static_cast<long long>(r.events), static_cast<long long>(r.eventsHeldBack),
                  static_cast<long long>(r.checkedSamples), static_cast<long long>(r.signedWraps),
                  r.endClock, r.bytesBefore, r.bytesAfter, r.residentBefore / 1024, r.residentAfter / 1024);
    return text;
}

}  // namespace soak
