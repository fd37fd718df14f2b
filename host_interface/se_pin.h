// One entry of a module's pin table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host_interface/pin_descriptor.h"

class SEModule_base;

enum PinStatus : int32_t { PIN_STATIC = 0, PIN_ONE_CHANGE = 1, PIN_STREAMING = 2 };

class SEPin {
public:
    SEPin() = default;
    virtual ~SEPin() = default;

    // Takes its place in the table from a description. Without a module
    // variable the pin keeps its value in its own storage (audio pins: the
    // buffer the host hands out for it).
    void initialise(SEModule_base* pinOwner, int32_t position, const PinDescriptor& descriptor);

    // The float sample of an audio pin that belongs to the host's current
    // sample clock.
    float currentValue() const;

    void* variable = nullptr;
    SEModule_base* owner = nullptr;
    int32_t index = 0;
    int32_t status = PIN_STATIC;
    int32_t datatype = 0;
    // Four bytes on the 32-bit target; an audio pin keeps its buffer's
    // address here, so a 64-bit build widens it to pointer size.
    union Storage {
        int16_t shortValue;
        uint8_t byteValue;
        float floatValue;
        int32_t intValue;
        float* audioBuffer;
    } storage{};
};

// The pin table: one allocation holding the count followed by the pins.
class PinTable {
public:
    // Null when the allocation fails (an absurd count saturates the size
    // instead of wrapping, so it fails here too).
    static PinTable* create(int32_t count);
    static void destroy(PinTable* table);

    int32_t count() const { return count_; }
    SEPin* pins() { return reinterpret_cast<SEPin*>(reinterpret_cast<unsigned char*>(this) + kPinsOffset); }
    SEPin& operator[](int32_t position) { return pins()[position]; }

private:
    static constexpr size_t kPinsOffset = (sizeof(int32_t) + alignof(SEPin) - 1) / alignof(SEPin) * alignof(SEPin);
    explicit PinTable(int32_t count) : count_(count) {}
    int32_t count_;
};
