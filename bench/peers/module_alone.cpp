#include "bench/peers/module_alone.h"

#include <algorithm>

#include "bench/peers/peer_settings.h"
#include "equaliser/module.h"

extern "C" ModuleRecord* makeModule(int32_t index, int32_t interfaceKind, HostCallback callback,
                                    intptr_t hostValue);

namespace peers {

namespace {

constexpr int32_t kCallFrames = 512;  // the plug-in's chunk

HostResult QV_HOST_ENTRY answerPinCount(ModuleRecord*, int32_t opcode, int32_t, int32_t, void*, float) {
    return opcode == HOST_GET_PIN_COUNT ? kPinCount : 0;
}

Module& moduleOf(ModuleRecord* record) { return *static_cast<Module*>(record->object); }

}  // namespace

ModuleAlone::ModuleAlone(double sampleRate, uint32_t maxFrames)
    : record_(makeModule(0, 1, &answerPinCount, 0)), controls_(4 * kBandCount) {
    Module& m = moduleOf(record_);
    m.setSampleRate(static_cast<float>(sampleRate));
    // Control pins carry tenths of Hz, of octaves and of dB; the type as it is.
    for (int band = 0; band < kBandCount; ++band) {
        const float values[4] = {static_cast<float>(kBells[band].freqHz / 10.0),
                                 static_cast<float>(kBells[band].gainDb / 10.0),
                                 static_cast<float>(kWidthOctaves / 10.0), 6.0f};  // peaking
        for (int c = 0; c < 4; ++c) {
            std::vector<float>& pin = controls_[static_cast<size_t>(4 * band + c)];
            pin.assign(std::max<uint32_t>(maxFrames, kCallFrames), values[c]);
            m.pins[PIN_FIRST_CONTROL + 4 * band + c] = pin.data();
        }
    }
    m.open();
}

ModuleAlone::~ModuleAlone() { record_->dispatcherEntry(record_, MOD_CLOSE, 0, 0, nullptr, 0.0f); }

void ModuleAlone::process(const float* left, const float* right, float* outLeft, float* outRight,
                          uint32_t frames) {
    Module& m = moduleOf(record_);
    for (uint32_t done = 0; done < frames; done += kCallFrames) {
        const int32_t count = static_cast<int32_t>(std::min<uint32_t>(frames - done, kCallFrames));
        m.pins[PIN_INPUT1] = const_cast<float*>(left + done);
        m.pins[PIN_INPUT2] = const_cast<float*>(right + done);
        m.pins[PIN_OUTPUT1] = outLeft + done;
        m.pins[PIN_OUTPUT2] = outRight + done;
        // The control pins are read at the call's own positions from 0.
        record_->processEntry(record_->object, 0, count);
    }
}

}  // namespace peers
