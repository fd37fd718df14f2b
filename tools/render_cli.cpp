#include "tools/render_cli.h"

#include "tools/response_plot.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>

namespace qvtools {

namespace {

constexpr int kMaxBlockSize = 65536;

bool parseCount(const std::string& text, int low, int high, int* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    const long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (parsed < low || parsed > high) return false;
    *value = static_cast<int>(parsed);
    return true;
}

// CLI11 reports a missing or repeated value as "--name: <what>"; say it in
// this program's words.
std::string describeMismatch(const std::string& what) {
    const std::string name = what.substr(0, what.find(':'));
    if (what.find("missing") != std::string::npos) return name + " needs a value (see --help)";
    return name + " is given more than once";
}

// The values CLI11 collected as text, checked here so each error names the
// value and what would be right.
bool checkValues(Options* o, const std::vector<std::string>& bands, const std::string& format,
                 const std::string& bits, const std::string& dither, const std::string& blockSize,
                 const std::string& rate, const std::string& gain, std::string* error) {
    for (const std::string& value : bands) {
        BandOption band;
        if (!parseBandOption(value, &band, error)) return false;
        if (o->bandGiven[band.band - 1]) {
            *error = "band " + std::to_string(band.band) + " is given twice";
            return false;
        }
        o->bandGiven[band.band - 1] = true;
        o->band[band.band - 1] = band.setting;
    }
    if (!o->responsePath.empty() && plotFormatOf(o->responsePath).empty()) {
        *error = "--response " + o->responsePath + ": the plot must be a .png, .svg or .pdf file";
        return false;
    }
    if (!format.empty() && !bits.empty()) {
        *error = "give --bits or --format, not both";
        return false;
    }
    if (format == "float")
        o->format = SampleFormat::Float;
    else if (format == "input")
        o->format = SampleFormat::Input;
    else if (!format.empty()) {
        *error = "--format " + format + ": choose float or input";
        return false;
    }
    if (bits == "16")
        o->format = SampleFormat::Pcm16;
    else if (bits == "24")
        o->format = SampleFormat::Pcm24;
    else if (bits == "32")
        o->format = SampleFormat::Pcm32;
    else if (bits == "float")
        o->format = SampleFormat::Float;
    else if (!bits.empty()) {
        *error = "--bits " + bits + ": choose 16, 24, 32 or float";
        return false;
    }
    if (dither == "none")
        o->dither = false;
    else if (!dither.empty() && dither != "tpdf") {
        *error = "--dither " + dither + ": choose tpdf or none";
        return false;
    }
    if (!blockSize.empty() && !parseCount(blockSize, 1, kMaxBlockSize, &o->blockSize)) {
        *error = "--block-size " + blockSize + ": give a whole number of frames from 1 to 65536";
        return false;
    }
    if (!rate.empty()) {
        char* end = nullptr;
        const double parsed = std::strtod(rate.c_str(), &end);
        if (*end != '\0' || !std::isfinite(parsed)) {
            *error = "--rate " + rate + ": malformed sample rate (e.g. 48000)";
            return false;
        }
        if (!(parsed >= kMinSampleRate && parsed <= kMaxSampleRate) || parsed != std::floor(parsed)) {
            *error = "--rate " + rate + ": the sample rate must be a whole number of Hz from 8000 to 384000";
            return false;
        }
        o->sampleRate = parsed;
        o->sampleRateGiven = true;
    }
    if (!gain.empty()) {
        std::string gainError;
        // A bare number is dB too: "--gain -3" reads as a person means it.
        if (!parseGain(gain, &o->gainDb, &gainError) && !parseGain(gain + "dB", &o->gainDb, &gainError)) {
            *error = "--gain " + gain + ": malformed gain (e.g. -3 or -3dB)";
            return false;
        }
        if (!(o->gainDb >= kMinOutputGainDb && o->gainDb <= kMaxOutputGainDb)) {
            *error = "--gain " + gain + ": the output gain must be from -100 to +40 dB";
            return false;
        }
    }
    return true;
}

// What the positional arguments mean: a batch, one render or the demo.
bool placeFiles(Options* o, const std::vector<std::string>& files, std::string* error) {
    for (size_t i = 0; i < files.size(); ++i)
        if (files[i].empty()) {
            // An unset variable in a script must not turn a render into the demo.
            *error = std::string("an empty file name was given as ") +
                     (o->outDirGiven || i + 1 < files.size() ? "INPUT" : "OUTPUT");
            return false;
        }
    if (o->outDirGiven && !files.empty()) {
        for (const std::string& file : files)
            if (file == "-") {
                *error = "- (standard input) has no name to write under in --out-dir; give INPUT and OUTPUT";
                return false;
            }
        // Two inputs of one name would write one output, the second over the first.
        for (size_t i = 0; i < files.size(); ++i)
            for (size_t j = 0; j < i; ++j)
                if (batchOutputPath(o->outDir, files[i]) == batchOutputPath(o->outDir, files[j])) {
                    *error = files[j] + " and " + files[i] + " would both be written to " +
                             batchOutputPath(o->outDir, files[i]) + "; render them in two runs";
                    return false;
                }
        o->inputs = files;
    } else if (files.size() == 1) {
        *error = "give both INPUT and OUTPUT (or --out-dir DIR with INPUTs, or neither for the demo)";
        return false;
    } else if (files.size() > 2) {
        *error = "too many arguments: " + files[2] + " (several INPUTs need --out-dir DIR; see --help)";
        return false;
    } else if (files.size() == 2) {
        o->input = files[0];
        o->output = files[1];
        if (o->input == o->output && o->input != "-") {
            *error = "the output " + o->output + " is the input file; choose another output name";
            return false;
        }
    }
    if (!o->demo() && o->sampleRateGiven) {
        *error = "--rate sets the demo's sample rate; INPUT brings its own";
        return false;
    }
    return true;
}

}  // namespace

std::string batchOutputPath(const std::string& outDir, const std::string& input) {
    const std::string name = input.substr(input.find_last_of('/') + 1);
    if (outDir.empty() || outDir == ".") return name;
    return outDir.back() == '/' ? outDir + name : outDir + "/" + name;
}

const char* usage() {
    return "usage: quorvane-render [OPTIONS] INPUT OUTPUT\n"
           "       quorvane-render [OPTIONS] --out-dir DIR INPUT...\n"
           "       quorvane-render [OPTIONS] [--out-dir DIR]          (the demo)\n"
           "Renders INPUT (WAV, RF64, FLAC or AIFF; mono or stereo) through the Quorvane equaliser into\n"
           "OUTPUT (.wav, .flac or .aiff). Several INPUTs with --out-dir go into DIR under their own\n"
           "names. INPUT - reads WAV from standard input, OUTPUT - writes WAV to standard output.\n"
           "Without files it renders a demo signal and plots the response into --out-dir.\n"
           "\n"
           "  --band N=RESPONSE,FREQ[,WIDTH][,GAIN]   set band N (1-5), e.g. 2=peaking,1000Hz,1oct,+6dB\n"
           "        or 5=highshelf,8kHz,q0.7,-3dB. RESPONSE: lowpass highpass bandpass-skirt\n"
           "        bandpass-peak notch allpass peaking lowshelf highshelf. WIDTH in octaves (1oct)\n"
           "        or as a Q (q0.7; shelves take a Q only). Defaults: q0.707 (Butterworth) for\n"
           "        lowpass, highpass and the shelves, 1oct for the others; gain 0dB.\n"
           "        Bands not given stay flat (the module's defaults).\n"
           "  --preset FILE           band settings, one per line in the --band syntax (# comments);\n"
           "        --band overrides the file's setting of its band\n"
           "  --save-preset FILE      write the band settings in effect (alone: only that)\n"
           "  --automation FILE.csv   setting changes during the render, lines time,band,parameter,value\n"
           "        (seconds; 1-5; freq, gain, width or type; e.g. 2.5,2,gain,-6dB)\n"
           "  --gain DB               output gain after the equaliser (-100 to +40 dB)\n"
           "  --bits 16|24|32|float   output sample format (default float; FLAC: the input's depth,\n"
           "        24 for float or 32-bit input)\n"
           "  --dither tpdf|none      integer outputs get TPDF dither (default) or plain rounding\n"
           "  --format float|input    32-bit float, or the input's own sample format\n"
           "  --response FILE.png     also plot the measured magnitude response (.png, .svg or .pdf)\n"
           "  --out-dir DIR           where a batch or the demo writes (created if missing)\n"
           "  --rate HZ               sample rate of the demo (default 48000)\n"
           "  --block-size N          frames per process call (default 512, 1 to 65536)\n"
           "  --module PATH           the module library to load (default: the one installed with\n"
           "        this program)\n"
           "  -f, --force             replace output files even when they are read-only\n"
           "  -q, --quiet             no summary, no progress bar\n"
           "  --version               the version\n"
           "  -h, --help              this text\n"
           "\n"
           "Exit status: 0 done; 1 a file could not be rendered (in a batch: at least one), or an\n"
           "output is read-only and --force was not given (the file is left as it was);\n"
           "2 bad command line, preset or automation file; 129, 130, 143 interrupted by SIGHUP,\n"
           "SIGINT, SIGTERM (no partial output).\n";
}

bool parseArguments(const std::vector<std::string>& args, Options* options, std::string* error) {
    Options o;
    CLI::App app{"", "quorvane-render"};
    app.set_help_flag();
    app.allow_extras(true);  // unknown options are reported below, in this program's words
    std::vector<std::string> bands, files;
    std::string format, bits, dither, blockSize, rate, gain;
    app.add_flag("-h,--help", o.help);
    app.add_flag("--version", o.version);
    app.add_flag("-q,--quiet", o.quiet);
    app.add_flag("-f,--force", o.force);
    // One value per occurrence, so a --band never swallows the file names after it.
    app.add_option("--band", bands)->allow_extra_args(false);
    app.add_option("--preset", o.presetPath);
    app.add_option("--save-preset", o.savePresetPath);
    app.add_option("--automation", o.automationPath);
    app.add_option("--response", o.responsePath);
    app.add_option("--format", format);
    app.add_option("--bits", bits);
    app.add_option("--dither", dither);
    app.add_option("--gain", gain);
    app.add_option("--block-size", blockSize);
    app.add_option("--rate", rate);
    app.add_option("--module", o.modulePath);
    CLI::Option* outDir = app.add_option("--out-dir", o.outDir);
    app.add_option("files", files);

    // CLI11 takes the arguments in reverse order, without the program name.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ArgumentMismatch& e) {
        *error = describeMismatch(e.what());
        return false;
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return false;
    }
    for (const std::string& extra : app.remaining())
        if (extra != "--") {
            *error = "unknown option " + extra.substr(0, extra.find('=')) + " (see --help)";
            return false;
        }
    if (o.help || o.version) {
        *options = o;
        return true;
    }
    o.outDirGiven = outDir->count() > 0;
    if (o.outDirGiven && o.outDir.empty()) {
        *error = "--out-dir needs a folder name";
        return false;
    }
    if (!checkValues(&o, bands, format, bits, dither, blockSize, rate, gain, error) ||
        !placeFiles(&o, files, error))
        return false;
    *options = o;
    return true;
}

}  // namespace qvtools
