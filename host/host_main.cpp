// quorvane-host LIBRARY: loads a module library as the host does and says
// what it holds: the module's name and about text, its exports and its pins.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/module_library.h"
#include "host/stand_in_host.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorvane-host LIBRARY\n");
        return 2;
    }
    std::string error;
    auto library = standin::ModuleLibrary::load(argv[1], &error);
    if (!library) {
        std::fprintf(stderr, "quorvane-host: %s\n", error.c_str());
        return 1;
    }
    std::printf("library: %s\nexports: getModuleProperties, makeModule\n", argv[1]);

    ModuleInfo info;
    std::memset(&info, 0, sizeof info);
    if (standin::callGetModuleProperties(library->exports(), 0, &info) != 1) {
        std::fprintf(stderr, "quorvane-host: the library describes no module 0\n");
        return 1;
    }
    std::printf("name: %s\nid: %s\nabout: %s\ninterface version: %d\n", info.name, info.id, info.about,
                static_cast<int>(info.interfaceVersion));

    standin::Instance instance(library->exports());
    if (!instance.valid()) {
        std::fprintf(stderr, "quorvane-host: makeModule gave no instance\n");
        return 1;
    }
    instance.setSampleRate(48000.0f);
    instance.open();
    std::printf("pins: %zu\n", instance.pins().size());
    for (const auto& pin : instance.pins())
        std::printf("  %-8s %-6s default %s\n", pin.name.c_str(),
                    pin.descriptor.direction == DIR_OUTPUT ? "output" : "input",
                    pin.hasDefault ? pin.defaultText.c_str() : "-");
    std::printf("process function changes reported: %d\n", instance.processFunctionChanges);
    instance.close();
    return 0;
}
