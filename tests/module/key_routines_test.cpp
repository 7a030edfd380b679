// The key routines as a game uses them: adding, removing and testing keys, the errors
// they raise through "On Error", and random keys.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/module/module_fixture.h"

namespace {

class KeyRoutines : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        o = host.Create(TestHost::NewEditData());
        // What ErrorCode( says inside each "On Error" event, in order.
        host.onEvent = [this](const HostEvent& e) {
            if (e.condition == Code::OnError)
                seen.push_back(int32_t(host.Expression(e.object, Code::ErrorCode)));
        };
    }

    // Returns the text as the host's string holds it after the action.
    std::string Add(const std::string& text) {
        std::vector<std::string> texts{text};
        host.ActionText(o, Code::AddKey, texts);
        return texts[0];
    }
    std::string Remove(const std::string& text) {
        std::vector<std::string> texts{text};
        host.ActionText(o, Code::RemoveKey, texts);
        return texts[0];
    }
    bool Exists(std::string text) {
        return host.Condition(o, Code::KeyExists, Text(text.data())) == 1;
    }
    int32_t ExpressionError() { return int32_t(host.Expression(o, Code::ExpressionErrorCode)); }
    // Encrypts one block under `key`: a way to tell whether the key is found.
    int32_t EncryptLeft(const std::string& key) {
        return int32_t(host.Expression(o, Code::EncryptInteger,
                                       {HostParam::Str(key), HostParam::Int(1),
                                        HostParam::Int(2), HostParam::Int(0)}));
    }
    std::string RandomKey(int32_t length) {
        return host.ExpressionText(o, Code::RandomKey, {HostParam::Int(length)});
    }

    RunData* o = nullptr;
    std::vector<int32_t> seen;
};

using Codes = std::vector<int32_t>;

TEST_F(KeyRoutines, AddFindRemove) {
    EXPECT_FALSE(Exists("hero"));
    EXPECT_EQ(Add("hero"), "hero");
    EXPECT_EQ(Add("Hero"), "Hero");
    EXPECT_TRUE(Exists("hero"));
    EXPECT_TRUE(Exists("Hero"));
    EXPECT_FALSE(Exists("HERO"));
    EXPECT_FALSE(Exists("her"));
    EXPECT_NE(EncryptLeft("hero"), EncryptLeft("Hero"));

    Remove("hero");
    EXPECT_FALSE(Exists("hero"));
    EXPECT_TRUE(Exists("Hero"));
    EXPECT_TRUE(seen.empty());
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

TEST_F(KeyRoutines, LongTextIsCutInTheHostsStringAndStoredUnderItsFirst56Bytes) {
    std::string text60;
    for (int i = 0; i < 60; ++i) text60 += char('A' + i % 26);
    const std::string text56 = text60.substr(0, 56);

    EXPECT_EQ(Add(text60), text56);
    EXPECT_EQ(seen, Codes{1});
    EXPECT_FALSE(Exists(text60));
    EXPECT_TRUE(Exists(text56));
    EXPECT_EQ(EncryptLeft(text60), 1);
    EXPECT_EQ(ExpressionError(), 2);
    EXPECT_NE(EncryptLeft(text56), 1);

    // Already stored under its first 56 bytes: first 1, then 3.
    seen.clear();
    EXPECT_EQ(Add(text60), text56);
    EXPECT_EQ(seen, (Codes{1, 3}));

    seen.clear();
    EXPECT_EQ(Remove(text60), text56);
    EXPECT_EQ(seen, Codes{1});
    EXPECT_FALSE(Exists(text56));
    seen.clear();
    Remove(text60);
    EXPECT_EQ(seen, (Codes{1, 2}));
}

TEST_F(KeyRoutines, FiftySixBytesFitAndFiftySevenDoNot) {
    const std::string text56(56, 'k');
    EXPECT_EQ(Add(text56), text56);
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(Exists(text56));

    const std::string text57 = std::string(56, 'm') + "!";
    EXPECT_EQ(Add(text57), text57.substr(0, 56));
    EXPECT_EQ(seen, Codes{1});
    EXPECT_TRUE(Exists(text57.substr(0, 56)));
    EXPECT_FALSE(Exists(text57));
}

TEST_F(KeyRoutines, EmptyTextIsAKey) {
    EXPECT_FALSE(Exists(""));
    Add("");
    EXPECT_TRUE(Exists(""));
    EXPECT_NE(EncryptLeft(""), 1);
    EXPECT_EQ(ExpressionError(), 0);
    Add("");
    Remove("");
    EXPECT_FALSE(Exists(""));
    EXPECT_EQ(seen, Codes{3});
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
    std::string text = "shared";
    EXPECT_EQ(host.Condition(other, Code::KeyExists, Text(text.data())), 1);
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
        keys.push_back(RandomKey(56));
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
    {
        std::vector<uint8_t> content(1 << 16, 0x42);
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
    Add("busy");
    host.Action(o, Code::SetPercentInterval, 10);
    std::vector<std::string> texts{"busy", path};
    host.ActionText(o, Code::EncryptFile, texts);
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
