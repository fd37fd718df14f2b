#include "tools/preset.h"

#include <sstream>

namespace qvtools {

bool parsePreset(const std::string& text, BandSet* bands, std::string* error) {
    BandSet parsed;
    std::stringstream stream(text);
    std::string line;
    for (int number = 1; std::getline(stream, line); ++number) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        const size_t begin = line.find_first_not_of(" \t\r");
        if (begin == std::string::npos) continue;
        line = line.substr(begin, line.find_last_not_of(" \t\r") + 1 - begin);
        BandOption option;
        std::string lineError;
        if (!parseBandOption(line, &option, &lineError)) {
            *error = "preset line " + std::to_string(number) + ": " + lineError;
            return false;
        }
        if (parsed.given[option.band - 1]) {
            *error = "preset line " + std::to_string(number) + ": band " + std::to_string(option.band) +
                     " is set twice";
            return false;
        }
        parsed.given[option.band - 1] = true;
        parsed.band[option.band - 1] = option.setting;
    }
    *bands = parsed;
    return true;
}

std::string formatPreset(const BandSet& bands) {
    std::string text = "# quorvane-render preset: one band per line, as --band takes it\n";
    for (int band = 0; band < kBandCount; ++band)
        if (bands.given[band]) text += formatBandOption(band + 1, bands.band[band]) + "\n";
    return text;
}

}  // namespace qvtools
