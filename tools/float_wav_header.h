// libsndfile writes a float WAV's format chunk in 16 bytes, without the
// extension size field that every format but integer PCM must carry; strict
// readers (sox among them) warn about it. It also writes a PEAK chunk with
// the time of writing, so two renders of the same input differ.
#pragma once

#include <string>

namespace qvtools {

// Rewrites the header of a float WAV or RF64 file libsndfile just closed, in
// place: the format chunk gets its (empty) extension, the PEAK chunk gives
// up its room to a JUNK chunk of zeros; the audio data does not move. Files
// with any other header are left as they are.
bool completeFloatWavHeader(const std::string& path, std::string* error);

}  // namespace qvtools
