// The equaliser: a stereo five-band parametric EQ with 24 audio-rate pins.
#pragma once

#include <cstdint>

#include "equaliser/band_filter.h"
#include "host_interface/se_module_base.h"

constexpr int kBandCount = 5;
constexpr int kPinCount = 24;
constexpr int kPollInterval = 32;  // filtered samples between reads of the band controls

// Pin positions: the inputs, four controls per band, the outputs.
enum PinIndex : int32_t {
    PIN_INPUT1 = 0,
    PIN_INPUT2 = 1,
    PIN_FIRST_CONTROL = 2,  // band k (0-based): Freq, Gain, Q, Type at 2 + 4k .. 5 + 4k
    PIN_OUTPUT1 = 22,
    PIN_OUTPUT2 = 23
};
enum ControlOffset : int32_t { CONTROL_FREQ = 0, CONTROL_GAIN = 1, CONTROL_Q = 2, CONTROL_TYPE = 3 };

constexpr int32_t controlPin(int band, ControlOffset control) {
    return PIN_FIRST_CONTROL + 4 * band + control;
}

// Added and taken away again to flush vanishing delay values; also the bound
// under which every delay value must lie for the bands to count as at rest.
// A constant, so that no open ever writes what another instance's processing
// reads.
constexpr double denormalOffset = 1e-21;

class Module : public SEModule_base {
public:
    Module(HostCallback callback, intptr_t hostValue);
    ~Module() override;

    void onPinStatusChange(SEPin* pin) override;
    void open() override;
    bool getPinProperties(int32_t index, PinDescriptor* descriptor) override;

    // Pin variables: the host writes each with the address of its pin's
    // buffer for the current block.
    float* pins[kPinCount];
    BandFilter* bands[kBandCount];
    float leftSample;
    float rightSample;
    float sampleRate;  // as seen at the last open that had a usable rate
    float cachedFreq[kBandCount];
    float cachedGain[kBandCount];
    float cachedQ[kBandCount];
    float cachedType[kBandCount];
    int32_t bandType[kBandCount];
    int32_t pollCounter;

private:
    void releaseBands();
};

// The equaliser's process function (see process.cpp).
void QV_HOST_ENTRY process(SEModule_base* object, int32_t bufferOffset, int32_t sampleCount);
