// A stand-in for the host application: loads the module, creates objects from EditData,
// calls routines through the tables, serves expression parameters, raises events.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include "runtime/host.h"

// One expression parameter as the host serves it, with the type the routine must ask for.
struct HostParam {
    uint32_t type;              // ParamInteger, ParamString or ParamFloat
    HostValue value;            // the integer, the float's bits, or a string's address
    std::string text;           // the string's bytes when the host owns the copy

    static HostParam Int(int32_t v) { return {ParamInteger, v, {}}; }
    static HostParam Float(float f);
    static HostParam Str(std::string s) { return {ParamString, 0, std::move(s)}; }
    // A string the caller keeps alive (for example an earlier string result).
    static HostParam Ptr(const char* s) { return {ParamString, StringResult(s), {}}; }
};

struct HostEvent {
    RunData* object;            // the object whose event it is
    int32_t condition;          // 0 "On Error", 6 "File is Done Being Encrypted/Decrypted"
    int32_t errorCode;          // the object's errorCode while its events ran
};

// The module's exports, resolved by their plain names.
struct ModuleApi;

using EditorVersionFunction = uint32_t (CIPHREL_STDCALL*)();

// The host's edit-time record: pointer-sized entries, of which the module reads 3 (the
// editor surface handle), 5 (the parent window) and 159 (HostGetVersion, or none).
struct HostEditorRecord {
    void* entries[256] = {};
    explicit HostEditorRecord(EditorVersionFunction version, void* parent = nullptr,
                              uintptr_t surface = 0) {
        entries[159] = reinterpret_cast<void*>(version);
        entries[5] = parent;
        entries[3] = reinterpret_cast<void*>(surface);
    }
    void* Record() { return entries; }
};

class TestHost {
public:
    TestHost();                 // loads the module (ciphrel.dll, or the linked core natively)
    ~TestHost();                // destroys every object still alive
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    const ModuleApi& Module() const { return *api; }

    // A 100-byte EditData as the host holds it: a new record's values.
    static std::vector<uint8_t> NewEditData(uint16_t flags = 1, const char* characters = "",
                                            std::vector<uint16_t> codes = {10, 12, 13});

    int32_t Initialize();       // the export; returns its result
    int32_t Free();
    RunData* Create(const std::vector<uint8_t>& editData);   // GetRunObjectDataSize + create
    void Destroy(RunData* object);

    int32_t Condition(RunData* object, int code, HostValue p1 = 0, HostValue p2 = 0);
    int16_t Action(RunData* object, int code, HostValue p1 = 0, HostValue p2 = 0);
    // An action with text parameters the host owns as writable copies; after the call
    // `texts` holds what the strings contain then (an action may cut a key in place).
    int16_t ActionText(RunData* object, int code, std::vector<std::string>& texts);
    // Clears the result-kind bits, serves `params` in order, calls expression `code`.
    // A string result may point into a parameter the host owns, which lives only until
    // this returns: use ExpressionText for string results.
    HostValue Expression(RunData* object, int code, std::vector<HostParam> params = {});
    // The same, for a string result: checks ResultIsString and copies the text.
    std::string ExpressionText(RunData* object, int code, std::vector<HostParam> params = {});
    uint16_t LastHostFlags(RunData* object) const { return GetHostFlags(object); }
    // HandleRunObject once; its 16-bit result (0 again next frame, 1 stop).
    int16_t Frame(RunData* object);

    // Called for every event raised, before `events` records it returns; the handler may
    // call routines again (nested events).
    std::function<void(const HostEvent&)> onEvent;
    std::vector<HostEvent> events;
    std::vector<RunData*> rehandles;        // HostReHandle requests, in order
    std::vector<std::string> faults;        // protocol faults: wrong parameter type, too many
                                            // fetches; a test expects this to stay empty

    // Used by the services; not for tests.
    void Serve(RunData* rd, int service, uint32_t a, uint32_t b, HostValue* result);

private:
    HostValue CallExpression(RunData* object, int code, std::vector<HostParam> params,
                             std::string* text);
    const ModuleApi* api;
    // The routine tables, as GetRunObjectInfos hands them over once.
    const ConditionRoutine* conditions = nullptr;
    const ActionRoutine* actions = nullptr;
    const ExpressionRoutine* expressions = nullptr;
    std::vector<RunData*> objects;
    std::vector<HostParam> pending;         // parameters of the expression being called
    size_t nextParam = 0;
    void* runHeader[256] = {};              // entries 196, 197, 200, 201 are the services
};
