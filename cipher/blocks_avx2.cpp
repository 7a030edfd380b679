// The AVX2 path: eight blocks per vector, S-box lookups by gather.
#include <cstddef>
#include <cstdint>

#include "cipher/block_paths.h"
#include "cipher/block_words.h"

#if defined(__x86_64__) || defined(__i386__)
#include "cipher/x86_intrinsics.h"

// Only these functions use AVX2, so the module still loads and runs on any x86; the
// dispatcher calls them only where CPUID and XGETBV allow.
#define CIPHREL_AVX2 __attribute__((target("avx2")))

namespace {

constexpr size_t Lanes = Avx2GroupBlocks;
// Vectors in flight: a gather waits long, and a second independent vector fills the wait.
constexpr size_t Groups = 2;

struct Tables {
    const int* s0;
    const int* s1;
    const int* s2;
    const int* s3;
    __m256i byte1;              // shuffle moving byte 1 of each word to byte 0, rest zero
    __m256i byte2;              // the same for byte 2
    __m256i lowByte;
};

CIPHREL_AVX2 inline __m256i F(const Tables& t, __m256i x) {
    __m256i a = _mm256_i32gather_epi32(t.s0, _mm256_srli_epi32(x, 24), 4);
    __m256i b = _mm256_i32gather_epi32(t.s1, _mm256_shuffle_epi8(x, t.byte2), 4);
    __m256i c = _mm256_i32gather_epi32(t.s2, _mm256_shuffle_epi8(x, t.byte1), 4);
    __m256i d = _mm256_i32gather_epi32(t.s3, _mm256_and_si256(x, t.lowByte), 4);
    return _mm256_add_epi32(_mm256_xor_si256(_mm256_add_epi32(a, b), c), d);
}

// N vectors of eight blocks each, 64 bytes per vector pair of halves. Within each 128-bit
// lane the shuffles gather the L words of four blocks and the R words of the same four;
// which lane holds which block does not matter as long as the store undoes it.
template <size_t N>
CIPHREL_AVX2 inline void RunGroups(const uint32_t* p, const Tables& t, uint8_t* bytes) {
    __m256i l[N];
    __m256i r[N];
    for (size_t g = 0; g < N; ++g) {
        __m256 a = _mm256_loadu_ps(reinterpret_cast<const float*>(bytes + 64 * g));
        __m256 b = _mm256_loadu_ps(reinterpret_cast<const float*>(bytes + 64 * g + 32));
        l[g] = _mm256_castps_si256(_mm256_shuffle_ps(a, b, 0x88));
        r[g] = _mm256_castps_si256(_mm256_shuffle_ps(a, b, 0xDD));
    }
    for (int i = 0; i < BlowfishRounds; i += 2) {
        const __m256i even = _mm256_set1_epi32(static_cast<int>(p[i]));
        for (size_t g = 0; g < N; ++g) {
            l[g] = _mm256_xor_si256(l[g], even);
            r[g] = _mm256_xor_si256(r[g], F(t, l[g]));
        }
        const __m256i odd = _mm256_set1_epi32(static_cast<int>(p[i + 1]));
        for (size_t g = 0; g < N; ++g) {
            r[g] = _mm256_xor_si256(r[g], odd);
            l[g] = _mm256_xor_si256(l[g], F(t, r[g]));
        }
    }
    const __m256i p16 = _mm256_set1_epi32(static_cast<int>(p[BlowfishRounds]));
    const __m256i p17 = _mm256_set1_epi32(static_cast<int>(p[BlowfishRounds + 1]));
    for (size_t g = 0; g < N; ++g) {
        __m256 outL = _mm256_castsi256_ps(_mm256_xor_si256(r[g], p17));
        __m256 outR = _mm256_castsi256_ps(_mm256_xor_si256(l[g], p16));
        _mm256_storeu_ps(reinterpret_cast<float*>(bytes + 64 * g),
                         _mm256_unpacklo_ps(outL, outR));
        _mm256_storeu_ps(reinterpret_cast<float*>(bytes + 64 * g + 32),
                         _mm256_unpackhi_ps(outL, outR));
    }
}

// Transforms whole vectors' worth of blocks; returns how many blocks it did.
CIPHREL_AVX2 size_t RunBlocks(const uint32_t* p, const BlowfishContext* context,
                              uint8_t* bytes, size_t blockCount) {
    Tables t;
    t.s0 = reinterpret_cast<const int*>(context->S[0]);
    t.s1 = reinterpret_cast<const int*>(context->S[1]);
    t.s2 = reinterpret_cast<const int*>(context->S[2]);
    t.s3 = reinterpret_cast<const int*>(context->S[3]);
    const char z = -128;        // a shuffle index with the top bit set writes zero
    t.byte1 = _mm256_setr_epi8(1, z, z, z, 5, z, z, z, 9, z, z, z, 13, z, z, z,
                               1, z, z, z, 5, z, z, z, 9, z, z, z, 13, z, z, z);
    t.byte2 = _mm256_setr_epi8(2, z, z, z, 6, z, z, z, 10, z, z, z, 14, z, z, z,
                               2, z, z, z, 6, z, z, z, 10, z, z, z, 14, z, z, z);
    t.lowByte = _mm256_set1_epi32(0xFF);

    size_t done = 0;
    for (; blockCount - done >= Groups * Lanes; done += Groups * Lanes) {
        RunGroups<Groups>(p, t, bytes + 8 * done);
    }
    if constexpr (Groups > 1) {
        for (; blockCount - done >= Lanes; done += Lanes) RunGroups<1>(p, t, bytes + 8 * done);
    }
    return done;
}

}  // namespace

void EncryptBlocksAvx2(const BlowfishContext* context, uint8_t* bytes, size_t blockCount) {
    size_t done = RunBlocks(context->P, context, bytes, blockCount);
    EncryptBlocksScalar(context, bytes + 8 * done, blockCount - done);
}

void DecryptBlocksAvx2(const BlowfishContext* context, uint8_t* bytes, size_t blockCount) {
    uint32_t p[PWords];
    ReverseP(context, p);
    size_t done = RunBlocks(p, context, bytes, blockCount);
    DecryptBlocksScalar(context, bytes + 8 * done, blockCount - done);
}

#endif
