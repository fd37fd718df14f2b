// Our equaliser's module on its own, with no LV2 host around it: the same
// five bells, fed as the plug-in feeds it (calls of at most 512 frames, the
// plug-in's own chunk). Its time is the floor of the plug-in's: everything
// the plug-in costs above it is the host, the ports and the copies.
#pragma once

#include <cstdint>
#include <vector>

struct ModuleRecord;

namespace peers {

class ModuleAlone {
public:
    ModuleAlone(double sampleRate, uint32_t maxFrames);
    ~ModuleAlone();
    ModuleAlone(const ModuleAlone&) = delete;
    ModuleAlone& operator=(const ModuleAlone&) = delete;

    // `frames` up to maxFrames; the outputs may not be the inputs.
    void process(const float* left, const float* right, float* outLeft, float* outRight, uint32_t frames);

private:
    ModuleRecord* record_;
    std::vector<std::vector<float>> controls_;  // Freq1 .. Type5, constant
};

}  // namespace peers
