// The shared known-answer vectors against OpenSSL's Blowfish, an independent escaper, and
// the engine's file job; the module's string routines meet them in the tool's tests.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/file_job.h"
#include "tests/cli/known_answers.h"
#include "tests/test_files.h"

namespace {

using namespace testfiles;
namespace fs = std::filesystem;

bool Padded(const KnownAnswer& answer) { return answer.settings != "no-padding"; }

// Which bytes a new object with these settings escapes on a freshly loaded module: '%'
// and the zero byte always, 1 to 31 while control codes are filtered, and its lists.
std::string ReferenceEscape(const Bytes& cipher, const FilterSettings& filter) {
    std::set<uint8_t> escaped{'%', 0};
    for (char c : filter.characters) escaped.insert(uint8_t(c));
    for (uint16_t code : filter.codes) escaped.insert(uint8_t(code));
    std::string out;
    for (uint8_t b : cipher) {
        if (escaped.count(b) != 0 || (filter.controlCodes && b < 32)) {
            const char* digits = "0123456789ABCDEF";
            out += {'%', digits[b / 16], digits[b % 16]};
        } else {
            out.push_back(char(b));
        }
    }
    return out;
}

const std::vector<KnownAnswer>& Answers() {
    static const std::vector<KnownAnswer> answers = LoadKnownAnswers();
    return answers;
}

BlowfishContext Expand(const std::string& key) {
    BlowfishContext context;
    ExpandKey(&context, reinterpret_cast<const uint8_t*>(key.data()), int32_t(key.size()));
    return context;
}

TEST(KnownAnswers, HoldEveryKindOfVectorUnderUniqueNames) {
    std::set<std::string> names;
    std::map<std::string, int> kinds;
    for (const KnownAnswer& answer : Answers()) {
        EXPECT_TRUE(names.insert(answer.name).second) << answer.name;
        ++kinds[answer.kind];
        EXPECT_LE(answer.key.size(), 56u) << answer.name;
        EXPECT_EQ(answer.key.find('\0'), std::string::npos) << answer.name;
    }
    EXPECT_GE(kinds["block"], 3);
    EXPECT_GE(kinds["string"], 10);
    EXPECT_GE(kinds["file"], 4);
    EXPECT_EQ(kinds.size(), 3u);
}

TEST(KnownAnswers, CipherBytesAreOpenSslBlowfishWithLittleEndianHalves) {
    for (const KnownAnswer& answer : Answers()) {
        Bytes plain = Padded(answer) ? PadToBlocks(answer.plain) : answer.plain;
        EXPECT_EQ(ReferenceCrypt(plain, answer.key, true), answer.cipher) << answer.name;
        EXPECT_EQ(ReferenceCrypt(answer.cipher, answer.key, false), plain) << answer.name;
    }
}

TEST(KnownAnswers, EscapedTextEscapesExactlyTheFilteredBytes) {
    for (const KnownAnswer& answer : Answers()) {
        if (answer.kind != "string") continue;
        FilterSettings filter = ParseFilterSettings(answer.settings);
        EXPECT_EQ(answer.escaped, ReferenceEscape(answer.cipher, filter)) << answer.name;
    }
}

class KnownAnswerFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = MakeTempDir("known_answers");
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override {
        AbandonFileJob(&job);
        fs::remove_all(dir);
    }

    Bytes RunJob(const Bytes& content, const BlowfishContext& key, uint8_t mode, bool pad) {
        const fs::path path = dir / "work.bin";
        WriteBytes(path, content);
        FileSettings settings{uint8_t(pad ? 0 : 1), 0, 0};
        EXPECT_EQ(StartFileJob(&job, &settings, path.c_str(), &key, mode), 0);
        return ReadBytes(path);
    }

    fs::path dir;
    FileJob job{};
};

TEST_F(KnownAnswerFiles, AreWhatTheFileJobWrites) {
    for (const KnownAnswer& answer : Answers()) {
        if (answer.kind != "file") continue;
        BlowfishContext context = Expand(answer.key);
        EXPECT_EQ(RunJob(answer.plain, context, ModeEncrypt, Padded(answer)), answer.cipher)
            << answer.name;
        // Decryption keeps the padding: the format does not record the plain length.
        Bytes expected = Padded(answer) ? PadToBlocks(answer.plain) : answer.plain;
        EXPECT_EQ(RunJob(answer.cipher, context, ModeDecrypt, Padded(answer)), expected)
            << answer.name;
    }
}

}  // namespace
