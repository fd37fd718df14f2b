// lv2info, a real lilv host, finds the plug-in in the build tree's bundle and
// lists it as hosts will show it: every port with its range, default, group
// and properties, the bypass, the inline display and the presets.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/lv2/lv2_test_support.h"

namespace {

using lv2test::runWithBundle;

// One "Port N:" block of lv2info's listing, its "Key: value" lines.
using PortBlock = std::map<std::string, std::string>;

std::map<int, PortBlock> portBlocks(const std::string& listing, std::map<int, std::string>* scalePoints) {
    std::map<int, PortBlock> ports;
    std::istringstream lines(listing);
    std::string line;
    int port = -1;
    bool inScale = false;
    std::string lastKey;
    while (std::getline(lines, line)) {
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        const std::string text = line.substr(first);
        if (text.rfind("Port ", 0) == 0) {
            port = std::stoi(text.substr(5));
            inScale = false;
            continue;
        }
        if (port < 0) continue;
        if (text == "Scale Points:") {
            inScale = true;
            continue;
        }
        const size_t colon = text.find(':');
        if (inScale && colon == std::string::npos) {
            (*scalePoints)[port] += text + "\n";
            continue;
        }
        inScale = false;
        if (text.rfind("http", 0) == 0) {
            // A further value of the key above (types, properties).
            ports[port][lastKey] += " " + text;
        } else if (colon != std::string::npos) {
            const size_t value = text.find_first_not_of(" \t", colon + 1);
            lastKey = text.substr(0, colon);
            ports[port][lastKey] = value == std::string::npos ? "" : text.substr(value);
        }
    }
    return ports;
}

// What lv2info must list for a control port.
struct ExpectedControl {
    int port;
    std::string symbol;
    const char* minimum;
    const char* maximum;
    const char* defaultValue;
    std::string group;     // empty: none
    const char* property;  // one property lv2info must list, or ""
    const char* designation;
};

// Written out rather than taken from the port table, so a table that
// drifts from what the .ttl says shows here. The defaults: flat, the bands
// spread from a low shelf at 80 Hz through bells at 250 Hz, 1 and 4 kHz to a
// high shelf at 12 kHz.
std::vector<ExpectedControl> expectedControls() {
    const char* freqs[5] = {"80.000000", "250.000000", "1000.000000", "4000.000000", "12000.000000"};
    const char* widths[5] = {"0.707000", "1.000000", "1.000000", "1.000000", "0.707000"};
    const char* types[5] = {"7.000000", "6.000000", "6.000000", "6.000000", "8.000000"};
    std::vector<ExpectedControl> all;
    for (int b = 0; b < 5; ++b) {
        const std::string n = std::to_string(b + 1), group = "urn:quorvane:lv2:eq5#band" + n;
        const int first = 4 + 4 * b;
        all.push_back({first, "freq" + n, "10.000000", "20000.000000", freqs[b], group, "port-props#logarithmic", ""});
        all.push_back({first + 1, "gain" + n, "-20.000000", "20.000000", "0.000000", group, "", ""});
        all.push_back({first + 2, "width" + n, "0.010000", "10.000000", widths[b], group, "port-props#logarithmic", ""});
        all.push_back({first + 3, "type" + n, "0.000000", "8.000000", types[b], group, "lv2core#enumeration", ""});
        all.push_back({26 + b, "on" + n, "0.000000", "1.000000", "1.000000", group, "lv2core#toggled", ""});
    }
    all.push_back({24, "enabled", "0.000000", "1.000000", "1.000000", "", "lv2core#toggled", "lv2core#enabled"});
    all.push_back({25, "output_gain", "-20.000000", "20.000000", "0.000000", "", "", ""});
    return all;
}

TEST(Lv2Info, ListsTheStereoPairBandGroupsBypassGainAndPresets) {
    if (!lv2test::installed("lv2info")) GTEST_SKIP() << "lv2info (lilv-utils) is not installed";
    const lv2test::CommandResult run = runWithBundle(std::string("lv2info ") + qvlv2::kPluginUri);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Name:              Quorvane Five Band EQ"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Author:            The Quorvane developers"), std::string::npos);
    EXPECT_NE(run.output.find("Author Email:      mailto:quorvane@users.noreply.quorvane.org"), std::string::npos);
    EXPECT_NE(run.output.find("Extension Data:    http://harrisonconsoles.com/lv2/inlinedisplay#interface"),
              std::string::npos);
    EXPECT_NE(run.output.find("http://harrisonconsoles.com/lv2/inlinedisplay#queue_draw"), std::string::npos);
    // The presets by label, between "Presets:" and the first port.
    const size_t presets = run.output.find("Presets:");
    ASSERT_NE(presets, std::string::npos);
    const std::string presetList = run.output.substr(presets, run.output.find("Port 0:") - presets);
    for (const char* label : {"Flat", "Low cut", "Vocal presence", "Air", "Loudness"})
        EXPECT_NE(presetList.find(std::string(" ") + label + "\n"), std::string::npos) << label << "\n" << presetList;

    std::map<int, std::string> scalePoints;
    const std::map<int, PortBlock> ports = portBlocks(run.output, &scalePoints);
    ASSERT_EQ(ports.size(), 31u) << run.output;

    const char* audio[4][3] = {{"in_left", "InputPort", "#left"},
                               {"in_right", "InputPort", "#right"},
                               {"out_left", "OutputPort", "#left"},
                               {"out_right", "OutputPort", "#right"}};
    for (int port = 0; port < 4; ++port) {
        SCOPED_TRACE(audio[port][0]);
        const PortBlock& block = ports.at(port);
        EXPECT_EQ(block.at("Symbol"), audio[port][0]);
        EXPECT_NE(block.at("Type").find("AudioPort"), std::string::npos);
        EXPECT_NE(block.at("Type").find(audio[port][1]), std::string::npos);
        EXPECT_NE(block.at("Designation").find(audio[port][2]), std::string::npos);
        EXPECT_NE(block.at("Group").find(port < 2 ? "#in" : "#out"), std::string::npos);
    }
    for (const ExpectedControl& want : expectedControls()) {
        SCOPED_TRACE(want.symbol);
        ASSERT_EQ(ports.count(want.port), 1u);
        const PortBlock& block = ports.at(want.port);
        EXPECT_EQ(block.at("Symbol"), want.symbol);
        EXPECT_NE(block.at("Type").find("ControlPort"), std::string::npos);
        EXPECT_NE(block.at("Type").find("InputPort"), std::string::npos);
        EXPECT_EQ(block.at("Minimum"), want.minimum);
        EXPECT_EQ(block.at("Maximum"), want.maximum);
        EXPECT_EQ(block.at("Default"), want.defaultValue);
        const auto group = block.find("Group");
        EXPECT_EQ(group == block.end() ? "" : group->second, want.group);
        if (*want.property != '\0') {
            const auto properties = block.find("Properties");
            ASSERT_NE(properties, block.end());
            EXPECT_NE(properties->second.find(want.property), std::string::npos);
        }
        const auto designation = block.find("Designation");
        if (*want.designation != '\0') {
            ASSERT_NE(designation, block.end());
            EXPECT_NE(designation->second.find(want.designation), std::string::npos);
        } else {
            EXPECT_EQ(designation, block.end());
        }
    }
    // Width's name says its unit; every type port offers the nine responses
    // by name.
    EXPECT_EQ(ports.at(6).at("Name"), "Width 1 (oct, shelf Q)");
    const char* responses[9] = {"0 = \"Low-pass\"", "1 = \"High-pass\"", "2 = \"Band-pass (skirt)\"",
                                "3 = \"Band-pass (peak)\"", "4 = \"Notch\"", "5 = \"All-pass\"",
                                "6 = \"Peaking\"", "7 = \"Low shelf\"", "8 = \"High shelf\""};
    for (int band = 0; band < 5; ++band) {
        const std::string& points = scalePoints[7 + 4 * band];
        for (const char* response : responses)
            EXPECT_NE(points.find(response), std::string::npos) << "band " << band + 1 << ": " << response;
    }
}

}  // namespace
