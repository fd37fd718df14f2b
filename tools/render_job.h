// quorvane-render's work: one render, a batch or the demo, with the preset,
// automation and response plot around them.
#pragma once

#include "tools/render_cli.h"

namespace qvtools {

// Runs what the options ask for; returns the exit status (tools/exit_codes.h).
// Errors are one line on stderr, warnings too; the summary goes to stdout
// (to stderr when the audio does).
int run(const Options& options);

}  // namespace qvtools
