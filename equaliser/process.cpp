#include <emmintrin.h>

#include <cstdint>
#include <initializer_list>

#include "equaliser/kernel_path.h"
#include "equaliser/block_kernel.h"
#include "equaliser/process_steps.h"
#include "equaliser/silence_pass.h"

namespace eq {

// Sample by sample, exactly as the loop is defined; also the path for buffer
// layouts the block kernel does not take (outputs that partly overlap other
// pins' buffers).
void processSampleBySample(Module& m, float* const* positions, int32_t sampleCount) {
    const CallPositions at(positions);
    int32_t controlIndex = 0;
    const double offset = denormalOffset;

    for (int32_t i = 0; i < sampleCount; ++i) {
        m.leftSample = at.input1[i];
        m.rightSample = at.input2[i];
        Treatment treatment = decide(m.leftSample, m.rightSample);
        if (treatment == Treatment::Skip && !filtersAtRest(m)) treatment = Treatment::FlushAndFilter;
        if (treatment == Treatment::Skip) {
            ++controlIndex;
        } else {
            if (treatment == Treatment::FlushAndFilter)
                for (BandFilter* band : m.bands) flushBand(*band, offset);
            if (m.pollCounter == kPollInterval) {
                poll(m, at.controls, controlIndex);
                controlIndex += kPollInterval;
            }
            ++m.pollCounter;
            for (BandFilter* band : m.bands)
                m.leftSample = runSection(*band, band->leftX1, band->leftX2, band->leftY1,
                                          band->leftY2, m.leftSample);
            for (BandFilter* band : m.bands)
                m.rightSample = runSection(*band, band->rightX1, band->rightX2, band->rightY1,
                                           band->rightY2, m.rightSample);
        }
        at.output1[i] = m.leftSample;
        at.output2[i] = m.rightSample;
    }
}

namespace {

// The block kernel reads ahead and keeps the delay values in registers, which
// is exact as long as every output buffer either is another pin's buffer (the
// in-place processing hosts do) or does not overlap it at all.
//
// Every call pays this check, the shortest too, so it looks at four pins an
// instruction. Two buffers of `bytes` overlap when their starts lie less than
// `bytes` apart: the distance shifted by bytes - 1 is then below 2 bytes - 1,
// unsigned. Only the addresses' low 32 bits are compared: a distance that
// small shows there exactly, and a far buffer whose low bits happen to look
// near only sends the call to the sample-by-sample loop, which is exact for
// every layout. So do calls too long for the byte counts to fit 32 bits,
// which no buffer a host can hand over holds.
bool outputsOverlapCleanly(float* const* positions, int32_t sampleCount) {
    static_assert(kPinCount % 4 == 0, "pins go four at a time");
    if (sampleCount >= (1 << 29)) return false;
    const uint32_t reach = static_cast<uint32_t>(sampleCount) * sizeof(float) - 1;
    alignas(16) uint32_t low[kPinCount];
    for (int pin = 0; pin < kPinCount; ++pin)
        low[pin] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(positions[pin]));
    // Unsigned order through the signed comparison: both sides' top bits flipped.
    const __m128i flip = _mm_set1_epi32(INT32_MIN);
    const __m128i span = _mm_xor_si128(_mm_set1_epi32(static_cast<int32_t>(2 * reach + 1)), flip);
    __m128i partly = _mm_setzero_si128();
    for (int output : {PIN_OUTPUT1, PIN_OUTPUT2}) {
        const __m128i start = _mm_set1_epi32(static_cast<int32_t>(low[output]));
        const __m128i shift = _mm_set1_epi32(static_cast<int32_t>(reach - low[output]));
        for (int pin = 0; pin < kPinCount; pin += 4) {
            const __m128i other = _mm_load_si128(reinterpret_cast<const __m128i*>(low + pin));
            const __m128i distance = _mm_xor_si128(_mm_add_epi32(other, shift), flip);
            const __m128i near = _mm_cmplt_epi32(distance, span);
            partly = _mm_or_si128(partly, _mm_andnot_si128(_mm_cmpeq_epi32(other, start), near));
        }
    }
    return _mm_movemask_epi8(partly) == 0;
}

// Whether each output buffer either is one of the other three audio buffers
// or lies apart from them over the call's frames: the silence pass then
// may take frames several at a time. (It reads no control, so where the
// controls lie does not matter to it.)
bool audioLaidOutCleanly(const float* in1, const float* in2, const float* out1, const float* out2,
                         int32_t sampleCount) {
    const uintptr_t bytes = static_cast<uintptr_t>(sampleCount) * sizeof(float);
    auto apart = [bytes](const float* a, const float* b) {
        const uintptr_t x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
        return x == y || (x < y ? y - x : x - y) >= bytes;
    };
    return apart(out1, in1) && apart(out1, in2) && apart(out1, out2) && apart(out2, in1) && apart(out2, in2);
}

// Silence through bands at rest from the call's first frame: each frame's
// zero inputs go to its outputs, Output1 first, both read before either is
// written (an output may lie on the other side's input). Returns how many
// frames it passed; the rest of the call, if any, starts with a frame to be
// filtered. A rung-down instance in a host's silent patch spends its calls
// here, so they cost little more than the copy, however short: music costs
// one look at the first frame, and the layout is looked at only for the four
// audio buffers.
int32_t passSilenceAtRest(Module& m, int32_t bufferOffset, int32_t sampleCount) {
    const float* in1 = m.pins[PIN_INPUT1] + bufferOffset;
    const float* in2 = m.pins[PIN_INPUT2] + bufferOffset;
    if (!isZero(in1[0]) || !isZero(in2[0]) || !filtersAtRest(m)) return 0;
    float* out1 = m.pins[PIN_OUTPUT1] + bufferOffset;
    float* out2 = m.pins[PIN_OUTPUT2] + bufferOffset;
    if (!audioLaidOutCleanly(in1, in2, out1, out2, sampleCount)) return 0;
    SilentFrame last{m.leftSample, m.rightSample};
    const int32_t n = passSilence(in1, in2, out1, out2, sampleCount, last);
    m.leftSample = last.left, m.rightSample = last.right;
    return n;
}

}  // namespace

}  // namespace eq

void process(SEModule_base* object, int32_t bufferOffset, int32_t sampleCount) {
    Module& m = *static_cast<Module*>(object);
    // Nothing is read or written, not even a position formed, for an empty call.
    if (sampleCount <= 0) return;
    // Skipped frames move every position by one, the controls' too; the
    // frames after them are a call of their own.
    const int32_t skipped = eq::passSilenceAtRest(m, bufferOffset, sampleCount);
    if (skipped == sampleCount) return;
    const int32_t count = sampleCount - skipped;
    float* positions[kPinCount];
    for (int pin = 0; pin < kPinCount; ++pin) positions[pin] = m.pins[pin] + bufferOffset + skipped;
    if (eq::outputsOverlapCleanly(positions, count))
        eq::processBlock(m, positions, count);
    else
        eq::processSampleBySample(m, positions, count);
}
