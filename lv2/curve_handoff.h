// What the response picture shows, handed from run() to the host's display
// thread without a lock: run() publishes the design inputs it gives the
// module, the display reads a consistent copy of them. A sequence count
// tells the reader whether a publication overlapped its reading (a seqlock);
// the writer never waits.
#pragma once

#include <atomic>
#include <cstdint>

#include "lv2/ports.h"

namespace qvlv2 {

struct CurveSettings {
    // Per band what the module designs with: the response number as its
    // type pin truncates (a band that is off passes through, a number
    // without a response), and ten times each pin value.
    struct Band {
        int32_t type = 0;
        float freqHz = 0.0f;
        float width = 0.0f;
        float gainDb = 0.0f;
    } bands[kBands];
    float outputGainDb = 0.0f;
    bool enabled = true;
};

class CurveHandoff {
public:
    // The audio thread's side: allocates, locks and waits for nothing.
    void publish(const CurveSettings& settings);
    // The display's side: false when a publication overlapped the reading,
    // which is then to be tried again.
    bool read(CurveSettings* settings) const;

private:
    static constexpr int kWords = 4 * kBands + 2;
    std::atomic<uint32_t> sequence_{0};  // odd while a publication is under way
    std::atomic<uint32_t> words_[kWords] = {};
    static_assert(std::atomic<uint32_t>::is_always_lock_free, "the hand-off must not lock");
};

}  // namespace qvlv2
