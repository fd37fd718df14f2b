// The processing loop's fast paths against its definition, steered by a
// fuzzer. The input chooses the path (SSE2, AVX or AVX-512), how the pins share
// buffers, whether NaN and infinite bursts occur, and then every choice of the
// random scenario the loop tests use: block offsets and counts, silences on
// one or both sides, tiny and signed zeros, what stands in the output places
// (which the loop must never read), control changes between and within blocks. After every block the fast
// path, the library's sample-by-sample loop and the independent model must
// agree bit for bit on every buffer word and on the loop state; any
// difference aborts with where it happened.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/unit/process_test_support.h"

using namespace looptest;

namespace {

const Sharing kLayouts[] = {
    {"separate buffers", {}, 0},
    {"both outputs in place", {{PIN_OUTPUT1, PIN_INPUT1, 0}, {PIN_OUTPUT2, PIN_INPUT2, 0}}, 2},
    {"outputs crossed over the inputs",
     {{PIN_OUTPUT1, PIN_INPUT2, 0}, {PIN_OUTPUT2, PIN_INPUT1, 0}},
     2},
    {"Output1 on Freq1", {{PIN_OUTPUT1, controlPin(0, CONTROL_FREQ), 0}}, 1},
    {"Output2 one sample behind Input2", {{PIN_OUTPUT2, PIN_INPUT2, -1}}, 1},
    {"Output1 on Output2", {{PIN_OUTPUT1, PIN_OUTPUT2, 0}}, 1},
};
constexpr int kLayoutCount = sizeof kLayouts / sizeof kLayouts[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t setup = data[0];
    // SSE2, AVX or AVX-512, or the best below it that the machine has.
    const eq::KernelPath paths[] = {eq::KernelPath::Sse2, eq::KernelPath::Avx, eq::KernelPath::Avx512};
    int pathIndex = (setup & 1) + (data[1] >> 7);
    while (!eq::pathAvailable(paths[pathIndex])) --pathIndex;
    const eq::KernelPath path = paths[pathIndex];
    const bool bursts = (setup & 2) != 0;
    const int blocks = 1 + (setup >> 2);  // 1 to 64
    const Sharing& layout = kLayouts[(data[1] & 0x7F) % kLayoutCount];

    AgreementRun run(layout, ScenarioWriter(Rng(data + 2, size - 2), bursts), path);
    if (!run.valid() || eq::kernelPath() != path) std::abort();
    for (int block = 0; block < blocks; ++block)
        if (const ::testing::AssertionResult agreed = run.nextBlock(); !agreed) {
            std::fprintf(stderr, "%s, %s path: %s\n", layout.name, eq::pathName(path), agreed.message());
            std::abort();
        }
    return 0;
}
