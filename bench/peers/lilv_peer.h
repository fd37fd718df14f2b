// A small lilv host for the peers benchmark: finds an installed plug-in,
// gives it the features equalisers ask for (URID map, options with the block
// length and sample rate, bounded block length), connects every port and
// runs it block by block on a stereo pair, as one stereo instance or as one
// mono instance per side.
#pragma once

#include <lilv/lilv.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace peers {

struct ControlSetting {
    std::string symbol;
    float value;
};

// The lilv world with the URID map every instance shares.
class Host {
public:
    Host(double sampleRate, uint32_t maxFrames);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    LilvWorld* world() const { return world_; }
    const LilvPlugin* plugin(const std::string& uri) const;  // null when not installed
    uint32_t map(const char* uri);

    struct Features;
    Features& features() { return *features_; }

private:
    LilvWorld* world_;
    std::vector<std::string> uris_;
    std::unique_ptr<Features> features_;
};

// One configured equaliser: its instances, their buffers, the stereo pair.
class Peer {
public:
    // Audio port symbols: a stereo plug-in names both inputs and outputs; a
    // mono one names one of each and runs as two instances. Null with a
    // reason when the plug-in is missing or lacks a named port.
    static std::unique_ptr<Peer> create(Host& host, const std::string& uri, double sampleRate, uint32_t maxFrames,
                                        const std::vector<std::string>& inputs,
                                        const std::vector<std::string>& outputs,
                                        const std::vector<ControlSetting>& settings, std::string* error);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // `frames` up to maxFrames; the outputs may not be the inputs.
    void process(const float* left, const float* right, float* outLeft, float* outRight, uint32_t frames);

private:
    Peer() = default;
    struct Instance;
    std::vector<std::unique_ptr<Instance>> instances_;
};

}  // namespace peers
