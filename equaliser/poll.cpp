#include "equaliser/process_steps.h"

namespace eq {

void poll(Module& m, float* const* controlPins, int32_t controlIndex) {
    for (int band = 0; band < kBandCount; ++band) {
        float* const* controls = controlPins + 4 * band;
        const float freq = controls[CONTROL_FREQ][controlIndex];
        const float gain = controls[CONTROL_GAIN][controlIndex];
        const float q = controls[CONTROL_Q][controlIndex];
        const float type = controls[CONTROL_TYPE][controlIndex];
        BandFilter& filter = *m.bands[band];
        if (!(freq == m.cachedFreq[band] && gain == m.cachedGain[band] && q == m.cachedQ[band] &&
              type == m.cachedType[band])) {
            m.cachedFreq[band] = freq;
            m.cachedGain[band] = gain;
            m.cachedQ[band] = q;
            m.cachedType[band] = type;
            m.bandType[band] = toFilterType(type);
            designBand(&filter, m.bandType[band], 10.0f * freq, 10.0f * q, 10.0f * gain);
        }
        if (!delayValuesFinite(filter) && coefficientsFinite(filter)) clearDelayValues(filter);
    }
    m.pollCounter = 0;
}

}  // namespace eq
