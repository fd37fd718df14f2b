// The inline display's picture: the equaliser's magnitude response, bands
// and output gain together, over 20 Hz (left edge) to 20 kHz (right edge) on
// a logarithmic axis and +20 dB (top edge) to -20 dB (bottom edge), with a
// grid at 100 Hz, 1 kHz, 10 kHz and at 0 and +-10 dB. The curve is amber
// while the equaliser is enabled and grey while it is bypassed; it stops at
// half the sample rate and rides the edge where it leaves the range.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lv2/curve_handoff.h"
#include "lv2/inline_display.h"

namespace qvlv2 {

class ResponseImage {
public:
    static constexpr double kLowestHz = 20.0, kHighestHz = 20000.0;
    static constexpr double kTopDb = 20.0, kBottomDb = -20.0;
    static constexpr uint32_t kMaxWidth = 8192;

    // Height: 9/16 of the width, at most `maxHeight`. Null for a size it
    // cannot draw (no pixels, wider than kMaxWidth) or when memory runs out.
    // Allocates; every pixel store it hands out stays valid until it is
    // destroyed.
    InlineDisplayImage* render(const CurveSettings& settings, double sampleRate, uint32_t width,
                               uint32_t maxHeight);

private:
    bool reserve(size_t pixels);

    std::vector<std::unique_ptr<uint32_t[]>> stores_;  // the newest last; older ones kept for the host
    size_t capacity_ = 0;                              // pixels in the newest store
    std::vector<double> rows_;                         // the curve's row at each column
    InlineDisplayImage image_ = {};
};

}  // namespace qvlv2
