#include "bench/peers/sox_peer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace peers {

namespace {

constexpr const char* kRawFormat = "-t f32 -r 48000 -c 2";

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

SoxPeer::SoxPeer(std::string workDir, std::vector<std::string> effects)
    : dir_(std::move(workDir)), effects_(std::move(effects)) {
    for (const char* candidate : {"/usr/bin/sox", "/usr/local/bin/sox", "/bin/sox"})
        if (access(candidate, X_OK) == 0) {
            program_ = candidate;
            break;
        }
}

std::string SoxPeer::writeRaw(const std::string& name, const std::vector<float>& interleaved) const {
    const std::string path = dir_ + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(interleaved.data()),
               static_cast<std::streamsize>(interleaved.size() * sizeof(float)));
    return file ? path : "";
}

double SoxPeer::cpuSeconds(const std::string& input, const std::string& output, bool effects) const {
    std::string command = program_ + " -V1 " + kRawFormat + " '" + input + "' " + kRawFormat + " '" + output + "'";
    if (effects)
        for (const std::string& word : effects_) command += " " + word;
    const double before = childrenCpuSeconds();
    if (std::system(command.c_str()) != 0) return -1.0;
    return childrenCpuSeconds() - before;
}

bool SoxPeer::filter(const std::vector<float>& input, std::vector<float>* output) const {
    const std::string in = writeRaw("sox-probe-in.raw", input);
    const std::string out = dir_ + "/sox-probe-out.raw";
    if (in.empty() || cpuSeconds(in, out, true) < 0.0) return false;
    std::ifstream file(out, std::ios::binary);
    output->assign(input.size(), 0.0f);
    file.read(reinterpret_cast<char*>(output->data()), static_cast<std::streamsize>(output->size() * sizeof(float)));
    return static_cast<size_t>(file.gcount()) == output->size() * sizeof(float);
}

double SoxPeer::cpuSecondsWithEffects(const std::string& input) const {
    return cpuSeconds(input, "/dev/null", true);
}

double SoxPeer::cpuSecondsPassingThrough(const std::string& input) const {
    return cpuSeconds(input, "/dev/null", false);
}

}  // namespace peers
