#include "tools/audio_file.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/float_wav_header.h"
#include "tools/quantiser.h"

namespace qvtools {

namespace {

// Uncommitted temporary outputs, for the interrupt handler (which may only
// use what is safe in a signal handler: unlink and write on fixed storage).
constexpr int kMaxTemps = 8;
constexpr size_t kMaxPath = 4096;
char tempPaths[kMaxTemps][kMaxPath];
volatile sig_atomic_t tempUsed[kMaxTemps];
volatile sig_atomic_t progressLineOpen = 0;

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

extern "C" void onInterrupt(int signalNumber) {
    for (int i = 0; i < kMaxTemps; ++i)
        if (tempUsed[i]) unlink(tempPaths[i]);
    const char message[] = "\nquorvane-render: interrupted; no output written\n";
    // The leading newline only ends a progress bar's line, never makes a blank one.
    const int skip = progressLineOpen ? 0 : 1;
    ssize_t ignored = write(STDERR_FILENO, message + skip, sizeof message - 1 - skip);
    (void)ignored;
    _exit(128 + signalNumber);
}

std::string extensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// Bytes per sample of the formats whose size a header states in bytes.
int bytesPerSample(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW: return 1;
        case SF_FORMAT_PCM_16: return 2;
        case SF_FORMAT_PCM_24: return 3;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT: return 4;
        case SF_FORMAT_DOUBLE: return 8;
        default: return 0;
    }
}

int integerBits(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return 8;
        case SF_FORMAT_PCM_16: return 16;
        case SF_FORMAT_PCM_24: return 24;
        case SF_FORMAT_PCM_32: return 32;
        default: return 0;
    }
}

// The frames a WAV or AIFF header promises: libsndfile quietly shortens a
// file cut off early to what it holds, so its own count cannot tell.
int64_t promisedFrames(SNDFILE* file, const SF_INFO& info) {
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const char* id = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX ? "data"
                     : major == SF_FORMAT_AIFF                           ? "SSND"
                                                                         : nullptr;
    const int frameBytes = bytesPerSample(info.format) * info.channels;
    if (id == nullptr || frameBytes == 0) return info.frames;
    SF_CHUNK_INFO chunk;
    std::memset(&chunk, 0, sizeof chunk);
    std::strcpy(chunk.id, id);
    chunk.id_size = 4;
    SF_CHUNK_ITERATOR* iterator = sf_get_chunk_iterator(file, &chunk);
    SF_CHUNK_INFO found;
    std::memset(&found, 0, sizeof found);
    if (iterator == nullptr || sf_get_chunk_size(iterator, &found) != SF_ERR_NO_ERROR) return info.frames;
    // SSND starts with 8 bytes of offset and block size before the samples.
    const int64_t bytes = static_cast<int64_t>(found.datalen) - (major == SF_FORMAT_AIFF ? 8 : 0);
    return std::max<int64_t>(info.frames, bytes / frameBytes);
}

constexpr int kTagIds[] = {SF_STR_TITLE,   SF_STR_COPYRIGHT, SF_STR_SOFTWARE, SF_STR_ARTIST,
                           SF_STR_COMMENT, SF_STR_DATE,      SF_STR_ALBUM,    SF_STR_LICENSE,
                           SF_STR_TRACKNUMBER, SF_STR_GENRE};

}  // namespace

void setProgressLineOpen(bool open) { progressLineOpen = open ? 1 : 0; }

namespace {
bool replaceReadOnly = false;
}  // namespace

void setReplaceReadOnly(bool replace) { replaceReadOnly = replace; }

std::string readOnlyRefusal(const std::string& path) {
    struct stat st;
    if (replaceReadOnly || path == "-" || stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return "";
    // The mode bits as well as access(): a superuser may write anything, yet
    // a file without a single write bit was made read-only on purpose.
    if ((st.st_mode & 0222) != 0 && access(path.c_str(), W_OK) == 0) return "";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return path + " is read-only (mode " + mode + "); not replacing it (--force replaces it)";
}

TempOutput::~TempOutput() { discard(); }

bool TempOutput::createScratch(const std::string& name, std::string* error) {
    const char* tmp = std::getenv("TMPDIR");
    // Never committed: whatever lies under the scratch name stays as it is.
    return make(std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/" + name, error);
}

bool TempOutput::create(const std::string& finalPath, std::string* error) {
    discard();
    const std::string refused = readOnlyRefusal(finalPath);
    if (!refused.empty()) {
        *error = refused;
        return false;
    }
    return make(finalPath, error);
}

bool TempOutput::make(const std::string& finalPath, std::string* error) {
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
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    if (path == "-") {
        file_ = sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE);
        if (file_ == nullptr) {
            *error = std::string("cannot read standard input: ") + sf_strerror(nullptr);
            return false;
        }
    } else {
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            *error = "cannot read " + path + ": it is a folder";
            return false;
        }
        if (access(path.c_str(), R_OK) != 0) {
            *error = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        file_ = sf_open(path.c_str(), SFM_READ, &info);
        if (file_ == nullptr) {
            *error = "cannot read " + path + ": " + sf_strerror(nullptr);
            return false;
        }
    }
    // A stream's header may not know its length (or may not tell the truth).
    info_.frames = info.seekable ? info.frames : -1;
    info_.promisedFrames = info.seekable ? promisedFrames(file_, info) : -1;
    info_.sampleRate = info.samplerate;
    info_.channels = info.channels;
    info_.format = info.format;
    for (int id : kTagIds)
        if (const char* text = sf_get_string(file_, id)) info_.tags.emplace_back(id, text);
    return true;
}

int64_t AudioReader::read(float* interleaved, int64_t frames) { return sf_readf_float(file_, interleaved, frames); }

bool outputFormat(const std::string& path, SampleFormat choice, int inputFormat, int* format, std::string* error) {
    const std::string ext = path == "-" ? "wav" : extensionOf(path);
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
    const auto holds = [major](int subtype) {
        SF_INFO check;
        std::memset(&check, 0, sizeof check);
        check.format = major | subtype;
        check.channels = 1;
        check.samplerate = 48000;
        return subtype != 0 && sf_format_check(&check) != 0;
    };
    const int inputSubtype = inputFormat & SF_FORMAT_SUBMASK;
    int subtype = SF_FORMAT_FLOAT;
    switch (choice) {
        case SampleFormat::Float: subtype = SF_FORMAT_FLOAT; break;
        case SampleFormat::Pcm16: subtype = SF_FORMAT_PCM_16; break;
        case SampleFormat::Pcm24: subtype = SF_FORMAT_PCM_24; break;
        case SampleFormat::Pcm32: subtype = SF_FORMAT_PCM_32; break;
        case SampleFormat::Input: subtype = inputSubtype; break;
        case SampleFormat::Default:
            // FLAC holds integers of 8 to 24 bits: the input's depth, else 24.
            if (major == SF_FORMAT_FLAC) subtype = holds(inputSubtype) ? inputSubtype : SF_FORMAT_PCM_24;
            break;
    }
    if (!holds(subtype)) {
        std::string fits;
        for (const auto& bits : {std::make_pair(SF_FORMAT_PCM_16, "16"), std::make_pair(SF_FORMAT_PCM_24, "24"),
                                 std::make_pair(SF_FORMAT_PCM_32, "32"), std::make_pair(SF_FORMAT_FLOAT, "float")})
            if (holds(bits.first)) fits += (fits.empty() ? "" : ", ") + std::string(bits.second);
        *error = "cannot write " + path + ": " + ext + " files cannot hold " + describeFormat(subtype) +
                 " samples (use --bits " + fits + ", or another output type)";
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

AudioWriter::AudioWriter() = default;

AudioWriter::~AudioWriter() {
    if (file_ != nullptr) sf_close(file_);
}

bool AudioWriter::open(const std::string& finalPath, const OutputLayout& layout, std::string* error) {
    finalPath_ = finalPath;
    const bool created = finalPath == "-" ? temp_.createScratch("quorvane-render-stdout.wav", error)
                                          : temp_.create(finalPath, error);
    if (!created) return false;
    int format = layout.format;
    const int subtype = format & SF_FORMAT_SUBMASK;
    bool autoDowngrade = false;
    const int64_t bytes = layout.frames * layout.channels * bytesPerSample(format);
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF && bytes > layout.wavDataLimitBytes) {
        *error = "cannot write " + finalPath + ": the audio would pass the 4 GiB an AIFF file can hold "
                 "(write .wav, which becomes RF64, or .flac)";
        temp_.discard();
        return false;
    }
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
        // Data past 4 GiB wraps a WAV's size fields: RF64 holds it. A stream
        // of unknown length is written as RF64 that stays plain WAV if it
        // turns out small enough.
        if (layout.frames < 0 || bytes > layout.wavDataLimitBytes) {
            format = SF_FORMAT_RF64 | subtype;
            autoDowngrade = layout.frames < 0;
        }
    }
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.format = format;
    info.samplerate = layout.sampleRate;
    info.channels = layout.channels;
    file_ = sf_open(temp_.path().c_str(), SFM_WRITE, &info);
    if (file_ == nullptr) {
        *error = "cannot write " + finalPath + ": " + sf_strerror(nullptr);
        temp_.discard();
        return false;
    }
    format_ = format;
    channels_ = layout.channels;
    if (autoDowngrade) sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    // The PEAK chunk carries the time of writing; a float WAV keeps its room
    // until the header is completed at commit, other outputs go without.
    const bool floatWav = subtype == SF_FORMAT_FLOAT && (format & SF_FORMAT_TYPEMASK) != SF_FORMAT_AIFF &&
                          (format & SF_FORMAT_TYPEMASK) != SF_FORMAT_FLAC;
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, floatWav ? SF_TRUE : SF_FALSE);
    for (const auto& tag : layout.tags) sf_set_string(file_, tag.first, tag.second.c_str());
    if (const int bits = integerBits(format)) quantiser_.reset(new Quantiser(bits, layout.dither));
    return true;
}

bool AudioWriter::write(const float* interleaved, int64_t frames, std::string* error) {
    const int64_t samples = frames * channels_;
    for (int64_t i = 0; i < samples; ++i) {
        if (!std::isfinite(interleaved[i])) {
            if (quantiser_) {
                *error = "frame " + std::to_string(written_ + i / channels_) + " is NaN or infinite, which " +
                         describeFormat(format_) + " integer samples cannot hold; write a float .wav or .aiff "
                         "(--bits float)";
                return false;
            }
            ++nonFinite_;
            continue;
        }
        const double magnitude = std::fabs(static_cast<double>(interleaved[i]));
        if (magnitude > peak_) peak_ = magnitude;
    }
    sf_count_t done = 0;
    if (quantiser_) {
        integers_.resize(static_cast<size_t>(samples));
        for (int64_t i = 0; i < samples; ++i) integers_[static_cast<size_t>(i)] = (*quantiser_)(interleaved[i]);
        done = sf_writef_int(file_, integers_.data(), frames);
    } else {
        done = sf_writef_float(file_, interleaved, frames);
    }
    if (done != frames) {
        *error = std::string("writing failed: ") + sf_strerror(file_);
        return false;
    }
    written_ += frames;
    return true;
}

int64_t AudioWriter::clippedSamples() const { return quantiser_ ? quantiser_->clipped() : 0; }

bool AudioWriter::commit(std::string* error) {
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        *error = "cannot write " + finalPath_ + ": " + sf_error_number(closed);
        temp_.discard();
        return false;
    }
    if (!completeFloatWavHeader(temp_.path(), error)) {
        temp_.discard();
        return false;
    }
    if (finalPath_ != "-") return temp_.commit(error);
    // To a pipe only once complete: libsndfile cannot stream a WAV it must
    // go back to finish, and a reader gets a header with the true length.
    const int in = ::open(temp_.path().c_str(), O_RDONLY);
    bool ok = in >= 0;
    std::vector<char> buffer(1 << 16);
    while (ok) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0 && errno == EINTR) continue;
        ok = got > 0;
        for (ssize_t sent = 0; ok && sent < got;) {
            const ssize_t put = ::write(STDOUT_FILENO, buffer.data() + sent, static_cast<size_t>(got - sent));
            if (put < 0 && errno == EINTR) continue;
            ok = put > 0;
            sent += put > 0 ? put : 0;
        }
    }
    const int saved = errno;
    if (in >= 0) ::close(in);
    temp_.discard();
    if (!ok) *error = std::string("cannot write standard output: ") + std::strerror(saved);
    return ok;
}

}  // namespace qvtools
