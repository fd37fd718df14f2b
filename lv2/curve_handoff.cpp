#include "lv2/curve_handoff.h"

#include <cstring>

namespace qvlv2 {

namespace {

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float floatOf(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

void CurveHandoff::publish(const CurveSettings& s) {
    const uint32_t sequence = sequence_.load(std::memory_order_relaxed);
    sequence_.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    int w = 0;
    for (const CurveSettings::Band& band : s.bands) {
        words_[w++].store(static_cast<uint32_t>(band.type), std::memory_order_relaxed);
        words_[w++].store(bitsOf(band.freqHz), std::memory_order_relaxed);
        words_[w++].store(bitsOf(band.width), std::memory_order_relaxed);
        words_[w++].store(bitsOf(band.gainDb), std::memory_order_relaxed);
    }
    words_[w++].store(bitsOf(s.outputGainDb), std::memory_order_relaxed);
    words_[w++].store(s.enabled ? 1u : 0u, std::memory_order_relaxed);
    sequence_.store(sequence + 2, std::memory_order_release);
}

bool CurveHandoff::read(CurveSettings* s) const {
    const uint32_t before = sequence_.load(std::memory_order_acquire);
    if (before & 1u) return false;
    CurveSettings copy;
    int w = 0;
    for (CurveSettings::Band& band : copy.bands) {
        band.type = static_cast<int32_t>(words_[w++].load(std::memory_order_relaxed));
        band.freqHz = floatOf(words_[w++].load(std::memory_order_relaxed));
        band.width = floatOf(words_[w++].load(std::memory_order_relaxed));
        band.gainDb = floatOf(words_[w++].load(std::memory_order_relaxed));
    }
    copy.outputGainDb = floatOf(words_[w++].load(std::memory_order_relaxed));
    copy.enabled = words_[w++].load(std::memory_order_relaxed) != 0;
    std::atomic_thread_fence(std::memory_order_acquire);
    if (sequence_.load(std::memory_order_relaxed) != before) return false;
    *s = copy;
    return true;
}

}  // namespace qvlv2
