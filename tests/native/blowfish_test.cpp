// Blowfish against the published vectors and against libcrypto's key schedule.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "cipher/blowfish.h"
#include "tests/test_files.h"

namespace {

using testfiles::Bytes;

BlowfishContext Expand(const Bytes& key) {
    BlowfishContext context;
    ExpandKey(&context, key.data(), int32_t(key.size()));
    return context;
}

bool Same(const BlowfishContext& a, const BlowfishContext& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

uint32_t Word(const Bytes& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 |
           b[at + 3];
}

// The published blocks print each half most significant byte first; buffers hold the
// same words little-endian, so each half is reversed.
Bytes ReverseHalves(Bytes block) {
    std::swap(block[0], block[3]), std::swap(block[1], block[2]);
    std::swap(block[4], block[7]), std::swap(block[5], block[6]);
    return block;
}

TEST(Blowfish, PublishedVectors) {
    const auto rows = testfiles::DataRows("blowfish_vectors.tsv");
    ASSERT_EQ(rows.size(), 57u);
    for (const auto& row : rows) {
        SCOPED_TRACE("key " + row[0] + " plain " + row[1]);
        const BlowfishContext context = Expand(testfiles::FromHex(row[0]));
        const Bytes plain = testfiles::FromHex(row[1]), cipher = testfiles::FromHex(row[2]);
        uint32_t l = Word(plain, 0), r = Word(plain, 4);
        EncryptBlock(&context, &l, &r);
        EXPECT_EQ(l, Word(cipher, 0));
        EXPECT_EQ(r, Word(cipher, 4));
        DecryptBlock(&context, &l, &r);
        EXPECT_EQ(l, Word(plain, 0));
        EXPECT_EQ(r, Word(plain, 4));
        Bytes buffer = ReverseHalves(plain);
        EncryptBlocks(&context, buffer.data(), 1);
        EXPECT_EQ(buffer, ReverseHalves(cipher));
        DecryptBlocks(&context, buffer.data(), 1);
        EXPECT_EQ(buffer, ReverseHalves(plain));
    }
}

TEST(Blowfish, KeyScheduleMatchesLibcrypto) {
    std::mt19937 random(4);
    for (size_t length = 1; length <= 56; ++length) {
        const Bytes key = testfiles::RandomBytes(random, length);
        BF_KEY reference;
        BF_set_key(&reference, int(length), key.data());
        const BlowfishContext context = Expand(key);
        EXPECT_EQ(std::memcmp(context.P, reference.P, sizeof context.P), 0) << length;
        EXPECT_EQ(std::memcmp(context.S, reference.S, sizeof context.S), 0) << length;
    }
    // An empty key reads as its terminating zero byte, never through its pointer.
    const BlowfishContext empty = Expand({});
    EXPECT_TRUE(Same(empty, Expand(Bytes(1, 0))));
    BlowfishContext fromNull;
    ExpandKey(&fromNull, nullptr, 0);
    EXPECT_TRUE(Same(empty, fromNull));
    // The schedule takes 72 key bytes at most.
    Bytes long80 = testfiles::RandomBytes(random, 80);
    const BlowfishContext first72 = Expand({long80.begin(), long80.begin() + 72});
    long80[79] ^= 1;
    EXPECT_TRUE(Same(Expand(long80), first72));
    long80[71] ^= 1;
    EXPECT_FALSE(Same(Expand(long80), first72));
}

}  // namespace
