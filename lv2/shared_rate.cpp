#include "lv2/shared_rate.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace qvlv2 {

namespace {

// The live instance count in the high half, the bits of their rate in the
// low half: one word, so claiming and releasing need no lock and cannot
// throw.
std::atomic<uint64_t> sharedRate{0};

uint32_t bitsOf(float rate) {
    uint32_t bits;
    std::memcpy(&bits, &rate, sizeof bits);
    return bits;
}

}  // namespace

bool claimSampleRate(float rate) {
    uint64_t state = sharedRate.load();
    for (;;) {
        const uint64_t count = state >> 32;
        if (count > 0 && static_cast<uint32_t>(state) != bitsOf(rate)) return false;
        const uint64_t next = ((count + 1) << 32) | bitsOf(rate);
        if (sharedRate.compare_exchange_weak(state, next)) return true;
    }
}

void releaseSampleRate() {
    uint64_t state = sharedRate.load();
    for (;;) {
        const uint64_t count = state >> 32;
        if (count == 0) return;
        const uint64_t next = ((count - 1) << 32) | (state & 0xFFFFFFFFu);
        if (sharedRate.compare_exchange_weak(state, next)) return;
    }
}

}  // namespace qvlv2
