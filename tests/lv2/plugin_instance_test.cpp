// The bundle's binary loaded as a host loads it and driven in-process: every
// sample rate a host may use, run() call sizes that must not matter, the
// host's floating-point mode, restarts, one rate per process, and run()
// taking nothing from the heap.
#include <gtest/gtest.h>

#include <cstring>
#include <cstdlib>

#include "equaliser/module.h"
#include "host_interface/se_module_base.h"
#include "lv2/port_table.h"
#include "tests/lv2/lv2_test_support.h"
#include "tests/unit/heap_counter.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

extern "C" ModuleRecord* QV_HOST_ENTRY makeModule(int32_t index, int32_t interfaceKind, HostCallback callback,
                                                  intptr_t hostValue);

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

// The equaliser's rate-dependent design factor is one for the whole
// library: a second live rate is refused, the same rate is not, and the
// rate is free again once every instance is gone.
TEST_F(PluginInstanceTest, OneSampleRatePerProcess) {
    {
        PluginInstance first(descriptor(), 48000.0, kFiveBells);
        ASSERT_TRUE(first.valid());
        PluginInstance sameRate(descriptor(), 48000.0, kFiveBells);
        EXPECT_TRUE(sameRate.valid());
        PluginInstance otherRate(descriptor(), 44100.0, kFiveBells);
        EXPECT_FALSE(otherRate.valid());
    }
    PluginInstance later(descriptor(), 44100.0, kFiveBells);
    EXPECT_TRUE(later.valid());
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

// Control ports the host left unconnected read as their defaults.
TEST_F(PluginInstanceTest, UnconnectedControlsTakeTheirDefaults) {
    const std::vector<float> input = lv2test::stereoMaterial(3000, 9);
    PluginInstance defaults(descriptor(), 48000.0, std::vector<Band>(5, Band{6, 10, 3, 0}));
    PluginInstance unconnected(descriptor(), 48000.0, {}, false);
    ASSERT_TRUE(unconnected.valid());
    EXPECT_TRUE(sameBits(defaults.render(input, 512), unconnected.render(input, 512)));
}

// A control a host sets to NaN counts as its default (a flat band) rather
// than turning the output into NaN; infinities are clamped by the module.
TEST_F(PluginInstanceTest, NonFiniteControlsKeepTheOutputFinite) {
    const std::vector<float> input = lv2test::stereoMaterial(4000, 5);
    const double nan = std::nan("");
    const std::vector<Band> flat = {{6, 10, 3, 0}, {6, 10, 3, 0}, {6, 10, 3, 0}, {6, 10, 3, 0}, {6, 10, 3, 0}};
    PluginInstance reference(descriptor(), 48000.0, flat);
    const std::vector<float> expected = reference.render(input, 512);
    const std::vector<std::vector<Band>> broken = {
        {{6, nan, 3, 0}, {6, 10, nan, 0}, {6, 10, 3, nan}, {int(0x80000000), 10, 3, 0}, {6, nan, nan, nan}},
    };
    for (const std::vector<Band>& bands : broken) {
        PluginInstance instance(descriptor(), 48000.0, bands);
        const std::vector<float> got = instance.render(input, 512);
        for (float sample : got) ASSERT_TRUE(std::isfinite(sample));
    }
    PluginInstance nanEverywhere(descriptor(), 48000.0, {{6, nan, nan, nan}, {6, nan, nan, nan}, {6, nan, nan, nan},
                                                         {6, nan, nan, nan}, {6, nan, nan, nan}});
    EXPECT_TRUE(sameBits(expected, nanEverywhere.render(input, 512)));
    const double inf = HUGE_VAL;
    PluginInstance infinite(descriptor(), 48000.0, {{6, inf, 1, inf}, {0, -inf, inf, 0}, {7, 100, inf, -inf},
                                                    {6, 1000, -inf, 3}, {4, 2000, 1, 0}});
    for (float sample : infinite.render(input, 512)) ASSERT_TRUE(std::isfinite(sample));
}

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

TEST_F(PluginInstanceTest, RunTakesNothingFromTheHeap) {
    if (!heapcount::counting()) GTEST_SKIP() << "the sanitizer's allocator is in place";
    PluginInstance instance(descriptor(), 48000.0, kFiveBells);
    ASSERT_TRUE(instance.valid());
    std::vector<float> in(8192, 0.25f), out(8192);
    for (size_t i = 0; i < in.size(); i += 3) in[i] = -0.5f;
    for (uint32_t port : {qvlv2::PORT_IN_LEFT, qvlv2::PORT_IN_RIGHT})
        descriptor()->connect_port(instance.handle(), port, in.data());
    for (uint32_t port : {qvlv2::PORT_OUT_LEFT, qvlv2::PORT_OUT_RIGHT})
        descriptor()->connect_port(instance.handle(), port, out.data());
    float freq = 250.0f;
    descriptor()->connect_port(instance.handle(), qvlv2::controlPort(0, qvlv2::BAND_FREQ), &freq);
    const unsigned long before = heapcount::allocations();
    for (uint32_t frames : {1u, 511u, 513u, 8192u, 0u}) {
        freq += 100.0f;  // a control change on the way, too
        descriptor()->run(instance.handle(), frames);
    }
    EXPECT_EQ(heapcount::allocations(), before);
}

// The .ttl's defaults are the module's own pin defaults in design units: a
// host showing the defaults shows what the module starts as.
TEST(PortTable, DefaultsAreTheModulePinDefaults) {
    ModuleRecord* record = makeModule(0, 1, nullptr, 0);
    ASSERT_NE(record, nullptr);
    const ControlOffset offsets[4] = {CONTROL_FREQ, CONTROL_GAIN, CONTROL_Q, CONTROL_TYPE};
    for (int control = 0; control < 4; ++control)
        for (int band = 0; band < kBandCount; ++band) {
            PinDescriptor pin;
            std::memset(&pin, 0, sizeof pin);
            ASSERT_EQ(record->dispatcherEntry(record, MOD_GET_PIN_PROPERTIES, controlPin(band, offsets[control]), 0,
                                              &pin, 0.0f),
                      1);
            ASSERT_NE(pin.defaultText, nullptr);
            // A host feeds a tenth of the text; the module takes ten times that
            // (the type as it comes) and clamps frequencies to its range.
            const float fed = static_cast<float>(std::strtod(pin.defaultText, nullptr) / 10.0);
            float design = control == 3 ? fed : 10.0f * fed;
            if (control == 0) design = std::min(std::max(design, kMinFreqHz), kMaxFreqHz);
            EXPECT_EQ(qvlv2::kControls[control].defaultValue, design) << pin.name;
        }
    record->dispatcherEntry(record, MOD_CLOSE, 0, 0, nullptr, 0.0f);
}

}  // namespace
