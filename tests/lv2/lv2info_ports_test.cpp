// lv2info, a real lilv host, finds the plug-in in the build tree's bundle and
// lists every port as hosts will show it.
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

struct ExpectedControl {
    const char* symbol;
    const char* minimum;
    const char* maximum;
    const char* defaultValue;  // a flat peaking band, as the module's pins default to
    const char* property;      // one property lv2info must list
};

const ExpectedControl kExpected[4] = {
    {"freq", "10.000000", "20000.000000", "10.000000", "port-props#logarithmic"},
    {"gain", "-20.000000", "20.000000", "0.000000", ""},
    {"width", "0.001000", "20.000000", "3.000000", "port-props#logarithmic"},
    {"type", "0.000000", "8.000000", "6.000000", "lv2core#enumeration"},
};

TEST(Lv2Info, ListsTheStereoPairAndFourControlsPerBand) {
    if (!lv2test::installed("lv2info")) GTEST_SKIP() << "lv2info (lilv-utils) is not installed";
    const lv2test::CommandResult run = runWithBundle(std::string("lv2info ") + qvlv2::kPluginUri);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Name:              Quorvane Five Band EQ"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Parametric EQ Plugin"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("hardRTCapable"), std::string::npos) << run.output;

    std::map<int, std::string> scalePoints;
    const std::map<int, PortBlock> ports = portBlocks(run.output, &scalePoints);
    ASSERT_EQ(ports.size(), 24u) << run.output;

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
    for (int band = 1; band <= 5; ++band)
        for (int control = 0; control < 4; ++control) {
            const ExpectedControl& want = kExpected[control];
            const int port = 4 + 4 * (band - 1) + control;
            SCOPED_TRACE(std::string(want.symbol) + std::to_string(band));
            const PortBlock& block = ports.at(port);
            EXPECT_EQ(block.at("Symbol"), want.symbol + std::to_string(band));
            EXPECT_EQ(block.at("Minimum"), want.minimum);
            EXPECT_EQ(block.at("Maximum"), want.maximum);
            EXPECT_EQ(block.at("Default"), want.defaultValue);
            if (*want.property != '\0') {
                const auto properties = block.find("Properties");
                ASSERT_NE(properties, block.end());
                EXPECT_NE(properties->second.find(want.property), std::string::npos);
            }
        }
    // Every type port offers the nine responses by name.
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
