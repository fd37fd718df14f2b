// silence_timing [LIBRARY]: times the module library as shipped, through the
// stand-in host, on loud noise and on each silence case, and prints each
// case's cost against loud noise, and loud noise against the plain cascade
// (bench/plain_cascade.h) built the same way. A plain timing loop, so it runs
// wherever the library does (the 32-bit DLL under wine included); the path
// it takes follows QUORVANE_KERNEL as the library's does. Under user-mode
// emulation (QUORVANE_DLL_RUNNER=emulated, set by run-32bit) a time says
// nothing about the DLL: every case is still driven, briefly, and every
// figure reads "not timed (emulated)".
#include <chrono>
#include <cstdlib>
#include <vector>
#include <cstdio>
#include <string>

#include "bench/plain_cascade.h"
#include "bench/silence_cases.h"
#include "equaliser/process_steps.h"
#include "host/stand_in_host.h"

namespace {

constexpr int kBlockSize = 1024;
constexpr int kTimedCalls = 600;
constexpr int kEmulatedCalls = 8;

int callsPerRound = kTimedCalls;
int rounds = 3;

bool emulated() {
    const char* runner = std::getenv("QUORVANE_DLL_RUNNER");
    return runner != nullptr && std::string(runner) == "emulated";
}

double secondsFor(standin::Instance& instance, int which, const silence::Material& material) {
    float* in1 = instance.buffer(0).data();
    float* in2 = instance.buffer(1).data();
    float* out1 = instance.buffer(22).data();
    float* out2 = instance.buffer(23).data();
    // Warm up from loud noise, so silence starts from a real filter state,
    // and let the rung-down cases ring down. (A case that starts fresh is
    // given an instance that has never sounded.)
    if (!silence::startsFresh(which)) {
        silence::prepare(silence::Loud, material, 0, in1, in2, out1, out2);
        instance.process(0, kBlockSize);
        for (int i = 0; i < silence::warmDownCalls(which, kBlockSize); ++i) {
            silence::prepare(which, material, static_cast<size_t>(i), in1, in2, out1, out2);
            instance.process(0, kBlockSize);
        }
    }
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        double total = 0.0;
        for (int call = 0; call < callsPerRound; ++call) {
            silence::prepare(which, material, static_cast<size_t>(call), in1, in2, out1, out2);
            const auto start = std::chrono::steady_clock::now();
            instance.process(0, kBlockSize);
            total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        if (total < best) best = total;
    }
    return best;
}

// The plain cascade with the same five bands, on the same loud noise.
double plainSecondsFor(const float (&settings)[5][4], const silence::Material& material) {
    const double saved = radiansPerHertz;
    radiansPerHertz = 6.283185307179586 / 48000.0;
    plain::Cascade cascade;
    for (int band = 0; band < 5; ++band) {
        BandFilter filter;
        resetBandFilter(filter);
        const float* s = settings[band];
        designBand(&filter, eq::toFilterType(s[3]), 10.0f * s[0], 10.0f * s[2], 10.0f * s[1]);
        cascade.design(band, filter);
    }
    radiansPerHertz = saved;
    std::vector<float> in1(kBlockSize), in2(kBlockSize), out1(kBlockSize), out2(kBlockSize);
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        double total = 0.0;
        for (int call = 0; call < callsPerRound; ++call) {
            silence::prepare(silence::Loud, material, static_cast<size_t>(call), in1.data(), in2.data(),
                             out1.data(), out2.data());
            const auto start = std::chrono::steady_clock::now();
            cascade.run(in1.data(), in2.data(), out1.data(), out2.data(), kBlockSize);
            total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        if (total < best) best = total;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : QUORVANE_MODULE_PATH;
    std::string error;
    auto library = standin::ModuleLibrary::load(path, &error);
    if (!library) {
        std::fprintf(stderr, "silence_timing: %s\n", error.c_str());
        return 1;
    }
    if (emulated()) callsPerRound = kEmulatedCalls, rounds = 1;
    // Five active bands, so every filtered frame costs what it does in use.
    const float settings[5][4] = {{8.0f, 0.4f, 0.07f, 7.0f}, {25.0f, -0.3f, 0.1f, 6.0f},
                                  {100.0f, 0.25f, 0.15f, 6.0f}, {400.0f, -0.45f, 0.05f, 6.0f},
                                  {900.0f, 0.3f, 0.07f, 8.0f}};
    const silence::Material material(32, kBlockSize);
    double seconds[silence::CaseCount];
    // Every case on an instance of its own, opened as a host opens one.
    for (int c = 0; c < silence::CaseCount; ++c) {
        standin::Instance instance(library->exports());
        instance.setSampleRate(48000.0f);
        instance.setBlockSize(kBlockSize);
        instance.open();
        for (int band = 0; band < 5; ++band)
            for (int control = 0; control < 4; ++control)
                instance.fill(2 + 4 * band + control, settings[band][control]);
        seconds[c] = secondsFor(instance, c, material);
    }

    const double plainSeconds = plainSecondsFor(settings, material);
    const char* kernel = std::getenv("QUORVANE_KERNEL");
    const char* kernelName = kernel != nullptr ? kernel : "best";
    if (emulated()) {
        std::printf("%s: loud noise: not timed (emulated)\n", path.c_str());
        std::printf("plain cascade: not timed (emulated); process / plain cascade (%s path): not timed (emulated)\n",
                    kernelName);
        std::printf("silence cost against loud noise:\n");
        for (int c = silence::Loud + 1; c < silence::CaseCount; ++c)
            std::printf("  %-28s not timed (emulated)\n", silence::name(c));
        return 0;
    }
    std::printf("%s: loud noise %.1f ns per stereo frame\n", path.c_str(),
                seconds[silence::Loud] * 1e9 / (callsPerRound * kBlockSize));
    std::printf("plain cascade %.1f ns per stereo frame; process / plain cascade (%s path): %.3f\n",
                plainSeconds * 1e9 / (callsPerRound * kBlockSize), kernelName, seconds[silence::Loud] / plainSeconds);
    std::printf("silence cost against loud noise (limits: 1.5 where filtered, 0.2 rung down and"
                " skipped, 0.15 before any sound):\n");
    for (int c = silence::Loud + 1; c < silence::CaseCount; ++c)
        std::printf("  %-28s %.2f\n", silence::name(c), seconds[c] / seconds[silence::Loud]);
    return 0;
}
