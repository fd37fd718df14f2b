#include "lv2/equaliser_instance.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "equaliser/process_steps.h"
#include "host_interface/se_module_base.h"
#include "lv2/finite_input.h"
#include "lv2/port_table.h"
#include "lv2/typed_value.h"
#include "lv2/width_range.h"

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

// A type number with no response: the module passes such a band's input
// through unchanged.
constexpr int32_t kPassThroughType = -1;

bool sameBits(float a, float b) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

}  // namespace

EqualiserInstance* EqualiserInstance::create(double sampleRate, const InlineDisplayQueue* queue) {
    const float rate = static_cast<float>(sampleRate);
    if (!(rate > 0.0f) || !std::isfinite(rate)) return nullptr;
    EqualiserInstance* instance = new (std::nothrow) EqualiserInstance;
    if (instance == nullptr) return nullptr;
    instance->sampleRate_ = rate;
    instance->queue_ = queue != nullptr && queue->queueDraw != nullptr ? queue : nullptr;
    instance->record_ = makeModule(0, kInterfaceKind, &EqualiserInstance::hostCallback,
                                   reinterpret_cast<intptr_t>(instance));
    if (instance->record_ == nullptr || !instance->describePins() || !instance->open()) {
        delete instance;  // closes the module
        return nullptr;
    }
    // Until the first run the picture shows the defaults, as the unconnected
    // ports read.
    instance->takeBandControls();
    instance->takeOutputControls(true);
    instance->controlsSet_ = false;
    instance->publishCurve();
    instance->drawn_ = instance->curve_;
    return instance;
}

EqualiserInstance::~EqualiserInstance() {
    if (record_ != nullptr) record_->dispatcherEntry(record_, MOD_CLOSE, 0, 0, nullptr, 0.0f);
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

bool EqualiserInstance::takeBandControls() {
    bool any = false;
    for (uint32_t band = 0; band < kBands; ++band) {
        float values[kBandPorts];
        bool changed = !controlsSet_;
        for (uint32_t control = 0; control < 4; ++control) {
            const float* port = ports_[controlPort(band, static_cast<BandControl>(control))];
            values[control] = port != nullptr ? *port : defaultValue(band, static_cast<BandControl>(control));
        }
        const float* on = ports_[bandOnPort(band)];
        values[4] = on != nullptr ? *on : 1.0f;
        for (int control = 0; control < kBandPorts; ++control)
            changed = changed || !sameBits(values[control], portValues_[band][control]);
        if (!changed) continue;
        any = true;
        std::copy(values, values + kBandPorts, portValues_[band]);
        // A NaN setting would make the band's design, and from then on its
        // output, NaN; such a control counts as its default instead. (The
        // module clamps every other value, infinities included.)
        for (uint32_t control = 0; control < 4; ++control)
            if (std::isnan(values[control])) values[control] = defaultValue(band, static_cast<BandControl>(control));
        // The type port is read as the module reads its type pin (truncated).
        // A band that is off gets a type number without a response, which
        // the module passes through unchanged.
        const int32_t type = toggleIsOn(values[4]) ? eq::toFilterType(values[BAND_TYPE]) : kPassThroughType;
        // Each response within the widths it can take without a hazardous
        // resonance (lv2/width_range.h).
        const eq::BandPins pins =
            eq::bandPinsFor(type, typedValue(values[BAND_FREQ]), limitedWidth(type, typedValue(values[BAND_WIDTH])),
                            typedValue(values[BAND_GAIN]));
        // The whole buffer takes the new values: the module reads a control
        // where its poll falls, anywhere from here on.
        const int b = static_cast<int>(band);
        std::fill_n(buffers_[controlPin(b, CONTROL_FREQ)], kChunkFrames, pins.freq);
        std::fill_n(buffers_[controlPin(b, CONTROL_GAIN)], kChunkFrames, pins.gain);
        std::fill_n(buffers_[controlPin(b, CONTROL_Q)], kChunkFrames, pins.width);
        std::fill_n(buffers_[controlPin(b, CONTROL_TYPE)], kChunkFrames, pins.type);
        // What the module will design with, for the picture.
        curve_.bands[band] = {eq::toFilterType(pins.type), 10.0f * pins.freq, 10.0f * pins.width, 10.0f * pins.gain};
    }
    controlsSet_ = true;
    return any;
}

bool EqualiserInstance::takeOutputControls(bool first) {
    const float enabled = ports_[PORT_ENABLED] != nullptr ? *ports_[PORT_ENABLED] : 1.0f;
    const float gain = ports_[PORT_OUTPUT_GAIN] != nullptr ? *ports_[PORT_OUTPUT_GAIN] : kDefaultOutputGainDb;
    if (!first && sameBits(enabled, enabledValue_) && sameBits(gain, outputGainValue_)) return false;
    enabledValue_ = enabled;
    outputGainValue_ = gain;
    // Read as the decimal it was typed as, the gain scales as
    // quorvane-render's --gain of that decimal does.
    double gainDb = std::isnan(gain) ? kDefaultOutputGainDb : typedValue(gain);
    gainDb = std::min<double>(kMaxOutputGainDb, std::max<double>(kMinOutputGainDb, gainDb));
    if (first)
        output_.start(sampleRate_, toggleIsOn(enabled), gainDb);
    else
        output_.set(toggleIsOn(enabled), gainDb);
    curve_.enabled = toggleIsOn(enabled);
    curve_.outputGainDb = static_cast<float>(gainDb);
    return true;
}

void EqualiserInstance::publishCurve() { handoff_.publish(curve_); }

void EqualiserInstance::processChunk(uint32_t from, int32_t offset, int32_t count) {
    // Inputs are copied in before anything is written out, so a host may
    // hand the same buffer for an input and an output. A non-finite sample
    // comes in as silence, for the equaliser and the bypass alike.
    const float* inputs[2] = {ports_[PORT_IN_LEFT], ports_[PORT_IN_RIGHT]};
    const int32_t inputPins[2] = {PIN_INPUT1, PIN_INPUT2};
    for (int side = 0; side < 2; ++side) {
        float* place = buffers_[inputPins[side]] + offset;
        if (inputs[side] != nullptr)
            copyFinite(inputs[side] + from, count, place);
        else
            std::fill_n(place, count, 0.0f);
    }
    // The output buffers keep what the module wrote there last: it never
    // reads them, and lets silence through once its bands have rung down
    // whatever stands there.
    for (int32_t pin = 0; pin < kPinCount; ++pin) *pinVariables_[pin] = buffers_[pin];
    record_->processEntry(record_->object, offset, count);
    float* const outputs[2] = {ports_[PORT_OUT_LEFT] != nullptr ? ports_[PORT_OUT_LEFT] + from : nullptr,
                               ports_[PORT_OUT_RIGHT] != nullptr ? ports_[PORT_OUT_RIGHT] + from : nullptr};
    const float* const wet[2] = {buffers_[PIN_OUTPUT1] + offset, buffers_[PIN_OUTPUT2] + offset};
    if (output_.transparent()) {
        // Enabled at unity gain: nothing but the copy the module's output
        // needs anyway.
        for (int side = 0; side < 2; ++side)
            if (outputs[side] != nullptr) std::copy_n(wet[side], count, outputs[side]);
        return;
    }
    const float* const dry[2] = {buffers_[PIN_INPUT1] + offset, buffers_[PIN_INPUT2] + offset};
    output_.apply(dry, wet, outputs, count);
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
    const bool first = !controlsSet_;
    const bool bandsChanged = takeBandControls();
    if (takeOutputControls(first) || bandsChanged) {
        publishCurve();
        if (queue_ != nullptr) queue_->queueDraw(queue_->handle);
    }
    for (uint32_t done = 0; done < frames;) {
        const int32_t count =
            static_cast<int32_t>(std::min<uint32_t>(frames - done, static_cast<uint32_t>(kChunkFrames)));
        processChunk(done, 0, count);
        done += static_cast<uint32_t>(count);
        sampleClock_ += static_cast<uint32_t>(count);
    }
}

InlineDisplayImage* EqualiserInstance::renderDisplay(uint32_t width, uint32_t maxHeight) {
    // A publication takes a few dozen stores; one that overlaps every try
    // leaves the picture as last drawn, and run() asks again on the next
    // change.
    CurveSettings settings;
    for (int attempt = 0; attempt < 64; ++attempt)
        if (handoff_.read(&settings)) {
            drawn_ = settings;
            break;
        }
    return image_.render(drawn_, sampleRate_, width, maxHeight);
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
            return static_cast<int32_t>(sampleClock_);
        default:
            return 0;  // status notices and process function changes need no answer here
    }
}

}  // namespace qvlv2
