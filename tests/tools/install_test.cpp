#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

#include "tools_test_support.h"

using toolstest::TempDir;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Installed under one prefix and then moved elsewhere, the program still finds
// its module and plotting script: nothing ties it to the build tree or to the
// prefix it was installed under.
TEST(Installed, RendersAndPlotsFromAMovedPrefix) {
    TempDir dir;
    const std::string staged = dir.file("staged"), moved = dir.file("moved");
    const toolstest::Run install = toolstest::runProgram(
        QUORVANE_CMAKE_COMMAND, {"--install", QUORVANE_BUILD_DIR, "--prefix", staged}, dir.path());
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    ASSERT_EQ(std::rename(staged.c_str(), moved.c_str()), 0);
    for (const char* file : {"bin/quorvane-render", "lib/quorvane/Quorvane.so", "lib/quorvane/plot_response.py",
                             "share/man/man1/quorvane-render.1.gz"})
        EXPECT_TRUE(exists(moved + "/" + file)) << file;

    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(2000, 2), 2, 48000));
    const toolstest::Run run = toolstest::runProgram(
        moved + "/bin/quorvane-render",
        {"-q", "--band", "2=peaking,1kHz,1oct,+6dB", "--response", "plot.png", "in.wav", "out.wav"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    toolstest::Audio out;
    ASSERT_TRUE(toolstest::readAudio(dir.file("out.wav"), &out));
    EXPECT_EQ(out.samples.size(), 4000u);
    EXPECT_TRUE(exists(dir.file("plot.png")));
}

}  // namespace
