// Where the design formulas break (a band at or above half the sample rate, a
// width of zero or below, a band so wide that sinh overflows) the band still
// gets finite coefficients and stays stable; everywhere else the formulas'
// result stands bit for bit. Also: NaN inputs, response types outside 0..8,
// and designing without touching the heap.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <new>
#include <vector>

#include "band_filter_test_support.h"
#include "equaliser/design_math.h"
#include "heap_counter.h"
#include "equaliser/band_filter.h"

using namespace bandtest;


namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kTopW0 = kPi * (1.0 - 1.0 / 4096.0);

struct Inputs {
    float freq, width, gain;
};

// The formula table applied as written, after the input clamps and without
// any guard: what the band gets wherever the formulas hold.
struct FormulaDesign {
    Coeffs c;
    double w0;
};

float clampFloat(float value, float low, float high) {
    if (value < low) return low;
    if (value > high) return high;
    return value;
}

Coeffs formulaCoefficients(int32_t type, double w0, float width, float gain) {
    if (type < 0 || type > 8) return {1.0, 0.0, 0.0, 0.0, 0.0};
    const double s = eq::dmath::sin(w0);
    const double c = eq::dmath::cos(w0);
    const double alpha = s * eq::dmath::sinh(0.6931471805599453 / 2.0 * width * w0 / s);
    const double A = eq::dmath::exp10(static_cast<double>(gain) * 0.025);
    const double S = eq::dmath::sqrt(A) / width;
    double b0, b1, b2, a0, a1, a2;
    switch (type) {
        case 0:
            b0 = (1 - c) / 2, b1 = 1 - c, b2 = (1 - c) / 2;
            a0 = 1 + alpha, a1 = -2 * c, a2 = 1 - alpha;
            break;
        case 1:
            b0 = (1 + c) / 2, b1 = -(1 + c), b2 = (1 + c) / 2;
            a0 = 1 + alpha, a1 = -2 * c, a2 = 1 - alpha;
            break;
        case 2:
            b0 = s / 2, b1 = 0, b2 = -s / 2;
            a0 = 1 + alpha, a1 = -2 * c, a2 = 1 - alpha;
            break;
        case 3:
            b0 = alpha, b1 = 0, b2 = -alpha;
            a0 = 1 + alpha, a1 = -2 * c, a2 = 1 - alpha;
            break;
        case 4:
            b0 = 1, b1 = -2 * c, b2 = 1;
            a0 = 1 + alpha, a1 = -2 * c, a2 = 1 - alpha;
            break;
        case 5:
            b0 = 1 - alpha, b1 = -2 * c, b2 = 1 + alpha;
            a0 = 1 + alpha, a1 = -2 * c, a2 = 1 - alpha;
            break;
        case 6:
            b0 = 1 + alpha * A, b1 = -2 * c, b2 = 1 - alpha * A;
            a0 = 1 + alpha / A, a1 = -2 * c, a2 = 1 - alpha / A;
            break;
        case 7:
            b0 = A * ((A + 1) - (A - 1) * c + s * S);
            b1 = 2 * A * ((A - 1) - (A + 1) * c);
            b2 = A * ((A + 1) - (A - 1) * c - s * S);
            a0 = (A + 1) + (A - 1) * c + s * S;
            a1 = -2 * ((A - 1) + (A + 1) * c);
            a2 = (A + 1) + (A - 1) * c - s * S;
            break;
        default:
            b0 = A * ((A + 1) + (A - 1) * c + s * S);
            b1 = -2 * A * ((A - 1) + (A + 1) * c);
            b2 = A * ((A + 1) + (A - 1) * c - s * S);
            a0 = (A + 1) - (A - 1) * c + s * S;
            a1 = 2 * ((A - 1) - (A + 1) * c);
            a2 = (A + 1) - (A - 1) * c - s * S;
            break;
    }
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

FormulaDesign formulaDesign(int32_t type, float freq, float width, float gain) {
    const float f = clampFloat(freq, 10.0f, 20000.0f);
    if (type >= 6 && type <= 8) {
        width = clampFloat(width, 0.001f, 20.0f);
        gain = clampFloat(gain, -20.0f, 20.0f);
    }
    const double w0 = static_cast<double>(f) * testRadiansPerHertz();
    return {formulaCoefficients(type, w0, width, gain), w0};
}

}  // namespace

// ---------------------------------------------------------------------------

TEST(BandDesignGuard, EveryFiniteInputGivesAStableBandAndUnbrokenFormulasStand) {
    const double rates[] = {8000.0, 22050.0, 32000.0, 40000.0, 44100.0,
                            48000.0, 96000.0, 192000.0, 384000.0};
    const float widths[] = {-1.0f, 0.0f, 1.0e-30f, 0.0005f, 0.001f, 1.0f, 20.0f, 30.0f, 1.0e6f, 1.0e30f};
    const float gains[] = {-1.0e30f, -30.0f, -19.5f, 0.0f, 1.5f, 6.0f, 9.1f, 30.0f, 1.0e30f};
    const std::vector<float> allGains(std::begin(gains), std::end(gains));
    const std::vector<float> oneGain = {6.0f};  // types without gain ignore it
    const int32_t types[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -1, INT32_MIN};
    int failures = 0;
    long compared = 0;
    long cases = 0;
    auto fail = [&failures](const ::testing::Message& what) {
        if (++failures <= 12) ADD_FAILURE() << what;
    };
    for (double sampleRate : rates) {
        ScopedSampleRate rate(sampleRate);
        const float half = static_cast<float>(sampleRate / 2.0);
        const float freqs[] = {0.0f, -1000.0f, 10.0f, 1000.0f, half - 1.0f, half, half + 1.0f,
                               20000.0f, 1.0e30f};
        for (int32_t type : types) {
            // One band per type that carries its history from case to case:
            // whatever it skips must not matter.
            BandFilter warm = initialFilter();
            const bool gainBearing = type >= FILTER_PEAKING && type <= FILTER_HIGH_SHELF;
            for (float freq : freqs) {
                for (float width : widths) {
                    for (float gain : gainBearing ? allGains : oneGain) {
                        ++cases;
                        const ::testing::Message where =
                            ::testing::Message() << "rate " << sampleRate << ", type " << type
                                                 << ", " << freq << " Hz, width " << width << ", "
                                                 << gain << " dB";
                        const Coeffs got = freshDesign(type, freq, width, gain);
                        if (!finiteAndStable(got)) fail(::testing::Message(where) << ": " << got);
                        designBand(&warm, type, freq, width, gain);
                        if (!sameBits(coeffsOf(warm), got))
                            fail(::testing::Message(where) << ": redesign " << coeffsOf(warm)
                                                           << " vs fresh " << got);
                        const FormulaDesign formula = formulaDesign(type, freq, width, gain);
                        const bool formulaHolds =
                            finiteAndStable(formula.c) && formula.w0 < kTopW0;
                        if (formulaHolds) {
                            ++compared;
                            if (!sameBits(got, formula.c))
                                fail(::testing::Message(where) << ": " << got << " vs formulas "
                                                               << formula.c);
                        }
                        // Ordinary settings at 44.1 kHz and above never need a guard.
                        const bool ordinary = sampleRate >= 44100.0 &&
                                              (freq == 10.0f || freq == 1000.0f) &&
                                              width >= 0.0005f && width <= 30.0f;
                        if (ordinary && !formulaHolds)
                            fail(::testing::Message(where) << ": the formulas broke: " << formula.c);
                    }
                }
            }
        }
    }
    EXPECT_EQ(failures, 0) << "of " << cases << " cases";
    // Most of the sweep is ordinary ground where the comparison applies.
    EXPECT_GT(compared, cases / 2) << compared << " compared of " << cases;
}

// At 40 kHz and below the 20 kHz bound reaches half the sample rate, where the
// formulas give an infinite design or fold back to a mirrored frequency. The
// band sits just below half the sample rate instead.
TEST(BandDesignGuard, BandAtOrAboveHalfTheSampleRateSitsJustBelowIt) {
    for (double sampleRate : {8000.0, 22050.0, 32000.0, 40000.0}) {
        ScopedSampleRate rate(sampleRate);
        for (float freq : {static_cast<float>(sampleRate / 2.0), 20000.0f, 1.0e30f}) {
            SCOPED_TRACE(::testing::Message() << "rate " << sampleRate << ", " << freq << " Hz");
            for (float width : {0.01f, 1.0f, 20.0f}) {
                SCOPED_TRACE(::testing::Message() << "width " << width);
                const Coeffs peak = freshDesign(FILTER_PEAKING, freq, width, 12.0f);
                EXPECT_NEAR(magnitudeDb(peak, kTopW0), 12.0, 1.0e-6);
                const Coeffs notch = freshDesign(FILTER_NOTCH, freq, width, 0.0f);
                EXPECT_LT(magnitude(notch, kTopW0), 1.0e-6);
                const Coeffs bandPass = freshDesign(FILTER_BAND_PASS_PEAK, freq, width, 0.0f);
                EXPECT_NEAR(magnitude(bandPass, kTopW0), 1.0, 1.0e-6);
                for (int32_t shelf : {FILTER_LOW_SHELF, FILTER_HIGH_SHELF}) {
                    // Shelves have no bandwidth term: the formulas hold at the top.
                    const Coeffs got = freshDesign(shelf, freq, width, 12.0f);
                    const Coeffs top = formulaCoefficients(shelf, kTopW0, width, 12.0f);
                    EXPECT_TRUE(sameBits(got, top)) << "type " << shelf << ": " << got << " vs " << top;
                    EXPECT_TRUE(finiteAndStable(got)) << got;
                }
            }
        }
    }
}

// A width of zero or below puts the poles of types 0 to 5 on or outside the
// unit circle, and a huge one overflows sinh. The narrowest or widest stable
// band of the same response stands in, with the response's landmarks intact.
TEST(BandDesignGuard, DegenerateWidthsKeepTheResponseAndStayStable) {
    ScopedSampleRate rate(48000.0);
    const double w0 = 1000.0 * testRadiansPerHertz();
    const std::vector<std::vector<float>> groups = {{0.0f, -0.0f, -1.0f, 1.0e-30f, -kInf},
                                                    {1.0e6f, 1.0e30f, kInf}};
    for (int32_t type = FILTER_LOW_PASS; type <= FILTER_ALL_PASS; ++type) {
        for (const std::vector<float>& widths : groups) {
            const Coeffs first = freshDesign(type, 1000.0f, widths[0], 0.0f);
            for (float width : widths) {
                SCOPED_TRACE(::testing::Message() << "type " << type << " width " << width);
                const Coeffs c = freshDesign(type, 1000.0f, width, 0.0f);
                EXPECT_TRUE(finiteAndStable(c)) << c;
                EXPECT_TRUE(sameBits(c, first)) << c << " vs " << first;
                if (type == FILTER_NOTCH) {
                    EXPECT_LT(magnitude(c, w0), 1.0e-6);
                }
                if (type == FILTER_BAND_PASS_PEAK) {
                    EXPECT_NEAR(magnitude(c, w0), 1.0, 1.0e-6);
                }
                if (type == FILTER_ALL_PASS) {
                    EXPECT_NEAR(magnitude(c, 0.3), 1.0, 1.0e-9);
                    EXPECT_NEAR(magnitude(c, 2.0), 1.0, 1.0e-9);
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------

TEST(BandOutOfRangeType, PassesTheInputThroughAfterAnyHistory) {
    ScopedSampleRate rate(48000.0);
    const int32_t types[] = {9, 10, -1, -6, 1000, INT32_MIN, INT32_MAX};
    for (int32_t type : types) {
        SCOPED_TRACE(::testing::Message() << "type " << type);
        EXPECT_TRUE(isPassThrough(freshDesign(type, 1000.0f, 1.0f, 6.0f)));
        EXPECT_TRUE(isPassThrough(freshDesign(type, kNaN, kNaN, kNaN)));
        BandFilter f = initialFilter();
        designBand(&f, FILTER_PEAKING, 1000.0f, 1.0f, 6.0f);
        fillDelayValues(f, 2.0);
        designBand(&f, type, 1000.0f, 1.0f, 6.0f);
        EXPECT_TRUE(isPassThrough(coeffsOf(f))) << coeffsOf(f);
        EXPECT_TRUE(delayValuesAllZero(f));
        EXPECT_EQ(f.type, type);
        EXPECT_EQ(f.lastFreq, -50.0f);
        EXPECT_EQ(f.lastWidth, -5.0f);
        EXPECT_EQ(f.lastGain, -100.0f);
        // And a real type afterwards designs as on a new band.
        designBand(&f, FILTER_LOW_SHELF, 300.0f, 0.7f, -3.0f);
        EXPECT_TRUE(sameBits(coeffsOf(f), freshDesign(FILTER_LOW_SHELF, 300.0f, 0.7f, -3.0f)));
    }
}

// ---------------------------------------------------------------------------
// A NaN input is not guarded: it makes the coefficients NaN, and since a NaN
// never equals the cache, the next valid value is taken up and the design is
// whole again.

TEST(BandNaNInput, GivesNaNCoefficientsUntilAValidValueRestoresTheDesign) {
    ScopedSampleRate rate(48000.0);
    const Inputs valid{1000.0f, 1.0f, 6.0f};
    for (int32_t type = FILTER_LOW_PASS; type <= FILTER_HIGH_SHELF; ++type) {
        const bool cached = type >= FILTER_PEAKING;
        // Bit 0 frequency, bit 1 width, bit 2 gain; types 0 to 5 ignore the gain.
        for (int which : {1, 2, 4}) {
            if (!cached && which == 4) continue;
            SCOPED_TRACE(::testing::Message() << "type " << type << ", NaN in input " << which);
            const Inputs bad{which == 1 ? kNaN : valid.freq, which == 2 ? kNaN : valid.width,
                             which == 4 ? kNaN : valid.gain};
            BandFilter f = initialFilter();
            designBand(&f, type, valid.freq, valid.width, valid.gain);
            for (int repeat = 0; repeat < 2; ++repeat) {
                designBand(&f, type, bad.freq, bad.width, bad.gain);
                EXPECT_TRUE(allNaN(coeffsOf(f))) << coeffsOf(f);
                if (cached) {
                    EXPECT_EQ(std::isnan(f.lastFreq), which == 1);
                    EXPECT_EQ(std::isnan(f.lastWidth), which == 2);
                    EXPECT_EQ(std::isnan(f.lastGain), which == 4);
                }
            }
            designBand(&f, type, valid.freq, valid.width, valid.gain);
            const Coeffs fresh = freshDesign(type, valid.freq, valid.width, valid.gain);
            EXPECT_TRUE(sameBits(coeffsOf(f), fresh)) << coeffsOf(f) << " vs " << fresh;
            // A NaN on a band that has never been designed, too.
            BandFilter g = initialFilter();
            designBand(&g, type, bad.freq, bad.width, bad.gain);
            EXPECT_TRUE(allNaN(coeffsOf(g))) << coeffsOf(g);
            designBand(&g, type, valid.freq, valid.width, valid.gain);
            EXPECT_TRUE(sameBits(coeffsOf(g), fresh)) << coeffsOf(g) << " vs " << fresh;
        }
    }
}

// ---------------------------------------------------------------------------

TEST(BandDesignHeap, DesigningTakesNothingFromTheHeap) {
if (!heapcount::counting()) GTEST_SKIP() << "the heap counter is left out under AddressSanitizer";
    // The counter sees the heap at all.
    const unsigned long start = heapcount::allocations();
    ::operator delete(::operator new(16));
    ASSERT_EQ(heapcount::allocations(), start + 1);

    const float values[] = {kNaN, -1.0e30f, -1.0f, 0.0f, 0.001f, 1.0f, 6.0f, 1000.0f, 25000.0f};
    BandFilter f = initialFilter();
    const unsigned long before = heapcount::allocations();
    for (double sampleRate : {8000.0, 48000.0}) {
        ScopedSampleRate rate(sampleRate);
        for (int32_t type = -1; type <= 9; ++type)
            for (float freq : values)
                for (float width : values)
                    for (float gain : values) designBand(&f, type, freq, width, gain);
    }
    EXPECT_EQ(heapcount::allocations() - before, 0ul);
}
