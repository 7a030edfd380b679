// A long game session through the host: seeded random key, string, file-job and object
// operations, each checked against a model of what the module must hold, and natively the
// engine's blocks counted after each. CIPHREL_SOAK_SEED picks another run (1 by default);
// CIPHREL_SOAK_OPERATIONS sets its length (10,000).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/module/module_fixture.h"

#if !defined(_WIN32)
#include "engine/allocation.h"
#include "engine/file_job.h"
#endif

namespace {

namespace fs = std::filesystem;
constexpr size_t MaxKey = 56;

#if !defined(_WIN32)
long fakeNow = 0;
long FakeClock() { return fakeNow++; }     // one millisecond a reading: runs repeat exactly
#endif

// One event as the session saw it, with ErrorCode( as read inside it.
struct Seen {
    RunData* object;
    int32_t condition, errorCode;
    bool operator==(const Seen&) const = default;
};

class Session : public ModuleTest {
public:
    explicit Session(uint64_t seed, fs::path dir) : random(seed), dir(std::move(dir)) {}
    void TestBody() override {}
    using ModuleTest::SetUp, ModuleTest::TearDown;
    bool Run(int64_t operations);
    int64_t events = 0, jobsFinished = 0;

private:
    int Below(int n) { return int(random() % uint64_t(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
    bool Check(bool ok, const std::string& what) {
        if (!ok) ADD_FAILURE() << "operation " << index << " (" << current << "): " << what;
        return ok;
    }
    std::string KeyText() {
        static const std::string Pool[] = {"alpha", "Alpha", "", std::string(56, 'k'),
                                           std::string(56, 'k') + "tail", "never"};
        return Chance(70) && !keys.empty() ? keys[size_t(Below(int(keys.size())))]
                                           : Pool[Below(6)];
    }
    std::string Random(int maxLength) {
        std::string s(size_t(Below(maxLength + 1)), ' ');
        for (char& c : s) c = char(Chance(60) ? "abc019 %.-"[Below(10)] : 1 + Below(255));
        return s;
    }
    RunData* Any() { return objects[size_t(Below(int(objects.size())))]; }
    bool Has(const std::string& k) const {
        return std::find(keys.begin(), keys.end(), k) != keys.end();
    }
    bool Filtered(uint8_t c) const { return (controlCodes && c < 32) || stored[c]; }
    void Error(RunData* o, int32_t code) { expected.push_back({o, 0, code}); }
    int32_t Int(RunData* o, int code, std::vector<HostParam> params = {}) {
        return int32_t(host.Expression(o, code, std::move(params)));
    }

    void Keys(), Strings(), Files(), Frame(), Objects();

    std::mt19937_64 random;
    fs::path dir;
    std::vector<Seen> seen, expected;
    int64_t index = 0;
    std::string current;
    // The model: what the module must hold.
    std::vector<std::string> keys;
    bool stored[256] = {}, controlCodes = false, noPadding = false;
    std::vector<RunData*> objects;
    std::map<RunData*, int32_t> expressionError;
    fs::path file;
    Bytes content, jobSource;       // jobSource: the file as the pending job found it
    bool jobActive = false, jobNoPadding = false;
};

bool Session::Run(int64_t operations) {
#if !defined(_WIN32)
    const ClockFunction savedClock = fileJobClock;
    fileJobClock = FakeClock;
#endif
    // The filter and the file settings outlive runs: an empty set, padding, and a budget
    // that spreads each file job over frames.
    EmptyFilter();
    RunData* reset = host.Create(TestHost::NewEditData(0, "", {}));
    host.Action(reset, Code::RemoveCode, 0);
    host.Action(reset, Code::RemoveCode, '%');
    host.Action(reset, Code::SetTimeInterval, 0);
    host.Action(reset, Code::SetPercentInterval, 30);
    host.Destroy(reset);
    host.onEvent = [this](const HostEvent& e) {
        seen.push_back({e.object, e.condition, Int(e.object, Code::ErrorCode)});
    };
    file = dir / "save.dat";
    content.resize(size_t(Below(600)));
    for (uint8_t& b : content) b = uint8_t(random());
    WriteBytes(file.string(), content);
    Objects();
#if !defined(_WIN32)
    const int64_t engineBase = LiveAllocations() - 1;   // the key ring
#endif
    for (index = 0; index < operations && !HasFailure(); ++index) {
        seen.clear();
        expected.clear();
        host.rehandles.clear();
        using Operation = void (Session::*)();
        static const Operation Operations[] = {
                &Session::Keys, &Session::Keys,  &Session::Strings, &Session::Files,
                &Session::Frame, &Session::Frame, &Session::Objects};
        (this->*Operations[Below(7)])();
        Check(seen == expected, "events differ from the model's");
        events += int64_t(seen.size());
        Check(host.faults.empty(), "a host fault");
#if !defined(_WIN32)
        int64_t blocks = 1 + 2 * int64_t(keys.size()) + (jobActive ? 1 : 0);
        for (RunData* o : objects)
            blocks += (o->resultBuffer ? 1 : 0) + (o->previousResultBuffer ? 1 : 0);
        Check(LiveAllocations() - engineBase == blocks, "blocks the engine holds");
#endif
    }
    host.onEvent = nullptr;
#if !defined(_WIN32)
    fileJobClock = savedClock;
#endif
    return !HasFailure();
}

void Session::Keys() {
    RunData* o = Any();
    const std::string text = KeyText(), cut = text.substr(0, MaxKey);
    const bool add = Chance(60);
    current = (add ? "add key '" : "remove key '") + text + "'";
    if (!add && jobActive) {
        Error(o, 9);
    } else {
        if (text.size() > MaxKey) Error(o, 1);
        if (add && Has(cut)) Error(o, 3);
        else if (add) keys.push_back(cut);
        else if (!Has(cut)) Error(o, 2);
        else keys.erase(std::find(keys.begin(), keys.end(), cut));
    }
    Check(TextAction(o, add ? Code::AddKey : Code::RemoveKey, {text}) ==
                  (add || !jobActive ? cut : text),
          "the host's text is cut to 56 bytes");
    Check(HasKey(o, cut) == Has(cut), "the key is there exactly when added");
}

void Session::Strings() {
    RunData* o = Any();
    const std::string key = KeyText(), text = Random(40);
    const HostParam k = HostParam::Str(key), t = HostParam::Str(text);
    current = "strings under '" + key + "'";
    const std::string escaped = host.ExpressionText(o, Code::FilterString, {t});
    size_t filtered = 0;
    for (char c : text) filtered += Filtered(uint8_t(c)) ? 1 : 0;
    Check(escaped.size() == text.size() + 2 * filtered, "three characters for each filtered byte");
    if (Filtered('%') || text.find('%') == std::string::npos)
        Check(host.ExpressionText(o, Code::DefilterString, {HostParam::Str(escaped)}) == text,
              "defiltered");
    const std::string cipher = host.ExpressionText(o, Code::EncryptString, {k, t});
    if (!Has(key)) {
        expressionError[o] = 2;
        Check(cipher == text, "a missing key hands the text back");
    } else if (Filtered('%') && Filtered(0)) {
        Check(host.ExpressionText(o, Code::DecryptString, {k, HostParam::Str(cipher)}) == text,
              "decrypts its own result back");
    }
    if (Chance(30)) host.Action(o, Code::ClearExpressionError), expressionError[o] = 0;
    Check(Int(o, Code::ExpressionErrorCode) == expressionError[o], "ExpressionErrorCode(");
}

// A job starts only with a known key, a file and no other job pending; the file keeps its
// content until the last frame, which ends the job with its event.
void Session::Files() {
    RunData* o = Any();
    const std::string key = KeyText(), cut = key.substr(0, MaxKey);
    const std::string path = Chance(10) ? "" : file.string();
    current = "file job under '" + key + "' on '" + path + "'";
    if (key.size() > MaxKey) Error(o, 1);
    const bool starts = Has(cut) && !jobActive && !path.empty();
    if (!starts) Error(o, !Has(cut) ? 2 : jobActive ? 8 : 6);
    TextAction(o, Chance(50) ? Code::EncryptFile : Code::DecryptFile, {key, path});
    Check(host.rehandles.size() == (starts ? 1u : 0u), "frames asked for only by a new job");
    if (starts) jobActive = true, jobSource = content, jobNoPadding = noPadding;
}

void Session::Frame() {
    RunData* o = Any();
    current = "frame";
    const bool ends = host.Frame(o) == 1;
    Check(ends || jobActive, "no job: stop calling");
    if (!jobActive) return;
    content = ReadBytes(file.string());
    if (!ends) return (void)Check(content == jobSource, "untouched until the last frame");
    jobActive = false;
    ++jobsFinished;
    expected.push_back({o, Code::FileDone, 0});
    Check(content.size() == (jobNoPadding ? jobSource.size() : (jobSource.size() + 7) / 8 * 8),
          "padded to whole blocks when padding is on");
}

// New objects seed the shared filter and set both flags; only the last Free releases the
// keys and an unfinished job, whose file keeps its content.
void Session::Objects() {
    int kind = objects.empty() ? 0 : Below(4);
    if (kind == 0 && objects.size() >= 4) kind = 1;
    std::vector<std::string> released;
    current = "objects " + std::to_string(kind);
    if (kind == 1 && objects.size() > 1) {
        const size_t which = size_t(Below(int(objects.size())));
        host.Destroy(objects[which]);
        objects.erase(objects.begin() + long(which));
    } else if (kind == 2) {
        host.Initialize();
        host.Free();
    } else if (kind == 3) {
        for (RunData* o : objects) host.Destroy(o);
        objects.clear();
        host.Free();
        host.Initialize();
        Check(ReadBytes(file.string()) == content, "an abandoned job writes nothing");
        released.swap(keys);
        jobActive = false;
    }
    if (kind != 0 && kind != 3) return;
    const uint16_t flags = uint16_t(Below(4));
    const std::string characters = Random(24);
    std::vector<uint16_t> codes(size_t(Below(26)));
    for (uint16_t& c : codes) c = uint16_t(Below(256));
    controlCodes = flags & 1;
    noPadding = flags & 2;
    if (std::none_of(std::begin(stored), std::end(stored), [](bool b) { return b; }))
        stored['%'] = true;
    if (!controlCodes) stored[0] = true;
    for (char c : characters) if (!Filtered(uint8_t(c))) stored[uint8_t(c)] = true;
    for (uint16_t c : codes) if (!Filtered(uint8_t(c))) stored[c] = true;
    objects.push_back(host.Create(TestHost::NewEditData(flags, characters.c_str(), codes)));
    expressionError[objects.back()] = 0;
    Check(Int(objects.back(), Code::ExpressionErrorCode) == 0,
          "a new object has no expression error");
    for (const std::string& k : released)
        Check(!HasKey(objects.back(), k), "the last Free released it");
}

uint64_t EnvironmentNumber(const char* name, uint64_t otherwise) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : otherwise;
}

TEST(Soak, LongSessionMatchesTheModel) {
    const uint64_t seed = EnvironmentNumber("CIPHREL_SOAK_SEED", 1);
    const int64_t operations = int64_t(EnvironmentNumber("CIPHREL_SOAK_OPERATIONS", 10000));
    const fs::path dir = fs::path(testing::TempDir()) / ("soak_" + std::to_string(seed));
    fs::create_directories(dir);
#if !defined(_WIN32)
    const int64_t blocksBefore = LiveAllocations();
#endif
    {   // the host destroys its objects, and their results, with the session
        Session run(seed, dir);
        run.SetUp();
        EXPECT_TRUE(run.Run(operations)) << "repeat with CIPHREL_SOAK_SEED=" << seed;
        run.TearDown();
        std::printf("soak: %lld operations, %lld events, %lld file jobs finished\n",
                    (long long)operations, (long long)run.events, (long long)run.jobsFinished);
    }
    fs::remove_all(dir);
#if !defined(_WIN32)
    EXPECT_EQ(LiveAllocations(), blocksBefore) << "blocks the engine still holds";
#endif
}

}  // namespace
