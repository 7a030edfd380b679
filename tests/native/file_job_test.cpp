// File jobs on real files against an independent Blowfish and a scripted clock, also with
// the file changed by someone else while a job is pending.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "engine/file_job.h"
#include "runtime/report.h"
#include "tests/test_files.h"

namespace {

using namespace testfiles;
namespace fs = std::filesystem;

long fakeNow = 0, fakeStep = 0;     // each reading returns fakeNow, then adds fakeStep
long FakeClock() { return std::exchange(fakeNow, fakeNow + fakeStep); }

class FileJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        ExpandKey(&key, reinterpret_cast<const uint8_t*>("a file key"), 10);
        fileJobClock = FakeClock;
        fakeStep = 0;
    }
    void TearDown() override {
        AbandonFileJob(&job);
        fs::remove_all(dir);
    }
    std::string MakeFile(const Bytes& content) {
        WriteBytes(dir / "work.bin", content);
        return (dir / "work.bin").string();
    }
    int32_t Start(const std::string& path, uint8_t mode = ModeEncrypt) {
        return StartFileJob(&job, &settings, path.c_str(), &key, mode);
    }
    bool NoJob() const { return !FileJobInProgress(&job) && !job.buffer && !job.key; }
    // Continues until the job ends; bytesDone after each call. The file must not change
    // before the last one, and `between` runs before each call.
    std::vector<uint32_t> Finish(const std::string& path,
                                 const std::function<void(size_t)>& between = {}) {
        const Bytes before = ReadBytes(path);
        std::vector<uint32_t> done;
        for (int32_t result = JobPending; result == JobPending && done.size() < 100;) {
            if (between) between(done.size());
            EXPECT_EQ(ReadBytes(path), before);
            result = ContinueFileJob(&job, &settings);
            done.push_back(job.bytesDone);
            EXPECT_EQ(result == JobPending, FileJobInProgress(&job));
            EXPECT_TRUE(result == JobPending || result == JobFinished) << result;
        }
        return done;
    }

    BlowfishContext key;
    FileJob job{};
    FileSettings settings{};
    fs::path dir = MakeTempDir("file_job_test");
};

// Without a budget the job ends within the start: a 1-99 percentage or a time above 0
// is a budget, nothing else is.
TEST_F(FileJobTest, WithoutBudgetTheStartDoesItAll) {
    struct Case { size_t length; FileSettings settings; uint32_t toWrite, toProcess; };
    const Case cases[] = {
        {13, {0, 0, 0}, 16, 16}, {13, {1, 0, 0}, 13, 8}, {5, {1, -3, 100}, 5, 0},
        {5, {0, 0, -5}, 8, 8}, {0, {0, 0, 0}, 0, 0}, {16, {1, 0, 0}, 16, 16},
    };
    std::mt19937 random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        const Bytes plain = RandomBytes(random, c.length);
        const std::string path = MakeFile(plain);
        settings = c.settings;
        ASSERT_EQ(Start(path), JobFinished);
        EXPECT_TRUE(NoJob());
        EXPECT_EQ(job.bytesToWrite, c.toWrite);
        EXPECT_EQ(job.bytesDone, c.toProcess);
        EXPECT_EQ(FileJobProgress(&job), c.toProcess > 0 ? 100 : 0);
        const Bytes written = settings.noPadding ? plain : PadToBlocks(plain);
        EXPECT_EQ(ReadBytes(path), ReferenceCrypt(written, "a file key", true));
        // Decrypting cannot know the plain length: padding stays as zero bytes.
        ASSERT_EQ(Start(path, ModeDecrypt), JobFinished);
        EXPECT_EQ(ReadBytes(path), written);
    }
}

TEST_F(FileJobTest, BudgetsSpreadTheWorkOverContinuations) {
    // `then` changes the settings or the clock before the second continuation.
    struct Case { size_t length; int32_t percent, interval; long step; std::vector<uint32_t> done;
                  std::function<void()> then = {}; };
    const Case cases[] = {
        {64, 25, 0, 0, {16, 32, 48, 64}},
        {64, 30, 0, 0, {24, 48, 64}},           // a 19-byte step rounds up to blocks
        {100, 40, 0, 0, {48, 96, 104}},
        {64, 1, 0, 0, {64}},                    // below a byte, nothing done yet: no bound
        {24, 0, 1, 1, {8, 16, 24}, [&] { settings = {0, 0, 2}; }},  // then a block a call
        {64, 0, 3, 1, {24, 48, 64}},            // elapsed equal to the interval still works
        {40, -4, 2, 1, {16, 32, 40}},
        {64, 0, 1, 0, {64}},                    // a clock standing still
        {64, 50, 2, 1, {16, 32, 48, 64}},       // whichever budget trips first
        {32, 0, 5, 6, {0, 32}, [] { fakeStep = 0; }},   // time trips before the first block
        // Every continuation reads the intervals anew; padding is fixed at the start.
        {61, 25, 0, 0, {16, 48, 64}, [&] { settings = {1, 0, 50}; }},
    };
    std::mt19937 random(11);
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        settings = {0, c.interval, c.percent};
        fakeStep = c.step;
        const Bytes plain = RandomBytes(random, c.length);
        const std::string path = MakeFile(plain);
        ASSERT_EQ(Start(path), JobPending);
        EXPECT_EQ(Finish(path, [&](size_t call) { if (call == 1 && c.then) c.then(); }), c.done);
        EXPECT_EQ(ReadBytes(path), ReferenceCrypt(PadToBlocks(plain), "a file key", true));
        EXPECT_TRUE(NoJob());
    }
}

TEST_F(FileJobTest, ProgressAndStepsOfLargeFilesDoNotWrap) {
    job.bytesToProcess = 2147483648u;
    job.bytesDone = 2147483640;
    EXPECT_EQ(FileJobProgress(&job), 99);
    // 4% of 2^30 + 8 bytes: in 32 bits 4 * (2^30 + 8) wraps to 32 and the step to 0.
    job = {fopen(MakeFile(Bytes(64, 1)).c_str(), "r+b"), static_cast<uint8_t*>(calloc(65, 1)),
           &key, ModeEncrypt, (1u << 30) + 8, 8, 64, 64};
    settings.percentInterval = 4;
    EXPECT_EQ(ContinueFileJob(&job, &settings), JobFinished);
}

TEST_F(FileJobTest, StartFailuresLeaveNoJobAndTheFilesAlone) {
    const std::string file = MakeFile(Bytes(10, 4)), missing = (dir / "missing").string();
    for (const char* path : {missing.c_str(), "", dir.c_str(), (const char*)nullptr}) {
        EXPECT_EQ(StartFileJob(&job, &settings, path, &key, ModeEncrypt), ErrFileOpen);
        EXPECT_TRUE(NoJob());
    }
    EXPECT_EQ(StartFileJob(&job, &settings, file.c_str(), nullptr, ModeEncrypt), ErrFileOpen);
    EXPECT_FALSE(fs::exists(missing));
    // Files whose padded length does not fit a signed 32-bit position.
    for (uint64_t length : {(1ull << 31) - 1, (1ull << 32) + 16}) {
        ASSERT_EQ(truncate(file.c_str(), off_t(length)), 0);
        EXPECT_EQ(Start(file), ErrFileOpen);
        EXPECT_TRUE(NoJob());
        EXPECT_EQ(fs::file_size(file), length);
    }
}

// A write that fails, staged by a file size limit of 0 bytes in a child process.
TEST_F(FileJobTest, FailedWriteBackGivesSevenAndEndsTheJob) {
    for (int32_t percent : {0, 50}) {
        const std::string path = MakeFile(Bytes(13, 2));
        settings.percentInterval = percent;
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        if (fork() == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{0, 0};
            setrlimit(RLIMIT_FSIZE, &limit);
            int32_t report[3];
            report[0] = report[1] = Start(path);
            while (report[1] == JobPending) report[1] = ContinueFileJob(&job, &settings);
            report[2] = NoJob();
            _exit(write(ends[1], report, sizeof report) == sizeof report ? 0 : 1);
        }
        close(ends[1]);
        int32_t report[3] = {};
        ASSERT_EQ(read(ends[0], report, sizeof report), ssize_t(sizeof report));
        close(ends[0]);
        wait(nullptr);
        EXPECT_EQ(report[0], percent == 0 ? ErrFileWrite : JobPending);
        EXPECT_EQ(report[1], ErrFileWrite);
        EXPECT_EQ(report[2], 1);
        EXPECT_EQ(ReadBytes(path), Bytes(13, 2));
    }
}

// Rewritten by another program while pending, the file gets what the job read at the
// start over its first bytes and keeps the rest; deleted, it is not brought back.
TEST_F(FileJobTest, OthersChangesWhilePendingAreKeptBeyondTheJobsBytes) {
    settings = {1, 0, 25};
    const std::string path = MakeFile(Bytes(21, 0x33));
    ASSERT_EQ(Start(path), JobPending);
    MakeFile(Bytes(30, 0x44));
    Finish(path);
    Bytes expected = ReferenceCrypt(Bytes(21, 0x33), "a file key", true);
    expected.resize(30, 0x44);
    EXPECT_EQ(ReadBytes(path), expected);
    ASSERT_EQ(Start(path), JobPending);
    fs::remove(path);
    while (ContinueFileJob(&job, &settings) == JobPending) {}
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
