#include "lv2/response_image.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <new>

#include "equaliser/band_filter.h"

namespace qvlv2 {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Colour {
    double red, green, blue;
};
// Greys for everything but the curve, so the curve stands apart by its hue.
constexpr uint32_t kBackground = 0xFF1C1C1Cu;
constexpr uint32_t kGrid = 0xFF383838u;
constexpr uint32_t kZeroLine = 0xFF5A5A5Au;
constexpr Colour kCurveEnabled = {255.0, 176.0, 48.0};
constexpr Colour kCurveBypassed = {150.0, 150.0, 150.0};
constexpr double kGridStepDb = 6.0;
constexpr double kMinGridSpacing = 5.0;  // pixels

// The module's own design of each band, so the picture is what it plays.
struct Section {
    double b0, b1, b2, a1, a2;
};

Section designed(const CurveSettings::Band& band, double radiansPerHertz) {
    BandFilter filter;
    resetBandFilter(filter, radiansPerHertz);
    designBand(&filter, band.type, band.freqHz, band.width, band.gainDb);
    return {filter.b0, filter.b1, filter.b2, filter.a1, filter.a2};
}

double magnitudeDb(const Section& s, double w) {
    const std::complex<double> z1 = std::polar(1.0, -w), z2 = std::polar(1.0, -2.0 * w);
    const std::complex<double> numerator = s.b0 + s.b1 * z1 + s.b2 * z2;
    const std::complex<double> denominator = 1.0 + s.a1 * z1 + s.a2 * z2;
    return 10.0 * std::log10(std::norm(numerator) / std::norm(denominator));
}

uint32_t blend(uint32_t under, const Colour& over, double coverage) {
    const auto channel = [&](int shift, double value) {
        const double below = static_cast<double>((under >> shift) & 0xFFu);
        return static_cast<uint32_t>(std::lround(below + (value - below) * coverage)) << shift;
    };
    // Opaque pixels: premultiplied and straight colours are the same.
    return 0xFF000000u | channel(16, over.red) | channel(8, over.green) | channel(0, over.blue);
}

}  // namespace

bool ResponseImage::reserve(size_t pixels) {
    if (pixels <= capacity_) return true;
    // Grown in doublings, so a host that widens the strip step by step
    // leaves few stores behind.
    const size_t size = std::max(pixels, 2 * capacity_);
    std::unique_ptr<uint32_t[]> store(new (std::nothrow) uint32_t[size]);
    if (!store) return false;
    stores_.push_back(std::move(store));
    capacity_ = size;
    return true;
}

InlineDisplayImage* ResponseImage::render(const CurveSettings& settings, double sampleRate, uint32_t width,
                                          uint32_t maxHeight) {
    if (width == 0 || width > kMaxWidth || !(sampleRate > 0.0)) return nullptr;
    const uint32_t height = std::min(maxHeight, width);
    if (height == 0) return nullptr;
    const size_t pixelCount = static_cast<size_t>(width) * height;
    if (!reserve(pixelCount)) return nullptr;
    rows_.resize(width);
    uint32_t* pixels = stores_.back().get();

    // The curve's level at each column's centre frequency; NaN where it is
    // not drawn (at or above half the sample rate, a NaN design). Beside it
    // the deepest the gain-bearing bands and the output gain go together.
    Section sections[kBands];
    bool setsAGain[kBands];
    for (uint32_t band = 0; band < kBands; ++band) {
        sections[band] = designed(settings.bands[band], 2.0 * kPi / sampleRate);
        const int32_t type = settings.bands[band].type;
        setsAGain[band] = type == FILTER_PEAKING || type == FILTER_LOW_SHELF || type == FILTER_HIGH_SHELF;
    }
    double highest = 0.0, deepestCut = 0.0;
    for (uint32_t x = 0; x < width; ++x) {
        const double hz = kLowestHz * std::pow(kHighestHz / kLowestHz, (x + 0.5) / width);
        double db = settings.outputGainDb, gainsDb = settings.outputGainDb;
        for (uint32_t band = 0; band < kBands; ++band) {
            const double bandDb = magnitudeDb(sections[band], 2.0 * kPi * hz / sampleRate);
            db += bandDb;
            if (setsAGain[band]) gainsDb += bandDb;
        }
        if (hz >= sampleRate / 2.0 || std::isnan(db)) {
            rows_[x] = NAN;
            continue;
        }
        rows_[x] = db;
        highest = std::max(highest, db);  // an infinity makes the largest scale
        if (!std::isnan(gainsDb)) deepestCut = std::min(deepestCut, gainsDb);
    }
    const double extent = std::max(highest, -deepestCut);
    scaleDb_ = kScalesDb[2];
    for (double scale : kScalesDb)
        if (extent <= scale - kHeadroomDb) {
            scaleDb_ = scale;
            break;
        }

    const double rowsPerDb = height / (2.0 * scaleDb_);
    const auto rowOf = [&](double db) { return (scaleDb_ - db) * rowsPerDb; };
    const auto columnOf = [&](double hz) {
        return std::log(hz / kLowestHz) / std::log(kHighestHz / kLowestHz) * width;
    };

    std::fill_n(pixels, pixelCount, kBackground);
    // Lines closer than a few pixels would crowd the curve in a small
    // picture: there every other one goes.
    double gridStepDb = kGridStepDb;
    while (gridStepDb * rowsPerDb < kMinGridSpacing && gridStepDb < scaleDb_) gridStepDb *= 2.0;
    const auto drawRow = [&](double db, uint32_t colour) {
        const uint32_t row = std::min(height - 1, static_cast<uint32_t>(rowOf(db)));
        std::fill_n(pixels + static_cast<size_t>(row) * width, width, colour);
    };
    for (double db = gridStepDb; db < scaleDb_; db += gridStepDb) {
        drawRow(db, kGrid);
        drawRow(-db, kGrid);
    }
    drawRow(0.0, kZeroLine);
    for (double hz : {100.0, 1000.0, 10000.0}) {
        const uint32_t column = std::min(width - 1, static_cast<uint32_t>(columnOf(hz)));
        for (uint32_t row = 0; row < height; ++row)
            if (pixels[static_cast<size_t>(row) * width + column] == kBackground)
                pixels[static_cast<size_t>(row) * width + column] = kGrid;
    }
    for (uint32_t x = 0; x < width; ++x)
        if (!std::isnan(rows_[x]))
            rows_[x] = std::min<double>(height, std::max(0.0, rowOf(rows_[x])));  // an infinity rides the edge too

    // Each column draws the stretch between the midpoints to its
    // neighbours, so steep parts stay joined, with soft edges.
    const Colour& colour = settings.enabled ? kCurveEnabled : kCurveBypassed;
    const double halfWidth = std::max(0.75, height / 160.0);
    for (uint32_t x = 0; x < width; ++x) {
        const double here = rows_[x];
        if (std::isnan(here)) continue;
        double low = here, high = here;
        for (int64_t neighbour : {int64_t{x} - 1, int64_t{x} + 1}) {
            if (neighbour < 0 || neighbour >= int64_t{width} || std::isnan(rows_[neighbour])) continue;
            const double middle = (here + rows_[neighbour]) / 2.0;
            low = std::min(low, middle);
            high = std::max(high, middle);
        }
        const int64_t first = std::max<int64_t>(0, static_cast<int64_t>(std::floor(low - halfWidth - 1.0)));
        const int64_t last = std::min<int64_t>(height - 1, static_cast<int64_t>(std::ceil(high + halfWidth + 1.0)));
        for (int64_t row = first; row <= last; ++row) {
            const double centre = row + 0.5;
            const double distance = centre < low ? low - centre : centre > high ? centre - high : 0.0;
            const double coverage = std::min(1.0, std::max(0.0, halfWidth + 0.5 - distance));
            if (coverage <= 0.0) continue;
            uint32_t& pixel = pixels[static_cast<size_t>(row) * width + x];
            pixel = blend(pixel, colour, coverage);
        }
    }

    image_.data = reinterpret_cast<unsigned char*>(pixels);
    image_.width = static_cast<int>(width);
    image_.height = static_cast<int>(height);
    image_.stride = static_cast<int>(width * sizeof(uint32_t));
    return &image_;
}

}  // namespace qvlv2
