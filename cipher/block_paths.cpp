// Which block paths this machine can run, and the choice among them at load.
#include "cipher/block_paths.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define CIPHREL_X86 1
#else
#define CIPHREL_X86 0
#endif

namespace {

constexpr uint32_t Leaf1Osxsave = 1u << 27;
constexpr uint32_t Leaf1Avx = 1u << 28;
constexpr uint32_t Leaf7Avx2 = 1u << 5;
constexpr uint32_t Leaf7Avx512F = 1u << 16;
constexpr uint32_t Leaf7Avx512Bw = 1u << 30;
constexpr uint32_t Leaf7EcxAvx512Vbmi = 1u << 1;
// XCR0: SSE and AVX state for 256-bit registers; opmask, the upper halves of zmm0-15 and
// zmm16-31 as well for 512-bit ones. Without the OS saving them a task switch would
// corrupt the registers, so the instructions alone are not enough.
constexpr uint64_t XcrAvxState = 0x06;
constexpr uint64_t XcrAvx512State = 0xE6;

const char* const PathNames[BlockPathCount] = {"reference", "scalar", "avx2", "avx512",
                                               "avx512narrow"};

bool Avx2Usable(const CpuFeatures& f) {
    return (f.leaf1Ecx & Leaf1Osxsave) != 0 && (f.leaf1Ecx & Leaf1Avx) != 0 &&
           (f.leaf7Ebx & Leaf7Avx2) != 0 && (f.xcr0 & XcrAvxState) == XcrAvxState;
}

// The byte-plane kernel needs byte arithmetic (BW) and two-table byte permutes (VBMI).
bool Avx512Usable(const CpuFeatures& f) {
    const uint32_t needed = Leaf7Avx512F | Leaf7Avx512Bw;
    return Avx2Usable(f) && (f.leaf7Ebx & needed) == needed &&
           (f.leaf7Ecx & Leaf7EcxAvx512Vbmi) != 0 && (f.xcr0 & XcrAvx512State) == XcrAvx512State;
}

}  // namespace

CpuFeatures ReadCpuFeatures() {
    CpuFeatures features = {0, 0, 0, 0, false};
#if CIPHREL_X86
    unsigned int eax, ebx, ecx, edx;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        // "AuthenticAMD", as EBX, EDX, ECX hold it
        features.amd = ebx == 0x68747541 && edx == 0x69746E65 && ecx == 0x444D4163;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) features.leaf1Ecx = ecx;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        features.leaf7Ebx = ebx;
        features.leaf7Ecx = ecx;
    }
    // XGETBV faults unless the OS has enabled it, which OSXSAVE announces.
    if ((features.leaf1Ecx & Leaf1Osxsave) != 0) {
        uint32_t low, high;
        __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        features.xcr0 = uint64_t(high) << 32 | low;
    }
#endif
    return features;
}

bool PathRunsOn(BlockPath path, const CpuFeatures& features) {
    switch (path) {
    case BlockPath::Reference:
    case BlockPath::Scalar:
        return true;
    case BlockPath::Avx2:
        return CIPHREL_X86 && Avx2Usable(features);
    case BlockPath::Avx512:
    case BlockPath::Avx512Narrow:
        return CIPHREL_X86 && Avx512Usable(features);
    }
    return false;
}

BlockPath BestBlockPath(const CpuFeatures& features, int bits) {
    // At 32 bits the register version spills most of its planes and runs at less than half
    // the speed of the memory one; at 64 bits it keeps them all and wins.
    if (PathRunsOn(BlockPath::Avx512, features)) {
        return bits == 32 ? BlockPath::Avx512Narrow : BlockPath::Avx512;
    }
    // A gather there fetches about one word per cycle, while the scalar path keeps three
    // load units busy, so AVX2 would be the slower choice.
    if (PathRunsOn(BlockPath::Avx2, features) && !features.amd) return BlockPath::Avx2;
    return BlockPath::Scalar;
}

const char* BlockPathName(BlockPath path) {
    int32_t index = static_cast<int32_t>(path);
    return index >= 0 && index < BlockPathCount ? PathNames[index] : "unknown";
}

bool ParseBlockPath(const char* name, BlockPath* path) {
    if (name == nullptr) return false;
    for (int32_t i = 0; i < BlockPathCount; ++i) {
        if (std::strcmp(name, PathNames[i]) == 0) {
            *path = static_cast<BlockPath>(i);
            return true;
        }
    }
    return false;
}

BlockPath FastestTimedPath(const PathTimings& timings, BlockPath fallback) {
    BlockPath fastest = fallback;
    double best = 0;
    for (int32_t p = 0; p < BlockPathCount; ++p) {
        if (timings.megabytesPerSecond[p] > best) {
            best = timings.megabytesPerSecond[p];
            fastest = static_cast<BlockPath>(p);
        }
    }
    // Paths within a few percent of each other trade places from one timing to the next;
    // then the choice made from the features stands.
    const double standing = timings.megabytesPerSecond[static_cast<int32_t>(fallback)];
    return best < standing * FasterByAtLeast ? fallback : fastest;
}

size_t BlocksWithin(const PathTimings& timings, double microseconds) {
    double slowest = 0;
    for (double speed : timings.megabytesPerSecond) {
        if (speed > 0 && (slowest == 0 || speed < slowest)) slowest = speed;
    }
    // MB/s are bytes per microsecond.
    const double groups = slowest * microseconds / double(Avx512GroupBlocks * BlockSize);
    return groups < 1 ? Avx512GroupBlocks : size_t(groups) * Avx512GroupBlocks;
}
