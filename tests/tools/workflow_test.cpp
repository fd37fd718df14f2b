// How quorvane-render fits into a user's work: batches, pipes, presets,
// output gain, and band defaults that behave as cookbook filters elsewhere.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tools/preset.h"
#include "tools/render_engine.h"
#include "tools/render_settings.h"
#include "tools_test_support.h"

using namespace qvtools;
using toolstest::Audio;
using toolstest::TempDir;

namespace {

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

Audio renderedBy(const std::vector<std::string>& args, const TempDir& dir, const std::string& output) {
    const toolstest::Run run = toolstest::runRender(args, dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    Audio audio;
    EXPECT_TRUE(toolstest::readAudio(dir.file(output), &audio)) << output;
    return audio;
}

TEST(Batch, RendersEveryFileItCanIntoTheFolderAndFailsForTheRest) {
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("a.wav"), toolstest::testSignal(1000, 2), 2, 48000));
    ASSERT_TRUE(toolstest::writeAudio(dir.file("b.flac"), toolstest::testSignal(800, 1), 1, 44100,
                                      SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    writeText(dir.file("c.wav"), "not audio");
    const toolstest::Run run = toolstest::runRender(
        {"--band", "2=peaking,1kHz,1oct,+6dB", "--out-dir", "eq", "a.wav", "c.wav", "b.flac"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot read c.wav"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
    EXPECT_NE(run.out.find(": eq/a.wav"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(": eq/b.flac"), std::string::npos) << run.out;
    Audio a, single;
    ASSERT_TRUE(toolstest::readAudio(dir.file("eq/a.wav"), &a));
    // Each file of the batch is what a render of it alone gives.
    single = renderedBy({"-q", "--band", "2=peaking,1kHz,1oct,+6dB", "a.wav", "alone.wav"}, dir, "alone.wav");
    EXPECT_EQ(a.samples, single.samples);
    Audio b;
    ASSERT_TRUE(toolstest::readAudio(dir.file("eq/b.flac"), &b));
    EXPECT_EQ(b.rate, 44100);
    EXPECT_EQ(dir.entries().count("c.wav"), 1u);
}

// Standard input and output carry the same audio a file render writes.
TEST(Pipes, CarryTheSameAudioAsFiles) {
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(3000, 2), 2, 48000,
                                      SF_FORMAT_WAV | SF_FORMAT_PCM_24));
    const std::vector<std::string> band{"-q", "--band", "1=lowshelf,200Hz,+3dB"};
    const Audio file = renderedBy({"-q", "--band", "1=lowshelf,200Hz,+3dB", "in.wav", "file.wav"}, dir, "file.wav");
    struct Case {
        const char* input;
        const char* output;
        bool fromStdin;
    };
    for (const Case& c : {Case{"-", "piped-in.wav", true}, Case{"in.wav", "-", false}, Case{"-", "-", true}}) {
        SCOPED_TRACE(std::string(c.input) + " " + c.output);
        std::vector<std::string> args = band;
        args.insert(args.end(), {c.input, c.output});
        const toolstest::Run run =
            toolstest::runRender(args, dir.path(), -1, SIGINT, c.fromStdin ? dir.file("in.wav") : "");
        ASSERT_EQ(run.status, 0) << run.err;
        std::string outPath = dir.file(c.output);
        if (std::string(c.output) == "-") {
            outPath = dir.file("stdout.wav");
            writeText(outPath, run.out);
        }
        Audio piped;
        ASSERT_TRUE(toolstest::readAudio(outPath, &piped));
        EXPECT_EQ(piped.samples, file.samples);
        EXPECT_EQ(piped.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
    }
}

TEST(Presets, ReadBandsThatTheCommandLineOverridesAndSaveWhatIsInEffect) {
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(2000, 2), 2, 48000));
    writeText(dir.file("vocal.preset"),
              "# a vocal\n"
              "1=highpass,80Hz   # rumble\n"
              "\n"
              "3=peaking,3kHz,0.7oct,+2dB\n");
    const Audio withPreset = renderedBy({"-q", "--preset", "vocal.preset", "--band", "3=peaking,3kHz,0.7oct,-4dB",
                                         "--save-preset", "saved.preset", "in.wav", "a.wav"},
                                        dir, "a.wav");
    EXPECT_EQ(toolstest::slurp(dir.file("saved.preset")),
              "# quorvane-render preset: one band per line, as --band takes it\n"
              "1=highpass,80Hz,q0.707\n"
              "3=peaking,3000Hz,0.7oct,-4dB\n");
    const Audio byBands = renderedBy(
        {"-q", "--band", "1=highpass,80Hz", "--band", "3=peaking,3kHz,0.7oct,-4dB", "in.wav", "b.wav"}, dir, "b.wav");
    EXPECT_EQ(withPreset.samples, byBands.samples);
    const Audio fromSaved = renderedBy({"-q", "--preset", "saved.preset", "in.wav", "c.wav"}, dir, "c.wav");
    EXPECT_EQ(fromSaved.samples, byBands.samples);

    writeText(dir.file("bad.preset"), "1=highpass,80Hz\n1=notch,1kHz\n");
    const toolstest::Run bad = toolstest::runRender({"--preset", "bad.preset", "in.wav", "d.wav"}, dir.path());
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad.preset: preset line 2: band 1 is set twice"), std::string::npos) << bad.err;
}

// Every output is named when written, a saved preset too: alone, success
// would otherwise look like nothing happening. With the audio on standard
// output the line goes to standard error; -q keeps it quiet.
TEST(Presets, SavingNamesTheFileAndHowManyBandsItHolds) {
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(1000, 2), 2, 48000));
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* outHas;  // "" for nothing on standard output
        const char* errHas;  // "" for nothing on standard error
    };
    const std::vector<Case> cases{
        {"alone", {"--band", "2=peaking,1kHz", "--band", "4=notch,50Hz", "--save-preset", "p.preset"},
         "preset (2 bands set): p.preset\n", ""},
        {"alone, no band set", {"--save-preset", "p.preset"}, "preset (no band set): p.preset\n", ""},
        {"with a render", {"--band", "1=highpass,80Hz", "--save-preset", "p.preset", "in.wav", "out.wav"},
         "preset (1 band set): p.preset\n", ""},
        {"quiet", {"-q", "--band", "1=highpass,80Hz", "--save-preset", "p.preset"}, "", ""},
        {"audio on standard output", {"--band", "1=highpass,80Hz", "--save-preset", "p.preset", "in.wav", "-"},
         "", "preset (1 band set): p.preset\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(dir.file("p.preset").c_str());
        const toolstest::Run run = toolstest::runRender(c.args, dir.path());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_FALSE(toolstest::slurp(dir.file("p.preset")).empty());
        const bool audioOut = c.args.back() == "-";
        if (*c.outHas == '\0') {
            EXPECT_TRUE(audioOut ? run.out.compare(0, 4, "RIFF") == 0 : run.out.empty()) << run.out.substr(0, 80);
        } else if (c.args.back() == "p.preset") {
            EXPECT_EQ(run.out, c.outHas);
        } else {
            EXPECT_EQ(run.out.compare(0, std::strlen(c.outHas), c.outHas), 0) << run.out;
        }
        if (*c.errHas == '\0') {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_NE(run.err.find(c.errHas), std::string::npos) << run.err;
        }
    }
}

TEST(Presets, WriteEverySettingSoItReadsBackTheSame) {
    BandSet bands;
    const char* const lines[] = {"1=lowpass,12345.678Hz,q0.5", "2=peaking,1kHz,0.33oct,-0.1dB",
                                 "4=highshelf,8kHz,q0.707,+12.25dB", "5=notch,60Hz,0.1oct"};
    std::string text;
    for (const char* line : lines) text += std::string(line) + "\n";
    std::string error;
    ASSERT_TRUE(parsePreset(text, &bands, &error)) << error;
    BandSet back;
    ASSERT_TRUE(parsePreset(formatPreset(bands), &back, &error)) << error;
    for (int band = 0; band < kBandCount; ++band) {
        SCOPED_TRACE(band);
        ASSERT_EQ(back.given[band], bands.given[band]);
        if (!bands.given[band]) continue;
        EXPECT_EQ(toPinValues(back.band[band], 48000.0), toPinValues(bands.band[band], 48000.0));
        EXPECT_EQ(back.band[band].width, bands.band[band].width);
        EXPECT_EQ(back.band[band].gainDb, bands.band[band].gainDb);
    }
}

TEST(OutputGain, ScalesTheEqualisedAudio) {
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(2000, 2), 2, 48000));
    const Audio unity = renderedBy({"-q", "--band", "2=peaking,1kHz,+6dB", "in.wav", "a.wav"}, dir, "a.wav");
    const Audio quieter =
        renderedBy({"-q", "--gain", "-6", "--band", "2=peaking,1kHz,+6dB", "in.wav", "b.wav"}, dir, "b.wav");
    ASSERT_EQ(unity.samples.size(), quieter.samples.size());
    const double gain = std::pow(10.0, -6.0 / 20.0);
    for (size_t i = 0; i < unity.samples.size(); ++i)
        ASSERT_EQ(quieter.samples[i], static_cast<float>(unity.samples[i] * gain)) << i;
}

// Low- and high-pass bands given without a width are Butterworth: flat in the
// pass band, -3 dB at the corner.
TEST(BandDefaults, LowAndHighPassAreButterworth) {
    struct Case {
        const char* band;
        double rate;
        double passFromHz, passToHz;  // no bump or sag anywhere here
        double cornerHz;
    };
    const Case cases[] = {{"1=lowpass,20kHz", 44100.0, 20.0, 5000.0, 0.0},
                          {"1=highpass,80Hz", 48000.0, 200.0, 20000.0, 80.0},
                          {"1=lowpass,1kHz", 48000.0, 20.0, 200.0, 1000.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.band);
        BandOption option;
        std::string error;
        ASSERT_TRUE(parseBandOption(c.band, &option, &error)) << error;
        PinValues pins[kBandCount];
        auto runner = ModuleRunner::create(QUORVANE_MODULE_PATH, c.rate, 64, &error);
        ASSERT_TRUE(runner) << error;
        for (int band = 0; band < kBandCount; ++band) pins[band] = runner->defaultPins(band);
        pins[0] = toPinValues(option.setting, c.rate);
        std::vector<float> impulse;
        ASSERT_TRUE(impulseResponse(QUORVANE_MODULE_PATH, c.rate, pins, 1 << 17, &impulse, &error)) << error;
        std::vector<double> freqs;
        for (double f = c.passFromHz; f <= c.passToHz; f *= 1.05) freqs.push_back(f);
        for (double db : magnitudeDb(impulse, c.rate, freqs)) {
            EXPECT_LT(db, 0.05);
            EXPECT_GT(db, -0.5);
        }
        if (c.cornerHz > 0.0) {
            EXPECT_NEAR(magnitudeDb(impulse, c.rate, {c.cornerHz})[0], -3.01, 0.1);
        }
    }
}

TEST(Automation, OfABandNotSetNamesTheDefaultItStartsFrom) {
    std::vector<AutomationPoint> points;
    std::string error;
    ASSERT_TRUE(parseAutomation("0.1,3,gain,+6dB\n0.2,3,gain,+3dB\n0.3,2,gain,-3dB\n", &points, &error));
    BandSetting start[kBandCount];
    start[2].type = kLowPass;
    const bool given[kBandCount] = {false, true, false, false, false};
    std::vector<ControlChange> changes;
    std::vector<std::string> warnings;
    ASSERT_TRUE(resolveAutomation(points, start, 48000.0, 48000, &changes, &warnings, &error, given)) << error;
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings[0], "automation line 1: band 3 is not set; its automation starts from the module's default, " +
                               describe(start[2]));
    EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                            [](const std::string& w) { return w.find("is not set") != std::string::npos; }),
              1);
}

// The plot names what acts: the total and the bands that were set. Bands not
// set are flat and stay out of the data the plotting script draws (an
// interpreter of the test's own keeps that data).
TEST(ResponsePlot, HoldsTheTotalAndOnlyTheBandsThatWereSet) {
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(1000, 2), 2, 48000));
    writeText(dir.file("keep-data"), "#!/bin/sh\ncp \"$2\" \"$(dirname \"$0\")/data.tsv\" && : > \"$3\"\n");
    ASSERT_EQ(chmod(dir.file("keep-data").c_str(), 0755), 0);
    setenv("QUORVANE_PYTHON", dir.file("keep-data").c_str(), 1);
    struct Case {
        std::vector<std::string> args;
        std::string header;
    };
    const std::vector<Case> cases{
        {{"--gain", "-3"}, "frequency_hz\ttotal (output gain -3 dB)"},
        {{"--band", "2=peaking,1kHz,1oct,+6dB", "--band", "5=highshelf,8kHz,q0.7,-3dB"},
         "frequency_hz\ttotal\tband 2: peaking 1 kHz 1 oct +6 dB\tband 5: highshelf 8 kHz Q 0.7 -3 dB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        std::vector<std::string> args{"-q", "--response", "plot.png"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"in.wav", "out.wav"});
        const toolstest::Run run = toolstest::runRender(args, dir.path());
        ASSERT_EQ(run.status, 0) << run.err;
        std::istringstream data(toolstest::slurp(dir.file("data.tsv")));
        std::string line;
        std::getline(data, line);
        EXPECT_EQ(line.compare(0, 14, "# sample_rate\t"), 0) << line;
        std::getline(data, line);
        EXPECT_EQ(line, c.header);
        const auto columns = std::count(c.header.begin(), c.header.end(), '\t');
        int rows = 0;
        while (std::getline(data, line)) {
            ++rows;
            ASSERT_EQ(std::count(line.begin(), line.end(), '\t'), columns) << line;
        }
        EXPECT_GT(rows, 100);
    }
    unsetenv("QUORVANE_PYTHON");
}

// A band left unset is what the module makes of its default pins: a peaking
// band at 10 Hz (the module's lowest frequency; the pin stands for 5 Hz),
// flat. Automating it names that, as the manual does, once, and raises no
// warning about the default itself; automating set bands warns of nothing.
TEST(Automation, OfABandNotSetStartsFromTheDefaultAsTheModuleDesignsIt) {
    std::string error;
    auto runner = ModuleRunner::create(QUORVANE_MODULE_PATH, 48000.0, 64, &error);
    ASSERT_TRUE(runner) << error;
    for (int band = 0; band < kBandCount; ++band) {
        const BandSetting start = settingFromPins(runner->defaultPins(band));
        EXPECT_EQ(describe(start), "peaking 10 Hz 3 oct +0 dB") << "band " << band + 1;
        EXPECT_TRUE(settingWarnings(start, 48000.0).empty()) << "band " << band + 1;
    }

    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(48000 * 5, 2), 2, 48000));
    struct Case {
        const char* what;
        std::vector<std::string> bands;
        std::string moves;
        std::string warnings;  // standard error, exactly
    };
    const std::vector<Case> cases{
        {"the manual's example, every automated band set",
         {"--band", "2=peaking,1kHz,1oct", "--band", "3=peaking,250Hz,1oct"},
         "0.0,2,gain,0dB\n2.5,2,gain,-6dB\n4,3,freq,60Hz\n4,3,type,notch\n",
         ""},
        {"a gain moved on a band not set",
         {"--band", "2=peaking,1kHz,1oct"},
         "0.5,3,gain,+6dB\n1,3,gain,-3dB\n",
         "quorvane-render: warning: automation line 1: band 3 is not set; its automation starts from the "
         "module's default, peaking 10 Hz 3 oct +0 dB\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeText(dir.file("moves.csv"), c.moves);
        std::vector<std::string> args{"-q"};
        args.insert(args.end(), c.bands.begin(), c.bands.end());
        args.insert(args.end(), {"--automation", "moves.csv", "in.wav", "out.wav"});
        const toolstest::Run run = toolstest::runRender(args, dir.path());
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, c.warnings);
    }
}

}  // namespace
