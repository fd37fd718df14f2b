// Saves the plug-in's inline-display picture as a host gets it, for the
// documentation: loads the bundle's binary, sets the given controls, runs
// it once and renders through the extension's interface. Writes the pixels
// as 8-bit RGBA rows (opaque, so straight and premultiplied agree) and
// prints "WIDTH HEIGHT"; lv2/display_png.py turns them into a PNG.
//
//     quorvane-lv2-snapshot BINARY WIDTH MAX_HEIGHT OUT.rgba [SYMBOL=VALUE...]
#include <dlfcn.h>
#include <lv2/core/lv2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lv2/inline_display.h"
#include "lv2/port_table.h"
#include "lv2/ports.h"

namespace {

using namespace qvlv2;

// The control ports by symbol, at their defaults.
struct Control {
    std::string symbol;
    uint32_t port;
    float value;
};

std::vector<Control> controls() {
    std::vector<Control> all;
    for (uint32_t band = 0; band < kBands; ++band) {
        for (uint32_t c = 0; c < 4; ++c)
            all.push_back({kControls[c].symbol + std::to_string(band + 1), controlPort(band, BandControl(c)),
                           defaultValue(band, BandControl(c))});
        all.push_back({kBandOnSymbol + std::to_string(band + 1), bandOnPort(band), 1.0f});
    }
    all.push_back({kEnabledSymbol, PORT_ENABLED, 1.0f});
    all.push_back({kOutputGainSymbol, PORT_OUTPUT_GAIN, kDefaultOutputGainDb});
    return all;
}

int fail(const std::string& why) {
    std::fprintf(stderr, "quorvane-lv2-snapshot: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: quorvane-lv2-snapshot BINARY WIDTH MAX_HEIGHT OUT.rgba [SYMBOL=VALUE...]\n");
        return 2;
    }
    std::vector<Control> ports = controls();
    for (int i = 5; i < argc; ++i) {
        const std::string setting = argv[i];
        const size_t equals = setting.find('=');
        bool found = false;
        for (Control& control : ports)
            if (equals != std::string::npos && control.symbol == setting.substr(0, equals)) {
                control.value = std::strtof(setting.c_str() + equals + 1, nullptr);
                found = true;
            }
        if (!found) return fail("no control for '" + setting + "'");
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return fail(dlerror());
    const auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor"));
    const LV2_Descriptor* descriptor = entry != nullptr ? entry(0) : nullptr;
    if (descriptor == nullptr) return fail("no descriptor");
    const auto* display =
        static_cast<const InlineDisplayInterface*>(descriptor->extension_data(kInlineDisplayInterfaceUri));
    LV2_Handle instance = descriptor->instantiate(descriptor, 48000.0, "", nullptr);
    if (display == nullptr || instance == nullptr) return fail("no instance or no inline display");
    float audio[4][64] = {};
    for (uint32_t port = 0; port < 4; ++port) descriptor->connect_port(instance, port, audio[port]);
    for (Control& control : ports) descriptor->connect_port(instance, control.port, &control.value);
    descriptor->activate(instance);
    descriptor->run(instance, 64);
    const InlineDisplayImage* image = display->render(instance, static_cast<uint32_t>(std::atoi(argv[2])),
                                                      static_cast<uint32_t>(std::atoi(argv[3])));
    if (image == nullptr) return fail("nothing drawn at that size");
    FILE* out = std::fopen(argv[4], "wb");
    if (out == nullptr) return fail(std::string("cannot write ") + argv[4]);
    for (int row = 0; row < image->height; ++row)
        for (int column = 0; column < image->width; ++column) {
            uint32_t argb;
            std::memcpy(&argb, image->data + static_cast<size_t>(row) * image->stride + 4 * column, sizeof argb);
            const unsigned char rgba[4] = {static_cast<unsigned char>(argb >> 16), static_cast<unsigned char>(argb >> 8),
                                           static_cast<unsigned char>(argb), static_cast<unsigned char>(argb >> 24)};
            std::fwrite(rgba, 1, 4, out);
        }
    const bool written = std::fclose(out) == 0;
    std::printf("%d %d\n", image->width, image->height);
    descriptor->deactivate(instance);
    descriptor->cleanup(instance);
    dlclose(library);
    return written ? 0 : fail(std::string("cannot write ") + argv[4]);
}
