// quorvane-render: renders audio files through the equaliser module and
// plots its measured response. See --help.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/exit_codes.h"
#include "tools/render_cli.h"
#include "tools/render_job.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    qvtools::Options options;
    std::string error;
    if (!qvtools::parseArguments(args, &options, &error)) {
        std::fprintf(stderr, "quorvane-render: error: %s\n", error.c_str());
        return qvtools::kExitUsage;
    }
    return qvtools::run(options);
}
