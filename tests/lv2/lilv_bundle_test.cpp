// The bundle as lilv reads it for a host: one preset for every preset file
// the render tool reads, labelled from its name, setting every band control
// and switch and nothing else; and the band controls in groups labelled
// "Band 1" to "Band 5".
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/lv2/lilv_bundle.h"

namespace {

std::vector<std::string> presetFileNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(QUORVANE_PRESET_DIR))
        if (entry.path().extension() == ".preset") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> bandSymbols() {
    std::vector<std::string> symbols;
    for (int band = 1; band <= 5; ++band)
        for (const char* control : {"freq", "gain", "width", "type", "on"})
            symbols.push_back(control + std::to_string(band));
    std::sort(symbols.begin(), symbols.end());
    return symbols;
}

TEST(LilvBundle, EveryPresetFileIsAPresetOfTheBundle) {
    lv2test::LilvBundle bundle;
    ASSERT_NE(bundle.plugin(), nullptr);
    std::vector<std::string> uris = bundle.presetUris();
    std::sort(uris.begin(), uris.end());
    std::vector<std::string> expected;
    for (const std::string& name : presetFileNames())
        expected.push_back(std::string(qvlv2::kPluginUri) + "#preset-" + name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(uris, expected);
    EXPECT_EQ(presetFileNames().size(), 5u);

    const std::map<std::string, std::string> labels = {{"flat", "Flat"},
                                                       {"low-cut", "Low cut"},
                                                       {"vocal-presence", "Vocal presence"},
                                                       {"air", "Air"},
                                                       {"loudness", "Loudness"}};
    for (const std::string& name : presetFileNames()) {
        SCOPED_TRACE(name);
        std::string label;
        const std::map<std::string, float> values =
            bundle.presetValues(std::string(qvlv2::kPluginUri) + "#preset-" + name, &label);
        EXPECT_EQ(label, labels.count(name) ? labels.at(name) : "?");
        std::vector<std::string> symbols;
        for (const auto& value : values) {
            symbols.push_back(value.first);
            EXPECT_FALSE(std::isnan(value.second)) << value.first;
            if (value.first.rfind("on", 0) == 0) {
                EXPECT_EQ(value.second, 1.0f) << value.first;
            }
        }
        // Presets leave the bypass and the output gain where they are.
        EXPECT_EQ(symbols, bandSymbols());
    }
}

// The presets' descriptions speak to a plug-in user, who need not know the
// render tool; what a preset file says for that tool stays in the file.
TEST(LilvBundle, PresetDescriptionsLeaveTheRenderToolOut) {
    std::ifstream file(std::string(lv2test::kBundleParent) + "/quorvane.lv2/presets.ttl");
    std::stringstream text;
    text << file.rdbuf();
    ASSERT_NE(text.str().find("rdfs:comment"), std::string::npos);
    EXPECT_EQ(text.str().find("quorvane-render"), std::string::npos) << text.str();
    EXPECT_EQ(text.str().find("--preset"), std::string::npos);
}

// Hosts show each band control with its unit: the width in octaves, a unit
// the bundle defines itself, on a logarithmic slider.
TEST(LilvBundle, BandControlsSayTheirUnits) {
    lv2test::LilvBundle bundle;
    ASSERT_NE(bundle.plugin(), nullptr);
    const std::pair<const char*, const char*> units[] = {
        {"freq", "http://lv2plug.in/ns/extensions/units#hz"},
        {"gain", "http://lv2plug.in/ns/extensions/units#db"},
        {"width", "oct"}};
    for (int band = 1; band <= 5; ++band)
        for (const auto& unit : units) {
            bool logarithmic = false;
            EXPECT_EQ(bundle.unitSymbol(unit.first + std::to_string(band), &logarithmic), unit.second)
                << unit.first << band;
            EXPECT_EQ(logarithmic, std::string(unit.first) != "gain") << unit.first << band;
        }
}

TEST(LilvBundle, BandControlsAreGroupedByBand) {
    lv2test::LilvBundle bundle;
    ASSERT_NE(bundle.plugin(), nullptr);
    for (int band = 1; band <= 5; ++band)
        for (const char* control : {"freq", "gain", "width", "type", "on"})
            EXPECT_EQ(bundle.groupLabel(control + std::to_string(band)), "Band " + std::to_string(band))
                << control << band;
    EXPECT_EQ(bundle.groupLabel("enabled"), "");
    EXPECT_EQ(bundle.groupLabel("output_gain"), "");
    EXPECT_EQ(bundle.groupLabel("in_left"), "Input");
}

}  // namespace
