// The equaliser module running inside the stand-in host, fed block by block
// the way a host feeds it: audio on Input1/Input2, every band setting as a
// stream on its four control pins, so the module's own polling picks the
// settings up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/module_library.h"
#include "host/stand_in_host.h"
#include "tools/render_settings.h"

namespace qvtools {

class ModuleRunner {
public:
    // Loads the module library, creates an instance and opens it at this
    // sample rate and block size. Null, with a reason, when that fails.
    static std::unique_ptr<ModuleRunner> create(const std::string& modulePath, double sampleRate,
                                                int blockSize, std::string* error);
    ~ModuleRunner();

    int blockSize() const { return blockSize_; }
    int64_t position() const { return position_; }

    // The control values the host fed at open (the pins' default texts).
    const PinValues& defaultPins(int band) const { return defaults_[band]; }
    const PinValues& pins(int band) const { return current_[band]; }
    // Takes effect from the next sample fed.
    void setPins(int band, const PinValues& pins) { current_[band] = pins; }
    // Changes at given samples (in order), written into the control streams at
    // their exact place inside a block.
    void setChanges(std::vector<ControlChange> changes);

    // One block of at most blockSize() frames; in2/out2 may be the left ones.
    void processBlock(const float* in1, const float* in2, float* out1, float* out2, int frames);

    standin::Instance& instance() { return *instance_; }

private:
    ModuleRunner() = default;
    void fillControls(int band, int from, int to);

    std::unique_ptr<standin::ModuleLibrary> library_;  // outlives the instance
    std::unique_ptr<standin::Instance> instance_;
    int blockSize_ = 0;
    int inputPin_[2] = {0, 0};
    int outputPin_[2] = {0, 0};
    int controlPin_[kBandCount][4] = {};  // freq, gain, q, type
    PinValues defaults_[kBandCount];
    PinValues current_[kBandCount];
    std::vector<ControlChange> changes_;
    size_t nextChange_ = 0;
    int64_t position_ = 0;
};

// The magnitude response measured from the running module as a host gets
// it: an impulse on both inputs, then silence, and an FFT of Output1.
struct MeasuredResponse {
    double sampleRate = 0.0;
    std::vector<double> frequencies;  // log spaced, 10 Hz to half the sample rate
    std::vector<double> totalDb;
    std::vector<std::vector<double>> bandDb;  // each band alone, the others flat
};

// Impulse response of the module with these band pins, `length` samples.
bool impulseResponse(const std::string& modulePath, double sampleRate, const PinValues (&pins)[kBandCount],
                     size_t length, std::vector<float>* response, std::string* error);

// |H| in dB of an impulse response (zero-padded to a power of two) at the
// given frequencies, interpolated between FFT bins.
std::vector<double> magnitudeDb(const std::vector<float>& impulse, double sampleRate,
                                const std::vector<double>& frequencies);

// Total response of `pins` and each band alone; `flat` holds pin values of a
// band that does nothing (the module's defaults).
bool measureResponse(const std::string& modulePath, double sampleRate, const PinValues (&pins)[kBandCount],
                     const PinValues (&flat)[kBandCount], MeasuredResponse* response, std::string* error);

}  // namespace qvtools
