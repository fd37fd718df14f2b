// End-to-end render through the stand-in host and the real module library:
// a few seconds of deterministic stereo noise at 48 kHz through all five
// bands, with automated controls, a type change, silences and host blocks of
// changing size and offset, then material full of frames where both inputs
// are exactly zero (a 16-bit 1 kHz tone on both inputs, quiet 16-bit noise,
// silence after the noise stops), written as raw interleaved 32-bit floats.
// A second render, the sweep, moves every band to another design at every
// control poll: all nine types and a type without a response, frequencies
// from 10 Hz to past 20 kHz (a quarter of the rate among them), widths and
// gains in and out of range, about 15 000 designs in two seconds.
//
//   quorvane-e2e-render render OUT.raw
//   quorvane-e2e-render check OUT.raw       render, then check it is sound
//   quorvane-e2e-render sweep OUT.raw       the sweep (checked finite)
//   quorvane-e2e-render compare A.raw B.raw [BOUND]
//
// `compare` reports the largest difference between two renders of the same
// kind (and how many samples differ at all) and succeeds when both are
// complete and finite and the largest difference is at most BOUND (default
// 1e-4 of full scale). A BOUND of 0 asks for the same bits in every sample,
// signed zeros included.
//
// Everything the render computes itself is integer or exactly representable
// arithmetic, so the inputs and control streams are bit-identical on every
// build; only the module library's own arithmetic can differ.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/module_library.h"
#include "host/stack_call.h"
#include "host/stand_in_host.h"

namespace {

constexpr float kSampleRate = 48000.0f;
constexpr int32_t kNoiseFrames = 4 * 48000;
constexpr int32_t kFrames = 7 * 48000;
constexpr int32_t kSweepFrames = 2 * 48000;
constexpr int32_t kBlockSize = 512;
constexpr double kDefaultBound = 1e-4;

// xorshift32: uniform noise in [-0.5, 0.5) on a 2^-24 grid.
class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed) {}
    float next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<float>(static_cast<int32_t>(state_ >> 8) - (1 << 23)) * 0x1p-24f;
    }

private:
    uint32_t state_;
};

// A triangle between lo and hi with the given period in frames, from
// integer arithmetic and one float multiply-add per sample.
float triangle(int32_t frame, int32_t period, float lo, float hi) {
    const int32_t half = period / 2;
    const int32_t phase = frame % period;
    const int32_t rise = phase < half ? phase : period - phase;
    return lo + (hi - lo) * (static_cast<float>(rise) / static_cast<float>(half));
}

// After the noise: a second of a 16-bit 1 kHz triangle on both inputs
// (exact zeros on both every 24 frames), a second of 16-bit noise a few
// steps high (exact zeros all the time), then a second of silence.
void sharedZeros(int32_t t, float& l, float& r) {
    if (t < 48000) {
        const int32_t phase = t % 48;  // one period of 1 kHz
        const int32_t ramp = phase < 12 ? phase : phase < 36 ? 24 - phase : phase - 48;
        l = r = static_cast<float>(ramp * 1365) * 0x1p-15f;
    } else if (t < 96000) {
        l = static_cast<float>(static_cast<int32_t>(l * 8.0f)) * 0x1p-15f;
        r = static_cast<float>(static_cast<int32_t>(r * 8.0f)) * 0x1p-15f;
    } else {
        l = r = 0.0f;
    }
}

struct Pins {
    int32_t input1, input2, output1, output2;
    int32_t freq[5], gain[5], q[5], type[5];
};

bool findPins(const standin::Instance& instance, Pins& pins) {
    pins.input1 = instance.pinIndex("Input1");
    pins.input2 = instance.pinIndex("Input2");
    pins.output1 = instance.pinIndex("Output1");
    pins.output2 = instance.pinIndex("Output2");
    bool found = pins.input1 >= 0 && pins.input2 >= 0 && pins.output1 >= 0 && pins.output2 >= 0;
    for (int k = 0; k < 5; ++k) {
        const std::string n = std::to_string(k + 1);
        pins.freq[k] = instance.pinIndex("Freq" + n);
        pins.gain[k] = instance.pinIndex("Gain" + n);
        pins.q[k] = instance.pinIndex("Q" + n);
        pins.type[k] = instance.pinIndex("Type" + n);
        found =
            found && pins.freq[k] >= 0 && pins.gain[k] >= 0 && pins.q[k] >= 0 && pins.type[k] >= 0;
    }
    return found;
}

// The control values of frame `t` (a tenth of Hz, dB, octaves or shelf Q;
// the type unscaled).
void controlsAt(int32_t t, float freq[5], float gain[5], float q[5], float type[5]) {
    // Band 1: low shelf at 100 Hz, +6 dB.
    freq[0] = 10.0f, gain[0] = 0.6f, q[0] = 0.07f, type[0] = 7.0f;
    // Band 2: peak sweeping 300 Hz .. 1.2 kHz every 2 s, -5 dB, one octave.
    freq[1] = triangle(t, 96000, 30.0f, 120.0f), gain[1] = -0.5f, q[1] = 0.1f, type[1] = 6.0f;
    // Band 3: peak at 2.5 kHz whose gain swings between +8 and -8 dB every 1.5 s.
    freq[2] = 250.0f, gain[2] = triangle(t, 72000, -0.8f, 0.8f), q[2] = 0.05f, type[2] = 6.0f;
    // Band 4: a notch at 5 kHz, then from 2.5 s a +4 dB peak there.
    freq[3] = 500.0f, gain[3] = 0.4f, q[3] = 0.03f, type[3] = t < 120000 ? 4.0f : 6.4f;
    // Band 5: high shelf at 8 kHz, -7 dB.
    freq[4] = 800.0f, gain[4] = -0.7f, q[4] = 0.07f, type[4] = 8.0f;
}

// The sweep's controls: every band moves at every poll, the four controls
// stepping through their tables with different strides so that the
// combinations vary. Pin values, so a tenth of Hz, width and dB.
void sweepControlsAt(int32_t t, float freq[5], float gain[5], float q[5], float type[5]) {
    static const float kTypes[] = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 6.5f, 9.0f};
    static const float kFreqs[] = {0.5f, 1.0f, 2.5f, 6.3f, 16.0f, 40.0f, 100.0f, 250.0f, 630.0f,
                                   1000.0f, 1200.0f, 1600.0f, 1999.0f, 2400.0f};
    static const float kWidths[] = {0.01f, 0.03f, 0.07f, 0.1f, 0.2f, 0.3f, 0.05f, 0.0001f, 3.0f};
    static const float kGains[] = {-3.0f, -2.0f, -1.1f, -0.3f, 0.0f, 0.45f, 1.2f, 2.0f};
    const int32_t poll = t / 32;
    for (int32_t k = 0; k < 5; ++k) {
        type[k] = kTypes[(poll + 2 * k) % 11];
        freq[k] = kFreqs[(7 * poll + 3 * k) % 14];
        q[k] = kWidths[(5 * poll + k) % 9];
        gain[k] = kGains[(3 * poll + 5 * k) % 8];
    }
}

int render(const std::string& path, std::vector<float>& out, bool sweep) {
    std::string error;
    auto library = standin::ModuleLibrary::load(QUORVANE_MODULE_PATH, &error);
    if (!library) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    standin::Instance instance(library->exports());
    if (!instance.valid()) {
        std::fprintf(stderr, "makeModule gave no instance\n");
        return 1;
    }
    instance.setSampleRate(kSampleRate);
    instance.setBlockSize(kBlockSize);
    instance.open();
    Pins pins;
    if (!findPins(instance, pins)) {
        std::fprintf(stderr, "the module does not describe the equaliser's pins\n");
        return 1;
    }

    Noise left(0x2545F491u), right(0x9E3779B9u);
    static const int32_t kBlockPattern[] = {512, 256, 100, 512, 37, 480, 512, 1, 333};
    const int32_t frames = sweep ? kSweepFrames : kFrames;
    out.assign(static_cast<size_t>(frames) * 2, 0.0f);
    int32_t frame = 0;
    for (int32_t block = 0; frame < frames; ++block) {
        int32_t count = kBlockPattern[block % 9];
        if (count > frames - frame) count = frames - frame;
        for (int32_t i = 0; i < count; ++i) {
            const int32_t t = frame + i;
            float l = left.next(), r = right.next();
            float freq[5], gain[5], q[5], type[5];
            if (sweep) {
                // A tenth of full scale: the narrowest resonances stay finite.
                l *= 0.2f, r *= 0.2f;
                sweepControlsAt(t, freq, gain, q, type);
            } else {
                if (t >= 96000 && t < 108000) l = r = 0.0f;    // both silent for 0.25 s
                if (t >= 144000 && t < 148800) l = 0.0f;       // left silent for 0.1 s
                if (t >= 168000 && t < 168100) l = r = -0.0f;  // a short signed silence
                if (t >= kNoiseFrames) sharedZeros(t - kNoiseFrames, l, r);
                controlsAt(t, freq, gain, q, type);
            }
            instance.buffer(pins.input1)[static_cast<size_t>(i)] = l;
            instance.buffer(pins.input2)[static_cast<size_t>(i)] = r;
            for (int k = 0; k < 5; ++k) {
                instance.buffer(pins.freq[k])[static_cast<size_t>(i)] = freq[k];
                instance.buffer(pins.gain[k])[static_cast<size_t>(i)] = gain[k];
                instance.buffer(pins.q[k])[static_cast<size_t>(i)] = q[k];
                instance.buffer(pins.type[k])[static_cast<size_t>(i)] = type[k];
            }
        }
        // Every third block arrives in two calls, the second at an offset;
        // the stack is off its 16-byte alignment by a changing amount.
        standin::setStackMisalignment(4 * (block % 4));
        if (block % 3 == 2 && count > 1) {
            const int32_t first = count / 3;
            instance.process(0, first);
            instance.process(first, count - first);
        } else {
            instance.process(0, count);
        }
        for (int32_t i = 0; i < count; ++i) {
            out[2 * static_cast<size_t>(frame + i)] =
                instance.buffer(pins.output1)[static_cast<size_t>(i)];
            out[2 * static_cast<size_t>(frame + i) + 1] =
                instance.buffer(pins.output2)[static_cast<size_t>(i)];
        }
        frame += count;
    }
    standin::setStackMisalignment(0);

    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(out.data(), sizeof(float), out.size(), file) != out.size()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        if (file != nullptr) std::fclose(file);
        return 1;
    }
    std::fclose(file);
    std::printf("rendered %d frames at %g Hz to %s\n", frames, static_cast<double>(kSampleRate),
                path.c_str());
    return 0;
}

bool sameBits(float a, float b) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

bool readRaw(const std::string& path, std::vector<float>& samples) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    samples.clear();
    float buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, sizeof(float), 4096, file)) > 0)
        samples.insert(samples.end(), buffer, buffer + got);
    std::fclose(file);
    return true;
}

// Finite, as long as expected, and really equalised: loud enough and not
// the input passed through.
int check(const std::vector<float>& out) {
    double energy = 0.0;
    float peak = 0.0f;
    for (float v : out) {
        if (!std::isfinite(v)) {
            std::printf("FAIL: a non-finite output sample\n");
            return 1;
        }
        energy += static_cast<double>(v) * v;
        peak = std::fabs(v) > peak ? std::fabs(v) : peak;
    }
    const double rms = std::sqrt(energy / static_cast<double>(out.size()));
    Noise left(0x2545F491u);
    int32_t same = 0;
    for (int32_t t = 0; t < 48000; ++t) same += out[2 * static_cast<size_t>(t)] == left.next();
    // The last second is silence after sound: the filters ring on into it
    // and die away (each output below the last one a second earlier).
    const size_t tail = static_cast<size_t>(kFrames - 48000) * 2;
    double tailPeak = 0.0;
    for (size_t i = tail + 48000; i < out.size(); ++i)
        tailPeak = std::fmax(tailPeak, std::fabs(static_cast<double>(out[i])));
    std::printf("peak of the last half second of silence: %.3g\n", tailPeak);
    if (tailPeak > 1e-20) {
        std::printf("FAIL: the filters did not die away in silence\n");
        return 1;
    }
    std::printf("rms %.6g, peak %.6g, %d of the first 48000 left samples equal the input\n", rms,
                static_cast<double>(peak), same);
    if (out.size() != static_cast<size_t>(kFrames) * 2 || rms < 0.05 || rms > 2.0 || same > 100) {
        std::printf("FAIL: the render is not a plausible equalised signal\n");
        return 1;
    }
    std::printf("PASS\n");
    return 0;
}

int compare(const std::string& pathA, const std::string& pathB, double bound) {
    std::vector<float> a, b;
    if (!readRaw(pathA, a) || !readRaw(pathB, b)) {
        std::printf("FAIL: cannot read %s or %s\n", pathA.c_str(), pathB.c_str());
        return 1;
    }
    const bool known = a.size() == static_cast<size_t>(kFrames) * 2 ||
                       a.size() == static_cast<size_t>(kSweepFrames) * 2;
    if (a.size() != b.size() || !known) {
        std::printf("FAIL: sizes differ or are not a render's (%zu and %zu samples)\n", a.size(),
                    b.size());
        return 1;
    }
    size_t differing = 0, nonFinite = 0, worst = 0;
    double largest = 0.0, peak = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!std::isfinite(a[i]) || !std::isfinite(b[i])) {
            ++nonFinite;
            continue;
        }
        peak = std::fmax(peak, std::fabs(static_cast<double>(b[i])));
        if (sameBits(a[i], b[i])) continue;
        ++differing;
        const double d = std::fabs(static_cast<double>(a[i]) - static_cast<double>(b[i]));
        if (d > largest) largest = d, worst = i;
    }
    std::printf("compared %zu samples (%zu frames, 2 channels)\n", a.size(), a.size() / 2);
    std::printf("samples that differ: %zu (%.4f%%)\n", differing,
                100.0 * static_cast<double>(differing) / static_cast<double>(a.size()));
    std::printf("largest difference: %.6g of full scale (%.6g of the output peak %.6g)", largest,
                peak > 0.0 ? largest / peak : 0.0, peak);
    if (differing > 0)
        std::printf(" at frame %zu, %s channel: %.9g vs %.9g", worst / 2,
                    worst % 2 ? "right" : "left", static_cast<double>(a[worst]),
                    static_cast<double>(b[worst]));
    std::printf("\nbound: %.3g of full scale\n", bound);
    if (nonFinite > 0) {
        std::printf("FAIL: %zu non-finite samples\n", nonFinite);
        return 1;
    }
    if (!(largest <= bound) || (bound == 0.0 && differing > 0)) {
        std::printf("FAIL: the outputs differ by more than the bound\n");
        return 1;
    }
    std::printf("PASS\n");
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: quorvane-e2e-render render OUT.raw\n"
                 "       quorvane-e2e-render check OUT.raw\n"
                 "       quorvane-e2e-render sweep OUT.raw\n"
                 "       quorvane-e2e-render compare A.raw B.raw [BOUND]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string mode = argv[1];
    if (mode == "render" || mode == "check") {
        std::vector<float> out;
        const int result = render(argv[2], out, false);
        if (result != 0 || mode == "render") return result;
        return check(out);
    }
    if (mode == "sweep") {
        std::vector<float> out;
        if (render(argv[2], out, true) != 0) return 1;
        for (float v : out)
            if (!std::isfinite(v)) {
                std::printf("FAIL: a non-finite output sample in the sweep\n");
                return 1;
            }
        return 0;
    }
    if (mode == "compare" && argc >= 4) {
        const double bound = argc >= 5 ? std::strtod(argv[4], nullptr) : kDefaultBound;
        return compare(argv[2], argv[3], bound);
    }
    return usage();
}
