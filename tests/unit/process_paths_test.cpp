// Every instruction-set path of the loop computes the very bits of the
// sample-by-sample definition: long loud runs through the pipeline (polls on
// the way, controls moving at every poll, bands running away, NaN bursts),
// and the random multi-block runs with every buffer layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "equaliser/kernel_path.h"
#include "equaliser/process_steps.h"
#include "process_test_support.h"

namespace {

using namespace looptest;

struct PathName {
    eq::KernelPath path;
    const char* name;
};

const PathName kAllPaths[] = {
    {eq::KernelPath::Sse2, "sse2"}, {eq::KernelPath::Avx, "avx"}, {eq::KernelPath::Avx512, "avx512"}};

// The paths this processor can run: a path it has not is not tested here
// rather than reported as skipped (a skip's report is a debugger message on
// Windows, which the emulated runner does not survive).
std::vector<PathName> pathsHere() {
    std::vector<PathName> paths;
    for (const PathName& p : kAllPaths)
        if (eq::pathAvailable(p.path)) paths.push_back(p);
    return paths;
}
const std::vector<PathName> kPaths = pathsHere();

// Forces a path for the test's duration (open chooses again, so this comes
// after the modules are made).
class UsingPath {
public:
    explicit UsingPath(eq::KernelPath path) : saved_(eq::kernelPath()), usable_(eq::setKernelPath(path)) {}
    ~UsingPath() { eq::setKernelPath(saved_); }
    bool usable() const { return usable_; }

private:
    eq::KernelPath saved_;
    bool usable_;
};

enum class Loud {
    Steady,
    ControlsMoveAtEveryPoll,
    ControlsFlipBack,
    ControlMovesOnce,
    RunawayBand,
    NaNBurst,
    RingDown,            // silence after 1000 frames, the module's own output left in its places
    SoundReturns,        // the same, and noise again from frame 20000
    RunawayWhileMoving,  // band 3 ran away, and every band's controls move at every poll
    ZeroInputs           // Input1 zero at zeroAt, Input2 at the frame after, both at the call's last
};

constexpr int32_t kSoundStops = 1000;
constexpr int32_t kSoundReturns = 20000;

struct LoudCase {
    const char* name;
    Loud kind;
    int32_t counter;  // poll counter when the run begins
    int32_t offset;
    int32_t count;
    bool inPlace;
    int32_t moveAt = 0;  // ControlMovesOnce: the first sample with band 4's new Q
    int32_t zeroAt = 0;  // ZeroInputs: the frame (from the call's first) of the first zero
    int runawayBand = 2; // RunawayBand: the band pumped beyond any signal (0-based)
    float level = 0.9f;  // the noise's peak: at 1e-37 the delay values lie where a flush clears them
};

const LoudCase kLoudCases[] = {
    {"48 frames, a poll due", Loud::Steady, 32, 0, 48, false},
    {"1000 frames, counter 7", Loud::Steady, 7, 3, 1000, false},
    {"4096 frames in place", Loud::Steady, 19, 0, 4096, true},
    {"129 frames, counter 1", Loud::Steady, 1, 5, 129, false},
    {"controls move at every poll", Loud::ControlsMoveAtEveryPoll, 32, 0, 1000, false},
    {"controls move, counter 13, in place", Loud::ControlsMoveAtEveryPoll, 13, 1, 777, true},
    {"a gain flips back at the next poll", Loud::ControlsFlipBack, 32, 0, 900, false},
    {"a gain flips back, counter 21", Loud::ControlsFlipBack, 21, 3, 700, false},
    // Polls looked at four at a time: a move at the last of four, at the
    // first after them, and at the one after a poll that moved.
    {"a Q moves at the fourth poll", Loud::ControlMovesOnce, 32, 0, 600, false, 96},
    {"a Q moves at the fifth poll", Loud::ControlMovesOnce, 32, 0, 600, false, 128},
    {"a Q moves at the ninth poll, counter 11", Loud::ControlMovesOnce, 11, 2, 600, false, 277},
    {"a band ran away, the poll while filling", Loud::RunawayBand, 25, 0, 300, false},
    {"a band ran away, the poll on the first frame", Loud::RunawayBand, 32, 0, 300, false},
    {"a band ran away, the poll in the steady steps", Loud::RunawayBand, 5, 0, 300, false},
    // Each band's poll looks for a runaway in its own lanes only: a band in
    // each register of every width, band 5 on its own.
    {"band 1 ran away", Loud::RunawayBand, 5, 0, 300, false, 0, 0, 0},
    {"band 2 ran away", Loud::RunawayBand, 5, 0, 300, false, 0, 0, 1},
    {"band 4 ran away", Loud::RunawayBand, 5, 0, 300, false, 0, 0, 3},
    {"band 5 ran away", Loud::RunawayBand, 20, 0, 300, false, 0, 0, 4},
    // Zero inputs flush the bands: in the steady steps (where SSE2 keeps the
    // sections' last inputs in memory) and in a call's last one to three
    // frames, which are marked apart from the whole fours before them.
    {"zeros in the steady steps", Loud::ZeroInputs, 32, 0, 300, false, 0, 100},
    {"zeros in a 15-frame call's last three frames", Loud::ZeroInputs, 32, 0, 15, false, 0, 12},
    {"zeros in a 30-frame call's last frames, in place", Loud::ZeroInputs, 7, 1, 30, true, 0, 27},
    {"zeros in a 5-frame call", Loud::ZeroInputs, 32, 0, 5, false, 0, 2},
    // Zeros in a segment's last frames flush bands 2 to 5 in its draining
    // steps, staged apart from the frames; the noise so faint that the
    // flushes change the delay values. Segments just below and at each
    // path's length for long segments (16 SSE2, 20 AVX, 80 AVX-512), a poll
    // inside, and the end of a whole 1024-frame segment.
    {"faint, zeros at a 16-frame call's end", Loud::ZeroInputs, 20, 0, 16, false, 0, 13, 2, 1e-37f},
    {"faint, zeros at a 19-frame call's end", Loud::ZeroInputs, 20, 0, 19, false, 0, 16, 2, 1e-37f},
    {"faint, zeros at a 20-frame call's end", Loud::ZeroInputs, 20, 0, 20, false, 0, 17, 2, 1e-37f},
    {"faint, zeros at a 79-frame call's end", Loud::ZeroInputs, 3, 0, 79, false, 0, 76, 2, 1e-37f},
    {"faint, zeros at an 80-frame call's end, in place", Loud::ZeroInputs, 3, 0, 80, true, 0, 77, 2, 1e-37f},
    {"faint, zeros at a 1024-frame segment's end", Loud::ZeroInputs, 32, 0, 1030, false, 0, 1021, 2, 1e-37f},
    {"a NaN burst", Loud::NaNBurst, 32, 2, 1500, false},
    {"a NaN burst, in place", Loud::NaNBurst, 9, 0, 600, true},
    // The bands ring down to rest, and the silence is skipped from the very
    // frame the definition skips it; sound resumes from the state the
    // silence left.
    // Designs made ahead of the poll: a band that ran away restarts as it
    // takes its new design, and type changes clear the delay values.
    {"a band ran away while the controls move", Loud::RunawayWhileMoving, 5, 0, 1000, false},
    {"a band ran away while the controls move, in place", Loud::RunawayWhileMoving, 30, 2, 700, true},
    {"a ring-down to rest", Loud::RingDown, 32, 0, 20000, false},
    {"a ring-down to rest, in place, counter 3", Loud::RingDown, 3, 1, 20000, true},
    {"sound returns after rest", Loud::SoundReturns, 17, 0, 24000, false},
    {"sound returns after rest, in place", Loud::SoundReturns, 32, 2, 24000, true},
};

std::ostream& operator<<(std::ostream& os, const LoudCase& c) { return os << c.name; }

class LoudRuns : public ::testing::TestWithParam<std::tuple<LoudCase, PathName>> {};

TEST_P(LoudRuns, EqualTheSampleBySampleDefinition) {
    const LoudCase& c = std::get<0>(GetParam());
    const PathName& path = std::get<1>(GetParam());
    const size_t length = static_cast<size_t>(c.offset + c.count);
    TestModule fast, reference;
    ASSERT_TRUE(fast.valid() && reference.valid());
    UsingPath using_(path.path);
    ASSERT_TRUE(using_.usable()) << path.name;
    PinArena a(length), b(length);
    if (c.inPlace) {
        for (PinArena* arena : {&a, &b}) {
            arena->share(PIN_OUTPUT1, PIN_INPUT1);
            arena->share(PIN_OUTPUT2, PIN_INPUT2);
        }
    }
    a.attach(*fast);
    fillActiveControls(a);
    Rng rng(static_cast<uint64_t>(c.count) * 31 + static_cast<uint64_t>(c.kind));
    fillNoise(a, PIN_INPUT1, rng, c.level);
    fillNoise(a, PIN_INPUT2, rng, c.level);
    if (c.kind == Loud::ControlsMoveAtEveryPoll || c.kind == Loud::RunawayWhileMoving) {
        for (int band = 0; band < kBandCount; ++band)
            for (size_t i = 0; i < length; ++i) {
                const float step = static_cast<float>(i);
                a.pin(controlPin(band, CONTROL_FREQ))[i] = activeBands()[band].freq + 0.37f * step;
                a.pin(controlPin(band, CONTROL_GAIN))[i] = 0.5f - 0.0003f * step;
                a.pin(controlPin(band, CONTROL_Q))[i] = 0.05f + 0.0001f * step;
                a.pin(controlPin(band, CONTROL_TYPE))[i] = static_cast<float>((i / 64) % 9);
            }
    }
    if (c.kind == Loud::ControlsFlipBack) {
        // Band 2's gain takes one value for a poll and the other for the
        // next: each poll must redesign it back.
        for (size_t i = 0; i < length; ++i)
            a.pin(controlPin(1, CONTROL_GAIN))[i] = (i / kPollInterval) % 2 == 0 ? 0.5f : -0.3f;
    }
    if (c.kind == Loud::ControlMovesOnce)
        for (size_t i = static_cast<size_t>(c.offset + c.moveAt); i < length; ++i)
            a.pin(controlPin(3, CONTROL_Q))[i] = 0.31f;
    if (c.kind == Loud::NaNBurst)
        for (size_t i = length / 3; i < length / 3 + 5; ++i) a.pin(PIN_INPUT1)[i] = kNaN;
    if (c.kind == Loud::ZeroInputs) {
        a.pin(PIN_INPUT1)[c.offset + c.zeroAt] = 0.0f;
        a.pin(PIN_INPUT2)[c.offset + c.zeroAt + 1] = -0.0f;
        a.pin(PIN_INPUT1)[length - 1] = a.pin(PIN_INPUT2)[length - 1] = 0.0f;
    }
    if (c.kind == Loud::RingDown || c.kind == Loud::SoundReturns) {
        const size_t end = c.kind == Loud::RingDown ? length : static_cast<size_t>(c.offset + kSoundReturns);
        for (size_t i = static_cast<size_t>(c.offset + kSoundStops); i < end; ++i)
            a.pin(PIN_INPUT1)[i] = a.pin(PIN_INPUT2)[i] = 0.0f;
        // The output places keep what stood there: the loop never reads them.
    }
    b.copyContents(a);
    b.attach(*reference);

    // A first frame designs every band; then the counter is set.
    fast.process(0, 1);
    reference.processSampleBySample(0, 1);
    fast->pollCounter = reference->pollCounter = c.counter;
    if (c.kind == Loud::RunawayBand || c.kind == Loud::RunawayWhileMoving)
        for (TestModule* module : {&fast, &reference}) {
            // A band pumped beyond any signal: it restarts at its first poll.
            BandFilter& band = *(*module)->bands[c.kind == Loud::RunawayBand ? c.runawayBand : 2];
            band.leftY1 = band.rightY2 = 1e30;
        }
    fast.process(c.offset, c.count);
    reference.processSampleBySample(c.offset, c.count);

    EXPECT_TRUE(sameSamples(a.storage(), b.storage()));
    EXPECT_TRUE(sameState(stateOf(*fast), stateOf(*reference)));
    if (c.kind == Loud::RingDown) {
        // The run did come to rest: its last frames were let through.
        EXPECT_TRUE(eq::filtersAtRest(*reference));
        EXPECT_TRUE(sameBits(b.pin(PIN_OUTPUT1)[length - 1], 0.0f));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pipeline, LoudRuns, ::testing::Combine(::testing::ValuesIn(kLoudCases), ::testing::ValuesIn(kPaths)),
    [](const ::testing::TestParamInfo<std::tuple<LoudCase, PathName>>& info) {
        std::string name = std::string(std::get<1>(info.param).name) + "_" + std::get<0>(info.param).name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

// Every way the tests lay the pins over one another.
const Sharing kLayouts[] = {
    {"separate buffers", {}, 0},
    {"both outputs in place", {{PIN_OUTPUT1, PIN_INPUT1, 0}, {PIN_OUTPUT2, PIN_INPUT2, 0}}, 2},
    {"Output1 on Freq1", {{PIN_OUTPUT1, controlPin(0, CONTROL_FREQ), 0}}, 1},
    // A host that swaps the sides in place: a frame's outputs land on
    // the other side's input, so both must be read before either is
    // written.
    {"outputs crossed over the inputs",
     {{PIN_OUTPUT1, PIN_INPUT2, 0}, {PIN_OUTPUT2, PIN_INPUT1, 0}},
     2},
    // Output2's sample stays where both outputs share one buffer.
    {"both outputs on one buffer", {{PIN_OUTPUT2, PIN_OUTPUT1, 0}}, 1},
    // Outputs that partly overlap an input: taken sample by sample.
    {"Output1 one sample past Input1", {{PIN_OUTPUT1, PIN_INPUT1, 1}}, 1},
    {"Output2 one sample before Input2", {{PIN_OUTPUT2, PIN_INPUT2, -1}}, 1},
};

class RandomRunsOnEveryPath : public ::testing::TestWithParam<PathName> {};

TEST_P(RandomRunsOnEveryPath, AgreeWithTheDefinitionAndTheModel) {
    for (const Sharing& layout : kLayouts)
        for (uint64_t seed = 300; seed < 306; ++seed) {
            expectAgreementOnRandomRun(layout, seed, 30, seed % 2 == 0, nullptr, GetParam().path);
            if (HasFatalFailure()) return;
        }
}

// Every call length from 1 to 300 frames in turn, at random offsets, on the
// random material, in every layout: each call agrees with the definition and
// the model on every buffer word and on the loop state.
TEST_P(RandomRunsOnEveryPath, AgreeAtEveryCallLengthInEveryLayout) {
    struct Restore {
        eq::KernelPath saved = eq::kernelPath();
        ~Restore() { eq::setKernelPath(saved); }
    } restore;
    for (const Sharing& layout : kLayouts) {
        AgreementRun run(layout, ScenarioWriter(900 + static_cast<uint64_t>(&layout - kLayouts), true),
                         GetParam().path);
        ASSERT_TRUE(run.valid()) << GetParam().name;
        for (int32_t count = 1; count <= static_cast<int32_t>(AgreementRun::kLength); ++count)
            ASSERT_TRUE(run.nextBlock(nullptr, count)) << layout.name << ", " << count << " frames";
    }
}

// Calls longer than the block kernel's longest segment (1024 frames) go in
// several segments, each filling and draining the skew and taking the polls
// that fall in it; an output on a control pin ends them at polls. Around
// those lengths too every call agrees with the definition, in every layout.
TEST_P(RandomRunsOnEveryPath, AgreeOverSeveralSegmentsInEveryLayout) {
    struct Restore {
        eq::KernelPath saved = eq::kernelPath();
        ~Restore() { eq::setKernelPath(saved); }
    } restore;
    const int32_t counts[] = {1023, 1024, 1025, 1057, 2048, 2085, 3001, 40, 3100};
    for (const Sharing& layout : kLayouts) {
        AgreementRun run(layout, ScenarioWriter(1700 + static_cast<uint64_t>(&layout - kLayouts), true),
                         GetParam().path, 3100);
        ASSERT_TRUE(run.valid()) << GetParam().name;
        for (int32_t count : counts)
            ASSERT_TRUE(run.nextBlock(nullptr, count)) << layout.name << ", " << count << " frames";
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, RandomRunsOnEveryPath, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<PathName>& info) {
                             return std::string(info.param.name);
                         });

// A host that gives each pin one buffer and hands the module back what it
// wrote there: loud noise, then silence, called at one length throughout.
// Once the bands have rung down, the silence is skipped on every path
// whatever the module's own ring left in the output places: the counter and
// every delay value stand still and the outputs are the silent inputs, bit
// for bit as the sample-by-sample definition gives them at every call.
struct HostCall {
    int32_t frames;
    bool inPlace;
};

std::ostream& operator<<(std::ostream& os, const HostCall& c) {
    return os << c.frames << (c.inPlace ? " frames in place" : " frames");
}

const HostCall kHostCalls[] = {{1, false},   {8, false},  {32, false},  {64, false}, {256, false},
                               {1024, false}, {8, true},  {64, true},   {1024, true}};

class SilenceInTheModulesOwnBuffers
    : public ::testing::TestWithParam<std::tuple<HostCall, PathName>> {};

TEST_P(SilenceInTheModulesOwnBuffers, IsSkippedOnceTheBandsRest) {
    const HostCall& call = std::get<0>(GetParam());
    const PathName& path = std::get<1>(GetParam());
    constexpr int32_t kLoudFrames = 4096;
    constexpr int32_t kLongestRingFrames = 24000;
    constexpr int32_t kRestingFrames = 4096;
    TestModule fast, reference;
    ASSERT_TRUE(fast.valid() && reference.valid());
    UsingPath using_(path.path);
    ASSERT_TRUE(using_.usable()) << path.name;
    const size_t length = static_cast<size_t>(call.frames);
    PinArena a(length), b(length);
    for (PinArena* arena : {&a, &b}) {
        if (call.inPlace) {
            arena->share(PIN_OUTPUT1, PIN_INPUT1);
            arena->share(PIN_OUTPUT2, PIN_INPUT2);
        }
        fillActiveControls(*arena);
    }
    a.attach(*fast);
    b.attach(*reference);
    Rng rng(static_cast<uint64_t>(call.frames) * 7 + call.inPlace);
    auto oneCall = [&](bool loud) {
        if (loud) {
            fillNoise(a, PIN_INPUT1, rng, 1.0f);
            fillNoise(a, PIN_INPUT2, rng, 1.0f);
        } else {
            a.fill(PIN_INPUT1, 0.0f);
            a.fill(PIN_INPUT2, -0.0f);
        }
        for (int pin : {PIN_INPUT1, PIN_INPUT2})
            std::copy_n(a.pin(pin), length, b.pin(pin));
        fast.process(0, call.frames);
        reference.processSampleBySample(0, call.frames);
    };
    for (int32_t frame = 0; frame < kLoudFrames; frame += call.frames) oneCall(true);
    ASSERT_TRUE(sameSamples(a.storage(), b.storage()));
    ASSERT_TRUE(sameState(stateOf(*fast), stateOf(*reference)));
    // The module's own output stands in the output places, not zero.
    if (!call.inPlace) {
        ASSERT_NE(a.pin(PIN_OUTPUT1)[length - 1], 0.0f);
    }

    int32_t silentFrames = 0;
    while (!eq::filtersAtRest(*fast) && silentFrames < kLongestRingFrames) {
        oneCall(false);
        silentFrames += call.frames;
        ASSERT_TRUE(sameSamples(a.storage(), b.storage())) << "after " << silentFrames << " silent frames";
        ASSERT_TRUE(sameState(stateOf(*fast), stateOf(*reference))) << "after " << silentFrames;
    }
    ASSERT_TRUE(eq::filtersAtRest(*fast)) << "still ringing after " << silentFrames << " frames";

    const LoopState atRest = stateOf(*fast);
    for (int32_t frame = 0; frame < kRestingFrames; frame += call.frames) {
        oneCall(false);
        ASSERT_TRUE(sameSamples(a.storage(), b.storage()));
        ASSERT_TRUE(sameState(stateOf(*fast), stateOf(*reference)));
        LoopState expected = atRest;
        expected.leftSample = 0.0f;
        expected.rightSample = -0.0f;
        ASSERT_TRUE(sameState(stateOf(*fast), expected)) << "silence through resting bands was filtered";
        for (size_t i = 0; i < length; ++i) {
            ASSERT_TRUE(sameBits(a.pin(PIN_OUTPUT1)[i], 0.0f)) << i;
            ASSERT_TRUE(sameBits(a.pin(PIN_OUTPUT2)[i], -0.0f)) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    HostBuffers, SilenceInTheModulesOwnBuffers,
    ::testing::Combine(::testing::ValuesIn(kHostCalls), ::testing::ValuesIn(kPaths)),
    [](const ::testing::TestParamInfo<std::tuple<HostCall, PathName>>& info) {
        const HostCall& c = std::get<0>(info.param);
        return std::string(std::get<1>(info.param).name) + "_" + std::to_string(c.frames) +
               (c.inPlace ? "_in_place" : "_frames");
    });

// QUORVANE_KERNEL picks a path at open: "sse2" and "avx" step down from the
// best the processor has, never up to a path it has not; anything else (or
// nothing) takes the best.
class KernelChoice : public ::testing::Test {
protected:
    void TearDown() override {
        setAsked(saved_.empty() ? nullptr : saved_.c_str());
        eq::setKernelPath(savedPath_);
    }
    static void setAsked(const char* value) {
#ifdef _WIN32
        _putenv_s("QUORVANE_KERNEL", value != nullptr ? value : "");
#else
        if (value != nullptr)
            setenv("QUORVANE_KERNEL", value, 1);
        else
            unsetenv("QUORVANE_KERNEL");
#endif
    }

private:
    const char* const asked_ = std::getenv("QUORVANE_KERNEL");
    const std::string saved_ = asked_ != nullptr ? asked_ : "";
    const eq::KernelPath savedPath_ = eq::kernelPath();
};

TEST_F(KernelChoice, FollowsTheAskedPathDownButNeverBeyondTheProcessor) {
    const eq::KernelPath best = eq::avx512Available() ? eq::KernelPath::Avx512
                                : eq::avxAvailable()  ? eq::KernelPath::Avx
                                                      : eq::KernelPath::Sse2;
    const eq::KernelPath avxOrBest = best == eq::KernelPath::Avx512 ? eq::KernelPath::Avx : best;
    const struct {
        const char* asked;
        eq::KernelPath expected;
    } cases[] = {
        {nullptr, best}, {"avx512", best}, {"avx", avxOrBest}, {"sse2", eq::KernelPath::Sse2},
        {"AVX", best},   {"bogus", best},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked != nullptr ? c.asked : "(unset)");
        setAsked(c.asked);
        eq::chooseKernelPath();
        EXPECT_STREQ(eq::pathName(eq::kernelPath()), eq::pathName(c.expected));
    }
}

}  // namespace
