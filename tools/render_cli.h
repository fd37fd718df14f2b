// quorvane-render: command line, the render of a file, the demo and the
// response plot.
#pragma once

#include <string>
#include <vector>

#include "tools/audio_file.h"
#include "tools/render_settings.h"

namespace qvtools {

struct Options {
    std::string input;   // both empty: the demo
    std::string output;
    bool bandGiven[kBandCount] = {};
    BandSetting band[kBandCount];
    std::string automationPath;
    std::string responsePath;
    std::string outDir = ".";
    std::string modulePath;
    int blockSize = 512;
    SampleFormat format = SampleFormat::Default;
    double sampleRate = 48000.0;  // of the demo signal
    bool sampleRateGiven = false;
    bool quiet = false;
    bool help = false;
};

// The arguments after the program name. On failure `error` holds one line.
bool parseArguments(const std::vector<std::string>& args, Options* options, std::string* error);

// The demo's five bands.
void demoBands(bool (&given)[kBandCount], BandSetting (&bands)[kBandCount]);

// Stereo (interleaved) demo signal: pink noise, a short pause, then a
// logarithmic sweep.
std::vector<float> demoSignal(double sampleRate);

// Sample rates the renderer takes (the module itself takes any positive rate,
// but outside this range its 10 Hz..20 kHz design range stops making sense).
constexpr double kMinSampleRate = 8000.0;
constexpr double kMaxSampleRate = 384000.0;

// Runs what the options ask for; returns the exit status. Errors are one
// line on stderr, warnings too; the summary goes to stdout.
int run(const Options& options);

const char* usage();

}  // namespace qvtools
