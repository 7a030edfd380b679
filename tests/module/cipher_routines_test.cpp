// The string and integer expressions as a game calls them: the known answers, nesting one
// call in another, the filter at encryption only, floats as bit patterns, missing keys.
#include <cstring>
#include <string>
#include <vector>

#include "tests/module/module_fixture.h"

namespace {

class CipherRoutines : public ModuleTest {
protected:
    // The second string is the caller's, since a missing key hands it back as the result.
    std::string Crypt(int code, const std::string& key, const std::string& text) {
        return host.ExpressionText(o, code, {HostParam::Str(key), HostParam::Ptr(text.c_str())});
    }
    uint32_t Integers(int code, const std::string& key, uint32_t l, uint32_t r, int32_t selector) {
        const HostValue result = host.Expression(o, code, {HostParam::Str(key), HostParam::Int(int32_t(l)),
                                                           HostParam::Int(int32_t(r)), HostParam::Int(selector)});
        EXPECT_EQ(host.LastHostFlags(o) & (ResultIsString | ResultIsFloat), 0);
        return uint32_t(result);
    }
    int32_t ExpressionError() { return int32_t(host.Expression(o, Code::ExpressionErrorCode)); }

    RunData* o = nullptr;
};

uint32_t Word(const std::string& bytes, size_t at) {
    uint32_t word;
    std::memcpy(&word, bytes.data() + at, 4);
    return word;
}

TEST_F(CipherRoutines, StringsGiveTheKnownAnswersAndDecryptBack) {
    for (const auto& row : KnownAnswers("string")) {
        SCOPED_TRACE(row[0]);
        // Each answer was made by a new object on a fresh filter set with these settings.
        EmptyFilter();
        std::string characters, codes = row[2].substr(row[2].find("codes=") + 6) + ",";
        characters = row[2].substr(row[2].find("chars=") + 6);
        characters = characters.substr(0, characters.find(';'));
        std::string chars;
        for (size_t i = 0; i + 1 < characters.size(); i += 2)
            chars.push_back(char(std::stoi(characters.substr(i, 2), nullptr, 16)));
        std::vector<uint16_t> list;
        for (size_t at = 0, next; (next = codes.find(',', at)) != std::string::npos; at = next + 1)
            list.push_back(uint16_t(std::stoi(codes.substr(at, next - at))));
        o = host.Create(TestHost::NewEditData(row[2].rfind("control=1", 0) == 0 ? 1 : 0, chars.c_str(), list));
        AddKey(o, row[1]);
        EXPECT_EQ(Crypt(Code::EncryptString, row[1], row[3]), row[5]);
        EXPECT_EQ(Crypt(Code::DecryptString, row[1], row[5]), row[3]);
    }
    EXPECT_EQ(ExpressionError(), 0);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(CipherRoutines, StringsNestAndDecryptUnderAnyLaterFilter) {
    o = host.Create(TestHost::NewEditData(0, "", {}));
    AddKey(o, "key");
    const char* text = "nested in one expression";
    const char* previous = reinterpret_cast<const char*>(
        host.Expression(o, Code::EncryptString, {HostParam::Str("key"), HostParam::Str(text)}));
    const std::string cipher = previous;
    for (int round = 0; round < 5; ++round)     // each call reads the result of the one before
        previous = reinterpret_cast<const char*>(host.Expression(
            o, round % 2 ? Code::EncryptString : Code::DecryptString,
            {HostParam::Str("key"), HostParam::Ptr(previous)}));
    EXPECT_STREQ(previous, text);
    for (int32_t c = 0; c < 256; ++c) host.Action(o, Code::AddCode, c);
    host.Action(o, Code::EnableControlCodes);
    const std::string escaped = Crypt(Code::EncryptString, "key", text);
    ASSERT_EQ(escaped.size(), 3 * 24u);
    host.Action(o, Code::DisableControlCodes);
    for (int32_t c = 1; c < 256; ++c) host.Action(o, Code::RemoveCode, c);
    EXPECT_EQ(Crypt(Code::DecryptString, "key", escaped), text);
    EXPECT_EQ(Crypt(Code::DecryptString, "key", cipher), text);
    // A missing key hands the text back and sets expression error 2, without an event.
    EXPECT_EQ(Crypt(Code::EncryptString, "Key", "secret"), "secret");
    EXPECT_EQ(ExpressionError(), 2);
    host.Action(o, Code::ClearExpressionError);
    EXPECT_EQ(Crypt(Code::DecryptString, "nokey", cipher), cipher);
    EXPECT_EQ(ExpressionError(), 2);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(CipherRoutines, IntegersAreOneBlockAndOnlySelectorTwoGivesTheRightHalf) {
    o = host.Create(TestHost::NewEditData());
    for (const auto& row : KnownAnswers("block")) {
        SCOPED_TRACE(row[0]);
        if (!HasKey(o, row[1])) AddKey(o, row[1]);
        const uint32_t l = Word(row[3], 0), r = Word(row[3], 4);
        const uint32_t cl = Word(row[4], 0), cr = Word(row[4], 4);
        for (int32_t selector : {0, 1, 3, -1}) {
            EXPECT_EQ(Integers(Code::EncryptInteger, row[1], l, r, selector), cl);
            EXPECT_EQ(Integers(Code::DecryptInteger, row[1], cl, cr, selector), l);
        }
        EXPECT_EQ(Integers(Code::EncryptInteger, row[1], l, r, 2), cr);
        EXPECT_EQ(Integers(Code::DecryptInteger, row[1], cl, cr, 2), r);
    }
    EXPECT_EQ(ExpressionError(), 0);
    EXPECT_EQ(Integers(Code::EncryptInteger, "absent", 0xAAAA5555, 0x12345678, 0), 0xAAAA5555u);
    EXPECT_EQ(Integers(Code::DecryptInteger, "absent", 0xAAAA5555, 0x12345678, 2), 0x12345678u);
    EXPECT_EQ(ExpressionError(), 2);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(CipherRoutines, FloatsConvertBitForBit) {
    o = host.Create(TestHost::NewEditData());
    for (uint32_t bits : {0x3F800000u, 0x80000000u, 0x7FC12345u, 0xFF800001u, 0x00000001u}) {
        EXPECT_EQ(uint32_t(host.Expression(o, Code::ConvertToInteger,
                                           {HostParam{ParamFloat, int32_t(bits), {}}})), bits);
        EXPECT_EQ(host.LastHostFlags(o) & (ResultIsString | ResultIsFloat), 0);
        EXPECT_EQ(uint32_t(host.Expression(o, Code::ConvertToFloat, {HostParam::Int(int32_t(bits))})), bits);
        EXPECT_EQ(host.LastHostFlags(o) & (ResultIsString | ResultIsFloat), ResultIsFloat);
    }
}

}  // namespace
