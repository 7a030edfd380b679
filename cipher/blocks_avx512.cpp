// The AVX-512 path: 64 blocks at a time in byte planes, S-boxes looked up by byte permutes.
#include <cstddef>
#include <cstdint>

#include "cipher/block_paths.h"
#include "cipher/block_words.h"

#if defined(__x86_64__) || defined(__i386__)
#include "cipher/x86_intrinsics.h"

// Only these functions use AVX-512, so the module still loads and runs on any x86; the
// dispatcher calls them only where CPUID and XGETBV allow.
#define CIPHREL_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace {

// Gathers are slow on some processors, so instead each 32-bit word of 64 blocks is held
// as four vectors of bytes ("planes"), byte j of every block's word in plane j. An S-box
// then becomes four 256-byte tables, one per byte of its words, and a lookup of 64 indices
// is two 128-entry byte permutes per table. Additions carry between planes by hand.
constexpr size_t Lanes = Avx512GroupBlocks;

using Word = __m512i[4];        // planes 0 (least significant byte) to 3

// Loads from here are unaligned ones all the same: 64-bit Windows cannot promise a stack
// aligned beyond 16 bytes, and an aligned load would fault there.
struct Planes {
    alignas(64) uint8_t s[4][4][256];   // s[box][j][e]: byte j of S[box][e]
    uint8_t p[PWords][4];               // byte j of each round word
};

// f = combine(f, S[box][index]) in each of G groups of 64 blocks; combine is a copy (first
// box), 32-bit addition or XOR. The groups share each table load.
//
// A lookup is two masked permutes in a row instead of two permutes and a blend: the first
// fills the lanes whose index has bit 7 set from the upper 128 entries and leaves the index
// in the others, which the second then looks up in the lower 128 (the permute reads only
// bits 0-6 of an index). That saves the blend and, as the tables are never overwritten,
// their copies.
enum class Combine { Copy, Add, Xor };

template <Combine How, int G>
[[gnu::always_inline]] CIPHREL_AVX512 inline void FoldBoxes(const uint8_t (*box)[256],
                                                            const __m512i (&index)[G],
                                                            __m512i (&f)[G][4]) {
    __mmask64 high[G];
    __mmask64 low[G];
    __mmask64 carry[G];
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        high[g] = _mm512_movepi8_mask(index[g]);
        low[g] = _knot_mask64(high[g]);
        carry[g] = 0;
    }
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        const __m512i t0 = _mm512_loadu_si512(box[j]);
        const __m512i t1 = _mm512_loadu_si512(box[j] + 64);
        const __m512i t2 = _mm512_loadu_si512(box[j] + 128);
        const __m512i t3 = _mm512_loadu_si512(box[j] + 192);
#pragma GCC unroll 4
        for (int g = 0; g < G; ++g) {
            const __m512i x = _mm512_mask2_permutex2var_epi8(
                t0, _mm512_mask2_permutex2var_epi8(t2, index[g], high[g], t3), low[g], t1);
            if constexpr (How == Combine::Copy) {
                f[g][j] = x;
            } else if constexpr (How == Combine::Xor) {
                f[g][j] = _mm512_xor_si512(f[g][j], x);
            } else {
                __m512i sum = _mm512_add_epi8(f[g][j], x);
                if (j == 0) {
                    carry[g] = _mm512_cmplt_epu8_mask(sum, x);
                } else {
                    __mmask64 next = j < 3 ? _mm512_cmplt_epu8_mask(sum, x) : 0;
                    sum = _mm512_mask_sub_epi8(sum, carry[g], sum, _mm512_set1_epi32(-1));
                    // Adding the carry overflows only where it turned 0xFF into 0.
                    if (j < 3) carry[g] = next | _mm512_mask_testn_epi8_mask(carry[g], sum, sum);
                }
                f[g][j] = sum;
            }
        }
    }
}

CIPHREL_AVX512 inline void XorBytes(Word a, const uint8_t bytes[4]) {
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        a[j] = _mm512_xor_si512(a[j], _mm512_set1_epi8(static_cast<char>(bytes[j])));
    }
}

// One round in each of G groups: other ^= p ^ F(cur), then the two swap, so `cur` is always
// the half changed last, the one that indexes the S-boxes. The other half is touched once a
// round and waits in memory, which leaves the registers to the lookups of both groups.
template <int G>
[[gnu::always_inline]] CIPHREL_AVX512 inline void Round(const Planes& t, const uint8_t p[4],
                                                        __m512i (&cur)[G][4],
                                                        __m512i (*other)[4]) {
    __m512i f[G][4];
    __m512i index[G];
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) index[g] = cur[g][3];
    FoldBoxes<Combine::Copy, G>(t.s[0], index, f);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) index[g] = cur[g][2];
    FoldBoxes<Combine::Add, G>(t.s[1], index, f);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) index[g] = cur[g][1];
    FoldBoxes<Combine::Xor, G>(t.s[2], index, f);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) index[g] = cur[g][0];
    FoldBoxes<Combine::Add, G>(t.s[3], index, f);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
            const __m512i word = _mm512_set1_epi8(static_cast<char>(p[j]));
            const __m512i next = _mm512_ternarylogic_epi32(_mm512_loadu_si512(&other[g][j]),
                                                           f[g][j], word, 0x96);
            _mm512_storeu_si512(&other[g][j], cur[g][j]);
            cur[g][j] = next;
        }
    }
}

// Swaps the 8-byte pieces of eight vectors as an 8x8 matrix, in three exchanges of
// blocks of 4, 2 and 1. Doing it twice gives the input back.
CIPHREL_AVX512 inline void TransposeQwords(__m512i v[8]) {
#pragma GCC unroll 3
    for (int s = 4; s >= 1; s /= 2) {
        int64_t lowIndex[8];
        int64_t highIndex[8];
#pragma GCC unroll 8
        for (int c = 0; c < 8; ++c) {
            bool upper = (c & s) != 0;
            lowIndex[c] = upper ? 8 + c - s : c;
            highIndex[c] = upper ? 8 + c : c + s;
        }
        const __m512i lowPick = _mm512_loadu_si512(lowIndex);
        const __m512i highPick = _mm512_loadu_si512(highIndex);
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r) {
            if ((r & s) != 0) continue;
            __m512i a = v[r];
            __m512i b = v[r + s];
            v[r] = _mm512_permutex2var_epi64(a, lowPick, b);
            v[r + s] = _mm512_permutex2var_epi64(a, highPick, b);
        }
    }
}

// 512 bytes of 64 blocks to and from eight byte planes: bytes 0-3 (L) and 4-7 (R) of
// each block. Within each vector of eight blocks a byte permute groups the bytes by
// position; the qword transpose then collects each position across the eight vectors.
// Both steps are their own inverse, so storing runs the same steps backwards.
CIPHREL_AVX512 inline __m512i ByteTransposeIndex() {
    uint8_t index[64];
    for (int k = 0; k < 8; ++k) {
        for (int b = 0; b < 8; ++b) index[8 * k + b] = static_cast<uint8_t>(8 * b + k);
    }
    return _mm512_loadu_si512(index);
}

CIPHREL_AVX512 inline void LoadPlanes(const uint8_t* bytes, __m512i byteIndex, Word l, Word r) {
    __m512i v[8];
#pragma GCC unroll 8
    for (int c = 0; c < 8; ++c) {
        v[c] = _mm512_permutexvar_epi8(byteIndex, _mm512_loadu_si512(bytes + 64 * c));
    }
    TransposeQwords(v);
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        l[j] = v[j];
        r[j] = v[4 + j];
    }
}

CIPHREL_AVX512 inline void StorePlanes(uint8_t* bytes, __m512i byteIndex, const Word l,
                                       const Word r) {
    __m512i v[8];
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        v[j] = l[j];
        v[4 + j] = r[j];
    }
    TransposeQwords(v);
#pragma GCC unroll 8
    for (int c = 0; c < 8; ++c) {
        _mm512_storeu_si512(bytes + 64 * c, _mm512_permutexvar_epi8(byteIndex, v[c]));
    }
}

CIPHREL_AVX512 void SplitTables(const uint32_t* p, const BlowfishContext* context, Planes* t) {
    for (int box = 0; box < 4; ++box) {
        for (int e = 0; e < 256; e += 16) {
            const __m512i words = _mm512_loadu_si512(&context->S[box][e]);
#pragma GCC unroll 4
            for (unsigned j = 0; j < 4; ++j) {
                __m128i bytes = _mm512_cvtepi32_epi8(_mm512_srli_epi32(words, 8 * j));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(&t->s[box][j][e]), bytes);
            }
        }
    }
    for (int i = 0; i < PWords; ++i) {
        for (int j = 0; j < 4; ++j) t->p[i][j] = static_cast<uint8_t>(p[i] >> (8 * j));
    }
}

// Transforms G groups of 64 blocks at `bytes`.
template <int G>
CIPHREL_AVX512 inline void RunGroups(const Planes& t, __m512i byteIndex, uint8_t* bytes) {
    __m512i cur[G][4];
    __m512i other[G][4];
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        Word r;
        LoadPlanes(bytes + 8 * Lanes * g, byteIndex, cur[g], r);
        XorBytes(cur[g], t.p[0]);
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) _mm512_storeu_si512(&other[g][j], r[j]);
    }
    // A loop, not sixteen copies: unrolled, the code ran a fifth slower.
#pragma GCC unroll 1
    for (int i = 1; i <= BlowfishRounds; ++i) Round<G>(t, t.p[i], cur, other);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        Word r;
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) r[j] = _mm512_loadu_si512(&other[g][j]);
        XorBytes(r, t.p[BlowfishRounds + 1]);
        // After an even number of rounds the halves sit exchanged relative to the output.
        StorePlanes(bytes + 8 * Lanes * g, byteIndex, r, cur[g]);
    }
}

// Groups run side by side. A round is one long chain in each group (lookups, carries, the
// next round's indices), and a second group gives the permute unit work while the first
// waits; a third no longer fits the 32 vector and 8 mask registers. 32-bit code, with its
// eight vector registers, runs one group at a time.
constexpr int InterleavedGroups = sizeof(void*) == 8 ? 2 : 1;

// Transforms whole groups of 64 blocks; returns how many blocks it did.
CIPHREL_AVX512 size_t RunBlocks(const uint32_t* p, const BlowfishContext* context,
                                uint8_t* bytes, size_t blockCount) {
    if (blockCount < Lanes) return 0;
    Planes t;
    SplitTables(p, context, &t);
    const __m512i byteIndex = ByteTransposeIndex();
    constexpr size_t Step = InterleavedGroups * Lanes;
    size_t done = 0;
    for (; blockCount - done >= Step; done += Step) {
        RunGroups<InterleavedGroups>(t, byteIndex, bytes + 8 * done);
    }
    for (; blockCount - done >= Lanes; done += Lanes) RunGroups<1>(t, byteIndex, bytes + 8 * done);
    return done;
}

// ---- The same planes for eight vector registers ----

// 32-bit code has eight vector registers, fewer than the sixteen planes of L, R, F and a
// looked-up word. There the halves stay in memory, and F is built one S-box at a time,
// byte plane after byte plane, so that at most seven vectors are live: four planes of F,
// the index plane and the two halves of a lookup. Every load is from L1 and mostly folded
// into the permute that uses it.
struct NarrowState {
    alignas(64) uint8_t half[2][4][64];     // half[h][j]: byte j of L (h = 0) or R (h = 1)
};

CIPHREL_AVX512 inline __m512i LoadPlane(const uint8_t* plane) {
    return _mm512_loadu_si512(plane);
}

CIPHREL_AVX512 inline void StorePlane(uint8_t* plane, __m512i v) {
    _mm512_storeu_si512(plane, v);
}

// f = combine(f, S[box][index]), as FoldBoxes does for registers, with the same two
// masked permutes per lookup: besides the blend, that saves the register which held the
// second half's result, and with it some of the spills of F.
template <Combine How>
CIPHREL_AVX512 inline void FoldBox(const uint8_t (*box)[256], const uint8_t* indexPlane,
                                   __m512i f[4]) {
    const __m512i index = LoadPlane(indexPlane);
    const __mmask64 high = _mm512_movepi8_mask(index);
    const __mmask64 low = _knot_mask64(high);
    __mmask64 carry = 0;
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        const __m512i upper = _mm512_mask2_permutex2var_epi8(
            LoadPlane(box[j] + 128), index, high, LoadPlane(box[j] + 192));
        const __m512i x = _mm512_mask2_permutex2var_epi8(LoadPlane(box[j]), upper, low,
                                                         LoadPlane(box[j] + 64));
        if constexpr (How == Combine::Copy) {
            f[j] = x;
        } else if constexpr (How == Combine::Xor) {
            f[j] = _mm512_xor_si512(f[j], x);
        } else {
            __m512i sum = _mm512_add_epi8(f[j], x);
            if (j == 0) {
                carry = _mm512_cmplt_epu8_mask(sum, x);
            } else {
                __mmask64 next = j < 3 ? _mm512_cmplt_epu8_mask(sum, x) : 0;
                sum = _mm512_mask_sub_epi8(sum, carry, sum, _mm512_set1_epi32(-1));
                // Adding the carry overflows only where it turned 0xFF into 0.
                // (OR through the mask unit: a 64-bit mask in 32-bit code would otherwise
                // be taken apart into two general registers.)
                if (j < 3) carry = _kor_mask64(next, _mm512_mask_testn_epi8_mask(carry, sum, sum));
            }
            f[j] = sum;
        }
    }
}

// to ^= F(from) ^ round word, plane by plane in memory.
CIPHREL_AVX512 inline void NarrowRound(const Planes& t, const uint8_t (*from)[64],
                                       uint8_t (*to)[64], const uint8_t p[4]) {
    __m512i f[4];
    FoldBox<Combine::Copy>(t.s[0], from[3], f);
    FoldBox<Combine::Add>(t.s[1], from[2], f);
    FoldBox<Combine::Xor>(t.s[2], from[1], f);
    FoldBox<Combine::Add>(t.s[3], from[0], f);
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        const __m512i word = _mm512_set1_epi8(static_cast<char>(p[j]));
        StorePlane(to[j], _mm512_ternarylogic_epi32(LoadPlane(to[j]), f[j], word, 0x96));
    }
}

CIPHREL_AVX512 size_t RunBlocksNarrow(const uint32_t* p, const BlowfishContext* context,
                                      uint8_t* bytes, size_t blockCount) {
    if (blockCount < Lanes) return 0;
    Planes t;
    SplitTables(p, context, &t);
    const __m512i byteIndex = ByteTransposeIndex();
    NarrowState st;
    size_t done = 0;
    for (; blockCount - done >= Lanes; done += Lanes) {
        {
            Word l;
            Word r;
            LoadPlanes(bytes + 8 * done, byteIndex, l, r);
            XorBytes(l, t.p[0]);
#pragma GCC unroll 4
            for (int j = 0; j < 4; ++j) {
                StorePlane(st.half[0][j], l[j]);
                StorePlane(st.half[1][j], r[j]);
            }
        }
        for (int i = 0; i < BlowfishRounds; i += 2) {
            NarrowRound(t, st.half[0], st.half[1], t.p[i + 1]);
            NarrowRound(t, st.half[1], st.half[0], t.p[i + 2]);
        }
        Word l;
        Word r;
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
            l[j] = LoadPlane(st.half[0][j]);
            r[j] = LoadPlane(st.half[1][j]);
        }
        XorBytes(r, t.p[BlowfishRounds + 1]);
        StorePlanes(bytes + 8 * done, byteIndex, r, l);
    }
    return done;
}

}  // namespace

void EncryptBlocksAvx512Narrow(const BlowfishContext* context, uint8_t* bytes,
                               size_t blockCount) {
    size_t done = RunBlocksNarrow(context->P, context, bytes, blockCount);
    EncryptBlocksScalar(context, bytes + 8 * done, blockCount - done);
}

void DecryptBlocksAvx512Narrow(const BlowfishContext* context, uint8_t* bytes,
                               size_t blockCount) {
    uint32_t p[PWords];
    ReverseP(context, p);
    size_t done = RunBlocksNarrow(p, context, bytes, blockCount);
    DecryptBlocksScalar(context, bytes + 8 * done, blockCount - done);
}

void EncryptBlocksAvx512(const BlowfishContext* context, uint8_t* bytes, size_t blockCount) {
    size_t done = RunBlocks(context->P, context, bytes, blockCount);
    EncryptBlocksScalar(context, bytes + 8 * done, blockCount - done);
}

void DecryptBlocksAvx512(const BlowfishContext* context, uint8_t* bytes, size_t blockCount) {
    uint32_t p[PWords];
    ReverseP(context, p);
    size_t done = RunBlocks(p, context, bytes, blockCount);
    DecryptBlocksScalar(context, bytes + 8 * done, blockCount - done);
}

#endif
