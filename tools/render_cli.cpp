#include "tools/render_cli.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "tools/install_paths.h"
#include "tools/render_engine.h"


namespace qvtools {

namespace {

constexpr const char* kProgram = "quorvane-render";
constexpr int kMaxBlockSize = 65536;

void fail(const std::string& message) { std::fprintf(stderr, "%s: error: %s\n", kProgram, message.c_str()); }
void warn(const std::string& message) { std::fprintf(stderr, "%s: warning: %s\n", kProgram, message.c_str()); }

bool parseCount(const std::string& text, int low, int high, int* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    const long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (parsed < low || parsed > high) return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool isFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder == ".") return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string plotFormatOf(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "png" || ext == "svg" || ext == "pdf" ? ext : "";
}

std::string plotScript() {
    std::string searched;
    const std::string found = findShippedFile("plot_response.py", &searched);
    return found.empty() ? "plot_response.py (not found in " + searched + ")" : found;
}

std::string python() {
    const char* chosen = std::getenv("QUORVANE_PYTHON");
    // The system interpreter, which has Debian's numpy and matplotlib.
    return chosen != nullptr && *chosen != '\0' ? chosen : "/usr/bin/python3";
}

bool runPlot(const std::string& data, const std::string& image, const std::string& format, std::string* error) {
    const std::string interpreter = python();
    const std::string script = plotScript();
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
        *error = "cannot start the plotting script";
        return false;
    }
    if (child == 0) {
        execl(interpreter.c_str(), interpreter.c_str(), script.c_str(), data.c_str(), image.c_str(), format.c_str(),
              static_cast<char*>(nullptr));
        std::fprintf(stderr, "%s: error: cannot run %s for plotting\n", kProgram, interpreter.c_str());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) break;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = "plotting the response failed (" + interpreter + " " + script + ")";
        return false;
    }
    return true;
}

bool readText(const std::string& path, std::string* text, std::string* error) {
    if (isFolder(path)) {
        *error = "cannot read " + path + ": it is a folder";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

// Writes the measured curves as tab-separated columns with their legend texts
// in the header, for the plotting script.
bool writeResponseData(const std::string& path, const MeasuredResponse& response,
                       const std::vector<std::string>& labels, std::string* error) {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        *error = "cannot write the response data: " + std::string(std::strerror(errno));
        return false;
    }
    std::fprintf(out, "# sample_rate\t%.17g\n", response.sampleRate);
    std::fprintf(out, "frequency_hz");
    for (const std::string& label : labels) std::fprintf(out, "\t%s", label.c_str());
    std::fprintf(out, "\n");
    for (size_t i = 0; i < response.frequencies.size(); ++i) {
        std::fprintf(out, "%.6f\t%.6f", response.frequencies[i], response.totalDb[i]);
        for (const auto& band : response.bandDb) std::fprintf(out, "\t%.6f", band[i]);
        std::fprintf(out, "\n");
    }
    const bool ok = std::fclose(out) == 0;
    if (!ok) *error = "cannot write the response data";
    return ok;
}

class Progress {
public:
    Progress(int64_t total, double sampleRate, bool quiet)
        : total_(total), active_(!quiet && isatty(STDERR_FILENO) && total > 60.0 * sampleRate) {}
    void update(int64_t done) {
        if (!active_) return;
        const auto now = std::chrono::steady_clock::now();
        if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        const int width = 40;
        const int filled = static_cast<int>(width * done / std::max<int64_t>(total_, 1));
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(width - filled, '-').c_str(), static_cast<int>(100 * done / std::max<int64_t>(total_, 1)));
        std::fflush(stderr);
    }
    void finish() {
        if (active_) std::fprintf(stderr, "\r%s\r", std::string(48, ' ').c_str());
    }

private:
    int64_t total_;
    bool active_;
    std::chrono::steady_clock::time_point last_{};
};

struct Job {
    std::string input, output, response;
    bool bandGiven[kBandCount] = {};
    BandSetting band[kBandCount];
    std::vector<AutomationPoint> automation;
};

int renderJob(const Options& options, const Job& job) {
    std::string error;
    if (sameFile(job.input, job.output)) {
        fail("the output " + job.output + " is the input file; choose another output name");
        return 1;
    }
    if (!job.response.empty() && (sameFile(job.input, job.response) || job.response == job.output)) {
        fail("the response plot " + job.response + " would overwrite an audio file");
        return 1;
    }
    AudioReader reader;
    if (!reader.open(job.input, &error)) {
        fail(error);
        return 1;
    }
    const AudioInfo& info = reader.info();
    if (info.channels != 1 && info.channels != 2) {
        fail(job.input + " has " + std::to_string(info.channels) + " channels; quorvane-render takes mono or stereo");
        return 1;
    }
    const double rate = info.sampleRate;
    if (!(rate >= kMinSampleRate && rate <= kMaxSampleRate)) {
        fail(job.input + ": sample rate " + std::to_string(info.sampleRate) +
             " Hz is outside the 8000 to 384000 Hz quorvane-render supports");
        return 1;
    }
    if (info.frames <= 0) {
        fail(job.input + " holds no audio");
        return 1;
    }
    int format = 0;
    if (!outputFormat(job.output, options.format, info.format, &format, &error)) {
        fail(error);
        return 1;
    }

    auto runner = ModuleRunner::create(options.modulePath, rate, options.blockSize, &error);
    if (!runner) {
        fail(error);
        return 1;
    }
    BandSetting start[kBandCount];
    PinValues startPins[kBandCount], flat[kBandCount];
    for (int band = 0; band < kBandCount; ++band) {
        flat[band] = runner->defaultPins(band);
        if (job.bandGiven[band]) {
            start[band] = job.band[band];
            startPins[band] = toPinValues(start[band], rate);
            for (const std::string& w : settingWarnings(start[band], rate))
                warn("band " + std::to_string(band + 1) + ": " + w);
        } else {
            start[band] = settingFromPins(flat[band]);
            startPins[band] = flat[band];
        }
        runner->setPins(band, startPins[band]);
    }
    std::vector<ControlChange> changes;
    std::vector<std::string> warnings;
    if (!resolveAutomation(job.automation, start, rate, info.frames, &changes, &warnings, &error)) {
        fail(error);
        return 1;
    }
    for (const std::string& w : warnings) warn(w);
    runner->setChanges(changes);

    AudioWriter writer;
    if (!writer.open(job.output, format, info.sampleRate, info.channels, &error)) {
        fail(error);
        return 1;
    }
    const int block = options.blockSize;
    const int channels = info.channels;
    std::vector<float> interleaved(static_cast<size_t>(block) * channels);
    std::vector<float> in[2], out[2];
    for (int c = 0; c < 2; ++c) {
        in[c].resize(block);
        out[c].resize(block);
    }
    Progress progress(info.frames, rate, options.quiet);
    const auto began = std::chrono::steady_clock::now();
    int64_t done = 0;
    for (;;) {
        const int64_t got = reader.read(interleaved.data(), block);
        if (got <= 0) break;
        const int frames = static_cast<int>(got);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c) in[c][i] = interleaved[static_cast<size_t>(i) * channels + c];
        // A mono file feeds both inputs; its one channel comes from Output1.
        const float* right = channels == 2 ? in[1].data() : in[0].data();
        runner->processBlock(in[0].data(), right, out[0].data(), out[1].data(), frames);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c) interleaved[static_cast<size_t>(i) * channels + c] = out[c][i];
        if (!writer.write(interleaved.data(), frames, &error)) {
            progress.finish();
            fail(job.output + ": " + error);
            return 1;
        }
        done += frames;
        progress.update(done);
    }
    progress.finish();
    if (!writer.commit(&error)) {
        fail(error);
        return 1;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const double seconds = static_cast<double>(done) / rate;
    if (writer.clippedSamples() > 0)
        warn(std::to_string(writer.clippedSamples()) + " samples went beyond full scale and were clipped in " +
             describeFormat(format) + " output (peak " + std::to_string(20.0 * std::log10(writer.peak())) +
             " dBFS); use --format float to keep them");
    if (!options.quiet) {
        char speed[64];
        if (wall > 0.0)
            std::snprintf(speed, sizeof speed, "%.0fx real time", seconds / wall);
        else
            std::snprintf(speed, sizeof speed, "faster than the clock measures");
        std::printf("rendered %lld frames (%.2f s of %s audio at %d Hz) in %.3f s, %s: %s\n",
                    static_cast<long long>(done), seconds, channels == 1 ? "mono" : "stereo", info.sampleRate, wall,
                    speed, job.output.c_str());
    }

    if (job.response.empty()) return 0;
    MeasuredResponse response;
    if (!measureResponse(options.modulePath, rate, startPins, flat, &response, &error)) {
        fail(error);
        return 1;
    }
    std::vector<std::string> labels{"total"};
    for (int band = 0; band < kBandCount; ++band)
        labels.push_back("band " + std::to_string(band + 1) + ": " +
                         (job.bandGiven[band] ? describe(start[band]) : std::string("flat (not set)")));
    const char* tmp = std::getenv("TMPDIR");
    std::string dataPath = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/quorvane-response-XXXXXX";
    std::vector<char> pattern(dataPath.begin(), dataPath.end());
    pattern.push_back('\0');
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        fail("cannot write the response data: " + std::string(std::strerror(errno)));
        return 1;
    }
    close(fd);
    dataPath = pattern.data();
    TempOutput image;
    bool ok = writeResponseData(dataPath, response, labels, &error) && image.create(job.response, &error) &&
              runPlot(dataPath, image.path(), plotFormatOf(job.response), &error) && image.commit(&error);
    unlink(dataPath.c_str());
    if (!ok) {
        fail(error);
        return 1;
    }
    if (!options.quiet) std::printf("response plot: %s\n", job.response.c_str());
    return 0;
}

}  // namespace

const char* usage() {
    return "usage: quorvane-render [OPTIONS] [INPUT OUTPUT]\n"
           "Renders INPUT (WAV, FLAC or AIFF; mono or stereo) through the Quorvane equaliser into OUTPUT\n"
           "(.wav, .flac or .aiff). Without INPUT and OUTPUT it renders a demo signal through a\n"
           "five-band setting and writes the audio and its response plot into the current folder.\n"
           "\n"
           "  --band N=RESPONSE,FREQ[,WIDTH][,GAIN]   set band N (1-5), e.g. 2=peaking,1000Hz,1oct,+6dB\n"
           "        or 5=highshelf,8kHz,q0.7,-3dB. RESPONSE: lowpass highpass bandpass-skirt\n"
           "        bandpass-peak notch allpass peaking lowshelf highshelf. WIDTH in octaves (1oct)\n"
           "        or as a Q (q0.7; shelves take a Q only); defaults 1oct, shelves q0.707; gain 0dB.\n"
           "        Bands not given stay flat (the module's defaults).\n"
           "  --automation FILE.csv   setting changes during the render, lines time,band,parameter,value\n"
           "        (seconds; 1-5; freq, gain, width or type; e.g. 2.5,2,gain,-6dB)\n"
           "  --response FILE.png     also plot the measured magnitude response (.png, .svg or .pdf)\n"
           "  --format float|input    output samples as 32-bit float (default; FLAC: the input's)\n"
           "        or in the input's sample format\n"
           "  --block-size N          frames per process call (default 512, 1 to 65536)\n"
           "  --out-dir DIR           where the demo writes its files (default: current folder)\n"
           "  --rate HZ               sample rate of the demo (default 48000)\n"
           "  --module PATH           the module library to load (default: the one built with this tool)\n"
           "  -q, --quiet             no summary, no progress bar\n"
           "  -h, --help              this text\n";
}

bool parseArguments(const std::vector<std::string>& args, Options* options, std::string* error) {
    Options o;
    std::vector<std::string> positional;
    bool optionsEnd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            continue;
        }
        if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
            continue;
        }
        std::string name = arg, value;
        const size_t equals = arg.find('=');
        bool hasValue = false;
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        static const char* const valued[] = {"--band",     "--automation", "--response", "--format",
                                             "--block-size", "--out-dir",  "--rate",     "--module"};
        if (std::find(std::begin(valued), std::end(valued), name) == std::end(valued)) {
            *error = "unknown option " + name + " (see --help)";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                *error = name + " needs a value (see --help)";
                return false;
            }
            value = args[++i];
        }
        if (name == "--band") {
            BandOption band;
            if (!parseBandOption(value, &band, error)) return false;
            if (o.bandGiven[band.band - 1]) {
                *error = "band " + std::to_string(band.band) + " is given twice";
                return false;
            }
            o.bandGiven[band.band - 1] = true;
            o.band[band.band - 1] = band.setting;
        } else if (name == "--automation") {
            o.automationPath = value;
        } else if (name == "--response") {
            if (plotFormatOf(value).empty()) {
                *error = "--response " + value + ": the plot must be a .png, .svg or .pdf file";
                return false;
            }
            o.responsePath = value;
        } else if (name == "--format") {
            if (value == "float")
                o.format = SampleFormat::Float;
            else if (value == "input")
                o.format = SampleFormat::Input;
            else {
                *error = "--format " + value + ": choose float or input";
                return false;
            }
        } else if (name == "--block-size") {
            if (!parseCount(value, 1, kMaxBlockSize, &o.blockSize)) {
                *error = "--block-size " + value + ": give a whole number of frames from 1 to 65536";
                return false;
            }
        } else if (name == "--out-dir") {
            o.outDir = value;
        } else if (name == "--rate") {
            char* end = nullptr;
            const double rate = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !std::isfinite(rate)) {
                *error = "--rate " + value + ": malformed sample rate (e.g. 48000)";
                return false;
            }
            if (!(rate >= kMinSampleRate && rate <= kMaxSampleRate) || rate != std::floor(rate)) {
                *error = "--rate " + value + ": the sample rate must be a whole number of Hz from 8000 to 384000";
                return false;
            }
            o.sampleRate = rate;
            o.sampleRateGiven = true;
        } else if (name == "--module") {
            o.modulePath = value;
        }
    }
    if (o.help) {
        *options = o;
        return true;
    }
    if (positional.size() == 1) {
        *error = "give both INPUT and OUTPUT (or neither, for the demo)";
        return false;
    }
    if (positional.size() > 2) {
        *error = "too many arguments: " + positional[2] + " (see --help)";
        return false;
    }
    if (positional.size() == 2) {
        o.input = positional[0];
        o.output = positional[1];
        if (o.input == o.output) {
            *error = "the output " + o.output + " is the input file; choose another output name";
            return false;
        }
        if (o.sampleRateGiven) {
            *error = "--rate sets the demo's sample rate; INPUT brings its own";
            return false;
        }
        if (o.outDir != ".") {
            *error = "--out-dir is for the demo; OUTPUT names the output";
            return false;
        }
    }
    *options = o;
    return true;
}

void demoBands(bool (&given)[kBandCount], BandSetting (&bands)[kBandCount]) {
    const char* const demo[kBandCount] = {"1=highpass,40Hz,q0.707", "2=lowshelf,150Hz,q0.7,+4dB",
                                          "3=peaking,450Hz,1.5oct,-5dB", "4=peaking,3kHz,0.7oct,+6dB",
                                          "5=highshelf,10kHz,q0.7,-4dB"};
    for (int band = 0; band < kBandCount; ++band) {
        BandOption option;
        std::string ignored;
        parseBandOption(demo[band], &option, &ignored);
        given[band] = true;
        bands[band] = option.setting;
    }
}

std::vector<float> demoSignal(double sampleRate) {
    const double pi = 3.14159265358979323846;
    const size_t noise = static_cast<size_t>(4.0 * sampleRate);
    const size_t pause = static_cast<size_t>(0.5 * sampleRate);
    const size_t sweep = static_cast<size_t>(8.0 * sampleRate);
    std::vector<float> signal(2 * (noise + pause + sweep), 0.0f);

    // Pink noise: white noise from a fixed-seed generator through a set of
    // first-order filters whose sum falls at 3 dB per octave.
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    const auto white = [&seed]() {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return static_cast<double>(seed >> 11) / 9007199254740992.0 * 2.0 - 1.0;
    };
    for (int channel = 0; channel < 2; ++channel) {
        double b[7] = {};
        for (size_t i = 0; i < noise; ++i) {
            const double w = white();
            b[0] = 0.99886 * b[0] + w * 0.0555179;
            b[1] = 0.99332 * b[1] + w * 0.0750759;
            b[2] = 0.96900 * b[2] + w * 0.1538520;
            b[3] = 0.86650 * b[3] + w * 0.3104856;
            b[4] = 0.55000 * b[4] + w * 0.5329522;
            b[5] = -0.7616 * b[5] - w * 0.0168980;
            const double pink = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + w * 0.5362;
            b[6] = w * 0.115926;
            const double fade = std::min({1.0, i / (0.01 * sampleRate), (noise - i) / (0.01 * sampleRate)});
            signal[2 * i + channel] = static_cast<float>(0.04 * pink * fade);
        }
    }
    // Logarithmic sweep, 20 Hz to 20 kHz (or near half the sample rate), the
    // same on both channels.
    const double f0 = 20.0, f1 = std::min(20000.0, 0.45 * sampleRate);
    const double duration = static_cast<double>(sweep) / sampleRate;
    const double k = std::log(f1 / f0);
    for (size_t i = 0; i < sweep; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double phase = 2.0 * pi * f0 * duration / k * (std::exp(t / duration * k) - 1.0);
        const double fade = std::min({1.0, i / (0.01 * sampleRate), (sweep - i) / (0.01 * sampleRate)});
        const float value = static_cast<float>(0.25 * std::sin(phase) * fade);
        const size_t at = noise + pause + i;
        signal[2 * at] = value;
        signal[2 * at + 1] = value;
    }
    return signal;
}

int run(const Options& given) {
    if (given.help) {
        std::fputs(usage(), stdout);
        return 0;
    }
    Options options = given;
    if (options.modulePath.empty()) {
        std::string searched;
        options.modulePath = findShippedFile("Quorvane.so", &searched);
        if (options.modulePath.empty()) {
            fail("cannot find the module library Quorvane.so (looked in " + searched + "); give --module PATH");
            return 1;
        }
    } else {
        options.modulePath = asFilePath(options.modulePath);
    }
    installInterruptCleanup();
    std::string error;
    Job job;
    std::copy(std::begin(options.bandGiven), std::end(options.bandGiven), std::begin(job.bandGiven));
    std::copy(std::begin(options.band), std::end(options.band), std::begin(job.band));
    if (!options.automationPath.empty()) {
        std::string text;
        if (!readText(options.automationPath, &text, &error) || !parseAutomation(text, &job.automation, &error)) {
            fail(options.automationPath + ": " + error);
            return 1;
        }
    }
    if (!options.responsePath.empty() || options.input.empty()) {
        if (access(python().c_str(), X_OK) != 0 || !isFile(plotScript())) {
            fail("plotting needs " + python() + " with numpy and matplotlib and " + plotScript() +
                 " (scripts/setup.sh installs them)");
            return 1;
        }
    }
    if (!options.input.empty()) {
        job.input = options.input;
        job.output = options.output;
        job.response = options.responsePath;
        return renderJob(options, job);
    }

    // The demo: a generated signal through five bands, unless bands are given.
    if (!isFolder(options.outDir)) {
        fail("--out-dir " + options.outDir + " is not a folder");
        return 1;
    }
    if (std::none_of(std::begin(job.bandGiven), std::end(job.bandGiven), [](bool b) { return b; }))
        demoBands(job.bandGiven, job.band);
    job.input = joinPath(options.outDir, "quorvane-demo-input.wav");
    job.output = joinPath(options.outDir, "quorvane-demo-output.wav");
    job.response = options.responsePath.empty() ? joinPath(options.outDir, "quorvane-demo-response.png")
                                                : options.responsePath;
    const std::vector<float> signal = demoSignal(options.sampleRate);
    AudioWriter writer;
    const int rate = static_cast<int>(options.sampleRate);
    if (!writer.open(job.input, SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, 2, &error) ||
        !writer.write(signal.data(), static_cast<int64_t>(signal.size() / 2), &error) || !writer.commit(&error)) {
        fail(error);
        return 1;
    }
    if (!options.quiet) std::printf("demo input (pink noise, then a sweep): %s\n", job.input.c_str());
    Options demo = options;
    demo.format = SampleFormat::Float;
    return renderJob(demo, job);
}

}  // namespace qvtools
