// The shipped presets as LV2 port values: each read with quorvane-render's
// own preset reader, so the bundle's presets and the render tool's files
// cannot mean different things. Used at build time by the .ttl writer.
#pragma once

#include <string>
#include <vector>

namespace qvlv2 {

struct PortValue {
    std::string symbol;
    float value;
};

struct ShippedPreset {
    std::string name;     // the file name without .preset: "low-cut"
    std::string label;    // "Low cut"
    std::string comment;  // the file's leading comment lines
    std::vector<PortValue> ports;  // every band control and the bands' on switches
};

// Fails, saying why, for a file the render tool would not read, or one
// that would not give the same bits in both: a band left out (each front end
// has its own idea of an unset band), a width in Q for a response that takes
// octaves (the render tool converts it by the sample rate; a port cannot),
// a number that does not survive as a port's float. A preset named "flat"
// must set the ports' defaults.
bool readShippedPreset(const std::string& path, ShippedPreset* preset, std::string* error);

}  // namespace qvlv2
