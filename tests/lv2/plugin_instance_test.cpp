// The bundle's binary loaded as a host loads it and driven in-process: every
// sample rate a host may use, run() call sizes that must not matter, the
// host's floating-point mode, restarts, several rates side by side, the flat
// defaults, the bypass, output gain and band switches, and run() taking
// nothing from the heap.
#include <gtest/gtest.h>

#include <cstring>
#include <cstdlib>

#include "lv2/inline_display.h"
#include "lv2/port_table.h"
#include "tests/lv2/lv2_test_support.h"
#include "tests/unit/heap_counter.h"
#include "tools/render_settings.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace {

using lv2test::Band;
using lv2test::PluginInstance;

const std::vector<Band> kFiveBells = {
    {6, 100, 1, 3}, {6, 400, 1, -2}, {6, 1000, 1, 1.5}, {6, 4000, 1, -4}, {6, 10000, 1, 6}};

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

class PluginInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(library_.descriptor(), nullptr) << "cannot load the bundle's binary"; }
    const LV2_Descriptor* descriptor() const { return library_.descriptor(); }
    lv2test::PluginLibrary library_;
};

class EveryRate : public PluginInstanceTest, public ::testing::WithParamInterface<double> {};

// The output is the same whether a host runs one frame at a time, in odd
// sizes that straddle the instance's internal chunks, in large blocks, or
// in place.
TEST_P(EveryRate, InstantiatesAndRendersTheSameForAnyCallSizeAndInPlace) {
    const double rate = GetParam();
    const std::vector<float> input = lv2test::stereoMaterial(12000, 7);
    std::vector<std::vector<float>> outputs;
    for (size_t callFrames : {size_t{1}, size_t{333}, size_t{1024}, size_t{4096}}) {
        PluginInstance instance(descriptor(), rate, kFiveBells);
        ASSERT_TRUE(instance.valid()) << rate << " Hz";
        outputs.push_back(instance.render(input, callFrames));
    }
    // Hosts commonly hand an output the buffer of its input.
    PluginInstance inPlace(descriptor(), rate, kFiveBells);
    outputs.push_back(inPlace.render(input, 333, true));
    for (float sample : outputs[0]) ASSERT_TRUE(std::isfinite(sample));
    EXPECT_FALSE(sameBits(outputs[0], input)) << "the bands should filter";
    for (size_t i = 1; i < outputs.size(); ++i) EXPECT_TRUE(sameBits(outputs[0], outputs[i])) << "run " << i;
}

INSTANTIATE_TEST_SUITE_P(Rates, EveryRate,
                         ::testing::Values(8000.0, 11025.0, 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0,
                                           192000.0, 352800.0, 384000.0),
                         [](const ::testing::TestParamInfo<double>& info) {
                             return std::to_string(static_cast<int>(info.param)) + "Hz";
                         });

// Instances at different rates live side by side, each sounding as it does
// alone, whichever was made last.
TEST_F(PluginInstanceTest, InstancesAtDifferentRatesEachKeepTheirOwn) {
    const std::vector<float> input = lv2test::stereoMaterial(6000, 3);
    std::vector<float> alone[2];
    const double rates[2] = {48000.0, 96000.0};
    for (int i = 0; i < 2; ++i) {
        PluginInstance instance(descriptor(), rates[i], kFiveBells);
        ASSERT_TRUE(instance.valid());
        alone[i] = instance.render(input, 256);
    }
    EXPECT_FALSE(sameBits(alone[0], alone[1])) << "the rates should design apart";
    PluginInstance first(descriptor(), rates[0], kFiveBells);
    PluginInstance second(descriptor(), rates[1], kFiveBells);
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(second.valid());
    EXPECT_TRUE(sameBits(first.render(input, 256), alone[0]));
    EXPECT_TRUE(sameBits(second.render(input, 256), alone[1]));
}

TEST_F(PluginInstanceTest, UnusableRatesAreRefused) {
    for (double rate : {0.0, -48000.0, std::nan(""), HUGE_VAL}) {
        PluginInstance instance(descriptor(), rate, kFiveBells);
        EXPECT_FALSE(instance.valid()) << rate;
    }
}

// A host that reactivates an instance gets a freshly started equaliser.
TEST_F(PluginInstanceTest, ActivationStartsFromSilence) {
    const std::vector<float> input = lv2test::stereoMaterial(5000, 3);
    PluginInstance instance(descriptor(), 48000.0, kFiveBells);
    ASSERT_TRUE(instance.valid());
    const std::vector<float> first = instance.render(input, 700);
    descriptor()->deactivate(instance.handle());
    descriptor()->activate(instance.handle());
    EXPECT_TRUE(sameBits(first, instance.render(input, 700)));
}

// After sound the bands ring down to rest within a fraction of a second,
// and from then on silence goes through untouched: exact zeros out, though
// the plug-in leaves the module's own ring standing in its output buffers.
TEST_F(PluginInstanceTest, SilenceAfterSoundComesToRestAndPassesThrough) {
    constexpr size_t kRate = 48000;
    std::vector<float> input = lv2test::stereoMaterial(kRate / 2, 5);
    input.resize(2 * (kRate / 2 + 3 * kRate), 0.0f);
    PluginInstance instance(descriptor(), static_cast<double>(kRate), kFiveBells);
    ASSERT_TRUE(instance.valid());
    const std::vector<float> output = instance.render(input, 1024);
    for (size_t i = input.size() - 2 * kRate; i < input.size(); ++i)
        ASSERT_EQ(output[i], 0.0f) << "frame " << i / 2;
}

// Control ports the host left unconnected read as their defaults.
TEST_F(PluginInstanceTest, UnconnectedControlsTakeTheirDefaults) {
    const std::vector<float> input = lv2test::stereoMaterial(3000, 9);
    PluginInstance defaults(descriptor(), 48000.0, lv2test::defaultBands());
    PluginInstance unconnected(descriptor(), 48000.0, {}, false);
    ASSERT_TRUE(unconnected.valid());
    EXPECT_TRUE(sameBits(defaults.render(input, 512), unconnected.render(input, 512)));
}

// A new instance is flat: whatever comes in goes out within rounding.
TEST_F(PluginInstanceTest, DefaultsAreFlat) {
    const std::vector<float> input = lv2test::stereoMaterial(24000, 4);
    PluginInstance instance(descriptor(), 48000.0, {}, false);
    const std::vector<float> output = instance.render(input, 512);
    for (size_t i = 0; i < input.size(); ++i) ASSERT_NEAR(output[i], input[i], 1e-6f) << "sample " << i;
}

// A control a host sets to NaN counts as its default rather than turning
// the output into NaN; infinities are clamped by the module.
TEST_F(PluginInstanceTest, NonFiniteControlsKeepTheOutputFinite) {
    const std::vector<float> input = lv2test::stereoMaterial(4000, 5);
    const double nan = std::nan("");
    PluginInstance reference(descriptor(), 48000.0, lv2test::defaultBands());
    const std::vector<float> expected = reference.render(input, 512);
    const std::vector<std::vector<Band>> broken = {
        {{6, nan, 3, 0}, {6, 10, nan, 0}, {6, 10, 3, nan}, {int(0x80000000), 10, 3, 0}, {6, nan, nan, nan}},
    };
    for (const std::vector<Band>& bands : broken) {
        PluginInstance instance(descriptor(), 48000.0, bands);
        const std::vector<float> got = instance.render(input, 512);
        for (float sample : got) ASSERT_TRUE(std::isfinite(sample));
    }
    // Every band control NaN, and the bypass, gain and switches too.
    std::vector<Band> nanBands;
    for (const Band& band : lv2test::defaultBands()) nanBands.push_back({band.type, nan, nan, nan});
    PluginInstance nanEverywhere(descriptor(), 48000.0, nanBands);
    for (uint32_t port : {uint32_t{qvlv2::PORT_ENABLED}, uint32_t{qvlv2::PORT_OUTPUT_GAIN}, qvlv2::bandOnPort(0),
                          qvlv2::bandOnPort(4)})
        nanEverywhere.set(port, static_cast<float>(nan));
    EXPECT_TRUE(sameBits(expected, nanEverywhere.render(input, 512)));
    const double inf = HUGE_VAL;
    PluginInstance infinite(descriptor(), 48000.0, {{6, inf, 1, inf}, {0, -inf, inf, 0}, {7, 100, inf, -inf},
                                                    {6, 1000, -inf, 3}, {4, 2000, 1, 0}});
    infinite.set(qvlv2::PORT_OUTPUT_GAIN, static_cast<float>(inf));
    for (float sample : infinite.render(input, 512)) ASSERT_TRUE(std::isfinite(sample));
}

// A band that is off passes its signal unchanged whatever its settings: with
// all five off the output is the input bit for bit, and what an off band is
// set to makes no difference.
TEST_F(PluginInstanceTest, BandsSwitchedOffPassThrough) {
    const std::vector<float> input = lv2test::stereoMaterial(6000, 8);
    const auto render = [&](const std::vector<Band>& bands, std::vector<uint32_t> off) {
        PluginInstance instance(descriptor(), 48000.0, bands);
        for (uint32_t band : off) instance.set(qvlv2::bandOnPort(band), 0.0f);
        return instance.render(input, 700);
    };
    const std::vector<Band> loud = {{6, 100, 1, 12}, {0, 300, 0.01, 0}, {6, 1000, 1, -12}, {4, 3000, 1, 0},
                                    {8, 8000, 0.7, 12}};
    EXPECT_TRUE(sameBits(render(loud, {0, 1, 2, 3, 4}), input));
    std::vector<Band> other = loud;
    other[2] = {1, 5000, 0.2, 0};
    EXPECT_TRUE(sameBits(render(loud, {2}), render(other, {2})));
    EXPECT_FALSE(sameBits(render(loud, {2}), render(loud, {})));
}

// A type number outside the responses, after truncation toward zero as the
// module reads its type pin, has no response: the band goes flat, exactly
// as when it is switched off. Within the range a fraction truncates.
TEST_F(PluginInstanceTest, TypesOutsideTheResponsesGoFlat) {
    const std::vector<float> input = lv2test::stereoMaterial(6000, 12);
    const auto render = [&](float type, bool on) {
        std::vector<Band> bands = kFiveBells;
        PluginInstance instance(descriptor(), 48000.0, bands);
        instance.set(qvlv2::controlPort(2, qvlv2::BAND_TYPE), type);
        instance.set(qvlv2::bandOnPort(2), on ? 1.0f : 0.0f);
        return instance.render(input, 512);
    };
    const std::vector<float> off = render(6.0f, false);
    for (float type : {9.0f, 9.5f, 12.0f, -1.0f, -3.7f, 1e9f, -1e9f}) EXPECT_TRUE(sameBits(render(type, true), off)) << type;
    for (std::pair<float, float> same : {std::pair<float, float>{8.9f, 8.0f}, {-0.7f, 0.0f}, {6.5f, 6.0f}}) {
        EXPECT_TRUE(sameBits(render(same.first, true), render(same.second, true))) << same.first;
        EXPECT_FALSE(sameBits(render(same.first, true), off)) << same.first;
    }
}

// The bypass and the output gain move without a click and are exact outside
// their fades: before a move and after its 5 ms the output is the
// equaliser's (bit for bit as an instance that never moved), the input
// (bypassed), or the equaliser's scaled as quorvane-render scales it.
struct Move {
    size_t frame;
    uint32_t port;
    float value;
};
enum class Source { Equaliser, Input, Scaled };
struct Stretch {
    size_t from, to;  // frames
    Source source;
    double gainDb = 0.0;  // of Source::Scaled
};
struct MoveCase {
    const char* name;
    float enabled, gainDb;  // at the start
    std::vector<Move> moves;
    std::vector<Stretch> exact;
};

constexpr size_t kFade = 240;  // 5 ms at 48 kHz
const MoveCase kMoveCases[] = {
    {"bypass", 1, 0, {{4800, qvlv2::PORT_ENABLED, 0}},
     {{0, 4800, Source::Equaliser}, {4800 + kFade, 9600, Source::Input}}},
    {"unbypass", 0, 0, {{4800, qvlv2::PORT_ENABLED, 1}},
     {{0, 4800, Source::Input}, {4800 + kFade, 9600, Source::Equaliser}}},
    {"bypass_and_back_within_the_fade", 1, 0, {{4800, qvlv2::PORT_ENABLED, 0}, {4900, qvlv2::PORT_ENABLED, 1}},
     {{0, 4800, Source::Equaliser}, {4900 + kFade, 9600, Source::Equaliser}}},
    {"gain_down", 1, 0, {{4800, qvlv2::PORT_OUTPUT_GAIN, -12}},
     {{0, 4800, Source::Equaliser}, {4800 + kFade, 9600, Source::Scaled, -12}}},
    {"gain_up_from_a_gain", 1, -12, {{4800, qvlv2::PORT_OUTPUT_GAIN, 3.7f}},
     {{0, 4800, Source::Scaled, -12}, {4800 + kFade, 9600, Source::Scaled, 3.7}}},
    {"gain_while_bypassed", 0, 0, {{4800, qvlv2::PORT_OUTPUT_GAIN, -12}}, {{0, 9600, Source::Input}}},
    {"bypass_during_a_gain_move", 1, 0,
     {{4800, qvlv2::PORT_OUTPUT_GAIN, -12}, {4900, qvlv2::PORT_ENABLED, 0}},
     {{0, 4800, Source::Equaliser}, {4900 + kFade, 9600, Source::Input}}},
};

void PrintTo(const MoveCase& c, std::ostream* os) { *os << c.name; }

class ControlMoves : public PluginInstanceTest, public ::testing::WithParamInterface<MoveCase> {};

double largestStep(const std::vector<float>& interleaved) {
    double step = 0.0;
    for (size_t i = 2; i < interleaved.size(); ++i)
        step = std::max(step, std::fabs(double(interleaved[i]) - double(interleaved[i - 2])));
    return step;
}

TEST_P(ControlMoves, FadeWithoutClicksAndAreExactOutsideTheFades) {
    const MoveCase& c = GetParam();
    std::vector<float> input(9600 * 2);
    for (size_t i = 0; i < 9600; ++i) {
        input[2 * i] = 0.2f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * i / 48000.0));
        input[2 * i + 1] = 0.2f * static_cast<float>(std::sin(2 * M_PI * 1700.0 * i / 48000.0));
    }
    std::vector<Band> bands = lv2test::defaultBands();
    bands[2] = {6, 1000, 1, 12};
    PluginInstance still(descriptor(), 48000.0, bands);
    const std::vector<float> equalised = still.render(input, 100);

    PluginInstance moving(descriptor(), 48000.0, bands);
    moving.set(qvlv2::PORT_ENABLED, c.enabled);
    moving.set(qvlv2::PORT_OUTPUT_GAIN, c.gainDb);
    const std::vector<float> got = moving.render(input, 100, false, [&](size_t frame) {
        for (const Move& move : c.moves)
            if (move.frame == frame) moving.set(move.port, move.value);
    });

    for (const Stretch& stretch : c.exact) {
        const double gain = std::pow(10.0, stretch.gainDb / 20.0);  // as quorvane-render's --gain
        for (size_t i = 2 * stretch.from; i < 2 * stretch.to; ++i) {
            const float want = stretch.source == Source::Input       ? input[i]
                               : stretch.source == Source::Equaliser ? equalised[i]
                                                                     : static_cast<float>(equalised[i] * gain);
            ASSERT_EQ(got[i], want) << "frame " << i / 2 << " channel " << i % 2;
        }
    }
    // Crossfading or scaling steps no further between two frames than the
    // signals themselves do, plus the fade's own share: a switch from one
    // to the other in a frame would step by their whole difference.
    double largest = 0.0;
    for (size_t i = 0; i < input.size(); ++i)
        largest = std::max({largest, std::fabs(double(input[i])), 4.0 * std::fabs(double(equalised[i]))});
    const double bound = std::max(largestStep(input), 4.0 * largestStep(equalised)) + 2.0 * largest / kFade;
    EXPECT_LE(largestStep(got), bound);
}

INSTANTIATE_TEST_SUITE_P(Moves, ControlMoves, ::testing::ValuesIn(kMoveCases),
                         [](const ::testing::TestParamInfo<MoveCase>& info) { return info.param.name; });

#if defined(__SSE__) || defined(__x86_64__)
// Hosts commonly flush denormals to zero on their audio threads; run()
// computes in the processor's default mode all the same, and hands the
// host's mode back.
TEST_F(PluginInstanceTest, HostFlushToZeroModeChangesNothing) {
    std::vector<float> input = lv2test::stereoMaterial(6000, 11);
    for (float& sample : input) sample *= 1e-36f;  // filter states pass through the denormal range
    PluginInstance plain(descriptor(), 48000.0, kFiveBells);
    const std::vector<float> expected = plain.render(input, 256);

    const unsigned int saved = _mm_getcsr();
    const unsigned int hostMode = saved | 0x8040;  // flush to zero, denormals are zero
    _mm_setcsr(hostMode);
    PluginInstance flushing(descriptor(), 48000.0, kFiveBells);
    const std::vector<float> got = flushing.render(input, 256);
    const unsigned int after = _mm_getcsr();
    _mm_setcsr(saved);
    EXPECT_EQ(after, hostMode);
    EXPECT_TRUE(sameBits(expected, got));
}
#endif

// run() takes nothing from the heap, whatever moves, and asks the host to
// redraw the picture exactly when a control changed.
TEST_F(PluginInstanceTest, RunTakesNothingFromTheHeapAndAsksForRedrawsOnChanges) {
    if (!heapcount::counting()) GTEST_SKIP() << "the sanitizer's allocator is in place";
    int redraws = 0;
    qvlv2::InlineDisplayQueue queue = {&redraws, [](void* count) { ++*static_cast<int*>(count); }};
    const LV2_Feature feature = {qvlv2::kInlineDisplayQueueDrawUri, &queue};
    const LV2_Feature* features[] = {&feature, nullptr};
    PluginInstance instance(descriptor(), 48000.0, kFiveBells, true, features);
    ASSERT_TRUE(instance.valid());
    std::vector<float> in(8192, 0.25f), out(8192);
    for (size_t i = 0; i < in.size(); i += 3) in[i] = -0.5f;
    for (uint32_t port : {qvlv2::PORT_IN_LEFT, qvlv2::PORT_IN_RIGHT})
        descriptor()->connect_port(instance.handle(), port, in.data());
    for (uint32_t port : {qvlv2::PORT_OUT_LEFT, qvlv2::PORT_OUT_RIGHT})
        descriptor()->connect_port(instance.handle(), port, out.data());
    struct Step {
        uint32_t frames;
        uint32_t port;  // 0: nothing moves
        float value;
        bool redraw;
    };
    const Step steps[] = {
        {1, 0, 0, true},  // the first run takes every control
        {511, 0, 0, false},
        {513, qvlv2::controlPort(0, qvlv2::BAND_FREQ), 250.0f, true},
        {8192, 0, 0, false},
        {700, qvlv2::PORT_ENABLED, 0.0f, true},  // a fade starts and runs on
        {64, 0, 0, false},
        {700, qvlv2::PORT_OUTPUT_GAIN, -6.0f, true},
        {700, qvlv2::bandOnPort(2), 0.0f, true},
        {700, qvlv2::PORT_ENABLED, 1.0f, true},
        {0, qvlv2::controlPort(4, qvlv2::BAND_TYPE), 0.0f, true},
        {300, 0, 0, false},
    };
    const unsigned long before = heapcount::allocations();
    int expected = 0;
    for (const Step& step : steps) {
        if (step.port != 0) instance.set(step.port, step.value);
        descriptor()->run(instance.handle(), step.frames);
        expected += step.redraw ? 1 : 0;
        EXPECT_EQ(redraws, expected) << "after " << step.frames << " frames moving port " << step.port;
    }
    EXPECT_EQ(heapcount::allocations(), before);
}

// The defaults are flat (gain-bearing responses at 0 dB), spread low to
// high, each with the width quorvane-render gives its response when none is
// written, so the flat preset and a render of "N=RESPONSE,FREQ" agree.
TEST(PortTable, DefaultsAreFlatSpreadAndTheRenderToolsOwnWidths) {
    float lastHz = 0.0f;
    for (uint32_t band = 0; band < qvlv2::kBands; ++band) {
        const qvlv2::BandDefault& d = qvlv2::kBandDefaults[band];
        SCOPED_TRACE("band " + std::to_string(band + 1));
        EXPECT_TRUE(qvtools::hasGain(static_cast<int>(d.type)));
        EXPECT_EQ(d.gainDb, 0.0f);
        EXPECT_GT(d.freqHz, 2.0f * lastHz) << "at least an octave above the band below";
        lastHz = d.freqHz;
        qvtools::BandOption option;
        std::string error;
        ASSERT_TRUE(qvtools::parseBandOption(std::to_string(band + 1) + "=" +
                                                 qvtools::responseName(static_cast<int>(d.type)) + "," +
                                                 std::to_string(static_cast<int>(d.freqHz)) + "Hz",
                                             &option, &error))
            << error;
        EXPECT_EQ(static_cast<float>(option.setting.width), d.width);
        EXPECT_EQ(option.setting.freqHz, d.freqHz);
    }
    EXPECT_LT(qvlv2::kBandDefaults[0].freqHz, 100.0f);
    EXPECT_GT(qvlv2::kBandDefaults[qvlv2::kBands - 1].freqHz, 10000.0f);
}

}  // namespace
