// Instances of the module library are independent of each other: each designs
// at the rate it was opened with, whichever opened last, and instances that
// several threads open, feed, notify and close at the same time give exactly
// what they give one at a time. Run through the exports, as a host runs them
// (in the Windows build: the shipped DLL; the threads are the test's own).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/host/loaded_library.h"

namespace {

using hosttest::moduleExports;
using standin::Instance;

constexpr double kPi = 3.14159265358979323846;

// A bell on band 1 at 1 kHz, +12 dB, one octave wide, as its pins carry it.
void bellAt1kHz(Instance& instance) {
    instance.fill(instance.pinIndex("Freq1"), 100.0f);
    instance.fill(instance.pinIndex("Gain1"), 1.2f);
    instance.fill(instance.pinIndex("Q1"), 0.1f);
    instance.fill(instance.pinIndex("Type1"), 6.0f);
}

std::unique_ptr<Instance> openedAt(float rate) {
    auto instance = std::make_unique<Instance>(moduleExports());
    instance->setSampleRate(rate);
    instance->setBlockSize(512);
    instance->open();
    bellAt1kHz(*instance);
    return instance;
}

// Gain in dB of a 1 kHz sine through the instance, once it has settled.
double gainAt1kHzDb(Instance& instance, float rate) {
    const int32_t in1 = instance.pinIndex("Input1"), in2 = instance.pinIndex("Input2");
    const int32_t out1 = instance.pinIndex("Output1");
    const int32_t block = instance.blockSize();
    const int64_t frames = static_cast<int64_t>(rate);  // one second
    double inPower = 0.0, outPower = 0.0;
    for (int64_t start = 0; start < frames; start += block) {
        for (int32_t i = 0; i < block; ++i) {
            const float x = static_cast<float>(0.1 * std::sin(2.0 * kPi * 1000.0 * (start + i) / rate));
            instance.buffer(in1)[i] = x;
            instance.buffer(in2)[i] = x;
        }
        instance.process(0, block);
        if (start < frames / 2) continue;  // let the bell settle
        for (int32_t i = 0; i < block; ++i) {
            inPower += static_cast<double>(instance.buffer(in1)[i]) * instance.buffer(in1)[i];
            outPower += static_cast<double>(instance.buffer(out1)[i]) * instance.buffer(out1)[i];
        }
    }
    return 10.0 * std::log10(outPower / inPower);
}

TEST(InstanceRates, EachInstanceBoostsItsOwnCentreWhicheverOpenedLast) {
    // (first rate, second rate): the bell sits at 1 kHz in both, in every order.
    const float pairs[][2] = {{48000.0f, 96000.0f}, {96000.0f, 48000.0f}, {44100.0f, 48000.0f}};
    for (const auto& rates : pairs) {
        SCOPED_TRACE(testing::Message() << rates[0] << " Hz, then " << rates[1] << " Hz");
        auto first = openedAt(rates[0]);
        auto second = openedAt(rates[1]);
        EXPECT_NEAR(gainAt1kHzDb(*first, rates[0]), 12.0, 0.05);
        EXPECT_NEAR(gainAt1kHzDb(*second, rates[1]), 12.0, 0.05);
    }
}

TEST(InstanceRates, ReopeningAtANewRateMovesOnlyThatInstance) {
    auto moved = openedAt(48000.0f);
    auto other = openedAt(96000.0f);
    moved->setSampleRate(44100.0f);
    moved->open();
    bellAt1kHz(*moved);
    EXPECT_NEAR(gainAt1kHzDb(*moved, 44100.0f), 12.0, 0.05);
    EXPECT_NEAR(gainAt1kHzDb(*other, 96000.0f), 12.0, 0.05);
    // A rate set after open waits for the next open.
    other->setSampleRate(22050.0f);
    EXPECT_NEAR(gainAt1kHzDb(*other, 96000.0f), 12.0, 0.05);
}

// ---------------------------------------------------------------------------
// Many threads at once.

constexpr int kThreads = 4;
constexpr int kRounds = 4;
constexpr int kBlocks = 20;
constexpr int32_t kBlockFrames = 96;

uint32_t nextRandom(uint32_t& state) { return state = state * 1664525u + 1013904223u; }
float noise(uint32_t& state) { return static_cast<float>(nextRandom(state) >> 8) / 16777216.0f - 0.5f; }

// One round of one thread: two instances (at two of the rates hosts use, a
// pair of its own for each thread) opened, fed noise
// block by block with every band's controls moving at every block, their
// inputs' status changing now and then, and closed. Their outputs, in order.
class Round {
public:
    Round(int thread, uint32_t seed) : state_(seed) {
        static const float kRates[kThreads][2] = {
            {44100.0f, 48000.0f}, {48000.0f, 44100.0f}, {96000.0f, 88200.0f}, {32000.0f, 192000.0f}};
        for (int k = 0; k < 2; ++k) {
            instances_[k] = std::make_unique<Instance>(moduleExports());
            instances_[k]->setSampleRate(kRates[thread][k]);
            instances_[k]->setBlockSize(kBlockFrames);
            instances_[k]->open();
        }
    }
    bool done() const { return block_ == kBlocks; }
    // One block through both instances.
    void step() {
        for (auto& instance : instances_) {
            for (int band = 1; band <= 5; ++band) {
                const std::string n = std::to_string(band);
                instance->fill(instance->pinIndex("Freq" + n), 20.0f + 150.0f * (noise(state_) + 0.5f));
                instance->fill(instance->pinIndex("Gain" + n), 2.0f * noise(state_));
                instance->fill(instance->pinIndex("Q" + n), 0.05f + 0.2f * (noise(state_) + 0.5f));
                instance->fill(instance->pinIndex("Type" + n), static_cast<float>(nextRandom(state_) % 9));
            }
            for (const char* input : {"Input1", "Input2"})
                for (float& sample : instance->buffer(instance->pinIndex(input))) sample = noise(state_);
            if (block_ % 5 == 2) instance->sendPinStatus(0, block_ % 2 == 0 ? 2 : 0);
            instance->process(0, kBlockFrames);
            for (const char* output : {"Output1", "Output2"}) {
                const std::vector<float>& samples = instance->buffer(instance->pinIndex(output));
                outputs_.insert(outputs_.end(), samples.begin(), samples.end());
            }
        }
        ++block_;
    }
    std::vector<float> close() {
        for (auto& instance : instances_) instance->close();
        return outputs_;
    }

private:
    uint32_t state_;
    int block_ = 0;
    std::unique_ptr<Instance> instances_[2];
    std::vector<float> outputs_;
};

uint32_t seedOf(int thread, int round) { return static_cast<uint32_t>(1000 * thread + round); }

std::vector<std::vector<float>> rounds(int thread) {
    std::vector<std::vector<float>> result;
    for (int r = 0; r < kRounds; ++r) {
        Round round(thread, seedOf(thread, r));
        while (!round.done()) round.step();
        result.push_back(round.close());
    }
    return result;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

using Outputs = std::vector<std::vector<std::vector<float>>>;  // [thread][round]

::testing::AssertionResult sameOutputs(const Outputs& alone, const Outputs& other) {
    for (int t = 0; t < kThreads; ++t)
        for (int r = 0; r < kRounds; ++r) {
            if (alone[t][r].empty()) return ::testing::AssertionFailure() << "no outputs";
            if (!sameBits(alone[t][r], other[t][r]))
                return ::testing::AssertionFailure() << "thread " << t << ", round " << r << " differs";
        }
    return ::testing::AssertionSuccess();
}

// Under the emulated runner (where the kernel runs no 32-bit programs) two of
// wine's threads that run at once fault in the emulator, whatever they run (a
// plain two-thread Win32 program does), so there the threads' work is
// interleaved on one thread only.
bool threadsCanRun() {
    const char* runner = std::getenv("QUORVANE_DLL_RUNNER");
    return runner == nullptr || std::strcmp(runner, "emulated") != 0;
}

TEST(InstanceThreads, InstancesRunAtOnceGiveWhatTheyGiveOneAtATime) {
    Outputs alone(kThreads);
    for (int t = 0; t < kThreads; ++t) alone[t] = rounds(t);

    // The threads' rounds interleaved block by block on this thread: every
    // instance's open, calls and close between those of the others.
    Outputs interleaved(kThreads, std::vector<std::vector<float>>(kRounds));
    for (int r = 0; r < kRounds; ++r) {
        std::vector<std::unique_ptr<Round>> live;
        for (int t = 0; t < kThreads; ++t) live.push_back(std::make_unique<Round>(t, seedOf(t, r)));
        for (int block = 0; block < kBlocks; ++block)
            for (auto& round : live) round->step();
        for (int t = kThreads - 1; t >= 0; --t) interleaved[t][r] = live[t]->close();
    }
    EXPECT_TRUE(sameOutputs(alone, interleaved)) << "interleaved on one thread";

    if (!threadsCanRun()) {
        std::printf("threads: not run under emulation (two of wine's threads at once fault in the emulator); "
                    "the threads' rounds were interleaved on one thread\n");
        return;
    }
    // The threads start together, so their opens, calls and closes overlap.
    Outputs together(kThreads);
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &together, &waiting] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            together[t] = rounds(t);
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_TRUE(sameOutputs(alone, together)) << "on " << kThreads << " threads at once";
}

}  // namespace
