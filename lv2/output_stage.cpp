#include "lv2/output_stage.h"

#include <algorithm>
#include <cmath>

namespace qvlv2 {

double linearGain(double gainDb) { return std::pow(10.0, gainDb / 20.0); }

void OutputStage::start(double sampleRate, bool enabled, double gainDb) {
    fadeFrames_ = std::max(1, static_cast<int32_t>(std::lround(kFadeSeconds * sampleRate)));
    remaining_ = 0;
    enabled_ = enabled;
    gainDb_ = gainDb;
    mix_ = mixTarget_ = enabled ? 1.0 : 0.0;
    gain_ = gainTarget_ = linearGain(gainDb);
    mixStep_ = gainStep_ = 0.0;
}

void OutputStage::set(bool enabled, double gainDb) {
    if (enabled == enabled_ && gainDb == gainDb_) return;
    enabled_ = enabled;
    gainDb_ = gainDb;
    mixTarget_ = enabled ? 1.0 : 0.0;
    gainTarget_ = linearGain(gainDb);
    remaining_ = fadeFrames_;
    mixStep_ = (mixTarget_ - mix_) / fadeFrames_;
    gainStep_ = (gainTarget_ - gain_) / fadeFrames_;
}

void OutputStage::apply(const float* const dry[2], const float* const wet[2], float* const out[2], int32_t count) {
    int32_t done = 0;
    // The fade, frame by frame; its last frame lands on the targets exactly.
    for (; done < count && remaining_ > 0; ++done) {
        if (--remaining_ == 0) {
            mix_ = mixTarget_;
            gain_ = gainTarget_;
        } else {
            mix_ += mixStep_;
            gain_ += gainStep_;
        }
        const double wetShare = mix_ * gain_, dryShare = 1.0 - mix_;
        for (int side = 0; side < 2; ++side)
            if (out[side] != nullptr)
                out[side][done] = static_cast<float>(wetShare * static_cast<double>(wet[side][done]) +
                                                     dryShare * static_cast<double>(dry[side][done]));
    }
    if (done == count) return;
    // The steady state: one of the two exact outputs.
    for (int side = 0; side < 2; ++side) {
        float* to = out[side];
        if (to == nullptr) continue;
        const float* from = mix_ == 0.0 ? dry[side] : wet[side];
        if (mix_ == 0.0 || gain_ == 1.0) {
            if (to != from) std::copy(from + done, from + count, to + done);
        } else {
            for (int32_t i = done; i < count; ++i)
                to[i] = static_cast<float>(static_cast<double>(from[i]) * gain_);
        }
    }
}

}  // namespace qvlv2
