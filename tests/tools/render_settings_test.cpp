#include <gtest/gtest.h>

#include <cmath>

#include "tools/render_cli.h"
#include "equaliser/control_scaling.h"
#include "tools/render_settings.h"

using namespace qvtools;

namespace {

struct GoodBand {
    const char* text;
    int band;
    int type;
    double freqHz;
    double width;
    WidthUnit unit;
    double gainDb;
};

const GoodBand kGoodBands[] = {
    {"2=peaking,1000Hz,1oct,+6dB", 2, kPeaking, 1000.0, 1.0, WidthUnit::Octaves, 6.0},
    {"5=highshelf,8kHz,q0.7,-3dB", 5, kHighShelf, 8000.0, 0.7, WidthUnit::Q, -3.0},
    // Low- and high-pass default to Butterworth.
    {"1=LOWPASS,80hz", 1, kLowPass, 80.0, 0.707, WidthUnit::Q, 0.0},
    {"2=highpass,80Hz", 2, kHighPass, 80.0, 0.707, WidthUnit::Q, 0.0},
    {"2=highpass,80Hz,1oct", 2, kHighPass, 80.0, 1.0, WidthUnit::Octaves, 0.0},
    {"3=notch,+0dB,0.5oct,100Hz", 3, kNotch, 100.0, 0.5, WidthUnit::Octaves, 0.0},
    {"4=lowshelf,200Hz", 4, kLowShelf, 200.0, 0.707, WidthUnit::Q, 0.0},
    {"1=bandpass-skirt,1.5kHz,2oct", 1, kBandPassSkirt, 1500.0, 2.0, WidthUnit::Octaves, 0.0},
    {"2=bandpass-peak,440Hz,Q4", 2, kBandPassPeak, 440.0, 4.0, WidthUnit::Q, 0.0},
    {"3=allpass,1e3Hz,q2", 3, kAllPass, 1000.0, 2.0, WidthUnit::Q, 0.0},
    {"4=highpass,30Hz,q0.707", 4, kHighPass, 30.0, 0.707, WidthUnit::Q, 0.0},
};

TEST(BandOptionParsing, ReadsResponseFrequencyWidthAndGainInAnyOrder) {
    for (const GoodBand& c : kGoodBands) {
        SCOPED_TRACE(c.text);
        BandOption option;
        std::string error;
        ASSERT_TRUE(parseBandOption(c.text, &option, &error)) << error;
        EXPECT_EQ(option.band, c.band);
        EXPECT_EQ(option.setting.type, c.type);
        EXPECT_DOUBLE_EQ(option.setting.freqHz, c.freqHz);
        EXPECT_DOUBLE_EQ(option.setting.width, c.width);
        EXPECT_EQ(option.setting.widthUnit, c.unit);
        EXPECT_DOUBLE_EQ(option.setting.gainDb, c.gainDb);
    }
}

TEST(BandOptionParsing, RejectsWhatItCannotReadWithTheReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"0=peaking,1kHz", "band 0 is outside 1 to 5"},
        {"6=peaking,1kHz", "band 6 is outside 1 to 5"},
        {"x=peaking,1kHz", "malformed band number"},
        {"2.5=peaking,1kHz", "malformed band number"},
        {"peaking,1kHz", "malformed band"},
        {"2=peeking,1kHz", "unknown response 'peeking'"},
        {"2=", "no response given"},
        {"2=peaking", "no frequency given"},
        {"2=peaking,1000", "cannot read '1000'"},
        {"2=peaking,1kHz,+6", "cannot read '+6'"},
        {"2=peaking,abcHz", "malformed frequency 'abcHz'"},
        {"2=peaking,nanHz", "malformed frequency"},
        {"2=peaking,1,000Hz", "cannot read '1'"},
        {"2=peaking,0Hz", "must be above 0 Hz"},
        {"2=peaking,-50Hz", "must be above 0 Hz"},
        {"2=peaking,1kHz,0oct", "must be above 0"},
        {"2=peaking,1kHz,q", "malformed width"},
        {"2=peaking,1kHz,sixdB", "malformed gain"},
        {"2=peaking,1kHz,1oct,q2", "repeats a setting"},
        {"2=lowshelf,1kHz,1oct", "width is a Q"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        BandOption option;
        std::string error;
        EXPECT_FALSE(parseBandOption(c.first, &option, &error));
        EXPECT_NE(error.find(c.second), std::string::npos) << error;
    }
}

TEST(PinValues, TenTimesEachPinValueGivesTheSettingAsTheModuleComputesIt) {
    const double values[] = {1000.0, 1.0, 6.0, -3.0, 0.7, 0.707, 8000.0, 0.3, 20000.0, 12345.6, 0.001, 2.5, 19.9, 440.0};
    for (double value : values) {
        SCOPED_TRACE(value);
        const float pin = eq::controlValueFor(value);
        EXPECT_EQ(10.0f * pin, static_cast<float>(value));
        EXPECT_NEAR(pin, value / 10.0, std::fabs(value) * 1e-6);
    }
}

TEST(PinValues, CarryTenthsOfHzOctavesAndDbAndTheTypeAsItsNumber) {
    BandSetting s;
    s.type = kPeaking;
    s.freqHz = 1000.0;
    s.width = 1.0;
    s.gainDb = 6.0;
    PinValues pins = toPinValues(s, 48000.0);
    EXPECT_EQ(pins.freq, 100.0f);
    EXPECT_EQ(10.0f * pins.q, 1.0f);
    EXPECT_EQ(10.0f * pins.gain, 6.0f);
    EXPECT_EQ(pins.type, 6.0f);

    s.type = kHighShelf;  // a shelf's Q goes to the width pin as it is
    s.width = 0.7;
    s.widthUnit = WidthUnit::Q;
    pins = toPinValues(s, 48000.0);
    EXPECT_EQ(10.0f * pins.q, 0.7f);
    EXPECT_EQ(pins.type, 8.0f);

    s.type = kLowPass;  // no gain on a low-pass: the gain pin stays at 0
    s.gainDb = 6.0;
    pins = toPinValues(s, 48000.0);
    EXPECT_EQ(pins.gain, 0.0f);
}

TEST(PinValues, AQOnAnOctaveResponseBecomesTheOctavesWithTheSameBandwidth) {
    // The module's width relation: alpha = sin w0 * sinh(ln 2 / 2 * octaves * w0 / sin w0),
    // and a Q means alpha = sin w0 / (2 Q).
    const double cases[][3] = {{1000.0, 0.707, 48000.0}, {100.0, 4.0, 44100.0}, {15000.0, 1.0, 48000.0}};
    for (const auto& c : cases) {
        const double octaves = octavesForQ(c[1], c[0], c[2]);
        const double w0 = 2.0 * M_PI * c[0] / c[2];
        const double alpha = std::sin(w0) * std::sinh(std::log(2.0) / 2.0 * octaves * w0 / std::sin(w0));
        EXPECT_NEAR(alpha, std::sin(w0) / (2.0 * c[1]), 1e-12);
    }
}

TEST(SettingWarnings, SayWhatTheModuleUsesInstead) {
    struct Case {
        const char* band;
        double rate;
        const char* warning;  // null: none
    };
    const Case cases[] = {
        {"1=peaking,25kHz,1oct,+3dB", 96000.0, "the module uses 20 kHz"},
        {"1=lowpass,5Hz", 48000.0, "the module uses 10 Hz"},
        {"1=peaking,1kHz,30oct,+3dB", 48000.0, "the module uses 20 oct"},
        {"1=peaking,1kHz,0.0005oct,+3dB", 48000.0, "the module uses 0.001 oct"},
        {"1=lowshelf,100Hz,q25,+3dB", 48000.0, "the module uses Q 20"},
        {"1=peaking,1kHz,1oct,-25dB", 48000.0, "the module uses -20 dB"},
        {"1=highshelf,1kHz,q1,+21dB", 48000.0, "the module uses +20 dB"},
        {"1=lowpass,1kHz,+6dB", 48000.0, "lowpass has no gain; +6 dB is ignored"},
        {"1=peaking,18kHz,1oct,+3dB", 32000.0, "not below half the sample rate"},
        {"1=bandpass-peak,1kHz,30oct", 48000.0, nullptr},  // the module takes any width here
        {"1=peaking,20kHz,20oct,-20dB", 48000.0, nullptr},
        {"1=peaking,10Hz,0.001oct,+20dB", 48000.0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.band);
        BandOption option;
        std::string error;
        ASSERT_TRUE(parseBandOption(c.band, &option, &error)) << error;
        const std::vector<std::string> warnings = settingWarnings(option.setting, c.rate);
        if (c.warning == nullptr) {
            EXPECT_TRUE(warnings.empty()) << warnings.front();
        } else {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
        }
    }
}

TEST(Automation, ReadsTimedChangesInTheUnitsOfBandSettings) {
    const std::string csv =
        "time,band,parameter,value\n"
        "# comment\n"
        "\n"
        "2.0, 3, type, notch\n"
        "0.5,2,gain,-6dB\n"
        "1,2,freq,2kHz\n"
        "1.5,2,freq,500\n"
        "1.5,4,width,q2\n"
        "3,5,gain,3   # bare dB\n";
    std::vector<AutomationPoint> points;
    std::string error;
    ASSERT_TRUE(parseAutomation(csv, &points, &error)) << error;
    ASSERT_EQ(points.size(), 6u);
    EXPECT_EQ(points[0].seconds, 0.5);  // in time order
    EXPECT_EQ(points[0].parameter, AutomationPoint::Gain);
    EXPECT_EQ(points[0].value, -6.0);
    EXPECT_EQ(points[1].value, 2000.0);
    EXPECT_EQ(points[2].value, 500.0);
    EXPECT_EQ(points[3].widthUnit, WidthUnit::Q);
    EXPECT_EQ(points[4].parameter, AutomationPoint::Type);
    EXPECT_EQ(points[4].value, kNotch);
    EXPECT_EQ(points[4].line, 4);
    EXPECT_EQ(points[5].value, 3.0);
}

TEST(Automation, RejectsMalformedLinesNamingTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"1,2,gain", "line 1: expected 4 fields"},
        {"x,2,gain,1dB", "malformed time"},
        {"-1,2,gain,1dB", "malformed time"},
        {"1,6,gain,1dB", "band '6' is not a band number"},
        {"1,0,gain,1dB", "band '0' is not a band number"},
        {"1,2,volume,1dB", "unknown parameter 'volume'"},
        {"1,2,type,bell", "unknown response 'bell'"},
        {"1,2,freq,1kH", "malformed frequency"},
        {"1,2,freq,-5", "must be above 0 Hz"},
        {"1,2,width,1", "malformed width"},
        {"\n1,2,gain,loud", "line 2: malformed gain"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        std::vector<AutomationPoint> points;
        std::string error;
        EXPECT_FALSE(parseAutomation(c.first, &points, &error));
        EXPECT_NE(error.find(c.second), std::string::npos) << error;
    }
}

TEST(Automation, ResolvesToPinChangesAtTheNearestSample) {
    BandSetting start[kBandCount];
    std::vector<AutomationPoint> points;
    std::string error;
    ASSERT_TRUE(parseAutomation("0.5,2,gain,-6dB\n0.25,2,freq,2kHz\n9,1,gain,1dB\n", &points, &error));
    std::vector<ControlChange> changes;
    std::vector<std::string> warnings;
    ASSERT_TRUE(resolveAutomation(points, start, 48000.0, 48000, &changes, &warnings, &error)) << error;
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].sample, 12000);
    EXPECT_EQ(changes[0].band, 1);
    EXPECT_EQ(10.0f * changes[0].pins.freq, 2000.0f);
    EXPECT_EQ(changes[1].sample, 24000);
    EXPECT_EQ(10.0f * changes[1].pins.freq, 2000.0f);  // earlier changes carry over
    EXPECT_EQ(10.0f * changes[1].pins.gain, -6.0f);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("1 automation point after the end"), std::string::npos);

    // A shelf reached by automation still needs a Q.
    ASSERT_TRUE(parseAutomation("0.1,2,type,lowshelf\n", &points, &error));
    EXPECT_FALSE(resolveAutomation(points, start, 48000.0, 48000, &changes, &warnings, &error));
    EXPECT_NE(error.find("line 1: band 2: a lowshelf's width is a Q"), std::string::npos) << error;
}

TEST(Arguments, AcceptTheDemoARenderAndTheirOptions) {
    Options o;
    std::string error;
    ASSERT_TRUE(parseArguments({}, &o, &error)) << error;
    EXPECT_TRUE(o.input.empty());
    EXPECT_EQ(o.blockSize, 512);

    ASSERT_TRUE(parseArguments({"--band", "2=peaking,1kHz,1oct,+6dB", "in.wav", "--band=5=highshelf,8kHz,q0.7,-3dB",
                                "out.flac", "--block-size", "100", "--format=input", "--response", "r.png", "-q"},
                               &o, &error))
        << error;
    EXPECT_EQ(o.input, "in.wav");
    EXPECT_EQ(o.output, "out.flac");
    EXPECT_TRUE(o.bandGiven[1] && o.bandGiven[4]);
    EXPECT_FALSE(o.bandGiven[0] || o.bandGiven[2] || o.bandGiven[3]);
    EXPECT_EQ(o.band[4].type, kHighShelf);
    EXPECT_EQ(o.blockSize, 100);
    EXPECT_EQ(o.format, SampleFormat::Input);
    EXPECT_EQ(o.responsePath, "r.png");
    EXPECT_TRUE(o.quiet);

    ASSERT_TRUE(parseArguments({"--rate", "44100", "--out-dir", "/tmp"}, &o, &error)) << error;
    EXPECT_EQ(o.sampleRate, 44100.0);
    ASSERT_TRUE(parseArguments({"--", "-in.wav", "out.wav"}, &o, &error)) << error;
    EXPECT_EQ(o.input, "-in.wav");

    // A negative gain is a value, not an option; a batch takes every file.
    ASSERT_TRUE(parseArguments({"--gain", "-6", "--bits", "24", "--dither", "none", "--out-dir", "eq", "a.wav",
                                "--band", "1=lowpass,5kHz", "b.flac"},
                               &o, &error))
        << error;
    EXPECT_EQ(o.gainDb, -6.0);
    EXPECT_EQ(o.format, SampleFormat::Pcm24);
    EXPECT_FALSE(o.dither);
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.wav", "b.flac"}));
    EXPECT_TRUE(o.bandGiven[0]);
    ASSERT_TRUE(parseArguments({"-", "-"}, &o, &error)) << error;
    EXPECT_EQ(o.input, "-");
    EXPECT_EQ(o.output, "-");
}

TEST(Arguments, RejectBadCommandLinesWithTheReason) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"in.wav"}, "give both INPUT and OUTPUT"},
        {{"a.wav", "b.wav", "c.wav"}, "too many arguments"},
        {{"--loud"}, "unknown option --loud"},
        {{"--band"}, "--band needs a value"},
        {{"--band", "2=peaking,1kHz", "--band", "2=notch,1kHz"}, "band 2 is given twice"},
        {{"--band", "9=peaking,1kHz"}, "band 9 is outside 1 to 5"},
        {{"--format", "mp3"}, "choose float or input"},
        {{"--block-size", "0"}, "from 1 to 65536"},
        {{"--block-size", "65537"}, "from 1 to 65536"},
        {{"--block-size", "12x"}, "from 1 to 65536"},
        {{"--rate", "0"}, "from 8000 to 384000"},
        {{"--rate", "-48000"}, "from 8000 to 384000"},
        {{"--rate", "500000"}, "from 8000 to 384000"},
        {{"--rate", "fast"}, "malformed sample rate"},
        {{"--response", "plot.jpg"}, ".png, .svg or .pdf"},
        {{"--rate", "44100", "in.wav", "out.wav"}, "INPUT brings its own"},
        {{"same.wav", "same.wav"}, "is the input file"},
        {{"--bits", "12"}, "choose 16, 24, 32 or float"},
        {{"--dither", "shaped"}, "choose tpdf or none"},
        {{"--gain", "loud"}, "malformed gain"},
        {{"--gain", "+50"}, "from -100 to +40 dB"},
        {{"--gain", "1", "--gain", "2"}, "--gain is given more than once"},
        {{"--bits", "16", "--format", "float"}, "not both"},
        {{"", "out.wav"}, "empty file name was given as INPUT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.front());
        Options o;
        std::string error;
        EXPECT_FALSE(parseArguments(c.first, &o, &error));
        EXPECT_NE(error.find(c.second), std::string::npos) << error;
    }
}

}  // namespace
