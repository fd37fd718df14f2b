// Times run() of our plug-in beside the equalisers people use instead, all
// set to the same five bells: 48 kHz stereo noise in 1024-frame blocks (or --frames),
// every peer once per round in a rotating order, CPU time of this thread
// (sox: of the sox process), the median over the rounds. Each peer's gain at
// the five centres is measured first, so a peer that does not filter shows.
// Our module alone, fed as the plug-in feeds it, is timed beside them: the
// floor of the plug-in's time.
//
//     quorvane-peer-bench [--rounds N] [--seconds S] [--frames N] [--work-dir DIR]
//
// --frames sets the host's period (1024 frames by default).
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/peers/lilv_peer.h"
#include "bench/peers/module_alone.h"
#include "bench/peers/peer_settings.h"
#include "bench/peers/sox_peer.h"

namespace {

using namespace peers;

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 1024;
constexpr size_t kNoiseFrames = 1 << 16;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : 0.5 * (values[mid - 1] + values[mid]);
}

// Uniform noise at about -9 dBFS RMS, different on each side.
std::vector<float> noise(size_t frames, uint32_t seed) {
    std::vector<float> samples(frames);
    for (float& s : samples) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
    }
    return samples;
}

// A sine on both sides, as separate planes.
std::vector<float> sine(double freqHz, size_t frames) {
    std::vector<float> samples(frames);
    for (size_t i = 0; i < frames; ++i)
        samples[i] = static_cast<float>(0.25 * std::sin(2.0 * M_PI * freqHz * static_cast<double>(i) / kRate));
    return samples;
}

double rmsDb(const float* samples, size_t count, size_t stride) {
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) sum += static_cast<double>(samples[i * stride]) * samples[i * stride];
    return 10.0 * std::log10(sum / static_cast<double>(count) + 1e-30);
}

// Gain in dB at each centre: a second of sine to settle, then the level of
// the last half second on the left output against the input.
constexpr size_t kProbeFrames = 72000;
constexpr size_t kMeasuredFrames = 24000;

template <typename Equaliser>
std::vector<double> centreGains(Equaliser& peer, uint32_t block) {
    std::vector<double> gains;
    std::vector<float> outLeft(kProbeFrames), outRight(kProbeFrames);
    for (const Bell& bell : kBells) {
        const std::vector<float> in = sine(bell.freqHz, kProbeFrames);
        for (size_t done = 0; done < kProbeFrames; done += block) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, kProbeFrames - done));
            peer.process(in.data() + done, in.data() + done, outLeft.data() + done, outRight.data() + done, n);
        }
        const size_t from = kProbeFrames - kMeasuredFrames;
        gains.push_back(rmsDb(outLeft.data() + from, kMeasuredFrames, 1) - rmsDb(in.data() + from, kMeasuredFrames, 1));
    }
    return gains;
}

std::vector<double> soxCentreGains(const SoxPeer& sox) {
    std::vector<double> gains;
    for (const Bell& bell : kBells) {
        const std::vector<float> plane = sine(bell.freqHz, kProbeFrames);
        std::vector<float> interleaved(2 * kProbeFrames), out;
        for (size_t i = 0; i < kProbeFrames; ++i) interleaved[2 * i] = interleaved[2 * i + 1] = plane[i];
        if (!sox.filter(interleaved, &out)) return {};
        const size_t from = kProbeFrames - kMeasuredFrames;
        gains.push_back(rmsDb(out.data() + 2 * from, kMeasuredFrames, 2) -
                        rmsDb(interleaved.data() + 2 * from, kMeasuredFrames, 2));
    }
    return gains;
}

struct Row {
    std::string name;
    std::string closeness;
    std::unique_ptr<Peer> peer;  // null for sox and for our module alone
    std::unique_ptr<ModuleAlone> module;
    std::vector<double> gains;
    std::vector<double> nsPerFrame;  // one per round
};

void printGains(const std::vector<Row>& rows) {
    std::printf("\nGain at the five centres (dB; target");
    for (const Bell& bell : kBells) std::printf(" %+.1f", bell.gainDb);
    std::printf(")\n");
    std::printf("%-40s", "");
    for (const Bell& bell : kBells) std::printf(" %8.0f Hz", bell.freqHz);
    std::printf("   filtering\n");
    for (const Row& row : rows) {
        std::printf("%-40s", row.name.c_str());
        double largest = 0.0;
        for (double g : row.gains) {
            std::printf(" %+11.2f", g);
            largest = std::max(largest, std::fabs(g));
        }
        std::printf("   %s\n", row.gains.empty() ? "not measured" : largest > 0.5 ? "yes" : "NO");
    }
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 21;
    double seconds = 8.0;
    std::string workDir = "/tmp";
    uint32_t block = kBlock;  // frames a run() (the host's period)
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--seconds") seconds = std::max(0.1, std::atof(argv[i + 1]));
        else if (option == "--work-dir") workDir = argv[i + 1];
        else if (option == "--frames") block = static_cast<uint32_t>(std::max(1, std::min(8192, std::atoi(argv[i + 1]))));
        else {
            std::fprintf(stderr, "usage: quorvane-peer-bench [--rounds N] [--seconds S] [--frames N] [--work-dir DIR]\n");
            return 2;
        }
    }

    Host host(kRate, block);
    std::vector<Row> rows;
    for (const PeerSetting& setting : peerSettings()) {
        std::string error;
        std::unique_ptr<Peer> peer = Peer::create(host, setting.uri, kRate, block, setting.inputs, setting.outputs,
                                                  setting.controls, &error);
        if (!peer) {
            std::printf("skipped %s: %s\n", setting.name.c_str(), error.c_str());
            if (rows.empty()) {
                std::fprintf(stderr, "our plug-in is needed as the reference (is LV2_PATH set?)\n");
                return 1;
            }
            continue;
        }
        Row row{setting.name, setting.closeness, std::move(peer), nullptr, {}, {}};
        row.gains = centreGains(*row.peer, block);
        rows.push_back(std::move(row));
    }
    // The floor of our plug-in's time: its module alone, fed as the plug-in
    // feeds it, with no host, ports or copies around it.
    rows.push_back({"Quorvane module alone (no LV2 host)", "the five bells exactly, as the plug-in's module",
                    nullptr, std::make_unique<ModuleAlone>(kRate, block), {}, {}});
    rows.back().gains = centreGains(*rows.back().module, block);
    const SoxPeer sox(workDir, soxEqualizerArguments());
    const size_t soxFrames = static_cast<size_t>(seconds * kRate);
    std::string soxInput;
    if (sox.available()) {
        const std::vector<float> left = noise(soxFrames, 1), right = noise(soxFrames, 2);
        std::vector<float> interleaved(2 * soxFrames);
        for (size_t i = 0; i < soxFrames; ++i) {
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
        }
        soxInput = sox.writeRaw("sox-noise.raw", interleaved);
        rows.push_back({"sox equalizer x5 (whole command)", "the five bells (1 octave each)", nullptr, nullptr,
                        soxCentreGains(sox), {}});
        rows.push_back({"sox equalizer x5 (less reading/writing)", "the same command less a run with no effect",
                        nullptr, nullptr, rows.back().gains, {}});
    } else {
        std::printf("skipped sox: not installed\n");
    }

    const std::vector<float> left = noise(kNoiseFrames, 1), right = noise(kNoiseFrames, 2);
    std::vector<float> outLeft(block), outRight(block);
    const size_t blocks = static_cast<size_t>(seconds * kRate) / block;
    const size_t pluginRows = rows.size() - (soxInput.empty() ? 0 : 2);
    std::printf("timing %d rounds of %.1f s of audio per equaliser...\n", rounds, seconds);
    std::fflush(stdout);
    for (int round = 0; round < rounds; ++round) {
        // Each round starts with a different equaliser, so none always runs
        // right after the same neighbour or first on a cold cache.
        const size_t entries = pluginRows + (soxInput.empty() ? 0 : 1);
        for (size_t k = 0; k < entries; ++k) {
            const size_t which = (k + static_cast<size_t>(round)) % entries;
            if (which == pluginRows) {
                const double withEffects = sox.cpuSecondsWithEffects(soxInput);
                const double passing = sox.cpuSecondsPassingThrough(soxInput);
                const double frames = static_cast<double>(soxFrames);
                rows[pluginRows].nsPerFrame.push_back(withEffects * 1e9 / frames);
                rows[pluginRows + 1].nsPerFrame.push_back((withEffects - passing) * 1e9 / frames);
                continue;
            }
            Row& row = rows[which];
            const double start = threadCpuSeconds();
            for (size_t b = 0; b < blocks; ++b) {
                const size_t offset = (b * block) % kNoiseFrames;
                if (row.module)
                    row.module->process(left.data() + offset, right.data() + offset, outLeft.data(), outRight.data(),
                                        block);
                else
                    row.peer->process(left.data() + offset, right.data() + offset, outLeft.data(), outRight.data(),
                                      block);
            }
            rows[which].nsPerFrame.push_back((threadCpuSeconds() - start) * 1e9 /
                                             static_cast<double>(blocks * block));
        }
    }

    printGains(rows);
    const double ours = median(rows[0].nsPerFrame);
    std::printf("\n%-40s %12s %10s %14s\n", "equaliser", "ns/frame", "x ours", "spread (ns)");
    for (const Row& row : rows) {
        const auto [low, high] = std::minmax_element(row.nsPerFrame.begin(), row.nsPerFrame.end());
        const double m = median(row.nsPerFrame);
        std::printf("%-40s %12.1f %10.2f %6.1f..%-6.1f\n", row.name.c_str(), m, m / ours, *low, *high);
    }
    // The target: the fastest peer at least twice our plug-in's time. Its
    // floor is the ratio to our module alone, which the plug-in's time
    // cannot go below.
    const Row* fastest = nullptr;
    const Row* module = nullptr;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].module) module = &rows[i];
        // A time worked out as a difference of two (sox's, less its reading
        // and writing) can come out at or below zero on a busy machine:
        // that is no measurement, and no fastest peer.
        else if (!(median(rows[i].nsPerFrame) > 0.0)) continue;
        else if (!fastest || median(rows[i].nsPerFrame) < median(fastest->nsPerFrame)) fastest = &rows[i];
    }
    if (fastest && module)
        std::printf("\nthe fastest peer, %s, takes %.2f x our plug-in's time (target 2); %.2f x our module's alone"
                    " (the floor of that ratio)\n",
                    fastest->name.c_str(), median(fastest->nsPerFrame) / ours,
                    median(fastest->nsPerFrame) / median(module->nsPerFrame));
    std::printf("\nHow close each configuration gets to the five bells:\n");
    for (const Row& row : rows) std::printf("  %s: %s\n", row.name.c_str(), row.closeness.c_str());
    return 0;
}
