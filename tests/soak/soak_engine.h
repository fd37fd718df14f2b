// The soak: one instance, driven through the stand-in host like a long
// session: blocks of random size at random buffer offsets, band controls
// swept across every type and range every few blocks, stretches of silence
// and bursts of NaN and infinities mixed into the music, pin status events
// at sample clocks inside the current block, and the host's 32-bit sample
// clock running past its wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/module_library.h"

namespace soak {

struct SoakSettings {
    int64_t samplesPerChannel = 48000LL * 60 * 60 * 24;  // a day at 48 kHz
    uint64_t seed = 1;
    int32_t maxBlock = 1024;
    // Starts just below the point where the signed clock wraps, so even a
    // short run crosses it.
    uint32_t startClock = 0x7FFFFFFFu - 100000u;
    // Whether pin status events may come while the block straddles that wrap
    // (block start below 2^31, the clock above): the library must then read
    // a pin's current value with wrapping arithmetic.
    bool eventsAcrossWrap = true;
    double progressSeconds = 0.0;  // a progress line this often (0: none)
};

struct SoakResult {
    bool ok = true;
    std::string failure;  // what went wrong, when not ok
    int64_t samples = 0;
    int64_t blocks = 0;
    int64_t sweeps = 0;
    int64_t nanBursts = 0;
    int64_t controlBursts = 0;
    int64_t silences = 0;
    int64_t events = 0;
    int64_t eventsHeldBack = 0;  // straddling the wrap while eventsAcrossWrap is off
    int64_t checkedSamples = 0;  // output samples held to the finite rule
    int64_t signedWraps = 0;     // times the clock passed 2^31 - 1 -> -2^31
    size_t bytesBefore = 0;  // allocated, counted exactly
    size_t bytesAfter = 0;
    size_t residentBefore = 0;  // resident set, a coarse second opinion
    size_t residentAfter = 0;
    uint32_t endClock = 0;
    double seconds = 0.0;
};

SoakResult runSoak(const SoakSettings& settings, const standin::ModuleExports& exports);

// One line of figures, for logs and the README.
std::string describe(const SoakResult& result);

}  // namespace soak
