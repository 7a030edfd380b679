// The module's routines, driven in-process through the test host, give the known answers
// that the tool's and the kit's tests hold the tool and the kit to.
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

class ModuleAnswers : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        dir = fs::path(testing::TempDir()) / "module_answers";
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
        host.Action(object, Code::SetTimeInterval, 0);      // files are worked at once
        host.Action(object, Code::SetPercentInterval, 0);
        return object;
    }
    void AddKey(RunData* object, const std::string& key) {
        if (host.Condition(object, Code::KeyExists, Text(const_cast<char*>(key.c_str()))) != 0) {
            return;                     // keys are module-wide and vectors share them
        }
        std::vector<std::string> texts{key};
        host.ActionText(object, Code::AddKey, texts);
    }
    std::string ModuleString(RunData* object, int code, const std::string& key,
                             const std::string& text) {
        return host.ExpressionText(object, code,
                                   {HostParam::Str(key), HostParam::Ptr(text.c_str())});
    }

    fs::path dir;
    std::vector<int32_t> errors;
};

TEST_F(ModuleAnswers, ModuleGivesTheKnownAnswers) {
    const std::vector<KnownAnswer> answers = LoadKnownAnswers();
    ASSERT_GE(answers.size(), 20u);
    for (const KnownAnswer& answer : answers) {
        SCOPED_TRACE(answer.name);
        FilterSettings settings = ParseFilterSettings(answer.kind == "string" ? answer.settings
                                                                              : "control=1");
        RunData* o = NewObject(settings.controlCodes ? 1 : 0, settings.characters.c_str(),
                               settings.codes);
        AddKey(o, answer.key);
        std::string plain(answer.plain.begin(), answer.plain.end());
        if (answer.kind == "string") {
            EXPECT_EQ(ModuleString(o, Code::EncryptString, answer.key, plain), answer.escaped);
            EXPECT_EQ(ModuleString(o, Code::DecryptString, answer.key, answer.escaped), plain);
        } else if (answer.kind == "block") {
            uint32_t words[2];
            std::memcpy(words, answer.plain.data(), sizeof words);
            for (int32_t selector : {0, 2}) {
                int32_t half = int32_t(host.Expression(
                    o, Code::EncryptInteger, {HostParam::Str(answer.key), HostParam::Int(int32_t(words[0])),
                                              HostParam::Int(int32_t(words[1])), HostParam::Int(selector)}));
                EXPECT_EQ(0, std::memcmp(&half, answer.cipher.data() + selector * 2, 4));
            }
        } else {
            host.Action(o, answer.settings == "no-padding" ? Code::NoPadding : Code::Padding);
            const std::string path = (dir / "file").string();
            WriteBytes(path, answer.plain);
            std::vector<std::string> texts{answer.key, path};
            host.ActionText(o, Code::EncryptFile, texts);
            EXPECT_EQ(ReadBytes(path), answer.cipher);
        }
        host.Destroy(o);
    }
}

}  // namespace
