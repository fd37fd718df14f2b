// Through a real host: lv2apply renders a file with the plug-in, and the
// result equals quorvane-render's for the same settings, bit for bit, at
// sample rates from 8 kHz to 384 kHz: bands set, the defaults against the
// flat preset, each shipped preset as lilv reads it from the bundle against
// its file, and the output gain against --gain. Bypassed, or with every band
// off, lv2apply's output is its input.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/lv2/lilv_bundle.h"
#include "tests/lv2/lv2_test_support.h"
#include "tests/tools/tools_test_support.h"

namespace {

using lv2test::Band;

struct MatchCase {
    const char* name;
    int rate;
    std::vector<Band> bands;  // all five given, widths included; none: the plug-in's defaults
    const char* preset = "";  // a shipped preset: lilv's reading of it, and its file
    double outputGainDb = 0.0;
    bool changesTheSignal = true;
};

constexpr const char* kPresetDir = QUORVANE_PRESET_DIR;

const MatchCase kCases[] = {
    {"five_bells_48k", 48000,
     {{6, 100, 1, 3}, {6, 400, 1, -2}, {6, 1000, 1, 1.5}, {6, 4000, 1, -4}, {6, 10000, 1, 6}}},
    {"passes_and_notch_44k1", 44100,
     {{0, 12000, 1, 0}, {1, 40, 0.5, 0}, {2, 2000, 2, 0}, {3, 700, 0.25, 0}, {4, 3000, 0.3, 0}}},
    // A gain on a response without one is dropped; gains beyond the
    // design's limits are clamped by the module alike in both. (Widths are
    // the plug-in's own ends here: beyond them it holds each response to
    // its range, which the render tool does not.)
    {"shelves_allpass_and_limits_96k", 96000,
     {{5, 5000, 1, 7}, {7, 200, 0.707, 4}, {8, 8000, 1, -6}, {6, 1500, 0.01, 25}, {6, 15000, 10, -30}}},
    // Bands at and above half the sample rate stay just below it.
    {"above_nyquist_8k", 8000,
     {{6, 3000, 1, 6}, {0, 5000, 1, 0}, {8, 20000, 0.5, 3}, {6, 250, 2, -3}, {1, 30, 1, 0}}},
    // Decimals whose float no pin value reaches exactly, where the pin value
    // comes from the decimal itself.
    {"decimals_without_an_exact_pin_48k", 48000,
     {{6, 91.3, 0.091, 0.182}, {6, 523.7, 0.173, -0.226}, {7, 180, 0.364, 2.23}, {6, 2345.6, 0.355, -0.373},
      {2, 7777.7, 1.37, 0}}},
    {"wide_and_narrow_384k", 384000,
     {{6, 20, 4, 8}, {6, 19000, 0.05, -12}, {7, 60, 0.9, -5}, {4, 1000, 0.1, 0}, {6, 6000, 1, 2.5}}},
    // The output gain scales as --gain does, a decimal as the decimal.
    {"five_bells_and_output_gain_48k", 48000,
     {{6, 100, 1, 3}, {6, 400, 1, -2}, {6, 1000, 1, 1.5}, {6, 4000, 1, -4}, {6, 10000, 1, 6}}, "", -6.0},
    {"shelves_and_a_decimal_output_gain_44k1", 44100,
     {{7, 120, 0.707, 5}, {6, 400, 1, 0}, {6, 1000, 1, 0}, {6, 4000, 1, 0}, {8, 9000, 0.707, -4}}, "", 3.7},
    // A new instance plays the flat preset.
    {"defaults_are_the_flat_preset_48k", 48000, {}, "", 0.0, false},
    {"preset_flat_44k1", 44100, {}, "flat", 0.0, false},
    {"preset_low_cut_48k", 48000, {}, "low-cut"},
    {"preset_vocal_presence_48k", 48000, {}, "vocal-presence"},
    {"preset_air_96k", 96000, {}, "air"},
    {"preset_loudness_44k1", 44100, {}, "loudness"},
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

class Lv2ApplyMatchesRender : public ::testing::TestWithParam<MatchCase> {};

TEST_P(Lv2ApplyMatchesRender, BitForBit) {
    if (!lv2test::installed("lv2apply")) GTEST_SKIP() << "lv2apply (lilv-utils) is not installed";
    const MatchCase& c = GetParam();
    toolstest::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const size_t frames = std::max<size_t>(static_cast<size_t>(c.rate * 3 / 10), 16000);
    const std::vector<float> input = lv2test::stereoMaterial(frames, static_cast<unsigned>(c.rate));
    const std::string in = dir.file("in.wav"), viaRender = dir.file("render.wav"), viaHost = dir.file("lv2.wav");
    ASSERT_TRUE(toolstest::writeAudio(in, input, 2, c.rate));

    std::vector<std::string> args = lv2test::renderOptions(c.bands);
    std::string controls = lv2test::controlOptions(c.bands);
    if (*c.preset != '\0') {
        args = {"--preset", std::string(kPresetDir) + "/" + c.preset + ".preset"};
        lv2test::LilvBundle bundle;
        ASSERT_NE(bundle.plugin(), nullptr);
        const std::map<std::string, float> values =
            bundle.presetValues(std::string(qvlv2::kPluginUri) + "#preset-" + c.preset, nullptr);
        ASSERT_EQ(values.size(), 25u) << "every band control and switch";
        char text[64];
        for (const auto& value : values) {
            std::snprintf(text, sizeof text, " -c %s %.9g", value.first.c_str(), value.second);
            controls += text;
        }
    } else if (c.bands.empty()) {
        args = {"--preset", std::string(kPresetDir) + "/flat.preset"};
    }
    if (c.outputGainDb != 0.0) {
        char text[64];
        std::snprintf(text, sizeof text, "%.9g", c.outputGainDb);
        args.insert(args.end(), {"--gain", text});
        controls += std::string(" -c output_gain ") + text;
    }
    args.insert(args.end(), {"--quiet", in, viaRender});
    const toolstest::Run render = toolstest::runRender(args, dir.path());
    ASSERT_EQ(render.status, 0) << render.err;

    const lv2test::CommandResult host = lv2test::runWithBundle("lv2apply -i '" + in + "' -o '" + viaHost + "'" +
                                                               controls + " " + qvlv2::kPluginUri);
    ASSERT_EQ(host.status, 0) << host.output;

    toolstest::Audio expected, got;
    ASSERT_TRUE(toolstest::readAudio(viaRender, &expected));
    ASSERT_TRUE(toolstest::readAudio(viaHost, &got));
    ASSERT_EQ(got.channels, 2);
    ASSERT_EQ(got.rate, c.rate);
    ASSERT_EQ(got.samples.size(), expected.samples.size());
    if (c.changesTheSignal) {
        ASSERT_NE(std::memcmp(expected.samples.data(), input.data(), input.size() * sizeof(float)), 0)
            << "the settings should change the signal";
    }
    for (size_t i = 0; i < got.samples.size(); ++i) {
        uint32_t a, b;
        std::memcpy(&a, &expected.samples[i], sizeof a);
        std::memcpy(&b, &got.samples[i], sizeof b);
        ASSERT_EQ(a, b) << "frame " << i / 2 << " channel " << i % 2 << ": render " << expected.samples[i]
                        << ", lv2apply " << got.samples[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, Lv2ApplyMatchesRender, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<MatchCase>& info) { return info.param.name; });

// Bypassed (the output gain with it), or with every band switched off,
// whatever the bands are set to, the host's file comes back unchanged.
struct UnchangedCase {
    const char* name;
    const char* controls;
};

const UnchangedCase kUnchanged[] = {
    {"bypassed", " -c enabled 0"},
    {"bypassed_with_output_gain", " -c enabled 0 -c output_gain -12"},
    {"every_band_off", " -c on1 0 -c on2 0 -c on3 0 -c on4 0 -c on5 0"},
};

void PrintTo(const UnchangedCase& c, std::ostream* os) { *os << c.name; }

class Lv2ApplyPassesTheInput : public ::testing::TestWithParam<UnchangedCase> {};

TEST_P(Lv2ApplyPassesTheInput, BitForBit) {
    if (!lv2test::installed("lv2apply")) GTEST_SKIP() << "lv2apply (lilv-utils) is not installed";
    toolstest::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::vector<float> input = lv2test::stereoMaterial(20000, 17);
    const std::string in = dir.file("in.wav"), out = dir.file("out.wav");
    ASSERT_TRUE(toolstest::writeAudio(in, input, 2, 48000));
    const std::vector<Band> loud = {{6, 100, 1, 12}, {0, 500, 0.05, 0}, {6, 1000, 1, -12}, {4, 3000, 1, 0},
                                    {8, 8000, 0.7, 12}};
    const lv2test::CommandResult host =
        lv2test::runWithBundle("lv2apply -i '" + in + "' -o '" + out + "'" + lv2test::controlOptions(loud) +
                               GetParam().controls + " " + qvlv2::kPluginUri);
    ASSERT_EQ(host.status, 0) << host.output;
    toolstest::Audio got;
    ASSERT_TRUE(toolstest::readAudio(out, &got));
    ASSERT_EQ(got.samples.size(), input.size());
    EXPECT_EQ(std::memcmp(got.samples.data(), input.data(), input.size() * sizeof(float)), 0);
}

INSTANTIATE_TEST_SUITE_P(Controls, Lv2ApplyPassesTheInput, ::testing::ValuesIn(kUnchanged),
                         [](const ::testing::TestParamInfo<UnchangedCase>& info) { return info.param.name; });

}  // namespace
