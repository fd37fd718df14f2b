// The demo quorvane-render plays when given no files: a generated signal
// through five bands that show what the equaliser does.
#pragma once

#include <vector>

#include "tools/render_settings.h"

namespace qvtools {

// The demo's five bands.
void demoBands(bool (&given)[kBandCount], BandSetting (&bands)[kBandCount]);

// Stereo (interleaved) demo signal: pink noise, a short pause, then a
// logarithmic sweep.
std::vector<float> demoSignal(double sampleRate);

}  // namespace qvtools
