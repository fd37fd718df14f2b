#include "bench/peers/lilv_peer.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstring>

namespace peers {

struct Host::Features {
    LV2_URID_Map map{};
    int32_t minFrames = 1;
    int32_t maxFrames = 0;
    int32_t nominalFrames = 0;
    float sampleRate = 0.0f;
    LV2_Options_Option options[5]{};
    LV2_Feature mapFeature{LV2_URID__map, nullptr};
    LV2_Feature optionsFeature{LV2_OPTIONS__options, nullptr};
    LV2_Feature boundedFeature{LV2_BUF_SIZE__boundedBlockLength, nullptr};
    const LV2_Feature* list[4] = {&mapFeature, &optionsFeature, &boundedFeature, nullptr};
};

namespace {

LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri) { return static_cast<Host*>(handle)->map(uri); }

}  // namespace

Host::Host(double sampleRate, uint32_t maxFrames) : features_(new Features) {
    world_ = lilv_world_new();
    lilv_world_load_all(world_);
    Features& f = *features_;
    f.map.handle = this;
    f.map.map = &mapUri;
    f.mapFeature.data = &f.map;
    f.maxFrames = static_cast<int32_t>(maxFrames);
    f.nominalFrames = static_cast<int32_t>(maxFrames);
    f.sampleRate = static_cast<float>(sampleRate);
    const uint32_t atomInt = map(LV2_ATOM__Int), atomFloat = map(LV2_ATOM__Float);
    f.options[0] = {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__minBlockLength), sizeof(int32_t), atomInt,
                    &f.minFrames};
    f.options[1] = {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), atomInt,
                    &f.maxFrames};
    f.options[2] = {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__nominalBlockLength), sizeof(int32_t), atomInt,
                    &f.nominalFrames};
    f.options[3] = {LV2_OPTIONS_INSTANCE, 0, map(LV2_PARAMETERS__sampleRate), sizeof(float), atomFloat,
                    &f.sampleRate};
    f.options[4] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
    f.optionsFeature.data = f.options;
}

Host::~Host() { lilv_world_free(world_); }

uint32_t Host::map(const char* uri) {
    for (size_t i = 0; i < uris_.size(); ++i)
        if (uris_[i] == uri) return static_cast<uint32_t>(i + 1);
    uris_.push_back(uri);
    return static_cast<uint32_t>(uris_.size());
}

const LilvPlugin* Host::plugin(const std::string& uri) const {
    LilvNode* node = lilv_new_uri(world_, uri.c_str());
    const LilvPlugin* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), node);
    lilv_node_free(node);
    return found;
}

// One lilv instance: a float for every control port (its default, then the
// settings), an empty event sequence for every atom input and room for the
// plug-in's events on every atom output.
struct Peer::Instance {
    LilvInstance* instance = nullptr;
    std::vector<float> controls;
    std::vector<std::vector<uint64_t>> atomBuffers;  // 8-byte aligned
    std::vector<uint32_t> atomOutputs;               // indexes into atomBuffers
    uint32_t audioIn = 0, audioOut = 0;              // mono: the one pair
    uint32_t audioIn2 = 0, audioOut2 = 0;            // stereo: the right pair
    uint32_t sequenceType = 0, chunkType = 0;
    std::vector<float> scratch;                      // unnamed audio ports
    ~Instance() {
        if (instance != nullptr) {
            lilv_instance_deactivate(instance);
            lilv_instance_free(instance);
        }
    }
    void resetAtomOutputs() {
        for (uint32_t index : atomOutputs) {
            auto* atom = reinterpret_cast<LV2_Atom*>(atomBuffers[index].data());
            atom->size = static_cast<uint32_t>(atomBuffers[index].size() * sizeof(uint64_t) - sizeof(LV2_Atom));
            atom->type = chunkType;
        }
    }
};

std::unique_ptr<Peer> Peer::create(Host& host, const std::string& uri, double sampleRate, uint32_t maxFrames,
                                   const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                                   const std::vector<ControlSetting>& settings, std::string* error) {
    const LilvPlugin* plugin = host.plugin(uri);
    if (plugin == nullptr) {
        *error = uri + " is not installed";
        return nullptr;
    }
    LilvWorld* world = host.world();
    LilvNode* audioClass = lilv_new_uri(world, LV2_CORE__AudioPort);
    LilvNode* controlClass = lilv_new_uri(world, LV2_CORE__ControlPort);
    LilvNode* atomClass = lilv_new_uri(world, LV2_ATOM__AtomPort);
    LilvNode* inputClass = lilv_new_uri(world, LV2_CORE__InputPort);
    const auto portIndex = [&](const std::string& symbol, uint32_t* index) {
        LilvNode* node = lilv_new_string(world, symbol.c_str());
        const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, node);
        lilv_node_free(node);
        if (port != nullptr) *index = lilv_port_get_index(plugin, port);
        return port != nullptr;
    };

    std::unique_ptr<Peer> peer(new Peer);
    const bool mono = inputs.size() == 1;
    const uint32_t portCount = lilv_plugin_get_num_ports(plugin);
    for (int side = 0; side < (mono ? 2 : 1) && error->empty(); ++side) {
        std::unique_ptr<Instance> one(new Instance);
        one->sequenceType = host.map(LV2_ATOM__Sequence);
        one->chunkType = host.map(LV2_ATOM__Chunk);
        one->controls.assign(portCount, 0.0f);
        one->scratch.assign(maxFrames, 0.0f);
        std::vector<float> mins(portCount), maxs(portCount), defaults(portCount);
        lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defaults.data());
        one->instance = lilv_plugin_instantiate(plugin, sampleRate, host.features().list);
        if (one->instance == nullptr) {
            *error = uri + " did not instantiate";
            break;
        }
        for (uint32_t p = 0; p < portCount; ++p) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
            if (lilv_port_is_a(plugin, port, controlClass)) {
                one->controls[p] = std::isnan(defaults[p]) ? 0.0f : defaults[p];
                lilv_instance_connect_port(one->instance, p, &one->controls[p]);
            } else if (lilv_port_is_a(plugin, port, atomClass)) {
                one->atomBuffers.emplace_back(8192, 0);
                auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(one->atomBuffers.back().data());
                const bool input = lilv_port_is_a(plugin, port, inputClass);
                if (input) {
                    sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
                    sequence->atom.type = one->sequenceType;
                } else {
                    one->atomOutputs.push_back(static_cast<uint32_t>(one->atomBuffers.size() - 1));
                }
                lilv_instance_connect_port(one->instance, p, sequence);
            } else if (lilv_port_is_a(plugin, port, audioClass)) {
                lilv_instance_connect_port(one->instance, p, one->scratch.data());
            } else {
                lilv_instance_connect_port(one->instance, p, nullptr);
            }
        }
        for (const ControlSetting& setting : settings) {
            uint32_t index = 0;
            if (!portIndex(setting.symbol, &index)) {
                *error = uri + " has no port " + setting.symbol;
                break;
            }
            one->controls[index] = setting.value;
        }
        const bool named = portIndex(inputs[0], &one->audioIn) && portIndex(outputs[0], &one->audioOut) &&
                           (mono || (portIndex(inputs[1], &one->audioIn2) && portIndex(outputs[1], &one->audioOut2)));
        if (!named && error->empty()) *error = uri + " lacks one of the named audio ports";
        one->resetAtomOutputs();
        lilv_instance_activate(one->instance);
        peer->instances_.push_back(std::move(one));
    }
    lilv_node_free(audioClass);
    lilv_node_free(controlClass);
    lilv_node_free(atomClass);
    lilv_node_free(inputClass);
    if (!error->empty()) return nullptr;
    return peer;
}

Peer::~Peer() = default;

void Peer::process(const float* left, const float* right, float* outLeft, float* outRight, uint32_t frames) {
    const bool mono = instances_.size() == 2;
    for (size_t i = 0; i < instances_.size(); ++i) {
        Instance& one = *instances_[i];
        const bool rightSide = mono && i == 1;
        lilv_instance_connect_port(one.instance, one.audioIn, const_cast<float*>(rightSide ? right : left));
        lilv_instance_connect_port(one.instance, one.audioOut, rightSide ? outRight : outLeft);
        if (!mono) {
            lilv_instance_connect_port(one.instance, one.audioIn2, const_cast<float*>(right));
            lilv_instance_connect_port(one.instance, one.audioOut2, outRight);
        }
        one.resetAtomOutputs();
        lilv_instance_run(one.instance, frames);
    }
}

}  // namespace peers
