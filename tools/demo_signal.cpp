#include "tools/demo_signal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

namespace qvtools {

void demoBands(bool (&given)[kBandCount], BandSetting (&bands)[kBandCount]) {
    const char* const demo[kBandCount] = {"1=highpass,40Hz,q0.707", "2=lowshelf,150Hz,q0.7,+4dB",
                                          "3=peaking,450Hz,1.5oct,-5dB", "4=peaking,3kHz,0.7oct,+6dB",
                                          "5=highshelf,10kHz,q0.7,-4dB"};
    for (int band = 0; band < kBandCount; ++band) {
        BandOption option;
        std::string ignored;
        parseBandOption(demo[band], &option, &ignored);
        given[band] = true;
        bands[band] = option.setting;
    }
}

std::vector<float> demoSignal(double sampleRate) {
    const double pi = 3.14159265358979323846;
    const size_t noise = static_cast<size_t>(4.0 * sampleRate);
    const size_t pause = static_cast<size_t>(0.5 * sampleRate);
    const size_t sweep = static_cast<size_t>(8.0 * sampleRate);
    std::vector<float> signal(2 * (noise + pause + sweep), 0.0f);

    // Pink noise: white noise from a fixed-seed generator through a set of
    // first-order filters whose sum falls at 3 dB per octave.
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    const auto white = [&seed]() {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return static_cast<double>(seed >> 11) / 9007199254740992.0 * 2.0 - 1.0;
    };
    for (int channel = 0; channel < 2; ++channel) {
        double b[7] = {};
        for (size_t i = 0; i < noise; ++i) {
            const double w = white();
            b[0] = 0.99886 * b[0] + w * 0.0555179;
            b[1] = 0.99332 * b[1] + w * 0.0750759;
            b[2] = 0.96900 * b[2] + w * 0.1538520;
            b[3] = 0.86650 * b[3] + w * 0.3104856;
            b[4] = 0.55000 * b[4] + w * 0.5329522;
            b[5] = -0.7616 * b[5] - w * 0.0168980;
            const double pink = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + w * 0.5362;
            b[6] = w * 0.115926;
            const double fade = std::min({1.0, i / (0.01 * sampleRate), (noise - i) / (0.01 * sampleRate)});
            signal[2 * i + channel] = static_cast<float>(0.04 * pink * fade);
        }
    }
    // Logarithmic sweep, 20 Hz to 20 kHz (or near half the sample rate), the
    // same on both channels.
    const double f0 = 20.0, f1 = std::min(20000.0, 0.45 * sampleRate);
    const double duration = static_cast<double>(sweep) / sampleRate;
    const double k = std::log(f1 / f0);
    for (size_t i = 0; i < sweep; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double phase = 2.0 * pi * f0 * duration / k * (std::exp(t / duration * k) - 1.0);
        const double fade = std::min({1.0, i / (0.01 * sampleRate), (sweep - i) / (0.01 * sampleRate)});
        const float value = static_cast<float>(0.25 * std::sin(phase) * fade);
        const size_t at = noise + pause + i;
        signal[2 * at] = value;
        signal[2 * at + 1] = value;
    }
    return signal;
}

}  // namespace qvtools
