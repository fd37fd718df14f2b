#include "equaliser/module.h"

#include "equaliser/kernel_path.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kTwoPi = 6.283185307179586;

// Sentinels no host-fed control value matches, so the first poll designs
// every band.
constexpr float kCachedFreqSentinel = -10.0f;
constexpr float kCachedGainSentinel = -1000.0f;
constexpr float kCachedQSentinel = -5.0f;

struct PinText {
    const char* name;
    const char* defaultText;
};

// Defaults describe a flat band when a host takes a tenth of the text as the
// sample value: peaking (60 -> 6), 0 dB, 3 octaves, 5 -> designed as 10 Hz.
constexpr PinText kPinTexts[kPinCount] = {
    {"Input1", "0"}, {"Input2", "0"},
    {"Freq1", "5"},  {"Gain1", "0"}, {"Q1", "3"}, {"Type1", "60"},
    {"Freq2", "5"},  {"Gain2", "0"}, {"Q2", "3"}, {"Type2", "60"},
    {"Freq3", "5"},  {"Gain3", "0"}, {"Q3", "3"}, {"Type3", "60"},
    {"Freq4", "5"},  {"Gain4", "0"}, {"Q4", "3"}, {"Type4", "60"},
    {"Freq5", "5"},  {"Gain5", "0"}, {"Q5", "3"}, {"Type5", "60"},
    {"Output1", nullptr}, {"Output2", nullptr},
};

// An input counts as silent when it is not streaming and its current sample
// is exactly zero (a NaN is not).
bool silentAndSteady(SEPin& pin) {
    return pin.status < PIN_STREAMING && pin.currentValue() == 0.0f;
}

}  // namespace

Module::Module(HostCallback callback, intptr_t hostValue) : SEModule_base(callback, hostValue) {
    for (auto& pin : pins) pin = nullptr;
    for (auto& band : bands) band = nullptr;
    sampleRate = 44100.0f;  // the rate designs use until a usable one is set
}

Module::~Module() { releaseBands(); }

void Module::releaseBands() {
    for (auto& band : bands) {
        delete band;
        band = nullptr;
    }
}

bool Module::getPinProperties(int32_t index, PinDescriptor* descriptor) {
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kPinCount)) return false;
    descriptor->variable = &pins[index];
    descriptor->direction = index >= PIN_OUTPUT1 ? DIR_OUTPUT : DIR_INPUT;
    descriptor->datatype = DT_AUDIO;
    descriptor->name = kPinTexts[index].name;
    if (kPinTexts[index].defaultText != nullptr) descriptor->defaultText = kPinTexts[index].defaultText;
    return true;
}

void Module::open() {
    // A rate that is not a positive finite number would make every design
    // NaN: the last usable one stays.
    const float rate = getSampleRate();
    if (rate > 0.0f && std::isfinite(rate)) sampleRate = rate;
    // The processing loop's instruction set, chosen here rather than in the
    // audio path, which must not wait on anything.
    eq::chooseKernelPath();

    // Everything the earlier open allocated is released first; a failed
    // allocation leaves the instance on the do-nothing process function, with
    // no filters, and still safe to close.
    releaseBands();
    // Each instance designs at the rate it was opened with; a rate set later
    // takes effect at the next open.
    const double radiansPerHertz = kTwoPi / static_cast<double>(sampleRate);
    bool ready = buildPinTable();
    for (int band = 0; band < kBandCount && ready; ++band) {
        bands[band] = createBandFilter(radiansPerHertz);
        ready = bands[band] != nullptr;
    }
    if (!ready) {
        releaseBands();
        installProcess(&SEModule_base::doNothingProcess);
        return;
    }

    for (int band = 0; band < kBandCount; ++band) {
        cachedFreq[band] = kCachedFreqSentinel;
        cachedGain[band] = kCachedGainSentinel;
        cachedQ[band] = kCachedQSentinel;
        // NaN equals no control sample, so the first poll designs the band.
        cachedType[band] = std::numeric_limits<float>::quiet_NaN();
        bandType[band] = FILTER_PEAKING;
    }
    pollCounter = kPollInterval;
    leftSample = 0.0f;
    rightSample = 0.0f;
    installProcess(&process);
}

void Module::onPinStatusChange(SEPin*) {
    PinTable* table = pinTable();
    if (table == nullptr) return;
    SEPin* input1 = table->count() > PIN_INPUT1 ? &(*table)[PIN_INPUT1] : nullptr;
    SEPin* input2 = table->count() > PIN_INPUT2 ? &(*table)[PIN_INPUT2] : nullptr;

    int32_t status = PIN_STATIC;
    if (input1 != nullptr && input1->status > status) status = input1->status;
    if (input2 != nullptr && input2->status > status) status = input2->status;
    if (input1 != nullptr && silentAndSteady(*input1)) status = PIN_ONE_CHANGE;
    if (input2 != nullptr && silentAndSteady(*input2)) status = PIN_ONE_CHANGE;

    auto clock = requestHost(HOST_GET_SAMPLE_CLOCK);
    requestHost(HOST_SET_PIN_STATUS, PIN_OUTPUT1, status, reinterpret_cast<void*>(clock));
    clock = requestHost(HOST_GET_SAMPLE_CLOCK);
    requestHost(HOST_SET_PIN_STATUS, PIN_OUTPUT2, status, reinterpret_cast<void*>(clock));
}
