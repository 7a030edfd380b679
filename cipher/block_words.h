// Block halves as little-endian words, and the P order each direction runs through.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
#include "cipher/blowfish.h"

constexpr int BlowfishRounds = 16;
constexpr int PWords = BlowfishRounds + 2;

// The one place where byte order is decided: block halves are little-endian words.
inline uint32_t LoadLittleEndian(const uint8_t* bytes) {
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
    return word;
}

inline void StoreLittleEndian(uint8_t* bytes, uint32_t word) {
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
    std::memcpy(bytes, &word, sizeof word);
}

// Decryption is encryption with the P-array taken backwards, so every path runs one
// round loop over `p` and the whitening words p[16] and p[17].
inline void ReverseP(const BlowfishContext* context, uint32_t p[PWords]) {
    for (int i = 0; i < PWords; ++i) p[i] = context->P[PWords - 1 - i];
}
