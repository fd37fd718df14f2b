// The real module library, loaded once per test program the way the host
// loads it: by file path, both exports found by name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/module_library.h"
#include "host/stand_in_host.h"

namespace hosttest {

inline const standin::ModuleExports& moduleExports() {
    static std::unique_ptr<standin::ModuleLibrary> library = [] {
        std::string error;
        auto loaded = standin::ModuleLibrary::load(QUORVANE_MODULE_PATH, &error);
        if (!loaded) ADD_FAILURE() << error;
        return loaded;
    }();
    static const standin::ModuleExports none{};
    return library ? library->exports() : none;
}

// Reads the 32-bit word at a byte offset of a host-visible record.
inline uint32_t wordAt(const void* record, size_t offset) {
    uint32_t word;
    std::memcpy(&word, static_cast<const unsigned char*>(record) + offset, sizeof word);
    return word;
}

// A member operation for call-request events: notes the object it ran on.
// On the 32-bit target the module calls it with the object in ECX.
struct CallProbe {
    static void* calledOn;
    static int calls;
    static void QV_THISCALL note(void* self) {
        calledOn = self;
        ++calls;
    }
};
inline void* CallProbe::calledOn = nullptr;
inline int CallProbe::calls = 0;

// A band that boosts by 12 dB around 1 kHz, so processed audio differs
// plainly from its input.
inline void boostBandOne(standin::Instance& instance) {
    instance.fill(instance.pinIndex("Freq1"), 100.0f);
    instance.fill(instance.pinIndex("Gain1"), 1.2f);
    instance.fill(instance.pinIndex("Q1"), 0.1f);
}

inline void fillWithTone(standin::Instance& instance, int32_t pin, float amplitude,
                         int32_t period) {
    std::vector<float>& samples = instance.buffer(pin);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            amplitude *
            static_cast<float>(static_cast<int32_t>(i % static_cast<size_t>(period)) - period / 2) /
            static_cast<float>(period);
}

}  // namespace hosttest
