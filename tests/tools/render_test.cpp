#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "host/stand_in_host.h"
#include "tools/render_engine.h"
#include "tools/render_settings.h"
#include "tools_test_support.h"

using namespace qvtools;
using toolstest::Audio;
using toolstest::TempDir;

namespace {

struct BandPins {
    int band;  // 1..5
    PinValues pins;
};

// The same samples processed by driving the stand-in host by hand: controls
// set by pin name, block by block, both inputs fed (a mono file on both).
std::vector<float> processDirectly(const std::vector<float>& interleaved, int channels, int rate, int block,
                                   const std::vector<BandPins>& bands) {
    std::string error;
    auto library = standin::ModuleLibrary::load(QUORVANE_MODULE_PATH, &error);
    EXPECT_TRUE(library) << error;
    if (!library) return {};
    standin::Instance instance(library->exports());
    instance.setSampleRate(static_cast<float>(rate));
    instance.setBlockSize(block);
    instance.open();
    for (const BandPins& b : bands) {
        const std::string n = std::to_string(b.band);
        instance.fill(instance.pinIndex("Freq" + n), b.pins.freq);
        instance.fill(instance.pinIndex("Gain" + n), b.pins.gain);
        instance.fill(instance.pinIndex("Q" + n), b.pins.q);
        instance.fill(instance.pinIndex("Type" + n), b.pins.type);
    }
    const int in1 = instance.pinIndex("Input1"), in2 = instance.pinIndex("Input2");
    const int out1 = instance.pinIndex("Output1"), out2 = instance.pinIndex("Output2");
    const size_t frames = interleaved.size() / channels;
    std::vector<float> result(interleaved.size());
    for (size_t start = 0; start < frames; start += block) {
        const int n = static_cast<int>(std::min<size_t>(block, frames - start));
        for (int i = 0; i < n; ++i) {
            instance.buffer(in1)[i] = interleaved[(start + i) * channels];
            instance.buffer(in2)[i] = interleaved[(start + i) * channels + channels - 1];
        }
        // The output buffers keep what the module last wrote, as in the tool.
        instance.process(0, n);
        for (int i = 0; i < n; ++i) {
            result[(start + i) * channels] = instance.buffer(out1)[i];
            if (channels == 2) result[(start + i) * channels + 1] = instance.buffer(out2)[i];
        }
    }
    return result;
}

PinValues pinsOf(const char* band, double rate) {
    BandOption option;
    std::string error;
    EXPECT_TRUE(parseBandOption(band, &option, &error)) << error;
    return toPinValues(option.setting, rate);
}

struct RenderCase {
    int channels;
    int rate;
    int block;  // 0: the default
    int tailFrames = 0;  // exact silence after the sound
};

void PrintTo(const RenderCase& c, std::ostream* os) {
    *os << (c.channels == 1 ? "mono " : "stereo ") << c.rate << " Hz, block " << (c.block != 0 ? c.block : 512);
    if (c.tailFrames != 0) *os << ", " << c.tailFrames << " silent frames after";
}

class RenderedFile : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderedFile, MatchesTheSameSamplesProcessedThroughTheStandInHost) {
    const RenderCase c = GetParam();
    TempDir dir;
    std::vector<float> input = toolstest::testSignal(5000, c.channels);
    input.resize(input.size() + static_cast<size_t>(c.tailFrames) * c.channels, 0.0f);
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), input, c.channels, c.rate));
    std::vector<std::string> args{"-q", "--band", "2=peaking,1000Hz,1oct,+6dB", "--band",
                                  "5=highshelf,8kHz,q0.7,-3dB", "--band", "1=highpass,60Hz,q0.707"};
    if (c.block != 0) {
        args.push_back("--block-size");
        args.push_back(std::to_string(c.block));
    }
    args.push_back("in.wav");
    args.push_back("out.wav");
    const toolstest::Run run = toolstest::runRender(args, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;

    Audio out;
    ASSERT_TRUE(toolstest::readAudio(dir.file("out.wav"), &out));
    EXPECT_EQ(out.channels, c.channels);
    EXPECT_EQ(out.rate, c.rate);
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const std::vector<float> expected =
        processDirectly(input, c.channels, c.rate, c.block != 0 ? c.block : 512,
                        {{2, pinsOf("2=peaking,1000Hz,1oct,+6dB", c.rate)},
                         {5, pinsOf("5=highshelf,8kHz,q0.7,-3dB", c.rate)},
                         {1, pinsOf("1=highpass,60Hz,q0.707", c.rate)}});
    ASSERT_EQ(out.samples.size(), expected.size());
    size_t differing = 0;
    for (size_t i = 0; i < expected.size(); ++i) differing += out.samples[i] != expected[i];
    EXPECT_EQ(differing, 0u);
    EXPECT_NE(out.samples, input);  // the bands did something
    if (c.tailFrames != 0) {
        // The bands ring out of the silence and come to rest: its last
        // half second is let through as the exact zeros it is.
        const size_t restFrom = out.samples.size() - static_cast<size_t>(c.rate / 2) * c.channels;
        EXPECT_TRUE(std::all_of(out.samples.begin() + restFrom, out.samples.end(), [](float v) {
            return v == 0.0f && !std::signbit(v);
        }));
    }
}

INSTANTIATE_TEST_SUITE_P(MonoStereoBlockSizes, RenderedFile,
                         ::testing::Values(RenderCase{2, 48000, 0}, RenderCase{1, 44100, 0},
                                           RenderCase{2, 96000, 100}, RenderCase{2, 48000, 1},
                                           RenderCase{2, 48000, 0, 72000}));

TEST(RenderedFile, KeepsTheInputsSampleFormatWhenAsked) {
    const std::pair<const char*, int> cases[] = {
        {"out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"out.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"out.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    };
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.flac"), toolstest::testSignal(2000, 2), 2, 48000,
                                      SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const toolstest::Run run = toolstest::runRender({"-q", "--format", "input", "in.flac", c.first}, dir.path());
        ASSERT_EQ(run.status, 0) << run.err;
        Audio out;
        ASSERT_TRUE(toolstest::readAudio(dir.file(c.first), &out));
        EXPECT_EQ(out.format, c.second);
    }
    // FLAC holds no floats, so by default it keeps the input's format too.
    const toolstest::Run run = toolstest::runRender({"-q", "in.flac", "default.flac"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    Audio out;
    ASSERT_TRUE(toolstest::readAudio(dir.file("default.flac"), &out));
    EXPECT_EQ(out.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
}

TEST(RenderedFile, EndsWithAOneLineSummary) {
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(24000, 2), 2, 48000));
    const toolstest::Run run = toolstest::runRender({"in.wav", "out.wav"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);
    EXPECT_NE(run.out.find("rendered 24000 frames (0.50 s of stereo audio at 48000 Hz)"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("x real time"), std::string::npos) << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;  // no progress bar off a terminal
}

// Automation on band 1's gain at a given sample: the output follows the
// unautomated render up to the module's first poll that reads the control
// stream at or after that sample, and changes there.
struct AutomationCase {
    int eventSample;
    int block;
    int firstChangedSample;
};

void PrintTo(const AutomationCase& c, std::ostream* os) {
    *os << "change at " << c.eventSample << ", block " << c.block << ", heard from " << c.firstChangedSample;
}

class AutomatedRender : public ::testing::TestWithParam<AutomationCase> {};

TEST_P(AutomatedRender, ChangesTheBandAtTheModulesNextPoll) {
    const AutomationCase c = GetParam();
    const int rate = 48000;
    TempDir dir;
    const std::vector<float> input = toolstest::testSignal(4096, 2);
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), input, 2, rate));
    {  // times are seconds; sample / 48000 written with enough digits to round back
        std::ofstream csv(dir.file("moves.csv"));
        char time[64];
        std::snprintf(time, sizeof time, "%.17g", c.eventSample / double(rate));
        csv << "time,band,parameter,value\n" << time << ",1,gain,-9dB\n";
    }
    const std::string block = std::to_string(c.block);
    const std::string band = "1=peaking,2kHz,1oct,+6dB";
    ASSERT_EQ(toolstest::runRender({"-q", "--block-size", block, "--band", band, "in.wav", "plain.wav"}, dir.path())
                  .status,
              0);
    const toolstest::Run run = toolstest::runRender(
        {"-q", "--block-size", block, "--band", band, "--automation", "moves.csv", "in.wav", "moved.wav"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    Audio plain, moved;
    ASSERT_TRUE(toolstest::readAudio(dir.file("plain.wav"), &plain));
    ASSERT_TRUE(toolstest::readAudio(dir.file("moved.wav"), &moved));
    ASSERT_EQ(plain.samples.size(), moved.samples.size());
    size_t first = 0;
    while (first < plain.samples.size() && plain.samples[first] == moved.samples[first]) ++first;
    EXPECT_EQ(static_cast<int>(first / 2), c.firstChangedSample);
}

INSTANTIATE_TEST_SUITE_P(
    EventPlaces, AutomatedRender,
    ::testing::Values(AutomationCase{0, 512, 0},         // before the first poll
                      AutomationCase{1000, 2048, 1024},  // mid-block: the poll at 1024 reads it
                      AutomationCase{1024, 2048, 1024},  // exactly on a poll
                      AutomationCase{1025, 2048, 1056},  // one after: the next poll
                      AutomationCase{1000, 512, 1024},   // the block boundary makes no difference
                      AutomationCase{1000, 100, 1024}, AutomationCase{3000, 7, 3008}));

struct PeakCase {
    double freqHz;
    double gainDb;
    int band;
};

void PrintTo(const PeakCase& c, std::ostream* os) {
    *os << "band " << c.band << " " << c.freqHz << " Hz " << c.gainDb << " dB";
}

class MeasuredPeak : public ::testing::TestWithParam<PeakCase> {};

TEST_P(MeasuredPeak, ASinglePeakingBandPeaksAtItsFrequencyWithItsGain) {
    const PeakCase c = GetParam();
    const double rate = 48000.0;
    std::string error;
    auto runner = ModuleRunner::create(QUORVANE_MODULE_PATH, rate, 64, &error);
    ASSERT_TRUE(runner) << error;
    PinValues flat[kBandCount], pins[kBandCount];
    for (int band = 0; band < kBandCount; ++band) pins[band] = flat[band] = runner->defaultPins(band);
    BandSetting s;
    s.type = kPeaking;
    s.freqHz = c.freqHz;
    s.width = 1.0;
    s.gainDb = c.gainDb;
    pins[c.band - 1] = toPinValues(s, rate);

    MeasuredResponse response;
    ASSERT_TRUE(measureResponse(QUORVANE_MODULE_PATH, rate, pins, flat, &response, &error)) << error;
    ASSERT_EQ(response.frequencies.front(), 10.0);
    ASSERT_NEAR(response.frequencies.back(), rate / 2.0, 1e-6);
    for (const std::vector<double>* curve : {&response.totalDb, &response.bandDb[c.band - 1]}) {
        const auto extreme = c.gainDb > 0 ? std::max_element(curve->begin(), curve->end())
                                          : std::min_element(curve->begin(), curve->end());
        const double at = response.frequencies[static_cast<size_t>(extreme - curve->begin())];
        EXPECT_NEAR(std::log2(at / c.freqHz), 0.0, 0.01) << at << " Hz";
        EXPECT_NEAR(*extreme, c.gainDb, 0.02);
    }
    for (int band = 0; band < kBandCount; ++band) {
        if (band == c.band - 1) continue;
        for (double db : response.bandDb[band]) ASSERT_NEAR(db, 0.0, 1e-4) << "band " << band + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(GainsAndPlaces, MeasuredPeak,
                         ::testing::Values(PeakCase{1000.0, 6.0, 2}, PeakCase{200.0, -9.0, 1},
                                           PeakCase{5000.0, 12.0, 5}, PeakCase{63.0, 3.0, 3}));

// A 16-bit mono tone, as a user renders one: its zero crossings land on
// exact zeros on both inputs, and every one of them must still be filtered.
// Through a +6 dB peak at the tone's frequency it comes out exactly 6 dB
// louder, with nothing at its harmonics but the dither's noise floor.
constexpr double kPi = 3.14159265358979323846;

struct ToneCase {
    int rate;
};

void PrintTo(const ToneCase& c, std::ostream* os) { *os << "1 kHz at " << c.rate << " Hz"; }

class SixteenBitTone : public ::testing::TestWithParam<ToneCase> {};

// Level of `samples` at `freqHz` (a whole number of its periods long).
double amplitudeAt(const std::vector<float>& samples, size_t from, size_t count, double freqHz,
                   int rate) {
    double re = 0.0, im = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double phase = 2.0 * kPi * freqHz * static_cast<double>(i) / rate;
        re += samples[from + i] * std::cos(phase);
        im -= samples[from + i] * std::sin(phase);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(count);
}

TEST_P(SixteenBitTone, ThroughAPeakAtItsFrequencyGainsExactlyItsGainWithoutDistortion) {
    const int rate = GetParam().rate;
    const size_t frames = static_cast<size_t>(rate) * 3;
    std::vector<short> tone(frames);
    uint32_t seed = 99u;
    auto uniform = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(seed >> 8) / 16777216.0;
    };
    size_t zeros = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double x = 16384.0 * std::sin(2.0 * kPi * 1000.0 * static_cast<double>(i) / rate);
        tone[i] = static_cast<short>(std::lround(x + uniform() - uniform()));  // TPDF dither
        zeros += tone[i] == 0;
    }
    ASSERT_GT(zeros, frames / 200) << "the tone should cross zero on exact zeros";
    TempDir dir;
    {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(dir.file("tone.wav").c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(sf_write_short(file, tone.data(), static_cast<sf_count_t>(frames)),
                  static_cast<sf_count_t>(frames));
        sf_close(file);
    }
    const toolstest::Run run =
        toolstest::runRender({"-q", "--band", "3=peaking,1kHz,1oct,+6dB", "tone.wav", "out.wav"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    Audio out;
    ASSERT_TRUE(toolstest::readAudio(dir.file("out.wav"), &out));
    ASSERT_EQ(out.samples.size(), frames);
    std::vector<float> in(frames);
    for (size_t i = 0; i < frames; ++i) in[i] = static_cast<float>(tone[i]) / 32768.0f;

    const size_t from = static_cast<size_t>(rate) / 2, count = static_cast<size_t>(rate) * 2;
    const double fundamental = amplitudeAt(out.samples, from, count, 1000.0, rate);
    const double gainDb = 20.0 * std::log10(fundamental / amplitudeAt(in, from, count, 1000.0, rate));
    EXPECT_NEAR(gainDb, 6.0, 0.005);
    for (int harmonic = 2; harmonic * 1000 < rate / 2; ++harmonic) {
        const double level = amplitudeAt(out.samples, from, count, 1000.0 * harmonic, rate);
        EXPECT_LT(20.0 * std::log10(level / fundamental), -120.0) << "harmonic " << harmonic;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, SixteenBitTone, ::testing::Values(ToneCase{48000}, ToneCase{8000}));

bool isPng(const std::string& path) {
    const std::string head = toolstest::slurp(path).substr(0, 8);
    return head == std::string("\x89PNG\r\n\x1a\n", 8);
}

TEST(ResponsePlot, IsWrittenBesideTheRender) {
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(1000, 1), 1, 48000));
    const toolstest::Run run = toolstest::runRender(
        {"-q", "--band", "3=peaking,1kHz,1oct,+6dB", "--response", "curve.png", "in.wav", "out.wav"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(isPng(dir.file("curve.png")));
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"in.wav", "out.wav", "curve.png"}));
}

TEST(Demo, WritesItsAudioAndPlotIntoTheFolderItIsGiven) {
    TempDir dir;
    const toolstest::Run run = toolstest::runRender({"--out-dir", dir.path(), "--rate", "16000"}, "/");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"quorvane-demo-input.wav", "quorvane-demo-output.wav",
                                                    "quorvane-demo-response.png"}));
    EXPECT_NE(run.out.find(dir.file("quorvane-demo-output.wav")), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(dir.file("quorvane-demo-response.png")), std::string::npos) << run.out;
    EXPECT_TRUE(isPng(dir.file("quorvane-demo-response.png")));
    Audio out;
    ASSERT_TRUE(toolstest::readAudio(dir.file("quorvane-demo-output.wav"), &out));
    EXPECT_EQ(out.rate, 16000);
    EXPECT_EQ(out.channels, 2);
}

}  // namespace
