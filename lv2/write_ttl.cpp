// Writes the bundle's manifest.ttl, quorvane.ttl and presets.ttl from the
// port table and the shipped preset files, at build time, so the
// description hosts read, the ports run() serves and the presets the render
// tool reads come from one place each.
//
//     quorvane-lv2-ttl BUNDLE_DIR BINARY_FILE_NAME [PRESET_FILE...]
//
// The build gives the project's version and the maintainer's address as
// QUORVANE_LV2_MINOR_VERSION, QUORVANE_LV2_MICRO_VERSION and
// QUORVANE_LV2_MAINTAINER_MBOX.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lv2/inline_display.h"
#include "lv2/port_table.h"
#include "lv2/ports.h"
#include "lv2/shipped_presets.h"

namespace {

using namespace qvlv2;

constexpr int kMinorVersion = QUORVANE_LV2_MINOR_VERSION;
constexpr int kMicroVersion = QUORVANE_LV2_MICRO_VERSION;
constexpr const char* kMaintainerMbox = QUORVANE_LV2_MAINTAINER_MBOX;

constexpr const char* kPrefixes =
    "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pg:    <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pprop: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n";

// Plain decimals with a point, as Turtle reads them as xsd:decimal: the
// fewest places that read back as the same float.
std::string decimal(float value) {
    char text[64];
    for (int places = 0; places <= 12; ++places) {
        std::snprintf(text, sizeof text, "%.*f", places, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) break;
    }
    std::string s = text;
    if (s.find('.') == std::string::npos) s += ".0";
    return s;
}

// A Turtle string's contents.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string integer(float value) { return std::to_string(static_cast<int>(value)); }

std::string uri(const std::string& fragment) { return std::string("<") + kPluginUri + fragment + ">"; }

void audioPort(std::ostream& out, uint32_t index, bool input, bool left) {
    const char* side = left ? "left" : "right";
    out << "    [\n"
        << "        a lv2:AudioPort , " << (input ? "lv2:InputPort" : "lv2:OutputPort") << " ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol \"" << (input ? "in_" : "out_") << side << "\" ;\n"
        << "        lv2:name \"" << (input ? "In " : "Out ") << (left ? "L" : "R") << "\" ;\n"
        << "        pg:group " << uri(input ? "#in" : "#out") << " ;\n"
        << "        lv2:designation pg:" << side << "\n"
        << "    ]";
}

// A control port's name with the band number before any parenthesis:
// "Width 1 (oct, shelf Q)".
std::string bandName(const char* name, uint32_t band) {
    const std::string text = name;
    const size_t paren = text.find(" (");
    const std::string number = " " + std::to_string(band + 1);
    return paren == std::string::npos ? text + number : text.substr(0, paren) + number + text.substr(paren);
}

void controlPortText(std::ostream& out, uint32_t band, BandControl control) {
    const ControlDescription& d = kControls[control];
    const auto value = [&d](float v) { return d.enumeration ? integer(v) : decimal(v); };
    out << "    [\n"
        << "        a lv2:InputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << controlPort(band, control) << " ;\n"
        << "        lv2:symbol \"" << d.symbol << band + 1 << "\" ;\n"
        << "        lv2:name " << quoted(bandName(d.name, band)) << " ;\n"
        << "        rdfs:comment " << quoted(d.comment) << " ;\n"
        << "        pg:group " << uri("#band" + std::to_string(band + 1)) << " ;\n"
        << "        lv2:default " << value(defaultValue(band, control)) << " ;\n"
        << "        lv2:minimum " << value(d.minimum) << " ;\n"
        << "        lv2:maximum " << value(d.maximum);
    if (d.unit == ControlUnit::Hz) out << " ;\n        units:unit units:hz";
    if (d.unit == ControlUnit::Db) out << " ;\n        units:unit units:db";
    if (d.unit == ControlUnit::Octaves) out << " ;\n        units:unit " << uri("#octave");
    if (d.logarithmic) out << " ;\n        lv2:portProperty pprop:logarithmic";
    if (d.enumeration) {
        out << " ;\n        lv2:portProperty lv2:integer , lv2:enumeration ;\n        lv2:scalePoint";
        for (int type = 0; type < 9; ++type)
            out << (type == 0 ? " " : " ,\n            ") << "[ rdfs:label \"" << kResponseLabels[type]
                << "\" ; rdf:value " << type << " ]";
    }
    out << "\n    ]";
}

// A toggle: 1 on, 0 off, on by default.
void togglePortText(std::ostream& out, uint32_t index, const std::string& symbol, const std::string& name,
                    const char* comment, const std::string& extra) {
    out << "    [\n"
        << "        a lv2:InputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol " << quoted(symbol) << " ;\n"
        << "        lv2:name " << quoted(name) << " ;\n"
        << "        rdfs:comment " << quoted(comment) << " ;\n"
        << extra << "        lv2:portProperty lv2:toggled , lv2:integer ;\n"
        << "        lv2:default 1 ;\n"
        << "        lv2:minimum 0 ;\n"
        << "        lv2:maximum 1\n"
        << "    ]";
}

void outputGainPortText(std::ostream& out) {
    out << "    [\n"
        << "        a lv2:InputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << PORT_OUTPUT_GAIN << " ;\n"
        << "        lv2:symbol " << quoted(kOutputGainSymbol) << " ;\n"
        << "        lv2:name \"Output gain\" ;\n"
        << "        rdfs:comment \"Gain after the equaliser, bypassed with it. A change fades in over 5 ms.\" ;\n"
        << "        lv2:default " << decimal(kDefaultOutputGainDb) << " ;\n"
        << "        lv2:minimum " << decimal(kMinOutputGainDb) << " ;\n"
        << "        lv2:maximum " << decimal(kMaxOutputGainDb) << " ;\n"
        << "        units:unit units:db\n"
        << "    ]";
}

// Both the manifest and the description say the version: lilv decides
// between two installed copies of the plug-in from what their manifests
// say, before it reads anything else, and keeps the newer.
std::string versionText() {
    return "    lv2:minorVersion " + std::to_string(kMinorVersion) + " ;\n    lv2:microVersion " +
           std::to_string(kMicroVersion) + " ;\n";
}

std::string pluginText() {
    std::ostringstream out;
    out << kPrefixes;
    // The width's unit: LV2's units vocabulary has no octave. (The shelves
    // read the same number as a Q, which the port's name says.)
    out << uri("#octave") << "\n    a units:Unit ;\n    rdfs:label \"octave\" ;\n    units:symbol \"oct\" ;\n"
        << "    units:render \"%.3f oct\" .\n\n";
    out << uri("#in") << "\n    a pg:InputGroup , pg:StereoGroup ;\n    lv2:symbol \"in\" ;\n"
        << "    rdfs:label \"Input\" .\n\n";
    out << uri("#out") << "\n    a pg:OutputGroup , pg:StereoGroup ;\n    lv2:symbol \"out\" ;\n"
        << "    rdfs:label \"Output\" ;\n    pg:source " << uri("#in") << " .\n\n";
    for (uint32_t band = 1; band <= kBands; ++band)
        out << uri("#band" + std::to_string(band)) << "\n    a pg:Group ;\n    lv2:symbol \"band" << band
            << "\" ;\n    rdfs:label \"Band " << band << "\" .\n\n";
    // The inline display's terms come with no vocabulary installed; saying
    // what they are lets validators check their use.
    out << "<" << kInlineDisplayInterfaceUri << ">\n    a lv2:ExtensionData .\n\n";
    out << "<" << kInlineDisplayQueueDrawUri << ">\n    a lv2:Feature .\n\n";
    out << uri("") << "\n"
        << "    a lv2:Plugin , lv2:ParaEQPlugin , doap:Project ;\n"
        << "    doap:name \"Quorvane Five Band EQ\" ;\n"
        << "    doap:license <http://opensource.org/licenses/MIT> ;\n"
        << "    doap:maintainer [\n        foaf:name \"The Quorvane developers\" ;\n"
        << "        foaf:mbox <" << kMaintainerMbox << ">\n    ] ;\n"
        << versionText()
        << "    rdfs:comment \"Stereo five-band parametric equaliser: five biquad bands, nine responses each, "
           "the same sound as the Quorvane module bit for bit.\" ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , <" << kInlineDisplayQueueDrawUri << "> ;\n"
        << "    lv2:extensionData <" << kInlineDisplayInterfaceUri << "> ;\n"
        << "    pg:mainInput " << uri("#in") << " ;\n"
        << "    pg:mainOutput " << uri("#out") << " ;\n"
        << "    lv2:port\n";
    audioPort(out, PORT_IN_LEFT, true, true);
    out << " ,\n";
    audioPort(out, PORT_IN_RIGHT, true, false);
    out << " ,\n";
    audioPort(out, PORT_OUT_LEFT, false, true);
    out << " ,\n";
    audioPort(out, PORT_OUT_RIGHT, false, false);
    for (uint32_t band = 0; band < kBands; ++band)
        for (uint32_t control = 0; control < 4; ++control) {
            out << " ,\n";
            controlPortText(out, band, static_cast<BandControl>(control));
        }
    out << " ,\n";
    togglePortText(out, PORT_ENABLED, kEnabledSymbol, "Enabled",
                   "Off bypasses the equaliser and the output gain: the input passes unchanged. Switching "
                   "crossfades over 5 ms; the equaliser keeps running while bypassed, so it comes back without a "
                   "restart.",
                   "        lv2:designation lv2:enabled ;\n");
    out << " ,\n";
    outputGainPortText(out);
    for (uint32_t band = 0; band < kBands; ++band) {
        out << " ,\n";
        togglePortText(out, bandOnPort(band), kBandOnSymbol + std::to_string(band + 1),
                       "On " + std::to_string(band + 1),
                       "Off: the band passes its input unchanged, whatever its settings. The switch takes effect at "
                       "the next control poll and restarts the band from rest, as a change of response does, which "
                       "can click in loud material; the bypass crossfades.",
                       "        pg:group " + uri("#band" + std::to_string(band + 1)) + " ;\n");
    }
    out << " .\n";
    return out.str();
}

std::string presetUri(const ShippedPreset& preset) { return uri("#preset-" + preset.name); }

std::string presetsText(const std::vector<ShippedPreset>& presets) {
    std::ostringstream out;
    out << "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
    for (const ShippedPreset& preset : presets) {
        out << "\n" << presetUri(preset) << "\n"
            << "    a pset:Preset ;\n"
            << "    lv2:appliesTo " << uri("") << " ;\n"
            << "    rdfs:label " << quoted(preset.label) << " ;\n";
        if (!preset.comment.empty()) out << "    rdfs:comment " << quoted(preset.comment) << " ;\n";
        out << "    lv2:port";
        for (size_t i = 0; i < preset.ports.size(); ++i)
            out << (i == 0 ? " " : " ,\n        ") << "[ lv2:symbol " << quoted(preset.ports[i].symbol)
                << " ; pset:value " << decimal(preset.ports[i].value) << " ]";
        out << " .\n";
    }
    return out.str();
}

std::string manifestText(const std::string& binary, const std::vector<ShippedPreset>& presets) {
    std::ostringstream out;
    out << "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
        << uri("") << "\n    a lv2:Plugin ;\n"
        << "    lv2:binary <" << binary << "> ;\n" << versionText()
        << "    rdfs:seeAlso <quorvane.ttl> .\n";
    for (const ShippedPreset& preset : presets)
        out << "\n" << presetUri(preset) << "\n    a pset:Preset ;\n    lv2:appliesTo " << uri("")
            << " ;\n    rdfs:seeAlso <presets.ttl> .\n";
    return out.str();
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "quorvane-lv2-ttl: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorvane-lv2-ttl BUNDLE_DIR BINARY_FILE_NAME [PRESET_FILE...]\n");
        return 2;
    }
    std::vector<ShippedPreset> presets;
    for (int i = 3; i < argc; ++i) {
        ShippedPreset preset;
        std::string error;
        if (!readShippedPreset(argv[i], &preset, &error)) {
            std::fprintf(stderr, "quorvane-lv2-ttl: %s\n", error.c_str());
            return 1;
        }
        presets.push_back(preset);
    }
    const std::string dir = argv[1];
    const bool ok = writeFile(dir + "/manifest.ttl", manifestText(argv[2], presets)) &&
                    writeFile(dir + "/quorvane.ttl", pluginText()) &&
                    writeFile(dir + "/presets.ttl", presetsText(presets));
    return ok ? 0 : 1;
}
