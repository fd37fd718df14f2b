// Cost of the processing loop per stereo frame, beside a plain scalar cascade
// of the same arithmetic measured in the same run, and the cost of silence
// and near-silence against loud noise.
//
//   build/native/bench/process_bench
//
// The last line printed is the ratio the loop is held to (process time over
// plain cascade time, loud noise, static controls, 1024-sample blocks). On a
// shared machine run it with repetitions interleaved at random
// (scripts/bench.sh does): the ratios take each benchmark's least time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/host_calls.h"
#include "bench/plain_cascade.h"
#include "bench/silence_cases.h"
#include "bench/steady_steps.h"
#include "equaliser/kernel_path.h"
#include "equaliser/module.h"
#include "equaliser/process_steps.h"

extern "C" ModuleRecord* makeModule(int32_t index, int32_t interfaceKind, HostCallback callback,
                                    intptr_t hostValue);

namespace {

constexpr float kRate = 48000.0f;
constexpr int kBlocks = 64;  // distinct blocks of input cycled through

HostResult QV_HOST_ENTRY benchHost(ModuleRecord*, int32_t opcode, int32_t, int32_t, void*, float) {
    return opcode == HOST_GET_PIN_COUNT ? kPinCount : 0;
}

// Five active bands: a low shelf, three peaking bands and a high shelf, as
// control pin values (tenths of Hz, octaves or Q, dB; type as a tenth).
struct BandSetting {
    float freq, gain, q, type;
};
constexpr BandSetting kSettings[kBandCount] = {
    {8.0f, 0.4f, 0.07f, 0.7f},
    {25.0f, -0.3f, 0.1f, 0.6f},
    {100.0f, 0.25f, 0.15f, 0.6f},
    {400.0f, -0.45f, 0.05f, 0.6f},
    {900.0f, 0.3f, 0.07f, 0.8f},
};

// Type values reach the module as plain numbers: 7.0 is a low shelf.
float typeValue(const BandSetting& s) { return s.type * 10.0f; }

constexpr int kControlSets = 4;  // gain settings the benchmark cycles through

float gainShift(int set) { return 0.04f * static_cast<float>(set); }

// One opened equaliser with its own buffers. The control streams of every
// setting are made up front, as other modules of a patch would produce them:
// changing settings only points the control pins at another set.
class Rig {
public:
    explicit Rig(int blockSize) : blockSize_(blockSize), buffers_(kPinCount) {
        record_ = makeModule(0, 1, &benchHost, 0);
        module_ = static_cast<Module*>(record_->object);
        module_->setSampleRate(kRate);
        for (auto& b : buffers_) b.assign(static_cast<size_t>(blockSize), 0.0f);
        for (int p = 0; p < kPinCount; ++p) module_->pins[p] = buffers_[static_cast<size_t>(p)].data();
        for (int set = 0; set < kControlSets; ++set)
            for (int band = 0; band < kBandCount; ++band) {
                const BandSetting& b = kSettings[band];
                const float values[4] = {b.freq, b.gain + gainShift(set), b.q, typeValue(b)};
                for (float value : values)
                    controlSets_[set].emplace_back(static_cast<size_t>(blockSize), value);
            }
        module_->open();
        useControlSet(0);
    }
    ~Rig() { record_->dispatcherEntry(record_, MOD_CLOSE, 0, 0, nullptr, 0.0f); }

    // Moves every band's gain a little: the bands are redesigned at the next poll.
    void useControlSet(int set) {
        for (int c = 0; c < 4 * kBandCount; ++c)
            module_->pins[PIN_FIRST_CONTROL + c] = controlSets_[set][static_cast<size_t>(c)].data();
    }
    void fill(int pin, float value) {
        for (float& x : buffers_[static_cast<size_t>(pin)]) x = value;
    }
    float* buffer(int pin) { return buffers_[static_cast<size_t>(pin)].data(); }
    // Output1 and Output2 on Input1's and Input2's buffers, as a host
    // processing in place hands them.
    void outputsInPlace() {
        module_->pins[PIN_OUTPUT1] = buffer(PIN_INPUT1);
        module_->pins[PIN_OUTPUT2] = buffer(PIN_INPUT2);
    }
    void process() { record_->processEntry(record_->object, 0, blockSize_); }
    Module& module() { return *module_; }

private:
    int blockSize_;
    std::vector<std::vector<float>> buffers_;
    std::vector<std::vector<float>> controlSets_[kControlSets];
    ModuleRecord* record_;
    Module* module_;
};

void copyBlock(const std::vector<float>& source, size_t block, int blockSize, float* destination) {
    const size_t start = (block % kBlocks) * static_cast<size_t>(blockSize);
    std::copy(source.begin() + static_cast<long>(start),
              source.begin() + static_cast<long>(start) + blockSize, destination);
}

void reportFrames(benchmark::State& state, int blockSize) {
    state.SetItemsProcessed(state.iterations() * blockSize);
    // Seconds per stereo frame (shown with an SI prefix: 9.1n is 9.1 ns).
    state.counters["per_frame"] = benchmark::Counter(
        static_cast<double>(blockSize),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Loud stereo noise through the rig, block after block; `beforeBlock(block)`
// sets the controls for each.
template <typename ControlsFor>
void runLoudNoise(benchmark::State& state, Rig& rig, int blockSize, ControlsFor beforeBlock) {
    const auto left = silence::noise(static_cast<size_t>(kBlocks * blockSize), 0.5f, 1);
    const auto right = silence::noise(static_cast<size_t>(kBlocks * blockSize), 0.5f, 2);
    size_t block = 0;
    for (auto _ : state) {
        copyBlock(left, block, blockSize, rig.buffer(PIN_INPUT1));
        copyBlock(right, block, blockSize, rig.buffer(PIN_INPUT2));
        beforeBlock(block);
        rig.process();
        benchmark::DoNotOptimize(rig.buffer(PIN_OUTPUT1));
        ++block;
    }
    reportFrames(state, blockSize);
}

// Loud stereo noise; the second argument moves every band's gain every
// four blocks (0: static controls).
void BM_Process(benchmark::State& state) {
    const int blockSize = static_cast<int>(state.range(0));
    const bool moving = state.range(1) != 0;
    Rig rig(blockSize);
    runLoudNoise(state, rig, blockSize, [&rig, moving](size_t block) {
        if (moving && block % 4 == 0) rig.useControlSet(static_cast<int>(block / 4 % kControlSets));
    });
}

// The plain cascade (bench/plain_cascade.h): the baseline the loop is
// measured against. With moving gains it redesigns its bands as often as the
// loop does (every four blocks, with the same values the poll passes), so
// both carry the same design work.
void BM_PlainCascade(benchmark::State& state) {
    const int blockSize = static_cast<int>(state.range(0));
    const bool moving = state.range(1) != 0;
    const bool bandMajor = state.range(2) != 0;
    Rig rig(blockSize);
    rig.buffer(PIN_INPUT1)[0] = 0.5f;
    rig.buffer(PIN_INPUT2)[0] = 0.5f;
    rig.process();  // designs the bands
    BandFilter bands[kBandCount];
    for (int k = 0; k < kBandCount; ++k) bands[k] = *rig.module().bands[k];
    plain::Cascade cascade;
    const auto left = silence::noise(static_cast<size_t>(kBlocks * blockSize), 0.5f, 1);
    const auto right = silence::noise(static_cast<size_t>(kBlocks * blockSize), 0.5f, 2);
    std::vector<float> inL(static_cast<size_t>(blockSize)), inR(inL), outL(inL), outR(inL);
    size_t block = 0;
    for (auto _ : state) {
        copyBlock(left, block, blockSize, inL.data());
        copyBlock(right, block, blockSize, inR.data());
        if (moving && block % 4 == 0) {
            const float shift = gainShift(static_cast<int>(block / 4 % kControlSets));
            for (int k = 0; k < kBandCount; ++k) {
                const BandSetting& s = kSettings[k];
                designBand(&bands[k], eq::toFilterType(typeValue(s)), 10.0f * s.freq, 10.0f * s.q,
                           10.0f * (s.gain + shift));
                cascade.design(k, bands[k]);
            }
        }
        if (bandMajor)
            cascade.runBandMajor(inL.data(), inR.data(), outL.data(), outR.data(), blockSize);
        else
            cascade.run(inL.data(), inR.data(), outL.data(), outR.data(), blockSize);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::ClobberMemory();
        ++block;
    }
    reportFrames(state, blockSize);
}

// Silence and near-silence against loud noise, 1024-sample blocks, with the
// same buffer filling before every call.
void BM_Silence(benchmark::State& state) {
    constexpr int blockSize = 1024;
    const int which = static_cast<int>(state.range(0));
    Rig rig(blockSize);
    const silence::Material material(kBlocks, blockSize);
    size_t call = 0;
    auto prepare = [&](int c) {
        silence::prepare(c, material, call++, rig.buffer(PIN_INPUT1), rig.buffer(PIN_INPUT2),
                         rig.buffer(PIN_OUTPUT1), rig.buffer(PIN_OUTPUT2));
    };
    if (!silence::startsFresh(which)) {
        // Warm the filters with loud noise so the silence starts from a real
        // state, then let the rung-down cases ring down.
        prepare(silence::Loud);
        rig.process();
        for (int i = 0; i < silence::warmDownCalls(which, blockSize); ++i) {
            prepare(which);
            rig.process();
        }
    }
    for (auto _ : state) {
        silence::prepare(which, material, call++, rig.buffer(PIN_INPUT1), rig.buffer(PIN_INPUT2),
                         rig.buffer(PIN_OUTPUT1), rig.buffer(PIN_OUTPUT2));
        rig.process();
        benchmark::DoNotOptimize(rig.buffer(PIN_OUTPUT1));
    }
    reportFrames(state, blockSize);
}

// The host's calls (bench/host_calls.h): one buffer per pin, reused, the
// module's own output left in its output buffers; the inputs written before
// each call as the module upstream writes them.
void BM_HostCalls(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    const int which = static_cast<int>(state.range(1));
    Rig rig(frames);
    if (which == hostcalls::RungDownInPlace) rig.outputsInPlace();
    const size_t blocks = static_cast<size_t>(std::max(kBlocks, 8192 / frames));
    const auto left = silence::noise(blocks * static_cast<size_t>(frames), 0.5f, 1);
    const auto right = silence::noise(blocks * static_cast<size_t>(frames), 0.5f, 2);
    size_t block = 0;
    auto loudCall = [&] {
        const size_t start = (block++ % blocks) * static_cast<size_t>(frames);
        std::copy_n(left.data() + start, frames, rig.buffer(PIN_INPUT1));
        std::copy_n(right.data() + start, frames, rig.buffer(PIN_INPUT2));
        rig.process();
    };
    auto silentCall = [&] {
        std::fill_n(rig.buffer(PIN_INPUT1), frames, 0.0f);
        std::fill_n(rig.buffer(PIN_INPUT2), frames, 0.0f);
        if (which == hostcalls::RungDownCleared) {
            std::fill_n(rig.buffer(PIN_OUTPUT1), frames, 0.0f);
            std::fill_n(rig.buffer(PIN_OUTPUT2), frames, 0.0f);
        }
        rig.process();
    };
    if (which != hostcalls::Loud) {
        for (int done = 0; done < hostcalls::kLoudWarmUpFrames; done += frames) loudCall();
        for (int done = 0; done < hostcalls::kRingDownFrames; done += frames) silentCall();
        if (!eq::filtersAtRest(rig.module())) state.SkipWithError("the bands did not come to rest");
    }
    for (auto _ : state) {
        if (which == hostcalls::Loud)
            loudCall();
        else
            silentCall();
        benchmark::DoNotOptimize(rig.buffer(PIN_OUTPUT1));
    }
    reportFrames(state, frames);
}

// A patch of 100 instances called 64 frames at a time, 10 playing loud
// noise and 90 silent after sound (rung down, their own output left in
// their buffers), every instance on buffers of its own: one iteration is one
// 64-frame period of the whole patch.
void BM_Patch(benchmark::State& state) {
    constexpr int kFrames = 64, kInstances = 100, kPlaying = 10;
    std::vector<std::unique_ptr<Rig>> rigs;
    for (int i = 0; i < kInstances; ++i) rigs.push_back(std::make_unique<Rig>(kFrames));
    const auto left = silence::noise(static_cast<size_t>(kBlocks * kFrames), 0.5f, 1);
    const auto right = silence::noise(static_cast<size_t>(kBlocks * kFrames), 0.5f, 2);
    size_t block = 0;
    auto period = [&](bool allLoud) {
        for (int i = 0; i < kInstances; ++i) {
            Rig& rig = *rigs[static_cast<size_t>(i)];
            if (allLoud || i < kPlaying) {
                copyBlock(left, block + static_cast<size_t>(i), kFrames, rig.buffer(PIN_INPUT1));
                copyBlock(right, block + static_cast<size_t>(i), kFrames, rig.buffer(PIN_INPUT2));
            } else {
                std::fill_n(rig.buffer(PIN_INPUT1), kFrames, 0.0f);
                std::fill_n(rig.buffer(PIN_INPUT2), kFrames, 0.0f);
            }
            rig.process();
        }
        ++block;
    };
    for (int done = 0; done < hostcalls::kLoudWarmUpFrames; done += kFrames) period(true);
    for (int done = 0; done < hostcalls::kRingDownFrames; done += kFrames) period(false);
    for (auto _ : state) period(false);
    state.counters["core_share"] = benchmark::Counter(
        kFrames / static_cast<double>(kRate), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The plain cascade called as the host calls the module: frame by frame,
// its state in locals for the call and kept between calls.
void BM_PlainCalls(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    const int bandMajor = static_cast<int>(state.range(1));
    Rig rig(frames);
    rig.process();  // designs the bands
    plain::Cascade cascade;
    for (int band = 0; band < kBandCount; ++band) cascade.design(band, *rig.module().bands[band]);
    const size_t blocks = static_cast<size_t>(std::max(kBlocks, 8192 / frames));
    const auto left = silence::noise(blocks * static_cast<size_t>(frames), 0.5f, 1);
    const auto right = silence::noise(blocks * static_cast<size_t>(frames), 0.5f, 2);
    std::vector<float> inL(static_cast<size_t>(frames)), inR(inL.size()), outL(inL.size()), outR(inL.size());
    size_t block = 0;
    for (auto _ : state) {
        const size_t start = (block++ % blocks) * static_cast<size_t>(frames);
        std::copy_n(left.data() + start, frames, inL.data());
        std::copy_n(right.data() + start, frames, inR.data());
        if (bandMajor)
            cascade.runBandMajor(inL.data(), inR.data(), outL.data(), outR.data(), frames);
        else
            cascade.run(inL.data(), inR.data(), outL.data(), outR.data(), frames);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::ClobberMemory();
    }
    reportFrames(state, frames);
}

// The floor: one band's recursion chain a frame, 1024 frames a call.
void BM_Floor(benchmark::State& state) {
    constexpr int frames = 1024;
    const auto input = silence::noise(frames, 0.5f, 5);
    hostcalls::FloorChain chain;
    for (auto _ : state) benchmark::DoNotOptimize(chain.run(input.data(), frames));
    reportFrames(state, frames);
}

// Audio-rate automation: all twenty controls move at every poll, so every
// band is redesigned every 32 frames (frequency, gain and width; the type
// stays). 1024-frame blocks of loud noise.
struct Sweeps {
    // Control streams for `blocks` blocks: every sample its own value.
    Sweeps(int blockSize, int blocks) : length(static_cast<size_t>(blockSize) * blocks) {
        for (int band = 0; band < kBandCount; ++band) {
            const BandSetting& b = kSettings[band];
            std::vector<float> freq(length), gain(length), q(length), type(length, typeValue(b));
            for (size_t i = 0; i < length; ++i) {
                const float phase = static_cast<float>(i % 4800) / 4800.0f;
                freq[i] = b.freq * (0.5f + phase);
                gain[i] = b.gain * (1.0f - 2.0f * phase);
                q[i] = b.q * (0.75f + 0.5f * phase);
            }
            streams.push_back(freq), streams.push_back(gain), streams.push_back(q), streams.push_back(type);
        }
    }
    size_t length;
    std::vector<std::vector<float>> streams;  // Freq1, Gain1, Q1, Type1, ... Type5
};

// Modulation as a modular patch makes it: one band's control is an audio
// stream from another module, so every poll sees it move. The other
// nineteen controls stand still.
struct Modulation {
    enum Kind { FrequencyLfo, GainEnvelope };
    Modulation(Kind kind, int blockSize, int blocks) : length(static_cast<size_t>(blockSize) * blocks) {
        constexpr double kTwoPi = 6.283185307179586;
        for (int band = 0; band < kBandCount; ++band) {
            const BandSetting& b = kSettings[band];
            for (float value : {b.freq, b.gain, b.q, typeValue(b)}) streams.emplace_back(length, value);
        }
        for (size_t i = 0; i < length; ++i) {
            const double phase = static_cast<double>(i) / static_cast<double>(length);
            if (kind == FrequencyLfo) {
                // Band 3 (a bell at 1 kHz) swept half an octave each way by
                // a slow sine, one cycle over the material.
                streams[4 * 2 + CONTROL_FREQ][i] =
                    static_cast<float>(kSettings[2].freq * std::exp2(0.5 * std::sin(kTwoPi * phase)));
            } else {
                // Band 2's gain follows an envelope: 10 ms up to +9 dB, then
                // down to 0 dB over the rest of each quarter of the material.
                const double t = std::fmod(4.0 * phase, 1.0) * static_cast<double>(length) / 4.0 / kRate;
                const double level = t < 0.01 ? t / 0.01 : std::exp(-(t - 0.01) / 0.08);
                streams[4 * 1 + CONTROL_GAIN][i] = static_cast<float>(0.9 * level);
            }
        }
    }
    size_t length;
    std::vector<std::vector<float>> streams;  // Freq1, Gain1, Q1, Type1, ... Type5
};

template <Modulation::Kind kind>
void BM_Modulated(benchmark::State& state) {
    constexpr int blockSize = 1024;
    Rig rig(blockSize);
    const Modulation modulation(kind, blockSize, kBlocks);
    runLoudNoise(state, rig, blockSize, [&rig, &modulation](size_t block) {
        const size_t start = (block % kBlocks) * blockSize;
        for (int c = 0; c < 4 * kBandCount; ++c)
            rig.module().pins[PIN_FIRST_CONTROL + c] = const_cast<float*>(modulation.streams[c].data() + start);
    });
}

void BM_MovingControls(benchmark::State& state) {
    constexpr int blockSize = 1024;
    Rig rig(blockSize);
    const Sweeps sweeps(blockSize, kBlocks);
    runLoudNoise(state, rig, blockSize, [&rig, &sweeps](size_t block) {
        const size_t start = (block % kBlocks) * blockSize;
        for (int c = 0; c < 4 * kBandCount; ++c)
            rig.module().pins[PIN_FIRST_CONTROL + c] = const_cast<float*>(sweeps.streams[c].data() + start);
    });
}

// The redesigns alone that a moving-controls case asks for: the design half
// of every band's poll (eq::redesignBand, as the loop makes it, with the same
// control values at the same polls), and nothing of the loop around it.
template <typename Streams>
void runRedesigns(benchmark::State& state, const Streams& source) {
    constexpr int blockSize = 1024;
    Rig rig(blockSize);  // its module's bands and caches, at the benchmark's rate
    Module& m = rig.module();
    float* controls[4 * kBandCount];
    size_t block = 0;
    for (auto _ : state) {
        const size_t start = (block % kBlocks) * blockSize;
        for (int c = 0; c < 4 * kBandCount; ++c)
            controls[c] = const_cast<float*>(source.streams[static_cast<size_t>(c)].data() + start);
        for (int32_t i = 0; i < blockSize; i += kPollInterval)
            for (int k = 0; k < kBandCount; ++k) benchmark::DoNotOptimize(eq::redesignBand(m, k, controls, i));
        ++block;
    }
    reportFrames(state, blockSize);
}

void BM_MovingControlsRedesigns(benchmark::State& state) { runRedesigns(state, Sweeps(1024, kBlocks)); }

template <Modulation::Kind kind>
void BM_ModulatedRedesigns(benchmark::State& state) {
    runRedesigns(state, Modulation(kind, 1024, kBlocks));
}

// The floor of the loop's arithmetic on the machine (bench/steady_steps.h).
void BM_SteadyStepsAlone(benchmark::State& state) {
    Rig rig(1024);
    rig.buffer(PIN_INPUT1)[0] = 0.5f;
    rig.buffer(PIN_INPUT2)[0] = 0.5f;
    rig.process();  // designs the bands
    steady::Steps steps(rig.module().bands);
    for (auto _ : state) {
        const int32_t done = steps.run();
        benchmark::DoNotOptimize(done);
        benchmark::ClobberMemory();
    }
    reportFrames(state, steady::Steps::kSteps);
}

BENCHMARK(BM_Process)->Args({256, 0})->Args({1024, 0})->Args({1024, 1});
BENCHMARK(BM_PlainCascade)->ArgsProduct({{256, 1024}, {0, 1}, {0, 1}});
BENCHMARK(BM_Silence)->DenseRange(silence::Loud, silence::CaseCount - 1);
BENCHMARK(BM_MovingControls);
BENCHMARK(BM_Modulated<Modulation::FrequencyLfo>)->Name("BM_FrequencyLfo");
BENCHMARK(BM_Modulated<Modulation::GainEnvelope>)->Name("BM_GainEnvelope");
BENCHMARK(BM_MovingControlsRedesigns);
BENCHMARK(BM_ModulatedRedesigns<Modulation::FrequencyLfo>)->Name("BM_FrequencyLfoRedesigns");
BENCHMARK(BM_ModulatedRedesigns<Modulation::GainEnvelope>)->Name("BM_GainEnvelopeRedesigns");
BENCHMARK(BM_SteadyStepsAlone);
BENCHMARK(BM_HostCalls)->ArgsProduct({{1, 8, 32, 64, 256, 1024}, {0, 1, 2, 3}});
BENCHMARK(BM_PlainCalls)->ArgsProduct({{1, 8, 32, 64, 256, 1024}, {0, 1}});
BENCHMARK(BM_Floor);
BENCHMARK(BM_Patch);

// Collects every run's CPU time per iteration (steadier than wall time on a
// busy machine), the least of its repetitions (what other work on the
// machine added is never less), so the ratios can close the output.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                const double time = run.GetAdjustedCPUTime();
                auto [at, fresh] = times.emplace(run.benchmark_name(), time);
                if (!fresh && time < at->second) at->second = time;
            }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.times;
    const std::string loud = "BM_Silence/" + std::to_string(silence::Loud);
    if (t.count(loud)) {
        std::printf("\nsilence cost against loud noise (limits: 1.5 where filtered, 0.10 rung down"
                    " and skipped, 0.15 before any sound):\n");
        for (int c = silence::Loud + 1; c < silence::CaseCount; ++c) {
            const std::string name = "BM_Silence/" + std::to_string(c);
            if (t.count(name)) std::printf("  %-28s %.2f\n", silence::name(c), t[name] / t[loud]);
        }
    }
    // The baseline for each block size and control setting: the faster of
    // the plain cascade's two orders.
    auto plainFor = [&t](int block, int moving) {
        const std::string base = "BM_PlainCascade/" + std::to_string(block) + "/" + std::to_string(moving);
        const std::string frameMajor = base + "/0", bandMajor = base + "/1";
        if (!t.count(frameMajor) || !t.count(bandMajor)) return 0.0;
        return std::min(t[frameMajor], t[bandMajor]);
    };
    if (plainFor(1024, 0) > 0.0)
        std::printf("plain cascade, 1024-sample blocks: frame-major %.2f ns per frame, band-major %.2f"
                    " (the faster is the baseline)\n",
                    t["BM_PlainCascade/1024/0/0"] / 1024.0, t["BM_PlainCascade/1024/0/1"] / 1024.0);
    if (t.count("BM_Process/256/0") && plainFor(256, 0) > 0.0)
        std::printf("process / plain cascade, 256-sample blocks: %.3f\n", t["BM_Process/256/0"] / plainFor(256, 0));
    if (t.count("BM_Process/1024/1") && plainFor(1024, 1) > 0.0)
        std::printf("process / plain cascade, 1024-sample blocks, gains moving every four blocks: %.3f\n",
                    t["BM_Process/1024/1"] / plainFor(1024, 1));
    if (t.count("BM_MovingControls") && t.count("BM_MovingControlsRedesigns") && t.count("BM_Process/1024/0"))
        std::printf("all twenty controls moving at every poll: %.2f ns per frame, %.2f of static controls"
                    " (target 2.0); redesigns take %.0f%% of it\n",
                    t["BM_MovingControls"] / 1024.0, t["BM_MovingControls"] / t["BM_Process/1024/0"],
                    100.0 * t["BM_MovingControlsRedesigns"] / t["BM_MovingControls"]);
    if (t.count("BM_Process/1024/0"))
        for (const std::string name : {"BM_FrequencyLfo", "BM_GainEnvelope"})
            if (t.count(name)) {
                const double perFrame = t[name] / 1024.0, staticPerFrame = t["BM_Process/1024/0"] / 1024.0;
                std::printf("%s: one band's control moving at every poll: %.2f ns per frame, %.2f of static"
                            " controls (target 1.3)",
                            name.c_str() + 3, perFrame, perFrame / staticPerFrame);
                // Where the time above static goes: the redesigns, and the
                // rest, the polls' handling in the loop.
                const std::string designs = name + "Redesigns";
                if (t.count(designs))
                    std::printf("; of the %.2f ns above static, the redesigns take %.2f\n",
                                perFrame - staticPerFrame, t[designs] / 1024.0);
                else
                    std::printf("\n");
            }
    const char* path = eq::pathName(eq::kernelPath());
    // The floors beside the loop: its steady steps alone, and one band's
    // recursion a frame (the plain cascade's band-major order waits on five
    // in turn; the loop, with every band at work at once, on one).
    if (t.count("BM_SteadyStepsAlone") && plainFor(1024, 0) > 0.0)
        std::printf("floors, %s path: the steady steps alone %.2f ns per frame (%.3f of plain); one band's"
                    " recursion a frame %.2f (%.3f)\n",
                    path, t["BM_SteadyStepsAlone"] / steady::Steps::kSteps, t["BM_SteadyStepsAlone"] / steady::Steps::kSteps * 1024.0 / plainFor(1024, 0),
                    t["BM_PlainCascade/1024/0/1"] / 1024.0 / kBandCount,
                    t["BM_PlainCascade/1024/0/1"] / kBandCount / plainFor(1024, 0));
    if (t.count("BM_Process/1024/0") && plainFor(1024, 0) > 0.0)
        std::printf("process / plain cascade, 1024-sample blocks, static controls, %s path: %.3f"
                    " (%.2f ns per frame)\n",
                    path, t["BM_Process/1024/0"] / plainFor(1024, 0), t["BM_Process/1024/0"] / 1024.0);
    // The host's calls, length by length, beside the plain cascade called
    // the same way (frame by frame, the baseline; band-major beside it) and
    // the floor; silence after sound, rung down, against loud.
    if (t.count("BM_Patch"))
        std::printf("patch of 100 instances, 64-frame calls, 10 playing and 90 silent after sound, %s path:"
                    " %.2f %% of one core (target 1 %%)\n",
                    path, 100.0 * t["BM_Patch"] * 1e-9 / (64.0 / kRate));
    if (t.count("BM_Floor")) {
        const double floorNs = t["BM_Floor"] / 1024.0;
        std::printf("host calls, %s path, one buffer per pin, the module's output left in its buffers;"
                    " floor (one band's recursion chain) %.2f ns per frame:\n", path, floorNs);
        for (int frames : hostcalls::kCallLengths) {
            auto at = [&t, frames](const std::string& name, int arg) {
                const std::string key = name + "/" + std::to_string(frames) + "/" + std::to_string(arg);
                return t.count(key) ? t[key] / frames : 0.0;
            };
            const double loud = at("BM_HostCalls", hostcalls::Loud);
            const double plainNs = at("BM_PlainCalls", 0), bandMajor = at("BM_PlainCalls", 1);
            if (loud <= 0.0 || plainNs <= 0.0) continue;
            std::printf("  %4d frames: process %.2f ns per frame, %.2f of plain (%.2f ns; band-major %.2f),"
                        " %.2f x floor; silence rung down against loud: as left %.3f, cleared %.3f,"
                        " in place %.3f\n",
                        frames, loud, loud / plainNs, plainNs, bandMajor, loud / floorNs,
                        at("BM_HostCalls", hostcalls::RungDownAsLeft) / loud,
                        at("BM_HostCalls", hostcalls::RungDownCleared) / loud,
                        at("BM_HostCalls", hostcalls::RungDownInPlace) / loud);
        }
    }
    benchmark::Shutdown();
    return 0;
}
