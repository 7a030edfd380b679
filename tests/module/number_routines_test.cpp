// Integer and float expressions: one Blowfish block as two integers, floats as bit patterns.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/module/module_fixture.h"

namespace {

class NumberRoutines : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        o = host.Create(TestHost::NewEditData());
    }

    void Add(const std::string& key) {
        std::vector<std::string> texts{key};
        host.ActionText(o, Code::AddKey, texts);
    }
    uint32_t Integers(int code, const std::string& key, uint32_t l, uint32_t r,
                      int32_t selector) {
        const HostValue result =
            host.Expression(o, code, {HostParam::Str(key), HostParam::Int(int32_t(l)),
                                      HostParam::Int(int32_t(r)), HostParam::Int(selector)});
        EXPECT_EQ(host.LastHostFlags(o) & (ResultIsString | ResultIsFloat), 0);
        return uint32_t(result);
    }
    uint32_t Encrypt(const std::string& key, uint32_t l, uint32_t r, int32_t selector) {
        return Integers(Code::EncryptInteger, key, l, r, selector);
    }
    uint32_t Decrypt(const std::string& key, uint32_t l, uint32_t r, int32_t selector) {
        return Integers(Code::DecryptInteger, key, l, r, selector);
    }
    uint32_t ToInteger(uint32_t floatBits) {
        const HostValue result = host.Expression(
            o, Code::ConvertToInteger, {HostParam{ParamFloat, int32_t(floatBits), {}}});
        EXPECT_EQ(host.LastHostFlags(o) & (ResultIsString | ResultIsFloat), 0);
        return uint32_t(result);
    }
    uint32_t ToFloat(uint32_t integer) {
        const HostValue result =
            host.Expression(o, Code::ConvertToFloat, {HostParam::Int(int32_t(integer))});
        EXPECT_EQ(host.LastHostFlags(o) & (ResultIsString | ResultIsFloat), ResultIsFloat);
        return uint32_t(result);
    }
    int32_t ExpressionError() { return int32_t(host.Expression(o, Code::ExpressionErrorCode)); }

    RunData* o = nullptr;
};

uint32_t Bits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// Published vectors whose keys hold no zero byte, so that they can be key texts; the
// halves are words, so they appear as printed.
struct Vector { const char* key; uint32_t l, r, cipherL, cipherR; };
const Vector Published[] = {
    {"\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 0xFFFFFFFF, 0xFFFFFFFF, 0x51866FD5, 0xB85ECB8A},
    {"\x01\x23\x45\x67\x89\xAB\xCD\xEF", 0x11111111, 0x11111111, 0x61F9C380, 0x2281B096},
    {"\x11\x11\x11\x11\x11\x11\x11\x11", 0x01234567, 0x89ABCDEF, 0x7D0CC630, 0xAFDA1EC7},
    {"\xFE\xDC\xBA\x98\x76\x54\x32\x10", 0x01234567, 0x89ABCDEF, 0x0ACEAB0F, 0xC6A0A28D},
    // The empty key expands like the all-zero key.
    {"", 0x00000000, 0x00000000, 0x4EF99745, 0x6198DD78},
};

TEST_F(NumberRoutines, PublishedVectors) {
    for (const Vector& v : Published) Add(v.key);
    for (const Vector& v : Published) {
        SCOPED_TRACE(testing::PrintToString(std::string(v.key)));
        EXPECT_EQ(Encrypt(v.key, v.l, v.r, 0), v.cipherL);
        EXPECT_EQ(Encrypt(v.key, v.l, v.r, 2), v.cipherR);
        EXPECT_EQ(Decrypt(v.key, v.cipherL, v.cipherR, 0), v.l);
        EXPECT_EQ(Decrypt(v.key, v.cipherL, v.cipherR, 2), v.r);
    }
    EXPECT_EQ(ExpressionError(), 0);
}

TEST_F(NumberRoutines, OnlySelectorTwoSelectsTheRightHalf) {
    const Vector& v = Published[1];
    Add(v.key);
    for (int32_t selector : {0, 1, 3, -1, -2, 256 + 2}) {
        SCOPED_TRACE(selector);
        EXPECT_EQ(Encrypt(v.key, v.l, v.r, selector), v.cipherL);
        EXPECT_EQ(Decrypt(v.key, v.cipherL, v.cipherR, selector), v.l);
    }
    EXPECT_EQ(Encrypt(v.key, v.l, v.r, 2), v.cipherR);
}

TEST_F(NumberRoutines, DecryptUndoesEncryptHalfByHalf) {
    Add("round trip");
    const uint32_t blocks[][2] = {{0, 0}, {0xFFFFFFFF, 0xFFFFFFFF}, {0x80000000, 1},
                                  {12345, 0x7FFFFFFF}};
    for (const auto& block : blocks) {
        const uint32_t a = Encrypt("round trip", block[0], block[1], 0);
        const uint32_t b = Encrypt("round trip", block[0], block[1], 2);
        EXPECT_FALSE(a == block[0] && b == block[1]);
        EXPECT_EQ(Decrypt("round trip", a, b, 0), block[0]);
        EXPECT_EQ(Decrypt("round trip", a, b, 2), block[1]);
    }
}

TEST_F(NumberRoutines, MissingKeyReturnsTheSelectedHalfWithError2) {
    Add("present");
    EXPECT_EQ(Encrypt("absent", 0xAAAA5555, 0x12345678, 0), 0xAAAA5555u);
    EXPECT_EQ(ExpressionError(), 2);
    host.Action(o, Code::ClearExpressionError);
    EXPECT_EQ(Decrypt("absent", 0xAAAA5555, 0x12345678, 2), 0x12345678u);
    EXPECT_EQ(ExpressionError(), 2);
    EXPECT_EQ(Encrypt("Present", 7, 8, -1), 7u);

    // A success does not clear the code; only the action does.
    EXPECT_NE(Encrypt("present", 7, 8, 0), 7u);
    EXPECT_EQ(ExpressionError(), 2);
    host.Action(o, Code::ClearExpressionError);
    EXPECT_EQ(ExpressionError(), 0);
    // No immediate error for expressions.
    EXPECT_TRUE(host.events.empty());
}

TEST_F(NumberRoutines, FloatsSurviveEncryptionBitForBit) {
    Add("floats");
    const uint32_t quietNaNWithPayload = 0x7FC12345;
    const uint32_t signallingNaN = 0xFF800001;
    const uint32_t floats[] = {Bits(1.0f), Bits(-0.0f), Bits(0.0f), quietNaNWithPayload,
                               signallingNaN, Bits(std::numeric_limits<float>::infinity()),
                               Bits(std::numeric_limits<float>::denorm_min()),
                               Bits(-123.456f)};
    EXPECT_EQ(ToInteger(Bits(-2.5f)), 0xC0200000u);
    for (uint32_t f : floats) {
        SCOPED_TRACE(f);
        const uint32_t x = ToInteger(f);
        EXPECT_EQ(x, f);
        const uint32_t y = 0x600DF00D;
        const uint32_t a = Encrypt("floats", x, y, 0);
        const uint32_t b = Encrypt("floats", x, y, 2);
        const uint32_t back = Decrypt("floats", a, b, 0);
        EXPECT_EQ(back, x);
        EXPECT_EQ(Decrypt("floats", a, b, 2), y);
        EXPECT_EQ(ToFloat(back), f);
    }
    EXPECT_EQ(ExpressionError(), 0);
}

}  // namespace
