// Blowfish block cipher: key expansion and block transforms on an expanded key.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t BlockSize = 8;             // bytes in one block: the words L and R

// `length` rounded up to whole blocks (a multiple of 8 stays as it is).
constexpr uint64_t RoundUpToBlock(uint64_t length) {
    return (length + BlockSize - 1) / BlockSize * BlockSize;
}

struct BlowfishContext {
    uint32_t P[18];             // letters as in the published algorithm: P, S, F, L, R
    uint32_t S[4][256];
};
static_assert(sizeof(BlowfishContext) == 1042 * 4, "1042 words and nothing else");

// Fills the whole context from `length` key bytes (0 to 56 in practice; a length of 0
// reads the key as one zero byte and nothing beyond it).
void ExpandKey(BlowfishContext* context, const uint8_t* key, int32_t length);

// One block given as its two words; L and R are replaced in place.
void EncryptBlock(const BlowfishContext* context, uint32_t* L, uint32_t* R);
void DecryptBlock(const BlowfishContext* context, uint32_t* L, uint32_t* R);

// Runs of 8-byte blocks in a byte buffer, transformed in place (ECB). Each block's bytes
// 0-3 and 4-7 are little-endian words L and R, whatever the machine's byte order.
// Strings and files go through these; they produce exactly the bytes of the one-block
// functions applied block by block.
void EncryptBlocks(const BlowfishContext* context, uint8_t* bytes, size_t blockCount);
void DecryptBlocks(const BlowfishContext* context, uint8_t* bytes, size_t blockCount);
