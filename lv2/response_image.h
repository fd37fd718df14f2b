// The inline display's picture: the equaliser's magnitude response, bands
// and output gain together, over 20 Hz (left edge) to 20 kHz (right edge) on
// a logarithmic axis, and in height over +-6, +-12 or +-24 dB, the smallest
// of the three that holds the curve (below). Grid lines at 100 Hz, 1 kHz,
// 10 kHz and every 6 dB, 0 dB brighter, so the lines' spacing tells the
// scale: only the 0 dB line at +-6, two more at +-12, six more at +-24
// (every 12 dB where 6 dB would be less than 5 pixels). The
// curve is amber while the equaliser is enabled and grey while it is
// bypassed; it stops at half the sample rate and rides the edge where it
// leaves the range.
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
    // The scales, the smallest first. The curve's highest point and the
    // deepest cut of its gain-bearing bands (peaking, shelves) and output
    // gain decide, with kHeadroomDb to spare; the falling skirts of the
    // passes and a notch's dip are left to run off the bottom edge, or any
    // low cut would squash every other move to a sliver.
    static constexpr double kScalesDb[3] = {6.0, 12.0, 24.0};
    static constexpr double kHeadroomDb = 0.5;
    static constexpr uint32_t kMaxWidth = 8192;

    // Height: as much as the host offers, `maxHeight`, but no more than the
    // width. Null for a size it cannot draw (no pixels, wider than
    // kMaxWidth) or when memory runs out. Allocates; every pixel store it
    // hands out stays valid until it is destroyed.
    InlineDisplayImage* render(const CurveSettings& settings, double sampleRate, uint32_t width,
                               uint32_t maxHeight);

    // The scale the last picture was drawn at, in dB above and below 0.
    double scaleDb() const { return scaleDb_; }

private:
    bool reserve(size_t pixels);

    std::vector<std::unique_ptr<uint32_t[]>> stores_;  // the newest last; older ones kept for the host
    size_t capacity_ = 0;                              // pixels in the newest store
    std::vector<double> rows_;                         // the curve's level at each column, then its row
    double scaleDb_ = kScalesDb[0];
    InlineDisplayImage image_ = {};
};

}  // namespace qvlv2
