// Blowfish: key schedule and the 16-round block transforms, ECB over byte buffers.
#include "cipher/blowfish.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "cipher/block_paths.h"
#include "cipher/block_words.h"
#include "cipher/blowfish_tables.h"

namespace {

constexpr int Rounds = BlowfishRounds;

inline uint32_t F(const BlowfishContext* context, uint32_t x) {
    const uint32_t (*S)[256] = context->S;
    return ((S[0][x >> 24] + S[1][(x >> 16) & 0xFF]) ^ S[2][(x >> 8) & 0xFF]) + S[3][x & 0xFF];
}

// EncryptBlock for the key schedule, whose 521 encryptions form one chain of dependent
// rounds: its speed is a round's latency. Each P word is folded into a half while the
// other half's F is still being computed, instead of into F's input, so the XOR leaves
// the chain. The halves meet the same words in the same order as in EncryptBlock.
inline void EncryptForSchedule(const BlowfishContext* context, uint32_t* L, uint32_t* R) {
    const uint32_t* P = context->P;
    uint32_t l = *L ^ P[0];
    uint32_t r = *R;
#pragma GCC unroll 8
    for (int i = 0; i < Rounds; i += 2) {
        r = (r ^ P[i + 1]) ^ F(context, l);
        l = (l ^ P[i + 2]) ^ F(context, r);
    }
    // l already holds P[16]; after an even number of rounds the halves sit exchanged.
    *L = r ^ P[Rounds + 1];
    *R = l;
}

}  // namespace

void EncryptBlock(const BlowfishContext* context, uint32_t* L, uint32_t* R) {
    uint32_t l = *L;
    uint32_t r = *R;
    for (int i = 0; i < Rounds; ++i) {
        l ^= context->P[i];
        r ^= F(context, l);
        uint32_t t = l;
        l = r;
        r = t;
    }
    // Undo the last exchange, then whiten with the two remaining P words.
    *R = l ^ context->P[Rounds];
    *L = r ^ context->P[Rounds + 1];
}

void DecryptBlock(const BlowfishContext* context, uint32_t* L, uint32_t* R) {
    uint32_t l = *L;
    uint32_t r = *R;
    for (int i = Rounds + 1; i > 1; --i) {
        l ^= context->P[i];
        r ^= F(context, l);
        uint32_t t = l;
        l = r;
        r = t;
    }
    *R = l ^ context->P[1];
    *L = r ^ context->P[0];
}

void ExpandKey(BlowfishContext* context, const uint8_t* key, int32_t length) {
    // An empty key reads as one zero byte: the terminator its caller passes, never
    // anything behind it.
    static const uint8_t zeroByte = 0;
    if (length <= 0) {
        key = &zeroByte;
        length = 1;
    }

    std::memcpy(context->S, InitialS, sizeof context->S);
    // The key cycles across word boundaries: the byte after the last is the first again.
    int32_t j = 0;
    for (int i = 0; i < Rounds + 2; ++i) {
        uint32_t word = 0;
        for (int k = 0; k < 4; ++k) {
            word = word << 8 | key[j];
            if (++j >= length) j = 0;
        }
        context->P[i] = InitialP[i] ^ word;
    }

    // Each pair is the encryption of the previous one under the tables as they stand at
    // that moment, so the 521 encryptions must run in this order.
    uint32_t l = 0;
    uint32_t r = 0;
    for (int i = 0; i < Rounds + 2; i += 2) {
        EncryptForSchedule(context, &l, &r);
        context->P[i] = l;
        context->P[i + 1] = r;
    }
    for (auto& box : context->S) {
        for (int i = 0; i < 256; i += 2) {
            EncryptForSchedule(context, &l, &r);
            box[i] = l;
            box[i + 1] = r;
        }
    }
}

// The reference path: the one-block functions, block after block. Every faster path is
// measured and tested against this one.
void EncryptBlocksReference(const BlowfishContext* context, uint8_t* bytes,
                            size_t blockCount) {
    for (size_t b = 0; b < blockCount; ++b, bytes += 8) {
        uint32_t l = LoadLittleEndian(bytes);
        uint32_t r = LoadLittleEndian(bytes + 4);
        EncryptBlock(context, &l, &r);
        StoreLittleEndian(bytes, l);
        StoreLittleEndian(bytes + 4, r);
    }
}

void DecryptBlocksReference(const BlowfishContext* context, uint8_t* bytes,
                            size_t blockCount) {
    for (size_t b = 0; b < blockCount; ++b, bytes += 8) {
        uint32_t l = LoadLittleEndian(bytes);
        uint32_t r = LoadLittleEndian(bytes + 4);
        DecryptBlock(context, &l, &r);
        StoreLittleEndian(bytes, l);
        StoreLittleEndian(bytes + 4, r);
    }
}

namespace {

using BlockRun = void (*)(const BlowfishContext*, uint8_t*, size_t);

struct BlockRuns {
    BlockPath path;
    BlockRun encrypt;
    BlockRun decrypt;
    size_t shortest;            // runs below this many blocks go to the scalar pair
};

#if defined(__x86_64__) || defined(__i386__)
constexpr BlockRuns Avx2Runs = {BlockPath::Avx2, EncryptBlocksAvx2, DecryptBlocksAvx2,
                                Avx2GroupBlocks};
constexpr BlockRuns Avx512Runs = {BlockPath::Avx512, EncryptBlocksAvx512, DecryptBlocksAvx512,
                                  Avx512GroupBlocks};
constexpr BlockRuns Avx512NarrowRuns = {BlockPath::Avx512Narrow, EncryptBlocksAvx512Narrow,
                                        DecryptBlocksAvx512Narrow, Avx512GroupBlocks};
#else
// Never chosen: PathRunsOn refuses the vector paths off x86.
constexpr BlockRuns Avx2Runs = {BlockPath::Avx2, EncryptBlocksScalar, DecryptBlocksScalar, 0};
constexpr BlockRuns Avx512Runs = {BlockPath::Avx512, EncryptBlocksScalar, DecryptBlocksScalar,
                                  0};
constexpr BlockRuns Avx512NarrowRuns = {BlockPath::Avx512Narrow, EncryptBlocksScalar,
                                        DecryptBlocksScalar, 0};
#endif

constexpr BlockRuns PathRuns[BlockPathCount] = {
    {BlockPath::Reference, EncryptBlocksReference, DecryptBlocksReference, 0},
    {BlockPath::Scalar, EncryptBlocksScalar, DecryptBlocksScalar, 0},
    Avx2Runs,
    Avx512Runs,
    Avx512NarrowRuns,
};

// Set by SetBlockPath: a forced path outranks the measured one.
std::atomic<bool> pathForced{false};

// Null until the choice is made. Constant-initialised, so that a call from another
// file's static initialiser, before ours has run, still finds the right path.
std::atomic<const BlockRuns*> activeRuns{nullptr};

__attribute__((noinline)) const BlockRuns* ChooseAtLoad() {
    BlockPath path = BestBlockPath(ReadCpuFeatures());
    const BlockRuns* runs = &PathRuns[static_cast<int32_t>(path)];
    activeRuns.store(runs, std::memory_order_relaxed);
    return runs;
}

inline const BlockRuns* ActiveRuns() {
    const BlockRuns* runs = activeRuns.load(std::memory_order_relaxed);
    if (runs == nullptr) [[unlikely]] runs = ChooseAtLoad();
    return runs;
}

// Decides at load, so that the first string or file pays nothing for it.
const BlockRuns* const chosenAtLoad = ActiveRuns();

}  // namespace

BlockPath ActiveBlockPath() { return ActiveRuns()->path; }

bool SetBlockPath(BlockPath path) {
    if (!PathRunsOn(path, ReadCpuFeatures())) return false;
    activeRuns.store(&PathRuns[static_cast<int32_t>(path)], std::memory_order_relaxed);
    pathForced.store(true, std::memory_order_relaxed);
    return true;
}

bool AdoptMeasuredPath(BlockPath path) {
    if (pathForced.load(std::memory_order_relaxed)) return false;
    if (!PathRunsOn(path, ReadCpuFeatures())) return false;
    activeRuns.store(&PathRuns[static_cast<int32_t>(path)], std::memory_order_relaxed);
    return true;
}

PathTimings TimeBlockPaths(const BlowfishContext* context, const CpuFeatures& features,
                           TickReader ticks, uint64_t ticksPerSecond, uint64_t budgetTicks,
                           int rounds) {
    // Static, so that timing allocates nothing; the content does not change the speed.
    alignas(64) static uint8_t scratch[TimingRunBlocks * BlockSize];
    uint64_t best[BlockPathCount];
    for (uint64_t& b : best) b = UINT64_MAX;
    for (int round = 0; round < rounds; ++round) {
        uint64_t roundTicks = 0;
        for (int32_t p = 0; p < BlockPathCount; ++p) {
            const BlockPath path = static_cast<BlockPath>(p);
            if (path == BlockPath::Reference || !PathRunsOn(path, features)) continue;
            const uint64_t start = ticks();
            PathRuns[p].encrypt(context, scratch, TimingRunBlocks);
            const uint64_t spent = ticks() - start;
            // A tick count of 0 is a clock too coarse for this run: count it as one.
            best[p] = spent < best[p] ? (spent == 0 ? 1 : spent) : best[p];
            roundTicks += best[p];
        }
        // A round costs about the sum of the best runs so far. Counting that, not the time
        // that passed, keeps a run the system interrupted from cutting the timing short,
        // and the next rounds give that path its fair try.
        if (uint64_t(round + 2) * roundTicks > budgetTicks) break;
    }
    PathTimings timings = {};
    for (int32_t p = 0; p < BlockPathCount; ++p) {
        if (best[p] == UINT64_MAX) continue;
        timings.megabytesPerSecond[p] = double(TimingRunBlocks * BlockSize) *
                                        double(ticksPerSecond) / double(best[p]) / 1e6;
    }
    return timings;
}

// A string of a few blocks is over in about 50 ns, so the calls on its way count: a run
// too short for a vector skips the vector function that would only pass it on.
void EncryptBlocks(const BlowfishContext* context, uint8_t* bytes, size_t blockCount) {
    const BlockRuns* runs = ActiveRuns();
    if (blockCount < runs->shortest) return EncryptBlocksScalar(context, bytes, blockCount);
    runs->encrypt(context, bytes, blockCount);
}

void DecryptBlocks(const BlowfishContext* context, uint8_t* bytes, size_t blockCount) {
    const BlockRuns* runs = ActiveRuns();
    if (blockCount < runs->shortest) return DecryptBlocksScalar(context, bytes, blockCount);
    runs->decrypt(context, bytes, blockCount);
}
