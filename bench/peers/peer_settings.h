// The equalisers compared and how each is set as close as it can get to the
// same five bells: 100, 400, 1000, 4000 and 10000 Hz, about one octave wide,
// +3, -2, +1.5, -4 and +6 dB.
#pragma once

#include <string>
#include <vector>

#include "bench/peers/lilv_peer.h"

namespace peers {

struct Bell {
    double freqHz;
    double gainDb;
};
constexpr Bell kBells[5] = {{100, 3}, {400, -2}, {1000, 1.5}, {4000, -4}, {10000, 6}};
constexpr double kWidthOctaves = 1.0;

struct PeerSetting {
    std::string name;
    std::string uri;                   // empty: not a plug-in (sox)
    std::vector<std::string> inputs;   // one symbol: a mono plug-in, one instance per side
    std::vector<std::string> outputs;
    std::vector<ControlSetting> controls;
    std::string closeness;  // how near the five bells the configuration gets
};

// Ours first: every ratio is to it.
std::vector<PeerSetting> peerSettings();

// sox's effect chain for the same bells.
std::vector<std::string> soxEqualizerArguments();

}  // namespace peers
