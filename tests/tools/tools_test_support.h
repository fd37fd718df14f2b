// Helpers for the quorvane-render tests: a scratch folder, small audio files
// and running the program itself.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace toolstest {

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/qv-render-test-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
    }
    ~TempDir() {
        if (path_.empty()) return;
        // Depth first, so folders are empty when removed (installed trees).
        nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); }, 16,
             FTW_DEPTH | FTW_PHYS);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }
    std::set<std::string> entries() const {
        std::set<std::string> names;
        if (DIR* dir = opendir(path_.c_str())) {
            while (dirent* entry = readdir(dir))
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    names.insert(entry->d_name);
            closedir(dir);
        }
        return names;
    }

private:
    std::string path_;
};

inline bool writeAudio(const std::string& path, const std::vector<float>& interleaved, int channels, int rate,
                       int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT, const char* title = nullptr) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    if (title != nullptr) sf_set_string(file, SF_STR_TITLE, title);
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    const bool ok = sf_writef_float(file, interleaved.data(), frames) == frames;
    return sf_close(file) == 0 && ok;
}

struct Audio {
    std::vector<float> samples;  // interleaved
    int channels = 0;
    int rate = 0;
    int format = 0;
    std::string title;
};

inline bool readAudio(const std::string& path, Audio* audio) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return false;
    audio->channels = info.channels;
    audio->rate = info.samplerate;
    audio->format = info.format;
    const char* title = sf_get_string(file, SF_STR_TITLE);
    audio->title = title != nullptr ? title : "";
    audio->samples.assign(static_cast<size_t>(info.frames * info.channels), 0.0f);
    const bool ok = sf_readf_float(file, audio->samples.data(), info.frames) == info.frames;
    sf_close(file);
    return ok;
}

// A stereo test signal that is never exactly zero, so every sample is filtered.
inline std::vector<float> testSignal(int frames, int channels) {
    std::vector<float> samples(static_cast<size_t>(frames) * channels);
    uint32_t seed = 12345u;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const float noise = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
            samples[static_cast<size_t>(i) * channels + c] =
                0.3f * std::sin(0.01f * static_cast<float>(i) * static_cast<float>(c + 1)) + 0.1f * noise + 0.05f;
        }
    return samples;
}

struct Run {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out;
    std::string err;
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Runs `program` with these arguments in `folder`; standard input from
// `stdinPath` when given.
inline Run runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                      int signalAfterMs = -1, int signal = SIGINT, const std::string& stdinPath = "") {
    // The captures get names of their own: tests that run the program in one
    // folder (the root, say) at the same time must not share them.
    const TempDir captures;
    const std::string outPath = captures.file("stdout");
    const std::string errPath = captures.file("stderr");
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0) _exit(126);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        if (!stdinPath.empty()) {
            const int in = open(stdinPath.c_str(), O_RDONLY);
            if (in < 0) _exit(126);
            dup2(in, 0);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (signalAfterMs >= 0) {
        usleep(static_cast<useconds_t>(signalAfterMs) * 1000);
        kill(child, signal);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Run run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return run;
}

// Runs quorvane-render with these arguments in `folder`.
inline Run runRender(const std::vector<std::string>& args, const std::string& folder, int signalAfterMs = -1,
                     int signal = SIGINT, const std::string& stdinPath = "") {
    // Another build of the program can be put to the same tests.
    const char* other = std::getenv("QUORVANE_RENDER_UNDER_TEST");
    return runProgram(other != nullptr && *other ? other : QUORVANE_RENDER_PATH, args, folder, signalAfterMs, signal,
                      stdinPath);
}

}  // namespace toolstest
