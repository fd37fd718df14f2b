// What each response type does to a signal, read off the designed section's
// transfer function H(e^jw) on the unit circle: gains at the centre and at the
// ends of the spectrum, zeros, unit magnitude, and the width in octaves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <complex>

#include "band_filter_test_support.h"
#include "equaliser/band_filter.h"

using namespace bandtest;

namespace {

const double kRates[] = {44100.0, 48000.0, 96000.0};

struct Band {
    float freq, width;
};

// Centres and widths that keep every band clear of half the sample rate at
// all three rates.
const Band kBands[] = {{40.0f, 0.5f}, {250.0f, 1.0f}, {1000.0f, 2.0f}, {4000.0f, 0.3f},
                       {12000.0f, 0.7f}};

double centre(float freq) { return static_cast<double>(freq) * testRadiansPerHertz(); }

// Finds where |H| crosses `level` between `inside` (above it) and `outside`
// (below it) by bisection.
double crossing(const Coeffs& c, double inside, double outside, double level) {
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (inside + outside);
        if (magnitude(c, mid) > level)
            inside = mid;
        else
            outside = mid;
    }
    return 0.5 * (inside + outside);
}

// Octaves between the two frequencies around w0 where |H| falls to `level`.
double octavesAtLevel(const Coeffs& c, double w0, double level) {
    const double below = crossing(c, w0, 1.0e-9, level);
    const double above = crossing(c, w0, kPi - 1.0e-9, level);
    return std::log2(above / below);
}

}  // namespace

TEST(BandResponse, PeakingHasItsGainAtTheCentreAndNoneAtEitherEnd) {
    for (double sampleRate : kRates) {
        ScopedSampleRate rate(sampleRate);
        for (const Band& band : kBands) {
            for (float gain : {-20.0f, -6.0f, 3.0f, 12.0f, 20.0f}) {
                SCOPED_TRACE(::testing::Message() << sampleRate << " Hz rate, " << band.freq
                                                  << " Hz, width " << band.width << ", " << gain
                                                  << " dB");
                const Coeffs c = freshDesign(FILTER_PEAKING, band.freq, band.width, gain);
                EXPECT_NEAR(magnitudeDb(c, centre(band.freq)), gain, 1.0e-6);
                EXPECT_NEAR(magnitudeDb(c, 0.0), 0.0, 1.0e-6);
                EXPECT_NEAR(magnitudeDb(c, kPi), 0.0, 1.0e-6);
            }
        }
    }
}

TEST(BandResponse, ShelvesHaveTheirGainAtOneEndNoneAtTheOtherAndHalfAtTheCorner) {
    for (double sampleRate : kRates) {
        ScopedSampleRate rate(sampleRate);
        for (const Band& band : kBands) {
            for (float q : {0.5f, 0.7071f, 2.0f}) {
                for (float gain : {-20.0f, -6.0f, 3.0f, 12.0f, 20.0f}) {
                    SCOPED_TRACE(::testing::Message() << sampleRate << " Hz rate, " << band.freq
                                                      << " Hz, Q " << q << ", " << gain << " dB");
                    const double w0 = centre(band.freq);
                    const Coeffs low = freshDesign(FILTER_LOW_SHELF, band.freq, q, gain);
                    EXPECT_NEAR(magnitudeDb(low, 0.0), gain, 1.0e-6);
                    EXPECT_NEAR(magnitudeDb(low, kPi), 0.0, 1.0e-6);
                    EXPECT_NEAR(magnitudeDb(low, w0), gain / 2.0, 1.0e-6);
                    const Coeffs high = freshDesign(FILTER_HIGH_SHELF, band.freq, q, gain);
                    EXPECT_NEAR(magnitudeDb(high, 0.0), 0.0, 1.0e-6);
                    EXPECT_NEAR(magnitudeDb(high, kPi), gain, 1.0e-6);
                    EXPECT_NEAR(magnitudeDb(high, w0), gain / 2.0, 1.0e-6);
                }
            }
        }
    }
}

TEST(BandResponse, NotchHasAZeroAtTheCentreAndPassesBothEnds) {
    for (double sampleRate : kRates) {
        ScopedSampleRate rate(sampleRate);
        for (const Band& band : kBands) {
            SCOPED_TRACE(::testing::Message() << sampleRate << " Hz rate, " << band.freq
                                              << " Hz, width " << band.width);
            const Coeffs c = freshDesign(FILTER_NOTCH, band.freq, band.width, 0.0f);
            EXPECT_LT(magnitude(c, centre(band.freq)), 1.0e-9);
            EXPECT_NEAR(magnitude(c, 0.0), 1.0, 1.0e-9);
            EXPECT_NEAR(magnitude(c, kPi), 1.0, 1.0e-9);
        }
    }
}

TEST(BandResponse, AllPassHasUnitMagnitudeEverywhereAndTurnsHalfACycleAtTheCentre) {
    for (double sampleRate : kRates) {
        ScopedSampleRate rate(sampleRate);
        for (const Band& band : kBands) {
            SCOPED_TRACE(::testing::Message() << sampleRate << " Hz rate, " << band.freq
                                              << " Hz, width " << band.width);
            const Coeffs c = freshDesign(FILTER_ALL_PASS, band.freq, band.width, 0.0f);
            for (int i = 0; i <= 64; ++i) {
                const double w = kPi * i / 64.0;
                EXPECT_NEAR(magnitude(c, w), 1.0, 1.0e-12) << "at " << w << " rad";
            }
            EXPECT_LT(std::abs(response(c, centre(band.freq)) + 1.0), 1.0e-9);
        }
    }
}

TEST(BandResponse, LowAndHighPassPassOneEndAndStopTheOther) {
    for (double sampleRate : kRates) {
        ScopedSampleRate rate(sampleRate);
        for (const Band& band : kBands) {
            SCOPED_TRACE(::testing::Message() << sampleRate << " Hz rate, " << band.freq
                                              << " Hz, width " << band.width);
            const Coeffs low = freshDesign(FILTER_LOW_PASS, band.freq, band.width, 0.0f);
            EXPECT_NEAR(magnitude(low, 0.0), 1.0, 1.0e-9);
            EXPECT_LT(magnitude(low, kPi), 1.0e-12);
            const Coeffs high = freshDesign(FILTER_HIGH_PASS, band.freq, band.width, 0.0f);
            EXPECT_LT(magnitude(high, 0.0), 1.0e-12);
            EXPECT_NEAR(magnitude(high, kPi), 1.0, 1.0e-9);
        }
    }
}

TEST(BandResponse, ZeroDecibelPeakBandPassIsUnityAtTheCentreAndStopsBothEnds) {
    for (double sampleRate : kRates) {
        ScopedSampleRate rate(sampleRate);
        for (const Band& band : kBands) {
            SCOPED_TRACE(::testing::Message() << sampleRate << " Hz rate, " << band.freq
                                              << " Hz, width " << band.width);
            const Coeffs c = freshDesign(FILTER_BAND_PASS_PEAK, band.freq, band.width, 0.0f);
            EXPECT_NEAR(magnitude(c, centre(band.freq)), 1.0, 1.0e-9);
            EXPECT_LT(magnitude(c, 0.0), 1.0e-12);
            EXPECT_LT(magnitude(c, kPi), 1.0e-12);
        }
    }
}

// The skirt form keeps the slopes far from the centre where they are and lets
// the peak rise as the band narrows.
TEST(BandResponse, SkirtBandPassKeepsItsSkirtsAndPeaksHigherWhenNarrower) {
    ScopedSampleRate rate(48000.0);
    const double w0 = centre(1000.0f);
    double previousPeak = 0.0;
    const Coeffs widest = freshDesign(FILTER_BAND_PASS_SKIRT, 1000.0f, 4.0f, 0.0f);
    for (float width : {4.0f, 2.0f, 1.0f, 0.5f, 0.1f}) {
        SCOPED_TRACE(::testing::Message() << "width " << width);
        const Coeffs c = freshDesign(FILTER_BAND_PASS_SKIRT, 1000.0f, width, 0.0f);
        const double peak = magnitude(c, w0);
        EXPECT_GT(peak, previousPeak);
        EXPECT_GT(peak, magnitude(c, w0 * 1.01));
        EXPECT_GT(peak, magnitude(c, w0 / 1.01));
        previousPeak = peak;
        EXPECT_LT(magnitude(c, 0.0), 1.0e-12);
        EXPECT_LT(magnitude(c, kPi), 1.0e-12);
        EXPECT_NEAR(magnitude(c, w0 / 64.0) / magnitude(widest, w0 / 64.0), 1.0, 0.01);
    }
}

// Width is a bandwidth in octaves: between the half-power points for the 0 dB
// band-pass, between the half-gain points for the peaking band.
// The design matches it closely, not exactly, in the digital domain.
TEST(BandResponse, WidthIsTheBandwidthInOctaves) {
    ScopedSampleRate rate(48000.0);
    const Band bands[] = {{200.0f, 0.3f}, {1000.0f, 1.0f}, {1000.0f, 2.0f}, {5000.0f, 0.5f},
                          {12000.0f, 1.0f}};
    for (const Band& band : bands) {
        SCOPED_TRACE(::testing::Message() << band.freq << " Hz, width " << band.width);
        const double w0 = centre(band.freq);
        const Coeffs bp = freshDesign(FILTER_BAND_PASS_PEAK, band.freq, band.width, 0.0f);
        EXPECT_NEAR(octavesAtLevel(bp, w0, std::sqrt(0.5)) / band.width, 1.0, 0.01);
        const Coeffs peak = freshDesign(FILTER_PEAKING, band.freq, band.width, 12.0f);
        EXPECT_NEAR(octavesAtLevel(peak, w0, std::pow(10.0, 6.0 / 20.0)) / band.width, 1.0, 0.01);
    }
}
