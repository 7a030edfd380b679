// Every block path against the reference path at 32 bits, run under Bochs's Tiger Lake
// model where the processor itself lacks AVX-512. Every path must run there; one that is
// not offered counts as a failure, since it would otherwise go unchecked.
#include <cstddef>
#include <cstdint>

#include "cipher/block_paths.h"
#include "cipher/blowfish.h"
#include "tools/bochs/runtime.h"

namespace {

uint32_t state = 0x2545F491;

uint32_t Random() {         // xorshift32: enough to vary keys, tables and data
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    return state;
}

// Guards on both sides, and a start that moves off the 8-byte boundary.
constexpr size_t Guard = 16, MaxBlocks = 400;
uint8_t buffer[2 * Guard + 8 + 8 * MaxBlocks], expected[sizeof buffer];

// Zero, short runs, runs around and across vector groups (8 for AVX2, 64 for AVX-512).
const size_t Counts[] = {0, 1, 3, 7, 8, 9, 15, 17, 63, 64, 65, 127, 128, 131, 200, 257, 399};

// Blocks checked on `path`, or 0 after printing the first mismatch. Keys of 1, 16 and 56
// bytes, then tables of mostly 0x00 and 0xFF bytes whose sums in F carry across every byte
// (the AVX-512 path adds byte planes with carries by hand).
uint32_t CheckPath(BlockPath path) {
    static const uint32_t Words[] = {0, 1, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFF01,
                                     0x80000000, 0x7FFFFFFF};
    uint32_t checked = 0;
    for (uint32_t which = 0; which < 4; ++which) {
        BlowfishContext context;
        uint8_t key[56];
        for (uint8_t& b : key) b = static_cast<uint8_t>(Random());
        ExpandKey(&context, key, which == 0 ? 1 : which == 1 ? 16 : 56);
        for (auto& box : context.S)
            for (uint32_t& w : box) w = which < 3 || Random() % 4 == 0 ? w : Words[Random() % 9];
        for (size_t blocks : Counts) {
            for (int direction = 0; direction < 2; ++direction) {
                const bool encrypt = direction == 0;
                const size_t offset = blocks % 8, size = 2 * Guard + offset + 8 * blocks;
                for (size_t i = 0; i < size; ++i) buffer[i] = expected[i] = uint8_t(Random());
                (encrypt ? EncryptBlocksReference : DecryptBlocksReference)(
                    &context, expected + Guard + offset, blocks);
                (encrypt ? EncryptBlocks : DecryptBlocks)(&context, buffer + Guard + offset,
                                                          blocks);
                for (size_t i = 0; i < size; ++i) {
                    if (buffer[i] == expected[i]) continue;
                    Print("path ", BlockPathName(path), encrypt ? ": MISMATCH encrypting "
                          : ": MISMATCH decrypting ", uint32_t(blocks), " blocks, key ", which,
                          ", first at byte ", uint32_t(i), "\n");
                    return 0;
                }
                checked += static_cast<uint32_t>(blocks);
            }
        }
    }
    return checked;
}

uint64_t TimeStampCounter() { return __builtin_ia32_rdtsc(); }

// The measured choice, with Bochs's time stamp counter as the clock: its ticks count
// emulated instructions, so the choice says what is cheapest to emulate, not to run. It
// must still be the fastest timed path, and adopted.
bool ChooseByTiming(const CpuFeatures& features) {
    BlowfishContext context;
    const uint8_t key[] = {'t', 'i', 'm', 'e'};
    ExpandKey(&context, key, 4);
    // A second counted as 10^9 ticks: the figures read as bytes per 1000 ticks.
    const PathTimings timings = TimeBlockPaths(&context, features, TimeStampCounter,
                                               1000000000, UINT64_MAX, 3);
    for (int32_t i = 1; i < BlockPathCount; ++i) {
        Print("path ", BlockPathName(static_cast<BlockPath>(i)), ": ",
              uint32_t(timings.megabytesPerSecond[i]), " bytes per 1000 ticks\n");
    }
    const BlockPath fastest = FastestTimedPath(timings, BlockPath::Reference);
    Print("chosen by measurement: ", BlockPathName(fastest), "\n");
    return fastest != BlockPath::Reference && AdoptMeasuredPath(fastest) &&
           ActiveBlockPath() == fastest;
}

}  // namespace

void BochsProgram() {
    const CpuFeatures features = ReadCpuFeatures();
    uint32_t passed = 0, failed = 0;
    Print("chosen at load: ", BlockPathName(ActiveBlockPath()), "\n");
    if (ActiveBlockPath() != BestBlockPath(features)) {
        Print("load chose a path other than the best one\n");
        ++failed;
    }
    ++(ChooseByTiming(features) ? passed : failed);
    for (int32_t i = 0; i < BlockPathCount; ++i) {
        const BlockPath path = static_cast<BlockPath>(i);
        uint32_t blocks = 0;
        if (!PathRunsOn(path, features) || !SetBlockPath(path) || ActiveBlockPath() != path)
            Print("path ", BlockPathName(path), ": not offered by this processor\n");
        else if ((blocks = CheckPath(path)) != 0)
            Print("path ", BlockPathName(path), ": ok ", blocks, " blocks\n");
        ++(blocks != 0 ? passed : failed);
    }
    Print(passed, " passed, ", failed, " failed\n");
}
