// The tool against the module's routines, driven in-process through the test host: the
// known answer strings, and the same strings, numbers and files through both give the
// same bytes, each side decrypting what the other wrote.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/cli/known_answers.h"
#include "tests/module/module_fixture.h"
#include "tests/test_files.h"

namespace {

using namespace testfiles;
namespace fs = std::filesystem;

struct CliResult {
    int status;                 // the exit status, or -1 when killed
    std::string out;            // standard output, without its final newline
};

// Runs the built tool with `args`; standard error passes through to the test's log.
CliResult RunCli(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return {-1, ""};
    pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv{const_cast<char*>(CIPHREL_CLI)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(CIPHREL_CLI, argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fds[0], chunk, sizeof chunk)) > 0) out.append(chunk, size_t(got));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string Hex(const std::string& bytes) {
    std::string hex;
    for (unsigned char c : bytes) {
        hex.push_back("0123456789abcdef"[c / 16]);
        hex.push_back("0123456789abcdef"[c % 16]);
    }
    return hex;
}

// One filter setting, as the tool's options and as the object's settings record.
struct Filter {
    const char* name;
    std::vector<std::string> options;
    uint16_t flags;
    const char* characters;
    std::vector<uint16_t> codes;
};

const Filter Filters[] = {
    {"default", {}, 1, "", {10, 12, 13}},
    {"no control codes", {"--no-control-codes"}, 0, "", {10, 12, 13}},
    {"internet", {"--preset", "internet"}, 1, "&=,. ?+", {9, 10, 12, 13}},
    {"custom", {"--no-control-codes", "--chars", "aeiou", "--codes", "7 128 255"}, 0,
     "aeiou", {7, 128, 255}},
};

class CliParity : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        dir = fs::path(testing::TempDir()) /
              (std::string("cli_parity_") +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        host.onEvent = [this](const HostEvent& e) {
            if (e.condition == Code::OnError) errors.push_back(e.errorCode);
        };
    }
    void TearDown() override {
        ModuleTest::TearDown();
        fs::remove_all(dir);
        EXPECT_TRUE(errors.empty()) << "first error: " << errors.front();
    }

    // A new object on a module whose shared filter is empty, as after loading: the
    // filter then holds exactly what these settings give.
    RunData* NewObject(uint16_t flags, const char* characters, std::vector<uint16_t> codes) {
        RunData* cleaner = host.Create(TestHost::NewEditData(0, "", {}));
        host.Action(cleaner, Code::DisableControlCodes);
        auto saved = host.onEvent;
        host.onEvent = nullptr;         // removing an absent code reports error 4
        for (int32_t c = 0; c < 256; ++c) host.Action(cleaner, Code::RemoveCode, c);
        host.onEvent = saved;
        host.Destroy(cleaner);
        RunData* object = host.Create(TestHost::NewEditData(flags, characters, codes));
        // Files are worked at once, whatever an earlier test left.
        host.Action(object, Code::SetTimeInterval, 0);
        host.Action(object, Code::SetPercentInterval, 0);
        host.events.clear();
        return object;
    }
    // Keys are module-wide and several vectors share one: add each once.
    void AddKey(RunData* object, const std::string& key) {
        char* text = const_cast<char*>(key.c_str());
        if (host.Condition(object, Code::KeyExists, Text(text)) != 0) return;
        std::vector<std::string> texts{key};
        host.ActionText(object, Code::AddKey, texts);
    }
    std::string ModuleString(RunData* object, int code, const std::string& key,
                             const std::string& text) {
        return host.ExpressionText(object, code,
                                   {HostParam::Str(key), HostParam::Ptr(text.c_str())});
    }
    int32_t ModuleInteger(RunData* object, int code, const std::string& key, uint32_t l,
                          uint32_t r, int32_t selector) {
        return int32_t(host.Expression(object, code,
                                       {HostParam::Str(key), HostParam::Int(int32_t(l)),
                                        HostParam::Int(int32_t(r)), HostParam::Int(selector)}));
    }
    // "Encrypt a File" or "Decrypt a File" on `path`, in place.
    void ModuleFile(RunData* object, int code, const std::string& key, const std::string& path) {
        std::vector<std::string> texts{key, path};
        host.ActionText(object, code, texts);
    }

    fs::path dir;
    std::vector<int32_t> errors;
};

TEST_F(CliParity, ModuleWritesTheKnownAnswerStrings) {
    for (const KnownAnswer& answer : LoadKnownAnswers()) {
        if (answer.kind != "string") continue;
        FilterSettings settings = ParseFilterSettings(answer.settings);
        RunData* o = NewObject(settings.controlCodes ? 1 : 0, settings.characters.c_str(),
                               settings.codes);
        AddKey(o, answer.key);
        std::string plain(answer.plain.begin(), answer.plain.end());
        EXPECT_EQ(ModuleString(o, Code::EncryptString, answer.key, plain), answer.escaped)
            << answer.name;
        EXPECT_EQ(ModuleString(o, Code::DecryptString, answer.key, answer.escaped), plain)
            << answer.name;
        host.Destroy(o);
    }
}

TEST_F(CliParity, StringsAreTheSameUnderEveryFilterAndEachSideReadsTheOther) {
    std::mt19937 random(7);
    std::string noisy;
    for (int i = 0; i < 200; ++i) noisy.push_back(char(1 + random() % 255));
    const std::string texts[] = {
        "", "A", "12345678", "123456789", "Grüße aus Zürich, 東京, Καλημέρα",
        "tabs\tand\r\nline ends", "50% of a=1&b=2, c+d?", noisy,
    };
    const std::string keys[] = {"secret", "k", std::string(56, 'K')};
    for (const Filter& filter : Filters) {
        RunData* o = NewObject(filter.flags, filter.characters, filter.codes);
        for (const std::string& key : keys) AddKey(o, key);
        for (const std::string& key : keys) {
            for (const std::string& text : texts) {
                std::vector<std::string> args{"encrypt-string", "--key-hex", Hex(key)};
                args.insert(args.end(), filter.options.begin(), filter.options.end());
                args.push_back(text);
                CliResult cli = RunCli(args);
                ASSERT_EQ(cli.status, 0) << filter.name;
                std::string module = ModuleString(o, Code::EncryptString, key, text);
                EXPECT_EQ(cli.out, module) << filter.name << ", text " << Hex(text);
                EXPECT_EQ(ModuleString(o, Code::DecryptString, key, cli.out), text);
                EXPECT_EQ(RunCli({"decrypt-string", "--key-hex", Hex(key), module}).out, text)
                    << filter.name << ", text " << Hex(text);
            }
        }
        host.Destroy(o);
    }
}

TEST_F(CliParity, FilesAreTheSameWithAndWithoutPaddingAndEachSideReadsTheOther) {
    const std::string key = "save-game key";
    RunData* o = NewObject(1, "", {10, 12, 13});
    AddKey(o, key);
    std::mt19937 random(11);
    const size_t sizes[] = {0, 1, 7, 8, 9, 13, 4096 + 5, (size_t{3} << 20) + 3};
    for (bool pad : {true, false}) {
        host.Action(o, pad ? Code::Padding : Code::NoPadding);
        std::vector<std::string> padding;
        if (!pad) padding.push_back("--no-padding");
        for (size_t size : sizes) {
            SCOPED_TRACE(std::to_string(size) + (pad ? " bytes, padded" : " bytes, unpadded"));
            const Bytes plain = RandomBytes(random, size);
            const std::string source = (dir / "plain").string();
            const std::string byModule = (dir / "module").string();
            const std::string byCli = (dir / "cli").string();
            WriteBytes(source, plain);
            WriteBytes(byModule, plain);
            ModuleFile(o, Code::EncryptFile, key, byModule);

            std::vector<std::string> args{"encrypt-file", "--key", key};
            args.insert(args.end(), padding.begin(), padding.end());
            args.insert(args.end(), {source, "-o", byCli});
            ASSERT_EQ(RunCli(args).status, 0);
            const Bytes cipher = ReadBytes(byModule);
            ASSERT_EQ(ReadBytes(byCli), cipher);
            EXPECT_EQ(cipher.size(), pad ? PadToBlocks(plain).size() : plain.size());

            // Crossed over: the module decrypts the tool's file, the tool the module's.
            const Bytes expected = pad ? PadToBlocks(plain) : plain;
            ModuleFile(o, Code::DecryptFile, key, byCli);
            EXPECT_EQ(ReadBytes(byCli), expected);
            args = {"decrypt-file", "--key", key};
            args.insert(args.end(), padding.begin(), padding.end());
            args.push_back(byModule);
            ASSERT_EQ(RunCli(args).status, 0);
            EXPECT_EQ(ReadBytes(byModule), expected);
        }
    }
}

TEST_F(CliParity, IntegersAndFloatsAreTheSame) {
    const std::string key = "numbers";
    RunData* o = NewObject(1, "", {10, 12, 13});
    AddKey(o, key);
    const uint32_t pairs[][2] = {{0, 0}, {1, 2}, {0xFFFFFFFF, 0x80000000}, {12345, 0xDEADBEEF}};
    for (const auto& pair : pairs) {
        CliResult cli = RunCli({"encrypt-int", "--key", key, std::to_string(pair[0]),
                                std::to_string(pair[1])});
        ASSERT_EQ(cli.status, 0);
        int32_t l = ModuleInteger(o, Code::EncryptInteger, key, pair[0], pair[1], 0);
        int32_t r = ModuleInteger(o, Code::EncryptInteger, key, pair[0], pair[1], 2);
        EXPECT_EQ(cli.out, std::to_string(l) + " " + std::to_string(r));
        EXPECT_EQ(ModuleInteger(o, Code::DecryptInteger, key, uint32_t(l), uint32_t(r), 0),
                  int32_t(pair[0]));
        EXPECT_EQ(RunCli({"decrypt-int", "--key", key, std::to_string(l), std::to_string(r)})
                      .out,
                  std::to_string(int32_t(pair[0])) + " " + std::to_string(int32_t(pair[1])));
    }
    for (float value : {1.0f, -0.0f, 3.14159274f, -1e-40f, 3.4028235e38f}) {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", double(value));
        int32_t bits = int32_t(host.Expression(o, Code::ConvertToInteger,
                                               {HostParam::Float(value)}));
        EXPECT_EQ(RunCli({"to-int", text}).out, std::to_string(bits)) << text;
        float back = std::strtof(RunCli({"to-float", std::to_string(bits)}).out.c_str(), nullptr);
        int32_t floatBits = int32_t(host.Expression(o, Code::ConvertToFloat,
                                                    {HostParam::Int(bits)}));
        EXPECT_EQ(0, std::memcmp(&back, &floatBits, sizeof back)) << text;
    }
}

TEST_F(CliParity, FilterAndDefilterAreTheSame) {
    for (const Filter& filter : Filters) {
        RunData* o = NewObject(filter.flags, filter.characters, filter.codes);
        const std::string text = "50% off: a=1&b=2, tab\there?";
        std::vector<std::string> args{"filter"};
        args.insert(args.end(), filter.options.begin(), filter.options.end());
        args.push_back(text);
        EXPECT_EQ(RunCli(args).out,
                  host.ExpressionText(o, Code::FilterString, {HostParam::Str(text)}))
            << filter.name;
        host.Destroy(o);
    }
    RunData* o = NewObject(1, "", {10, 12, 13});
    for (const char* odd : {"A%41B", "%0a", "A%4", "50%25", "A%", "%zz%E9"}) {
        EXPECT_EQ(RunCli({"defilter", odd}).out,
                  host.ExpressionText(o, Code::DefilterString, {HostParam::Str(odd)}))
            << odd;
    }
}

}  // namespace
