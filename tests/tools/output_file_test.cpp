// What a render writes: the same bytes every time, headers strict readers
// take, the input's tags, integer depths with or without dither, and clear
// words about NaN, infinity, cut-short inputs and files past 4 GiB.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tools/audio_file.h"
#include "tools/float_wav_header.h"
#include "tools_test_support.h"

using toolstest::Audio;
using toolstest::TempDir;

namespace {

uint32_t le32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// Size and format tag of the WAV's fmt chunk; 0s when there is none.
std::pair<uint32_t, uint32_t> fmtChunk(const std::string& wav) {
    for (size_t at = 12; at + 10 <= wav.size();) {
        const uint32_t size = le32(wav, at + 4);
        if (wav.compare(at, 4, "fmt ") == 0) return {size, le32(wav, at + 8) & 0xFFFF};
        at += 8 + size + size % 2;
    }
    return {0, 0};
}

struct RepeatCase {
    const char* output;
    std::vector<std::string> options;
};

void PrintTo(const RepeatCase& c, std::ostream* os) { *os << c.output; }

class RenderedTwice : public ::testing::TestWithParam<RepeatCase> {};

TEST_P(RenderedTwice, GivesTheSameBytesWithTheInputsTagsAndAHeaderStrictReadersTake) {
    const RepeatCase& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(3000, 2), 2, 48000,
                                      SF_FORMAT_WAV | SF_FORMAT_FLOAT, "Take Five"));
    std::string first;
    for (const char* output : {"a", "b"}) {
        std::vector<std::string> args = c.options;
        const std::string name = std::string(output) + c.output;
        args.insert(args.end(), {"-q", "in.wav", name});
        const toolstest::Run run = toolstest::runRender(args, dir.path());
        ASSERT_EQ(run.status, 0) << run.err;
        if (first.empty()) {
            first = toolstest::slurp(dir.file(name));
            // A second later: a time stamp in the file would show.
            sleep(1);
        } else {
            EXPECT_EQ(toolstest::slurp(dir.file(name)), first);
        }
        Audio out;
        ASSERT_TRUE(toolstest::readAudio(dir.file(name), &out));
        EXPECT_EQ(out.title, "Take Five");
    }
    if (std::string(c.output) == ".wav") {
        EXPECT_EQ(fmtChunk(first), std::make_pair(18u, 3u)) << "float WAV: plain float format with its extension";
        // sox is the strict reader users meet; where it is installed, it reads the file without a word.
        if (access("/usr/bin/sox", X_OK) == 0) {
            const toolstest::Run sox = toolstest::runProgram("/usr/bin/sox", {"a.wav", "-n"}, dir.path());
            EXPECT_EQ(sox.status, 0);
            EXPECT_EQ(sox.err, "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, RenderedTwice,
                         ::testing::Values(RepeatCase{".wav", {}}, RepeatCase{".aiff", {}},
                                           RepeatCase{".flac", {}}, RepeatCase{"-16.wav", {"--bits", "16"}},
                                           RepeatCase{"-24.aiff", {"--bits", "24"}}));

struct DepthCase {
    std::vector<std::string> options;
    const char* output;
    int format;
    double maxErrorSteps;  // against the input, in steps of the output's depth
    bool exact;            // no dither: every sample as the input has it
};

void PrintTo(const DepthCase& c, std::ostream* os) {
    for (const std::string& o : c.options) *os << o << " ";
    *os << c.output;
}

class IntegerOutput : public ::testing::TestWithParam<DepthCase> {};

// A flat render of 16-bit audio: without dither the samples come back as they
// were; with it, each is at most one step off, and not all are equal.
TEST_P(IntegerOutput, HasItsDepthAndDitherOfOneStepAtMost) {
    const DepthCase& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(4000, 2), 2, 48000,
                                      SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-q", "in.wav", c.output});
    const toolstest::Run run = toolstest::runRender(args, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    Audio in, out;
    ASSERT_TRUE(toolstest::readAudio(dir.file("in.wav"), &in));
    ASSERT_TRUE(toolstest::readAudio(dir.file(c.output), &out));
    EXPECT_EQ(out.format, c.format);
    ASSERT_EQ(out.samples.size(), in.samples.size());
    const int bits = (c.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 ? 16 : 24;
    double worst = 0.0;
    size_t changed = 0;
    for (size_t i = 0; i < in.samples.size(); ++i) {
        const double steps = std::fabs(out.samples[i] - in.samples[i]) * std::ldexp(1.0, bits - 1);
        worst = std::max(worst, steps);
        changed += out.samples[i] != in.samples[i];
    }
    EXPECT_LE(worst, c.maxErrorSteps);
    if (c.exact)
        EXPECT_EQ(changed, 0u);
    else
        EXPECT_GT(changed, in.samples.size() / 4) << "dither should move many samples";
}

INSTANTIATE_TEST_SUITE_P(
    Depths, IntegerOutput,
    ::testing::Values(DepthCase{{"--bits", "16", "--dither", "none"}, "o.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0,
                                true},
                      DepthCase{{"--bits", "16"}, "o.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.0, false},
                      DepthCase{{"--format", "input"}, "o.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1.0, false},
                      DepthCase{{"--bits", "24"}, "o.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1.0, false}));

struct WarningCase {
    const char* what;
    const char* input;  // written by the test
    const char* output;
    int status;
    const char* stderrHas;
};

void PrintTo(const WarningCase& c, std::ostream* os) { *os << c.what; }

class ToldPlainly : public ::testing::TestWithParam<WarningCase> {};

TEST_P(ToldPlainly, WhatHappenedToTheAudio) {
    const WarningCase& c = GetParam();
    TempDir dir;
    std::vector<float> samples = toolstest::testSignal(2000, 2);
    samples[100] = std::numeric_limits<float>::quiet_NaN();
    samples[501] = std::numeric_limits<float>::infinity();
    ASSERT_TRUE(toolstest::writeAudio(dir.file("nan.wav"), samples, 2, 48000));
    std::vector<float> loud = toolstest::testSignal(2000, 2);
    for (float& sample : loud) sample *= 4.0f;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("loud.wav"), loud, 2, 48000));
    ASSERT_TRUE(toolstest::writeAudio(dir.file("whole.wav"), toolstest::testSignal(4000, 2), 2, 48000,
                                      SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    const std::string whole = toolstest::slurp(dir.file("whole.wav"));
    std::ofstream(dir.file("cut.wav"), std::ios::binary) << whole.substr(0, whole.size() / 2);
    const toolstest::Run run = toolstest::runRender({c.input, c.output}, dir.path());
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.stderrHas), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ToldPlainly,
    ::testing::Values(
        WarningCase{"NaN to FLAC", "nan.wav", "o.flac", 1,
                    "nan.wav holds NaN or infinite samples: output frame 50 is NaN or infinite, which 24-bit integer"},
        WarningCase{"NaN to float WAV", "nan.wav", "o.wav", 0,
                    "nan.wav holds 2 NaN or infinite samples; the float output holds"},
        WarningCase{"beyond full scale to FLAC", "loud.wav", "o.flac", 0,
                    "went beyond full scale and were clipped in 24-bit output"},
        WarningCase{"cut short", "cut.wav", "o.wav", 0, "cut.wav is cut short: its header promises 4000 frames"}));

TEST(ToldPlainly, OneFrameIsOneFrame) {
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("one.wav"), {0.5f}, 1, 48000));
    const toolstest::Run run = toolstest::runRender({"one.wav", "o.wav"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("rendered 1 frame (0.0208 ms of mono audio at 48000 Hz)"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("0x real time"), std::string::npos) << run.out;
}

// Past the limit a WAV's 32-bit sizes would wrap; the writer switches to
// RF64 there (the limit brought down so a small file crosses it). A stream of
// unknown length that stays small remains plain WAV.
TEST(LongWav, PastTheSizeLimitIsRf64AndReadsBackWhole) {
    struct Case {
        int64_t limitBytes;
        int64_t frames;  // as the writer is told; -1 unknown
        int major;
    };
    const Case cases[] = {{qvtools::kWavDataLimitBytes, 3000, SF_FORMAT_WAV},
                          {3000 * 2 * 4 - 1, 3000, SF_FORMAT_RF64},
                          {qvtools::kWavDataLimitBytes, -1, SF_FORMAT_WAV}};
    TempDir dir;
    const std::vector<float> samples = toolstest::testSignal(3000, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limitBytes);
        qvtools::OutputLayout layout;
        layout.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        layout.sampleRate = 48000;
        layout.channels = 2;
        layout.frames = c.frames;
        layout.wavDataLimitBytes = c.limitBytes;
        std::string error;
        qvtools::AudioWriter writer;
        ASSERT_TRUE(writer.open(dir.file("long.wav"), layout, &error)) << error;
        ASSERT_TRUE(writer.write(samples.data(), 3000, &error)) << error;
        ASSERT_TRUE(writer.commit(&error)) << error;
        Audio back;
        ASSERT_TRUE(toolstest::readAudio(dir.file("long.wav"), &back));
        EXPECT_EQ(back.format & SF_FORMAT_TYPEMASK, c.major);
        EXPECT_EQ(back.samples, samples);
    }
}

}  // namespace
