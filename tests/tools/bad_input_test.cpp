#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>

#include "tools_test_support.h"

using toolstest::TempDir;

namespace {

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A WAV file whose header claims a sample rate of 0 Hz.
void writeZeroRateWav(const std::string& path) {
    std::string body = "WAVEfmt ";
    const auto put32 = [&body](uint32_t v) {
        for (int i = 0; i < 4; ++i) body.push_back(static_cast<char>(v >> (8 * i)));
    };
    const auto put16 = [&body](uint16_t v) {
        body.push_back(static_cast<char>(v));
        body.push_back(static_cast<char>(v >> 8));
    };
    put32(16);
    put16(1);   // PCM
    put16(1);   // mono
    put32(0);   // sample rate
    put32(0);   // bytes per second
    put16(2);   // block align
    put16(16);  // bits
    body += "data";
    put32(200);
    body += std::string(200, '\x01');
    std::string file = "RIFF";
    const uint32_t size = static_cast<uint32_t>(body.size());
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<char>(size >> (8 * i)));
    writeText(path, file + body);
}

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(1000, 2), 2, 48000));
        ASSERT_TRUE(toolstest::writeAudio(dir.file("low.wav"), toolstest::testSignal(1000, 1), 1, 4000));
        ASSERT_TRUE(toolstest::writeAudio(dir.file("three.wav"), toolstest::testSignal(300, 3), 3, 48000));
        ASSERT_TRUE(toolstest::writeAudio(dir.file("empty.wav"), {}, 2, 48000));
        writeZeroRateWav(dir.file("zero-rate.wav"));
        writeText(dir.file("text.wav"), "this is not audio\n");
        writeText(dir.file("bad.csv"), "time,band,parameter,value\n1,2,volume,3\n");
        writeText(dir.file("shelf.csv"), "0.01,2,type,lowshelf\n");
        ASSERT_EQ(symlink("in.wav", dir.file("link.wav").c_str()), 0);
        before = dir.entries();
    }

    TempDir dir;
    std::set<std::string> before;
};

TEST_F(BadInput, GivesAOneLineErrorAndLeavesNoOutput) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--band", "2=peeking,1kHz", "in.wav", "out.wav"}, "unknown response 'peeking'"},
        {{"--band", "2=peaking,1kHz,1ctave", "in.wav", "out.wav"}, "cannot read '1ctave'"},
        {{"--band", "2=peaking,12..5Hz", "in.wav", "out.wav"}, "malformed frequency '12..5Hz'"},
        {{"--band", "2=peaking,1kHz,1oct,+six dB", "in.wav", "out.wav"}, "malformed gain"},
        {{"--band", "0=peaking,1kHz", "in.wav", "out.wav"}, "band 0 is outside 1 to 5"},
        {{"--band", "6=peaking,1kHz", "in.wav", "out.wav"}, "band 6 is outside 1 to 5"},
        {{"missing.wav", "out.wav"}, "cannot read missing.wav: No such file"},
        {{"text.wav", "out.wav"}, "cannot read text.wav"},
        {{"in.wav", "in.wav"}, "is the input file"},
        {{"in.wav", "./in.wav"}, "is the input file"},
        {{"in.wav", "link.wav"}, "is the input file"},
        {{"low.wav", "out.wav"}, "sample rate 4000 Hz is outside the 8000 to 384000 Hz"},
        {{"zero-rate.wav", "out.wav"}, "cannot read zero-rate.wav"},
        {{"three.wav", "out.wav"}, "has 3 channels"},
        {{"empty.wav", "out.wav"}, "holds no audio"},
        {{"in.wav", "out.mp3"}, "unsupported output type .mp3"},
        {{"in.wav", "out"}, "unsupported output type (no extension)"},
        {{"--format", "float", "in.wav", "out.flac"}, "cannot hold 32-bit float"},
        {{"in.wav", "nowhere/out.wav"}, "cannot write nowhere/out.wav"},
        {{"--automation", "bad.csv", "in.wav", "out.wav"}, "bad.csv: automation line 2: unknown parameter 'volume'"},
        {{"--automation", "shelf.csv", "--band", "2=peaking,1kHz", "in.wav", "out.wav"}, "width is a Q"},
        {{"--automation", "missing.csv", "in.wav", "out.wav"}, "cannot read missing.csv"},
        {{"--response", "in.wav", "in.wav", "out.wav"}, ".png, .svg or .pdf"},
        {{"--block-size", "0", "in.wav", "out.wav"}, "--block-size 0"},
        {{"--module", "/nonexistent/Quorvane.so", "in.wav", "out.wav"}, "cannot load the module library"},
        {{"--out-dir", "in.wav"}, "--out-dir in.wav is not a folder"},
        {{"--rate", "0"}, "--rate 0"},
        {{"in.wav"}, "give both INPUT and OUTPUT"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& arg : c.first) line += arg + " ";
        SCOPED_TRACE(line);
        const toolstest::Run run = toolstest::runRender(c.first, dir.path());
        EXPECT_NE(run.status, 0);
        EXPECT_LT(run.status, 128) << "ended by a signal";
        EXPECT_EQ(run.err.rfind("quorvane-render: error: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(c.second), std::string::npos) << run.err;
        EXPECT_EQ(dir.entries(), before);
    }
}

TEST_F(BadInput, LeavesAnExistingOutputAsItWas) {
    writeText(dir.file("keep.wav"), "earlier render");
    const toolstest::Run run =
        toolstest::runRender({"--band", "2=peaking,1kHz,1oct", "--automation", "bad.csv", "in.wav", "keep.wav"},
                             dir.path());
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(toolstest::slurp(dir.file("keep.wav")), "earlier render");
}

TEST_F(BadInput, SettingsTheModuleClampsAreRenderedWithAWarning) {
    const toolstest::Run run =
        toolstest::runRender({"-q", "--band", "2=peaking,30kHz,1oct,+26dB", "in.wav", "out.wav"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("warning: band 2: frequency 30 kHz is outside 10 Hz to 20 kHz; the module uses 20 kHz"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("warning: band 2: gain +26 dB is outside -20 to +20 dB; the module uses +20 dB"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(dir.entries().count("out.wav"), 1u);
}

TEST_F(BadInput, AnInterruptedRenderLeavesNothingUnderTheOutputName) {
    // A long file at one frame per process call takes seconds to render.
    ASSERT_TRUE(toolstest::writeAudio(dir.file("long.wav"), toolstest::testSignal(48000 * 20, 1), 1, 48000));
    before = dir.entries();
    const toolstest::Run run =
        toolstest::runRender({"--block-size", "1", "long.wav", "out.wav"}, dir.path(), 400, SIGINT);
    if (run.status == 0) GTEST_SKIP() << "the render finished before the interrupt arrived";
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.err.find("interrupted; no output written"), std::string::npos) << run.err;
    EXPECT_EQ(dir.entries(), before);
}

}  // namespace
