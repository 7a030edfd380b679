// The interchangeable implementations behind EncryptBlocks/DecryptBlocks and the choice.
#pragma once
#include <cstddef>
#include <cstdint>
#include "cipher/blowfish.h"

// Every path produces exactly the bytes of EncryptBlock/DecryptBlock; they differ in speed.
enum class BlockPath : int32_t {
    Reference = 0,  // the one-block functions, block after block
    Scalar = 1,     // several independent blocks interleaved in plain integer code
    Avx2 = 2,       // eight blocks per 256-bit vector, S-box lookups by gather
    Avx512 = 3,     // 64 blocks as byte planes, S-box lookups by byte permutes
    Avx512Narrow = 4,   // the same planes kept in memory, for 8 vector registers (32-bit)
};
constexpr int32_t BlockPathCount = 5;

// What CPUID and XGETBV report; enough to tell which paths may run and which is fastest.
struct CpuFeatures {
    uint32_t leaf1Ecx;          // CPUID leaf 1, ECX: OSXSAVE is bit 27, AVX bit 28
    uint32_t leaf7Ebx;          // leaf 7 subleaf 0, EBX: AVX2 bit 5, AVX-512F 16, AVX-512BW 30
    uint32_t leaf7Ecx;          // leaf 7 subleaf 0, ECX: AVX-512VBMI bit 1
    uint64_t xcr0;              // register state the operating system saves; 0 without OSXSAVE
    bool amd;                   // vendor AuthenticAMD, whose gathers lose to the scalar path
};

// This machine's features; all zero where CPUID does not exist (not x86).
CpuFeatures ReadCpuFeatures();
// Whether `path` is built into this module and the processor and the operating system
// both support the registers and instructions it uses.
bool PathRunsOn(BlockPath path, const CpuFeatures& features);
// The fastest path that runs on `features` in code of `bits` (32 or 64; the module's own
// by default): AVX-512 where it runs, as byte planes in registers for 64-bit code and kept
// in memory for the eight vector registers of 32-bit code, then AVX2 except on AMD
// processors, then the scalar path.
constexpr int ModuleBits = sizeof(void*) * 8;
BlockPath BestBlockPath(const CpuFeatures& features, int bits = ModuleBits);

const char* BlockPathName(BlockPath path);
// False, leaving `path` alone, for a name that is none of the paths'.
bool ParseBlockPath(const char* name, BlockPath* path);

// The path EncryptBlocks and DecryptBlocks use now.
BlockPath ActiveBlockPath();
// Switches both functions to `path` for good: a later measurement no longer changes it.
// Refuses (false, nothing changed) a path that does not run on this machine, so a forced
// path can never fault on an unsupported instruction.
bool SetBlockPath(BlockPath path);

// ---- The choice by measurement ----
// The choice at load follows from the features alone; what is fastest on a given
// processor (gathers, AVX-512 at 32 bits) is only known by timing each path there.

// Bulk speed of each path as timed on this processor, in MB/s; 0 for a path not timed:
// the reference path, which is never chosen, and the paths this processor does not run.
struct PathTimings {
    double megabytesPerSecond[BlockPathCount];
};

// A monotonic tick count; the caller says how many ticks make a second.
using TickReader = uint64_t (*)();

// Times every path but the reference that runs on `features`, encrypting a scratch run of
// TimingRunBlocks under `context`: rounds in which each path runs once, the best run of
// each kept, up to `rounds` rounds while their work fits `budgetTicks`.
constexpr size_t TimingRunBlocks = 1024;
PathTimings TimeBlockPaths(const BlowfishContext* context, const CpuFeatures& features,
                           TickReader ticks, uint64_t ticksPerSecond, uint64_t budgetTicks,
                           int rounds);
// The fastest timed path, unless `fallback` was timed and no path beats it by the factor
// FasterByAtLeast; `fallback` where none was timed.
constexpr double FasterByAtLeast = 1.05;
BlockPath FastestTimedPath(const PathTimings& timings, BlockPath fallback);
// Whole 64-block groups that the slowest timed path transforms in `microseconds`, at least
// one group: a batch of that size takes no longer on any path the measurement may choose.
size_t BlocksWithin(const PathTimings& timings, double microseconds);
// Switches to `path` unless SetBlockPath forced one; false when it did not switch.
bool AdoptMeasuredPath(BlockPath path);

// Once per process, at the first run long enough to want the fastest path: times the paths
// with the steady clock (at most about 1 ms, best of up to five tries each) and adopts the
// fastest. Later calls return the same timings without timing anything.
const PathTimings& MeasureBlockPathsOnce(const BlowfishContext* context);

// Blocks that one vector group of each vector path takes. A run shorter than that goes
// straight to the scalar pair.
constexpr size_t Avx2GroupBlocks = 8;
constexpr size_t Avx512GroupBlocks = 64;

// The kernels, one pair per path. The vector ones take any count and leave the blocks
// short of a full vector group to the scalar pair.
void EncryptBlocksReference(const BlowfishContext* context, uint8_t* bytes, size_t blockCount);
void DecryptBlocksReference(const BlowfishContext* context, uint8_t* bytes, size_t blockCount);
void EncryptBlocksScalar(const BlowfishContext* context, uint8_t* bytes, size_t blockCount);
void DecryptBlocksScalar(const BlowfishContext* context, uint8_t* bytes, size_t blockCount);
void EncryptBlocksAvx2(const BlowfishContext* context, uint8_t* bytes, size_t blockCount);
void DecryptBlocksAvx2(const BlowfishContext* context, uint8_t* bytes, size_t blockCount);
void EncryptBlocksAvx512(const BlowfishContext* context, uint8_t* bytes, size_t blockCount);
void DecryptBlocksAvx512(const BlowfishContext* context, uint8_t* bytes, size_t blockCount);
void EncryptBlocksAvx512Narrow(const BlowfishContext* context, uint8_t* bytes,
                               size_t blockCount);
void DecryptBlocksAvx512Narrow(const BlowfishContext* context, uint8_t* bytes,
                               size_t blockCount);
