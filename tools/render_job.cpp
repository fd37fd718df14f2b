#include "tools/render_job.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "tools/demo_signal.h"
#include "tools/exit_codes.h"
#include "tools/install_paths.h"
#include "tools/preset.h"
#include "tools/render_engine.h"
#include "tools/response_plot.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace qvtools {

namespace {

void fail(const std::string& message) { std::fprintf(stderr, "quorvane-render: error: %s\n", message.c_str()); }
void warn(const std::string& message) { std::fprintf(stderr, "quorvane-render: warning: %s\n", message.c_str()); }

bool isFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}


// mkdir -p: the folder and any missing parents.
bool makeFolder(const std::string& path, std::string* error) {
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && !isFolder(part) && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            *error = "--out-dir " + path + ": cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos) break;
    }
    if (!isFolder(path)) {
        *error = "--out-dir " + path + " is not a folder";
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

bool writeText(const std::string& text, TempOutput* file, std::string* error) {
    FILE* out = std::fopen(file->path().c_str(), "w");
    const bool ok = out != nullptr && std::fputs(text.c_str(), out) >= 0;
    if (out == nullptr || std::fclose(out) != 0 || !ok) {
        *error = "cannot write " + file->path() + ": " + std::strerror(errno);
        return false;
    }
    return file->commit(error);
}

std::string countOf(int64_t count, const std::string& thing) {
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

std::string formatSeconds(double seconds) {
    char text[48];
    if (seconds >= 0.01)
        std::snprintf(text, sizeof text, "%.2f s", seconds);
    else
        std::snprintf(text, sizeof text, "%.3g ms", seconds * 1000.0);
    return text;
}

class Progress {
public:
    Progress(int64_t total, double sampleRate, bool quiet)
        : total_(total), active_(!quiet && total > 0 && isatty(STDERR_FILENO) && total > 60.0 * sampleRate) {}
    ~Progress() { finish(); }
    void update(int64_t done) {
        if (!active_) return;
        const auto now = std::chrono::steady_clock::now();
        if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        const int width = 40;
        const int filled = static_cast<int>(width * std::min(done, total_) / total_);
        setProgressLineOpen(true);
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(width - filled, '-').c_str(), static_cast<int>(100 * std::min(done, total_) / total_));
        std::fflush(stderr);
    }
    void finish() {
        if (!active_) return;
        std::fprintf(stderr, "\r%s\r", std::string(48, ' ').c_str());
        setProgressLineOpen(false);
        active_ = false;
    }

private:
    int64_t total_;
    bool active_;
    std::chrono::steady_clock::time_point last_{};
};

// What every file of a run shares.
struct Settings {
    BandSet bands;
    std::vector<AutomationPoint> automation;
};

struct Job {
    std::string input, output;
};

// What a finished render leaves for the response plot.
struct Rendered {
    double sampleRate = 0.0;
    BandSetting start[kBandCount];
    PinValues startPins[kBandCount];
    PinValues flat[kBandCount];
};

int renderJob(const Options& options, const Settings& settings, const Job& job, const std::string& responsePath,
              Rendered* rendered) {
    std::string error;
    FILE* report = job.output == "-" ? stderr : stdout;
    if (job.output != "-" && (job.input == job.output || sameFile(job.input, job.output))) {
        fail("the output " + job.output + " is the input file; choose another output name");
        return kExitUsage;
    }
    if (!responsePath.empty() && (sameFile(job.input, responsePath) || responsePath == job.output)) {
        fail("the response plot " + responsePath + " would overwrite an audio file");
        return kExitUsage;
    }
    AudioReader reader;
    if (!reader.open(job.input, &error)) {
        fail(error);
        return kExitFailed;
    }
    const AudioInfo& info = reader.info();
    const std::string inputName = job.input == "-" ? "standard input" : job.input;
    if (info.channels != 1 && info.channels != 2) {
        fail(inputName + " has " + std::to_string(info.channels) + " channels; quorvane-render takes mono or stereo");
        return kExitFailed;
    }
    const double rate = info.sampleRate;
    if (!(rate >= kMinSampleRate && rate <= kMaxSampleRate)) {
        fail(inputName + ": sample rate " + std::to_string(info.sampleRate) +
             " Hz is outside the 8000 to 384000 Hz quorvane-render supports");
        return kExitFailed;
    }
    if (info.frames == 0) {
        fail(inputName + " holds no audio");
        return kExitFailed;
    }
    OutputLayout layout;
    if (!outputFormat(job.output, options.format, info.format, &layout.format, &error)) {
        fail(error);
        return kExitFailed;
    }
    layout.sampleRate = info.sampleRate;
    layout.channels = info.channels;
    layout.frames = info.frames;
    layout.dither = options.dither;
    layout.tags = info.tags;

    auto runner = ModuleRunner::create(options.modulePath, rate, options.blockSize, &error);
    if (!runner) {
        fail(error);
        return kExitFailed;
    }
    Rendered r;
    r.sampleRate = rate;
    for (int band = 0; band < kBandCount; ++band) {
        r.flat[band] = runner->defaultPins(band);
        if (settings.bands.given[band]) {
            r.start[band] = settings.bands.band[band];
            r.startPins[band] = toPinValues(r.start[band], rate);
            for (const std::string& w : settingWarnings(r.start[band], rate))
                warn("band " + std::to_string(band + 1) + ": " + w);
        } else {
            r.start[band] = settingFromPins(r.flat[band]);
            r.startPins[band] = r.flat[band];
        }
        runner->setPins(band, r.startPins[band]);
    }
    std::vector<ControlChange> changes;
    std::vector<std::string> warnings;
    const int64_t knownFrames = info.frames >= 0 ? info.frames : std::numeric_limits<int64_t>::max();
    if (!resolveAutomation(settings.automation, r.start, rate, knownFrames, &changes, &warnings, &error,
                           settings.bands.given)) {
        fail(options.automationPath + ": " + error);
        return kExitUsage;
    }
    for (const std::string& w : warnings) warn(w);
    runner->setChanges(changes);

    AudioWriter writer;
    if (!writer.open(job.output, layout, &error)) {
        fail(error);
        return kExitFailed;
    }
    const int block = options.blockSize;
    const int channels = info.channels;
    const double gain = std::pow(10.0, options.gainDb / 20.0);
    std::vector<float> interleaved(static_cast<size_t>(block) * channels);
    std::vector<float> in[2], out[2];
    for (int c = 0; c < 2; ++c) {
        in[c].resize(block);
        out[c].resize(block);
    }
    Progress progress(info.frames, rate, options.quiet);
    const auto began = std::chrono::steady_clock::now();
    int64_t done = 0, nonFiniteIn = 0;
    for (;;) {
        const int64_t got = reader.read(interleaved.data(), block);
        if (got <= 0) break;
        const int frames = static_cast<int>(got);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c) {
                const float sample = interleaved[static_cast<size_t>(i) * channels + c];
                nonFiniteIn += !std::isfinite(sample);
                in[c][i] = sample;
            }
        // A mono file feeds both inputs; its one channel comes from Output1.
        const float* right = channels == 2 ? in[1].data() : in[0].data();
        runner->processBlock(in[0].data(), right, out[0].data(), out[1].data(), frames);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c) {
                const float sample = out[c][i];
                interleaved[static_cast<size_t>(i) * channels + c] =
                    options.gainDb == 0.0 ? sample : static_cast<float>(static_cast<double>(sample) * gain);
            }
        if (!writer.write(interleaved.data(), frames, &error)) {
            progress.finish();
            if (nonFiniteIn > 0 && writer.nonFiniteSamples() == 0)
                error = inputName + " holds NaN or infinite samples: output " + error;
            fail((job.output == "-" ? std::string("standard output") : job.output) + ": " + error);
            return kExitFailed;
        }
        done += frames;
        progress.update(done);
    }
    progress.finish();
    if (done == 0) {
        fail(inputName + " holds no audio");
        return kExitFailed;
    }
    if (info.promisedFrames > done)
        warn(inputName + " is cut short: its header promises " + std::to_string(info.promisedFrames) +
             " frames, it holds " + std::to_string(done) + "; rendered those");
    if (!writer.commit(&error)) {
        fail(error);
        return kExitFailed;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const double seconds = static_cast<double>(done) / rate;
    if (writer.clippedSamples() > 0)
        warn(countOf(writer.clippedSamples(), "sample") + " went beyond full scale and were clipped in " +
             describeFormat(writer.format()) + " output (peak " + std::to_string(20.0 * std::log10(writer.peak())) +
             " dBFS); lower --gain, or write a float .wav or .aiff (--bits float) to keep them");
    if (nonFiniteIn > 0 || writer.nonFiniteSamples() > 0)
        warn(inputName + " holds " + countOf(nonFiniteIn, "NaN or infinite sample") + "; the float output holds " +
             std::to_string(writer.nonFiniteSamples()) + " (kept as they are)");
    if (!options.quiet) {
        // A speed only for audio long enough that the ratio means something
        // (a few frames take less time to render than to start), and never
        // rounded down to nothing.
        char speed[64] = "";
        if (seconds >= 0.1 && wall > 0.0)
            std::snprintf(speed, sizeof speed, seconds / wall >= 10.0 ? ", %.0fx real time" : ", %.2gx real time",
                          seconds / wall);
        std::fprintf(report, "rendered %lld frame%s (%s of %s audio at %d Hz) in %.3f s%s: %s\n",
                     static_cast<long long>(done), done == 1 ? "" : "s", formatSeconds(seconds).c_str(),
                     channels == 1 ? "mono" : "stereo", info.sampleRate, wall, speed,
                     job.output == "-" ? "standard output" : job.output.c_str());
    }
    *rendered = r;
    return kExitOk;
}

bool plot(const Options& options, const Settings& settings, const Rendered& r, const std::string& responsePath,
          TempOutput* image) {
    std::string error;
    MeasuredResponse response;
    if (!measureResponse(options.modulePath, r.sampleRate, r.startPins, r.flat, &response, &error)) {
        fail(error);
        return false;
    }
    for (double& db : response.totalDb) db += options.gainDb;
    char gainText[48] = "";
    if (options.gainDb != 0.0) std::snprintf(gainText, sizeof gainText, " (output gain %+g dB)", options.gainDb);
    std::vector<std::string> labels{std::string("total") + gainText};
    // Bands not set are flat; naming them would crowd out the ones that act.
    for (int band = 0; band < kBandCount; ++band)
        labels.push_back(settings.bands.given[band] ? "band " + std::to_string(band + 1) + ": " + describe(r.start[band])
                                                    : std::string());
    if (!plotResponse(response, labels, responsePath, image, &error) || !image->commit(&error)) {
        fail(error);
        return false;
    }
    if (!options.quiet)
        std::fprintf(options.output == "-" ? stderr : stdout, "response plot: %s\n", responsePath.c_str());
    return true;
}

// Bands from the preset, then the command line's over them.
bool gatherSettings(const Options& options, Settings* settings) {
    std::string error;
    if (!options.presetPath.empty()) {
        std::string text;
        if (!readText(options.presetPath, &text, &error) || !parsePreset(text, &settings->bands, &error)) {
            fail(options.presetPath + ": " + error);
            return false;
        }
    }
    for (int band = 0; band < kBandCount; ++band)
        if (options.bandGiven[band]) {
            settings->bands.given[band] = true;
            settings->bands.band[band] = options.band[band];
        }
    if (!options.automationPath.empty()) {
        std::string text;
        if (!readText(options.automationPath, &text, &error) ||
            !parseAutomation(text, &settings->automation, &error)) {
            fail(options.automationPath + ": " + error);
            return false;
        }
    }
    return true;
}

// Says what it wrote, as every output is named when written: a preset saved
// on its own would otherwise end in silence, success looking like nothing.
bool savePreset(const Options& options, const Settings& settings, TempOutput* preset) {
    std::string error;
    if (!writeText(formatPreset(settings.bands), preset, &error)) {
        fail(error);
        return false;
    }
    if (!options.quiet) {
        const auto set = std::count(std::begin(settings.bands.given), std::end(settings.bands.given), true);
        const std::string bands = set == 0 ? "no band set" : countOf(set, "band") + " set";
        std::fprintf(options.output == "-" ? stderr : stdout, "preset (%s): %s\n", bands.c_str(),
                     options.savePresetPath.c_str());
    }
    return true;
}

int writeDemoInput(const Options& options, const std::string& path) {
    std::string error;
    const std::vector<float> signal = demoSignal(options.sampleRate);
    AudioWriter writer;
    OutputLayout layout;
    layout.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    layout.sampleRate = static_cast<int>(options.sampleRate);
    layout.channels = 2;
    layout.frames = static_cast<int64_t>(signal.size() / 2);
    if (!writer.open(path, layout, &error) || !writer.write(signal.data(), layout.frames, &error) ||
        !writer.commit(&error)) {
        fail(error);
        return kExitFailed;
    }
    if (!options.quiet) std::printf("demo input (pink noise, then a sweep): %s\n", path.c_str());
    return kExitOk;
}

}  // namespace

int run(const Options& given) {
    if (given.help) {
        std::fputs(usage(), stdout);
        return kExitOk;
    }
    if (given.version) {
        std::printf("quorvane-render %s\n", QUORVANE_VERSION);
        return kExitOk;
    }
    installInterruptCleanup();
    Options options = given;
    std::string error;
    if (options.modulePath.empty()) {
        std::string searched;
        options.modulePath = findShippedFile("Quorvane.so", &searched);
        if (options.modulePath.empty()) {
            fail("cannot find the module library Quorvane.so (looked in " + searched + "); give --module PATH");
            return kExitFailed;
        }
    } else {
        options.modulePath = asFilePath(options.modulePath);
    }
    if (!options.demo() && options.output == "-" && isatty(STDOUT_FILENO)) {
        fail("standard output is a terminal; send the audio into a pipe or a file");
        return kExitUsage;
    }
    Settings settings;
    if (!gatherSettings(options, &settings)) return kExitUsage;
    setReplaceReadOnly(options.force);
    // A read-only OUTPUT is refused before anything else is written.
    if (!options.output.empty()) {
        const std::string refused = readOnlyRefusal(options.output);
        if (!refused.empty()) {
            fail(refused);
            return kExitFailed;
        }
    }

    // Every output is claimed before any work, so a path that cannot be
    // written fails at once rather than after a long render.
    TempOutput preset;
    if (!options.savePresetPath.empty() && !preset.create(options.savePresetPath, &error)) {
        fail(error);
        return kExitFailed;
    }
    const bool savingOnly = options.demo() && !options.savePresetPath.empty() && !options.outDirGiven &&
                            options.responsePath.empty();
    if (savingOnly) return savePreset(options, settings, &preset) ? kExitOk : kExitFailed;
    if ((options.demo() || options.batch()) && !makeFolder(options.outDir, &error)) {
        fail(error);
        return kExitFailed;
    }
    std::string responsePath = options.responsePath;
    if (options.demo()) {
        if (std::none_of(std::begin(settings.bands.given), std::end(settings.bands.given), [](bool b) { return b; }))
            demoBands(settings.bands.given, settings.bands.band);
        if (responsePath.empty()) responsePath = batchOutputPath(options.outDir, "quorvane-demo-response.png");
    }
    if (!responsePath.empty()) {
        const std::string missing = plottingUnavailable();
        if (!missing.empty()) {
            fail(missing);
            return kExitFailed;
        }
    }
    TempOutput image;
    if (!responsePath.empty() && !image.create(responsePath, &error)) {
        fail(error);
        return kExitFailed;
    }
    if (!options.savePresetPath.empty() && !savePreset(options, settings, &preset)) return kExitFailed;

    std::vector<Job> jobs;
    if (options.batch()) {
        if (access(options.outDir.c_str(), W_OK) != 0) {
            fail("cannot write into --out-dir " + options.outDir + ": " + std::strerror(errno));
            return kExitFailed;
        }
        for (const std::string& input : options.inputs) jobs.push_back({input, batchOutputPath(options.outDir, input)});
    } else if (options.demo()) {
        const Job demo{batchOutputPath(options.outDir, "quorvane-demo-input.wav"),
                       batchOutputPath(options.outDir, "quorvane-demo-output.wav")};
        options.format = SampleFormat::Float;
        if (const int status = writeDemoInput(options, demo.input)) return status;
        jobs.push_back(demo);
    } else {
        jobs.push_back({options.input, options.output});
    }

    int status = kExitOk;
    bool anyRendered = false;
    Rendered first;
    for (const Job& job : jobs) {
        Rendered rendered;
        const int result = renderJob(options, settings, job, responsePath, &rendered);
        if (result != kExitOk) {
            // A batch goes on with the other files and fails at the end.
            if (status == kExitOk) status = result;
            continue;
        }
        if (!anyRendered) first = rendered;
        anyRendered = true;
    }
    if (options.batch() && status != kExitOk)
        fail("not every file was rendered (see above)");
    if (anyRendered && !responsePath.empty() && !plot(options, settings, first, responsePath, &image))
        return kExitFailed;
    return status;
}

}  // namespace qvtools
