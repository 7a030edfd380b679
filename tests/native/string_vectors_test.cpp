// Escaped cipher text checked against an independent Blowfish and an independent escaper.
#include <gtest/gtest.h>
#include <openssl/blowfish.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine_state.h"
#include "runtime/report.h"
#include "runtime/routines.h"

namespace {

// The parameters the current expression call fetches, served in order.
std::vector<const char*> served;
size_t nextServed = 0;

HostValue CIPHREL_STDCALL ServeParameter(RunData*, uint32_t type, uint32_t) {
    EXPECT_EQ(type, ParamString);
    EXPECT_LT(nextServed, served.size());
    return nextServed < served.size() ? StringResult(served[nextServed++]) : 0;
}

HostValue CIPHREL_STDCALL ServeFirstParameter(RunData* rd, uint32_t type, uint32_t pass) {
    nextServed = 0;
    return ServeParameter(rd, type, pass);
}

// The reference: OpenSSL reads each block half big-endian, ours little-endian, so each
// 4-byte half is reversed on the way in and out. `text` is padded with zeros.
std::string ReferenceCrypt(const std::string& key, const std::string& text, int mode) {
    BF_KEY schedule;
    // An empty key is expanded as the single zero byte of its terminator.
    BF_set_key(&schedule, std::max<int>(1, int(key.size())),
               reinterpret_cast<const unsigned char*>(key.c_str()));
    std::string plain = text;
    plain.resize((text.size() + 7) / 8 * 8, '\0');
    std::string cipher(plain.size(), '\0');
    for (size_t at = 0; at < plain.size(); at += 8) {
        unsigned char in[8], out[8];
        memcpy(in, plain.data() + at, 8);
        std::reverse(in, in + 4);
        std::reverse(in + 4, in + 8);
        BF_ecb_encrypt(in, out, &schedule, mode);
        std::reverse(out, out + 4);
        std::reverse(out + 4, out + 8);
        memcpy(cipher.data() + at, out, 8);
    }
    return cipher;
}

std::string ReferenceEscape(const std::string& bytes, const std::vector<uint8_t>& filtered,
                            bool controlCodes) {
    std::string out;
    for (char c : bytes) {
        uint8_t b = uint8_t(c);
        bool escape = (controlCodes && b < 32) ||
                      std::find(filtered.begin(), filtered.end(), b) != filtered.end();
        char hex[4];
        snprintf(hex, sizeof hex, "%%%02X", b);
        out += escape ? std::string(hex) : std::string(1, c);
    }
    return out;
}

class StringVectors : public ::testing::Test {
protected:
    RunData rd{};
    void* runHeader[256] = {};
    FilterSet savedSet{};
    bool savedFlag = false;

    void SetUp() override {
        runHeader[RunHeaderGetFirstParameter] = reinterpret_cast<void*>(&ServeFirstParameter);
        runHeader[RunHeaderGetNextParameter] = reinterpret_cast<void*>(&ServeParameter);
        SetRunHeader(&rd, runHeader);
        savedSet = engine.filterSet;
        savedFlag = engine.filterControlCodes;
    }
    void TearDown() override {
        ReleaseResultBuffers(&rd);
        ReleaseKeyRing(&engine.keyRing);
        engine.filterSet = savedSet;
        engine.filterControlCodes = savedFlag;
    }

    void UseFilter(const std::vector<uint8_t>& codes, bool controlCodes) {
        engine.filterSet = FilterSet{};
        for (uint8_t c : codes) engine.filterSet.codes[engine.filterSet.count++] = c;
        engine.filterControlCodes = controlCodes;
    }

    std::string Call(ExpressionRoutine routine, const char* key, const char* text) {
        served = {key, text};
        SetHostFlags(&rd, 0);
        const char* result = TextParameter(routine(&rd, 0));
        EXPECT_EQ(nextServed, 2u);
        EXPECT_EQ(GetHostFlags(&rd), ResultIsString);
        return result;
    }
};

TEST_F(StringVectors, MatchesAnIndependentBlowfishAndDecryptsBack) {
    const std::string keys[] = {
        "", "k", "Ciphrel", "\xC3\xBC\xC3\xA7\xE2\x82\xAC", std::string(56, 'z'),
    };
    const std::string texts[] = {
        "", "a", "1234567", "12345678", "123456789", std::string(100, 'x') + "end",
        "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC",
    };
    const std::vector<uint8_t> codes = {PercentCode, 0, '&'};
    for (bool controlCodes : {false, true}) {
        UseFilter(codes, controlCodes);
        for (const std::string& key : keys) {
            AddKey(&engine.keyRing, key.c_str(), key.size());
            for (const std::string& text : texts) {
                SCOPED_TRACE("key '" + key + "', text '" + text + "'");
                std::string expected =
                    ReferenceEscape(ReferenceCrypt(key, text, BF_ENCRYPT), codes, controlCodes);
                std::string cipher = Call(EncryptStringExpression, key.c_str(), text.c_str());
                EXPECT_EQ(cipher, expected);
                EXPECT_EQ(Call(DecryptStringExpression, key.c_str(), cipher.c_str()), text);
            }
        }
        ReleaseKeyRing(&engine.keyRing);
    }
    EXPECT_EQ(rd.expressionErrorCode, 0);
}

TEST_F(StringVectors, CutCipherTextIsCompletedWithZerosAndDecrypted) {
    const std::vector<uint8_t> codes = {PercentCode, 0};
    UseFilter(codes, false);
    AddKey(&engine.keyRing, "key", 3);
    std::string cipher = ReferenceCrypt("key", "two blocks of it", BF_ENCRYPT);
    for (size_t keep : {size_t(1), size_t(9), size_t(15)}) {
        std::string cut = cipher.substr(0, keep);
        std::string padded = cut + std::string((8 - keep % 8) % 8, '\0');
        std::string plain = ReferenceCrypt("key", padded, BF_DECRYPT);
        std::string escaped = ReferenceEscape(cut, codes, false);
        EXPECT_EQ(Call(DecryptStringExpression, "key", escaped.c_str()),
                  std::string(plain.c_str())) << keep;
    }
    EXPECT_EQ(rd.expressionErrorCode, 0);
}

}  // namespace
