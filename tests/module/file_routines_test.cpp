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

class FileRoutines : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        dir = fs::path(testing::TempDir()) /
              ("file_routines_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir);
        o = host.Create(TestHost::NewEditData());
        for (int code : {Code::Padding, Code::SetTimeInterval, Code::SetPercentInterval})
            host.Action(o, code, 0);    // settings outlive a run
        AddKey(o, "file key");
        RecordErrorCodes();
    }
    void TearDown() override {
        ModuleTest::TearDown();
        fs::remove_all(dir);
    }
    std::string MakeFile(const Bytes& content, const char* name = "work.bin") {
        WriteBytes((dir / name).string(), content);
        return (dir / name).string();
    }
    std::string Work(RunData* object, int code, const std::string& path, const std::string& key = "file key") {
        return TextAction(object, code, {key, path});
    }
    int32_t Read(int code) { return int32_t(host.Expression(o, code)); }
    bool Busy() { return host.Condition(o, Code::FileBusy) == 1; }
    Codes Conditions() {
        Codes conditions;
        for (const HostEvent& e : host.events) conditions.push_back(e.condition);
        return conditions;
    }

    fs::path dir;
    RunData* o = nullptr;
};

TEST_F(FileRoutines, WithoutBudgetTheJobEndsWithinTheAction) {
    struct Case { size_t length; bool noPadding; int32_t size; };
    for (Case c : {Case{13, false, 16}, Case{13, true, 13}, Case{5, true, 5}, Case{0, false, 0}}) {
        SCOPED_TRACE(c.length);
        host.Action(o, c.noPadding ? Code::NoPadding : Code::Padding);
        EXPECT_EQ(host.Condition(o, Code::IsPadding), c.noPadding ? 0 : 1);
        Bytes plain(c.length);
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 37 + 1);
        const std::string path = MakeFile(plain);
        host.events.clear();
        bool busyInEvent = true;
        host.onEvent = [&](const HostEvent&) { busyInEvent = Busy(); };
        Work(o, Code::EncryptFile, path);
        EXPECT_EQ(Conditions(), Codes{Code::FileDone});
        EXPECT_FALSE(busyInEvent);
        EXPECT_TRUE(host.rehandles.empty());
        EXPECT_EQ(Read(Code::FileSize), c.size);
        EXPECT_EQ(Read(Code::FileProgress), c.size >= 8 ? 100 : 0);
        EXPECT_EQ(ReadBytes(path).size() >= 8, ReadBytes(path) != plain);
        Work(o, Code::DecryptFile, path);
        plain.resize(size_t(c.size), 0);
        EXPECT_EQ(ReadBytes(path), plain);
    }
}

// The done event's handler may start the next job: the first has ended by then.
TEST_F(FileRoutines, JobSpreadOverFramesEndsWithTheDoneEvent) {
    Bytes plain(64);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(255 - i);
    const std::string path = MakeFile(plain);
    host.Action(o, Code::SetPercentInterval, 25);
    Codes atEvent;
    host.onEvent = [&](const HostEvent& e) {
        atEvent.insert(atEvent.end(), {Busy(), Read(Code::FileProgress)});
        if (e.condition == Code::FileDone && atEvent.size() == 2) Work(o, Code::DecryptFile, path);
    };
    Work(o, Code::EncryptFile, path);
    EXPECT_EQ(host.rehandles, std::vector<RunData*>{o});
    EXPECT_EQ(Read(Code::FileSize), 64);
    for (int32_t progress : {0, 25, 50, 75}) {
        EXPECT_EQ(Read(Code::FileProgress), progress);
        EXPECT_TRUE(Busy());
        EXPECT_EQ(ReadBytes(path), plain);
        ASSERT_EQ(host.Frame(o), progress == 75 ? 1 : 0);
    }
    EXPECT_EQ(atEvent, (Codes{0, 100}));
    EXPECT_EQ(host.rehandles.size(), 2u) << "the decryption started by the event waits";
    EXPECT_NE(ReadBytes(path), plain);
    int frames = 1;
    while (host.Frame(o) == 0) ++frames;
    EXPECT_EQ(frames, 4);
    EXPECT_EQ(Conditions(), (Codes{Code::FileDone, Code::FileDone}));
    EXPECT_EQ(ReadBytes(path), plain);
    EXPECT_TRUE(seen.empty());
}

TEST_F(FileRoutines, FailuresReportTheirCodeAndStartNoJob) {
    const Bytes plain(24, 3);
    const std::string path = MakeFile(plain);
    host.Action(o, Code::SetPercentInterval, 10);
    Work(o, Code::EncryptFile, path, "no such key");
    Work(o, Code::EncryptFile, path, std::string(60, 'k'));
    for (const std::string& bad : {(dir / "missing.bin").string(), dir.string(), std::string()})
        Work(o, Code::DecryptFile, bad);
    EXPECT_EQ(seen, (Codes{2, 1, 2, 6, 6, 6}));
    EXPECT_TRUE(host.rehandles.empty() && !Busy());
    // A second job while one is pending: 8.
    Work(o, Code::EncryptFile, path);
    Work(o, Code::DecryptFile, MakeFile(plain, "other.bin"));
    EXPECT_EQ(seen.back(), 8);
    EXPECT_EQ(host.rehandles.size(), 1u);
    EXPECT_EQ(Conditions().back(), Code::OnError);
}

TEST_F(FileRoutines, OverlongKeyIsCutAndTheJobRunsWithIt) {
    const std::string longKey = std::string(56, 'a') + "tail";
    AddKey(o, longKey.substr(0, 56));
    const std::string path = MakeFile(Bytes(16, 9));
    EXPECT_EQ(Work(o, Code::EncryptFile, path, longKey), longKey.substr(0, 56));
    EXPECT_EQ(Conditions(), (Codes{Code::OnError, Code::FileDone}));
    Work(o, Code::DecryptFile, path, longKey.substr(0, 56));
    EXPECT_EQ(ReadBytes(path), Bytes(16, 9));
}

TEST_F(FileRoutines, IntervalsAreStoredAsGiven) {
    for (int32_t value : {250, -5}) {
        host.Action(o, Code::SetTimeInterval, value);
        host.Action(o, Code::SetPercentInterval, value + 1);
        EXPECT_EQ(Read(Code::FileTimeInterval), value);
        EXPECT_EQ(Read(Code::FilePercentInterval), value + 1);
    }
    host.Action(o, Code::SetTimeInterval, 0);
}

TEST_F(FileRoutines, JobOutlivesItsObjectButNotTheLastFree) {
    host.Action(o, Code::SetPercentInterval, 50);
    const std::string path = MakeFile(Bytes(32, 7)), abandoned = MakeFile(Bytes(32, 5), "b.bin");
    RunData* starter = host.Create(TestHost::NewEditData());
    Work(starter, Code::EncryptFile, path);
    EXPECT_EQ(host.rehandles, std::vector<RunData*>{starter});
    host.Destroy(starter);
    EXPECT_EQ(host.Frame(o), 0);
    EXPECT_EQ(host.Frame(o), 1);
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0].object, o);
    EXPECT_NE(ReadBytes(path), Bytes(32, 7));
    Work(o, Code::EncryptFile, abandoned);
    host.Free();
    host.Initialize();
    EXPECT_FALSE(Busy());
    EXPECT_EQ(host.Frame(o), 1);
    EXPECT_EQ(ReadBytes(abandoned), Bytes(32, 5));
}

#ifdef _WIN32
// A file another program holds open without sharing writes cannot be worked on; as the
// owner of the file Wine ignores the read-only attribute, so this is the real lock.
TEST_F(FileRoutines, FileLockedByAnotherHandleGivesSix) {
    const std::string path = MakeFile(Bytes(40, 0x5A));
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    Work(o, Code::EncryptFile, path);
    CloseHandle(lock);
    EXPECT_EQ(seen, Codes{6});
    EXPECT_EQ(ReadBytes(path), Bytes(40, 0x5A));
}
#endif

}  // namespace
