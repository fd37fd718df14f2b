#include "tools/float_wav_header.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qvtools {

namespace {

constexpr uint16_t kIeeeFloatTag = 3;
constexpr uint16_t kExtensibleTag = 0xFFFE;
constexpr size_t kMostHeaderBytes = 1 << 20;  // tags included; libsndfile keeps them far smaller

uint32_t get32(const unsigned char* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

void put32(std::vector<unsigned char>* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void putChunk(std::vector<unsigned char>* out, const char* id, const unsigned char* payload, uint32_t size) {
    out->insert(out->end(), id, id + 4);
    put32(out, size);
    out->insert(out->end(), payload, payload + size);
    if (size % 2 != 0) out->push_back(0);
}

}  // namespace

bool completeFloatWavHeader(const std::string& path, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "r+b");
    if (file == nullptr) {
        *error = "cannot complete the header of " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<unsigned char> head(kMostHeaderBytes);
    head.resize(std::fread(head.data(), 1, head.size(), file));
    const bool riff = head.size() >= 12 && (std::memcmp(head.data(), "RIFF", 4) == 0 ||
                                            std::memcmp(head.data(), "RF64", 4) == 0) &&
                      std::memcmp(head.data() + 8, "WAVE", 4) == 0;
    // The chunks before the audio, rebuilt into the same number of bytes.
    std::vector<unsigned char> rebuilt;
    size_t at = 12;
    bool floatFormat = false, peakSeen = false, dataSeen = false;
    while (riff && at + 8 <= head.size()) {
        const unsigned char* chunk = head.data() + at;
        const uint32_t size = get32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            dataSeen = true;
            break;
        }
        if (at + 8 + size > head.size()) break;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            // Plain float, or the extensible form (which RF64 uses) whose
            // sub-format is float: mono and stereo need nothing it adds.
            const int tag = chunk[8] | chunk[9] << 8;
            const bool plain = size == 16 && tag == kIeeeFloatTag;
            const bool extensible = size == 40 && tag == kExtensibleTag && (chunk[32] | chunk[33] << 8) == kIeeeFloatTag;
            if (!plain && !extensible) break;
            unsigned char extended[18] = {};
            std::memcpy(extended, chunk + 8, 16);
            extended[0] = kIeeeFloatTag;
            extended[1] = 0;
            putChunk(&rebuilt, "fmt ", extended, 18);
            floatFormat = true;
        } else if (std::memcmp(chunk, "PEAK", 4) == 0) {
            peakSeen = true;
        } else {
            putChunk(&rebuilt, reinterpret_cast<const char*>(chunk), chunk + 8, size);
        }
        at += 8 + size + size % 2;
    }
    const size_t room = at - 12;
    if (!(dataSeen && floatFormat && peakSeen && rebuilt.size() + 8 <= room)) {
        std::fclose(file);
        return true;  // not a header this applies to
    }
    const std::vector<unsigned char> zeros(room - rebuilt.size() - 8, 0);
    putChunk(&rebuilt, "JUNK", zeros.data(), static_cast<uint32_t>(zeros.size()));
    const bool ok = std::fseek(file, 12, SEEK_SET) == 0 &&
                    std::fwrite(rebuilt.data(), 1, rebuilt.size(), file) == rebuilt.size();
    if (std::fclose(file) != 0 || !ok) {
        *error = "cannot complete the header of " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace qvtools
