// Band presets: files of band settings, one per line in the --band syntax
// ("2=peaking,1kHz,1oct,+6dB"), with '#' comments and blank lines.
#pragma once

#include <string>

#include "tools/render_settings.h"

namespace qvtools {

struct BandSet {
    bool given[kBandCount] = {};
    BandSetting band[kBandCount];
};

// Fails with the first line it cannot read (or a band set twice), naming it.
bool parsePreset(const std::string& text, BandSet* bands, std::string* error);

// The bands that are set, one line each, which parsePreset reads back as the
// same settings.
std::string formatPreset(const BandSet& bands);

}  // namespace qvtools
