// The key routines as a game uses them: adding, removing and testing keys, the errors
// they raise through "On Error", texts cut to 56 bytes, and random keys.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/module/module_fixture.h"

namespace {

class KeyRoutines : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        o = host.Create(TestHost::NewEditData());
        RecordErrorCodes();
    }
    std::string Remove(const std::string& text) { return TextAction(o, Code::RemoveKey, {text}); }
    bool Exists(const std::string& text) { return HasKey(o, text); }
    int32_t ExpressionError() { return int32_t(host.Expression(o, Code::ExpressionErrorCode)); }

    RunData* o = nullptr;
};

TEST_F(KeyRoutines, KeysAreExactTextsAndErrorsRaiseOnError) {
    for (const char* key : {"hero", "Hero", ""}) EXPECT_EQ(AddKey(o, key), key);
    EXPECT_TRUE(Exists("hero") && Exists("Hero") && Exists(""));
    EXPECT_FALSE(Exists("HERO") || Exists("her"));
    AddKey(o, "hero");
    Remove("her");
    Remove("");
    Remove("");
    EXPECT_FALSE(Exists(""));
    EXPECT_TRUE(Exists("hero"));
    EXPECT_EQ(seen, (Codes{3, 2, 2}));
    for (const HostEvent& e : host.events) EXPECT_TRUE(e.object == o && e.condition == Code::OnError);
    EXPECT_EQ(host.Expression(o, Code::ErrorCode), 0);
}

TEST_F(KeyRoutines, TextsAreCutInTheHostsStringToTheirFirst56Bytes) {
    for (size_t length : {56u, 57u, 60u}) {
        SCOPED_TRACE(length);
        std::string text;
        for (size_t i = 0; i < length; ++i) text += char('A' + i % 26);
        const std::string cut = text.substr(0, 56);
        const Codes cutError = length > 56 ? Codes{1} : Codes{};
        seen.clear();
        EXPECT_EQ(AddKey(o, text), cut);
        EXPECT_EQ(seen, cutError);
        EXPECT_TRUE(Exists(cut));
        EXPECT_EQ(Exists(text), length == 56) << "lookups are not cut";
        seen.clear();
        EXPECT_EQ(Remove(text), cut);
        EXPECT_EQ(seen, cutError);
        EXPECT_FALSE(Exists(cut));
    }
    // The events of the cut run before the lookup: here they add the key themselves.
    host.onEvent = [&](const HostEvent& e) {
        seen.push_back(int32_t(host.Expression(e.object, Code::ErrorCode)));
        if (seen.back() == 1) AddKey(o, std::string(56, 'n'));
    };
    seen.clear();
    AddKey(o, std::string(56, 'n') + "xyz");
    EXPECT_EQ(seen, (Codes{1, 3}));
}

TEST_F(KeyRoutines, RandomKeysHaveTheLengthAskedAndNoZeroByte) {
    struct Case { int32_t asked; size_t length; int32_t error; };
    for (Case c : {Case{0, 0, 0}, Case{-100, 0, 0}, Case{20, 20, 0}, Case{56, 56, 0}, Case{57, 56, 1}}) {
        host.Action(o, Code::ClearExpressionError);
        const HostValue result = host.Expression(o, Code::RandomKey, {HostParam::Int(c.asked)});
        ASSERT_NE(host.LastHostFlags(o) & ResultIsString, 0);
        EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(result)), c.length) << c.asked;
        EXPECT_EQ(ExpressionError(), c.error) << c.asked;
    }
    std::vector<bool> byteSeen(256, false);
    std::string first, last;
    for (int i = 0; i < 40; ++i) {
        last = host.ExpressionText(o, Code::RandomKey, {HostParam::Int(56)});
        EXPECT_EQ(last.size(), 56u) << "no zero byte may end a key early";
        if (i == 0) first = last;
        for (unsigned char c : last) byteSeen[c] = true;
    }
    EXPECT_GT(std::count(byteSeen.begin(), byteSeen.end(), true), 200);
    EXPECT_NE(first, last);
    AddKey(o, first);
    EXPECT_TRUE(Exists(first));
    EXPECT_TRUE(seen.empty());
}

TEST_F(KeyRoutines, NoKeyGoesWhileAFileJobRuns) {
    const std::string path = testing::TempDir() + "key_routines_job.bin";
    WriteBytes(path, Bytes(1 << 16, 0x42));
    AddKey(o, "busy");
    host.Action(o, Code::SetPercentInterval, 10);
    TextAction(o, Code::EncryptFile, {"busy", path});
    ASSERT_EQ(host.Condition(o, Code::FileBusy), 1);
    Remove("busy");
    const std::string text60(60, 'q');
    EXPECT_EQ(Remove(text60), text60);  // not even measured: 9 alone, no 1, no cut
    EXPECT_EQ(seen, (Codes{9, 9}));
    EXPECT_TRUE(Exists("busy"));
    AddKey(o, "another");
    EXPECT_TRUE(Exists("another"));
    host.Action(o, Code::SetPercentInterval, 0);
    host.Free();                        // abandons the job
    host.Initialize();
    std::remove(path.c_str());
}

}  // namespace
