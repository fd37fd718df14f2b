// Writes the bundle's manifest.ttl and quorvane.ttl from the port table, at
// build time, so the description hosts read and the ports run() serves come
// from one place.
//
//     quorvane-lv2-ttl BUNDLE_DIR BINARY_FILE_NAME
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "lv2/port_table.h"
#include "lv2/ports.h"

namespace {

using namespace qvlv2;

constexpr const char* kPrefixes =
    "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pg:    <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pprop: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n";

// Plain decimals with a point, as Turtle reads them as xsd:decimal.
std::string decimal(float value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
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

void controlPortText(std::ostream& out, uint32_t band, BandControl control) {
    const ControlDescription& d = kControls[control];
    const auto value = [&d](float v) { return d.enumeration ? integer(v) : decimal(v); };
    out << "    [\n"
        << "        a lv2:InputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << controlPort(band, control) << " ;\n"
        << "        lv2:symbol \"" << d.symbol << band + 1 << "\" ;\n"
        << "        lv2:name \"" << d.name << " " << band + 1 << "\" ;\n"
        << "        rdfs:comment \"" << d.comment << "\" ;\n"
        << "        lv2:default " << value(d.defaultValue) << " ;\n"
        << "        lv2:minimum " << value(d.minimum) << " ;\n"
        << "        lv2:maximum " << value(d.maximum);
    if (d.unit == ControlUnit::Hz) out << " ;\n        units:unit units:hz";
    if (d.unit == ControlUnit::Db) out << " ;\n        units:unit units:db";
    if (d.logarithmic) out << " ;\n        lv2:portProperty pprop:logarithmic";
    if (d.enumeration) {
        out << " ;\n        lv2:portProperty lv2:integer , lv2:enumeration ;\n        lv2:scalePoint";
        for (int type = 0; type < 9; ++type)
            out << (type == 0 ? " " : " ,\n            ") << "[ rdfs:label \"" << kResponseLabels[type]
                << "\" ; rdf:value " << type << " ]";
    }
    out << "\n    ]";
}

std::string pluginText() {
    std::ostringstream out;
    out << kPrefixes;
    out << uri("#in") << "\n    a pg:InputGroup , pg:StereoGroup ;\n    lv2:symbol \"in\" ;\n"
        << "    rdfs:label \"Input\" .\n\n";
    out << uri("#out") << "\n    a pg:OutputGroup , pg:StereoGroup ;\n    lv2:symbol \"out\" ;\n"
        << "    rdfs:label \"Output\" ;\n    pg:source " << uri("#in") << " .\n\n";
    out << uri("") << "\n"
        << "    a lv2:Plugin , lv2:ParaEQPlugin ;\n"
        << "    doap:name \"Quorvane Five Band EQ\" ;\n"
        << "    rdfs:comment \"Stereo five-band parametric equaliser: five biquad bands, nine responses each, "
           "the same sound as the Quorvane module bit for bit.\" ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable ;\n"
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
    out << " .\n";
    return out.str();
}

std::string manifestText(const std::string& binary) {
    std::ostringstream out;
    out << "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
        << uri("") << "\n    a lv2:Plugin ;\n"
        << "    lv2:binary <" << binary << "> ;\n"
        << "    rdfs:seeAlso <quorvane.ttl> .\n";
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
    if (argc != 3) {
        std::fprintf(stderr, "usage: quorvane-lv2-ttl BUNDLE_DIR BINARY_FILE_NAME\n");
        return 2;
    }
    const std::string dir = argv[1];
    const bool ok = writeFile(dir + "/manifest.ttl", manifestText(argv[2])) &&
                    writeFile(dir + "/quorvane.ttl", pluginText());
    return ok ? 0 : 1;
}
