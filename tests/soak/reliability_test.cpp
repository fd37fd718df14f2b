// Long-running behaviour at the host boundary, in CI-sized portions: a short
// soak, a big patch of instances opened, run and closed in random order, and
// many open/close cycles. Memory is compared before and after (under the
// sanitizer build LeakSanitizer checks again at exit).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "host/stand_in_host.h"
#include "tests/soak/memory_probe.h"
#include "tests/soak/soak_engine.h"

#ifndef QUORVANE_SOAK_SHORT_SAMPLES
#define QUORVANE_SOAK_SHORT_SAMPLES 20000000
#endif
#ifndef QUORVANE_EVENTS_ACROSS_WRAP
#define QUORVANE_EVENTS_ACROSS_WRAP 1
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
    settings.eventsAcrossWrap = QUORVANE_EVENTS_ACROSS_WRAP != 0;
    const soak::SoakResult result = soak::runSoak(settings, exports());
    std::printf("%s\n", soak::describe(result).c_str());
    EXPECT_TRUE(result.ok) << result.failure;
    EXPECT_EQ(result.samples, settings.samplesPerChannel);
    EXPECT_EQ(result.signedWraps, 1);
    EXPECT_GT(result.nanBursts, 0);
    EXPECT_GT(result.silences, 0);
    EXPECT_GT(result.events, 0);
    // The block in which the clock wraps always gets an event, sent or held back.
    if (settings.eventsAcrossWrap) {
        EXPECT_EQ(result.eventsHeldBack, 0);
    } else {
        EXPECT_GE(result.eventsHeldBack, 1);
    }
    EXPECT_GT(result.checkedSamples, result.samples / 2);
    EXPECT_EQ(result.bytesAfter, result.bytesBefore);
}

// A big patch: 256 instances at mixed block sizes and rates, created,
// processed, reopened and closed in random order, interleaved.
TEST_F(Reliability, TwoHundredFiftySixInstancesInRandomOrderGiveBackEveryByte) {
    constexpr int kInstances = 256;
    static const int32_t kBlockSizes[] = {1, 16, 32, 64, 100, 128, 256, 441, 512, 1024, 2048};
    static const float kRates[] = {44100.0f, 48000.0f, 96000.0f};
    std::mt19937 rng(256);
    auto below = [&rng](size_t bound) { return static_cast<size_t>(rng() % bound); };

    const size_t bytesBefore = soak::allocatedBytes();
    {
        std::vector<std::unique_ptr<standin::Instance>> alive;
        int created = 0;
        int64_t processed = 0;
        while (created < kInstances || !alive.empty()) {
            const size_t action = below(10);
            if (created < kInstances && (alive.empty() || action < 3)) {
                auto instance = std::make_unique<standin::Instance>(exports());
                ASSERT_TRUE(instance->valid());
                instance->setSampleRate(kRates[below(3)]);
                instance->setBlockSize(kBlockSizes[below(11)]);
                instance->open();
                for (int32_t pin = 0; pin < 2; ++pin)
                    for (float& sample : instance->buffer(pin))
                        sample = std::sin(static_cast<float>(below(1000)));
                alive.push_back(std::move(instance));
                ++created;
            } else if (action < 8 || created < kInstances) {
                standin::Instance& instance = *alive[below(alive.size())];
                const int32_t block = instance.blockSize();
                const int32_t count = 1 + static_cast<int32_t>(below(static_cast<size_t>(block)));
                const int32_t offset = static_cast<int32_t>(below(static_cast<size_t>(block - count + 1)));
                if (below(4) == 0) {
                    const int32_t band = static_cast<int32_t>(below(5));
                    instance.fill(kFirstControl + 4 * band, static_cast<float>(10 + below(1990)));
                    instance.fill(kFirstControl + 4 * band + 3, static_cast<float>(below(9)));
                }
                if (below(50) == 0) instance.open();  // a reopen releases what the last open made
                instance.process(offset, count);
                processed += count;
                for (int32_t i = offset; i < offset + count; ++i) {
                    ASSERT_TRUE(std::isfinite(instance.buffer(kOutput1)[static_cast<size_t>(i)]));
                    ASSERT_TRUE(std::isfinite(instance.buffer(kOutput2)[static_cast<size_t>(i)]));
                }
            } else {
                const size_t victim = below(alive.size());
                alive[victim]->close();
                alive.erase(alive.begin() + static_cast<std::ptrdiff_t>(victim));
            }
        }
        EXPECT_EQ(created, kInstances);
        EXPECT_GT(processed, 0);
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

}  // namespace
