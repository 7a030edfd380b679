// File jobs on real files and a scripted clock, also with the file changed by someone else
// while a job is pending; the cipher's own bytes are the Blowfish tests' to check.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "cipher/block_paths.h"
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
        fileJobBatchBlocks = 1;     // the clock read before every block, as the rows count
    }
    void TearDown() override {
        AbandonFileJob(&job);
        fs::remove_all(dir);
    }
    Bytes Encrypted(Bytes data) const {
        EncryptBlocks(&key, data.data(), data.size() / 8);
        return data;
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
            EXPECT_TRUE(result == JobFinished || (result == JobPending && FileJobInProgress(&job)));
        }
        return done;
    }

    BlowfishContext key;
    FileJob job{};
    FileSettings settings{};
    fs::path dir = MakeTempDir("file_job_test");
};

// A 1-99 percentage or a time above 0 is a budget; without one the start does it all.
// `done` is bytesDone after each continuation, or after the start where it ends the job;
// `then` changes the settings or the clock before the second continuation.
TEST_F(FileJobTest, BudgetsSpreadTheWorkOverContinuations) {
    struct Case { size_t length; FileSettings settings; long step; bool pending;
                  std::vector<uint32_t> done; std::function<void()> then = {}; };
    const Case cases[] = {
        {13, {0, 0, 0}, 0, false, {16}}, {13, {1, 0, 0}, 0, false, {8}},
        {5, {1, -3, 100}, 0, false, {0}}, {5, {0, 0, -5}, 0, false, {8}},
        {0, {0, 0, 0}, 0, false, {0}}, {16, {1, 0, 0}, 0, false, {16}},
        {64, {0, 0, 25}, 0, true, {16, 32, 48, 64}},
        {64, {0, 0, 30}, 0, true, {24, 48, 64}},        // a 19-byte step rounds up to blocks
        {100, {0, 0, 40}, 0, true, {48, 96, 104}},
        {64, {0, 0, 1}, 0, true, {64}},                 // below a byte, nothing done: no bound
        {24, {0, 1, 0}, 1, true, {8, 16, 24}, [&] { settings = {0, 0, 2}; }},  // a block a call
        {64, {0, 3, 0}, 1, true, {24, 48, 64}},         // elapsed equal to the interval works
        {40, {0, 2, -4}, 1, true, {16, 32, 40}},
        {64, {0, 1, 0}, 0, true, {64}},                 // a clock standing still
        {64, {0, 2, 50}, 1, true, {16, 32, 48, 64}},    // whichever budget trips first
        {32, {0, 5, 0}, 6, true, {0, 32}, [] { fakeStep = 0; }},   // time trips before a block
        // Every continuation reads the intervals anew; padding is fixed at the start.
        {61, {0, 0, 25}, 0, true, {16, 48, 64}, [&] { settings = {1, 0, 50}; }},
    };
    std::mt19937 random(11);
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        settings = c.settings;
        fakeStep = c.step;
        const Bytes plain = RandomBytes(random, c.length);
        const std::string path = MakeFile(plain);
        ASSERT_EQ(Start(path), c.pending ? JobPending : JobFinished);
        const auto between = [&](size_t call) { if (call == 1 && c.then) c.then(); };
        EXPECT_EQ(c.pending ? Finish(path, between) : std::vector{job.bytesDone}, c.done);
        EXPECT_TRUE(NoJob());
        EXPECT_EQ(FileJobProgress(&job), c.done.back() > 0 ? 100 : 0);
        const Bytes written = c.settings.noPadding ? plain : PadToBlocks(plain);
        EXPECT_EQ(ReadBytes(path), Encrypted(written));
        // Decrypting cannot know the plain length: padding stays as zero bytes.
        settings = {c.settings.noPadding, 0, 0};
        ASSERT_EQ(Start(path, ModeDecrypt), JobFinished);
        EXPECT_EQ(ReadBytes(path), written);
    }
}

// Under a time budget the clock is read before each batch, and a batch never takes the job
// past the percentage bound nor splits the last block from the write-back.
TEST_F(FileJobTest, TimeBudgetsWorkInBatches) {
    struct Case { size_t length; FileSettings settings; long step; uint32_t batch;
                  std::vector<uint32_t> done; };
    const Case cases[] = {
        {256, {0, 3, 0}, 1, 4, {96, 192, 256}},         // three readings within 3 ms
        {40, {0, 1, 0}, 1, 2, {16, 32, 40}},            // the last batch is short
        {64, {0, 5, 25}, 0, 4, {16, 32, 48, 64}},       // the bound cuts a batch
        {104, {0, 9, 30}, 0, 64, {32, 64, 96, 104}},    // 31-byte steps, passed by 1 byte
    };
    std::mt19937 random(12);
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        settings = c.settings;
        fakeStep = c.step;
        fileJobBatchBlocks = c.batch;
        const Bytes plain = RandomBytes(random, c.length);
        const std::string path = MakeFile(plain);
        ASSERT_EQ(Start(path), JobPending);
        EXPECT_EQ(Finish(path), c.done);
        EXPECT_EQ(ReadBytes(path), Encrypted(plain));
    }
    // Left to the engine, a batch is what the slowest path measured here does in 50 us.
    fileJobBatchBlocks = 0;
    const auto batch = static_cast<uint32_t>(
        BlocksWithin(MeasureBlockPathsOnce(&key), BatchMicroseconds) * BlockSize);
    settings = {0, 3, 0};
    fakeStep = 1;
    const Bytes plain = RandomBytes(random, 10 * size_t(batch) + 8);
    const std::string path = MakeFile(plain);
    ASSERT_EQ(Start(path), JobPending);
    EXPECT_EQ(Finish(path), (std::vector{3 * batch, 6 * batch, 9 * batch, 10 * batch + 8}));
    EXPECT_EQ(ReadBytes(path), Encrypted(plain));
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
        EXPECT_TRUE(Start(file) == ErrFileOpen && NoJob()) << length;
        EXPECT_EQ(fs::file_size(file), length);
    }
}

// A write that fails, staged by a file size limit of 0 bytes in a child process.
TEST_F(FileJobTest, FailedWriteBackGivesSevenAndEndsTheJob) {
    for (int32_t percent : {0, 50}) {
        const std::string path = MakeFile(Bytes(13, 2));
        settings.percentInterval = percent;
        if (fork() == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{0, 0};
            setrlimit(RLIMIT_FSIZE, &limit);
            int32_t first = Start(path), last = first;
            while (last == JobPending) last = ContinueFileJob(&job, &settings);
            _exit(first == (percent ? JobPending : ErrFileWrite) && last == ErrFileWrite &&
                  NoJob() ? 0 : 1);
        }
        int status = -1;
        wait(&status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << percent;
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
    Bytes expected = Encrypted(Bytes(21, 0x33));
    expected.resize(30, 0x44);
    EXPECT_EQ(ReadBytes(path), expected);
    ASSERT_EQ(Start(path), JobPending);
    fs::remove(path);
    while (ContinueFileJob(&job, &settings) == JobPending) {}
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
