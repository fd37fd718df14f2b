// Zeros inside the music: real audio has frames where both inputs are
// exactly zero all the time (a mono source on both inputs, shared zero
// crossings of 16-bit material, quiet 16-bit passages). With the band
// controls held still, `process` must sound exactly like a plain cascade
// that filters every frame (flushing where an input is zero), whatever the
// host's block sizes and offsets; only a silent frame reaching bands that
// are all at rest (every delay value below 1e-21) may be let through. The
// two then differ only far below anything audible: where process lets the
// zeros through, the plain cascade rings on below 1e-20, and where sound
// comes back process resumes from the bands' state as the silence found it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "equaliser/process_steps.h"
#include "process_test_support.h"

namespace {

using namespace looptest;

constexpr double kPi = 3.14159265358979323846;
constexpr float kRate = 48000.0f;
constexpr size_t kFrames = 12000;

// Every frame through every band, as a host that never skips would hear it.
class PlainCascade {
public:
    explicit PlainCascade(const BandControls* bands) {
        for (int k = 0; k < kBandCount; ++k) {
            resetBandFilter(filter_[k], 6.283185307179586 / static_cast<double>(kRate));
            const BandControls& c = bands[k];
            designBand(&filter_[k], eq::toFilterType(c.type), model::tenTimes(c.freq),
                       model::tenTimes(c.q), model::tenTimes(c.gain));
        }
    }

    void run(const std::vector<float>& left, const std::vector<float>& right,
             std::vector<float>& out1, std::vector<float>& out2) {
        out1.resize(left.size());
        out2.resize(left.size());
        for (size_t i = 0; i < left.size(); ++i) {
            if (left[i] == 0.0f || right[i] == 0.0f)
                for (Chain& chain : chains_)
                    for (Delays& d : chain)
                        for (double* v : {&d.x1, &d.x2, &d.y1, &d.y2}) model::flush(*v);
            out1[i] = through(chains_[0], left[i]);
            out2[i] = through(chains_[1], right[i]);
        }
    }

private:
    struct Delays {
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    };
    using Chain = Delays[kBandCount];

    float through(Chain& chain, float sample) const {
        for (int k = 0; k < kBandCount; ++k) {
            const BandFilter& f = filter_[k];
            Delays& d = chain[k];
            const double x = sample;
            const double y = f.b0 * x + f.b1 * d.x1 + f.b2 * d.x2 - f.a1 * d.y1 - f.a2 * d.y2;
            d.x2 = d.x1, d.x1 = x, d.y2 = d.y1, d.y1 = y;
            sample = static_cast<float>(y);
        }
        return sample;
    }

    BandFilter filter_[kBandCount];
    Chain chains_[2];
};

float sixteenBit(double x) {
    return static_cast<float>(std::lround(x * 32767.0)) / 32768.0f;
}

struct Material {
    const char* name;
    std::vector<float> left, right;
};

Material toneOnBoth() {
    Material m{"16-bit 1 kHz tone, half scale, on both inputs", {}, {}};
    for (size_t i = 0; i < kFrames; ++i)
        m.left.push_back(sixteenBit(0.5 * std::sin(2.0 * kPi * 1000.0 * i / kRate)));
    m.right = m.left;
    return m;
}

Material monoMusic() {
    // A mono source on both inputs: a chord with a slow swell, 16-bit.
    Material m{"16-bit mono chord on both inputs", {}, {}};
    for (size_t i = 0; i < kFrames; ++i) {
        const double t = i / static_cast<double>(kRate);
        const double x = 0.3 * std::sin(2 * kPi * 220 * t) + 0.2 * std::sin(2 * kPi * 277 * t) +
                         0.1 * std::sin(2 * kPi * 3300 * t);
        m.left.push_back(sixteenBit(x * std::sin(kPi * i / kFrames)));
    }
    m.right = m.left;
    return m;
}

Material quietNoise() {
    Material m{"quiet 16-bit noise (a few steps)", {}, {}};
    Rng rng(21);
    for (size_t i = 0; i < kFrames; ++i) {
        m.left.push_back(static_cast<float>(rng.below(7) - 3) / 32768.0f);
        m.right.push_back(static_cast<float>(rng.below(7) - 3) / 32768.0f);
    }
    return m;
}

Material silenceAfterNoise() {
    Material m{"loud noise, then silence", {}, {}};
    Rng rng(22);
    for (size_t i = 0; i < kFrames; ++i) {
        const bool loud = i < 2000;
        m.left.push_back(loud ? rng.noise(0.9f) : (i % 3 == 0 ? -0.0f : 0.0f));
        m.right.push_back(loud ? rng.noise(0.9f) : 0.0f);
    }
    return m;
}

// Most bands never come to rest once they have sounded: the flush holds
// their tails on a grid of about 1.9e-37, where rounding keeps a tiny ring
// going for good. Bands whose poles lie far inside the unit circle (|a1| +
// |a2| below one half) shrink any tail on that grid to zero, so with these
// silence is let through again within about a hundred frames.
const BandControls kRestingBands[kBandCount] = {
    {1200.0f, 0.0f, 0.2f, 0.0f},  // low-pass 12 kHz, 2 octaves
    {1200.0f, 0.0f, 0.2f, 1.0f},  // high-pass 12 kHz, 2 octaves
    {100.0f, 0.0f, 0.1f, 20.0f},  // no response: passes through
    {100.0f, 0.0f, 0.1f, 20.0f},
    {100.0f, 0.0f, 0.1f, 20.0f},
};

struct Setting {
    const char* name;
    const BandControls* bands;
};

struct Layout {
    int32_t blockSize;
    int32_t offset;
    bool inPlace;  // outputs on the inputs' buffers, as many hosts run
};

std::string describe(const Material& material, const Setting& setting, const Layout& layout) {
    return std::string(material.name) + ", " + setting.name + ", blocks of " +
           std::to_string(layout.blockSize) + " at offset " + std::to_string(layout.offset) +
           (layout.inPlace ? ", in place" : "");
}

// Renders the material through `process` block by block. Separate output
// buffers keep what the last block wrote there, as a host's do.
void render(const Material& material, const Setting& setting, const Layout& layout,
            std::vector<float>& out1, std::vector<float>& out2) {
    TestModule module(kRate);
    ASSERT_TRUE(module.valid());
    PinArena arena(static_cast<size_t>(layout.offset + layout.blockSize));
    if (layout.inPlace) {
        arena.share(PIN_OUTPUT1, PIN_INPUT1);
        arena.share(PIN_OUTPUT2, PIN_INPUT2);
    }
    arena.attach(*module);
    for (int band = 0; band < kBandCount; ++band) fillControls(arena, band, setting.bands[band]);
    out1.assign(material.left.size(), 0.0f);
    out2.assign(material.left.size(), 0.0f);
    for (size_t done = 0; done < material.left.size();) {
        const size_t count =
            std::min(static_cast<size_t>(layout.blockSize), material.left.size() - done);
        float* in1 = arena.pin(PIN_INPUT1) + layout.offset;
        float* in2 = arena.pin(PIN_INPUT2) + layout.offset;
        std::copy_n(material.left.begin() + static_cast<long>(done), count, in1);
        std::copy_n(material.right.begin() + static_cast<long>(done), count, in2);
        module.process(layout.offset, static_cast<int32_t>(count));
        std::copy_n(arena.pin(PIN_OUTPUT1) + layout.offset, count, out1.begin() + static_cast<long>(done));
        std::copy_n(arena.pin(PIN_OUTPUT2) + layout.offset, count, out2.begin() + static_cast<long>(done));
        done += count;
    }
}

// What resting bands may change: 1e-19 is -380 dBFS.
constexpr double kRestReach = 1e-19;
double largestDifference = 0.0;  // over every comparison, for the summary

::testing::AssertionResult sameSoundBelowTheRestReach(const std::vector<float>& actual,
                                                      const std::vector<float>& expected) {
    for (size_t i = 0; i < actual.size(); ++i) {
        const bool bothZero = actual[i] == 0.0f && expected[i] == 0.0f;
        if (bothZero || sameValue(actual[i], expected[i])) continue;
        const double d = std::fabs(static_cast<double>(actual[i]) - static_cast<double>(expected[i]));
        largestDifference = std::max(largestDifference, d);
        if (!(d <= kRestReach))
            return ::testing::AssertionFailure() << "frame " << i << ": " << show(actual[i])
                                                 << ", the plain cascade gives " << show(expected[i]);
    }
    return ::testing::AssertionSuccess();
}

TEST(SharedZeros, ProcessSoundsLikeAPlainCascadeThatFiltersEveryFrame) {
    const Material materials[] = {toneOnBoth(), monoMusic(), quietNoise(), silenceAfterNoise()};
    const Setting settings[] = {{"five active bands", activeBands()},
                                {"bands that come to rest", kRestingBands}};
    const Layout layouts[] = {{1024, 0, false}, {1024, 0, true}, {256, 3, false},
                              {64, 17, true},   {37, 1, false},  {1, 0, false}};
    for (const Material& material : materials)
        for (const Setting& setting : settings) {
            std::vector<float> plain1, plain2;
            PlainCascade(setting.bands).run(material.left, material.right, plain1, plain2);
            for (const Layout& layout : layouts) {
                std::vector<float> out1, out2;
                render(material, setting, layout, out1, out2);
                if (HasFatalFailure()) return;
                const std::string where = describe(material, setting, layout);
                EXPECT_TRUE(sameSoundBelowTheRestReach(out1, plain1)) << where << ", Output1";
                EXPECT_TRUE(sameSoundBelowTheRestReach(out2, plain2)) << where << ", Output2";
            }
        }
    std::printf("largest difference from the plain cascade: %.3g\n", largestDifference);
}

// Bands that come to rest do so within a block of silence, and from then on
// the silence is let through: the poll counter stops.
TEST(SharedZeros, BandsAtRestLetSilenceThroughAgain) {
    TestModule module(kRate);
    ASSERT_TRUE(module.valid());
    PinArena arena(1024);
    arena.attach(*module);
    for (int band = 0; band < kBandCount; ++band) fillControls(arena, band, kRestingBands[band]);
    Rng rng(23);
    fillNoise(arena, PIN_INPUT1, rng, 0.9f);
    fillNoise(arena, PIN_INPUT2, rng, 0.9f);
    module.process(0, 1024);
    arena.fill(PIN_INPUT1, 0.0f);
    arena.fill(PIN_INPUT2, 0.0f);
    arena.fill(PIN_OUTPUT1, 0.0f);  // the table lets these through (a = 1)
    arena.fill(PIN_OUTPUT2, 0.0f);
    module.process(0, 1024);
    EXPECT_TRUE(eq::filtersAtRest(*module));
    const int32_t counter = module->pollCounter;
    arena.fill(PIN_OUTPUT1, 0.0f);
    arena.fill(PIN_OUTPUT2, 0.0f);
    module.process(0, 1024);
    EXPECT_EQ(module->pollCounter, counter) << "silence through resting bands was filtered";
}

}  // namespace
