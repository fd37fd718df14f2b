// How designBand turns a type and three inputs into coefficients: the
// reference designs, redesign by dependency, what a type change resets,
// clamping, and the shape each response type's coefficients must have.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "band_filter_test_support.h"
#include "equaliser/band_filter.h"

using namespace bandtest;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Inputs {
    float freq, width, gain;
};

std::ostream& operator<<(std::ostream& os, const Inputs& in) {
    return os << "(" << in.freq << " Hz, width " << in.width << ", " << in.gain << " dB)";
}

}  // namespace

// ---------------------------------------------------------------------------

TEST(BandDesignReference, FiveDesignsAt48kHzToNineDecimals) {
    ScopedSampleRate rate(48000.0);
    struct Case {
        int32_t type;
        Inputs in;
        Coeffs expected;
    };
    const Case cases[] = {
        {FILTER_PEAKING, {1000.0f, 1.0f, 6.0f},
         {1.031577524, -1.919976914, 0.904966795, -1.919976914, 0.936544319}},
        {FILTER_LOW_PASS, {1000.0f, 1.0f, 0.0f},
         {0.004088339, 0.008176679, 0.004088339, -1.895171160, 0.911524517}},
        {FILTER_BAND_PASS_PEAK, {1000.0f, 2.0f, 0.0f},
         {0.089434348, 0.0, -0.089434348, -1.805551273, 0.821131303}},
        {FILTER_LOW_SHELF, {200.0f, 0.7f, -6.0f},
         {0.993533294, -1.955813612, 0.962754928, -1.955577431, 0.956524402}},
        {FILTER_HIGH_SHELF, {5000.0f, 0.7f, 6.0f},
         {1.708998046, -2.107394221, 0.772761046, -0.962830091, 0.337194963}},
    };
    // The expected values are rounded to nine decimals.
    const double tolerance = 5.0e-10 + 1.0e-15;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << c.type << " " << c.in);
        const Coeffs got = freshDesign(c.type, c.in.freq, c.in.width, c.in.gain);
        EXPECT_NEAR(got.b0, c.expected.b0, tolerance);
        EXPECT_NEAR(got.b1, c.expected.b1, tolerance);
        EXPECT_NEAR(got.b2, c.expected.b2, tolerance);
        EXPECT_NEAR(got.a1, c.expected.a1, tolerance);
        EXPECT_NEAR(got.a2, c.expected.a2, tolerance);
    }
}

// ---------------------------------------------------------------------------
// The cached family recomputes only what a changed input touches; whatever it
// skips must not show in the result.

TEST(BandRedesign, AnyCombinationOfChangedInputsEqualsAFreshDesign) {
    ScopedSampleRate rate(48000.0);
    const Inputs starts[] = {
        {1000.0f, 1.0f, 6.0f},
        {200.0f, 0.7f, -6.0f},
        {5000.0f, 0.7f, 12.0f},
        {5.0f, 30.0f, 30.0f},  // every input clamped, so cached as 10, 20, 20
    };
    const Inputs changes[] = {
        {3000.0f, 2.5f, -12.0f},
        {25000.0f, 0.0005f, -30.0f},  // changes to values that clamp
        {10.0f, 20.0f, 20.0f},        // the clamped values of the last start
        {16000.0f, 0.1f, 0.0f},
    };
    const char* const maskNames[] = {"nothing",        "frequency",       "width",
                                     "frequency+width", "gain",            "frequency+gain",
                                     "width+gain",      "frequency+width+gain"};
    for (int32_t type : {FILTER_PEAKING, FILTER_LOW_SHELF, FILTER_HIGH_SHELF}) {
        for (const Inputs& start : starts) {
            for (const Inputs& change : changes) {
                // Bit 0 frequency, bit 1 width, bit 2 gain. "frequency+width"
                // on a shelf is the case where the gain stays while the shelf
                // term must still pick up the new width.
                for (int mask = 0; mask < 8; ++mask) {
                    const Inputs next{(mask & 1) ? change.freq : start.freq,
                                      (mask & 2) ? change.width : start.width,
                                      (mask & 4) ? change.gain : start.gain};
                    BandFilter f = initialFilter();
                    designBand(&f, type, start.freq, start.width, start.gain);
                    designBand(&f, type, next.freq, next.width, next.gain);
                    const Coeffs fresh = freshDesign(type, next.freq, next.width, next.gain);
                    EXPECT_TRUE(sameBits(coeffsOf(f), fresh))
                        << "type " << type << " from " << start << " changing "
                        << maskNames[mask] << " to " << next << ": got " << coeffsOf(f)
                        << ", fresh " << fresh;
                }
            }
        }
    }
}

TEST(BandRedesign, LongWalkThroughInputsMatchesFreshDesignAtEveryStep) {
    ScopedSampleRate rate(44100.0);
    const float freqs[] = {10.0f, 63.0f, 1000.0f, 1000.5f, 8000.0f, 20000.0f, 30000.0f};
    const float widths[] = {0.001f, 0.3f, 0.7f, 1.0f, 4.0f, 20.0f, 25.0f};
    const float gains[] = {-20.0f, -6.5f, 0.0f, 0.1f, 6.0f, 20.0f, -40.0f};
    uint32_t seed = 12345u;
    auto pick = [&seed](int count) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 16) % static_cast<uint32_t>(count));
    };
    for (int32_t type : {FILTER_PEAKING, FILTER_LOW_SHELF, FILTER_HIGH_SHELF}) {
        BandFilter f = initialFilter();
        Inputs in{1000.0f, 1.0f, 0.0f};
        for (int step = 0; step < 300; ++step) {
            // Change one, two or three inputs at a time, in any order of kinds.
            const int what = 1 + pick(7);
            if (what & 1) in.freq = freqs[pick(7)];
            if (what & 2) in.width = widths[pick(7)];
            if (what & 4) in.gain = gains[pick(7)];
            designBand(&f, type, in.freq, in.width, in.gain);
            const Coeffs fresh = freshDesign(type, in.freq, in.width, in.gain);
            ASSERT_TRUE(sameBits(coeffsOf(f), fresh))
                << "type " << type << " step " << step << " " << in << ": got " << coeffsOf(f)
                << ", fresh " << fresh;
        }
    }
}

// The cached family keeps w0 and its sine and cosine until the frequency is
// taken up again, so a width or gain move costs no trigonometry. A band whose
// rate were changed under it makes that visible: the new rate would reach
// such a band only with a new frequency, while types 0 to 5 design at the
// band's rate every time. (An instance's bands keep the rate of its open; a
// new rate comes with the next open, as new bands.)
TEST(BandRedesign, ANewSampleRateReachesACachedBandOnlyWithItsFrequency) {
    ScopedSampleRate rate(48000.0);
    // The band now designs at 96 kHz, as do the fresh designs it is compared with.
    const auto moveTo96k = [&rate](BandFilter& f) {
        rate.set(96000.0);
        f.radiansPerHertz = testRadiansPerHertz();
    };
    for (int32_t type : {FILTER_PEAKING, FILTER_LOW_SHELF, FILTER_HIGH_SHELF}) {
        SCOPED_TRACE(::testing::Message() << "type " << type);
        const Inputs changes[] = {{1000.0f, 2.0f, 6.0f}, {1000.0f, 1.0f, -3.0f}, {1000.0f, 2.0f, -3.0f}};
        for (const Inputs& next : changes) {
            rate.set(48000.0);
            BandFilter f = initialFilter();
            designBand(&f, type, 1000.0f, 1.0f, 6.0f);
            const Coeffs atOldRate = freshDesign(type, next.freq, next.width, next.gain);
            moveTo96k(f);
            designBand(&f, type, next.freq, next.width, next.gain);
            EXPECT_TRUE(sameBits(coeffsOf(f), atOldRate)) << "to " << next;
        }
        rate.set(48000.0);
        BandFilter f = initialFilter();
        designBand(&f, type, 1000.0f, 1.0f, 6.0f);
        moveTo96k(f);
        designBand(&f, type, 2000.0f, 1.0f, 6.0f);
        EXPECT_TRUE(sameBits(coeffsOf(f), freshDesign(type, 2000.0f, 1.0f, 6.0f)));
    }
    for (int32_t type = FILTER_LOW_PASS; type <= FILTER_ALL_PASS; ++type) {
        rate.set(48000.0);
        BandFilter f = initialFilter();
        designBand(&f, type, 1000.0f, 1.0f, 0.0f);
        moveTo96k(f);
        designBand(&f, type, 1000.0f, 1.0f, 0.0f);
        EXPECT_TRUE(sameBits(coeffsOf(f), freshDesign(type, 1000.0f, 1.0f, 0.0f))) << "type " << type;
    }
}

TEST(BandRedesign, SameTypeAndInputsAgainLeaveCoefficientsAndDelayValues) {
    ScopedSampleRate rate(48000.0);
    const Inputs inputs[] = {{1000.0f, 1.0f, 6.0f}, {25000.0f, 30.0f, 30.0f}, {5.0f, 0.0005f, -30.0f}};
    for (int32_t type = -1; type <= 9; ++type) {
        for (const Inputs& in : inputs) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " " << in);
            BandFilter f = initialFilter();
            designBand(&f, type, in.freq, in.width, in.gain);
            const Coeffs first = coeffsOf(f);
            fillDelayValues(f, 0.25);
            designBand(&f, type, in.freq, in.width, in.gain);
            EXPECT_TRUE(sameBits(coeffsOf(f), first)) << coeffsOf(f) << " vs " << first;
            EXPECT_TRUE(delayValuesAre(f, 0.25));
        }
    }
}

TEST(BandRedesign, SameTypeWithNewInputsLeavesDelayValues) {
    ScopedSampleRate rate(48000.0);
    for (int32_t type = FILTER_LOW_PASS; type <= FILTER_HIGH_SHELF; ++type) {
        SCOPED_TRACE(::testing::Message() << "type " << type);
        BandFilter f = initialFilter();
        designBand(&f, type, 1000.0f, 1.0f, 6.0f);
        fillDelayValues(f, -3.0);
        designBand(&f, type, 2000.0f, 0.5f, -6.0f);
        EXPECT_TRUE(delayValuesAre(f, -3.0));
        EXPECT_EQ(f.type, type);
    }
}

// ---------------------------------------------------------------------------

TEST(BandTypeChange, PeakingToLowShelfRestartsFromSilenceAndTakesUpTheNewInputs) {
    ScopedSampleRate rate(48000.0);
    BandFilter f = initialFilter();
    designBand(&f, FILTER_PEAKING, 1000.0f, 1.0f, 6.0f);
    fillDelayValues(f, 1.5);
    designBand(&f, FILTER_LOW_SHELF, 200.0f, 0.7f, -6.0f);
    EXPECT_TRUE(delayValuesAllZero(f));
    EXPECT_EQ(f.type, FILTER_LOW_SHELF);
    EXPECT_EQ(f.lastFreq, 200.0f);
    EXPECT_EQ(f.lastWidth, 0.7f);
    EXPECT_EQ(f.lastGain, -6.0f);
    EXPECT_TRUE(sameBits(coeffsOf(f), freshDesign(FILTER_LOW_SHELF, 200.0f, 0.7f, -6.0f)));
}

TEST(BandTypeChange, PeakingToBandPassRestartsFromSilenceAndLeavesTheSentinels) {
    ScopedSampleRate rate(48000.0);
    BandFilter f = initialFilter();
    designBand(&f, FILTER_PEAKING, 1000.0f, 1.0f, 6.0f);
    fillDelayValues(f, 1.5);
    designBand(&f, FILTER_BAND_PASS_SKIRT, 2000.0f, 0.5f, 3.0f);
    EXPECT_TRUE(delayValuesAllZero(f));
    EXPECT_EQ(f.type, FILTER_BAND_PASS_SKIRT);
    EXPECT_EQ(f.lastFreq, -50.0f);
    EXPECT_EQ(f.lastWidth, -5.0f);
    EXPECT_EQ(f.lastGain, -100.0f);
    EXPECT_TRUE(sameBits(coeffsOf(f), freshDesign(FILTER_BAND_PASS_SKIRT, 2000.0f, 0.5f, 3.0f)));
}

TEST(BandTypeChange, EveryChangeOfTypeClearsEvenNonFiniteDelayValues) {
    ScopedSampleRate rate(48000.0);
    const int32_t sequence[] = {FILTER_HIGH_SHELF, FILTER_NOTCH, 9,  FILTER_PEAKING, -1,
                                FILTER_LOW_PASS,   INT32_MIN,    -6, FILTER_LOW_SHELF};
    BandFilter f = initialFilter();
    for (int32_t type : sequence) {
        SCOPED_TRACE(::testing::Message() << "to type " << type);
        f.leftY1 = std::numeric_limits<double>::quiet_NaN();
        f.rightX2 = std::numeric_limits<double>::infinity();
        designBand(&f, type, 1000.0f, 1.0f, 6.0f);
        EXPECT_TRUE(delayValuesAllZero(f));
        EXPECT_EQ(f.type, type);
    }
}

// Right after creation and after a type change the cached inputs hold their
// sentinels; an input that happens to equal its sentinel must still be taken
// up, or the design would read intermediates never computed for this type.
TEST(BandTypeChange, FirstDesignTakesUpInputsEqualToTheirSentinels) {
    ScopedSampleRate rate(48000.0);
    struct Case {
        Inputs given;
        Inputs clampedTo;
    };
    const Case cases[] = {
        {{-50.0f, -5.0f, -100.0f}, {10.0f, 0.001f, -20.0f}},
        {{1000.0f, -5.0f, 6.0f}, {1000.0f, 0.001f, 6.0f}},
        {{1000.0f, 1.0f, -100.0f}, {1000.0f, 1.0f, -20.0f}},
        {{-50.0f, 2.0f, 3.0f}, {10.0f, 2.0f, 3.0f}},
    };
    for (int32_t type : {FILTER_PEAKING, FILTER_LOW_SHELF, FILTER_HIGH_SHELF}) {
        // Three ways to arrive at the first design of the type: a new band,
        // one that held a direct-design type, one that held another cached type.
        for (int32_t before : {kInitialFilterType, int32_t{FILTER_NOTCH},
                               int32_t{type == FILTER_PEAKING ? FILTER_HIGH_SHELF : FILTER_PEAKING}}) {
            for (const Case& c : cases) {
                SCOPED_TRACE(::testing::Message() << "type " << type << " after " << before
                                                  << " with " << c.given);
                BandFilter f = initialFilter();
                if (before != kInitialFilterType) designBand(&f, before, 3000.0f, 3.0f, 15.0f);
                designBand(&f, type, c.given.freq, c.given.width, c.given.gain);
                const Coeffs expected =
                    freshDesign(type, c.clampedTo.freq, c.clampedTo.width, c.clampedTo.gain);
                EXPECT_TRUE(sameBits(coeffsOf(f), expected)) << coeffsOf(f) << " vs " << expected;
                EXPECT_EQ(f.lastFreq, c.clampedTo.freq);
                EXPECT_EQ(f.lastWidth, c.clampedTo.width);
                EXPECT_EQ(f.lastGain, c.clampedTo.gain);
            }
        }
    }
}

// ---------------------------------------------------------------------------

TEST(BandClamping, FrequencyOutsideTenHertzToTwentyKilohertzDesignsAsTheBound) {
    ScopedSampleRate rate(48000.0);
    struct Case {
        float given, bound;
    };
    const Case cases[] = {{5.0f, 10.0f}, {-1000.0f, 10.0f}, {-kInf, 10.0f},
                          {25000.0f, 20000.0f}, {1.0e30f, 20000.0f}, {kInf, 20000.0f}};
    for (int32_t type = FILTER_LOW_PASS; type <= FILTER_HIGH_SHELF; ++type) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " at " << c.given << " Hz");
            BandFilter f = initialFilter();
            designBand(&f, type, c.given, 0.7f, 6.0f);
            const Coeffs atBound = freshDesign(type, c.bound, 0.7f, 6.0f);
            EXPECT_TRUE(sameBits(coeffsOf(f), atBound)) << coeffsOf(f) << " vs " << atBound;
            if (type >= FILTER_PEAKING) {
                EXPECT_EQ(f.lastFreq, c.bound);
            }
        }
    }
}

TEST(BandClamping, GainBearingTypesClampTheWidthOthersTakeItAsGiven) {
    ScopedSampleRate rate(48000.0);
    struct Case {
        float given, bound;
    };
    const Case cases[] = {{30.0f, 20.0f}, {0.0005f, 0.001f}, {1.0e30f, 20.0f}, {-1.0f, 0.001f}};
    for (const Case& c : cases) {
        for (int32_t type : {FILTER_PEAKING, FILTER_LOW_SHELF, FILTER_HIGH_SHELF}) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " width " << c.given);
            BandFilter f = initialFilter();
            designBand(&f, type, 1000.0f, c.given, 6.0f);
            EXPECT_TRUE(sameBits(coeffsOf(f), freshDesign(type, 1000.0f, c.bound, 6.0f)));
            EXPECT_EQ(f.lastWidth, c.bound);
        }
    }
    // Types 0 to 5 use a width of 30 or 0.0005 itself.
    for (int32_t type = FILTER_LOW_PASS; type <= FILTER_ALL_PASS; ++type) {
        for (const Case& c : {cases[0], cases[1]}) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " width " << c.given);
            const Coeffs given = freshDesign(type, 1000.0f, c.given, 0.0f);
            const Coeffs atBound = freshDesign(type, 1000.0f, c.bound, 0.0f);
            EXPECT_NE(given.a2, atBound.a2);
            EXPECT_TRUE(finiteAndStable(given)) << given;
        }
    }
}

TEST(BandClamping, GainBeyondTwentyDecibelsDesignsAsTwenty) {
    ScopedSampleRate rate(48000.0);
    for (int32_t type : {FILTER_PEAKING, FILTER_LOW_SHELF, FILTER_HIGH_SHELF}) {
        for (float sign : {1.0f, -1.0f}) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " sign " << sign);
            const Coeffs atBound = freshDesign(type, 1000.0f, 1.0f, sign * 20.0f);
            BandFilter f = initialFilter();
            designBand(&f, type, 1000.0f, 1.0f, sign * 30.0f);
            EXPECT_TRUE(sameBits(coeffsOf(f), atBound));
            EXPECT_EQ(f.lastGain, sign * 20.0f);
            // 30 never equals the cached 20, so it is taken up and clamped again.
            designBand(&f, type, 1000.0f, 1.0f, sign * 30.0f);
            EXPECT_TRUE(sameBits(coeffsOf(f), atBound));
            EXPECT_EQ(f.lastGain, sign * 20.0f);
        }
    }
}

// ---------------------------------------------------------------------------

TEST(BandDirectDesign, TypesWithoutGainIgnoreItAndCacheNothing) {
    ScopedSampleRate rate(48000.0);
    const float gains[] = {-100.0f, -20.0f, 0.0f, 6.0f, 20.0f, 1.0e30f, kInf, kNaN};
    for (int32_t type = FILTER_LOW_PASS; type <= FILTER_ALL_PASS; ++type) {
        SCOPED_TRACE(::testing::Message() << "type " << type);
        const Coeffs reference = freshDesign(type, 1000.0f, 1.0f, 0.0f);
        BandFilter f = initialFilter();
        for (float gain : gains) {
            designBand(&f, type, 1000.0f, 1.0f, gain);
            EXPECT_TRUE(sameBits(coeffsOf(f), reference)) << "gain " << gain;
            EXPECT_TRUE(sameBits(freshDesign(type, 1000.0f, 1.0f, gain), reference)) << "gain " << gain;
        }
        EXPECT_EQ(f.lastFreq, -50.0f);
        EXPECT_EQ(f.lastWidth, -5.0f);
        EXPECT_EQ(f.lastGain, -100.0f);
    }
}

TEST(BandGainBearingDesign, ZeroDecibelsIsExactlyFlat) {
    ScopedSampleRate rate(44100.0);
    const Inputs inputs[] = {{10.0f, 0.001f, 0.0f}, {1000.0f, 1.0f, 0.0f}, {12345.0f, 7.0f, 0.0f},
                             {20000.0f, 20.0f, 0.0f}};
    for (int32_t type : {FILTER_PEAKING, FILTER_LOW_SHELF, FILTER_HIGH_SHELF}) {
        for (const Inputs& in : inputs) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " " << in);
            const Coeffs c = freshDesign(type, in.freq, in.width, in.gain);
            EXPECT_EQ(c.b0, 1.0);
            EXPECT_EQ(c.b1, c.a1);
            EXPECT_EQ(c.b2, c.a2);
        }
    }
}

// The shape each direct-design response gives its numerator.
TEST(BandDirectDesign, NumeratorsHaveTheirResponsesShape) {
    ScopedSampleRate rate(48000.0);
    const Inputs inputs[] = {{30.0f, 0.2f, 0.0f}, {1000.0f, 1.0f, 0.0f}, {9000.0f, 3.0f, 0.0f},
                             {20000.0f, 0.5f, 0.0f}};
    for (const Inputs& in : inputs) {
        SCOPED_TRACE(::testing::Message() << in);
        const Coeffs lp = freshDesign(FILTER_LOW_PASS, in.freq, in.width, 0.0f);
        EXPECT_EQ(lp.b0, lp.b2);
        EXPECT_EQ(lp.b1, 2.0 * lp.b0);
        const Coeffs hp = freshDesign(FILTER_HIGH_PASS, in.freq, in.width, 0.0f);
        EXPECT_EQ(hp.b0, hp.b2);
        EXPECT_EQ(hp.b1, -2.0 * hp.b0);
        for (int32_t type : {FILTER_BAND_PASS_SKIRT, FILTER_BAND_PASS_PEAK}) {
            const Coeffs bp = freshDesign(type, in.freq, in.width, 0.0f);
            EXPECT_EQ(bp.b1, 0.0) << "type " << type;
            EXPECT_EQ(bp.b2, -bp.b0) << "type " << type;
        }
        const Coeffs notch = freshDesign(FILTER_NOTCH, in.freq, in.width, 0.0f);
        EXPECT_EQ(notch.b0, notch.b2);
        EXPECT_EQ(notch.b1, notch.a1);
        const Coeffs ap = freshDesign(FILTER_ALL_PASS, in.freq, in.width, 0.0f);
        EXPECT_EQ(ap.b0, ap.a2);
        EXPECT_EQ(ap.b1, ap.a1);
        EXPECT_EQ(ap.b2, 1.0);
    }
}
