// Escaped cipher text checked against an independent Blowfish and an independent escaper.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/engine_state.h"
#include "runtime/report.h"
#include "runtime/routines.h"
#include "tests/test_files.h"

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

// `text` completed with zeros to whole blocks, through the independent Blowfish.
std::string ReferenceCrypt(const std::string& key, const std::string& text, bool encrypt) {
    testfiles::Bytes bytes = testfiles::PadToBlocks({text.begin(), text.end()});
    bytes = testfiles::ReferenceCrypt(bytes, key, encrypt);
    return std::string(bytes.begin(), bytes.end());
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
                    ReferenceEscape(ReferenceCrypt(key, text, true), codes, controlCodes);
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
    std::string cipher = ReferenceCrypt("key", "two blocks of it", true);
    for (size_t keep : {size_t(1), size_t(9), size_t(15)}) {
        std::string cut = cipher.substr(0, keep);
        std::string plain = ReferenceCrypt("key", cut, false);
        std::string escaped = ReferenceEscape(cut, codes, false);
        EXPECT_EQ(Call(DecryptStringExpression, "key", escaped.c_str()),
                  std::string(plain.c_str())) << keep;
    }
    EXPECT_EQ(rd.expressionErrorCode, 0);
}

}  // namespace
