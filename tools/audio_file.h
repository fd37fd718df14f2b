// Audio files through libsndfile, and outputs that appear under their final
// name only once complete: everything is written to a temporary file in the
// same folder and renamed at the end.
#pragma once

#include <cstdint>
#include <string>

typedef struct sf_private_tag SNDFILE;

namespace qvtools {

// A file that becomes `finalPath` on commit() and is removed otherwise
// (also when the process is interrupted, see installInterruptCleanup).
class TempOutput {
public:
    TempOutput() = default;
    ~TempOutput();
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    bool create(const std::string& finalPath, std::string* error);
    const std::string& path() const { return tempPath_; }
    bool commit(std::string* error);
    void discard();

private:
    std::string finalPath_;
    std::string tempPath_;
};

// On SIGINT, SIGTERM or SIGHUP: remove every uncommitted temporary output,
// say so on stderr and exit with 130.
void installInterruptCleanup();

// True when both name one existing file (also through links).
bool sameFile(const std::string& a, const std::string& b);

struct AudioInfo {
    int64_t frames = 0;
    int sampleRate = 0;
    int channels = 0;
    int format = 0;  // libsndfile major format | subtype
};

class AudioReader {
public:
    ~AudioReader();
    bool open(const std::string& path, std::string* error);
    const AudioInfo& info() const { return info_; }
    // Interleaved frames; returns the number read (0 at the end).
    int64_t read(float* interleaved, int64_t frames);

private:
    SNDFILE* file_ = nullptr;
    AudioInfo info_;
};

enum class SampleFormat { Default, Float, Input };

// The libsndfile format for writing `path` (container from its extension:
// .wav, .flac, .aif/.aiff): 32-bit float, or the input's sample format. The
// default is float, except for FLAC, which holds integers only and takes the
// input's format (24-bit when the input is float).
bool outputFormat(const std::string& path, SampleFormat choice, int inputFormat, int* format, std::string* error);
std::string describeFormat(int format);

class AudioWriter {
public:
    ~AudioWriter();
    bool open(const std::string& finalPath, int format, int sampleRate, int channels, std::string* error);
    bool write(const float* interleaved, int64_t frames, std::string* error);
    // Closes the file and gives it its final name.
    bool commit(std::string* error);
    // Samples beyond full scale written to an integer format (clipped).
    int64_t clippedSamples() const { return clipped_; }
    double peak() const { return peak_; }

private:
    SNDFILE* file_ = nullptr;
    TempOutput temp_;
    int channels_ = 0;
    bool integer_ = false;
    int64_t clipped_ = 0;
    double peak_ = 0.0;
};

}  // namespace qvtools
