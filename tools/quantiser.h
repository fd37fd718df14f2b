// Float samples to integers of a given depth, the way a mastering tool does
// it: triangular (TPDF) dither of one least significant bit before rounding,
// so the rounding error is noise rather than distortion that follows the
// signal. The noise comes from a fixed-seed generator: the same input gives
// the same bytes on every run.
#pragma once

#include <cstdint>

namespace qvtools {

class Quantiser {
public:
    Quantiser(int bits, bool dither);

    // The sample as a `bits`-bit integer placed in the top bits of an int32,
    // which is how libsndfile's integer interface takes every depth. Beyond
    // full scale (after dither) it clips, and counts the sample.
    int32_t operator()(float sample);
    int64_t clipped() const { return clipped_; }

private:
    double nextUniform();

    double scale_;   // full scale in steps of the target depth
    int shift_;      // from the target depth up to 32 bits
    bool dither_;
    uint64_t state_ = 0x9E3779B97F4A7C15ull;
    int64_t clipped_ = 0;
};

}  // namespace qvtools
