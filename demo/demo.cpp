// A short game session against the module, printed as a designer would see it.
#include <cstdio>
#include <string>
#include <vector>

#include "testhost/module_api.h"
#include "testhost/test_host.h"

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

int main() {
    TestHost host;
    const ModuleApi& api = host.Module();
    std::printf("Ciphrel Encryption Object\n");
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

    host.Destroy(object);
    host.Free();
    if (!host.faults.empty()) {
        std::printf("host protocol fault: %s\n", host.faults.front().c_str());
        return 1;
    }
    return 0;
}
