// Long-running behaviour at the host boundary, in CI-sized portions: a short
// soak, a big patch of instances opened, run and closed in random order, and
// many open/close cycles. Memory is compared before and after (under the
// sanitizer build LeakSanitizer checks again at exit).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "host/stand_in_host.h"
#include "tests/soak/memory_probe.h"
#include "tests/soak/soak_engine.h"

#ifndef QUORVANE_SOAK_SHORT_SAMPLES
#define QUORVANE_SOAK_SHORT_SAMPLES 20000000
#endif

namespace {

constexpr int32_t kFirstControl = 2;
constexpr int32_t kOutput1 = 22;
constexpr int32_t kOutput2 = 23;

class Reliability : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        library_ = standin::ModuleLibrary::load(QUORVANE_MODULE_PATH, &error);
        ASSERT_TRUE(library_) << error;
        // One instance's whole life first, so that whatever the runtime sets
        // up on first use is in place before memory is measured.
        standin::Instance warmUp(exports());
        warmUp.setSampleRate(48000.0f);
        warmUp.setBlockSize(64);
        warmUp.open();
        warmUp.process(0, 64);
    }

    const standin::ModuleExports& exports() const { return library_->exports(); }

    std::unique_ptr<standin::ModuleLibrary> library_;
};

TEST_F(Reliability, ShortSoakEndsFiniteWithUnchangedMemoryAcrossTheClockWrap) {
    soak::SoakSettings settings;
    settings.samplesPerChannel = QUORVANE_SOAK_SHORT_SAMPLES;
    settings.seed = 20261208;
    settings.startClock = 0x7FFFFFFFu - static_cast<uint32_t>(QUORVANE_SOAK_SHORT_SAMPLES / 2);
    const soak::SoakResult result = soak::runSoak(settings, exports());
    std::printf("%s\n", soak::describe(result).c_str());
    EXPECT_TRUE(result.ok) << result.failure;
    EXPECT_EQ(result.samples, settings.samplesPerChannel);
    EXPECT_EQ(result.signedWraps, 1);
    EXPECT_GT(result.nanBursts, 0);
    EXPECT_GT(result.silences, 0);
    EXPECT_GT(result.events, 0);
    // Including one in the block in which the clock wraps.
    EXPECT_EQ(result.eventsHeldBack, 0);
    EXPECT_GT(result.checkedSamples, result.samples / 2);
    EXPECT_EQ(result.bytesAfter, result.bytesBefore);
}

// What one instance of the big patch went through, to replay it alone.
struct Step {
    enum Kind { Controls, Reopen, Process } kind;
    int32_t a;  // band, or buffer offset
    int32_t b;  // sample count
    float freq;
    float type;
};

struct Tracked {
    std::unique_ptr<standin::Instance> instance;
    uint32_t inputSeed;
    int32_t blockSize;
    float sampleRate;
    std::vector<Step> steps;
    std::vector<uint64_t> outputs;  // a digest of every call's outputs
};

void fillInputs(standin::Instance& instance, uint32_t seed) {
    std::mt19937 rng(seed);
    for (int32_t pin = 0; pin < 2; ++pin)
        for (float& sample : instance.buffer(pin)) sample = std::sin(static_cast<float>(rng() % 1000));
}

uint64_t digest(standin::Instance& instance, int32_t offset, int32_t count) {
    uint64_t hash = 1469598103934665603ull;
    for (int32_t pin : {kOutput1, kOutput2})
        for (int32_t i = offset; i < offset + count; ++i) {
            uint32_t bits;
            std::memcpy(&bits, &instance.buffer(pin)[static_cast<size_t>(i)], sizeof bits);
            hash = (hash ^ bits) * 1099511628211ull;
        }
    return hash;
}

void apply(standin::Instance& instance, const Step& step) {
    switch (step.kind) {
        case Step::Controls:
            instance.fill(kFirstControl + 4 * step.a, step.freq);
            instance.fill(kFirstControl + 4 * step.a + 3, step.type);
            break;
        case Step::Reopen:
            instance.dispatch(0 /* MOD_OPEN */);  // releases what the last open made
            break;
        case Step::Process:
            instance.process(step.a, step.b);
            break;
    }
}

// A big patch: 256 instances at mixed block sizes, created, processed,
// reopened and closed in random order, interleaved, at mixed sample rates.
// Every instance's outputs are then replayed on an instance of its own: no
// instance may notice the others, whatever rate they run at.
TEST_F(Reliability, TwoHundredFiftySixInstancesInRandomOrderGiveBackEveryByte) {
    constexpr int kInstances = 256;
    static const int32_t kBlockSizes[] = {1, 16, 32, 64, 100, 128, 256, 441, 512, 1024, 2048};
    static const float kRates[] = {44100.0f, 48000.0f, 88200.0f, 96000.0f, 192000.0f};
    std::mt19937 rng(256);
    auto below = [&rng](size_t bound) { return static_cast<size_t>(rng() % bound); };
    auto start = [this](Tracked& tracked) {
        tracked.instance = std::make_unique<standin::Instance>(exports());
        ASSERT_TRUE(tracked.instance->valid());
        tracked.instance->setSampleRate(tracked.sampleRate);
        tracked.instance->setBlockSize(tracked.blockSize);
        tracked.instance->open();
        fillInputs(*tracked.instance, tracked.inputSeed);
    };

    const size_t bytesBefore = soak::allocatedBytes();
    {
        std::vector<Tracked> closed;
        std::vector<Tracked> alive;
        int created = 0;
        int64_t processed = 0;
        while (created < kInstances || !alive.empty()) {
            const size_t action = below(10);
            if (created < kInstances && (alive.empty() || action < 3)) {
                Tracked tracked;
                tracked.inputSeed = static_cast<uint32_t>(rng());
                tracked.blockSize = kBlockSizes[below(11)];
                tracked.sampleRate = kRates[below(5)];
                start(tracked);
                alive.push_back(std::move(tracked));
                ++created;
            } else if (action < 8 || created < kInstances) {
                Tracked& tracked = alive[below(alive.size())];
                const int32_t block = tracked.blockSize;
                if (below(4) == 0) {
                    tracked.steps.push_back({Step::Controls, static_cast<int32_t>(below(5)), 0,
                                             static_cast<float>(1 + below(1999)), static_cast<float>(below(9))});
                    apply(*tracked.instance, tracked.steps.back());
                }
                if (below(50) == 0) {
                    tracked.steps.push_back({Step::Reopen, 0, 0, 0.0f, 0.0f});
                    apply(*tracked.instance, tracked.steps.back());
                }
                const int32_t count = 1 + static_cast<int32_t>(below(static_cast<size_t>(block)));
                const int32_t offset = static_cast<int32_t>(below(static_cast<size_t>(block - count + 1)));
                tracked.steps.push_back({Step::Process, offset, count, 0.0f, 0.0f});
                apply(*tracked.instance, tracked.steps.back());
                tracked.outputs.push_back(digest(*tracked.instance, offset, count));
                processed += count;
                for (int32_t i = offset; i < offset + count; ++i) {
                    ASSERT_TRUE(std::isfinite(tracked.instance->buffer(kOutput1)[static_cast<size_t>(i)]));
                    ASSERT_TRUE(std::isfinite(tracked.instance->buffer(kOutput2)[static_cast<size_t>(i)]));
                }
            } else {
                const size_t victim = below(alive.size());
                alive[victim].instance->close();
                alive[victim].instance.reset();
                closed.push_back(std::move(alive[victim]));
                alive.erase(alive.begin() + static_cast<std::ptrdiff_t>(victim));
            }
        }
        EXPECT_EQ(created, kInstances);
        EXPECT_GT(processed, 0);

        for (Tracked& tracked : closed) {
            start(tracked);
            size_t call = 0;
            for (const Step& step : tracked.steps) {
                apply(*tracked.instance, step);
                if (step.kind == Step::Process) {
                    ASSERT_EQ(digest(*tracked.instance, step.a, step.b), tracked.outputs[call++])
                        << "an instance's outputs depend on the other instances";
                }
            }
            tracked.instance->close();
            tracked.instance.reset();
        }
    }
    EXPECT_EQ(soak::allocatedBytes(), bytesBefore);
}

TEST_F(Reliability, TenThousandOpenCloseCyclesLeakNothing) {
    const size_t bytesBefore = soak::allocatedBytes();
    for (int cycle = 0; cycle < 10000; ++cycle) {
        standin::Instance instance(exports());
        ASSERT_TRUE(instance.valid());
        instance.setBlockSize(32);
        instance.open();
        if (cycle % 3 == 0) instance.open();  // opened twice before its close
        if (cycle % 2 == 0) instance.process(0, 32);
        const size_t open = soak::allocatedBytes();
        instance.close();
        // The count sees the library's own objects: the close gives back the
        // module, its five bands and its pin table.
        if (cycle == 0) {
            EXPECT_GT(open - soak::allocatedBytes(), 5 * sizeof(double) * 13);
        }
    }
    EXPECT_EQ(soak::allocatedBytes(), bytesBefore);
}

// The host's 32-bit sample clock wraps from 2^31 - 1 to -2^31. A block that
// starts just before the wrap still holds the samples just after it, and an
// input's current value there is the block's sample at (clock - start),
// counted across the wrap.
TEST_F(Reliability, CurrentValueAcrossTheClockWrapIsTheBlocksSample) {
    standin::Instance instance(exports());
    instance.setBlockSize(32);
    instance.open();
    instance.fill(0, 0.5f);
    instance.fill(1, 0.25f);
    instance.buffer(0)[20] = 0.0f;
    const int32_t blockStart = INT32_MAX - 9;
    std::fill(instance.blockStartClock.begin(), instance.blockStartClock.end(), blockStart);
    for (const auto& [sample, status] : {std::pair<int32_t, int32_t>{20, 1}, {21, 0}, {5, 0}}) {
        // The clock as the host keeps it: unsigned arithmetic, then its bit pattern.
        const uint32_t clock = static_cast<uint32_t>(blockStart) + static_cast<uint32_t>(sample);
        std::memcpy(&instance.sampleClock, &clock, sizeof clock);
        instance.statusNotices.clear();
        instance.sendPinStatus(0, 0);
        instance.sendPinStatus(1, 0);
        ASSERT_EQ(instance.statusNotices.size(), 4u);
        EXPECT_EQ(instance.statusNotices[3].status, status) << "sample " << sample;
    }
}

// A band a hundredth of an octave wide (inside the width range the design
// accepts) whose frequency control moves at every poll, as an audio-rate
// modulation does: the outputs must stay finite for inputs of magnitude 1.
TEST_F(Reliability, NarrowBandSweptAtEveryPollStaysFinite) {
    standin::Instance instance(exports());
    instance.setSampleRate(48000.0f);
    instance.setBlockSize(1024);
    instance.open();
    instance.fill(kFirstControl + 3, 6.0f);    // Type1: peaking
    instance.fill(kFirstControl + 2, 0.001f);  // Q1: width 0.01 octave
    instance.fill(kFirstControl + 1, 1.0f);    // Gain1: 10 dB
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::uniform_real_distribution<float> frequency(1.0f, 1000.0f);  // 10 Hz .. 10 kHz
    for (int block = 0; block < 200; ++block) {
        for (size_t i = 0; i < 1024; ++i) {
            instance.buffer(0)[i] = noise(rng);
            instance.buffer(1)[i] = noise(rng);
            instance.buffer(kFirstControl)[i] = frequency(rng);
        }
        instance.process(0, 1024);
        for (size_t i = 0; i < 1024; ++i) {
            ASSERT_TRUE(std::isfinite(instance.buffer(kOutput1)[i])) << "sample " << block * 1024 + i;
            ASSERT_TRUE(std::isfinite(instance.buffer(kOutput2)[i])) << "sample " << block * 1024 + i;
        }
    }
}

}  // namespace
