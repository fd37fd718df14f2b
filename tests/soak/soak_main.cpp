// quorvane-soak: the long soak as a program. By default a day of 48 kHz
// stereo (about 4.15 billion samples per channel); --hours or --samples
// shorten it. Exits 0 when the run ends with finite outputs, unchanged
// memory and the clock checks intact.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/module_library.h"
#include "tests/soak/soak_engine.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: quorvane-soak [--hours H | --samples N] [--seed S] [--progress SECONDS]\n"
                 "                     [--library PATH] [--no-events-across-wrap]\n");
}

}  // namespace

int main(int argc, char** argv) {
    soak::SoakSettings settings;
    settings.progressSeconds = 60.0;
    std::string library = QUORVANE_MODULE_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--hours" && hasValue) {
            settings.samplesPerChannel = static_cast<int64_t>(std::atof(argv[++i]) * 48000.0 * 3600.0);
        } else if (arg == "--samples" && hasValue) {
            settings.samplesPerChannel = std::atoll(argv[++i]);
        } else if (arg == "--seed" && hasValue) {
            settings.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--progress" && hasValue) {
            settings.progressSeconds = std::atof(argv[++i]);
        } else if (arg == "--library" && hasValue) {
            library = argv[++i];
        } else if (arg == "--no-events-across-wrap") {
            settings.eventsAcrossWrap = false;
        } else {
            usage();
            return 2;
        }
    }

    std::string error;
    auto loaded = standin::ModuleLibrary::load(library, &error);
    if (!loaded) {
        std::fprintf(stderr, "quorvane-soak: %s\n", error.c_str());
        return 2;
    }
    const soak::SoakResult result = soak::runSoak(settings, loaded->exports());
    std::printf("%s\n", soak::describe(result).c_str());
    if (!result.ok) {
        std::printf("FAILED: %s\n", result.failure.c_str());
        return 1;
    }
    std::printf("passed\n");
    return 0;
}
