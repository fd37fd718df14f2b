// A host driven by fuzz input. It reaches the library exactly as the real
// host does: through the two exports and then only through each instance's
// record (dispatcher, event and process entries), answering the instances'
// requests through its own host callback. After every call it checks what a
// host can see:
//
// - nothing outside [offset, offset + count) of any pin buffer is read or
//   written (the rest of every buffer is poisoned for AddressSanitizer during
//   the call and compared bit for bit afterwards), and input and control
//   buffers are never written;
// - the do-nothing process function touches nothing;
// - the answers to opcodes, exports and requests have the documented shapes;
// - outputs are finite once the inputs and controls have been finite for
//   long enough (see FiniteWatch).
//
// The input is a little program of host operations (see the Op enum);
// make_seeds.py writes meaningful ones into the seed corpus.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "host_interface/abi.h"
#include "host_interface/host_callback.h"
#include "host_interface/module_event.h"
#include "host_interface/module_record.h"
#include "host_interface/pin_descriptor.h"
#include "host_interface/se_module_base.h"

extern "C" int32_t QV_HOST_ENTRY getModuleProperties(int32_t index, ModuleInfo* info);
extern "C" ModuleRecord* QV_HOST_ENTRY makeModule(int32_t index, int32_t interfaceKind,
                                                  HostCallback callback, intptr_t hostValue);

// A host that asks for an absurd pin count makes the library's table
// allocation fail; the allocator must then answer null rather than abort.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024:detect_leaks=1";
}

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "host check failed: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__);                                                        \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace {

constexpr int kPins = 24;
constexpr int kOutput1 = 22;
constexpr int kOutput2 = 23;
constexpr int kGuard = 16;        // floats of poisoned canary before and after each buffer
constexpr int kMaxSlots = 4;      // instances alive at once
constexpr int kMaxOps = 512;      // host operations per input
constexpr int64_t kMaxSamplesPerInput = 1 << 18;  // keeps every input quick
constexpr uint32_t kCanaryBits = 0xA5A5A5A5u;
constexpr float kAudioLimit = 1000.0f;
constexpr int kPollInterval = 32;

bool isInput(int pin) { return pin < kOutput1; }

// Reads the input front to back; an exhausted input reads as zeros.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    float rawFloat() {
        const uint32_t bits = u32();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Values worth trying anywhere a float goes: ordinary, boundary and
// non-finite ones. Index 0xFF of a selector reads raw bits instead.
const float kSpecialFloats[] = {
    0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 0.25f, 100.0f, -100.0f, 1000.0f, -1000.0f,
    1e-20f, -1e-20f, 1e-40f /* denormal */, std::numeric_limits<float>::min(),
    std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
    std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
    std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
    1e30f, -1e30f, 3.7f, 6.0f, 8.0f, 9.0f, 60.0f, 2000.0f, 1e-3f, 1e-6f, 2147483648.0f,
    -2147483904.0f, 0.001f, 7.0f, 5.9f, -0.7f};
constexpr size_t kSpecialCount = sizeof kSpecialFloats / sizeof kSpecialFloats[0];

float pickFloat(Reader& in) {
    const uint8_t selector = in.u8();
    if (selector < kSpecialCount) return kSpecialFloats[selector];
    if (selector < 128) return static_cast<float>(static_cast<int8_t>(in.u8()));  // small integers
    if (selector < 192) return static_cast<float>(in.u16()) / 64.0f - 512.0f;  // ordinary range
    return in.rawFloat();
}

// Band controls as hosts feed them: a tenth of the design value for frequency,
// gain and width, the type as it is.
float pickControl(Reader& in, int control) {
    const uint8_t selector = in.u8();
    if (selector < 96) {
        switch (control) {
            case 0: return static_cast<float>(in.u16()) / 32.0f;            // freq / 10: 0..2048
            case 1: return static_cast<float>(static_cast<int8_t>(in.u8())) / 4.0f;  // gain / 10
            case 2: return static_cast<float>(in.u8()) / 64.0f;              // width / 10
            default: return static_cast<float>(in.u8() % 12) - 1.0f;         // type -1..10
        }
    }
    return pickFloat(in);
}

int32_t pickInt(Reader& in, const int32_t* table, size_t count) {
    const uint8_t selector = in.u8();
    if (selector < count) return table[selector];
    return in.i32();
}

struct Slot;

// QUORVANE_FUZZ_TRACE set: every operation is described on stderr, for
// working out what a crashing input does.
const bool kTrace = std::getenv("QUORVANE_FUZZ_TRACE") != nullptr;

// What the fuzzer reached, printed at exit when QUORVANE_FUZZ_STATS is set.
struct Stats {
    long long inputs = 0, instances = 0, opens = 0, dispatches = 0, events = 0, memberCalls = 0;
    long long processCalls = 0, liveCalls = 0, aliasedCalls = 0, cleanCalls = 0, samples = 0,
              checkedFinite = 0;
    ~Stats() {
        if (std::getenv("QUORVANE_FUZZ_STATS") == nullptr) return;
        std::fprintf(stderr,
                     "fuzz host: %lld inputs, %lld instances, %lld opens, %lld other dispatches, %lld events "
                     "(%lld member calls), %lld process calls (%lld live, %lld with outputs on other buffers, "
                     "%lld clean), %lld samples, "
                     "%lld outputs held to the finite rule\n",
                     inputs, instances, opens, dispatches, events, memberCalls, processCalls, liveCalls,
                     aliasedCalls, cleanCalls, samples, checkedFinite);
    }
};
Stats stats;

struct Host {
    Slot* slots[kMaxSlots] = {};
    uint32_t blockClock = 0;  // the host's sample clock, kept with unsigned arithmetic
    uint32_t sampleClock = 0;
    int64_t samplesProcessed = 0;
    SEModule_base* lastMemberCall = nullptr;
    int memberCalls = 0;
};
Host host;

// The finite-output rule. Filtered samples poll the band controls every 32,
// and a poll that reads finite controls leaves every band with a finite,
// stable design and with delay values that are finite and far from overflow
// (a band whose values went non-finite or were pumped far beyond any signal,
// by inputs beyond kAudioLimit or by settings that move at every poll,
// restarts from silence). So within a call whose inputs are finite and at
// most kAudioLimit and whose controls are finite (any type, frequency, width
// and gain, moving or not), every output from the 32nd sample with a
// non-zero input on is finite (such a sample is always filtered, so a poll
// has happened by then); and once that has happened, a following call of
// the same kind is finite from its first sample.
struct FiniteWatch {
    bool established = false;
};

struct Slot {
    ModuleRecord* record = nullptr;
    SEModule_base* object = nullptr;
    ProcessEntry idleProcess = nullptr;
    float** variables[kPins] = {};
    std::vector<float> buffers[kPins];
    int32_t length = 0;
    int32_t pinCount = kPins;
    uint32_t blockStart = 0;
    int processChanges = 0;
    FiniteWatch watch;

    float* start(int pin) { return buffers[pin].data() + kGuard; }
};

HostResult hostCallback(ModuleRecord* record, int32_t opcode, int32_t index, int32_t value,
                        void* pointer, float option) {
    FUZZ_CHECK(record != nullptr);
    Slot* slot = reinterpret_cast<Slot*>(record->hostValue);
    FUZZ_CHECK(slot != nullptr && slot->record == record);
    FUZZ_CHECK(option == 0.0f);
    switch (opcode) {
        case HOST_SET_PIN_STATUS:
            FUZZ_CHECK(index == kOutput1 || index == kOutput2);
            (void)value;
            FUZZ_CHECK(static_cast<uint32_t>(reinterpret_cast<intptr_t>(pointer)) == host.sampleClock);
            return 0;
        case HOST_GET_SAMPLE_CLOCK:
            return static_cast<int32_t>(host.sampleClock);
        case HOST_GET_PIN_BUFFER:
            if (index < 0 || index >= kPins) return 0;
            return reinterpret_cast<HostResult>(slot->start(index));
        case HOST_GET_BLOCK_START_CLOCK:
            return static_cast<int32_t>(slot->blockStart);
        case HOST_GET_PIN_COUNT:
            return slot->pinCount;
        case HOST_PROCESS_FUNCTION_CHANGED:
            ++slot->processChanges;
            return 0;
        default:
            FUZZ_CHECK(!"the library sent an opcode it has no business sending");
            return 0;
    }
}

// A member operation of the host's own, delivered by a call-request event.
void QV_THISCALL memberOperation(SEModule_base* self) {
    host.lastMemberCall = self;
    ++host.memberCalls;
}

void attach(Slot& slot) {
    for (int pin = 0; pin < kPins; ++pin) *slot.variables[pin] = slot.start(pin);
}

int freeSlot() {
    for (int i = 0; i < kMaxSlots; ++i)
        if (host.slots[i] == nullptr) return i;
    return -1;
}

Slot* pickSlot(Reader& in) {
    const int first = in.u8() % kMaxSlots;
    for (int k = 0; k < kMaxSlots; ++k)
        if (host.slots[(first + k) % kMaxSlots] != nullptr) return host.slots[(first + k) % kMaxSlots];
    return nullptr;
}

void forget(Slot* slot) {
    for (auto& s : host.slots)
        if (s == slot) s = nullptr;
    delete slot;
}

// --- operations ------------------------------------------------------------

void opGetProperties(Reader& in) {
    static const int32_t kIndices[] = {0, 0, 0, 1, -1, INT32_MIN};
    const int32_t index = pickInt(in, kIndices, 6);
    ModuleInfo info;
    std::memset(&info, 0x5A, sizeof info);
    const int32_t result = getModuleProperties(index, &info);
    FUZZ_CHECK(info.interfaceVersion == 2230);
    FUZZ_CHECK(info.hostWord12 == 0x5A5A5A5A && info.hostWord16 == 0x5A5A5A5A);
    if (index == 0) {
        FUZZ_CHECK(result == 1);
        FUZZ_CHECK(std::strcmp(info.name, "Quorvane") == 0 && std::strcmp(info.id, "Quorvane") == 0);
        FUZZ_CHECK(std::strncmp(info.about, "Five Band EQ", 12) == 0);
    } else {
        FUZZ_CHECK(result == 0);
    }
}

void opMake(Reader& in) {
    static const int32_t kIndices[] = {0, 0, 0, 0, 1, -1};
    static const int32_t kKinds[] = {1, 1, 1, 1, 0, 2, -1};
    const int32_t index = pickInt(in, kIndices, 6);
    const int32_t kind = pickInt(in, kKinds, 7);
    const uint16_t lengthChoice = in.u16();
    const int free = freeSlot();
    if (free < 0) return;

    Slot* slot = new Slot;
    slot->length = 1 + lengthChoice % 2048;
    ModuleRecord* record = makeModule(index, kind, &hostCallback, reinterpret_cast<intptr_t>(slot));
    if (index != 0 || kind != 1) {
        FUZZ_CHECK(record == nullptr);
        delete slot;
        return;
    }
    FUZZ_CHECK(record != nullptr);
    FUZZ_CHECK(record->magic == 0x646F6365u && record->version == 1);
    FUZZ_CHECK(record->hostValue == reinterpret_cast<intptr_t>(slot));
    FUZZ_CHECK(record->object != nullptr && record->reserved16 == 0);
    FUZZ_CHECK(record->dispatcherEntry != nullptr && record->eventEntry != nullptr &&
               record->processEntry != nullptr);
    for (int32_t word : record->reserved32) FUZZ_CHECK(word == 0);
    ++stats.instances;
    if (kTrace) std::fprintf(stderr, "make slot %p length %d\n", static_cast<void*>(slot), slot->length);
    slot->record = record;
    slot->object = record->object;
    slot->idleProcess = record->processEntry;
    host.slots[free] = slot;

    // As a host does when it places the module: learn every pin, give it a
    // buffer and attach the buffers to the pin variables.
    for (int pin = 0; pin <= kPins; ++pin) {
        PinDescriptor descriptor;
        std::memset(&descriptor, 0, sizeof descriptor);
        const intptr_t answer = record->dispatcherEntry(record, 6, pin, 0, &descriptor, 0.0f);
        if (pin == kPins) {
            FUZZ_CHECK(answer == 0 && descriptor.variable == nullptr && descriptor.name == nullptr);
            break;
        }
        FUZZ_CHECK(answer == 1);
        FUZZ_CHECK(descriptor.variable != nullptr && descriptor.name != nullptr);
        FUZZ_CHECK(descriptor.datatype == DT_AUDIO && descriptor.flags == 0);
        FUZZ_CHECK(descriptor.direction == (isInput(pin) ? DIR_INPUT : DIR_OUTPUT));
        FUZZ_CHECK((descriptor.defaultText != nullptr) == isInput(pin));
        slot->variables[pin] = static_cast<float**>(descriptor.variable);
        slot->buffers[pin].assign(static_cast<size_t>(slot->length + 2 * kGuard), 0.0f);
    }
    attach(*slot);
}

void opDispatch(Reader& in) {
    Slot* slot = pickSlot(in);
    static const int32_t kOpcodes[] = {0, 0, 1, 2, 2, 3, 6, 6, 8, 12, 13, -1, 4, 5, 7, 9, 10, 11, 14, INT32_MIN};
    static const int32_t kPinCounts[] = {24, 24, 24, 0, -3, 1, 2, 23, 25, 40, 1000, INT32_MAX};
    static const float kRates[] = {44100.0f, 48000.0f, 96000.0f, 0.0f, -0.0f, -48000.0f,
                                   std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(), 1e38f,
                                   std::numeric_limits<float>::max(), 1e-45f, 1e-38f, 1.0f,
                                   8000.0f, 40000.0f, 192000.0f};
    const int32_t opcode = pickInt(in, kOpcodes, sizeof kOpcodes / sizeof kOpcodes[0]);
    const int32_t index = in.i32() % 64;
    const int32_t value = in.i32();
    const uint8_t rateChoice = in.u8();
    const float option = rateChoice < sizeof kRates / sizeof kRates[0] ? kRates[rateChoice] : pickFloat(in);
    const uint8_t pointerChoice = in.u8() % 3;
    // Table counts cover the absurd; raw ones stay below a few thousand so an
    // input does not spend its time building tables of millions of pins.
    int32_t pinCount = pickInt(in, kPinCounts, sizeof kPinCounts / sizeof kPinCounts[0]);
    if (pinCount != INT32_MAX && (pinCount > 4096 || pinCount < -4096)) pinCount %= 4096;
    if (slot == nullptr) return;

    PinDescriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    void* pointer = pointerChoice == 0 ? nullptr : &descriptor;
    if (opcode == 0) slot->pinCount = pinCount;
    ++(opcode == 0 ? stats.opens : stats.dispatches);

    ModuleRecord* record = slot->record;
    if (kTrace)
        std::fprintf(stderr, "dispatch slot %p opcode %d index %d value %d option %g pins %d\n",
                     static_cast<void*>(slot), opcode, index, value, static_cast<double>(option), slot->pinCount);
    const intptr_t answer = record->dispatcherEntry(record, opcode, index, value, pointer, option);
    switch (opcode) {
        case 0:
            FUZZ_CHECK(answer == 0);
            // The table allocation fails only for an absurd pin count; then
            // the instance stays on the do-nothing process function.
            if (slot->pinCount <= 1000) FUZZ_CHECK(record->processEntry != slot->idleProcess);
            slot->watch = FiniteWatch{};  // fresh filters, delay lines silent
            slot->watch.established = true;
            break;
        case 1:
            FUZZ_CHECK(answer == 1);
            forget(slot);
            return;
        case 6:
            if (pointer != nullptr && index >= 0 && index < kPins) {
                FUZZ_CHECK(answer == 1 && descriptor.variable == slot->variables[index]);
            } else {
                FUZZ_CHECK(answer == 0);
                FUZZ_CHECK(descriptor.variable == nullptr && descriptor.name == nullptr);
            }
            break;
        case 13: {
            const auto* info = reinterpret_cast<const ProcessInfo*>(answer);
            FUZZ_CHECK(info != nullptr && info->one == 1 && info->zero == 0);
            FUZZ_CHECK(info->memberSize == static_cast<int32_t>(sizeof(ProcessFunction)));
            FUZZ_CHECK(info->member != nullptr && info->member->function == record->processEntry);
            break;
        }
        default:
            FUZZ_CHECK(answer == 0);
    }
    // Whatever the opcode, the record stays the record.
    FUZZ_CHECK(record->magic == 0x646F6365u && record->object == slot->object);
}

void opEvent(Reader& in) {
    Slot* slot = pickSlot(in);
    static const int32_t kTypes[] = {0, 0, 0, 2, 21, 1, 3, -1};
    static const int32_t kPinIndices[] = {0, 1, 0, 1, 22, 23, 2, 5, 21, -1, 24, 30, 39};
    static const int32_t kStatuses[] = {0, 1, 2, 0, 1, 2, -1, 3};
    EventRecord event;
    std::memset(&event, 0, sizeof event);
    event.eventType = pickInt(in, kTypes, 8);
    event.param0 = in.i32();
    event.intParam = pickInt(in, kStatuses, 8);
    event.shortParam = in.u16();
    event.ptrParam = pickInt(in, kPinIndices, 13);
    const uint16_t clockInBlock = in.u16();
    if (slot == nullptr) return;
    if (event.eventType == EVENT_CALL_REQUEST) event.ptrParam = reinterpret_cast<intptr_t>(&memberOperation);

    // The host's sample clock lies within the current block of every pin.
    // Kept with unsigned arithmetic, it may pass the wrap of the signed
    // 32-bit clock within the block.
    host.sampleClock = slot->blockStart + clockInBlock % static_cast<uint32_t>(slot->length);
    const int calls = host.memberCalls;
    ++stats.events;
    if (kTrace)
        std::fprintf(stderr, "event slot %p type %d status %d pin %ld clock %u\n", static_cast<void*>(slot),
                     event.eventType, event.intParam, static_cast<long>(event.ptrParam), host.sampleClock);
    if (event.eventType == EVENT_CALL_REQUEST) ++stats.memberCalls;
    slot->record->eventEntry(slot->object, &event);
    if (event.eventType == EVENT_CALL_REQUEST) {
        FUZZ_CHECK(host.memberCalls == calls + 1 && host.lastMemberCall == slot->object);
    } else {
        FUZZ_CHECK(host.memberCalls == calls);
    }
}

void opSetClock(Reader& in) {
    static const int32_t kClocks[] = {0, INT32_MAX - 100, -100, INT32_MIN, -1};
    host.blockClock = static_cast<uint32_t>(pickInt(in, kClocks, 5));
}

// Fills a buffer's first `length` samples by a recipe from the input.
void fillRecipe(Reader& in, float* data, int32_t length, bool control, int controlKind) {
    const uint8_t recipe = in.u8() % 8;
    switch (recipe) {
        case 0:  // keep what is there
            return;
        case 1: {  // one value throughout
            const float value = control ? pickControl(in, controlKind) : pickFloat(in);
            for (int32_t i = 0; i < length; ++i) data[i] = value;
            return;
        }
        case 2: {  // a value, then another from a fuzzed position on
            const float first = control ? pickControl(in, controlKind) : pickFloat(in);
            const float second = control ? pickControl(in, controlKind) : pickFloat(in);
            const int32_t at = in.u16() % (length + 1);
            for (int32_t i = 0; i < length; ++i) data[i] = i < at ? first : second;
            return;
        }
        case 3: {  // a sine at a fuzzed frequency and amplitude within the audio limit
            const double step = in.u16() / 65536.0 * 3.14159;
            const double amplitude = in.u8() / 255.0 * kAudioLimit;
            for (int32_t i = 0; i < length; ++i) data[i] = static_cast<float>(amplitude * std::sin(step * i));
            return;
        }
        case 4: {  // a repeating pattern of four values
            float pattern[4];
            for (float& value : pattern) value = control ? pickControl(in, controlKind) : pickFloat(in);
            for (int32_t i = 0; i < length; ++i) data[i] = pattern[i % 4];
            return;
        }
        case 5: {  // silence with one value planted
            const float value = pickFloat(in);
            const int32_t at = in.u16() % length;
            for (int32_t i = 0; i < length; ++i) data[i] = 0.0f;
            data[at] = value;
            return;
        }
        case 6: {  // short bursts of a value over a quiet signal
            const float value = pickFloat(in);
            const int32_t every = 1 + in.u8();
            for (int32_t i = 0; i < length; ++i) data[i] = (i % every == 0) ? value : 0.001f * (i % 7);
            return;
        }
        default: {  // raw samples from the input, repeated
            float raw[8];
            for (float& value : raw) value = in.rawFloat();
            for (int32_t i = 0; i < length; ++i) data[i] = raw[i % 8];
            return;
        }
    }
}

// How the outputs lie for one process call (the upper bits of its shape byte).
enum class Alias { None, None1, None2, None3, InPlace, Crossed, SharedOutput, Shifted };

bool cleanAudio(float x) { return std::isfinite(x) && std::fabs(x) <= kAudioLimit; }

void opProcess(Reader& in) {
    Slot* slot = pickSlot(in);
    const uint8_t shape = in.u8();
    const uint16_t offsetChoice = in.u16();
    const uint16_t countChoice = in.u16();
    const uint8_t refill = in.u8();
    if (slot == nullptr) return;
    const int32_t length = slot->length;

    // Refill buffers as the input asks: inputs, controls per band, outputs.
    if (refill & 1) {
        fillRecipe(in, slot->start(0), length, false, 0);
        fillRecipe(in, slot->start(1), length, false, 0);
    }
    if (refill & 2) {
        const uint8_t bands = in.u8();
        for (int band = 0; band < 5; ++band)
            if (bands & (1 << band))
                for (int control = 0; control < 4; ++control)
                    fillRecipe(in, slot->start(2 + 4 * band + control), length, true, control);
    }
    if (refill & 4) {
        fillRecipe(in, slot->start(kOutput1), length, false, 0);
        fillRecipe(in, slot->start(kOutput2), length, false, 0);
    }

    int32_t offset = offsetChoice % (length + 1);
    int32_t count = countChoice % (length - offset + 1);
    if (shape % 16 == 15) {  // nothing to do: the offset may then be anything
        offset = static_cast<int32_t>(offsetChoice) - 30000;
        count = -static_cast<int32_t>(countChoice % 8);
    }
    if (count > 0 && host.samplesProcessed + count > kMaxSamplesPerInput) return;
    host.samplesProcessed += count > 0 ? count : 0;

    // Where each pin's samples live for this call. Hosts process in place
    // too: the outputs may be laid onto the inputs' buffers, onto one
    // buffer together, or (a host gone wrong) a few samples off an input.
    int storageOf[kPins];
    int32_t shiftOf[kPins];
    for (int pin = 0; pin < kPins; ++pin) {
        storageOf[pin] = pin;
        shiftOf[pin] = 0;
    }
    const Alias alias = count > 0 ? static_cast<Alias>((shape >> 4) % 8) : Alias::None;
    switch (alias) {
        case Alias::InPlace:
            storageOf[kOutput1] = 0;
            storageOf[kOutput2] = 1;
            break;
        case Alias::Crossed:
            storageOf[kOutput1] = 1;
            storageOf[kOutput2] = 0;
            break;
        case Alias::SharedOutput:
            storageOf[kOutput2] = kOutput1;
            break;
        case Alias::Shifted:
            for (int k = 0; k < 2; ++k) {
                storageOf[kOutput1 + k] = k;
                // Any shift that keeps the call's samples inside the buffer.
                const int32_t low = -offset;
                const int32_t high = length - offset - count;
                shiftOf[kOutput1 + k] = low + static_cast<int32_t>(in.u8()) % (high - low + 1);
            }
            break;
        default:
            break;
    }

    std::vector<float> before[kPins];
    for (int pin = 0; pin < kPins; ++pin) {
        std::vector<float>& buffer = slot->buffers[pin];
        for (int i = 0; i < kGuard; ++i) {
            std::memcpy(&buffer[static_cast<size_t>(i)], &kCanaryBits, 4);
            std::memcpy(&buffer[static_cast<size_t>(kGuard + length + i)], &kCanaryBits, 4);
        }
        before[pin] = buffer;
    }

    // Nothing outside the call's samples may be touched: every buffer is
    // poisoned but for the samples some pin of the call reaches in it.
    const int32_t first = count > 0 ? offset : 0;
    const int32_t end = count > 0 ? offset + count : 0;
    auto writes = [&](int storage, int32_t sample) {
        for (int pin : {kOutput1, kOutput2})
            if (storageOf[pin] == storage && sample >= first + shiftOf[pin] && sample < end + shiftOf[pin])
                return true;
        return false;
    };
    for (int pin = 0; pin < kPins; ++pin) {
        float* base = slot->buffers[pin].data();
        ASAN_POISON_MEMORY_REGION(base, sizeof(float) * slot->buffers[pin].size());
        for (int user = 0; user < kPins; ++user)
            if (storageOf[user] == pin && count > 0)
                ASAN_UNPOISON_MEMORY_REGION(base + kGuard + first + shiftOf[user],
                                            sizeof(float) * static_cast<size_t>(count));
    }

    for (int pin = 0; pin < kPins; ++pin)
        *slot->variables[pin] = slot->start(storageOf[pin]) + shiftOf[pin];
    slot->blockStart = host.blockClock;
    const bool live = slot->record->processEntry != slot->idleProcess;
    ++stats.processCalls;
    if (live) ++stats.liveCalls;
    if (alias != Alias::None) ++stats.aliasedCalls;
    slot->record->processEntry(slot->object, offset, count);
    if (count > 0) host.blockClock += static_cast<uint32_t>(count);

    for (int pin = 0; pin < kPins; ++pin)
        ASAN_UNPOISON_MEMORY_REGION(slot->buffers[pin].data(),
                                    sizeof(float) * slot->buffers[pin].size());
    attach(*slot);

    if (kTrace && count > 0) {
        std::fprintf(stderr, "process slot %p offset %d count %d alias %d live %d\n", static_cast<void*>(slot),
                     offset, count, static_cast<int>(alias), live ? 1 : 0);
        for (int pin = 0; pin < kPins; ++pin) {
            const std::vector<float>& data = pin < kOutput1 ? before[pin] : slot->buffers[storageOf[pin]];
            const int32_t shift = pin < kOutput1 ? 0 : shiftOf[pin];
            double peak = 0.0;
            int nonFinite = 0;
            int firstNonFinite = -1;
            for (int32_t i = offset; i < end; ++i) {
                const float x = data[static_cast<size_t>(kGuard + i + shift)];
                if (!std::isfinite(x)) {
                    if (nonFinite++ == 0) firstNonFinite = i;
                } else {
                    peak = std::max(peak, static_cast<double>(std::fabs(x)));
                }
            }
            std::fprintf(stderr, "  pin %2d first %-12g last %-12g peak %-12g non-finite %d (first at %d)\n", pin,
                         static_cast<double>(data[static_cast<size_t>(kGuard + offset + shift)]),
                         static_cast<double>(data[static_cast<size_t>(kGuard + end - 1 + shift)]), peak,
                         nonFinite, firstNonFinite);
        }
    }

    // Inputs and controls are never written, outputs only within the call.
    for (int pin = 0; pin < kPins; ++pin) {
        const std::vector<float>& now = slot->buffers[pin];
        const std::vector<float>& was = before[pin];
        for (size_t i = 0; i < now.size(); ++i) {
            const int32_t sample = static_cast<int32_t>(i) - kGuard;
            if (live && writes(pin, sample)) continue;
            FUZZ_CHECK(bitsOf(now[i]) == bitsOf(was[i]));
        }
    }
    if (!live || count <= 0) return;
    stats.samples += count;

    // The finite-output rule (FiniteWatch). An output laid a few samples off
    // an input feeds the outputs back in: the rule cannot follow that.
    if (alias == Alias::Shifted) {
        slot->watch.established = false;
        return;
    }
    bool clean = true;
    int32_t loudSamples = 0;
    int32_t finiteFrom = slot->watch.established ? offset : end;
    for (int32_t i = offset; i < end; ++i) {
        // What the call read: the samples as they were before it.
        const float left = before[0][static_cast<size_t>(kGuard + i)];
        const float right = before[1][static_cast<size_t>(kGuard + i)];
        if (!cleanAudio(left) || !cleanAudio(right)) clean = false;
        for (int pin = 2; pin < kOutput1; ++pin)
            if (!std::isfinite(slot->start(pin)[i])) clean = false;
        if ((left != 0.0f || right != 0.0f) && ++loudSamples == kPollInterval && finiteFrom > i)
            finiteFrom = i;
    }
    if (!clean) {
        slot->watch.established = false;
        return;
    }
    ++stats.cleanCalls;
    if (finiteFrom < end) stats.checkedFinite += end - finiteFrom;
    // With both outputs on one buffer, Output2's samples are the ones left.
    const float* out1 = slot->start(storageOf[kOutput1]);
    const float* out2 = slot->start(storageOf[kOutput2]);
    for (int32_t i = finiteFrom; i < end; ++i) {
        if (!std::isfinite(out1[i]) || !std::isfinite(out2[i])) {
            std::fprintf(stderr, "non-finite output at sample %d of [%d, %d), finite from %d\n", i, offset,
                         end, finiteFrom);
            FUZZ_CHECK(!"outputs finite after finite inputs and controls");
        }
    }
    if (finiteFrom < end) slot->watch.established = true;
}

enum Op : uint8_t { OP_MAKE, OP_DISPATCH, OP_EVENT, OP_PROCESS, OP_SET_CLOCK, OP_PROPERTIES, OP_COUNT };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    ++stats.inputs;
    host.samplesProcessed = 0;
    host.blockClock = 0;
    host.sampleClock = 0;
    for (int op = 0; op < kMaxOps && !in.empty(); ++op) {
        switch (in.u8() % OP_COUNT) {
            case OP_MAKE: opMake(in); break;
            case OP_DISPATCH: opDispatch(in); break;
            case OP_EVENT: opEvent(in); break;
            case OP_PROCESS: opProcess(in); break;
            case OP_SET_CLOCK: opSetClock(in); break;
            default: opGetProperties(in); break;
        }
    }
    // A host closes whatever it created.
    for (Slot*& slot : host.slots) {
        if (slot == nullptr) continue;
        const intptr_t answer = slot->record->dispatcherEntry(slot->record, 1, 0, 0, nullptr, 0.0f);
        FUZZ_CHECK(answer == 1);
        delete slot;
        slot = nullptr;
    }
    return 0;
}
