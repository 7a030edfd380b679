// File jobs on real files, checked against an independent Blowfish and a scripted clock.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>
#include "engine/file_job.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Each read returns fakeNow, then moves it on by fakeStep milliseconds.
long fakeNow = 0;
long fakeStep = 0;
long FakeClock() {
    long now = fakeNow;
    fakeNow += fakeStep;
    return now;
}

Bytes RandomBytes(size_t length, std::mt19937& random) {
    Bytes bytes(length);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

// OpenSSL reads each half of a block big-endian; the file format has them little-endian.
Bytes Reference(Bytes data, const std::string& keyText, int mode, bool pad) {
    if (pad) data.resize((data.size() + 7) / 8 * 8, 0);
    BF_KEY key;
    BF_set_key(&key, static_cast<int>(keyText.size()),
               reinterpret_cast<const unsigned char*>(keyText.data()));
    for (size_t at = 0; at + 8 <= data.size(); at += 8) {
        uint8_t block[8];
        for (size_t i = 0; i < 8; ++i) block[i] = data[at + (i & 4) + 3 - (i & 3)];
        BF_ecb_encrypt(block, block, &key, mode == ModeEncrypt ? BF_ENCRYPT : BF_DECRYPT);
        for (size_t i = 0; i < 8; ++i) data[at + (i & 4) + 3 - (i & 3)] = block[i];
    }
    return data;
}

class FileJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "file_job_test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        ExpandKey(&key, reinterpret_cast<const uint8_t*>(keyText.data()),
                  static_cast<int32_t>(keyText.size()));
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

    std::string MakeFile(const Bytes& content, const char* name = "work.bin") {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        return path;
    }
    static Bytes ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    void ExpectNoJob() {
        EXPECT_FALSE(FileJobInProgress(&job));
        EXPECT_EQ(job.buffer, nullptr);
        EXPECT_EQ(job.key, nullptr);
    }

    // Starts a job under the current settings and continues it until it ends. Returns
    // bytesDone after each continuation; the file must not change before the last one.
    std::vector<uint32_t> Step(const std::string& path, int mode = ModeEncrypt,
                               const std::function<void(size_t)>& between = {}) {
        Bytes before = ReadBytes(path);
        std::vector<uint32_t> done;
        EXPECT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, uint8_t(mode)), -1);
        EXPECT_EQ(job.bytesDone, 0u);
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

    const std::string keyText = "a file key";
    BlowfishContext key;
    FileJob job{};
    FileSettings settings{};
    fs::path dir;
    ClockFunction savedClock;
};

TEST_F(FileJobTest, WholeFileAtOnceWithAndWithoutPadding) {
    struct Case { size_t length; uint8_t noPadding; uint32_t paddedSize, toWrite, toProcess; };
    const Case cases[] = {
        {13, 0, 16, 16, 16}, {13, 1, 16, 13, 8}, {5, 1, 8, 5, 0}, {5, 0, 8, 8, 8},
        {0, 0, 0, 0, 0},     {0, 1, 0, 0, 0},    {16, 0, 16, 16, 16}, {16, 1, 16, 16, 16},
    };
    std::mt19937 random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.length) + " noPadding " +
                     std::to_string(c.noPadding));
        Bytes plain = RandomBytes(c.length, random);
        std::string path = MakeFile(plain);
        settings.noPadding = c.noPadding;

        ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), 0);
        ExpectNoJob();
        EXPECT_EQ(job.paddedSize, c.paddedSize);
        EXPECT_EQ(job.bytesToWrite, c.toWrite);
        EXPECT_EQ(job.bytesToProcess, c.toProcess);
        EXPECT_EQ(job.bytesDone, c.toProcess);
        EXPECT_EQ(FileJobProgress(&job), c.toProcess > 0 ? 100 : 0);
        Bytes encrypted = ReadBytes(path);
        EXPECT_EQ(encrypted, Reference(plain, keyText, ModeEncrypt, c.noPadding == 0));
        EXPECT_EQ(encrypted.size(), c.toWrite);
        if (c.toProcess == 0) {
            EXPECT_EQ(encrypted, plain);
        }

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
        {"99 percent", 64, 99, 0, 0, {64}},
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
        Bytes plain = RandomBytes(c.length, random);
        std::string path = MakeFile(plain);
        EXPECT_EQ(Step(path), c.done);
        EXPECT_EQ(ReadBytes(path), Reference(plain, keyText, ModeEncrypt, true));
        ExpectNoJob();
    }
}

TEST_F(FileJobTest, BudgetsOffCompleteWithinTheStart) {
    const std::pair<int32_t, int32_t> percentAndInterval[] = {
        {0, 0}, {100, 0}, {-5, 0}, {0, -3}, {250, INT32_MIN},
    };
    for (auto [percent, interval] : percentAndInterval) {
        settings = {0, interval, percent};
        Bytes plain(24, 0x5a);
        std::string path = MakeFile(plain);
        EXPECT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), 0);
        EXPECT_EQ(ReadBytes(path), Reference(plain, keyText, ModeEncrypt, true));
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
    EXPECT_TRUE(FileJobInProgress(&job));
    EXPECT_EQ(ReadBytes(path), plain);

    fakeStep = 0;
    EXPECT_EQ(ContinueFileJob(&job, &settings), 0);
    EXPECT_EQ(ReadBytes(path), Reference(plain, keyText, ModeEncrypt, true));
}

TEST_F(FileJobTest, EveryContinuationReadsTheIntervalsAnew) {
    settings.percentInterval = 25;
    EXPECT_EQ(Step(MakeFile(Bytes(64, 9)), ModeEncrypt,
                   [&](size_t call) {
                       if (call == 1) settings.percentInterval = 50;
                       if (call == 2) settings.percentInterval = 0;
                   }),
              (std::vector<uint32_t>{16, 48, 64}));

    // A step that rounds to 0 bytes once blocks are done still moves one block a call.
    settings.percentInterval = 25;
    EXPECT_EQ(Step(MakeFile(Bytes(64, 9)), ModeEncrypt,
                   [&](size_t call) { settings.percentInterval = call == 0 ? 25 : 1; }),
              (std::vector<uint32_t>{16, 24, 32, 40, 48, 56, 64}));

    // The same after the time budget has cut the first call of a small file short.
    settings = {0, 1, 0};
    fakeStep = 1;
    EXPECT_EQ(Step(MakeFile(Bytes(24, 9)), ModeEncrypt,
                   [&](size_t call) { if (call == 1) settings = {0, 0, 2}; }),
              (std::vector<uint32_t>{8, 16, 24}));
}

TEST_F(FileJobTest, PaddingIsFixedWhenTheJobStarts) {
    for (int noPadding : {0, 1}) {
        settings = {uint8_t(noPadding), 0, 50};
        Bytes plain(13, 0x77);
        std::string path = MakeFile(plain);
        Step(path, ModeEncrypt, [&](size_t) { settings.noPadding = uint8_t(1 - noPadding); });
        EXPECT_EQ(ReadBytes(path), Reference(plain, keyText, ModeEncrypt, noPadding == 0));
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
        settings.percentInterval = percents[pick(0, 5)];
        settings.timeInterval = pick(-1, 6);
        settings.noPadding = uint8_t(pick(0, 1));
        // At least one block fits each call, so every job ends.
        fakeStep = settings.timeInterval > 0 ? pick(0, settings.timeInterval) : pick(0, 3);
    };
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Bytes plain = RandomBytes(size_t(pick(0, 300)), random);
        std::string text = std::to_string(random());
        ExpandKey(&key, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
        int mode = pick(0, 1);
        randomSettings();
        bool pad = settings.noPadding == 0;
        FileSettings atOnce{settings.noPadding, 0, 0};
        std::string onePass = MakeFile(plain, "one.bin");
        ASSERT_EQ(StartFileJob(&job, &atOnce, onePass.c_str(), &key, uint8_t(mode)), 0);

        std::string stepped = MakeFile(plain, "stepped.bin");
        int32_t result = StartFileJob(&job, &settings, stepped.c_str(), &key, uint8_t(mode));
        int calls = 0;
        for (uint32_t before = 0; result == -1; ++calls, before = job.bytesDone) {
            ASSERT_LT(calls, 400);
            randomSettings();
            result = ContinueFileJob(&job, &settings);
            if (result == -1) {
                ASSERT_GT(job.bytesDone, before) << "a call must advance";
            }
            EXPECT_EQ(job.bytesDone % 8, 0u);
        }
        ASSERT_EQ(result, 0);
        EXPECT_EQ(ReadBytes(stepped), ReadBytes(onePass));
        EXPECT_EQ(ReadBytes(stepped), Reference(plain, text, mode, pad));
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
    Bytes buffer = ReadBytes(path);
    job.stream = fopen(path.c_str(), "r+b");
    job.buffer = static_cast<uint8_t*>(malloc(65));
    memcpy(job.buffer, buffer.data(), 64);
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
    struct Case { const char* name; std::string path; bool withKey; };
    const Case cases[] = {
        {"missing", (dir / "missing.bin").string(), true},
        {"empty path", "", true},
        {"directory", (dir / "folder").string(), true},
        {"no key", file, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings.percentInterval = 0;
        EXPECT_EQ(StartFileJob(&job, &settings, c.path.c_str(), c.withKey ? &key : nullptr,
                               ModeEncrypt), 6);
        ExpectNoJob();
    }
    EXPECT_EQ(StartFileJob(&job, &settings, nullptr, &key, ModeEncrypt), 6);
    ExpectNoJob();
    EXPECT_FALSE(fs::exists(dir / "missing.bin"));
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
                    job.key == before.key && job.mode == before.mode &&
                    job.paddedSize == before.paddedSize && job.bytesDone == before.bytesDone &&
                    job.bytesToWrite == before.bytesToWrite &&
                    job.bytesToProcess == before.bytesToProcess);
    }
    EXPECT_EQ(ContinueFileJob(&job, &settings), 0);
    EXPECT_EQ(ReadBytes(path), Reference(plain, keyText, ModeEncrypt, true));
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
            report[0] = StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt);
            report[1] = report[0];
            while (report[1] == -1) report[1] = ContinueFileJob(&job, &settings);
            report[2] = FileJobInProgress(&job) || job.buffer != nullptr || job.key != nullptr;
            _exit(write(pipeEnds[1], report, sizeof report) == sizeof report ? 0 : 1);
        }
        close(pipeEnds[1]);
        int32_t report[3] = {};
        ASSERT_EQ(read(pipeEnds[0], report, sizeof report), ssize_t(sizeof report));
        close(pipeEnds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(report[0], percent == 0 ? 7 : -1);
        EXPECT_EQ(report[1], 7);
        EXPECT_EQ(report[2], 0) << "the job ends all the same";
        EXPECT_EQ(ReadBytes(path), plain);
    }
}

TEST_F(FileJobTest, FilesPastSigned32BitPositionsAreRefused) {
    // 2^32 + 16 would pass for a 16-byte file through a 32-bit position.
    const uint64_t lengths[] = {(1ull << 31) - 1, 1ull << 31, (1ull << 32) + 16};
    Bytes head(16, 0x42);
    for (uint64_t length : lengths) {
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

}  // namespace
