// File jobs on real files, checked against an independent Blowfish and a scripted clock,
// also with the file changed by someone else while a job is pending.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/file_job.h"
#include "tests/test_files.h"

namespace {

using namespace testfiles;
namespace fs = std::filesystem;

// Each read returns fakeNow, then moves it on by fakeStep milliseconds.
long fakeNow = 0;
long fakeStep = 0;
long FakeClock() {
    long now = fakeNow;
    fakeNow += fakeStep;
    return now;
}

class FileJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = MakeTempDir("file_job_test");
        ASSERT_FALSE(dir.empty());
        UseKey(keyText);
        savedClock = fileJobClock;
        fileJobClock = FakeClock;
        fakeNow = 5000;
        fakeStep = 0;
    }
    void TearDown() override {
        AbandonFileJob(&job);
        fileJobClock = savedClock;
        fs::remove_all(dir);
    }

    void UseKey(const std::string& text) {
        keyText = text;
        ExpandKey(&key, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
    }
    std::string MakeFile(const Bytes& content, const char* name = "work.bin") {
        WriteBytes(dir / name, content);
        return (dir / name).string();
    }
    Bytes Encrypted(const Bytes& plain, bool pad = true) const {
        return ReferenceCrypt(pad ? PadToBlocks(plain) : plain, keyText, true);
    }
    void ExpectNoJob() {
        EXPECT_FALSE(FileJobInProgress(&job));
        EXPECT_EQ(job.buffer, nullptr);
        EXPECT_EQ(job.key, nullptr);
    }
    int32_t Finish() {
        int32_t result = JobPending;
        for (int call = 0; call < 100 && result == JobPending; ++call)
            result = ContinueFileJob(&job, &settings);
        return result;
    }

    // Starts a job under the current settings and continues it until it ends. Returns
    // bytesDone after each continuation; the file must not change before the last one.
    std::vector<uint32_t> Step(const std::string& path,
                               const std::function<void(size_t)>& between = {}) {
        Bytes before = ReadBytes(path);
        std::vector<uint32_t> done;
        EXPECT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
        for (int32_t result = -1; result == -1 && done.size() < 100;) {
            if (between) between(done.size());
            result = ContinueFileJob(&job, &settings);
            done.push_back(job.bytesDone);
            EXPECT_EQ(result == -1, FileJobInProgress(&job));
            if (result == -1) EXPECT_EQ(ReadBytes(path), before);
            else EXPECT_EQ(result, 0);
        }
        return done;
    }

    std::string keyText = "a file key";
    BlowfishContext key;
    FileJob job{};
    FileSettings settings{};
    fs::path dir;
    ClockFunction savedClock;
};

TEST_F(FileJobTest, WholeFileAtOnceWithAndWithoutPadding) {
    struct Case { size_t length; uint8_t noPadding; uint32_t toWrite, toProcess; };
    const Case cases[] = {
        {13, 0, 16, 16}, {13, 1, 13, 8}, {5, 1, 5, 0}, {5, 0, 8, 8},
        {0, 0, 0, 0},    {0, 1, 0, 0},   {16, 1, 16, 16},
    };
    std::mt19937 random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.length) + " noPadding " +
                     std::to_string(c.noPadding));
        Bytes plain = RandomBytes(random, c.length);
        std::string path = MakeFile(plain);
        settings.noPadding = c.noPadding;

        ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), 0);
        ExpectNoJob();
        EXPECT_EQ(job.bytesToWrite, c.toWrite);
        EXPECT_EQ(job.bytesDone, c.toProcess);
        EXPECT_EQ(FileJobProgress(&job), c.toProcess > 0 ? 100 : 0);
        EXPECT_EQ(ReadBytes(path), Encrypted(plain, c.noPadding == 0));

        // Decrypting cannot know the plain length: padding stays as zero bytes.
        ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeDecrypt), 0);
        Bytes expected = plain;
        expected.resize(c.toWrite, 0);
        EXPECT_EQ(ReadBytes(path), expected);
    }
}

TEST_F(FileJobTest, BudgetsSpreadTheWorkOverContinuations) {
    struct Case {
        const char* name;
        size_t length;
        int32_t percent, interval;
        long clockStep;
        std::vector<uint32_t> done;
    };
    const Case cases[] = {
        {"quarters", 64, 25, 0, 0, {16, 32, 48, 64}},
        {"step of 19 bytes passes the bound", 64, 30, 0, 0, {24, 48, 64}},
        {"step of 41 bytes", 100, 40, 0, 0, {48, 96, 104}},
        {"step below a byte with nothing done", 64, 1, 0, 0, {64}},
        {"elapsed equal to the interval still allows a block", 64, 0, 3, 1, {24, 48, 64}},
        {"two blocks per call", 40, -4, 2, 1, {16, 32, 40}},
        {"clock standing still", 64, 0, 1, 0, {64}},
        {"percentage trips first", 64, 25, 3, 1, {16, 32, 48, 64}},
        {"time trips first", 64, 50, 2, 1, {16, 32, 48, 64}},
    };
    std::mt19937 random(11);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings = {0, c.interval, c.percent};
        fakeStep = c.clockStep;
        Bytes plain = RandomBytes(random, c.length);
        std::string path = MakeFile(plain);
        EXPECT_EQ(Step(path), c.done);
        EXPECT_EQ(ReadBytes(path), Encrypted(plain));
        ExpectNoJob();
    }
}

TEST_F(FileJobTest, TimeBudgetCanTripBeforeTheFirstBlock) {
    settings.timeInterval = 5;
    fakeStep = 6;
    Bytes plain(32, 3);
    std::string path = MakeFile(plain);
    ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
    EXPECT_EQ(ContinueFileJob(&job, &settings), -1);
    EXPECT_EQ(job.bytesDone, 0u);
    EXPECT_EQ(ReadBytes(path), plain);
    fakeStep = 0;
    EXPECT_EQ(ContinueFileJob(&job, &settings), 0);
    EXPECT_EQ(ReadBytes(path), Encrypted(plain));
}

TEST_F(FileJobTest, EveryContinuationReadsTheIntervalsAnew) {
    settings.percentInterval = 25;
    EXPECT_EQ(Step(MakeFile(Bytes(64, 9)),
                   [&](size_t call) {
                       if (call == 1) settings.percentInterval = 50;
                       if (call == 2) settings.percentInterval = 0;
                   }),
              (std::vector<uint32_t>{16, 48, 64}));

    // A step that rounds to 0 bytes once blocks are done still moves one block a call.
    settings = {0, 1, 0};
    fakeStep = 1;
    EXPECT_EQ(Step(MakeFile(Bytes(24, 9)),
                   [&](size_t call) { if (call == 1) settings = {0, 0, 2}; }),
              (std::vector<uint32_t>{8, 16, 24}));
}

TEST_F(FileJobTest, PaddingIsFixedWhenTheJobStarts) {
    for (int noPadding : {0, 1}) {
        settings = {uint8_t(noPadding), 0, 50};
        Bytes plain(13, 0x77);
        std::string path = MakeFile(plain);
        Step(path, [&](size_t) { settings.noPadding = uint8_t(1 - noPadding); });
        EXPECT_EQ(ReadBytes(path), Encrypted(plain, noPadding == 0));
    }
}

// Any mix of budgets, changed between calls, writes what one uninterrupted pass writes.
TEST_F(FileJobTest, SteppedJobWritesWhatOnePassWrites) {
    std::mt19937 random(20240611);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    auto randomSettings = [&] {
        const int32_t percents[] = {0, 100, -5, pick(1, 99), pick(1, 99), pick(1, 10)};
        settings = {uint8_t(pick(0, 1)), pick(-1, 6), percents[pick(0, 5)]};
        // At least one block fits each call, so every job ends.
        fakeStep = settings.timeInterval > 0 ? pick(0, settings.timeInterval) : pick(0, 3);
    };
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Bytes plain = RandomBytes(random, size_t(pick(0, 300)));
        UseKey(std::to_string(random()));
        bool encrypt = pick(0, 1) == 1;
        uint8_t mode = encrypt ? ModeEncrypt : ModeDecrypt;
        randomSettings();
        bool pad = settings.noPadding == 0;
        std::string path = MakeFile(plain);
        int32_t result = StartFileJob(&job, &settings, path.c_str(), &key, mode);
        for (uint32_t calls = 0, before = 0; result == -1; ++calls, before = job.bytesDone) {
            ASSERT_LT(calls, 400u);
            randomSettings();
            result = ContinueFileJob(&job, &settings);
            if (result == -1) {
                ASSERT_GT(job.bytesDone, before) << "a call must advance";
            }
        }
        ASSERT_EQ(result, 0);
        EXPECT_EQ(ReadBytes(path), ReferenceCrypt(pad ? PadToBlocks(plain) : plain, keyText,
                                                  encrypt));
    }
}

TEST_F(FileJobTest, ProgressIsExactForLargeFiles) {
    struct Case { uint32_t done, toProcess; int32_t progress; };
    const Case cases[] = {
        {0, 0, 0}, {8, 0, 0}, {42949680, 42949680, 100}, {50000000, 100000000, 50},
        {2147483640, 2147483648u, 99}, {2147483648u, 2147483648u, 100}, {8, 24, 33},
    };
    for (const Case& c : cases) {
        job.bytesDone = c.done;
        job.bytesToProcess = c.toProcess;
        EXPECT_EQ(FileJobProgress(&job), c.progress) << c.done << " of " << c.toProcess;
    }
}

TEST_F(FileJobTest, PercentageStepOfALargeFileDoesNotWrap) {
    // 4 x (2^30 + 8) wraps to 32 in 32 bits, which would make the step 0 bytes.
    std::string path = MakeFile(Bytes(64, 1));
    job.stream = fopen(path.c_str(), "r+b");
    job.buffer = static_cast<uint8_t*>(calloc(65, 1));
    job.key = &key;
    job.mode = ModeEncrypt;
    job.paddedSize = (1u << 30) + 8;
    job.bytesDone = 8;
    job.bytesToWrite = job.bytesToProcess = 64;
    settings.percentInterval = 4;
    EXPECT_EQ(ContinueFileJob(&job, &settings), 0);
    EXPECT_EQ(job.bytesDone, 64u);
}

TEST_F(FileJobTest, StartFailsWithoutAFileToWork) {
    Bytes plain(10, 4);
    std::string file = MakeFile(plain);
    fs::create_directory(dir / "folder");
    const std::string missing = (dir / "missing.bin").string();
    const std::string folder = (dir / "folder").string();
    const std::pair<const char*, bool> cases[] = {
        {missing.c_str(), true}, {"", true}, {folder.c_str(), true}, {nullptr, true},
        {file.c_str(), false},
    };
    for (auto [path, withKey] : cases) {
        SCOPED_TRACE(path == nullptr ? "null" : path);
        EXPECT_EQ(StartFileJob(&job, &settings, path, withKey ? &key : nullptr, ModeEncrypt),
                  6);
        ExpectNoJob();
    }
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_EQ(ReadBytes(file), plain);
}

TEST_F(FileJobTest, StartDuringAJobLeavesThatJobAlone) {
    settings.percentInterval = 50;
    Bytes plain(40, 6), other(16, 8);
    std::string path = MakeFile(plain), otherPath = MakeFile(other, "other.bin");
    ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
    ASSERT_EQ(ContinueFileJob(&job, &settings), -1);
    const FileJob before = job;
    BlowfishContext otherKey{};
    settings = {1, 0, 0};
    for (const char* second : {otherPath.c_str(), "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(StartFileJob(&job, &settings, second, &otherKey, ModeDecrypt), 8);
        EXPECT_TRUE(job.stream == before.stream && job.buffer == before.buffer &&
                    job.key == before.key && job.bytesDone == before.bytesDone &&
                    job.bytesToWrite == before.bytesToWrite);
    }
    EXPECT_EQ(ContinueFileJob(&job, &settings), 0);
    EXPECT_EQ(ReadBytes(path), Encrypted(plain));
    EXPECT_EQ(ReadBytes(otherPath), other);
}

// A failed write-back, staged by a file size limit of 0 bytes in a child process.
TEST_F(FileJobTest, FailedWriteBackGivesSeven) {
    Bytes plain(13, 2);
    for (int32_t percent : {0, 50}) {
        SCOPED_TRACE("percent " + std::to_string(percent));
        std::string path = MakeFile(plain);
        settings.percentInterval = percent;
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{0, 0};
            setrlimit(RLIMIT_FSIZE, &limit);
            int32_t report[3];
            report[0] = report[1] = StartFileJob(&job, &settings, path.c_str(), &key,
                                                 ModeEncrypt);
            while (report[1] == -1) report[1] = ContinueFileJob(&job, &settings);
            report[2] = FileJobInProgress(&job) || job.buffer != nullptr || job.key != nullptr;
            _exit(write(pipeEnds[1], report, sizeof report) == sizeof report ? 0 : 1);
        }
        close(pipeEnds[1]);
        int32_t report[3] = {};
        ASSERT_EQ(read(pipeEnds[0], report, sizeof report), ssize_t(sizeof report));
        close(pipeEnds[0]);
        waitpid(child, nullptr, 0);
        EXPECT_EQ(report[0], percent == 0 ? 7 : -1);
        EXPECT_EQ(report[1], 7);
        EXPECT_EQ(report[2], 0) << "the job ends all the same";
        EXPECT_EQ(ReadBytes(path), plain);
    }
}

TEST_F(FileJobTest, FilesPastSigned32BitPositionsAreRefused) {
    // 2^32 + 16 would pass for a 16-byte file through a 32-bit position.
    Bytes head(16, 0x42);
    for (uint64_t length : {(1ull << 31) - 1, 1ull << 31, (1ull << 32) + 16}) {
        SCOPED_TRACE(length);
        std::string path = MakeFile(head);
        ASSERT_EQ(truncate(path.c_str(), off_t(length)), 0);
        EXPECT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), 6);
        ExpectNoJob();
        EXPECT_EQ(fs::file_size(path), length);
        std::ifstream in(path, std::ios::binary);
        Bytes start(16);
        in.read(reinterpret_cast<char*>(start.data()), 16);
        EXPECT_EQ(start, head);
        fs::remove(path);
    }
}

// Changed by another writer while pending, the job writes back what it read at the start
// over the first bytes, and neither fails nor touches anything past them.
TEST_F(FileJobTest, FileChangedMidJobGetsWhatWasReadOverItsFirstBytes) {
    Bytes plain(44);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 7 + 1);
    const Bytes written = Encrypted(plain);      // 48 bytes
    const std::string path = (dir / "work.bin").string();
    Bytes grown = written, longer = written;
    grown.insert(grown.end(), 21, 'g');
    longer.resize(100, 0xEE);
    const std::pair<std::function<void()>, Bytes> cases[] = {
        {[&] { MakeFile({}); }, written},
        {[&] { ASSERT_EQ(truncate(path.c_str(), 5), 0); }, written},
        {[&] { std::ofstream(path, std::ios::app) << std::string(25, 'g'); }, grown},
        {[&] { MakeFile(Bytes(44, 0xEE)); }, written},
        {[&] { MakeFile(Bytes(100, 0xEE)); }, longer},
    };
    settings.percentInterval = 25;
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        MakeFile(plain);
        ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
        ASSERT_EQ(ContinueFileJob(&job, &settings), -1);
        cases[i].first();
        EXPECT_EQ(Finish(), 0);
        EXPECT_FALSE(FileJobInProgress(&job));
        EXPECT_EQ(ReadBytes(path), cases[i].second);
    }

    // Unpadded, only the whole blocks read are worked; the final piece goes back as read.
    settings = {1, 0, 25};
    MakeFile(Bytes(21, 0x33));
    ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
    MakeFile(Bytes(30, 0x44));
    EXPECT_EQ(Finish(), 0);
    Bytes expected = Encrypted(Bytes(16, 0x33));
    expected.insert(expected.end(), 5, 0x33);
    expected.insert(expected.end(), 9, 0x44);
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(FileJobTest, DeletedOrAbandonedFileKeepsWhatOthersDid) {
    settings.percentInterval = 25;
    const std::string path = MakeFile(Bytes(40, 0x55));
    ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
    fs::remove(path);
    EXPECT_EQ(Finish(), 0);
    EXPECT_FALSE(fs::exists(path)) << "the job must not bring the file back";

    MakeFile(Bytes(40, 0x77));
    ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
    ASSERT_EQ(ContinueFileJob(&job, &settings), -1);
    MakeFile(Bytes(13, 0x88));
    AbandonFileJob(&job);
    EXPECT_EQ(ReadBytes(path), Bytes(13, 0x88));
}

}  // namespace
