// Every block path against the one-block functions at 32 bits, run under Bochs's Tiger Lake
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
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Guards on both sides, and a start that moves off the 8-byte boundary.
constexpr size_t Guard = 16, MaxBlocks = 400;
uint8_t buffer[2 * Guard + 8 + 8 * MaxBlocks], expected[sizeof buffer];

// First differing byte of the buffers, or -1.
long Compare(size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (buffer[i] != expected[i]) return static_cast<long>(i);
    }
    return -1;
}

void OneBlockAtATime(const BlowfishContext& context, uint8_t* bytes, size_t blocks,
                     bool encrypt) {
    for (uint8_t* block = bytes; block < bytes + 8 * blocks; block += 8) {
        uint32_t half[2] = {0, 0};
        for (int i = 7; i >= 0; --i) half[i / 4] = half[i / 4] << 8 | block[i];
        (encrypt ? EncryptBlock : DecryptBlock)(&context, &half[0], &half[1]);
        for (int i = 0; i < 8; ++i) block[i] = static_cast<uint8_t>(half[i / 4] >> 8 * (i % 4));
    }
}

// Keys of several lengths, then tables of mostly 0x00 and 0xFF bytes, whose sums in F
// carry across every byte (the AVX-512 path adds byte planes with carries by hand).
void MakeContext(int which, BlowfishContext* context) {
    if (which < 3) {
        uint8_t key[56];
        const int32_t length = which == 0 ? 1 : which == 1 ? 16 : 56;
        for (uint8_t& b : key) b = static_cast<uint8_t>(Random());
        ExpandKey(context, key, length);
        return;
    }
    static const uint32_t Words[] = {0, 1, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFF01,
                                     0x80000000, 0x7FFFFFFF};
    for (uint32_t& p : context->P) p = Random();
    for (auto& box : context->S) {
        for (uint32_t& word : box) word = Random() % 4 == 0 ? Random() : Words[Random() % 9];
    }
}

// Zero, short runs, runs around and across vector groups (8 for AVX2, 64 for AVX-512).
const size_t Counts[] = {0, 1, 3, 7, 8, 9, 15, 17, 63, 64, 65, 127, 128, 131, 200, 257, 399};

// Blocks checked on `path`, or 0 after printing the first mismatch.
uint32_t CheckPath(BlockPath path) {
    uint32_t blocksChecked = 0;
    for (int which = 0; which < 4; ++which) {
        BlowfishContext context;
        MakeContext(which, &context);
        for (size_t blocks : Counts) {
            for (int direction = 0; direction < 2; ++direction) {
                const bool encrypt = direction == 0;
                const size_t offset = blocks % 8, size = 2 * Guard + offset + 8 * blocks;
                for (size_t i = 0; i < size; ++i) buffer[i] = expected[i] = uint8_t(Random());
                OneBlockAtATime(context, expected + Guard + offset, blocks, encrypt);
                (encrypt ? EncryptBlocks : DecryptBlocks)(&context, buffer + Guard + offset,
                                                          blocks);
                const long at = Compare(size);
                if (at >= 0) {
                    Print("path ", BlockPathName(path),
                          encrypt ? ": MISMATCH encrypting " : ": MISMATCH decrypting ",
                          uint32_t(blocks), " blocks, key ", uint32_t(which),
                          ", first at byte ", uint32_t(at), "\n");
                    return 0;
                }
                blocksChecked += static_cast<uint32_t>(blocks);
            }
        }
    }
    return blocksChecked;
}

}  // namespace

void BochsProgram() {
    const CpuFeatures features = ReadCpuFeatures();
    const BlockPath atLoad = ActiveBlockPath();
    uint32_t passed = 0, failed = 0;
    Print("chosen at load: ", BlockPathName(atLoad), "\n");
    if (atLoad != BestBlockPath(features)) {
        Print("load chose a path other than the best one\n");
        ++failed;
    }
    for (int32_t i = 0; i < BlockPathCount; ++i) {
        const BlockPath path = static_cast<BlockPath>(i);
        uint32_t blocks = 0;
        if (!PathRunsOn(path, features) || !SetBlockPath(path) || ActiveBlockPath() != path) {
            Print("path ", BlockPathName(path), ": not offered by this processor\n");
        } else if ((blocks = CheckPath(path)) != 0) {
            Print("path ", BlockPathName(path), ": ok ", blocks, " blocks\n");
        }
        ++(blocks != 0 ? passed : failed);
    }
    Print(passed, " passed, ", failed, " failed\n");
}
