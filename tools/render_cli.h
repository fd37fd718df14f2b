// quorvane-render's command line: the options and their parsing.
#pragma once

#include <string>
#include <vector>

#include "tools/audio_file.h"
#include "tools/render_settings.h"

namespace qvtools {

struct Options {
    std::string input;  // one render: INPUT and OUTPUT ("-": standard input or output)
    std::string output;
    std::vector<std::string> inputs;  // a batch: each into outDir under its own name
    bool bandGiven[kBandCount] = {};
    BandSetting band[kBandCount];
    std::string presetPath;
    std::string savePresetPath;
    std::string automationPath;
    std::string responsePath;
    std::string outDir = ".";
    bool outDirGiven = false;
    std::string modulePath;  // empty: the module shipped with the program
    int blockSize = 512;
    SampleFormat format = SampleFormat::Default;
    bool dither = true;
    double gainDb = 0.0;
    double sampleRate = 48000.0;  // of the demo signal
    bool sampleRateGiven = false;
    bool quiet = false;
    bool force = false;  // replace read-only output files
    bool help = false;
    bool version = false;

    bool batch() const { return !inputs.empty(); }
    bool demo() const { return input.empty() && inputs.empty(); }
};

// Where a batch writes an input: into the output folder under its own name.
std::string batchOutputPath(const std::string& outDir, const std::string& input);

// The arguments after the program name. On failure `error` holds one line.
bool parseArguments(const std::vector<std::string>& args, Options* options, std::string* error);

// Sample rates the renderer takes (the module itself takes any positive rate,
// but outside this range its 10 Hz..20 kHz design range stops making sense).
constexpr double kMinSampleRate = 8000.0;
constexpr double kMaxSampleRate = 384000.0;

// Output gain limits: beyond them a typo is likelier than an intent.
constexpr double kMinOutputGainDb = -100.0;
constexpr double kMaxOutputGainDb = 40.0;

const char* usage();

}  // namespace qvtools
