// Blowfish: key schedule and the 16-round block transforms, ECB over byte buffers.
#include "cipher/blowfish.h"

#include <cstring>

#include "cipher/blowfish_tables.h"

namespace {

constexpr int Rounds = 16;

inline uint32_t F(const BlowfishContext* context, uint32_t x) {
    const uint32_t (*S)[256] = context->S;
    return ((S[0][x >> 24] + S[1][(x >> 16) & 0xFF]) ^ S[2][(x >> 8) & 0xFF]) + S[3][x & 0xFF];
}

// The one place where byte order is decided: block halves are little-endian words.
inline uint32_t LoadLittleEndian(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

inline void StoreLittleEndian(uint8_t* bytes, uint32_t word) {
    bytes[0] = uint8_t(word);
    bytes[1] = uint8_t(word >> 8);
    bytes[2] = uint8_t(word >> 16);
    bytes[3] = uint8_t(word >> 24);
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
        EncryptBlock(context, &l, &r);
        context->P[i] = l;
        context->P[i + 1] = r;
    }
    for (auto& box : context->S) {
        for (int i = 0; i < 256; i += 2) {
            EncryptBlock(context, &l, &r);
            box[i] = l;
            box[i + 1] = r;
        }
    }
}

void EncryptBlocks(const BlowfishContext* context, uint8_t* bytes, size_t blockCount) {
    for (size_t b = 0; b < blockCount; ++b, bytes += 8) {
        uint32_t l = LoadLittleEndian(bytes);
        uint32_t r = LoadLittleEndian(bytes + 4);
        EncryptBlock(context, &l, &r);
        StoreLittleEndian(bytes, l);
        StoreLittleEndian(bytes + 4, r);
    }
}

void DecryptBlocks(const BlowfishContext* context, uint8_t* bytes, size_t blockCount) {
    for (size_t b = 0; b < blockCount; ++b, bytes += 8) {
        uint32_t l = LoadLittleEndian(bytes);
        uint32_t r = LoadLittleEndian(bytes + 4);
        DecryptBlock(context, &l, &r);
        StoreLittleEndian(bytes, l);
        StoreLittleEndian(bytes + 4, r);
    }
}
