// EncryptString$( and DecryptString$( as a game calls them: round trips, nesting one in
// the other, independence from the filter at decryption, and the missing-key error.
#include <string>
#include <vector>

#include "tests/module/module_fixture.h"

namespace {

class StringRoutines : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        // The filter outlives every run: bring it back to '%' and the zero byte.
        o = host.Create(TestHost::NewEditData(0, "", {}));
        host.Action(o, Code::DisableControlCodes);
        for (int32_t c = 0; c < 256; ++c) host.Action(o, Code::RemoveCode, c);
        host.Destroy(o);
        o = host.Create(TestHost::NewEditData(0, "", {}));
        AddKey("key");
        host.events.clear();
    }

    void AddKey(const std::string& key) {
        std::vector<std::string> texts{key};
        host.ActionText(o, Code::AddKey, texts);
    }
    // The second string is the caller's, since a missing key hands it back as the result.
    std::string Encrypt(const std::string& key, const std::string& text) {
        return host.ExpressionText(o, Code::EncryptString,
                                   {HostParam::Str(key), HostParam::Ptr(text.c_str())});
    }
    std::string Decrypt(const std::string& key, const std::string& cipher) {
        return host.ExpressionText(o, Code::DecryptString,
                                   {HostParam::Str(key), HostParam::Ptr(cipher.c_str())});
    }
    int32_t ExpressionError() { return int32_t(host.Expression(o, Code::ExpressionErrorCode)); }

    RunData* o = nullptr;
};

TEST_F(StringRoutines, RoundTripsTextsOfEveryBlockCount) {
    for (size_t length : {0, 1, 7, 8, 9, 17, 250}) {
        std::string text;
        for (size_t i = 0; i < length; ++i) text.push_back(char('!' + i % 90));
        std::string cipher = Encrypt("key", text);
        size_t padded = (length + 7) / 8 * 8;
        EXPECT_GE(cipher.size(), padded) << length;
        EXPECT_LE(cipher.size(), 3 * padded) << length;
        EXPECT_EQ(Decrypt("key", cipher), text) << length;
    }
    EXPECT_EQ(Encrypt("key", ""), "");
    EXPECT_EQ(Decrypt("key", ""), "");
    EXPECT_EQ(ExpressionError(), 0);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(StringRoutines, DecryptTakesTheEncryptResultDirectly) {
    const char* text = "nested in one expression";
    const char* cipher = reinterpret_cast<const char*>(host.Expression(
        o, Code::EncryptString, {HostParam::Str("key"), HostParam::Str(text)}));
    EXPECT_EQ(host.ExpressionText(o, Code::DecryptString,
                                  {HostParam::Str("key"), HostParam::Ptr(cipher)}),
              text);
    // And again, each time through the result of the call before.
    const char* previous = reinterpret_cast<const char*>(host.Expression(
        o, Code::EncryptString, {HostParam::Str("key"), HostParam::Str(text)}));
    for (int round = 0; round < 5; ++round) {
        int code = round % 2 == 0 ? Code::DecryptString : Code::EncryptString;
        previous = reinterpret_cast<const char*>(host.Expression(
            o, code, {HostParam::Str("key"), HostParam::Ptr(previous)}));
    }
    EXPECT_STREQ(previous, text);
    EXPECT_EQ(ExpressionError(), 0);
}

TEST_F(StringRoutines, EscapingFollowsTheFilterAtEncryptionOnly) {
    const std::string text = "the same words under every filter";
    std::string plain = Encrypt("key", text);

    // Everything filtered: every cipher byte comes out as '%' and two digits.
    for (int32_t c = 0; c < 256; ++c) host.Action(o, Code::AddCode, c);
    host.Action(o, Code::EnableControlCodes);
    std::string full = Encrypt("key", text);
    ASSERT_EQ(full.size(), 3 * 40u);
    for (size_t i = 0; i < full.size(); i += 3) EXPECT_EQ(full[i], '%') << i;
    EXPECT_EQ(full.find_first_of("abcdef"), std::string::npos);

    for (bool everything : {true, false}) {
        if (!everything) {
            host.Action(o, Code::DisableControlCodes);
            for (int32_t c = 1; c < 256; ++c) host.Action(o, Code::RemoveCode, c);
        }
        EXPECT_EQ(Decrypt("key", plain), text);
        EXPECT_EQ(Decrypt("key", full), text);
    }
    EXPECT_NE(plain, full);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(StringRoutines, MissingKeyReturnsTheTextWithExpressionError2) {
    std::string cipher = Encrypt("key", "secret");
    EXPECT_EQ(Encrypt("Key", "secret"), "secret");
    EXPECT_EQ(ExpressionError(), 2);
    host.Action(o, Code::ClearExpressionError);
    EXPECT_EQ(Decrypt("nokey", cipher), cipher);
    EXPECT_EQ(ExpressionError(), 2);
    // The error stays through later successes.
    EXPECT_EQ(Decrypt("key", cipher), "secret");
    EXPECT_EQ(ExpressionError(), 2);
    EXPECT_TRUE(host.events.empty());
}

}  // namespace
