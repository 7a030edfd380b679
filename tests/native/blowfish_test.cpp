// Blowfish against the published vectors and against libcrypto's key schedule.
#include <gtest/gtest.h>
#define OPENSSL_SUPPRESS_DEPRECATED     // the one-block BF_ API is the reference we want
#include <openssl/blowfish.h>

#include <array>
#include <cstring>

#include "cipher/blowfish.h"
#include "tests/test_files.h"

namespace {

using testfiles::Bytes;

BlowfishContext Expand(const Bytes& key) {
    BlowfishContext context;
    ExpandKey(&context, key.data(), int32_t(key.size()));
    return context;
}

bool Same(const BlowfishContext& a, const BlowfishContext& b) { return !memcmp(&a, &b, sizeof a); }

// The published blocks print each half most significant byte first; buffers hold the
// same words little-endian, as this processor stores them.
TEST(Blowfish, PublishedVectors) {
    using Words = std::array<uint32_t, 2>;
    const auto words = [](const std::string& hex) {
        return Words{uint32_t(std::stoul(hex.substr(0, 8), nullptr, 16)),
                     uint32_t(std::stoul(hex.substr(8, 8), nullptr, 16))};
    };
    const auto rows = testfiles::DataRows("blowfish_vectors.tsv");
    ASSERT_EQ(rows.size(), 57u);
    for (const auto& row : rows) {
        Bytes key;
        for (size_t i = 0; i < row[0].size(); i += 2)
            key.push_back(uint8_t(std::stoul(row[0].substr(i, 2), nullptr, 16)));
        const BlowfishContext context = Expand(key);
        Words block = words(row[1]);
        EncryptBlock(&context, &block[0], &block[1]);
        EXPECT_EQ(block, words(row[2])) << row[0] << " " << row[1];
        DecryptBlock(&context, &block[0], &block[1]);
        EXPECT_EQ(block, words(row[1]));
        EncryptBlocks(&context, reinterpret_cast<uint8_t*>(block.data()), 1);
        EXPECT_EQ(block, words(row[2])) << row[0] << " " << row[1];
    }
}

TEST(Blowfish, KeyScheduleMatchesLibcrypto) {
    std::mt19937 random(4);
    for (size_t length = 1; length <= 56; ++length) {
        const Bytes key = testfiles::RandomBytes(random, length);
        BF_KEY reference;
        BF_set_key(&reference, int(length), key.data());
        const BlowfishContext context = Expand(key);
        EXPECT_TRUE(!memcmp(context.P, reference.P, sizeof context.P) &&
                    !memcmp(context.S, reference.S, sizeof context.S)) << length;
    }
    // An empty key reads as its terminating zero byte, never through its pointer.
    BlowfishContext fromNull;
    ExpandKey(&fromNull, nullptr, 0);
    EXPECT_TRUE(Same(fromNull, Expand(Bytes(1, 0))));
    // The schedule takes 72 key bytes at most.
    Bytes long80 = testfiles::RandomBytes(random, 80);
    const BlowfishContext first72 = Expand({long80.begin(), long80.begin() + 72});
    long80[79] ^= 1;
    EXPECT_TRUE(Same(Expand(long80), first72));
    long80[71] ^= 1;
    EXPECT_FALSE(Same(Expand(long80), first72));
}

}  // namespace
