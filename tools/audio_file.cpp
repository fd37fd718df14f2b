#include "tools/audio_file.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <vector>

namespace qvtools {

namespace {

// Uncommitted temporary outputs, for the interrupt handler (which may only
// use what is safe in a signal handler: unlink and write on fixed storage).
constexpr int kMaxTemps = 8;
constexpr size_t kMaxPath = 4096;
char tempPaths[kMaxTemps][kMaxPath];
volatile sig_atomic_t tempUsed[kMaxTemps];

int registerTemp(const std::string& path) {
    if (path.size() >= kMaxPath) return -1;
    for (int i = 0; i < kMaxTemps; ++i)
        if (!tempUsed[i]) {
            std::memcpy(tempPaths[i], path.c_str(), path.size() + 1);
            tempUsed[i] = 1;
            return i;
        }
    return -1;
}

void unregisterTemp(const std::string& path) {
    for (int i = 0; i < kMaxTemps; ++i)
        if (tempUsed[i] && path == tempPaths[i]) tempUsed[i] = 0;
}

extern "C" void onInterrupt(int) {
    for (int i = 0; i < kMaxTemps; ++i)
        if (tempUsed[i]) unlink(tempPaths[i]);
    const char message[] = "\nquorvane-render: interrupted; no output written\n";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    _exit(130);
}

std::string extensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace

TempOutput::~TempOutput() { discard(); }

bool TempOutput::create(const std::string& finalPath, std::string* error) {
    discard();
    const size_t slash = finalPath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    std::vector<char> pattern(folder.begin(), folder.end());
    const std::string tail = "." + name + ".partial-XXXXXX";
    pattern.insert(pattern.end(), tail.begin(), tail.end());
    pattern.push_back('\0');
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        *error = "cannot write " + finalPath + ": " + std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; the finished file gets the usual mode.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    finalPath_ = finalPath;
    tempPath_ = pattern.data();
    registerTemp(tempPath_);
    return true;
}

bool TempOutput::commit(std::string* error) {
    if (std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        *error = "cannot write " + finalPath_ + ": " + std::strerror(errno);
        discard();
        return false;
    }
    unregisterTemp(tempPath_);
    tempPath_.clear();
    return true;
}

void TempOutput::discard() {
    if (tempPath_.empty()) return;
    unregisterTemp(tempPath_);
    unlink(tempPath_.c_str());
    tempPath_.clear();
}

void installInterruptCleanup() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

AudioReader::~AudioReader() {
    if (file_ != nullptr) sf_close(file_);
}

bool AudioReader::open(const std::string& path, std::string* error) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        *error = "cannot read " + path + ": it is a folder";
        return false;
    }
    if (access(path.c_str(), R_OK) != 0) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (file_ == nullptr) {
        *error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    info_.frames = info.frames;
    info_.sampleRate = info.samplerate;
    info_.channels = info.channels;
    info_.format = info.format;
    return true;
}

int64_t AudioReader::read(float* interleaved, int64_t frames) { return sf_readf_float(file_, interleaved, frames); }

bool outputFormat(const std::string& path, SampleFormat choice, int inputFormat, int* format, std::string* error) {
    const std::string ext = extensionOf(path);
    int major = 0;
    if (ext == "wav")
        major = SF_FORMAT_WAV;
    else if (ext == "flac")
        major = SF_FORMAT_FLAC;
    else if (ext == "aif" || ext == "aiff")
        major = SF_FORMAT_AIFF;
    else {
        *error = "cannot write " + path + ": unsupported output type " + (ext.empty() ? "(no extension)" : "." + ext) +
                 " (use .wav, .flac or .aiff)";
        return false;
    }
    const int inputSubtype = inputFormat & SF_FORMAT_SUBMASK;
    int subtype = SF_FORMAT_FLOAT;
    if (choice == SampleFormat::Input || (choice == SampleFormat::Default && major == SF_FORMAT_FLAC)) {
        subtype = inputSubtype;
        if (major == SF_FORMAT_FLAC && choice == SampleFormat::Default &&
            (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE || subtype == 0))
            subtype = SF_FORMAT_PCM_24;
    }
    SF_INFO check;
    std::memset(&check, 0, sizeof check);
    check.format = major | subtype;
    check.channels = 1;
    check.samplerate = 48000;
    if (subtype == 0 || !sf_format_check(&check)) {
        *error = "cannot write " + path + ": " + ext + " files cannot hold " + describeFormat(subtype) +
                 " samples (choose another --format or output type)";
        return false;
    }
    *format = major | subtype;
    return true;
}

std::string describeFormat(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return "8-bit";
        case SF_FORMAT_PCM_16: return "16-bit";
        case SF_FORMAT_PCM_24: return "24-bit";
        case SF_FORMAT_PCM_32: return "32-bit integer";
        case SF_FORMAT_FLOAT: return "32-bit float";
        case SF_FORMAT_DOUBLE: return "64-bit float";
        default: return "this kind of";
    }
}

AudioWriter::~AudioWriter() {
    if (file_ != nullptr) sf_close(file_);
}

bool AudioWriter::open(const std::string& finalPath, int format, int sampleRate, int channels,
                       std::string* error) {
    if (!temp_.create(finalPath, error)) return false;
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.format = format;
    info.samplerate = sampleRate;
    info.channels = channels;
    file_ = sf_open(temp_.path().c_str(), SFM_WRITE, &info);
    if (file_ == nullptr) {
        *error = "cannot write " + finalPath + ": " + sf_strerror(nullptr);
        temp_.discard();
        return false;
    }
    channels_ = channels;
    const int subtype = format & SF_FORMAT_SUBMASK;
    integer_ = subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE;
    // Beyond full scale an integer format clips rather than wraps around.
    if (integer_) sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool AudioWriter::write(const float* interleaved, int64_t frames, std::string* error) {
    const int64_t samples = frames * channels_;
    for (int64_t i = 0; i < samples; ++i) {
        const double magnitude = std::fabs(static_cast<double>(interleaved[i]));
        if (magnitude > peak_) peak_ = magnitude;
        if (integer_ && magnitude > 1.0) ++clipped_;
    }
    if (sf_writef_float(file_, interleaved, frames) != frames) {
        *error = std::string("writing failed: ") + sf_strerror(file_);
        return false;
    }
    return true;
}

bool AudioWriter::commit(std::string* error) {
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        *error = std::string("writing failed: ") + sf_error_number(closed);
        temp_.discard();
        return false;
    }
    return temp_.commit(error);
}

}  // namespace qvtools
