// Blowfish against the published vectors, the key-schedule properties and libcrypto.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cipher/blowfish.h"
#include "tests/test_files.h"

namespace {

using testfiles::RandomBytes;

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// A block as the publication prints it (b0 the most significant byte of L) turned into
// the bytes our buffers hold for the same words: each 4-byte half reversed.
std::vector<uint8_t> ReverseHalves(std::vector<uint8_t> block) {
    for (size_t half = 0; half < block.size(); half += 4) {
        std::swap(block[half], block[half + 3]);
        std::swap(block[half + 1], block[half + 2]);
    }
    return block;
}

uint32_t BigEndianWord(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 |
           uint32_t(bytes[at + 2]) << 8 | uint32_t(bytes[at + 3]);
}

BlowfishContext Expand(const std::vector<uint8_t>& key) {
    BlowfishContext context;
    ExpandKey(&context, key.data(), int32_t(key.size()));
    return context;
}

bool SameContext(const BlowfishContext& a, const BlowfishContext& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// The published ECB set, blocks printed big-endian.
const Vector EcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

// The published variable-key-length set: prefixes of one 24-byte key, one plain block.
const char* const VariableKey = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
const char* const VariableKeyPlain = "FEDCBA9876543210";
const char* const VariableKeyCiphers[24] = {
    "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
    "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
    "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
    "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
    "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
    "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
};

// Checks one vector both as words and as a byte buffer with its halves reversed.
void ExpectVector(const std::vector<uint8_t>& key, const char* plainHex,
                  const char* cipherHex) {
    const BlowfishContext context = Expand(key);
    const std::vector<uint8_t> plain = FromHex(plainHex);
    const std::vector<uint8_t> cipher = FromHex(cipherHex);

    uint32_t l = BigEndianWord(plain, 0), r = BigEndianWord(plain, 4);
    EncryptBlock(&context, &l, &r);
    EXPECT_EQ(l, BigEndianWord(cipher, 0));
    EXPECT_EQ(r, BigEndianWord(cipher, 4));
    DecryptBlock(&context, &l, &r);
    EXPECT_EQ(l, BigEndianWord(plain, 0));
    EXPECT_EQ(r, BigEndianWord(plain, 4));

    std::vector<uint8_t> buffer = ReverseHalves(plain);
    EncryptBlocks(&context, buffer.data(), 1);
    EXPECT_EQ(buffer, ReverseHalves(cipher));
    DecryptBlocks(&context, buffer.data(), 1);
    EXPECT_EQ(buffer, ReverseHalves(plain));
}

}  // namespace

TEST(Blowfish, PublishedEcbVectors) {
    for (const Vector& v : EcbVectors) {
        SCOPED_TRACE(std::string("key ") + v.key + " plain " + v.plain);
        ExpectVector(FromHex(v.key), v.plain, v.cipher);
    }
}

TEST(Blowfish, PublishedVariableKeyLengthVectors) {
    const std::vector<uint8_t> fullKey = FromHex(VariableKey);
    ASSERT_EQ(fullKey.size(), 24u);
    for (size_t length = 1; length <= 24; ++length) {
        SCOPED_TRACE("key length " + std::to_string(length));
        ExpectVector({fullKey.begin(), fullKey.begin() + long(length)}, VariableKeyPlain,
                     VariableKeyCiphers[length - 1]);
    }
}

TEST(Blowfish, EmptyKeyExpandsLikeAllZeroKeys) {
    const uint8_t terminator = 0;
    BlowfishContext empty;
    ExpandKey(&empty, &terminator, 0);
    for (size_t length : {1u, 8u, 56u}) {
        SCOPED_TRACE(length);
        EXPECT_TRUE(SameContext(empty, Expand(std::vector<uint8_t>(length, 0))));
    }
    // A key of length 0 must never read its pointer at all.
    BlowfishContext fromNull;
    ExpandKey(&fromNull, nullptr, 0);
    EXPECT_TRUE(SameContext(empty, fromNull));

    std::vector<uint8_t> block(8, 0);
    EncryptBlocks(&empty, block.data(), 1);
    EXPECT_EQ(block, ReverseHalves(FromHex("4EF997456198DD78")));
}

TEST(Blowfish, KeyScheduleCyclesAndStopsAt72Bytes) {
    std::mt19937 random(1);
    for (size_t length : {1u, 3u, 5u, 7u, 13u, 28u, 36u}) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> key = RandomBytes(random, length);
        std::vector<uint8_t> twice = key;
        twice.insert(twice.end(), key.begin(), key.end());
        EXPECT_TRUE(SameContext(Expand(key), Expand(twice)));
    }

    const std::vector<uint8_t> long80 = RandomBytes(random, 80);
    std::vector<uint8_t> changedTail = long80;
    for (size_t i = 72; i < 80; ++i) changedTail[i] ^= 0xA5;
    const std::vector<uint8_t> first72(long80.begin(), long80.begin() + 72);
    EXPECT_TRUE(SameContext(Expand(long80), Expand(changedTail)));
    EXPECT_TRUE(SameContext(Expand(long80), Expand(first72)));
    // Byte 71 still counts, so the comparison above is not vacuous.
    std::vector<uint8_t> changed71 = first72;
    changed71[71] ^= 1;
    EXPECT_FALSE(SameContext(Expand(first72), Expand(changed71)));
}

TEST(Blowfish, DecryptUndoesEncrypt) {
    std::mt19937 random(2);
    std::vector<std::pair<uint32_t, uint32_t>> blocks = {{0, 0}, {0xFFFFFFFF, 0xFFFFFFFF}};
    for (int i = 0; i < 64; ++i) blocks.push_back({uint32_t(random()), uint32_t(random())});
    for (size_t length : {0u, 1u, 8u, 56u}) {
        const BlowfishContext context = Expand(RandomBytes(random, length));
        for (auto [l0, r0] : blocks) {
            uint32_t l = l0, r = r0;
            EncryptBlock(&context, &l, &r);
            EXPECT_FALSE(l == l0 && r == r0);
            DecryptBlock(&context, &l, &r);
            EXPECT_EQ(l, l0);
            EXPECT_EQ(r, r0);
        }
    }
}

TEST(Blowfish, MatchesLibcryptoOnRandomKeysAndBlocks) {
    std::mt19937 random(4);
    std::uniform_int_distribution<size_t> keyLength(1, 56);
    for (int trial = 0; trial < 200; ++trial) {
        const std::vector<uint8_t> key = RandomBytes(random, keyLength(random));
        BF_KEY reference;
        BF_set_key(&reference, int(key.size()), key.data());
        const BlowfishContext context = Expand(key);
        ASSERT_EQ(std::memcmp(context.P, reference.P, sizeof context.P), 0) << trial;
        ASSERT_EQ(std::memcmp(context.S, reference.S, sizeof context.S), 0) << trial;

        const std::vector<uint8_t> plain = RandomBytes(random, 8);
        std::vector<uint8_t> cipher(8);
        BF_ecb_encrypt(plain.data(), cipher.data(), &reference, BF_ENCRYPT);
        std::vector<uint8_t> buffer = ReverseHalves(plain);
        EncryptBlocks(&context, buffer.data(), 1);
        EXPECT_EQ(buffer, ReverseHalves(cipher)) << trial;
    }
}
