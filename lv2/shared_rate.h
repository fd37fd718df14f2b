// The equaliser designs its bands with one radians-per-hertz factor for the
// whole library, set by every open. Instances in one process must therefore
// share one sample rate, as the instances of any host's audio graph do; an
// instance at another rate is refused instead of detuning the others.
#pragma once

namespace qvlv2 {

// True, and counted, when no live instance runs at a different rate.
bool claimSampleRate(float rate);
void releaseSampleRate();

}  // namespace qvlv2
