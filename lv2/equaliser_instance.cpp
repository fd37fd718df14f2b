#include "lv2/equaliser_instance.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "equaliser/process_steps.h"
#include "host_interface/se_module_base.h"
#include "lv2/port_table.h"
#include "lv2/shared_rate.h"
#include "lv2/typed_value.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

// The library's own entry point, as a host calls it.
extern "C" ModuleRecord* QV_HOST_ENTRY makeModule(int32_t index, int32_t interfaceKind, HostCallback callback,
                                                  intptr_t hostValue);

namespace qvlv2 {

namespace {

constexpr int32_t kInterfaceKind = 1;

// Hosts often run their audio threads with denormals flushed to zero; the
// equaliser's arithmetic is defined, and tested, in the processor's default
// mode, and deals with vanishing values itself. The default mode holds for
// the duration of a run() and the host's mode comes back afterwards.
class DefaultFloatingPointMode {
public:
#if defined(__SSE__) || defined(__x86_64__)
    DefaultFloatingPointMode() : saved_(_mm_getcsr()) { _mm_setcsr(kDefaultMxcsr); }
    ~DefaultFloatingPointMode() { _mm_setcsr(saved_); }

private:
    static constexpr unsigned int kDefaultMxcsr = 0x1F80;  // all exceptions masked, round to nearest
    unsigned int saved_;
#endif
};

bool sameBits(float a, float b) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

}  // namespace

EqualiserInstance* EqualiserInstance::create(double sampleRate) {
    const float rate = static_cast<float>(sampleRate);
    if (!(rate > 0.0f) || !std::isfinite(rate)) return nullptr;
    if (!claimSampleRate(rate)) return nullptr;
    EqualiserInstance* instance = new (std::nothrow) EqualiserInstance;
    if (instance == nullptr) {
        releaseSampleRate();
        return nullptr;
    }
    instance->sampleRate_ = rate;
    instance->record_ = makeModule(0, kInterfaceKind, &EqualiserInstance::hostCallback,
                                   reinterpret_cast<intptr_t>(instance));
    if (instance->record_ == nullptr || !instance->describePins() || !instance->open()) {
        delete instance;  // closes the module and gives the rate back
        return nullptr;
    }
    return instance;
}

EqualiserInstance::~EqualiserInstance() {
    if (record_ != nullptr) record_->dispatcherEntry(record_, MOD_CLOSE, 0, 0, nullptr, 0.0f);
    releaseSampleRate();
}

bool EqualiserInstance::describePins() {
    for (int32_t pin = 0; pin < kPinCount; ++pin) {
        PinDescriptor descriptor;
        std::memset(&descriptor, 0, sizeof descriptor);
        if (record_->dispatcherEntry(record_, MOD_GET_PIN_PROPERTIES, pin, 0, &descriptor, 0.0f) == 0) return false;
        if (descriptor.variable == nullptr || descriptor.datatype != DT_AUDIO) return false;
        pinVariables_[pin] = static_cast<float**>(descriptor.variable);
    }
    return true;
}

bool EqualiserInstance::open() {
    // As the host opens a module: rate and block size first, every pin
    // variable on its buffer, then open; both audio inputs stream.
    record_->dispatcherEntry(record_, MOD_SET_SAMPLE_RATE, 0, 0, nullptr, sampleRate_);
    record_->dispatcherEntry(record_, MOD_SET_BLOCK_SIZE, 0, kChunkFrames, nullptr, 0.0f);
    std::memset(buffers_, 0, sizeof buffers_);
    for (int32_t pin = 0; pin < kPinCount; ++pin) *pinVariables_[pin] = buffers_[pin];
    position_ = 0;
    sampleClock_ = 0;
    controlsSet_ = false;
    record_->dispatcherEntry(record_, MOD_OPEN, 0, 0, nullptr, 0.0f);
    // A module that could not allocate its filters stays on the process
    // function that does nothing.
    ready_ = record_->processEntry != &SEModule_base::doNothingProcess;
    if (!ready_) return false;
    for (int32_t pin : {PIN_INPUT1, PIN_INPUT2}) {
        EventRecord event;
        std::memset(&event, 0, sizeof event);
        event.eventType = EVENT_PIN_STATUS;
        event.intParam = PIN_STREAMING;
        event.ptrParam = pin;
        record_->eventEntry(record_->object, &event);
    }
    return true;
}

void EqualiserInstance::activate() { open(); }

void EqualiserInstance::connect(uint32_t port, void* data) {
    if (port < PORT_COUNT) ports_[port] = static_cast<float*>(data);
}

void EqualiserInstance::takeControls() {
    for (uint32_t band = 0; band < kBands; ++band) {
        float values[4];
        bool changed = !controlsSet_;
        for (uint32_t control = 0; control < 4; ++control) {
            const float* port = ports_[controlPort(band, static_cast<BandControl>(control))];
            values[control] = port != nullptr ? *port : kControls[control].defaultValue;
            changed = changed || !sameBits(values[control], portValues_[band][control]);
        }
        if (!changed) continue;
        std::copy(values, values + 4, portValues_[band]);
        // A NaN setting would make the band's design, and from then on its
        // output, NaN; such a control counts as its default instead. (The
        // module clamps every other value, infinities included.)
        for (uint32_t control = 0; control < 4; ++control)
            if (std::isnan(values[control])) values[control] = kControls[control].defaultValue;
        // The type port is read as the module reads its type pin (truncated).
        const eq::BandPins pins =
            eq::bandPinsFor(eq::toFilterType(values[BAND_TYPE]), typedValue(values[BAND_FREQ]),
                            typedValue(values[BAND_WIDTH]), typedValue(values[BAND_GAIN]));
        // The whole buffer takes the new values: the module reads a control
        // where its poll falls, anywhere from here on.
        const int b = static_cast<int>(band);
        std::fill_n(buffers_[controlPin(b, CONTROL_FREQ)], kChunkFrames, pins.freq);
        std::fill_n(buffers_[controlPin(b, CONTROL_GAIN)], kChunkFrames, pins.gain);
        std::fill_n(buffers_[controlPin(b, CONTROL_Q)], kChunkFrames, pins.width);
        std::fill_n(buffers_[controlPin(b, CONTROL_TYPE)], kChunkFrames, pins.type);
    }
    controlsSet_ = true;
}

void EqualiserInstance::processChunk(uint32_t from, int32_t offset, int32_t count) {
    // Inputs are copied in before anything is written out, so a host may
    // hand the same buffer for an input and an output.
    const float* inputs[2] = {ports_[PORT_IN_LEFT], ports_[PORT_IN_RIGHT]};
    const int32_t inputPins[2] = {PIN_INPUT1, PIN_INPUT2};
    for (int side = 0; side < 2; ++side) {
        float* place = buffers_[inputPins[side]] + offset;
        if (inputs[side] != nullptr)
            std::copy_n(inputs[side] + from, count, place);
        else
            std::fill_n(place, count, 0.0f);
    }
    for (int32_t pin = 0; pin < kPinCount; ++pin) *pinVariables_[pin] = buffers_[pin];
    record_->processEntry(record_->object, offset, count);
    float* outputs[2] = {ports_[PORT_OUT_LEFT], ports_[PORT_OUT_RIGHT]};
    const int32_t outputPins[2] = {PIN_OUTPUT1, PIN_OUTPUT2};
    for (int side = 0; side < 2; ++side)
        if (outputs[side] != nullptr) std::copy_n(buffers_[outputPins[side]] + offset, count, outputs[side] + from);
}

void EqualiserInstance::writeSilence(uint32_t frames) {
    for (uint32_t port : {PORT_OUT_LEFT, PORT_OUT_RIGHT})
        if (ports_[port] != nullptr) std::fill_n(ports_[port], frames, 0.0f);
}

void EqualiserInstance::run(uint32_t frames) {
    if (!ready_) {
        writeSilence(frames);
        return;
    }
    const DefaultFloatingPointMode mode;
    takeControls();
    for (uint32_t done = 0; done < frames;) {
        const int32_t count =
            static_cast<int32_t>(std::min<uint32_t>(frames - done, static_cast<uint32_t>(kChunkFrames - position_)));
        processChunk(done, position_, count);
        done += static_cast<uint32_t>(count);
        sampleClock_ += static_cast<uint32_t>(count);
        position_ = (position_ + count) % kChunkFrames;
    }
}

HostResult EqualiserInstance::hostCallback(ModuleRecord* record, int32_t opcode, int32_t index, int32_t,
                                           void*, float) {
    if (record == nullptr) return 0;
    return reinterpret_cast<EqualiserInstance*>(record->hostValue)->answer(opcode, index);
}

HostResult EqualiserInstance::answer(int32_t opcode, int32_t index) {
    switch (opcode) {
        case HOST_GET_PIN_COUNT:
            return kPinCount;
        case HOST_GET_PIN_BUFFER:
            if (index < 0 || index >= kPinCount) return 0;
            return reinterpret_cast<HostResult>(buffers_[index]);
        case HOST_GET_SAMPLE_CLOCK:
            return static_cast<int32_t>(sampleClock_);
        case HOST_GET_BLOCK_START_CLOCK:
            // Every pin buffer starts at the chunk's first frame.
            return static_cast<int32_t>(sampleClock_ - static_cast<uint32_t>(position_));
        default:
            return 0;  // status notices and process function changes need no answer here
    }
}

}  // namespace qvlv2
