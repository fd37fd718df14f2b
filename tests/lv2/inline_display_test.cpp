// The picture in the mixer, drawn through the inline-display interface as a
// host asks for it: at two sizes, the curve's row at a column is the
// response the plug-in plays at that column's frequency, measured with a
// sine through it (bells, a shelf at its corner, a high-pass, a band
// switched off, the output gain), on the scale the curve calls for. Also:
// the scale each kind of curve gets, the pixels a 1 dB move spans in a
// mixer strip, the image's size and pixel format, the defaults before the
// first run, the bypass's grey curve, sizes it refuses, pixels that stay
// valid after a larger picture, and pictures drawn while run() moves the
// controls in another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "lv2/inline_display.h"
#include "tests/lv2/lv2_test_support.h"

namespace {

using lv2test::Band;
using lv2test::PluginInstance;

constexpr double kRate = 48000.0;

// The picture's axes as the README gives them: 20 Hz at the left edge to
// 20 kHz at the right, logarithmic; +scale dB at the top edge to -scale dB
// at the bottom.
double columnCentreHz(int column, int width) { return 20.0 * std::pow(1000.0, (column + 0.5) / width); }
int columnOf(double hz, int width) { return static_cast<int>(std::log(hz / 20.0) / std::log(1000.0) * width); }
double rowOf(double db, int height, double scaleDb) { return (scaleDb - db) / (2.0 * scaleDb) * height; }

uint32_t pixel(const qvlv2::InlineDisplayImage& image, int column, int row) {
    uint32_t value;
    std::memcpy(&value, image.data + static_cast<size_t>(row) * image.stride + 4 * static_cast<size_t>(column),
                sizeof value);
    return value;
}

// How much of the curve's colour a pixel holds: its red above its blue
// (everything else in the picture is grey).
double curveWeight(uint32_t argb) {
    return std::max(0.0, static_cast<double>((argb >> 16) & 0xFF) - static_cast<double>(argb & 0xFF));
}

// The curve's row in a column: the centroid of its colour; NaN if absent.
double curveRow(const qvlv2::InlineDisplayImage& image, int column) {
    double weight = 0.0, sum = 0.0;
    for (int row = 0; row < image.height; ++row) {
        const double w = curveWeight(pixel(image, column, row));
        weight += w;
        sum += w * (row + 0.5);
    }
    return weight > 0.0 ? sum / weight : NAN;
}

// The level a sine at `hz` comes out at, in dB, through the instance
// (left side), after it settles; a whole number of periods is measured.
double measuredDb(PluginInstance& instance, double hz) {
    const size_t settle = static_cast<size_t>(0.2 * kRate);
    const size_t periods = static_cast<size_t>(std::max(20.0, 0.3 * hz));
    const size_t measured = static_cast<size_t>(std::lround(periods * kRate / hz));
    std::vector<float> input(2 * (settle + measured));
    for (size_t i = 0; i < settle + measured; ++i)
        input[2 * i] = input[2 * i + 1] = 0.1f * static_cast<float>(std::sin(2.0 * M_PI * hz * i / kRate));
    const std::vector<float> output = instance.render(input, 1024);
    double sine = 0.0, cosine = 0.0;
    for (size_t i = settle; i < settle + measured; ++i) {
        const double phase = 2.0 * M_PI * hz * i / kRate;
        sine += output[2 * i] * std::sin(phase);
        cosine += output[2 * i] * std::cos(phase);
    }
    const double amplitude = 2.0 * std::hypot(sine, cosine) / measured;
    return 20.0 * std::log10(amplitude / 0.1);
}

struct DisplayCase {
    const char* name;
    std::vector<Band> bands;  // over the defaults
    float outputGainDb;
    std::vector<uint32_t> bandsOff;
    std::vector<double> probesHz;  // where the curve lies within the picture
    double scaleDb;                // the scale the curve calls for
};

const DisplayCase kCases[] = {
    {"bell_plus_12dB_at_1kHz", {{7, 80, 0.707, 0}, {6, 250, 1, 0}, {6, 1000, 1, 12}}, 0, {}, {1000, 250, 4000, 10000},
     24},
    {"cut_with_output_gain", {{7, 80, 0.707, 0}, {6, 250, 1, 0}, {6, 1000, 1, -9}}, 3, {}, {1000, 100, 3000}, 12},
    {"low_shelf_at_its_corner", {{7, 200, 0.707, 12}}, 0, {}, {200, 50, 2000}, 24},
    {"butterworth_high_pass", {{1, 1000, 1.9, 0}}, 0, {}, {1000, 1500, 2000, 8000}, 6},
    {"a_bell_switched_off", {{7, 80, 0.707, 0}, {6, 250, 1, 0}, {6, 1000, 1, 12}}, 0, {2}, {1000, 300}, 6},
    {"small_moves", {{7, 80, 0.707, 0}, {6, 250, 1, -2}, {6, 1000, 1, 3}}, 0, {}, {1000, 250, 600}, 6},
};

void PrintTo(const DisplayCase& c, std::ostream* os) { *os << c.name; }

struct Size {
    uint32_t width, maxHeight;
    int height;  // as high as the host allows, at most as high as wide
};
constexpr Size kSizes[] = {{160, 90, 90}, {400, 120, 120}};

class InlineDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(library_.descriptor(), nullptr) << "cannot load the bundle's binary";
        display_ = static_cast<const qvlv2::InlineDisplayInterface*>(
            library_.descriptor()->extension_data(qvlv2::kInlineDisplayInterfaceUri));
        ASSERT_NE(display_, nullptr);
        ASSERT_NE(display_->render, nullptr);
    }
    const LV2_Descriptor* descriptor() const { return library_.descriptor(); }

    // Renders, and checks what every image must be.
    const qvlv2::InlineDisplayImage* render(PluginInstance& instance, const Size& size) {
        const qvlv2::InlineDisplayImage* image = display_->render(instance.handle(), size.width, size.maxHeight);
        if (image == nullptr) {
            ADD_FAILURE() << "no image at " << size.width;
            return nullptr;
        }
        EXPECT_EQ(image->width, static_cast<int>(size.width));
        EXPECT_EQ(image->height, size.height);
        EXPECT_GE(image->stride, 4 * image->width);
        for (int row = 0; row < image->height; ++row)
            for (int column = 0; column < image->width; ++column) {
                const uint32_t p = pixel(*image, column, row);
                const uint32_t alpha = p >> 24;
                // Premultiplied: no colour exceeds its alpha.
                EXPECT_TRUE(((p >> 16) & 0xFF) <= alpha && ((p >> 8) & 0xFF) <= alpha && (p & 0xFF) <= alpha);
            }
        return image;
    }

    lv2test::PluginLibrary library_;
    const qvlv2::InlineDisplayInterface* display_ = nullptr;
};

class CurveMatchesTheResponse : public InlineDisplayTest, public ::testing::WithParamInterface<DisplayCase> {};

TEST_P(CurveMatchesTheResponse, AtTwoSizes) {
    const DisplayCase& c = GetParam();
    PluginInstance instance(descriptor(), kRate, c.bands);
    ASSERT_TRUE(instance.valid());
    instance.set(qvlv2::PORT_OUTPUT_GAIN, c.outputGainDb);
    for (uint32_t band : c.bandsOff) instance.set(qvlv2::bandOnPort(band), 0.0f);
    for (const Size& size : kSizes) {
        SCOPED_TRACE(std::to_string(size.width) + " pixels wide");
        for (double hz : c.probesHz) {
            const int column = columnOf(hz, static_cast<int>(size.width));
            const double db = measuredDb(instance, columnCentreHz(column, static_cast<int>(size.width)));
            const qvlv2::InlineDisplayImage* image = render(instance, size);
            ASSERT_NE(image, nullptr);
            EXPECT_NEAR(curveRow(*image, column), rowOf(db, image->height, c.scaleDb), 0.5)
                << hz << " Hz (column " << column << ") plays at " << db << " dB";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, CurveMatchesTheResponse, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<DisplayCase>& info) { return info.param.name; });

// The grid lines other than 0 dB, every 6 dB: none on the +-6 dB scale,
// two on +-12, six on +-24. A row is a grid line when most of its pixels
// have the grid's colour.
int gridLines(const qvlv2::InlineDisplayImage& image) {
    int lines = 0;
    for (int row = 0; row < image.height; ++row) {
        int grid = 0;
        for (int column = 0; column < image.width; ++column) grid += pixel(image, column, row) == 0xFF383838u;
        lines += 2 * grid > image.width;
    }
    return lines;
}

struct ScaleCase {
    const char* name;
    std::vector<Band> bands;  // over the defaults
    float outputGainDb;
    double scaleDb;
};

const ScaleCase kScaleCases[] = {
    {"flat", {}, 0, 6},
    {"vocal_presence", {{1, 90, 1.9, 0}, {6, 300, 1.5, -2}, {6, 1000, 1, 0}, {6, 4000, 1.5, 3}, {8, 12000, 0.707, 1.5}},
     0, 6},
    {"bell_plus_5", {{7, 80, 0.707, 0}, {6, 250, 1, 0}, {6, 1000, 1, 5}}, 0, 6},
    {"bell_plus_6_wants_headroom", {{7, 80, 0.707, 0}, {6, 250, 1, 0}, {6, 1000, 1, 6}}, 0, 12},
    {"cut_minus_9", {{7, 80, 0.707, 0}, {6, 250, 1, -9}}, 0, 12},
    {"output_gain_minus_8", {}, -8, 12},
    {"shelf_plus_12", {{7, 100, 0.707, 12}}, 0, 24},
    // A low-pass's falling skirt and a notch's dip run off the bottom edge.
    {"low_pass_and_notch", {{7, 80, 0.707, 0}, {0, 2000, 1.9, 0}, {4, 500, 1, 0}}, 0, 6},
    {"resonant_low_pass", {{0, 2000, 0.3, 0}}, 0, 24},
    {"beyond_the_largest", {{6, 1000, 1, 20}}, 20, 24},
};

void PrintTo(const ScaleCase& c, std::ostream* os) { *os << c.name; }

class ScaleFollowsTheCurve : public InlineDisplayTest, public ::testing::WithParamInterface<ScaleCase> {};

TEST_P(ScaleFollowsTheCurve, SmallestOfSixTwelveAndTwentyFourDb) {
    const ScaleCase& c = GetParam();
    PluginInstance instance(descriptor(), kRate, c.bands);
    instance.set(qvlv2::PORT_OUTPUT_GAIN, c.outputGainDb);
    instance.render(std::vector<float>(512), 256);
    const qvlv2::InlineDisplayImage* image = render(instance, kSizes[1]);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(gridLines(*image), c.scaleDb == 6 ? 0 : c.scaleDb == 12 ? 2 : 6);
}

INSTANTIATE_TEST_SUITE_P(Curves, ScaleFollowsTheCurve, ::testing::ValuesIn(kScaleCases),
                         [](const ::testing::TestParamInfo<ScaleCase>& info) { return info.param.name; });

// In a mixer strip 80 pixels wide a 1 dB move of an ordinary setting spans
// at least three pixels: the 1 kHz bell moved by 1 dB, its curve's row at
// 1 kHz before and after, at the heights a host may offer.
struct SpanCase {
    const char* name;
    uint32_t maxHeight;
    int height;
    float fromDb, toDb;
    double scaleDb;
};

const SpanCase kSpanCases[] = {
    {"square_strip_small_move", 80, 80, 3, 4, 6},
    {"square_strip_cut", 80, 80, -4, -5, 6},
    {"square_strip_larger_move", 80, 80, 8, 9, 12},
    {"nine_sixteenths_high", 45, 45, 2, 3, 6},
    {"a_taller_offer_stops_at_square", 200, 80, 3, 4, 6},
};

void PrintTo(const SpanCase& c, std::ostream* os) { *os << c.name; }

class OneDbMove : public InlineDisplayTest, public ::testing::WithParamInterface<SpanCase> {};

TEST_P(OneDbMove, SpansAtLeastThreePixelsInAnEightyPixelStrip) {
    const SpanCase& c = GetParam();
    const Size size = {80, c.maxHeight, c.height};
    double rows[2];
    for (int i = 0; i < 2; ++i) {
        PluginInstance instance(descriptor(), kRate, {{7, 80, 0.707, 0}, {6, 250, 1, 0}, {6, 1000, 1, i ? c.toDb : c.fromDb}});
        instance.render(std::vector<float>(512), 256);
        const qvlv2::InlineDisplayImage* image = render(instance, size);
        ASSERT_NE(image, nullptr);
        const int column = columnOf(1000.0, image->width);
        rows[i] = curveRow(*image, column);
    }
    // The column's centre lies a little off 1 kHz, where the bell's move is
    // a little less than 1 dB.
    const double span = std::fabs(rows[1] - rows[0]), rowsPerDb = c.height / (2.0 * c.scaleDb);
    std::printf("%s: 1 dB spans %.2f pixels in 80 x %d (%.2f a dB on the scale)\n", c.name, span, c.height,
                rowsPerDb);
    EXPECT_GE(span, 3.0);
    EXPECT_GE(span, 0.9 * rowsPerDb);
    EXPECT_LE(span, 1.02 * rowsPerDb);
}

INSTANTIATE_TEST_SUITE_P(Strips, OneDbMove, ::testing::ValuesIn(kSpanCases),
                         [](const ::testing::TestParamInfo<SpanCase>& info) { return info.param.name; });

// Before its first run an instance shows its defaults: flat, the curve on
// the 0 dB line all across.
TEST_F(InlineDisplayTest, BeforeTheFirstRunTheDefaultsAreFlat) {
    PluginInstance instance(descriptor(), kRate, {}, false);
    ASSERT_TRUE(instance.valid());
    const qvlv2::InlineDisplayImage* image = render(instance, kSizes[1]);
    ASSERT_NE(image, nullptr);
    for (int column = 0; column < image->width; column += 7)
        EXPECT_NEAR(curveRow(*image, column), image->height / 2.0, 0.5) << "column " << column;
}

// Bypassed, the curve stays where it is but turns grey.
TEST_F(InlineDisplayTest, BypassedTheCurveIsGrey) {
    PluginInstance instance(descriptor(), kRate, {{7, 80, 0.707, 0}, {6, 250, 1, 0}, {6, 1000, 1, 12}});
    instance.set(qvlv2::PORT_ENABLED, 0.0f);
    instance.render(std::vector<float>(512), 256);
    const qvlv2::InlineDisplayImage* image = render(instance, kSizes[0]);
    ASSERT_NE(image, nullptr);
    const int column = columnOf(1000.0, image->width);
    const int peakRow = static_cast<int>(rowOf(12.0, image->height, 24.0));
    for (int row = 0; row < image->height; ++row)
        for (int x = 0; x < image->width; ++x) ASSERT_EQ(curveWeight(pixel(*image, x, row)), 0.0);
    EXPECT_GE(pixel(*image, column, peakRow) & 0xFF, 100u) << "a grey curve at +12 dB";
}

// Sizes it cannot draw give no image; pixels handed out earlier stay
// readable after a larger picture, until the instance is cleaned up.
TEST_F(InlineDisplayTest, RefusedSizesAndEarlierPixelsStayValid) {
    PluginInstance instance(descriptor(), kRate, {});
    EXPECT_EQ(display_->render(instance.handle(), 0, 100), nullptr);
    EXPECT_EQ(display_->render(instance.handle(), 100, 0), nullptr);
    EXPECT_EQ(display_->render(instance.handle(), 100000, 100), nullptr);
    const qvlv2::InlineDisplayImage* tiny = display_->render(instance.handle(), 1, 100);  // no taller than wide
    ASSERT_NE(tiny, nullptr);
    EXPECT_EQ(tiny->width, 1);
    EXPECT_EQ(tiny->height, 1);
    const qvlv2::InlineDisplayImage* small = display_->render(instance.handle(), 64, 36);
    ASSERT_NE(small, nullptr);
    const unsigned char* earlier = small->data;
    const uint32_t corner = pixel(*small, 0, 0);
    ASSERT_NE(display_->render(instance.handle(), 1024, 576), nullptr);
    uint32_t again;
    std::memcpy(&again, earlier, sizeof again);
    EXPECT_EQ(again, corner);
    EXPECT_EQ(descriptor()->extension_data("http://lv2plug.in/ns/ext/state#interface"), nullptr);
}

// The host renders in its display thread while run() goes on in the audio
// thread. Every picture shows one of the settings run() took, never a mix
// of two (one band's frequency with another setting's gain).
TEST_F(InlineDisplayTest, PicturesDrawnWhileRunMovesTheControlsShowOneSetting) {
    std::vector<Band> bands = lv2test::defaultBands();
    bands[2] = {6, 1000, 1, 12};
    PluginInstance instance(descriptor(), kRate, bands);
    ASSERT_TRUE(instance.valid());
    std::vector<float> audio(4 * 256);
    for (uint32_t port = 0; port < 4; ++port)
        descriptor()->connect_port(instance.handle(), port, audio.data() + 256 * port);
    descriptor()->run(instance.handle(), 256);  // the first setting, before the pictures
    std::atomic<bool> done{false};
    std::thread audioThread([&] {
        const uint32_t freq = qvlv2::controlPort(2, qvlv2::BAND_FREQ), gain = qvlv2::controlPort(2, qvlv2::BAND_GAIN);
        for (int call = 0; !done.load(); ++call) {
            // Not atomic with respect to run(), as no host's are; run()
            // reads them in the same thread, though.
            instance.set(freq, call % 2 ? 4000.0f : 1000.0f);
            instance.set(gain, call % 2 ? -12.0f : 12.0f);
            descriptor()->run(instance.handle(), 256);
        }
    });
    const Size& size = kSizes[0];
    const int at1k = columnOf(1000.0, size.width), at4k = columnOf(4000.0, size.width);
    int drawn = 0;
    for (int picture = 0; picture < 200; ++picture) {
        const qvlv2::InlineDisplayImage* image = display_->render(instance.handle(), size.width, size.maxHeight);
        ASSERT_NE(image, nullptr);
        const double low = curveRow(*image, at1k), high = curveRow(*image, at4k);
        // Both settings reach 12 dB from 0: the +-24 dB scale.
        const double up = rowOf(12.0, image->height, 24.0), flat = rowOf(0.0, image->height, 24.0),
                     down = rowOf(-12.0, image->height, 24.0);
        const bool first = std::fabs(low - up) < 2.0 && std::fabs(high - flat) < 2.0;
        const bool second = std::fabs(low - flat) < 2.0 && std::fabs(high - down) < 2.0;
        EXPECT_TRUE(first || second) << "picture " << picture << ": rows " << low << " and " << high;
        ++drawn;
    }
    done.store(true);
    audioThread.join();
    EXPECT_EQ(drawn, 200);
}

}  // namespace
