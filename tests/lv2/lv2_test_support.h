// Helpers for the plug-in tests: the built bundle loaded as a host loads it,
// the lilv command-line hosts, and the band settings written both as
// quorvane-render options and as control port values.
#pragma once

#include <dlfcn.h>
#include <sys/wait.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "lv2/port_table.h"
#include "lv2/ports.h"

namespace lv2test {

constexpr const char* kBundleParent = QUORVANE_LV2_PARENT;  // <build>/lib/lv2
constexpr const char* kBinary = QUORVANE_LV2_BINARY;

// Whether a program is on PATH.
inline bool installed(const std::string& name) {
    return std::system(("command -v '" + name + "' >/dev/null 2>&1").c_str()) == 0;
}

struct CommandResult {
    int status = -1;
    std::string output;  // stdout and stderr together
};

// Runs a command line with lilv searching `lv2Path` (and the system's
// folder, for the LV2 vocabulary lv2info names classes with).
inline CommandResult runWithPath(const std::string& lv2Path, const std::string& commandLine) {
    const std::string full = "LV2_PATH='" + lv2Path + ":/usr/lib/lv2' " + commandLine + " 2>&1";
    CommandResult result;
    FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, got);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Runs a command line with lilv pointed at the build tree's bundle.
inline CommandResult runWithBundle(const std::string& commandLine) { return runWithPath(kBundleParent, commandLine); }

// One band in the units both front ends take.
struct Band {
    int type;  // response number, 0..8
    double freqHz;
    double width;  // octaves, or the shelves' Q
    double gainDb;
};

inline const char* responseOption(int type) {
    static const char* const names[] = {"lowpass", "highpass", "bandpass-skirt", "bandpass-peak", "notch",
                                        "allpass", "peaking",  "lowshelf",       "highshelf"};
    return names[type];
}

// "--band N=RESPONSE,FREQHz,WIDTH,GAINdB", the width as octaves or a Q as the
// response takes it.
inline std::vector<std::string> renderOptions(const std::vector<Band>& bands) {
    std::vector<std::string> options;
    for (size_t b = 0; b < bands.size(); ++b) {
        const Band& band = bands[b];
        const bool shelf = band.type == 7 || band.type == 8;
        char text[256];
        std::snprintf(text, sizeof text, "%zu=%s,%.9gHz,%s%.9g%s,%+.9gdB", b + 1, responseOption(band.type),
                      band.freqHz, shelf ? "q" : "", band.width, shelf ? "" : "oct", band.gainDb);
        options.push_back("--band");
        options.push_back(text);
    }
    return options;
}

// "-c freqN VALUE" ... for every control of every band.
inline std::string controlOptions(const std::vector<Band>& bands) {
    std::string options;
    char text[256];
    for (size_t b = 0; b < bands.size(); ++b) {
        const Band& band = bands[b];
        std::snprintf(text, sizeof text, " -c freq%zu %.9g -c gain%zu %.9g -c width%zu %.9g -c type%zu %d", b + 1,
                      band.freqHz, b + 1, band.gainDb, b + 1, band.width, b + 1, band.type);
        options += text;
    }
    return options;
}

// The bundle's binary, opened as a host opens it; one instance at a time.
class PluginLibrary {
public:
    PluginLibrary() {
        const std::string path = std::string(kBundleParent) + "/quorvane.lv2/" + kBinary;
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) return;
        auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(handle_, "lv2_descriptor"));
        if (entry != nullptr) descriptor_ = entry(0);
    }
    ~PluginLibrary() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    const LV2_Descriptor* descriptor() const { return descriptor_; }

private:
    void* handle_ = nullptr;
    const LV2_Descriptor* descriptor_ = nullptr;
};

// The plug-in's default bands, in the units both front ends take.
inline std::vector<Band> defaultBands() {
    std::vector<Band> bands;
    for (const qvlv2::BandDefault& d : qvlv2::kBandDefaults)
        bands.push_back({static_cast<int>(d.type), d.freqHz, d.width, d.gainDb});
    return bands;
}

// An instance with its ports on buffers of its own, run in calls of a given
// size over a whole stereo signal.
class PluginInstance {
public:
    // Without `connectControls` the control ports stay unconnected; else
    // they start at the plug-in's defaults, with `bands` over them.
    PluginInstance(const LV2_Descriptor* descriptor, double rate, const std::vector<Band>& bands,
                   bool connectControls = true, const LV2_Feature* const* features = nullptr)
        : descriptor_(descriptor) {
        handle_ = descriptor_->instantiate(descriptor_, rate, "", features);
        const std::vector<Band> defaults = defaultBands();
        for (size_t b = 0; b < qvlv2::kBands; ++b) {
            const Band& band = b < bands.size() ? bands[b] : defaults[b];
            const uint32_t k = static_cast<uint32_t>(b);
            set(qvlv2::controlPort(k, qvlv2::BAND_FREQ), static_cast<float>(band.freqHz));
            set(qvlv2::controlPort(k, qvlv2::BAND_GAIN), static_cast<float>(band.gainDb));
            set(qvlv2::controlPort(k, qvlv2::BAND_WIDTH), static_cast<float>(band.width));
            set(qvlv2::controlPort(k, qvlv2::BAND_TYPE), static_cast<float>(band.type));
            set(qvlv2::bandOnPort(k), 1.0f);
        }
        set(qvlv2::PORT_ENABLED, 1.0f);
        set(qvlv2::PORT_OUTPUT_GAIN, qvlv2::kDefaultOutputGainDb);
        if (handle_ == nullptr) return;
        for (uint32_t port = qvlv2::PORT_FIRST_CONTROL; port < qvlv2::PORT_COUNT && connectControls; ++port)
            descriptor_->connect_port(handle_, port, &controls_[port - qvlv2::PORT_FIRST_CONTROL]);
        descriptor_->activate(handle_);
    }
    // A control port's value for the run() calls to come.
    void set(uint32_t port, float value) { controls_[port - qvlv2::PORT_FIRST_CONTROL] = value; }
    ~PluginInstance() {
        if (handle_ != nullptr) {
            descriptor_->deactivate(handle_);
            descriptor_->cleanup(handle_);
        }
    }
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;
    bool valid() const { return handle_ != nullptr; }
    LV2_Handle handle() const { return handle_; }

    // Interleaved stereo in and out; run() calls of `callFrames` frames, with
    // each output on its own buffer or on its input's (in place).
    // `beforeCall(frame)`, when given, runs before the call that starts at
    // that frame (to move controls between calls).
    std::vector<float> render(const std::vector<float>& interleaved, size_t callFrames, bool inPlace = false,
                              const std::function<void(size_t)>& beforeCall = {}) {
        const size_t frames = interleaved.size() / 2;
        std::vector<float> in[2], out[2];
        for (int c = 0; c < 2; ++c) {
            in[c].resize(callFrames);
            out[c].resize(callFrames);
        }
        std::vector<float> result(interleaved.size());
        for (size_t done = 0; done < frames; done += callFrames) {
            const size_t n = std::min(callFrames, frames - done);
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < 2; ++c) in[c][i] = interleaved[2 * (done + i) + c];
            descriptor_->connect_port(handle_, qvlv2::PORT_IN_LEFT, in[0].data());
            descriptor_->connect_port(handle_, qvlv2::PORT_IN_RIGHT, in[1].data());
            std::vector<float>* outputs = inPlace ? in : out;
            descriptor_->connect_port(handle_, qvlv2::PORT_OUT_LEFT, outputs[0].data());
            descriptor_->connect_port(handle_, qvlv2::PORT_OUT_RIGHT, outputs[1].data());
            if (beforeCall) beforeCall(done);
            descriptor_->run(handle_, static_cast<uint32_t>(n));
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < 2; ++c) result[2 * (done + i) + c] = outputs[c][i];
        }
        return result;
    }

private:
    const LV2_Descriptor* descriptor_;
    LV2_Handle handle_ = nullptr;
    float controls_[qvlv2::PORT_COUNT - qvlv2::PORT_FIRST_CONTROL] = {};
};

// Stereo noise and tones with the stretches the module treats apart: both
// inputs exactly zero (at the start and in the middle, where the bands ring
// on into the silence), and one side silent while the other plays.
inline std::vector<float> stereoMaterial(size_t frames, unsigned seed) {
    std::vector<float> samples(frames * 2);
    uint32_t state = seed * 2654435761u + 1u;
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c) {
            state = state * 1664525u + 1013904223u;
            const float noise = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
            samples[2 * i + c] = 0.25f * std::sin(0.003f * static_cast<float>(i) * static_cast<float>(c + 2)) +
                                 0.4f * noise;
        }
    const auto silence = [&](size_t from, size_t to, int side) {
        for (size_t i = from; i < to && i < frames; ++i)
            for (int c = 0; c < 2; ++c)
                if (side < 0 || side == c) samples[2 * i + c] = 0.0f;
    };
    silence(0, 700, -1);
    silence(frames / 3, frames / 3 + 3000, -1);
    silence(frames / 2, frames / 2 + 1500, 1);
    return samples;
}

}  // namespace lv2test
