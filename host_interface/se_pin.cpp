#include "host_interface/se_pin.h"

#include <limits>
#include <new>

#include "host_interface/se_module_base.h"

void SEPin::initialise(SEModule_base* pinOwner, int32_t position, const PinDescriptor& descriptor) {
    owner = pinOwner;
    index = position;
    datatype = descriptor.datatype;
    variable = descriptor.variable;
    status = PIN_STATIC;
    storage = Storage{};
    if (variable != nullptr) return;

    switch (datatype) {
        case DT_SHORT:
        case DT_BYTE:
        case DT_FLOAT:
        case DT_INT:
            // Zeroed storage reads as 0 / 0.0 in each of these kinds.
            variable = &storage;
            break;
        case DT_AUDIO:
            storage.audioBuffer =
                reinterpret_cast<float*>(pinOwner->requestHost(HOST_GET_PIN_BUFFER, position));
            variable = &storage;
            break;
        default:
            break;  // no storage of its own: the variable stays null
    }
}

float SEPin::currentValue() const {
    // A pin whose buffer the host has not attached yet reads as silence.
    if (owner == nullptr || variable == nullptr || *static_cast<float* const*>(variable) == nullptr)
        return 0.0f;
    const HostResult blockStart = owner->requestHost(HOST_GET_BLOCK_START_CLOCK, index);
    const HostResult clock = owner->requestHost(HOST_GET_SAMPLE_CLOCK);
    const float* buffer = *static_cast<float* const*>(variable);
    // The host's 32-bit sample clock wraps after 2^31 samples; the distance
    // from the block's start is taken modulo 2^32, so a block that straddles
    // the wrap still reads the right sample.
    const uint32_t position = static_cast<uint32_t>(clock) - static_cast<uint32_t>(blockStart);
    return buffer[static_cast<int32_t>(position)];
}

PinTable* PinTable::create(int32_t count) {
    if (count <= 0) return nullptr;
    // Beyond what the 32-bit target could ever address the size saturates, so
    // an absurd count fails here on every build instead of reserving (and
    // then constructing) gigabytes of pins on a 64-bit one.
    constexpr size_t kMaxTableBytes = 0x7FFFFFFF;
    const size_t maxCount = (kMaxTableBytes - kPinsOffset) / sizeof(SEPin);
    const size_t bytes = static_cast<size_t>(count) > maxCount
                             ? std::numeric_limits<size_t>::max()
                             : kPinsOffset + static_cast<size_t>(count) * sizeof(SEPin);
    void* memory = ::operator new(bytes, std::nothrow);
    if (memory == nullptr) return nullptr;
    PinTable* table = new (memory) PinTable(count);
    SEPin* pins = table->pins();
    for (int32_t p = 0; p < count; ++p) new (&pins[p]) SEPin();
    return table;
}

void PinTable::destroy(PinTable* table) {
    if (table == nullptr) return;
    SEPin* pins = table->pins();
    for (int32_t p = 0; p < table->count_; ++p) pins[p].~SEPin();
    table->~PinTable();
    ::operator delete(table);
}
