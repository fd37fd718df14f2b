// The command line as scripts use it: empty names, paths spelt two ways,
// outputs that cannot be written, the module beside the files, exit statuses
// on interrupts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>

#include "tools_test_support.h"

using toolstest::TempDir;

namespace {

struct CommandCase {
    const char* what;
    std::vector<std::string> args;
    int status;
    const char* errorHas;              // on stderr ("" for none expected)
    std::set<std::string> newEntries;  // what the run leaves beside the inputs
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.what; }

class CommandLine : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandLine, EndsWithItsStatusAndLeavesOnlyWhatItSays) {
    const CommandCase& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(1000, 2), 2, 48000));
    ASSERT_TRUE(toolstest::writeAudio(dir.file("int32.wav"), toolstest::testSignal(1000, 2), 2, 48000,
                                      SF_FORMAT_WAV | SF_FORMAT_PCM_32));
    // Under a name no library search would find.
    ASSERT_EQ(symlink(QUORVANE_MODULE_PATH, dir.file("MyEq.so").c_str()), 0);
    const std::set<std::string> before = dir.entries();
    const toolstest::Run run = toolstest::runRender(c.args, dir.path());
    EXPECT_EQ(run.status, c.status) << run.err;
    if (*c.errorHas != '\0') {
        EXPECT_NE(run.err.find(c.errorHas), std::string::npos) << run.err;
    }
    std::set<std::string> added;
    for (const std::string& name : dir.entries())
        if (before.count(name) == 0) added.insert(name);
    EXPECT_EQ(added, c.newEntries);
}

INSTANTIATE_TEST_SUITE_P(
    Defects, CommandLine,
    ::testing::Values(
        CommandCase{"an empty INPUT is an error, not the demo", {"", "out.wav"}, 2, "empty file name", {}},
        CommandCase{"an empty OUTPUT is an error", {"in.wav", ""}, 2, "empty file name", {}},
        CommandCase{"output is input, spelt the same", {"in.wav", "in.wav"}, 2, "is the input file", {}},
        CommandCase{"output is input, spelt otherwise", {"in.wav", "./in.wav"}, 2, "is the input file", {}},
        CommandCase{"an unwritable plot fails before the render",
                    {"--response", "nowhere/plot.png", "in.wav", "out.wav"}, 1, "cannot write nowhere/plot.png", {}},
        CommandCase{"an unwritable preset fails before the render",
                    {"--save-preset", "nowhere/p.txt", "in.wav", "out.wav"}, 1, "cannot write nowhere/p.txt", {}},
        CommandCase{"a bare module name is the file here",
                    {"-q", "--module", "MyEq.so", "in.wav", "out.wav"}, 0, "", {"out.wav"}},
        CommandCase{"32-bit integers go to FLAC as 24 bits by default", {"-q", "int32.wav", "out.flac"}, 0, "",
                    {"out.flac"}},
        CommandCase{"the error names the depths FLAC takes", {"--bits", "32", "in.wav", "out.flac"}, 1,
                    "use --bits 16, 24, or another output type", {}},
        CommandCase{"a missing --out-dir is made", {"-q", "--out-dir", "made/deeper", "in.wav"}, 0, "", {"made"}},
        CommandCase{"--bits and --format together", {"--bits", "16", "--format", "input", "in.wav", "o.wav"}, 2,
                    "not both", {}},
        CommandCase{"standard input has no name for a batch", {"--out-dir", "d", "-"}, 2, "standard input", {}},
        CommandCase{"two inputs of one name in a batch", {"--out-dir", "d", "in.wav", "./in.wav"}, 2,
                    "would both be written to in.wav", {}},
        CommandCase{"--save-preset alone only saves", {"--band", "2=peaking,1kHz", "--save-preset", "p.txt"}, 0, "",
                    {"p.txt"}}));

TEST(CommandLine, HelpListsTheExitStatusesAndVersionIsTheProjects) {
    TempDir dir;
    const toolstest::Run help = toolstest::runRender({"--help"}, dir.path());
    EXPECT_NE(help.out.find("Exit status: 0 done; 1 a file could not be rendered"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("129, 130, 143"), std::string::npos) << help.out;
    const toolstest::Run version = toolstest::runRender({"--version"}, dir.path());
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("quorvane-render [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
}

struct InterruptCase {
    int signal;
    int status;
};

void PrintTo(const InterruptCase& c, std::ostream* os) { *os << "signal " << c.signal; }

class Interrupted : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(Interrupted, ExitsWith128PlusTheSignalAndOneLineQuietly) {
    TempDir dir;
    // A long file at one frame per process call takes seconds to render.
    ASSERT_TRUE(toolstest::writeAudio(dir.file("long.wav"), toolstest::testSignal(48000 * 20, 1), 1, 48000));
    const std::set<std::string> before = dir.entries();
    const toolstest::Run run =
        toolstest::runRender({"-q", "--block-size", "1", "long.wav", "out.wav"}, dir.path(), 400, GetParam().signal);
    if (run.status == 0) GTEST_SKIP() << "the render finished before the signal arrived";
    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_EQ(run.err, "quorvane-render: interrupted; no output written\n");
    EXPECT_EQ(dir.entries(), before);
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupted,
                         ::testing::Values(InterruptCase{SIGINT, 130}, InterruptCase{SIGTERM, 143},
                                           InterruptCase{SIGHUP, 129}));

}  // namespace
