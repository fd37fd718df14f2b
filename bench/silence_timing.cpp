// silence_timing [LIBRARY]: times the module library as shipped, through the
// stand-in host, on loud noise and on each silence case, and prints each
// case's cost against loud noise, and loud noise against the plain cascade
// (bench/plain_cascade.h, both orders) built the same way, and the floor of
// the loop's arithmetic in this build: its steady steps alone (the 32-bit
// build's are the DLL's own, compiled the same way). A plain timing
// loop, so it runs wherever the library does (the 32-bit DLL under wine
// included); the path it takes follows QUORVANE_KERNEL as the library's
// does. Under user-mode emulation (QUORVANE_DLL_RUNNER=emulated, set by
// run-32bit) a time says nothing about the DLL: every case is still driven,
// briefly, and every figure reads "not timed (emulated)".
//
// On a shared machine other work only ever adds time, and it comes and goes
// within milliseconds: every subject is timed in many short bursts, the
// subjects' bursts interleaved in an order shuffled anew each round, and
// each keeps its least time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/host_calls.h"
#include "bench/plain_cascade.h"
#include "bench/silence_cases.h"
#include "bench/steady_steps.h"
#include "equaliser/kernel_path.h"
#include "equaliser/process_steps.h"
#include "host/stand_in_host.h"

namespace {

constexpr int kBlockSize = 1024;
constexpr int kTimedRounds = 60;
constexpr int kCallsPerBurst = 8;

bool emulated() {
    const char* runner = std::getenv("QUORVANE_DLL_RUNNER");
    return runner != nullptr && std::string(runner) == "emulated";
}

// Five active bands, so every filtered frame costs what it does in use.
constexpr float kSettings[5][4] = {{8.0f, 0.4f, 0.07f, 7.0f}, {25.0f, -0.3f, 0.1f, 6.0f},
                                   {100.0f, 0.25f, 0.15f, 6.0f}, {400.0f, -0.45f, 0.05f, 6.0f},
                                   {900.0f, 0.3f, 0.07f, 8.0f}};

// Something timed a burst at a time, the same host work around each call.
struct Subject {
    virtual ~Subject() = default;
    virtual void call(size_t index) = 0;  // fills the buffers as a host does, then processes one block
    double best = 1e30;                   // seconds per block
    size_t calls = 0;
    int frames = kBlockSize;              // frames per call
};

// The five bands designed at 48 kHz, as the instances design them.
void designBands(BandFilter (&filters)[5]) {
    for (int band = 0; band < 5; ++band) {
        resetBandFilter(filters[band], 6.283185307179586 / 48000.0);
        const float* s = kSettings[band];
        designBand(&filters[band], eq::toFilterType(s[3]), 10.0f * s[0], 10.0f * s[2], 10.0f * s[1]);
    }
}

// One silence case on an instance of its own, opened as a host opens one.
class Case : public Subject {
public:
    Case(const standin::ModuleExports& exports, int which, const silence::Material& material)
        : which_(which), material_(material), instance_(exports) {
        instance_.setSampleRate(48000.0f);
        instance_.setBlockSize(kBlockSize);
        instance_.open();
        for (int band = 0; band < 5; ++band)
            for (int control = 0; control < 4; ++control)
                instance_.fill(2 + 4 * band + control, kSettings[band][control]);
        // Warm up from loud noise, so silence starts from a real filter
        // state, and let the rung-down cases ring down.
        if (!silence::startsFresh(which)) {
            prepare(silence::Loud, 0);
            instance_.process(0, kBlockSize);
            for (int i = 0; i < silence::warmDownCalls(which, kBlockSize); ++i) {
                prepare(which, static_cast<size_t>(i));
                instance_.process(0, kBlockSize);
            }
        }
    }
    void prepare(int which, size_t index) {
        silence::prepare(which, material_, index, instance_.buffer(0).data(), instance_.buffer(1).data(),
                         instance_.buffer(22).data(), instance_.buffer(23).data());
    }
    void call(size_t index) override {
        prepare(which_, index);
        instance_.process(0, kBlockSize);
    }

private:
    int which_;
    const silence::Material& material_;
    standin::Instance instance_;
};

// The plain cascade with the same five bands on the same loud noise, in one
// of its two orders.
class Plain : public Subject {
public:
    Plain(bool bandMajor, const silence::Material& material) : bandMajor_(bandMajor), material_(material) {
        BandFilter filters[5];
        designBands(filters);
        for (int band = 0; band < 5; ++band) cascade_.design(band, filters[band]);
        for (auto* b : {&in1_, &in2_, &out1_, &out2_}) b->assign(kBlockSize, 0.0f);
    }
    void call(size_t index) override {
        silence::prepare(silence::Loud, material_, index, in1_.data(), in2_.data(), out1_.data(), out2_.data());
        if (bandMajor_)
            cascade_.runBandMajor(in1_.data(), in2_.data(), out1_.data(), out2_.data(), kBlockSize);
        else
            cascade_.run(in1_.data(), in2_.data(), out1_.data(), out2_.data(), kBlockSize);
    }

private:
    bool bandMajor_;
    const silence::Material& material_;
    plain::Cascade cascade_;
    std::vector<float> in1_, in2_, out1_, out2_;
};

// The loop's floor in this build (bench/steady_steps.h): its steady steps
// alone, on the same bands, a block's worth of frames a call. In the 32-bit
// build these are the DLL's own steps, compiled the same way.
class Steps : public Subject {
public:
    Steps() : steps_(designedSteps()) {}
    void call(size_t) override {
        for (int32_t done = 0; done < kBlockSize; done += steady::Steps::kSteps) sink_ += steps_.run();
    }

private:
    static steady::Steps designedSteps() {
        BandFilter filters[5];
        designBands(filters);
        const BandFilter* const bands[5] = {&filters[0], &filters[1], &filters[2], &filters[3], &filters[4]};
        return steady::Steps(bands);  // takes the coefficients now
    }
    steady::Steps steps_;
    volatile int32_t sink_ = 0;
};

// The host's calls at one length (bench/host_calls.h): one buffer per pin,
// reused, the module's own output left in its output buffers (or cleared
// before each call); loud noise, or silence after sound once the bands rest.
class HostCall : public Subject {
public:
    HostCall(const standin::ModuleExports& exports, int frames, int which, const silence::Material& material)
        : which_(which), material_(material), instance_(exports) {
        this->frames = frames;
        instance_.setSampleRate(48000.0f);
        instance_.setBlockSize(frames);
        instance_.open();
        for (int band = 0; band < 5; ++band)
            for (int control = 0; control < 4; ++control)
                instance_.fill(2 + 4 * band + control, kSettings[band][control]);
        if (which_ != hostcalls::Loud) {
            for (int done = 0; done < hostcalls::kLoudWarmUpFrames; done += frames) loud(calls++);
            for (int done = 0; done < hostcalls::kRingDownFrames; done += frames) call(0);
        }
    }
    void call(size_t index) override {
        if (which_ == hostcalls::Loud) return loud(index);
        std::fill_n(instance_.buffer(0).data(), frames, 0.0f);
        std::fill_n(instance_.buffer(1).data(), frames, 0.0f);
        if (which_ == hostcalls::RungDownCleared) {
            std::fill_n(instance_.buffer(22).data(), frames, 0.0f);
            std::fill_n(instance_.buffer(23).data(), frames, 0.0f);
        }
        instance_.process(0, frames);
    }

private:
    void loud(size_t index) {
        const size_t start = (index * static_cast<size_t>(frames)) % (material_.loud.size() - kBlockSize - 1);
        std::copy_n(material_.loud.data() + start, frames, instance_.buffer(0).data());
        std::copy_n(material_.loud.data() + start + 1, frames, instance_.buffer(1).data());
        instance_.process(0, frames);
    }
    int which_;
    const silence::Material& material_;
    standin::Instance instance_;
};

// The plain cascade called frame by frame at the same length, its state kept
// between calls.
class PlainCalls : public Subject {
public:
    PlainCalls(int frames, const silence::Material& material) : material_(material) {
        this->frames = frames;
        BandFilter filters[5];
        designBands(filters);
        for (int band = 0; band < 5; ++band) cascade_.design(band, filters[band]);
        for (auto* b : {&in1_, &in2_, &out1_, &out2_}) b->assign(static_cast<size_t>(frames), 0.0f);
    }
    void call(size_t index) override {
        const size_t start = (index * static_cast<size_t>(frames)) % (material_.loud.size() - kBlockSize - 1);
        std::copy_n(material_.loud.data() + start, frames, in1_.data());
        std::copy_n(material_.loud.data() + start + 1, frames, in2_.data());
        cascade_.run(in1_.data(), in2_.data(), out1_.data(), out2_.data(), frames);
    }

private:
    const silence::Material& material_;
    plain::Cascade cascade_;
    std::vector<float> in1_, in2_, out1_, out2_;
};

// The floor (bench/host_calls.h) in this build: one band's recursion chain.
class Floor : public Subject {
public:
    explicit Floor(const silence::Material& material) : material_(material) {}
    void call(size_t) override { sink_ = chain_.run(material_.loud.data(), kBlockSize); }

private:
    const silence::Material& material_;
    hostcalls::FloorChain chain_;
    volatile double sink_ = 0.0;
};

// One burst of calls, each with the host's filling of the buffers before it,
// as the native benchmark times them.
void burst(Subject& s) {
    const auto start = std::chrono::steady_clock::now();
    // Short calls in longer bursts: at least a block's worth of frames.
    const int calls = std::max(kCallsPerBurst, kCallsPerBurst * kBlockSize / s.frames / 8);
    for (int i = 0; i < calls; ++i) s.call(s.calls++);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    s.best = std::min(s.best, seconds / calls);
}

double nsPerFrame(const Subject& s) { return s.best * 1e9 / s.frames; }

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : QUORVANE_MODULE_PATH;
    std::string error;
    auto library = standin::ModuleLibrary::load(path, &error);
    if (!library) {
        std::fprintf(stderr, "silence_timing: %s\n", error.c_str());
        return 1;
    }
    const silence::Material material(32, kBlockSize);
    std::vector<std::unique_ptr<Subject>> subjects;
    for (int c = 0; c < silence::CaseCount; ++c)
        subjects.push_back(std::make_unique<Case>(library->exports(), c, material));
    subjects.push_back(std::make_unique<Plain>(false, material));
    subjects.push_back(std::make_unique<Plain>(true, material));
    eq::chooseKernelPath();  // this program's own copy of the steps: the path the library takes
    subjects.push_back(std::make_unique<Steps>());
    const Subject& loud = *subjects[silence::Loud];
    const Subject& frameMajor = *subjects[silence::CaseCount];
    const Subject& bandMajor = *subjects[silence::CaseCount + 1];
    const Subject& steps = *subjects[silence::CaseCount + 2];

    // The host's calls at every length; the 1-frame calls take as long a
    // burst as 8-frame ones would, in eight times the calls.
    std::vector<Subject*> hostCalls[hostcalls::kCallLengthCount], plainCalls;
    for (int l = 0; l < hostcalls::kCallLengthCount; ++l) {
        const int frames = hostcalls::kCallLengths[l];
        for (int c : {hostcalls::Loud, hostcalls::RungDownAsLeft, hostcalls::RungDownCleared}) {
            subjects.push_back(std::make_unique<HostCall>(library->exports(), frames, c, material));
            hostCalls[l].push_back(subjects.back().get());
        }
        subjects.push_back(std::make_unique<PlainCalls>(frames, material));
        plainCalls.push_back(subjects.back().get());
    }
    subjects.push_back(std::make_unique<Floor>(material));
    const Subject& floorChain = *subjects.back();

    std::vector<Subject*> order;
    for (auto& s : subjects) order.push_back(s.get());
    std::mt19937 shuffle(2026);
    const int rounds = emulated() ? 1 : kTimedRounds;
    for (int round = 0; round < rounds; ++round) {
        std::shuffle(order.begin(), order.end(), shuffle);
        for (Subject* s : order) burst(*s);
    }

    const char* kernel = std::getenv("QUORVANE_KERNEL");
    const char* kernelName = kernel != nullptr ? kernel : "best";
    if (emulated()) {
        std::printf("%s: loud noise: not timed (emulated)\n", path.c_str());
        std::printf("plain cascade: not timed (emulated); process / plain cascade (%s path): not timed (emulated)\n",
                    kernelName);
        std::printf("floor, %s path: the steady steps alone: not timed (emulated)\n",
                    eq::pathName(eq::kernelPath()));
        std::printf("silence cost against loud noise:\n");
        for (int c = silence::Loud + 1; c < silence::CaseCount; ++c)
            std::printf("  %-28s not timed (emulated)\n", silence::name(c));
        std::printf("host calls: not timed (emulated)\n");
        return 0;
    }
    const double plainNs = std::min(nsPerFrame(frameMajor), nsPerFrame(bandMajor));
    std::printf("%s: loud noise %.2f ns per stereo frame\n", path.c_str(), nsPerFrame(loud));
    std::printf("plain cascade %.2f ns per stereo frame (frame-major %.2f, band-major %.2f);"
                " process / plain cascade (%s path): %.3f\n",
                plainNs, nsPerFrame(frameMajor), nsPerFrame(bandMajor), kernelName, nsPerFrame(loud) / plainNs);
    std::printf("floor, %s path: the steady steps alone %.2f ns per stereo frame (%.3f of the plain cascade)\n",
                eq::pathName(eq::kernelPath()), nsPerFrame(steps), nsPerFrame(steps) / plainNs);
    std::printf("silence cost against loud noise (limits: 1.5 where filtered, 0.10 rung down and"
                " skipped, 0.15 before any sound):\n");
    for (int c = silence::Loud + 1; c < silence::CaseCount; ++c)
        std::printf("  %-28s %.2f\n", silence::name(c), subjects[c]->best / loud.best);
    const double floorNs = nsPerFrame(floorChain);
    std::printf("host calls (%s path), one buffer per pin, the module's output left in its buffers;"
                " floor (one band's recursion chain) %.2f ns per frame:\n", kernelName, floorNs);
    for (int l = 0; l < hostcalls::kCallLengthCount; ++l) {
        const double loudNs = nsPerFrame(*hostCalls[l][0]), plainCallNs = nsPerFrame(*plainCalls[l]);
        std::printf("  %4d frames: process %.2f ns per frame, %.2f of plain (%.2f ns), %.2f x floor;"
                    " silence rung down against loud: as left %.3f, cleared %.3f\n",
                    hostcalls::kCallLengths[l], loudNs, loudNs / plainCallNs, plainCallNs, loudNs / floorNs,
                    nsPerFrame(*hostCalls[l][1]) / loudNs, nsPerFrame(*hostCalls[l][2]) / loudNs);
    }
    return 0;
}
