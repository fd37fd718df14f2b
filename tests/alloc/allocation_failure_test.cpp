// What an instance does when memory runs out while it is made or opened: the
// host gets a null record, or the instance stays on the do-nothing process
// function with no filters, releases what it did allocate, and closes safely.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

#include "equaliser/module.h"
#include "tests/unit/equaliser_fixture.h"
#include "tests/unit/recording_module.h"

namespace {

// The library allocates only with the nothrow form; the next allocation of
// `failingSize` bytes after `passesLeft` more of that size fails.
size_t failingSize = 0;
int passesLeft = 0;

bool failsNow(size_t size) {
    if (failingSize == 0 || size != failingSize) return false;
    if (passesLeft > 0) {
        --passesLeft;
        return false;
    }
    failingSize = 0;  // one failure only
    return true;
}

void failAllocation(size_t size, int after = 0) {
    failingSize = size;
    passesLeft = after;
}

}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (failsNow(size)) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

using hostif::FakeHost;

// Allocations fail only while a test asks; the instance then closes with the
// ordinary allocator.
struct Equaliser : hostif::Equaliser {
    ~Equaliser() { failingSize = 0; }
    void expectIdle() {
        EXPECT_EQ(record->processEntry, &SEModule_base::doNothingProcess);
        EXPECT_EQ(module->currentProcess().function, &SEModule_base::doNothingProcess);
        for (BandFilter* band : module->bands) EXPECT_EQ(band, nullptr);
    }
};

TEST(MakeModuleOutOfMemory, GivesTheHostANullRecord) {
    FakeHost host;
    failAllocation(sizeof(Module));
    EXPECT_EQ(makeModule(0, 1, &FakeHost::callback, host.hostValue()), nullptr);
    EXPECT_TRUE(host.requests.empty());
}

class OpenOutOfMemory : public ::testing::TestWithParam<int> {};

TEST_P(OpenOutOfMemory, AFilterThatCannotBeMadeLeavesTheInstanceIdle) {
    const int failingBand = GetParam();
    Equaliser eq;
    ASSERT_NE(eq.record, nullptr);
    failAllocation(sizeof(BandFilter), failingBand);
    EXPECT_EQ(eq.dispatch(MOD_OPEN), 0);
    EXPECT_EQ(failingSize, 0u) << "a filter allocation failed";
    eq.expectIdle();
    EXPECT_EQ(eq.processFunctionChanges(), 0);
    eq.record->processEntry(eq.record->object, 0, 64);  // does nothing, reads nothing
}

TEST(ReopenOutOfMemory, FallsBackToIdleAndAGoodOpenRecovers) {
    const int failingBand = kBandCount - 1;
    Equaliser eq;
    ASSERT_NE(eq.record, nullptr);
    eq.dispatch(MOD_OPEN);
    ASSERT_EQ(eq.record->processEntry, &process);

    failAllocation(sizeof(BandFilter), failingBand);
    eq.dispatch(MOD_OPEN);
    EXPECT_EQ(failingSize, 0u) << "a filter allocation failed";
    eq.expectIdle();
    EXPECT_EQ(eq.processFunctionChanges(), 2)
        << "the host hears of each change of process function";

    eq.dispatch(MOD_OPEN);
    EXPECT_EQ(eq.record->processEntry, &process);
    for (BandFilter* band : eq.module->bands) EXPECT_NE(band, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Bands, OpenOutOfMemory, ::testing::Range(0, kBandCount),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "band" + std::to_string(info.param + 1);
                         });

TEST(OpenOutOfMemory, APinTableThatCannotBeMadeLeavesTheInstanceIdle) {
    Equaliser eq;
    ASSERT_NE(eq.record, nullptr);
    // The table for 24 pins: the count word padded to a pin's alignment, then
    // the pins; no other allocation during open has this size.
    const size_t tableBytes =
        (sizeof(int32_t) + alignof(SEPin) - 1) / alignof(SEPin) * alignof(SEPin) +
        kPinCount * sizeof(SEPin);
    failAllocation(tableBytes);
    eq.dispatch(MOD_OPEN);
    eq.expectIdle();
    EXPECT_EQ(eq.module->pinTable(), nullptr);
    EXPECT_EQ(failingSize, 0u) << "the pin table allocation was the one that failed";
}

}  // namespace
