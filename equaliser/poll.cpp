#include "equaliser/process_steps.h"

namespace eq {

// No signal a band carries in use comes near 2^40 (about 240 dB above full
// scale, even for inputs a thousand times full scale through five bands at
// full boost). A band whose delay values get there has been pumped up, by
// settings that move at every poll on a narrow band or by a resonance far
// beyond the audio range, and would overflow into infinities within a few
// polls: it restarts from silence instead, as a band gone non-finite does
// (kMaxDelayMagnitude, 2^40, in process_steps.h).

bool redesignBand(Module& m, int band, float* const* controlPins, int32_t controlIndex) {
    if (controlsAsCached(m, band, controlPins, controlIndex)) return false;
    float* const* controls = controlPins + 4 * band;
    const float freq = controls[CONTROL_FREQ][controlIndex];
    const float gain = controls[CONTROL_GAIN][controlIndex];
    const float q = controls[CONTROL_Q][controlIndex];
    const float type = controls[CONTROL_TYPE][controlIndex];
    m.cachedFreq[band] = freq;
    m.cachedGain[band] = gain;
    m.cachedQ[band] = q;
    m.cachedType[band] = type;
    m.bandType[band] = toFilterType(type);
    designBand(m.bands[band], m.bandType[band], 10.0f * freq, 10.0f * q, 10.0f * gain);
    return true;
}

void pollBand(Module& m, int band, float* const* controlPins, int32_t controlIndex) {
    redesignBand(m, band, controlPins, controlIndex);
    BandFilter& filter = *m.bands[band];
    if (!delayValuesWithin(filter, kMaxDelayMagnitude) && coefficientsFinite(filter)) clearDelayValues(filter);
}

void poll(Module& m, float* const* controlPins, int32_t controlIndex) {
    for (int band = 0; band < kBandCount; ++band) pollBand(m, band, controlPins, controlIndex);
    m.pollCounter = 0;
}

}  // namespace eq
