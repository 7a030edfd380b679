// The conditions, actions and expressions as a game calls them through the host: known
// answers, nesting, the filter's seeding and errors, random keys, file jobs and their
// events. The soak covers their mixtures and the keys.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#undef EncryptFile          // the routines' codes, not the Windows functions
#undef DecryptFile
#endif

#include "tests/module/module_fixture.h"

namespace {

class Routines : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        EmptyFilter();
        o = host.Create(TestHost::NewEditData(0, "", {}));
        for (int code : {Code::Padding, Code::SetTimeInterval, Code::SetPercentInterval})
            host.Action(o, code, 0);    // settings outlive a run
        AddKey(o, "key");
        RecordErrorCodes();
    }
    std::string Expr(int code, const std::string& text) {
        return host.ExpressionText(o, code, {HostParam::Str(text)});
    }
    // The text is the caller's, since a missing key hands it back as the result.
    std::string Crypt(int code, const std::string& key, const std::string& text) {
        return host.ExpressionText(o, code, {HostParam::Str(key), HostParam::Ptr(text.c_str())});
    }
    uint32_t Integers(int code, const std::string& key, uint32_t l, uint32_t r, int32_t half) {
        const HostValue result = host.Expression(o, code, {HostParam::Str(key),
            HostParam::Int(int32_t(l)), HostParam::Int(int32_t(r)), HostParam::Int(half)});
        EXPECT_EQ(host.LastHostFlags(o) & (ResultIsString | ResultIsFloat), 0);
        return uint32_t(result);
    }
    int32_t Read(int code) { return int32_t(host.Expression(o, code)); }
    Codes Filtered() {
        Codes codes;
        for (int32_t c = 0; c < 256; ++c)
            if (host.Condition(o, Code::CodeFiltered, c) == 1) codes.push_back(c);
        return codes;
    }
    Codes Conditions() {
        Codes conditions;
        for (const HostEvent& e : host.events) conditions.push_back(e.condition);
        return conditions;
    }
    std::string File(const Bytes& content, const char* name = "work.bin") {
        // One file per test: CTest runs the tests side by side in one temporary folder.
        const std::string path = testing::TempDir() + "routines_" +
                                 testing::UnitTest::GetInstance()->current_test_info()->name() +
                                 "_" + name;
        WriteBytes(path, content);
        return path;
    }

    RunData* o = nullptr;
};

std::string Hex(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; text != "-" && i + 1 < text.size(); i += 2)
        bytes.push_back(char(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

uint32_t Word(const std::string& bytes, size_t at) {
    uint32_t word = 0;
    for (size_t i = 4; i-- > 0;) word = word << 8 | uint8_t(bytes[at + i]);
    return word;
}

// Each answer was made by a new object with its settings on a fresh filter set.
TEST_F(Routines, StringsAndIntegersGiveTheKnownAnswers) {
    int checked = 0;
    for (auto row : testfiles::DataRows("known_answers.tsv")) {
        row.resize(7);                      // an empty last field ends the line early
        SCOPED_TRACE(row[1]);
        const std::string key = Hex(row[2]), s = row[3], plain = Hex(row[4]), cipher = Hex(row[5]);
        if (row[0] == "string") {           // settings: control=1;chars=<hex>;codes=9,10
            EmptyFilter();
            std::vector<uint16_t> codes;
            for (size_t i = s.find("codes=") + 5; i < s.size(); i = s.find(',', i + 1))
                codes.push_back(uint16_t(std::stoi(s.substr(i + 1))));
            const std::string characters = Hex(s.substr(s.find("chars=") + 6,
                                                         s.find(";codes") - s.find("chars=") - 6));
            o = host.Create(TestHost::NewEditData(s[8] == '1', characters.c_str(), codes));
            if (!HasKey(o, key)) AddKey(o, key);
            EXPECT_EQ(Crypt(Code::EncryptString, key, plain), Hex(row[6]));
            EXPECT_EQ(Crypt(Code::DecryptString, key, Hex(row[6])), plain);
        } else if (row[0] == "block") {
            if (!HasKey(o, key)) AddKey(o, key);
            const uint32_t l = Word(plain, 0), r = Word(plain, 4);
            EXPECT_EQ(Integers(Code::EncryptInteger, key, l, r, 0), Word(cipher, 0));
            EXPECT_EQ(Integers(Code::EncryptInteger, key, l, r, 2), Word(cipher, 4));
            EXPECT_EQ(Integers(Code::DecryptInteger, key, Word(cipher, 0), Word(cipher, 4), 1), l);
            EXPECT_EQ(Integers(Code::DecryptInteger, key, Word(cipher, 0), Word(cipher, 4), 2), r);
        }
        checked += row[0] == "string" || row[0] == "block";
    }
    EXPECT_GT(checked, 10);
    EXPECT_EQ(Read(Code::ExpressionErrorCode), 0);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(Routines, StringsNestDecryptUnderAnyFilterAndMissingKeysHandTheTextBack) {
    const char* text = "nested in one expression";
    auto previous = reinterpret_cast<const char*>(host.Expression(
        o, Code::EncryptString, {HostParam::Str("key"), HostParam::Str(text)}));
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
    EXPECT_EQ(Crypt(Code::EncryptString, "Key", "secret"), "secret");
    EXPECT_EQ(Integers(Code::DecryptInteger, "absent", 5, 6, 2), 6u);
    EXPECT_EQ(Integers(Code::EncryptInteger, "absent", 5, 6, -1), 5u) << "only 2 is the right half";
    EXPECT_EQ(Read(Code::ExpressionErrorCode), 2);
    host.Action(o, Code::ClearExpressionError);
    EXPECT_EQ(Crypt(Code::DecryptString, "nokey", cipher), cipher);
    EXPECT_EQ(Read(Code::ExpressionErrorCode), 2);
    EXPECT_TRUE(host.events.empty()) << "expression errors raise no event";
    for (uint32_t bits : {0x80000000u, 0x7FC12345u}) {     // bit for bit, a NaN's payload too
        EXPECT_EQ(uint32_t(host.Expression(o, Code::ConvertToInteger,
                                           {HostParam{ParamFloat, int32_t(bits), {}}})), bits);
        EXPECT_EQ(host.LastHostFlags(o) & (ResultIsString | ResultIsFloat), 0);
        EXPECT_EQ(uint32_t(host.Expression(o, Code::ConvertToFloat,
                                           {HostParam::Int(int32_t(bits))})),
                  bits);
        EXPECT_EQ(host.LastHostFlags(o) & (ResultIsString | ResultIsFloat), ResultIsFloat);
    }
}

// The object created last decides both flags; each adds its settings and removes nothing.
TEST_F(Routines, EachObjectSetsTheFlagsAndAddsItsFilterSettings) {
    EmptyFilter();
    o = host.Create(TestHost::NewEditData(1, "ab", {200, 10}));
    EXPECT_EQ(host.Condition(o, Code::ControlCodesFiltered), 1);
    EXPECT_EQ(host.Condition(o, Code::IsPadding), 1);
    Codes expected(32);
    for (int32_t c = 0; c < 32; ++c) expected[size_t(c)] = c;
    expected.insert(expected.end(), {'%', 'a', 'b', 200});
    EXPECT_EQ(Filtered(), expected);
    host.Create(TestHost::NewEditData(2, "c\t", {12, 'b'}));
    EXPECT_EQ(host.Condition(o, Code::ControlCodesFiltered), 0);
    EXPECT_EQ(host.Condition(o, Code::IsPadding), 0);
    EXPECT_EQ(Filtered(), (Codes{0, 9, 12, '%', 'a', 'b', 'c', 200}));    // 10 never was
    EXPECT_EQ(Expr(Code::FilterString, "\n\x0C\x01%"), "\n%0C\x01%25");
    EXPECT_EQ(Expr(Code::DefilterString, "A%00B"), "A");    // a zero byte ends the text
    EXPECT_TRUE(host.events.empty());
}

TEST_F(Routines, FilterActionsReportEachFailureAsItHappens) {
    TextAction(o, Code::AddCharacters, {"bc\t"});
    Codes during;       // inside the event for 'a', 'b' is gone already and 'c' still there
    host.onEvent = [&](const HostEvent& e) {
        seen.push_back(int32_t(host.Expression(e.object, Code::ErrorCode)));
        during.insert(during.end(), {host.Condition(o, Code::CodeFiltered, 'b'),
                                     host.Condition(o, Code::CodeFiltered, 'c')});
    };
    TextAction(o, Code::RemoveCharacters, {"bacx"});
    EXPECT_EQ(during, (Codes{0, 1, 0, 0}));
    for (int32_t code : {256, -1, -219}) {
        host.Action(o, Code::AddCode, code);
        host.Action(o, Code::RemoveCode, code);
    }
    host.Action(o, Code::AddCode, 233);
    host.Action(o, Code::AddCode, 233);         // already there: silent
    host.Action(o, Code::RemoveCode, 0);
    host.Action(o, Code::EnableControlCodes);   // 0 to 31 are filtered and untouchable now
    EXPECT_EQ(host.Condition(o, Code::CharacterFiltered, Text(std::string().data())), 1);
    host.Action(o, Code::RemoveCode, 9);
    host.Action(o, Code::AddCode, 5);           // refused silently
    host.Action(o, Code::DisableControlCodes);  // and the zero byte comes back
    EXPECT_EQ(seen, (Codes{4, 4, 5, 5, 5, 5, 5, 5, 4}));
    EXPECT_EQ(Filtered(), (Codes{0, 9, '%', 233}));
    EXPECT_EQ(host.Condition(o, Code::CodeFiltered, 293), 1);     // its low 8 bits: '%'
    EXPECT_EQ(host.Condition(o, Code::CharacterFiltered, Text(std::string("%a").data())), 1);
    EXPECT_EQ(Read(Code::ErrorCode), 0);
}

TEST_F(Routines, RandomKeysHaveTheLengthAskedAndNoZeroByte) {
    for (int32_t asked : {0, -100, 20, 56, 57}) {
        host.Action(o, Code::ClearExpressionError);
        const std::string key = host.ExpressionText(o, Code::RandomKey, {HostParam::Int(asked)});
        EXPECT_EQ(key.size(), size_t(std::clamp(asked, 0, 56))) << asked;
        EXPECT_EQ(Read(Code::ExpressionErrorCode), asked > 56 ? 1 : 0) << asked;
    }
    std::string all;
    for (int i = 0; i < 40; ++i)
        all += host.ExpressionText(o, Code::RandomKey, {HostParam::Int(56)});
    EXPECT_EQ(all.size(), 40 * 56u) << "no zero byte may end a key early";
    std::sort(all.begin(), all.end());
    EXPECT_GT(std::unique(all.begin(), all.end()) - all.begin(), 200);
    EXPECT_TRUE(seen.empty());
}

TEST_F(Routines, FileJobWithoutBudgetEndsWithinTheAction) {
    struct Case { size_t length; bool noPadding; int32_t size; };
    for (Case c : {Case{13, false, 16}, Case{13, true, 13}, Case{5, true, 5}, Case{0, false, 0}}) {
        SCOPED_TRACE(c.length);
        host.Action(o, c.noPadding ? Code::NoPadding : Code::Padding);
        EXPECT_EQ(host.Condition(o, Code::IsPadding), c.noPadding ? 0 : 1);
        Bytes plain(c.length, 0x41);
        const std::string path = File(plain);
        host.events.clear();
        bool busyInEvent = true;
        host.onEvent = [&](const HostEvent&) { busyInEvent = host.Condition(o, Code::FileBusy); };
        TextAction(o, Code::EncryptFile, {"key", path});
        EXPECT_EQ(Conditions(), Codes{Code::FileDone});
        EXPECT_FALSE(busyInEvent);
        EXPECT_TRUE(host.rehandles.empty());
        EXPECT_EQ(Read(Code::FileSize), c.size);
        EXPECT_EQ(Read(Code::FileProgress), c.size >= 8 ? 100 : 0);
        EXPECT_EQ(ReadBytes(path).size() >= 8, ReadBytes(path) != plain);
        TextAction(o, Code::DecryptFile, {"key", path});
        plain.resize(size_t(c.size), 0);
        EXPECT_EQ(ReadBytes(path), plain);
    }
}

// The done event's handler may start the next job: the first has ended by then. While a
// job is pending its key stays and no second job starts; the last Free abandons it.
TEST_F(Routines, FileJobOverFramesEndsWithTheDoneEvent) {
    const Bytes plain(64, 0x5A);
    const std::string path = File(plain);
    host.Action(o, Code::SetPercentInterval, 25);
    Codes atEvent;
    host.onEvent = [&](const HostEvent& e) {
        if (e.condition == Code::OnError)
            return seen.push_back(int32_t(host.Expression(o, Code::ErrorCode)));
        atEvent.insert(atEvent.end(),
                       {host.Condition(o, Code::FileBusy), Read(Code::FileProgress)});
        if (atEvent.size() == 2) TextAction(o, Code::DecryptFile, {"key", path});
    };
    RunData* starter = host.Create(TestHost::NewEditData(0, "", {}));
    TextAction(starter, Code::EncryptFile, {"key", path});
    EXPECT_EQ(host.rehandles, std::vector<RunData*>{starter});
    host.Destroy(starter);                      // the job outlives its object
    EXPECT_EQ(Read(Code::FileSize), 64);
    for (int32_t progress : {0, 25, 50, 75}) {
        EXPECT_EQ(Read(Code::FileProgress), progress);
        EXPECT_EQ(host.Condition(o, Code::FileBusy), 1);
        EXPECT_EQ(ReadBytes(path), plain);
        if (progress == 25) {
            TextAction(o, Code::RemoveKey, {"key"});
            TextAction(o, Code::EncryptFile, {"key", path});
        }
        ASSERT_EQ(host.Frame(o), progress == 75 ? 1 : 0);
    }
    EXPECT_EQ(seen, (Codes{9, 8}));
    EXPECT_EQ(atEvent, (Codes{0, 100}));
    EXPECT_EQ(host.rehandles.size(), 2u) << "the decryption started by the event waits";
    EXPECT_NE(ReadBytes(path), plain);
    int frames = 1;
    while (host.Frame(o) == 0) ++frames;
    EXPECT_EQ(frames, 4);
    EXPECT_EQ(Conditions(), (Codes{Code::OnError, Code::OnError, Code::FileDone, Code::FileDone}));
    EXPECT_EQ(ReadBytes(path), plain);
    TextAction(o, Code::EncryptFile, {"key", path});
    host.Free();
    host.Initialize();
    EXPECT_EQ(host.Frame(o), 1);
    EXPECT_EQ(ReadBytes(path), plain);
}

#ifdef _WIN32
// A file another program holds open without sharing writes cannot be worked on; as the
// owner of the file Wine ignores the read-only attribute, so this is the real lock.
TEST_F(Routines, FileLockedByAnotherHandleGivesSix) {
    const std::string path = File(Bytes(40, 0x5A));
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    TextAction(o, Code::EncryptFile, {"key", path});
    CloseHandle(lock);
    EXPECT_EQ(seen, Codes{6});
    EXPECT_EQ(ReadBytes(path), Bytes(40, 0x5A));
}
#endif

}  // namespace
