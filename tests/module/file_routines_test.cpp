// The file routines as a game uses them: jobs at once and over frames, their events and
// errors, the settings and what the expressions show.
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

namespace fs = std::filesystem;

const char* const FileKey = "file key";

class FileRoutines : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        dir = fs::path(testing::TempDir()) /
              (std::string("file_routines_") +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        o = host.Create(TestHost::NewEditData());
        // Settings outlive a run, so every test starts from its own.
        host.Action(o, Code::Padding);
        host.Action(o, Code::SetTimeInterval, 0);
        host.Action(o, Code::SetPercentInterval, 0);
        AddKey(o, FileKey);
        RecordErrorCodes();
    }
    void TearDown() override {
        ModuleTest::TearDown();
        fs::remove_all(dir);
    }

    std::string MakeFile(const Bytes& content, const char* name = "work.bin") {
        std::string path = (dir / name).string();
        WriteBytes(path, content);
        return path;
    }
    // Runs "Encrypt a File" or "Decrypt a File"; returns the key text as the action left it.
    std::string Work(RunData* object, int code, const std::string& key, const std::string& path) {
        return TextAction(object, code, {key, path});
    }
    int32_t Read(int code) { return int32_t(host.Expression(o, code)); }
    bool Busy() { return host.Condition(o, Code::FileBusy) == 1; }
    size_t DoneEvents() {
        size_t n = 0;
        for (const HostEvent& e : host.events) n += e.condition == Code::FileDone ? 1 : 0;
        return n;
    }

    fs::path dir;
    RunData* o = nullptr;
};

TEST_F(FileRoutines, WithoutBudgetTheJobEndsWithinTheAction) {
    struct Case { size_t length; bool noPadding; int32_t fileSize; };
    const Case cases[] = {{13, false, 16}, {13, true, 13}, {5, true, 5}, {0, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + (c.noPadding ? " unpadded" : " padded"));
        host.Action(o, c.noPadding ? Code::NoPadding : Code::Padding);
        EXPECT_EQ(host.Condition(o, Code::IsPadding), c.noPadding ? 0 : 1);
        Bytes plain(c.length);
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 37 + 1);
        std::string path = MakeFile(plain);
        host.events.clear();
        bool busyInEvent = true;
        host.onEvent = [&](const HostEvent&) { busyInEvent = Busy(); };

        Work(o, Code::EncryptFile, FileKey, path);
        ASSERT_EQ(host.events.size(), 1u);
        EXPECT_EQ(host.events[0].object, o);
        EXPECT_EQ(host.events[0].condition, 6);
        EXPECT_FALSE(busyInEvent);
        EXPECT_TRUE(host.rehandles.empty());
        EXPECT_EQ(Read(Code::FileSize), c.fileSize);
        EXPECT_EQ(ReadBytes(path).size(), size_t(c.fileSize));
        EXPECT_EQ(Read(Code::FileProgress), c.fileSize >= 8 ? 100 : 0);
        if (c.fileSize >= 8) {
            EXPECT_NE(ReadBytes(path), plain);
        }

        Work(o, Code::DecryptFile, FileKey, path);
        EXPECT_EQ(host.events.size(), 2u);
        Bytes expected = plain;
        expected.resize(size_t(c.fileSize), 0);
        EXPECT_EQ(ReadBytes(path), expected);
    }
}

// The done event's handler may start the next job: the first has ended by then.
TEST_F(FileRoutines, JobSpreadOverFramesEndsWithTheDoneEvent) {
    Bytes plain(64);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(255 - i);
    std::string path = MakeFile(plain);
    host.Action(o, Code::SetPercentInterval, 25);
    Codes progress, busyAtEvent;
    host.onEvent = [&](const HostEvent& e) {
        busyAtEvent.push_back(Busy());
        progress.push_back(Read(Code::FileProgress));
        if (e.condition == Code::FileDone && DoneEvents() == 0) {
            Work(o, Code::DecryptFile, FileKey, path);
        }
    };

    Work(o, Code::EncryptFile, FileKey, path);
    EXPECT_EQ(host.rehandles, std::vector<RunData*>{o});
    EXPECT_TRUE(Busy());
    EXPECT_EQ(Read(Code::FileSize), 64);
    for (int32_t expected : {0, 25, 50, 75}) {
        EXPECT_EQ(Read(Code::FileProgress), expected);
        EXPECT_TRUE(Busy());
        EXPECT_EQ(ReadBytes(path), plain);
        ASSERT_EQ(host.Frame(o), expected == 75 ? 1 : 0);
    }
    EXPECT_EQ(busyAtEvent, (Codes{0}));
    EXPECT_EQ(progress, (Codes{100}));
    EXPECT_EQ(host.rehandles.size(), 2u) << "the decryption started by the event waits";
    EXPECT_TRUE(Busy());
    EXPECT_NE(ReadBytes(path), plain);

    int frames = 1;
    while (host.Frame(o) == 0) ++frames;
    EXPECT_EQ(frames, 4);
    EXPECT_EQ(DoneEvents(), 2u);
    EXPECT_FALSE(Busy());
    EXPECT_EQ(ReadBytes(path), plain);
    EXPECT_EQ(host.Frame(o), 1) << "no job, nothing more";
    EXPECT_EQ(host.events.size(), 2u);
    EXPECT_TRUE(seen.empty());
}

TEST_F(FileRoutines, SecondJobWhilePendingReportsEight) {
    host.Action(o, Code::SetPercentInterval, 50);
    Bytes plain(32, 1), other(16, 2);
    std::string path = MakeFile(plain), otherPath = MakeFile(other, "other.bin");
    Work(o, Code::EncryptFile, FileKey, path);
    Work(o, Code::DecryptFile, FileKey, otherPath);
    Work(o, Code::EncryptFile, FileKey, "");
    Work(o, Code::EncryptFile, "no such key", otherPath);
    EXPECT_EQ(seen, (Codes{8, 8, 2}));
    EXPECT_EQ(host.rehandles.size(), 1u);
    EXPECT_EQ(host.Frame(o), 0);
    EXPECT_EQ(host.Frame(o), 1);
    EXPECT_EQ(DoneEvents(), 1u);
    EXPECT_NE(ReadBytes(path), plain);
    EXPECT_EQ(ReadBytes(otherPath), other);
}

TEST_F(FileRoutines, FailuresBeforeAJobReportTheirCode) {
    Bytes plain(24, 3);
    std::string path = MakeFile(plain);
    struct Case { std::string key, path; Codes codes; };
    const Case cases[] = {
        {"no such key", path, {2}},
        {std::string(60, 'k'), path, {1, 2}},
        {FileKey, (dir / "missing.bin").string(), {6}},
        {FileKey, dir.string(), {6}},
        {FileKey, "", {6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key + " / " + c.path);
        seen.clear();
        host.Action(o, Code::SetPercentInterval, 10);
        Work(o, Code::EncryptFile, c.key, c.path);
        EXPECT_EQ(seen, c.codes);
        EXPECT_FALSE(Busy());
        EXPECT_TRUE(host.rehandles.empty());
        EXPECT_EQ(DoneEvents(), 0u);
        EXPECT_EQ(ReadBytes(path), plain);
    }
}

TEST_F(FileRoutines, OverlongKeyIsCutAndTheJobRunsWithIt) {
    const std::string longKey = std::string(56, 'a') + "tail";
    AddKey(o, longKey.substr(0, 56));
    Bytes plain(16, 9);
    std::string path = MakeFile(plain);
    std::vector<int32_t> conditions;
    host.onEvent = [&](const HostEvent& e) {
        conditions.push_back(e.condition);
        if (e.condition == Code::OnError) seen.push_back(e.errorCode);
    };

    EXPECT_EQ(Work(o, Code::EncryptFile, longKey, path), longKey.substr(0, 56));
    EXPECT_EQ(seen, (Codes{1}));
    EXPECT_EQ(conditions, (Codes{0, 6}));
    EXPECT_NE(ReadBytes(path), plain);
    Work(o, Code::DecryptFile, longKey.substr(0, 56), path);
    EXPECT_EQ(ReadBytes(path), plain);
}

TEST_F(FileRoutines, IntervalsAreStoredAsGiven) {
    for (int32_t value : {250, 0, -5, 1000}) {
        host.Action(o, Code::SetTimeInterval, value);
        host.Action(o, Code::SetPercentInterval, value + 1);
        EXPECT_EQ(Read(Code::FileTimeInterval), value);
        EXPECT_EQ(Read(Code::FilePercentInterval), value + 1);
    }
    host.Action(o, Code::SetTimeInterval, 0);
    host.Action(o, Code::SetPercentInterval, 0);
}

TEST_F(FileRoutines, LastFreeAbandonsAPendingJob) {
    host.Action(o, Code::SetPercentInterval, 25);
    Bytes plain(64, 5);
    std::string path = MakeFile(plain);
    Work(o, Code::EncryptFile, FileKey, path);
    ASSERT_EQ(host.Frame(o), 0);
    host.Free();
    EXPECT_FALSE(Busy());
    EXPECT_EQ(ReadBytes(path), plain);
    host.Initialize();
    EXPECT_EQ(host.Frame(o), 1);
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(ReadBytes(path), plain);
}

TEST_F(FileRoutines, JobOutlivesTheObjectThatStartedIt) {
    host.Action(o, Code::SetPercentInterval, 50);
    Bytes plain(32, 7);
    std::string path = MakeFile(plain);
    RunData* starter = host.Create(TestHost::NewEditData());
    Work(starter, Code::EncryptFile, FileKey, path);
    EXPECT_EQ(host.rehandles, std::vector<RunData*>{starter});
    host.Destroy(starter);
    EXPECT_TRUE(Busy());
    EXPECT_EQ(host.Frame(o), 0);
    EXPECT_EQ(host.Frame(o), 1);
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0].object, o);
    EXPECT_EQ(host.events[0].condition, 6);
    EXPECT_NE(ReadBytes(path), plain);
}

#ifdef _WIN32
// A file another program holds open without sharing writes cannot be worked on; as the
// owner of the file Wine ignores the read-only attribute, so this is the real lock.
TEST_F(FileRoutines, FileLockedByAnotherHandleGivesSix) {
    const Bytes plain(40, 0x5A);
    const std::string path = MakeFile(plain);
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    Work(o, Code::EncryptFile, FileKey, path);
    CloseHandle(lock);
    EXPECT_EQ(seen, Codes{6});
    EXPECT_FALSE(Busy());
    EXPECT_EQ(ReadBytes(path), plain);
    Work(o, Code::EncryptFile, FileKey, path);      // released: the same start succeeds
    EXPECT_EQ(seen, Codes{6});
    EXPECT_NE(ReadBytes(path), plain);
}
#endif

}  // namespace
