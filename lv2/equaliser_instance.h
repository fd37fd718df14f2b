// One plug-in instance: the equaliser module created through the library's
// own entry point and driven the way the host drives it, from buffers the
// instance owns, so an open host gets the module's output bit for bit; then
// the output gain and the bypass, and the picture of the response that the
// host's display thread asks for.
#pragma once

#include <cstdint>

#include "equaliser/control_scaling.h"
#include "equaliser/module.h"
#include "host_interface/host_callback.h"
#include "host_interface/module_record.h"
#include "lv2/curve_handoff.h"
#include "lv2/inline_display.h"
#include "lv2/output_stage.h"
#include "lv2/ports.h"
#include "lv2/response_image.h"

namespace qvlv2 {

class EqualiserInstance {
public:
    // Frames per process call at most; a run() of more goes in several, each
    // from the start of the pin buffers. The module reads nothing but its
    // inputs and controls, so the bits are the same however a host splits
    // its run() calls.
    static constexpr int32_t kChunkFrames = 512;

    // Null when the rate is not a usable one or when memory runs out. Each
    // instance designs at its own rate, whatever rates others in the
    // process run at.
    // `queue` is the host's redraw request, null when it offers none.
    static EqualiserInstance* create(double sampleRate, const InlineDisplayQueue* queue);
    ~EqualiserInstance();
    EqualiserInstance(const EqualiserInstance&) = delete;
    EqualiserInstance& operator=(const EqualiserInstance&) = delete;

    void connect(uint32_t port, void* data);
    // Starts again from silence, as a freshly opened module. May allocate;
    // when it cannot, run() writes silence.
    void activate();
    // Hard real time: allocates nothing, locks nothing, logs nothing.
    void run(uint32_t frames);
    // The host's display thread: the response as run() last took the
    // controls (the defaults before the first run). Allocates.
    InlineDisplayImage* renderDisplay(uint32_t width, uint32_t maxHeight);

private:
    static constexpr int kBandPorts = 5;  // freq, gain, width, type, on

    EqualiserInstance() = default;
    bool describePins();
    bool open();
    bool takeBandControls();
    bool takeOutputControls(bool first);
    void publishCurve();
    void processChunk(uint32_t from, int32_t offset, int32_t count);
    void writeSilence(uint32_t frames);

    static HostResult hostCallback(ModuleRecord* record, int32_t opcode, int32_t index, int32_t value,
                                   void* pointer, float option);
    HostResult answer(int32_t opcode, int32_t index);

    ModuleRecord* record_ = nullptr;
    float sampleRate_ = 0.0f;
    bool ready_ = false;       // open succeeded: the module has its filters
    bool controlsSet_ = false;  // the control buffers hold the ports' values
    float** pinVariables_[kPinCount] = {};  // the module variables that hold each pin's buffer address
    float* ports_[PORT_COUNT] = {};
    float portValues_[kBands][kBandPorts] = {};  // band port values last turned into pin values
    float enabledValue_ = 1.0f, outputGainValue_ = 0.0f;  // the output ports' values last taken
    OutputStage output_;
    CurveSettings curve_;  // what the picture shows; run()'s copy, published on change
    CurveHandoff handoff_;
    const InlineDisplayQueue* queue_ = nullptr;
    uint32_t sampleClock_ = 0;  // frames run since the last activation
    alignas(16) float buffers_[kPinCount][kChunkFrames] = {};
    // The display thread's own: the last settings it drew and its pixels.
    CurveSettings drawn_;
    ResponseImage image_;
};

}  // namespace qvlv2
