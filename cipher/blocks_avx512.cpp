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
// is two 128-entry byte permutes and a blend per table. Additions carry between planes
// by hand.
constexpr size_t Lanes = Avx512GroupBlocks;

using Word = __m512i[4];        // planes 0 (least significant byte) to 3

// Loads from here are unaligned ones all the same: 64-bit Windows cannot promise a stack
// aligned beyond 16 bytes, and an aligned load would fault there.
struct Planes {
    alignas(64) uint8_t s[4][4][256];   // s[box][j][e]: byte j of S[box][e]
    uint8_t p[PWords][4];               // byte j of each round word
};

CIPHREL_AVX512 inline __m512i Lookup(const uint8_t* table, __m512i index, __mmask64 high) {
    __m512i low = _mm512_permutex2var_epi8(_mm512_loadu_si512(table), index,
                                           _mm512_loadu_si512(table + 64));
    __m512i upper = _mm512_permutex2var_epi8(_mm512_loadu_si512(table + 128), index,
                                             _mm512_loadu_si512(table + 192));
    return _mm512_mask_blend_epi8(high, low, upper);
}

CIPHREL_AVX512 inline void LookupWord(const uint8_t (*box)[256], __m512i index, Word out) {
    __mmask64 high = _mm512_movepi8_mask(index);
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) out[j] = Lookup(box[j], index, high);
}

// a += b, 32 bits per lane, carries passed upward between the byte planes.
CIPHREL_AVX512 inline void AddTo(Word a, const Word b) {
    const __m512i one = _mm512_set1_epi8(1);
    __m512i sum = _mm512_add_epi8(a[0], b[0]);
    __mmask64 carry = _mm512_cmplt_epu8_mask(sum, a[0]);
    a[0] = sum;
#pragma GCC unroll 4
    for (int j = 1; j < 4; ++j) {
        sum = _mm512_add_epi8(a[j], b[j]);
        __mmask64 next = j < 3 ? _mm512_cmplt_epu8_mask(sum, a[j]) : 0;
        sum = _mm512_mask_add_epi8(sum, carry, sum, one);
        // Adding the carry overflows only where it turned 0xFF into 0.
        if (j < 3) carry = next | _mm512_mask_testn_epi8_mask(carry, sum, sum);
        a[j] = sum;
    }
}

CIPHREL_AVX512 inline void XorBytes(Word a, const uint8_t bytes[4]) {
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        a[j] = _mm512_xor_si512(a[j], _mm512_set1_epi8(static_cast<char>(bytes[j])));
    }
}

// r ^= F(l)
CIPHREL_AVX512 inline void Round(const Planes& t, const Word l, Word r) {
    Word f;
    Word x;
    LookupWord(t.s[0], l[3], f);
    LookupWord(t.s[1], l[2], x);
    AddTo(f, x);
    LookupWord(t.s[2], l[1], x);
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) f[j] = _mm512_xor_si512(f[j], x[j]);
    LookupWord(t.s[3], l[0], x);
    AddTo(f, x);
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) r[j] = _mm512_xor_si512(r[j], f[j]);
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

// Transforms whole groups of 64 blocks; returns how many blocks it did.
CIPHREL_AVX512 size_t RunBlocks(const uint32_t* p, const BlowfishContext* context,
                                uint8_t* bytes, size_t blockCount) {
    if (blockCount < Lanes) return 0;
    Planes t;
    SplitTables(p, context, &t);
    const __m512i byteIndex = ByteTransposeIndex();
    size_t done = 0;
    for (; blockCount - done >= Lanes; done += Lanes) {
        Word l;
        Word r;
        LoadPlanes(bytes + 8 * done, byteIndex, l, r);
        // Each P word goes into a half before F's result does, off the chain of rounds.
        XorBytes(l, t.p[0]);
#pragma GCC unroll 8
        for (int i = 0; i < BlowfishRounds; i += 2) {
            XorBytes(r, t.p[i + 1]);
            Round(t, l, r);
            XorBytes(l, t.p[i + 2]);
            Round(t, r, l);
        }
        XorBytes(r, t.p[BlowfishRounds + 1]);
        // After an even number of rounds the halves sit exchanged relative to the output.
        StorePlanes(bytes + 8 * done, byteIndex, r, l);
    }
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

// f = combine(f, S[box][index]); combine is a copy (first box), 32-bit addition or XOR.
enum class Combine { Copy, Add, Xor };

template <Combine How>
CIPHREL_AVX512 inline void FoldBox(const uint8_t (*box)[256], const uint8_t* indexPlane,
                                   __m512i f[4]) {
    const __m512i index = LoadPlane(indexPlane);
    const __mmask64 high = _mm512_movepi8_mask(index);
    __mmask64 carry = 0;
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        const __m512i x = Lookup(box[j], index, high);
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
