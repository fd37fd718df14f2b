// Audio files through libsndfile, and outputs that appear under their final
// name only once complete: everything is written to a temporary file in the
// same folder and renamed at the end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace qvtools {

class Quantiser;

// A file that becomes `finalPath` on commit() and is removed otherwise
// (also when the process is interrupted, see installInterruptCleanup).
class TempOutput {
public:
    TempOutput() = default;
    ~TempOutput();
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    bool create(const std::string& finalPath, std::string* error);
    // A scratch file in $TMPDIR, named after `name` (output for a pipe,
    // data for the plotting script); removed like any other.
    bool createScratch(const std::string& name, std::string* error);
    const std::string& path() const { return tempPath_; }
    bool commit(std::string* error);
    void discard();

private:
    bool make(const std::string& finalPath, std::string* error);

    std::string finalPath_;
    std::string tempPath_;
};

// Whether create() may replace an existing file its user may not write
// (--force). By default it refuses, as other command-line tools do: a file
// someone made read-only is kept from being overwritten by accident.
void setReplaceReadOnly(bool replace);
// Empty when `path` may be written or replaced; otherwise the one-line
// reason it is refused ("out.wav is read-only; ...").
std::string readOnlyRefusal(const std::string& path);

// On SIGINT, SIGTERM or SIGHUP: remove every uncommitted temporary output,
// say so on stderr and exit with 128 + the signal number.
void installInterruptCleanup();
// While a progress bar holds the terminal's line, an interrupt message starts
// on a line of its own.
void setProgressLineOpen(bool open);

// True when both name one existing file (also through links).
bool sameFile(const std::string& a, const std::string& b);

// Text tags (title, artist, ...) as libsndfile numbers them.
using AudioTags = std::vector<std::pair<int, std::string>>;

struct AudioInfo {
    int64_t frames = 0;          // as the file says; -1 when unknown (a stream)
    int64_t promisedFrames = 0;  // what the header promises (more when the file is cut short)
    int sampleRate = 0;
    int channels = 0;
    int format = 0;  // libsndfile major format | subtype
    AudioTags tags;
};

class AudioReader {
public:
    ~AudioReader();
    // "-" reads standard input.
    bool open(const std::string& path, std::string* error);
    const AudioInfo& info() const { return info_; }
    // Interleaved frames; returns the number read (0 at the end).
    int64_t read(float* interleaved, int64_t frames);

private:
    SNDFILE* file_ = nullptr;
    AudioInfo info_;
};

enum class SampleFormat { Default, Float, Input, Pcm16, Pcm24, Pcm32 };

// The libsndfile format for writing `path` (container from its extension:
// .wav, .flac, .aif/.aiff; "-" is WAV): 32-bit float, integers of a depth,
// or the input's sample format. The default is float, except for FLAC, which
// holds integers of 8 to 24 bits only and keeps the input's depth where it
// can (24 bits otherwise).
bool outputFormat(const std::string& path, SampleFormat choice, int inputFormat, int* format, std::string* error);
std::string describeFormat(int format);

// WAV data beyond this many bytes does not fit the format's 32-bit sizes
// (less room for the header); such files are written as RF64.
constexpr int64_t kWavDataLimitBytes = 0xFFFFFFFFll - 65536;

struct OutputLayout {
    int format = 0;  // libsndfile major format | subtype
    int sampleRate = 0;
    int channels = 0;
    int64_t frames = -1;  // expected; -1 when unknown (input from a stream)
    bool dither = true;   // integer outputs
    AudioTags tags;
    int64_t wavDataLimitBytes = kWavDataLimitBytes;
};

class AudioWriter {
public:
    AudioWriter();
    ~AudioWriter();
    // "-" writes standard output (WAV), once the file is complete.
    bool open(const std::string& finalPath, const OutputLayout& layout, std::string* error);
    // Fails on a NaN or infinity for an integer output, which cannot hold it.
    bool write(const float* interleaved, int64_t frames, std::string* error);
    // Closes the file and gives it its final name.
    bool commit(std::string* error);
    // Samples beyond full scale written to an integer format (clipped).
    int64_t clippedSamples() const;
    int64_t nonFiniteSamples() const { return nonFinite_; }
    double peak() const { return peak_; }
    int format() const { return format_; }

private:
    SNDFILE* file_ = nullptr;
    TempOutput temp_;
    std::string finalPath_;
    int format_ = 0;
    int channels_ = 0;
    std::unique_ptr<Quantiser> quantiser_;  // integer outputs
    std::vector<int32_t> integers_;
    int64_t written_ = 0;
    int64_t nonFinite_ = 0;
    double peak_ = 0.0;
};

}  // namespace qvtools
