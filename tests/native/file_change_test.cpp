// A file changed by someone else while its job is pending: the job writes back what it
// read at the start, over the first bytes, and neither fails nor touches anything past them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/file_job.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

long FrozenClock() { return 0; }

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const Bytes& content, bool append = false) {
    std::ofstream(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc))
        .write(reinterpret_cast<const char*>(content.data()), long(content.size()));
}

class FileChange : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "file_change.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        path = dir / "save.dat";
        ExpandKey(&key, reinterpret_cast<const uint8_t*>("save key"), 8);
        savedClock = fileJobClock;
        fileJobClock = FrozenClock;
    }
    void TearDown() override {
        AbandonFileJob(&job);
        fileJobClock = savedClock;
        fs::remove_all(dir);
    }

    // What one uninterrupted pass over `content` writes: padded, every block encrypted.
    Bytes Encrypted(Bytes content) const {
        content.resize((content.size() + 7) / 8 * 8, 0);
        EncryptBlocks(&key, content.data(), content.size() / 8);
        return content;
    }

    fs::path dir, path;
    BlowfishContext key;
    FileJob job{};
    FileSettings settings{0, 0, 25};      // padded, four continuations
    ClockFunction savedClock;
};

TEST_F(FileChange, TheJobWritesWhatItReadOverTheFirstBytes) {
    Bytes plain(44);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 7 + 1);
    const Bytes appended = {'m', 'o', 'r', 'e', ' ', 'b', 'y', 't', 'e', 's', ' ', 'a', 'f',
                            't', 'e', 'r', ' ', 't', 'h', 'e', ' ', 'e', 'n', 'd', '!'};
    const Bytes written = Encrypted(plain);      // 48 bytes
    struct Case {
        const char* name;
        std::function<void()> change;
        Bytes expected;
    };
    Bytes grown = written;
    grown.insert(grown.end(), appended.begin() + 4, appended.end());   // past the 48 bytes
    const Case cases[] = {
        {"emptied", [&] { WriteFile(path, {}); }, written},
        {"cut short", [&] { ASSERT_EQ(truncate(path.c_str(), 5), 0); }, written},
        {"grown", [&] { WriteFile(path, appended, true); }, grown},
        {"rewritten", [&] { WriteFile(path, Bytes(44, 0xEE)); }, written},
        {"longer and rewritten", [&] { WriteFile(path, Bytes(100, 0xEE)); },
         [&] { Bytes b = written; b.resize(100, 0xEE); return b; }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(path, plain);
        ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
        ASSERT_EQ(ContinueFileJob(&job, &settings), -1);
        c.change();
        int32_t result = -1;
        for (int frame = 0; frame < 8 && result == -1; ++frame)
            result = ContinueFileJob(&job, &settings);
        EXPECT_EQ(result, 0);
        EXPECT_FALSE(FileJobInProgress(&job));
        EXPECT_EQ(job.bytesToWrite, 48u);
        EXPECT_EQ(ReadFile(path), c.expected);
    }
}

TEST_F(FileChange, UnpaddedJobWritesTheFinalPieceAsItWasRead) {
    // Without padding only the whole blocks read at the start are written; a final piece
    // changed meanwhile is written back as it was read, the rest is left alone.
    settings.noPadding = 1;
    const Bytes plain(21, 0x33);
    WriteFile(path, plain);
    ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
    WriteFile(path, Bytes(30, 0x44));
    int32_t result = -1;
    for (int frame = 0; frame < 8 && result == -1; ++frame)
        result = ContinueFileJob(&job, &settings);
    EXPECT_EQ(result, 0);
    Bytes expected = Encrypted(Bytes(16, 0x33));
    expected.insert(expected.end(), 5, 0x33);       // the piece as read at the start
    expected.insert(expected.end(), 9, 0x44);       // past what the job read
    EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(FileChange, DeletedFileEndsTheJobWithoutBringingItBack) {
    WriteFile(path, Bytes(40, 0x55));
    ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
    fs::remove(path);
    int32_t result = -1;
    for (int frame = 0; frame < 8 && result == -1; ++frame)
        result = ContinueFileJob(&job, &settings);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(FileJobInProgress(&job));
    EXPECT_FALSE(fs::exists(path));
    // The next job at the same place starts afresh.
    WriteFile(path, Bytes(8, 0x66));
    settings.percentInterval = 0;
    EXPECT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), 0);
    EXPECT_EQ(ReadFile(path), Encrypted(Bytes(8, 0x66)));
}

TEST_F(FileChange, AbandonedJobLeavesTheOtherWritersContent) {
    WriteFile(path, Bytes(40, 0x77));
    ASSERT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, ModeEncrypt), -1);
    ASSERT_EQ(ContinueFileJob(&job, &settings), -1);
    const Bytes other(13, 0x88);
    WriteFile(path, other);
    AbandonFileJob(&job);
    EXPECT_EQ(ReadFile(path), other);
}

}  // namespace
