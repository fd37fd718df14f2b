#include "lv2/shipped_presets.h"

#include <cctype>
#include <fstream>
#include <sstream>

#include "lv2/port_table.h"
#include "lv2/typed_value.h"
#include "tools/preset.h"

namespace qvlv2 {

namespace {

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind(".preset");
    if (dot != std::string::npos && dot + 7 == name.size()) name.erase(dot);
    return name;
}

std::string labelFor(const std::string& name) {
    std::string label = name;
    for (char& c : label)
        if (c == '-') c = ' ';
    if (!label.empty()) label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
    return label;
}

// The comment block the file starts with, as one line.
std::string leadingComment(const std::string& text) {
    std::istringstream lines(text);
    std::string line, comment;
    while (std::getline(lines, line) && !line.empty() && line[0] == '#') {
        const size_t start = line.find_first_not_of("# \t");
        if (start == std::string::npos) continue;
        if (!comment.empty()) comment += ' ';
        comment += line.substr(start);
    }
    return comment;
}

}  // namespace

bool readShippedPreset(const std::string& path, ShippedPreset* preset, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) {
        *error = path + ": cannot read";
        return false;
    }
    qvtools::BandSet bands;
    std::string why;
    if (!qvtools::parsePreset(text.str(), &bands, &why)) {
        *error = path + ": " + why;
        return false;
    }
    ShippedPreset result;
    result.name = baseName(path);
    result.label = labelFor(result.name);
    result.comment = leadingComment(text.str());
    for (uint32_t band = 0; band < kBands; ++band) {
        const std::string where = path + ": band " + std::to_string(band + 1) + ": ";
        if (!bands.given[band]) {
            *error = where + "not set; a shipped preset sets every band";
            return false;
        }
        const qvtools::BandSetting& s = bands.band[band];
        if (!qvtools::isShelf(s.type) && s.widthUnit != qvtools::WidthUnit::Octaves) {
            *error = where + "give the width in octaves; a Q turns into octaves by the sample rate";
            return false;
        }
        const double values[4] = {s.freqHz, qvtools::hasGain(s.type) ? s.gainDb : 0.0, s.width,
                                  static_cast<double>(s.type)};
        for (uint32_t control = 0; control < 4; ++control) {
            const float port = static_cast<float>(values[control]);
            if (typedValue(port) != values[control]) {
                *error = where + kControls[control].symbol + " " + std::to_string(values[control]) +
                         " does not survive as a port value; round it";
                return false;
            }
            if (result.name == "flat" && port != defaultValue(band, static_cast<BandControl>(control))) {
                *error = where + "the flat preset must set the ports' defaults (" + kControls[control].symbol + ")";
                return false;
            }
            result.ports.push_back({kControls[control].symbol + std::to_string(band + 1), port});
        }
        result.ports.push_back({kBandOnSymbol + std::to_string(band + 1), 1.0f});
    }
    *preset = result;
    return true;
}

}  // namespace qvlv2
