// The test host: plays the host application around the module, in-process (native build)
// or around the real ciphrel.dll (Windows build).
#include "testhost/test_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "designer/edit_data.h"
#include "testhost/module_api.h"

#ifdef _WIN32
#include <windows.h>

template <typename F>
static void Resolve(HMODULE module, const char* name, F* slot) {
    FARPROC address = GetProcAddress(module, name);
    if (address == nullptr) {
        std::fprintf(stderr, "test host: ciphrel.dll exports no %s\n", name);
        std::exit(2);
    }
    *slot = reinterpret_cast<F>(reinterpret_cast<void*>(address));
}

const ModuleApi& LoadModule() {
    static ModuleApi api = [] {
        ModuleApi loaded{};
        HMODULE module = LoadLibraryA("ciphrel.dll");
        if (module == nullptr) {
            std::fprintf(stderr, "test host: cannot load ciphrel.dll (error %lu)\n",
                         GetLastError());
            std::exit(2);
        }
        loaded.moduleHandle = module;
#define CIPHREL_RESOLVE(name) Resolve(module, #name, &loaded.name)
        CIPHREL_RESOLVE(Initialize);
        CIPHREL_RESOLVE(Free);
        CIPHREL_RESOLVE(GetInfos);
        CIPHREL_RESOLVE(GetRunObjectInfos);
        CIPHREL_RESOLVE(GetRunObjectDataSize);
        CIPHREL_RESOLVE(CreateRunObject);
        CIPHREL_RESOLVE(DestroyRunObject);
        CIPHREL_RESOLVE(HandleRunObject);
        CIPHREL_RESOLVE(DisplayRunObject);
        CIPHREL_RESOLVE(PauseRunObject);
        CIPHREL_RESOLVE(ContinueRunObject);
        CIPHREL_RESOLVE(UpdateEditStructure);
        CIPHREL_RESOLVE(PrepareToWriteObject);
#undef CIPHREL_RESOLVE
        return loaded;
    }();
    return api;
}

void FreeHostRecord(void* record) { GlobalFree(record); }
#else
const ModuleApi& LoadModule() {
    static const ModuleApi api = {
        ::Initialize, ::Free, ::GetInfos, ::GetRunObjectInfos, ::GetRunObjectDataSize,
        ::CreateRunObject, ::DestroyRunObject, ::HandleRunObject, ::DisplayRunObject,
        ::PauseRunObject, ::ContinueRunObject, ::UpdateEditStructure,
        ::PrepareToWriteObject, nullptr,
    };
    return api;
}

void FreeHostRecord(void* record) { std::free(record); }
#endif

HostParam HostParam::Float(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return {ParamFloat, static_cast<HostValue>(static_cast<int32_t>(bits)), {}};
}

// The services find their host through the RunHeader, which lives inside the TestHost.
static TestHost* HostOf(RunData* rd) {
    void* header = GetRunHeader(rd);
    return static_cast<TestHost*>(static_cast<void**>(header)[0]);
}

#define CIPHREL_SERVICE(name, id)                                                     \
    static HostValue CIPHREL_STDCALL name(RunData* rd, uint32_t a, uint32_t b) {      \
        HostValue result = 0;                                                         \
        HostOf(rd)->Serve(rd, id, a, b, &result);                                     \
        return result;                                                                \
    }
CIPHREL_SERVICE(ServiceReHandle, RunHeaderReHandle)
CIPHREL_SERVICE(ServiceGenerateEvent, RunHeaderGenerateEvent)
CIPHREL_SERVICE(ServiceFirstParameter, RunHeaderGetFirstParameter)
CIPHREL_SERVICE(ServiceNextParameter, RunHeaderGetNextParameter)
#undef CIPHREL_SERVICE

TestHost::TestHost() : api(&LoadModule()) {
    runHeader[0] = this;        // entry 0 is the host's own; this host keeps itself there
    runHeader[RunHeaderReHandle] = reinterpret_cast<void*>(ServiceReHandle);
    runHeader[RunHeaderGenerateEvent] = reinterpret_cast<void*>(ServiceGenerateEvent);
    runHeader[RunHeaderGetFirstParameter] = reinterpret_cast<void*>(ServiceFirstParameter);
    runHeader[RunHeaderGetNextParameter] = reinterpret_cast<void*>(ServiceNextParameter);
    RunObjectInfos infos{};
    api->GetRunObjectInfos(0, &infos);
    conditions = infos.conditions;
    actions = infos.actions;
    expressions = infos.expressions;
}

TestHost::~TestHost() {
    while (!objects.empty()) Destroy(objects.back());
}

std::vector<uint8_t> TestHost::NewEditData(uint16_t flags, const char* characters,
                                           std::vector<uint16_t> codes) {
    EditData record{};
    record.size = EditDataSize;
    record.version = EditDataVersion;
    InitEditData(&record, 0x01050000);
    record.flags = flags;
    std::strncpy(record.filterCharacters, characters, MaxFilterCharacters);
    size_t n = 0;
    for (; n < codes.size() && n < MaxFilterCodes; ++n) record.filterCodes[n] = codes[n];
    record.filterCodes[n] = CodeListEnd;
    std::vector<uint8_t> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

int32_t TestHost::Initialize() { return api->Initialize(0, 0); }
int32_t TestHost::Free() { return api->Free(0); }

RunData* TestHost::Create(const std::vector<uint8_t>& editData) {
    const uint16_t size = api->GetRunObjectDataSize(0, 0);
    auto* rd = static_cast<RunData*>(std::calloc(1, size));
    SetRunHeader(rd, runHeader);
    std::vector<uint8_t> record = editData;     // the host's copy, as it would pass it
    api->CreateRunObject(rd, reinterpret_cast<EditData*>(record.data()), 0);
    objects.push_back(rd);
    return rd;
}

void TestHost::Destroy(RunData* object) {
    api->DestroyRunObject(object, 0);
    for (size_t i = 0; i < objects.size(); ++i) {
        if (objects[i] == object) {
            objects.erase(objects.begin() + static_cast<long>(i));
            break;
        }
    }
    std::free(object);
}

int32_t TestHost::Condition(RunData* object, int code, HostValue p1, HostValue p2) {
    return conditions[code](object, p1, p2);
}

int16_t TestHost::Action(RunData* object, int code, HostValue p1, HostValue p2) {
    return actions[code](object, p1, p2);
}

int16_t TestHost::ActionText(RunData* object, int code, std::vector<std::string>& texts) {
    // Writable NUL-terminated copies, as the host hands text parameters to actions.
    std::vector<std::vector<char>> copies;
    for (const std::string& text : texts) {
        copies.emplace_back(text.begin(), text.end());
        copies.back().push_back('\0');
    }
    HostValue params[2] = {0, 0};
    for (size_t i = 0; i < copies.size() && i < 2; ++i)
        params[i] = reinterpret_cast<HostValue>(copies[i].data());
    const int16_t result = Action(object, code, params[0], params[1]);
    for (size_t i = 0; i < copies.size(); ++i) texts[i] = copies[i].data();
    return result;
}

HostValue TestHost::Expression(RunData* object, int code, std::vector<HostParam> params) {
    return CallExpression(object, code, std::move(params), nullptr);
}

std::string TestHost::ExpressionText(RunData* object, int code,
                                     std::vector<HostParam> params) {
    std::string text;
    CallExpression(object, code, std::move(params), &text);
    return text;
}

HostValue TestHost::CallExpression(RunData* object, int code, std::vector<HostParam> params,
                                   std::string* text) {
    // Nested calls (from events) keep their own parameter lists.
    std::vector<HostParam> outer = std::move(pending);
    const size_t outerNext = nextParam;
    pending = std::move(params);
    for (HostParam& p : pending)
        if (p.type == ParamString && p.value == 0) p.value = StringResult(p.text.c_str());
    nextParam = 0;
    SetHostFlags(object, GetHostFlags(object) & ~(ResultIsString | ResultIsFloat));
    const HostValue result = expressions[code](object, 0x5A5A);
    if (nextParam != pending.size())
        faults.push_back("expression " + std::to_string(code) + " fetched " +
                         std::to_string(nextParam) + " of " +
                         std::to_string(pending.size()) + " parameters");
    if (text != nullptr) {
        // Read while the parameters live: a routine may hand one back as its result.
        if ((GetHostFlags(object) & ResultIsString) == 0)
            faults.push_back("expression " + std::to_string(code) + " returned no string");
        else
            *text = reinterpret_cast<const char*>(result);
    }
    pending = std::move(outer);
    nextParam = outerNext;
    return result;
}

int16_t TestHost::Frame(RunData* object) { return api->HandleRunObject(object); }

void TestHost::Serve(RunData* rd, int service, uint32_t a, uint32_t b, HostValue* result) {
    switch (service) {
    case RunHeaderReHandle:
        rehandles.push_back(rd);
        break;
    case RunHeaderGenerateEvent: {
        const HostEvent event{rd, static_cast<int32_t>(a), rd->errorCode};
        if (onEvent) onEvent(event);
        events.push_back(event);
        break;
    }
    case RunHeaderGetFirstParameter:
    case RunHeaderGetNextParameter: {
        if (b != 0x5A5A) faults.push_back("pass value not handed on");
        if ((service == RunHeaderGetFirstParameter) != (nextParam == 0))
            faults.push_back("first parameter fetched out of turn");
        if (nextParam >= pending.size()) {
            faults.push_back("parameter " + std::to_string(nextParam) + " fetched, " +
                             std::to_string(pending.size()) + " given");
            return;
        }
        const HostParam& p = pending[nextParam++];
        if (p.type != a)
            faults.push_back("parameter " + std::to_string(nextParam - 1) +
                             " fetched as type " + std::to_string(a) + ", expected " +
                             std::to_string(p.type));
        *result = p.value;
        break;
    }
    default:
        break;
    }
}
