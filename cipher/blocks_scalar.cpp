// The portable path: several independent blocks interleaved so their lookups overlap.
#include <cstddef>
#include <cstdint>

#include "cipher/block_paths.h"
#include "cipher/block_words.h"

// Left to itself GCC turns a group into SSE vectors and emulates the table lookups lane
// by lane, which runs slower than one block at a time.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-tree-vectorize")
#endif

namespace {

// One block's rounds form a chain of dependent loads, so a lone block leaves most of the
// processor idle; blocks run side by side fill it. Five fit the integer registers of
// x86_64 and run fastest there. The seven of 32-bit x86 hold less than two pairs, so
// there the halves live on the stack anyway, where loads forwarded from recent stores
// are cheap, and six blocks side by side beat four by a fifth (2.70x OpenSSL i386
// against 2.25x on AMD Zen 4; seven or more gain nothing).
constexpr size_t GroupSize = sizeof(void*) >= 8 ? 5 : 6;

inline uint32_t F(const uint32_t (*S)[256], uint32_t x) {
    return ((S[0][x >> 24] + S[1][(x >> 16) & 0xFF]) ^ S[2][(x >> 8) & 0xFF]) + S[3][x & 0xFF];
}

// Encrypts N blocks with the round words `p` (decryption passes them reversed). Two
// rounds per step, with the halves trading roles instead of being exchanged. Each P word
// is folded into a half while the other half's F is being computed, which keeps the XOR
// off the chain of dependent rounds that bounds a short run. The loops must unroll
// completely, so that every half stays in a register.
template <size_t N>
inline void RunGroup(const uint32_t* p, const uint32_t (*S)[256], uint8_t* bytes) {
    uint32_t l[N];
    uint32_t r[N];
#pragma GCC unroll 8
    for (size_t k = 0; k < N; ++k) {
        l[k] = LoadLittleEndian(bytes + 8 * k) ^ p[0];
        r[k] = LoadLittleEndian(bytes + 8 * k + 4);
    }
#pragma GCC unroll 8
    for (int i = 0; i < BlowfishRounds; i += 2) {
#pragma GCC unroll 8
        for (size_t k = 0; k < N; ++k) r[k] = (r[k] ^ p[i + 1]) ^ F(S, l[k]);
#pragma GCC unroll 8
        for (size_t k = 0; k < N; ++k) l[k] = (l[k] ^ p[i + 2]) ^ F(S, r[k]);
    }
    // l already holds p[16]; after an even number of rounds the halves sit exchanged.
#pragma GCC unroll 8
    for (size_t k = 0; k < N; ++k) {
        StoreLittleEndian(bytes + 8 * k, r[k] ^ p[BlowfishRounds + 1]);
        StoreLittleEndian(bytes + 8 * k + 4, l[k]);
    }
}

// Inlined into each direction, so that encryption reaches P and S through the one context
// register (P lies just before S): 32-bit code, with seven registers, runs a 4-block
// string 7% faster so. A short string also saves a call.
__attribute__((always_inline)) inline void RunBlocks(const uint32_t* p,
                                                    const uint32_t (*S)[256], uint8_t* bytes,
                                                    size_t blockCount) {
    for (; blockCount >= GroupSize; blockCount -= GroupSize, bytes += 8 * GroupSize) {
        RunGroup<GroupSize>(p, S, bytes);
    }
    // The rest still goes side by side: a short run (a 32-byte string is four blocks)
    // then takes about as long as a single block.
    static_assert(GroupSize <= 6, "the rest must fit one of the groups below");
    switch (blockCount) {
    case 5: RunGroup<5>(p, S, bytes); break;
    case 4: RunGroup<4>(p, S, bytes); break;
    case 3: RunGroup<3>(p, S, bytes); break;
    case 2: RunGroup<2>(p, S, bytes); break;
    case 1: RunGroup<1>(p, S, bytes); break;
    default: break;
    }
}

}  // namespace

void EncryptBlocksScalar(const BlowfishContext* context, uint8_t* bytes, size_t blockCount) {
    RunBlocks(context->P, context->S, bytes, blockCount);
}

void DecryptBlocksScalar(const BlowfishContext* context, uint8_t* bytes, size_t blockCount) {
    uint32_t p[PWords];
    ReverseP(context, p);
    RunBlocks(p, context->S, bytes, blockCount);
}
