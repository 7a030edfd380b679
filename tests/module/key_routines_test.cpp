// The key routines as a game uses them: adding, removing and testing keys, the errors
// they raise through "On Error", and random keys.
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

    std::string Add(const std::string& text) { return AddKey(o, text); }
    std::string Remove(const std::string& text) { return TextAction(o, Code::RemoveKey, {text}); }
    bool Exists(const std::string& text) { return HasKey(o, text); }
    int32_t ExpressionError() { return int32_t(host.Expression(o, Code::ExpressionErrorCode)); }
    // Encrypts one block under `key`: a way to tell whether the key is found.
    int32_t EncryptLeft(const std::string& key) {
        return int32_t(host.Expression(o, Code::EncryptInteger,
                                       {HostParam::Str(key), HostParam::Int(1),
                                        HostParam::Int(2), HostParam::Int(0)}));
    }

    RunData* o = nullptr;
};

TEST_F(KeyRoutines, AddFindRemoveIncludingTheEmptyText) {
    EXPECT_FALSE(Exists("hero"));
    EXPECT_FALSE(Exists(""));
    EXPECT_EQ(Add("hero"), "hero");
    EXPECT_EQ(Add("Hero"), "Hero");
    Add("");
    EXPECT_TRUE(Exists("hero"));
    EXPECT_TRUE(Exists("Hero"));
    EXPECT_TRUE(Exists(""));
    EXPECT_FALSE(Exists("HERO"));
    EXPECT_NE(EncryptLeft("hero"), EncryptLeft("Hero"));
    EXPECT_NE(EncryptLeft(""), 1);

    Remove("hero");
    Remove("");
    EXPECT_FALSE(Exists("hero"));
    EXPECT_FALSE(Exists(""));
    EXPECT_TRUE(Exists("Hero"));
    EXPECT_EQ(ExpressionError(), 0);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(KeyRoutines, ErrorsRaiseOnErrorWithTheirCode) {
    Add("alpha");
    Add("alpha");
    Remove("beta");
    Remove("alpha");
    Remove("alpha");
    EXPECT_EQ(seen, (Codes{3, 2, 2}));
    ASSERT_EQ(host.events.size(), 3u);
    for (const HostEvent& e : host.events) {
        EXPECT_EQ(e.object, o);
        EXPECT_EQ(e.condition, 0);
    }
    // Outside the events the code is 0 again, and no expression error was left behind.
    EXPECT_EQ(host.Expression(o, Code::ErrorCode), 0);
    EXPECT_EQ(ExpressionError(), 0);
}

TEST_F(KeyRoutines, TextsAreCutInTheHostsStringToTheirFirst56Bytes) {
    std::string text60;
    for (int i = 0; i < 60; ++i) text60 += char('A' + i % 26);
    struct Case { std::string text; Codes first; };
    const Case cases[] = {{std::string(56, 'k'), {}},
                          {std::string(56, 'm') + "!", {1}},
                          {text60, {1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.size());
        const std::string cut = c.text.substr(0, 56);
        const bool isCut = c.text.size() > 56;
        Codes again = c.first, missing = c.first;
        again.push_back(3);
        missing.push_back(2);

        seen.clear();
        EXPECT_EQ(Add(c.text), cut);
        EXPECT_EQ(seen, c.first);
        EXPECT_TRUE(Exists(cut));
        EXPECT_EQ(Exists(c.text), !isCut);
        EXPECT_NE(EncryptLeft(cut), 1);
        host.Action(o, Code::ClearExpressionError);
        EXPECT_EQ(EncryptLeft(c.text) == 1, isCut);
        EXPECT_EQ(ExpressionError(), isCut ? 2 : 0);

        seen.clear();
        EXPECT_EQ(Add(c.text), cut);
        EXPECT_EQ(seen, again) << "already stored under its first 56 bytes";
        seen.clear();
        EXPECT_EQ(Remove(c.text), cut);
        EXPECT_EQ(seen, c.first);
        EXPECT_FALSE(Exists(cut));
        seen.clear();
        Remove(c.text);
        EXPECT_EQ(seen, missing);
    }
}

TEST_F(KeyRoutines, EventsSeeTheCutKeyBeforeItIsLookedUp) {
    // The "On Error" of the over-long text adds the cut key itself, so the action, which
    // looks up only after reporting, then finds it there already.
    const std::string text = std::string(56, 'n') + "xyz";
    host.onEvent = [&](const HostEvent& e) {
        const int32_t code = int32_t(host.Expression(e.object, Code::ErrorCode));
        seen.push_back(code);
        if (code == 1) Add(std::string(56, 'n'));
    };
    Add(text);
    EXPECT_EQ(seen, (Codes{1, 3}));
    EXPECT_TRUE(Exists(std::string(56, 'n')));
    EXPECT_EQ(host.Expression(o, Code::ErrorCode), 0);
}

TEST_F(KeyRoutines, KeysAreSharedByAllObjectsAndOutliveThem) {
    RunData* other = host.Create(TestHost::NewEditData(0, "ab"));
    Add("shared");
    EXPECT_TRUE(HasKey(other, "shared"));
    host.Destroy(other);
    EXPECT_TRUE(Exists("shared"));
}

TEST_F(KeyRoutines, RandomKeyLengths) {
    struct Case { int32_t asked; size_t length; int32_t error; };
    const Case cases[] = {{0, 0, 0}, {-1, 0, 0}, {-100, 0, 0}, {1, 1, 0}, {20, 20, 0},
                          {56, 56, 0}, {57, 56, 1}, {1000, 56, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        host.Action(o, Code::ClearExpressionError);
        const HostValue result = host.Expression(o, Code::RandomKey, {HostParam::Int(c.asked)});
        ASSERT_NE(host.LastHostFlags(o) & ResultIsString, 0);
        const char* key = reinterpret_cast<const char*>(result);
        // strlen stops at the first zero byte: none may come before the end.
        EXPECT_EQ(std::strlen(key), c.length);
        EXPECT_EQ(ExpressionError(), c.error);
    }
}

TEST_F(KeyRoutines, RandomKeysAreUsableKeys) {
    std::vector<std::string> keys;
    std::vector<bool> byteSeen(256, false);
    for (int i = 0; i < 40; ++i) {
        keys.push_back(host.ExpressionText(o, Code::RandomKey, {HostParam::Int(56)}));
        for (unsigned char c : keys.back()) byteSeen[c] = true;
    }
    // 2240 bytes drawn from 255 values: far more than half of them appear.
    int distinct = 0;
    for (bool b : byteSeen) distinct += b ? 1 : 0;
    EXPECT_GT(distinct, 200);
    EXPECT_NE(keys[0], keys[1]);

    Add(keys[0]);
    EXPECT_TRUE(Exists(keys[0]));
    EXPECT_FALSE(Exists(keys[1]));
    EXPECT_TRUE(seen.empty());
}

TEST_F(KeyRoutines, RemoveWhileAFileJobRunsReportsNineAlone) {
    const std::string path = testing::TempDir() + "key_routines_job.bin";
    WriteBytes(path, Bytes(1 << 16, 0x42));
    Add("busy");
    host.Action(o, Code::SetPercentInterval, 10);
    TextAction(o, Code::EncryptFile, {"busy", path});
    ASSERT_EQ(host.Condition(o, Code::FileBusy), 1);

    Remove("busy");
    const std::string text60(60, 'q');
    EXPECT_EQ(Remove(text60), text60);  // not even measured: 9 alone, no 1, no cut
    EXPECT_EQ(seen, (Codes{9, 9}));
    EXPECT_TRUE(Exists("busy"));

    // Other key operations go on meanwhile.
    Add("another");
    EXPECT_TRUE(Exists("another"));
    EXPECT_EQ(seen, (Codes{9, 9}));

    host.Action(o, Code::SetPercentInterval, 0);
    host.Free();                        // abandons the job; the file keeps its content
    host.Initialize();
    std::remove(path.c_str());
}

}  // namespace
