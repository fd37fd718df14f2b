// sox's equalizer effect as a peer: the sox command run over raw 48 kHz
// stereo float files, its CPU time taken from the finished child.
#pragma once

#include <string>
#include <vector>

namespace peers {

class SoxPeer {
public:
    // `workDir` holds the raw files; `effects` the sox effect chain.
    SoxPeer(std::string workDir, std::vector<std::string> effects);
    bool available() const { return !program_.empty(); }

    // Interleaved stereo through the effect chain.
    bool filter(const std::vector<float>& input, std::vector<float>* output) const;
    // CPU seconds sox takes over the file `input` with the effect chain, and
    // with no effect at all (reading and writing alone); negative on failure.
    double cpuSecondsWithEffects(const std::string& input) const;
    double cpuSecondsPassingThrough(const std::string& input) const;

    std::string writeRaw(const std::string& name, const std::vector<float>& interleaved) const;

private:
    double cpuSeconds(const std::string& input, const std::string& output, bool effects) const;
    std::string program_;
    std::string dir_;
    std::vector<std::string> effects_;
};

}  // namespace peers
