// A short game session against the module, printed as a designer would see it.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "testhost/module_api.h"
#include "testhost/test_host.h"

#if defined(_WIN32)
#include <windows.h>
#endif

static const char* ErrorMeaning(int32_t code) {
    static const char* const meanings[] = {
        "no error",
        "key longer than 56 bytes (cut)",
        "no key of that name",
        "key exists already",
        "character not in the filter",
        "character code outside 0 to 255",
        "file cannot be opened or read",
        "file cannot be written back",
        "a file is being worked on already",
        "key cannot be removed during file work",
    };
    return code >= 0 && code <= 9 ? meanings[code] : "unknown";
}

static void AddKey(TestHost& host, RunData* object, const std::string& key) {
    std::vector<std::string> texts{key};
    host.ActionText(object, 0, texts);
}

static bool KeyExists(TestHost& host, RunData* object, std::string key) {
    return host.Condition(object, 1, reinterpret_cast<HostValue>(key.data())) == 1;
}

static void ShowKeysAndNumbers(TestHost& host, RunData* object) {
    std::printf("\nKeys and numbers\n");
    AddKey(host, object, "dragon");
    std::printf("  Add an Encryption Key \"dragon\"; Does a Specific Key Exist? \"dragon\": %s,"
                " \"Dragon\": %s\n", KeyExists(host, object, "dragon") ? "yes" : "no",
                KeyExists(host, object, "Dragon") ? "yes" : "no");
    std::printf("  Add an Encryption Key \"dragon\" again:\n");
    AddKey(host, object, "dragon");
    std::printf("  Add an Encryption Key with a 60-character text:\n");
    AddKey(host, object, std::string(60, 'k'));

    const int32_t score = 1234567, level = 42;
    auto half = [&](int code, int32_t l, int32_t r, int32_t selector) {
        return static_cast<int32_t>(host.Expression(
            object, code, {HostParam::Str("dragon"), HostParam::Int(l), HostParam::Int(r),
                           HostParam::Int(selector)}));
    };
    const int32_t a = half(0, score, level, 0), b = half(0, score, level, 2);
    std::printf("  EncryptInteger(\"dragon\", %d, %d, 0/2) = %d, %d\n", score, level, a, b);
    std::printf("  DecryptInteger(\"dragon\", %d, %d, 0/2) = %d, %d\n", a, b,
                half(3, a, b, 0), half(3, a, b, 2));

    const float health = 87.25f;
    const auto bits = static_cast<int32_t>(
        host.Expression(object, 1, {HostParam::Float(health)}));
    const int32_t fa = half(0, bits, 0, 0), fb = half(0, bits, 0, 2);
    const auto back = static_cast<int32_t>(host.Expression(
        object, 4, {HostParam::Int(half(3, fa, fb, 0))}));
    float restored;
    std::memcpy(&restored, &back, sizeof restored);
    std::printf("  the float %.2f: ConvertToInteger( %d, encrypted %d %d, decrypted and "
                "ConvertToFloat( %.2f\n", health, bits, fa, fb, restored);
    const auto unchanged = static_cast<int32_t>(host.Expression(
        object, 0, {HostParam::Str("ghost"), HostParam::Int(7), HostParam::Int(8),
                    HostParam::Int(0)}));
    std::printf("  EncryptInteger( with a key never added returns its input: %d,"
                " ExpressionErrorCode( = %d\n", unchanged,
                static_cast<int32_t>(host.Expression(object, 9)));
    host.Action(object, 6);
}

static std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 32 || c >= 127) out += "\\x" + std::string(1, "0123456789ABCDEF"[c >> 4]) +
                           "0123456789ABCDEF"[c & 15];
        else out += static_cast<char>(c);
    }
    return out;
}

static void ShowStrings(TestHost& host, RunData* object) {
    std::printf("\nStrings\n");
    const std::string sentence = "The treasure is under the old oak tree.";
    const std::string cipher = host.ExpressionText(
        object, 2, {HostParam::Str("dragon"), HostParam::Str(sentence)});
    std::printf("  (bytes outside printable ASCII are shown here as \\xNN)\n");
    std::printf("  EncryptString$(\"dragon\", \"%s\")\n    = \"%s\"\n", sentence.c_str(),
                Printable(cipher).c_str());
    std::printf("  DecryptString$ of it = \"%s\"\n", host.ExpressionText(
        object, 5, {HostParam::Str("dragon"), HostParam::Str(cipher)}).c_str());

    RunData* web = host.Create(TestHost::NewEditData(1, "&=,. ?+", {9, 10, 12, 13}));
    const std::string webCipher = host.ExpressionText(
        web, 2, {HostParam::Str("dragon"), HostParam::Str(sentence)});
    std::printf("  from an object with the \"Internet\" characters &=,. ?+ filtered too:\n"
                "    = \"%s\"\n", Printable(webCipher).c_str());
    std::printf("  DecryptString$ of it = \"%s\"\n", host.ExpressionText(
        web, 5, {HostParam::Str("dragon"), HostParam::Str(webCipher)}).c_str());
    host.Destroy(web);
    std::printf("  (the filter set is shared: the space and the other \"Internet\" characters"
                " stay filtered for every object)\n");

    const std::string raw = "50% off\ttoday\n";
    const std::string filtered = host.ExpressionText(object, 6, {HostParam::Str(raw)});
    std::printf("  FilterString$(\"%s\") = \"%s\"\n", Printable(raw).c_str(),
                filtered.c_str());
    std::printf("  DefilterString$ of it = \"%s\"\n", Printable(host.ExpressionText(
        object, 7, {HostParam::Str(filtered)})).c_str());
}

static std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

static void ShowFiles(TestHost& host, RunData* object) {
    std::printf("\nFiles\n");
    const std::string path =
        (std::filesystem::temp_directory_path() / "ciphrel-demo-save.dat").string();
    std::vector<uint8_t> original(3 * 1024 * 1024 + 5);
    uint32_t state = 12345;
    for (uint8_t& b : original) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 24);
    }
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(original.data(), 1, original.size(), f);
        std::fclose(f);
    }
    std::printf("  a saved game of %zu bytes\n", original.size());

    bool done = false;
    host.onEvent = [&](const HostEvent& event) {
        if (event.condition == 6) done = true;
        if (event.condition == 0)
            std::printf("  On Error: ErrorCode( = %d\n",
                        static_cast<int32_t>(host.Expression(event.object, 8)));
    };
    host.Action(object, 14, 20);                // Set File Work Percentage Interval to 20 %
    std::vector<std::string> texts{"dragon", path};
    host.ActionText(object, 7, texts);          // Encrypt a File
    std::printf("  Encrypt a File with 20%% a frame: FileSize( = %d\n",
                static_cast<int32_t>(host.Expression(object, 14)));
    for (int frame = 1; !done && frame <= 100; ++frame) {
        const int16_t again = host.Frame(object);
        std::printf("  frame %d: FileProgress( = %d%s\n", frame,
                    static_cast<int32_t>(host.Expression(object, 12)),
                    done ? ", File is Done Being Encrypted/Decrypted" : "");
        if (again != 0) break;
    }
    const std::vector<uint8_t> encrypted = ReadAll(path);
    std::printf("  the file is now %zu bytes (padded to a whole block), %s\n", encrypted.size(),
                std::memcmp(encrypted.data(), original.data(), 64) != 0 ? "unreadable"
                                                                        : "UNCHANGED?");

    host.Action(object, 14, 0);                 // no budget: the whole job within the action
    done = false;
    host.ActionText(object, 8, texts);          // Decrypt a File
    const std::vector<uint8_t> decrypted = ReadAll(path);
    bool same = decrypted.size() >= original.size() &&
                std::memcmp(decrypted.data(), original.data(), original.size()) == 0;
    for (size_t i = original.size(); same && i < decrypted.size(); ++i) same = decrypted[i] == 0;
    std::printf("  Decrypt a File at once: %s; the original %s, followed by %zu zero bytes\n",
                done ? "done within the action" : "NOT DONE",
                same ? "comes back byte for byte" : "DOES NOT COME BACK",
                decrypted.size() - original.size());
    std::remove(path.c_str());
    host.onEvent = nullptr;
}

int main() {
    TestHost host;
    const ModuleApi& api = host.Module();
    std::printf("Ciphrel Encryption Object\n");
#if defined(_WIN32)
    // Says which file the session runs on, as the host would have loaded it.
    char path[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("ciphrel.dll"), path, sizeof path);
    std::printf("  module %s (%d-bit)\n", path, static_cast<int>(sizeof(void*) * 8));
#endif
    RunObjectInfos infos{};
    api.GetRunObjectInfos(0, &infos);
    std::printf("  identifier %.4s, %d conditions, %d actions, %d expressions, "
                "settings record %d bytes (version %d)\n",
                infos.identifier, infos.conditionCount, infos.actionCount,
                infos.expressionCount, infos.editDataSize, infos.editDataVersion);
    std::printf("  run-time record %u bytes\n\n", api.GetRunObjectDataSize(0, 0));

    host.Initialize();
    RunData* object = host.Create(TestHost::NewEditData());
    std::printf("Object created from a new record: filter control codes on, padding on,\n"
                "codes 10 12 13 filtered; no error (ErrorCode( = %d).\n\n",
                static_cast<int32_t>(host.Expression(object, 8)));

    host.onEvent = [&](const HostEvent& event) {
        if (event.condition != 0) return;
        const auto code = static_cast<int32_t>(host.Expression(event.object, 8));
        std::printf("  On Error: ErrorCode( = %d (%s)\n", code, ErrorMeaning(code));
    };
    std::printf("Remove an Encryption Key \"hero\" (never added):\n");
    std::vector<std::string> texts{"hero"};
    host.ActionText(object, 1, texts);
    std::printf("  after the event, ErrorCode( = %d\n\n",
                static_cast<int32_t>(host.Expression(object, 8)));

    std::printf("RandomKey$(57) asks for more than 56 characters:\n");
    const std::string key = host.ExpressionText(object, 10, {HostParam::Int(57)});
    std::printf("  a key of %zu characters, ExpressionErrorCode( = %d\n", key.size(),
                static_cast<int32_t>(host.Expression(object, 9)));
    host.Action(object, 6);
    std::printf("  after Clear Expression Error Code, ExpressionErrorCode( = %d\n",
                static_cast<int32_t>(host.Expression(object, 9)));

    ShowKeysAndNumbers(host, object);
    ShowStrings(host, object);
    ShowFiles(host, object);

    host.Destroy(object);
    host.Free();
    if (!host.faults.empty()) {
        std::printf("host protocol fault: %s\n", host.faults.front().c_str());
        return 1;
    }
    return 0;
}
