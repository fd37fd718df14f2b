// The plug-in's version as hosts read it: the bundle says the project's
// minor and micro version, and with two copies installed (one in ~/.lv2, one
// in /usr/lib/lv2, say) lilv resolves the plug-in to the newer one, in
// whichever order the folders are searched; lv2info shows the version.
#include <gtest/gtest.h>

#include <lilv/lilv.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/lv2/lv2_test_support.h"
#include "tests/tools/tools_test_support.h"

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A copy of the build's bundle under `parent`, saying the given version.
void installCopy(const fs::path& parent, int minor, int micro) {
    const fs::path from = fs::path(lv2test::kBundleParent) / "quorvane.lv2", to = parent / "quorvane.lv2";
    fs::create_directories(to);
    for (const auto& entry : fs::directory_iterator(from)) fs::copy_file(entry.path(), to / entry.path().filename());
    for (const char* name : {"manifest.ttl", "quorvane.ttl"}) {
        std::string text = readText(to / name);
        text = std::regex_replace(text, std::regex("lv2:minorVersion [0-9]+"), "lv2:minorVersion " + std::to_string(minor));
        text = std::regex_replace(text, std::regex("lv2:microVersion [0-9]+"), "lv2:microVersion " + std::to_string(micro));
        std::ofstream(to / name, std::ios::trunc) << text;
    }
}

// The bundle lilv resolves the plug-in to with this search path, and the
// version it reads there.
struct Resolved {
    std::string bundle;
    int minor = -1, micro = -1;
};

Resolved resolve(const std::string& path) {
    Resolved result;
    LilvWorld* world = lilv_world_new();
    LilvNode* lv2Path = lilv_new_string(world, path.c_str());
    lilv_world_set_option(world, LILV_OPTION_LV2_PATH, lv2Path);
    lilv_node_free(lv2Path);
    lilv_world_load_all(world);
    LilvNode* uri = lilv_new_uri(world, qvlv2::kPluginUri);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    if (plugin != nullptr) {
        char* bundle = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_bundle_uri(plugin)), nullptr);
        result.bundle = bundle != nullptr ? bundle : "";
        lilv_free(bundle);
        for (auto [property, value] : {std::pair<const char*, int*>{"http://lv2plug.in/ns/lv2core#minorVersion", &result.minor},
                                       {"http://lv2plug.in/ns/lv2core#microVersion", &result.micro}}) {
            LilvNode* predicate = lilv_new_uri(world, property);
            LilvNodes* values = lilv_plugin_get_value(plugin, predicate);
            if (values != nullptr && lilv_nodes_size(values) == 1) *value = lilv_node_as_int(lilv_nodes_get_first(values));
            lilv_nodes_free(values);
            lilv_node_free(predicate);
        }
    }
    lilv_node_free(uri);
    lilv_world_free(world);
    return result;
}

TEST(InstalledVersions, TheBundleSaysTheProjectsVersion) {
    const Resolved built = resolve(lv2test::kBundleParent);
    ASSERT_FALSE(built.bundle.empty());
    EXPECT_EQ(built.minor, QUORVANE_VERSION_MINOR);
    EXPECT_EQ(built.micro, QUORVANE_VERSION_PATCH);
    const std::regex version("lv2:minorVersion " + std::to_string(QUORVANE_VERSION_MINOR) +
                             " ;\\s+lv2:microVersion " + std::to_string(QUORVANE_VERSION_PATCH) + " ;");
    for (const char* name : {"manifest.ttl", "quorvane.ttl"})
        EXPECT_TRUE(std::regex_search(readText(fs::path(lv2test::kBundleParent) / "quorvane.lv2" / name), version))
            << name;
}

struct Copies {
    const char* name;
    int firstMinor, firstMicro;    // the copy in the folder searched first
    int secondMinor, secondMicro;  // and in the one searched second
    bool firstIsNewer;
};

const Copies kCopies[] = {
    {"newer_first", 2, 0, 1, 9, true},
    {"newer_second", 1, 9, 2, 0, false},
    {"micro_decides", 2, 3, 2, 4, false},
    {"micro_decides_first", 2, 4, 2, 3, true},
};

void PrintTo(const Copies& c, std::ostream* os) { *os << c.name; }

class TwoInstalledCopies : public ::testing::TestWithParam<Copies> {};

TEST_P(TwoInstalledCopies, ResolveToTheNewer) {
    const Copies& c = GetParam();
    toolstest::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path first = fs::path(dir.path()) / "home-lv2", second = fs::path(dir.path()) / "usr-lib-lv2";
    installCopy(first, c.firstMinor, c.firstMicro);
    installCopy(second, c.secondMinor, c.secondMicro);
    const Resolved got = resolve(first.string() + ":" + second.string());
    const fs::path newer = (c.firstIsNewer ? first : second) / "quorvane.lv2";
    EXPECT_EQ(fs::path(got.bundle).lexically_normal(), (newer / "").lexically_normal());
    EXPECT_EQ(got.minor, c.firstIsNewer ? c.firstMinor : c.secondMinor);
    EXPECT_EQ(got.micro, c.firstIsNewer ? c.firstMicro : c.secondMicro);

    // lv2info, lilv's own listing, agrees, and writes out the version.
    if (!lv2test::installed("lv2info")) GTEST_SKIP() << "lv2info (lilv-utils) is not installed";
    const std::string path = first.string() + ":" + second.string();
    const lv2test::CommandResult listing = lv2test::runWithPath(path, std::string("lv2info ") + qvlv2::kPluginUri);
    ASSERT_EQ(listing.status, 0) << listing.output;
    EXPECT_NE(listing.output.find("Bundle:            file://" + newer.string() + "/"), std::string::npos)
        << listing.output;
    const std::string description = dir.file("description.ttl");
    const lv2test::CommandResult written =
        lv2test::runWithPath(path, "lv2info -p '" + description + "' " + qvlv2::kPluginUri);
    ASSERT_EQ(written.status, 0) << written.output;
    const std::string text = readText(description);
    EXPECT_TRUE(std::regex_search(
        text, std::regex("minorVersion>? " + std::to_string(got.minor) + "[^0-9]")))
        << text;
    EXPECT_TRUE(std::regex_search(
        text, std::regex("microVersion>? " + std::to_string(got.micro) + "[^0-9]")))
        << text;
}

INSTANTIATE_TEST_SUITE_P(Versions, TwoInstalledCopies, ::testing::ValuesIn(kCopies),
                         [](const ::testing::TestParamInfo<Copies>& info) { return info.param.name; });

}  // namespace
