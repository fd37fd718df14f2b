// The silence and near-silence cases the processing loop is timed on, against
// loud noise: what the inputs hold and what stands in the output buffers
// before every call. Shared by the native benchmark and the 32-bit timing
// program that runs the shipped DLL under wine.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace silence {

// The loop never reads the output buffers, so the cases that differ only in
// what stands there all cost the same: zeros are flushed and filtered while
// the bands ring after the loud warm-up and skipped once they rest.
enum Case {
    Loud,                     // the reference: loud noise on both inputs
    ZerosOutputsHalfQuarter,  // zeros in, 0.5 / 0.25 standing in the outputs
    ZerosOutputsZero,         // zeros in, 0 / 0 standing
    ZerosOutputsTiny,         // zeros in, 1e-20 / 0.3 standing
    ZerosOutputsMinusOne,     // zeros in, -1 / 0 standing
    ZerosOutputsNaN,          // zeros in, NaN standing
    TailAfterNoise,           // loud noise stops dead: exact zeros from then on
    QuietNoise,               // noise around -120 dBFS
    OneSideSilent,            // left loud, right exactly zero: flushed and filtered
    RungDownAsLeft,           // a second after the sound stopped, outputs as the module left them
    RungDownZeroed,           // the same, with the host clearing the outputs before each call
    BeforeAnySound,           // zeros into bands that never sounded: skipped
    CaseCount
};

// Calls of the case's own material that come, untimed, after the loud
// warm-up: a second of silence at 48 kHz for the rung-down cases.
inline int warmDownCalls(int c, size_t blockSize) {
    return c == RungDownAsLeft || c == RungDownZeroed ? static_cast<int>(48000 / blockSize) : 0;
}

// The case starts on an instance that has never sounded: no warm-up.
inline bool startsFresh(int c) { return c == BeforeAnySound; }

inline const char* name(int c) {
    static const char* const names[CaseCount] = {
        "loud noise", "zeros, outputs 0.5/0.25", "zeros, outputs 0/0", "zeros, outputs 1e-20/0.3",
        "zeros, outputs -1/0", "zeros, outputs NaN", "tail after noise", "noise at -120 dBFS",
        "one side silent", "rung down, outputs as left", "rung down, outputs zeroed",
        "zeros before any sound"};
    return names[c];
}

inline std::vector<float> noise(size_t count, float amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(count);
    for (float& x : v) {
        x = dist(rng);
        if (x == 0.0f) x = amplitude * 0.5f;  // loud noise has no exact zeros
    }
    return v;
}

// Noise for the cases, `blocks` blocks of `blockSize` frames per channel.
struct Material {
    Material(size_t blocks, size_t blockSize)
        : blockSize(blockSize),
          blocks(blocks),
          loud(noise(blocks * blockSize + blockSize, 0.5f, 3)),
          quiet(noise(blocks * blockSize + blockSize, 1e-6f, 4)) {}
    size_t blockSize;
    size_t blocks;
    std::vector<float> loud;
    std::vector<float> quiet;

    const float* block(const std::vector<float>& source, size_t index) const {
        return source.data() + (index % blocks) * blockSize;
    }
};

// Fills the four audio buffers for call number `call` of a case.
inline void prepare(int c, const Material& m, size_t call, float* in1, float* in2, float* out1,
                    float* out2) {
    const size_t n = m.blockSize;
    auto copy = [n](const float* from, float* to) { std::copy(from, from + n, to); };
    auto set = [n](float* to, float value) { std::fill(to, to + n, value); };
    switch (c) {
        case Loud:
            copy(m.block(m.loud, call), in1);
            copy(m.block(m.loud, call + 1), in2);
            set(out1, 0.5f);
            set(out2, 0.25f);
            return;
        case QuietNoise:
            copy(m.block(m.quiet, call), in1);
            copy(m.block(m.quiet, call + 1), in2);
            return;
        case OneSideSilent:
            copy(m.block(m.loud, call), in1);
            set(in2, 0.0f);
            return;
        case TailAfterNoise:  // outputs keep what the last call wrote, as a host's buffers do
        case RungDownAsLeft:
            set(in1, 0.0f);
            set(in2, 0.0f);
            return;
        case RungDownZeroed:
            set(in1, 0.0f);
            set(in2, 0.0f);
            set(out1, 0.0f);
            set(out2, 0.0f);
            return;
        case BeforeAnySound:
            set(in1, 0.0f);
            set(in2, 0.0f);
            set(out1, 0.5f);
            set(out2, 0.25f);
            return;
        default:
            break;
    }
    set(in1, 0.0f);
    set(in2, 0.0f);
    const float standing[][2] = {{0, 0}, {0.5f, 0.25f}, {0.0f, 0.0f}, {1e-20f, 0.3f},
                                 {-1.0f, 0.0f}, {NAN, NAN}};
    set(out1, standing[c][0]);
    set(out2, standing[c][1]);
}

}  // namespace silence
