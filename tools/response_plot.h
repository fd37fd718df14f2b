// The response plot: the measured curves handed to the plotting script
// (Python with numpy and matplotlib), which draws them into an image.
#pragma once

#include <string>
#include <vector>

#include "tools/audio_file.h"
#include "tools/render_engine.h"

namespace qvtools {

// "png", "svg" or "pdf" from the file name; empty for anything else.
std::string plotFormatOf(const std::string& path);

// Empty when plotting can run here; otherwise what is missing.
std::string plottingUnavailable();

// Draws `response` (curves labelled total, then band 1..5; a band whose
// label is empty is left out of the plot and its legend) into `image`, a
// temporary output the caller commits.
bool plotResponse(const MeasuredResponse& response, const std::vector<std::string>& labels,
                  const std::string& imageName, TempOutput* image, std::string* error);

}  // namespace qvtools
