// The processing loop runs inside the host's audio callback: it takes nothing
// from the heap, whatever it filters, skips, flushes or redesigns.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "heap_counter.h"
#include "process_test_support.h"

namespace {

using looptest::PinArena;
using looptest::TestModule;

TEST(ProcessHeap, FilteringSkippingAndRedesigningTakeNothingFromTheHeap) {
    if (!heapcount::counting()) GTEST_SKIP() << "the heap counter is left out under AddressSanitizer";
    TestModule module;
    ASSERT_TRUE(module.valid());
    constexpr size_t kLength = 4096;
    PinArena arena(kLength);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> audio(-1.0f, 1.0f);
    for (size_t i = 0; i < kLength; ++i) {
        // Loud stretches, exact silence, one side silent, and a NaN now and then.
        const size_t stretch = i / 512 % 4;
        arena.pin(PIN_INPUT1)[i] = stretch == 1 ? 0.0f : audio(rng);
        arena.pin(PIN_INPUT2)[i] = stretch == 1 || stretch == 2 ? 0.0f : audio(rng);
        if (i % 1000 == 999) arena.pin(PIN_INPUT1)[i] = NAN;
        // Every band's controls move every few polls, through every type.
        for (int band = 0; band < kBandCount; ++band) {
            const float step = static_cast<float>(i / 100 + static_cast<size_t>(band));
            arena.pin(controlPin(band, CONTROL_FREQ))[i] = 10.0f + std::fmod(step * 37.0f, 1900.0f);
            arena.pin(controlPin(band, CONTROL_GAIN))[i] = std::fmod(step, 4.0f) - 2.0f;
            arena.pin(controlPin(band, CONTROL_Q))[i] = 0.05f + std::fmod(step, 3.0f) * 0.1f;
            arena.pin(controlPin(band, CONTROL_TYPE))[i] = std::fmod(step, 11.0f) - 1.0f;
        }
    }
    arena.attach(*module);

    const unsigned long before = heapcount::allocations();
    for (size_t offset = 0; offset < kLength; offset += 256)
        module.process(static_cast<int32_t>(offset), 256);
    EXPECT_EQ(heapcount::allocations() - before, 0ul);
}

}  // namespace
