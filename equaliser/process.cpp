#include <cstdint>
#include <initializer_list>

#include "equaliser/paired_kernel.h"
#include "equaliser/process_steps.h"

namespace eq {

// Sample by sample, exactly as the loop is defined; also the path for buffer
// layouts the block kernel does not take (outputs that partly overlap other
// pins' buffers).
void processSampleBySample(Module& m, float* const* positions, int32_t sampleCount) {
    const CallPositions at(positions);
    int32_t controlIndex = 0;
    const double offset = denormalOffset;

    for (int32_t i = 0; i < sampleCount; ++i) {
        m.leftSample = at.input1[i];
        m.rightSample = at.input2[i];
        Treatment treatment = decide(m.leftSample, m.rightSample);
        if (treatment == Treatment::Skip && !filtersAtRest(m)) treatment = Treatment::FlushAndFilter;
        if (treatment == Treatment::Skip) {
            ++controlIndex;
        } else {
            if (treatment == Treatment::FlushAndFilter)
                for (BandFilter* band : m.bands) flushBand(*band, offset);
            if (m.pollCounter == kPollInterval) {
                poll(m, at.controls, controlIndex);
                controlIndex += kPollInterval;
            }
            ++m.pollCounter;
            for (BandFilter* band : m.bands)
                m.leftSample = runSection(*band, band->leftX1, band->leftX2, band->leftY1,
                                          band->leftY2, m.leftSample);
            for (BandFilter* band : m.bands)
                m.rightSample = runSection(*band, band->rightX1, band->rightX2, band->rightY1,
                                           band->rightY2, m.rightSample);
        }
        at.output1[i] = m.leftSample;
        at.output2[i] = m.rightSample;
    }
}

namespace {

// The block kernel reads ahead and keeps the delay values in registers, which
// is exact as long as every output buffer either is another pin's buffer (the
// in-place processing hosts do) or does not overlap it at all.
bool outputsOverlapCleanly(float* const* positions, int32_t sampleCount) {
    const uintptr_t bytes = static_cast<uintptr_t>(sampleCount) * sizeof(float);
    for (int output : {PIN_OUTPUT1, PIN_OUTPUT2}) {
        const uintptr_t start = reinterpret_cast<uintptr_t>(positions[output]);
        for (int pin = 0; pin < kPinCount; ++pin) {
            if (pin == output) continue;
            const uintptr_t other = reinterpret_cast<uintptr_t>(positions[pin]);
            if (other == start) continue;
            if (other < start + bytes && start < other + bytes) return false;
        }
    }
    return true;
}

}  // namespace

}  // namespace eq

void process(SEModule_base* object, int32_t bufferOffset, int32_t sampleCount) {
    Module& m = *static_cast<Module*>(object);
    // Nothing is read or written, not even a position formed, for an empty call.
    if (sampleCount <= 0) return;
    float* positions[kPinCount];
    for (int pin = 0; pin < kPinCount; ++pin) positions[pin] = m.pins[pin] + bufferOffset;
    if (eq::outputsOverlapCleanly(positions, sampleCount))
        eq::processPaired(m, positions, sampleCount);
    else
        eq::processSampleBySample(m, positions, sampleCount);
}
