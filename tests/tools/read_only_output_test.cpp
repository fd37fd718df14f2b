// Files the user may not write are not replaced unless asked to (--force),
// whichever output they are; and plotting without numpy or matplotlib says
// which Debian packages bring them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "tools_test_support.h"

using toolstest::TempDir;

namespace {

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

unsigned modeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::set<std::string> entriesOf(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* entry = readdir(d))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.insert(entry->d_name);
        closedir(d);
    }
    return names;
}

struct ReadOnlyCase {
    const char* what;
    std::vector<std::string> args;
    std::string readOnly;  // the existing output, made mode 0444
    bool batch;            // a batch also closes with its summary line
};

void PrintTo(const ReadOnlyCase& c, std::ostream* os) { *os << c.what; }

class ReadOnlyOutput : public ::testing::TestWithParam<ReadOnlyCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(1000, 2), 2, 48000));
        ASSERT_EQ(mkdir(dir.file("eq").c_str(), 0755), 0);
        writeText(dir.file(GetParam().readOnly), "an earlier file");
        ASSERT_EQ(chmod(dir.file(GetParam().readOnly).c_str(), 0444), 0);
    }
    TempDir dir;
};

TEST_P(ReadOnlyOutput, IsLeftAsItWasWithAClearMessageAndStatus1) {
    const ReadOnlyCase& c = GetParam();
    const std::set<std::string> before = dir.entries();
    const std::set<std::string> eqBefore = entriesOf(dir.file("eq"));
    const toolstest::Run run = toolstest::runRender(c.args, dir.path());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err.rfind("quorvane-render: error: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.readOnly + " is read-only (mode 0444); not replacing it (--force replaces it)"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.batch ? 2 : 1) << run.err;
    EXPECT_EQ(toolstest::slurp(dir.file(c.readOnly)), "an earlier file");
    EXPECT_EQ(modeOf(dir.file(c.readOnly)), 0444u);
    // Nothing else was written, not even an output that could have been.
    EXPECT_EQ(dir.entries(), before);
    EXPECT_EQ(entriesOf(dir.file("eq")), eqBefore);
}

TEST_P(ReadOnlyOutput, IsReplacedWithForce) {
    const ReadOnlyCase& c = GetParam();
    std::vector<std::string> args{"--force", "-q"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const toolstest::Run run = toolstest::runRender(args, dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string now = toolstest::slurp(dir.file(c.readOnly));
    EXPECT_FALSE(now.empty());
    EXPECT_NE(now, "an earlier file");
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ReadOnlyOutput,
    ::testing::Values(
        ReadOnlyCase{"audio", {"in.wav", "out.wav"}, "out.wav", false},
        ReadOnlyCase{"flac audio", {"--bits", "16", "in.wav", "out.flac"}, "out.flac", false},
        ReadOnlyCase{"plot", {"--response", "plot.png", "in.wav", "out.wav"}, "plot.png", false},
        ReadOnlyCase{"preset with a render", {"--band", "2=peaking,1kHz", "--save-preset", "my.preset", "in.wav",
                                              "out.wav"},
                     "my.preset", false},
        ReadOnlyCase{"preset alone", {"--band", "2=peaking,1kHz", "--save-preset", "my.preset"}, "my.preset", false},
        ReadOnlyCase{"batch", {"--out-dir", "eq", "in.wav"}, "eq/in.wav", true}));

// Without numpy or matplotlib (an interpreter that cannot import them, or
// none at all) the message names the Debian packages, not a script of the
// source tree, and no plot is left.
TEST(PlottingUnavailable, NamesTheDebianPackages) {
    TempDir dir;
    ASSERT_TRUE(toolstest::writeAudio(dir.file("in.wav"), toolstest::testSignal(1000, 2), 2, 48000));
    // Python without its site packages, where Debian's numpy lives.
    writeText(dir.file("bare-python"), "#!/bin/sh\nexec /usr/bin/python3 -S \"$@\"\n");
    ASSERT_EQ(chmod(dir.file("bare-python").c_str(), 0755), 0);
    for (const std::string python : {dir.file("bare-python"), dir.file("no-python")}) {
        SCOPED_TRACE(python);
        setenv("QUORVANE_PYTHON", python.c_str(), 1);
        const toolstest::Run run =
            toolstest::runRender({"-q", "--response", "plot.png", "in.wav", "out.wav"}, dir.path());
        unsetenv("QUORVANE_PYTHON");
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("apt install python3-numpy python3-matplotlib"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("setup.sh"), std::string::npos) << run.err;
        EXPECT_EQ(dir.entries().count("plot.png"), 0u);
    }
}

}  // namespace
