#include "tools/render_engine.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

namespace qvtools {

namespace {

constexpr const char* kControlNames[4] = {"Freq", "Gain", "Q", "Type"};
constexpr int32_t kPinStreaming = 2;

float pinField(const PinValues& pins, int field) {
    switch (field) {
        case 0: return pins.freq;
        case 1: return pins.gain;
        case 2: return pins.q;
        default: return pins.type;
    }
}

void fft(std::vector<std::complex<double>>& data) {
    const size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }
    const double pi = 3.14159265358979323846;
    for (size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2.0 * pi / static_cast<double>(len));
        for (size_t start = 0; start < n; start += len) {
            std::complex<double> w = 1.0;
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> even = data[start + k];
                const std::complex<double> odd = data[start + k + len / 2] * w;
                data[start + k] = even + odd;
                data[start + k + len / 2] = even - odd;
                w *= step;
            }
        }
    }
}

}  // namespace

std::unique_ptr<ModuleRunner> ModuleRunner::create(const std::string& modulePath, double sampleRate,
                                                   int blockSize, std::string* error) {
    std::unique_ptr<ModuleRunner> runner(new ModuleRunner);
    std::string loadError;
    runner->library_ = standin::ModuleLibrary::load(modulePath, &loadError);
    if (!runner->library_) {
        *error = "cannot load the module library " + modulePath + ": " + loadError;
        return nullptr;
    }
    runner->instance_.reset(new standin::Instance(runner->library_->exports()));
    standin::Instance& instance = *runner->instance_;
    if (!instance.valid()) {
        *error = "the module library " + modulePath + " made no instance";
        return nullptr;
    }
    runner->blockSize_ = blockSize;
    instance.setSampleRate(static_cast<float>(sampleRate));
    instance.setBlockSize(blockSize);
    instance.open();

    const char* audioPins[4] = {"Input1", "Input2", "Output1", "Output2"};
    int audio[4];
    for (int i = 0; i < 4; ++i) audio[i] = instance.pinIndex(audioPins[i]);
    bool complete = std::count(audio, audio + 4, -1) == 0;
    for (int band = 0; band < kBandCount && complete; ++band)
        for (int field = 0; field < 4; ++field) {
            const int pin = instance.pinIndex(kControlNames[field] + std::to_string(band + 1));
            runner->controlPin_[band][field] = pin;
            if (pin < 0) complete = false;
        }
    if (!complete) {
        *error = "the module library " + modulePath + " does not describe the equaliser's pins";
        return nullptr;
    }
    runner->inputPin_[0] = audio[0];
    runner->inputPin_[1] = audio[1];
    runner->outputPin_[0] = audio[2];
    runner->outputPin_[1] = audio[3];
    for (int band = 0; band < kBandCount; ++band) {
        PinValues& d = runner->defaults_[band];
        d.freq = instance.buffer(runner->controlPin_[band][0])[0];
        d.gain = instance.buffer(runner->controlPin_[band][1])[0];
        d.q = instance.buffer(runner->controlPin_[band][2])[0];
        d.type = instance.buffer(runner->controlPin_[band][3])[0];
        runner->current_[band] = d;
    }
    // The audio inputs stream; the host says so as soon as it starts feeding them.
    instance.sendPinStatus(runner->inputPin_[0], kPinStreaming);
    instance.sendPinStatus(runner->inputPin_[1], kPinStreaming);
    return runner;
}

ModuleRunner::~ModuleRunner() { instance_.reset(); }

void ModuleRunner::setChanges(std::vector<ControlChange> changes) {
    std::stable_sort(changes.begin(), changes.end(),
                     [](const ControlChange& a, const ControlChange& b) { return a.sample < b.sample; });
    changes_ = std::move(changes);
    nextChange_ = 0;
    while (nextChange_ < changes_.size() && changes_[nextChange_].sample < position_) ++nextChange_;
}

void ModuleRunner::fillControls(int band, int from, int to) {
    for (int field = 0; field < 4; ++field) {
        std::vector<float>& buffer = instance_->buffer(controlPin_[band][field]);
        std::fill(buffer.begin() + from, buffer.begin() + to, pinField(current_[band], field));
    }
}

void ModuleRunner::processBlock(const float* in1, const float* in2, float* out1, float* out2, int frames) {
    standin::Instance& instance = *instance_;
    std::copy(in1, in1 + frames, instance.buffer(inputPin_[0]).begin());
    std::copy(in2, in2 + frames, instance.buffer(inputPin_[1]).begin());
    for (int band = 0; band < kBandCount; ++band) fillControls(band, 0, frames);
    // A change inside the block rewrites the rest of that band's streams from
    // its sample on; the module sees it at its next poll that reads there.
    while (nextChange_ < changes_.size() && changes_[nextChange_].sample < position_ + frames) {
        const ControlChange& change = changes_[nextChange_++];
        current_[change.band] = change.pins;
        fillControls(change.band, static_cast<int>(change.sample - position_), frames);
    }
    // The output buffers keep what the module wrote there last, as in a
    // host that reuses one buffer per pin: the module never reads them.
    instance.sampleClock = static_cast<int32_t>(position_);
    std::fill(instance.blockStartClock.begin(), instance.blockStartClock.end(), instance.sampleClock);
    instance.process(0, frames);
    const std::vector<float>& left = instance.buffer(outputPin_[0]);
    const std::vector<float>& right = instance.buffer(outputPin_[1]);
    std::copy(left.begin(), left.begin() + frames, out1);
    if (out2 != nullptr && out2 != out1) std::copy(right.begin(), right.begin() + frames, out2);
    position_ += frames;
}

bool impulseResponse(const std::string& modulePath, double sampleRate, const PinValues (&pins)[kBandCount],
                     size_t length, std::vector<float>* response, std::string* error) {
    const int block = 4096;
    auto runner = ModuleRunner::create(modulePath, sampleRate, block, error);
    if (!runner) return false;
    for (int band = 0; band < kBandCount; ++band) runner->setPins(band, pins[band]);
    response->assign(length, 0.0f);
    // The impulse on both inputs, then silence: the filters ring on through
    // the silent frames and only stop being filtered once they rest.
    std::vector<float> impulse(block, 0.0f), outRight(block);
    impulse[0] = 1.0f;
    for (size_t done = 0; done < length; done += block) {
        const int frames = static_cast<int>(std::min<size_t>(block, length - done));
        runner->processBlock(impulse.data(), impulse.data(), response->data() + done, outRight.data(), frames);
        impulse[0] = 0.0f;
    }
    return true;
}

std::vector<double> magnitudeDb(const std::vector<float>& impulse, double sampleRate,
                                const std::vector<double>& frequencies) {
    size_t n = 1;
    while (n < impulse.size()) n <<= 1;
    std::vector<std::complex<double>> spectrum(n);
    for (size_t i = 0; i < impulse.size(); ++i) spectrum[i] = impulse[i];
    fft(spectrum);
    std::vector<double> db;
    db.reserve(frequencies.size());
    const double binsPerHz = static_cast<double>(n) / sampleRate;
    for (double f : frequencies) {
        const double position = std::min(f * binsPerHz, static_cast<double>(n / 2));
        const size_t low = static_cast<size_t>(position);
        const size_t high = std::min(low + 1, n / 2);
        const double t = position - static_cast<double>(low);
        const double magnitude = (1.0 - t) * std::abs(spectrum[low]) + t * std::abs(spectrum[high]);
        db.push_back(20.0 * std::log10(std::max(magnitude, 1e-12)));
    }
    return db;
}

bool measureResponse(const std::string& modulePath, double sampleRate, const PinValues (&pins)[kBandCount],
                     const PinValues (&flat)[kBandCount], MeasuredResponse* response, std::string* error) {
    // Two seconds or more, so the lowest frequencies are resolved finely.
    size_t length = 65536;
    while (static_cast<double>(length) < 2.0 * sampleRate) length <<= 1;

    response->sampleRate = sampleRate;
    response->frequencies.clear();
    const int points = 1200;
    const double lowest = 10.0, highest = sampleRate / 2.0;
    for (int i = 0; i < points; ++i)
        response->frequencies.push_back(lowest * std::pow(highest / lowest, i / double(points - 1)));

    std::vector<float> impulse;
    if (!impulseResponse(modulePath, sampleRate, pins, length, &impulse, error)) return false;
    response->totalDb = magnitudeDb(impulse, sampleRate, response->frequencies);
    response->bandDb.assign(kBandCount, {});
    for (int band = 0; band < kBandCount; ++band) {
        PinValues alone[kBandCount];
        std::copy(std::begin(flat), std::end(flat), std::begin(alone));
        alone[band] = pins[band];
        if (!impulseResponse(modulePath, sampleRate, alone, length, &impulse, error)) return false;
        response->bandDb[band] = magnitudeDb(impulse, sampleRate, response->frequencies);
    }
    return true;
}

}  // namespace qvtools
