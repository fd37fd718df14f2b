// Calls into the module with the stack deliberately off its 16-byte
// alignment, as a 32-bit Windows host may: the module must realign itself.
#pragma once

#include <cstdint>

namespace standin {

// Bytes off a 16-byte boundary for every call into the module (0, 4, 8 or
// 12). Only the 32-bit target honours it; elsewhere calls are plain.
void setStackMisalignment(int32_t bytes);
int32_t stackMisalignment();

#if defined(__i386__)
// Calls `function` (C calling convention) with `count` 32-bit argument words.
extern "C" uint32_t qvCallMisaligned(const void* function, const uint32_t* words, int32_t count,
                                     int32_t misalignment);
#endif

}  // namespace standin
