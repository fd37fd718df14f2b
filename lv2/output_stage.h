// What follows the equaliser in the plug-in: the output gain and the bypass.
// Both move smoothly: a change of either fades over kFadeSeconds, the bypass
// as a crossfade between the equaliser's output (with its gain) and the dry
// input, so neither clicks. Outside a fade the output is exact: the
// equaliser's samples as they are at unity gain, scaled as quorvane-render
// scales them (--gain) otherwise, and the dry input unchanged when bypassed.
#pragma once

#include <cstdint>

namespace qvlv2 {

class OutputStage {
public:
    static constexpr double kFadeSeconds = 0.005;

    // Takes the settings as they are, without a fade: the state of a stream
    // that starts here.
    void start(double sampleRate, bool enabled, double gainDb);
    // New settings for the frames to come; a change starts a fade from
    // wherever the current one has got to.
    void set(bool enabled, double gainDb);

    // The equaliser's output passes as it is: enabled, unity gain, no fade.
    bool transparent() const { return remaining_ == 0 && mix_ == 1.0 && gain_ == 1.0; }

    // Writes `count` frames of both sides (an output may be null) from the
    // dry inputs and the equaliser's outputs; the outputs may be the
    // equaliser's buffers themselves.
    void apply(const float* const dry[2], const float* const wet[2], float* const out[2], int32_t count);

private:
    int32_t fadeFrames_ = 1;
    int32_t remaining_ = 0;  // frames left in the current fade
    bool enabled_ = true;
    double gainDb_ = 0.0;
    double mix_ = 1.0;  // 1: the equaliser's output, 0: the dry input
    double mixTarget_ = 1.0;
    double mixStep_ = 0.0;
    double gain_ = 1.0;  // linear
    double gainTarget_ = 1.0;
    double gainStep_ = 0.0;
};

// The linear gain of a setting in dB, as quorvane-render computes its --gain.
double linearGain(double gainDb);

}  // namespace qvlv2
