// The routines as a game calls them while memory runs out, each allocation failing in
// turn: every call ends with its fallback, raises only the events it would raise anyway,
// keeps earlier results readable, and leaves no block behind. The module's allocator can
// be reached only in-process, so these run in the native trees.
#if !defined(_WIN32)
#include <filesystem>
#include <string>
#include <vector>

#include "engine/allocation.h"
#include "tests/module/module_fixture.h"
#include "tests/native/fault_injection.h"

namespace {

[[maybe_unused]] auto* const summary = ::testing::AddGlobalTestEnvironment(new FaultSummary);

const int64_t FailureModes[] = {1, MemoryExhausted};

class AllocationFaults : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        host.onEvent = [this](const HostEvent& e) {
            raised.push_back({e.condition, int32_t(host.Expression(e.object, Code::ErrorCode))});
        };
    }

    // A run of its own for each attempt: the last one's keys and objects are gone, and
    // the key ring is absent until the object is created.
    RunData* NewRun(int keys) {
        if (o != nullptr) host.Destroy(o);
        host.Free();
        host.Initialize();
        o = host.Create(TestHost::NewEditData());
        for (int i = 0; i < keys; ++i) AddKey(o, KeyName(i));
        raised.clear();
        host.events.clear();
        host.rehandles.clear();
        return o;
    }
    static std::string KeyName(int i) { return "key " + std::to_string(i); }
    bool Exists(const std::string& text) { return HasKey(o, text); }
    int32_t EncryptUnder(const std::string& key) {
        return int32_t(host.Expression(o, Code::EncryptInteger,
                                       {HostParam::Str(key), HostParam::Int(11),
                                        HostParam::Int(22), HostParam::Int(0)}));
    }

    struct Seen {
        int32_t condition, errorCode;
        bool operator==(const Seen&) const = default;
    };
    RunData* o = nullptr;
    std::vector<Seen> raised;   // each event raised: its condition, and ErrorCode( inside it
};

TEST_F(AllocationFaults, ObjectWithoutMemoryForTheRingStillTakesKeys) {
    for (int64_t failures : FailureModes) {
        const int points = ForEachAllocationFailure([&](const FaultPoint& point) {
            if (o != nullptr) host.Destroy(o);
            host.Free();
            host.Initialize();
            const int64_t live = LiveAllocations();
            point.Arm();
            o = host.Create(TestHost::NewEditData());
            const bool hit = point.Disarm();
            EXPECT_EQ(LiveAllocations(), live + (hit ? 0 : 1));
            EXPECT_FALSE(Exists(""));
            // The first key brings the ring into being.
            AddKey(o, "late key");
            EXPECT_TRUE(Exists("late key"));
            EXPECT_EQ(LiveAllocations(), live + 3);
            EXPECT_TRUE(raised.empty());
            return hit;
        }, failures);
        EXPECT_EQ(points, 1);
    }
}

TEST_F(AllocationFaults, KeyActionsWithoutMemoryLeaveTheRingAndReportOnlyTheCut) {
    const std::string longText(60, 'L');
    struct Case {
        const char* name; int code; int keysBefore; std::string text; int allocations;
        std::vector<Seen> events;       // raised whether memory lasts or not
    };
    const Case cases[] = {
        {"add", Code::AddKey, 3, "fresh", 2, {}},
        {"add to a full ring", Code::AddKey, 10, "fresh", 3, {}},
        {"add a long text", Code::AddKey, 3, longText, 2, {{0, 1}}},
        {"remove", Code::RemoveKey, 3, KeyName(1), 1, {}},
        {"remove a long text", Code::RemoveKey, 3, KeyName(1) + longText, 0, {{0, 1}, {0, 2}}},
    };
    for (const Case& c : cases) {
        for (int64_t failures : FailureModes) {
            SCOPED_TRACE(c.name);
            const bool adding = c.code == Code::AddKey;
            const std::string stored = c.text.substr(0, 56);
            const int points = ForEachAllocationFailure([&](const FaultPoint& point) {
                NewRun(c.keysBefore);
                std::vector<int32_t> blocks;
                for (int i = 0; i < c.keysBefore; ++i) blocks.push_back(EncryptUnder(KeyName(i)));
                const bool existed = Exists(stored);
                const int64_t live = LiveAllocations();
                point.Arm();
                TextAction(o, c.code, {c.text});
                const bool hit = point.Disarm();
                EXPECT_EQ(raised, c.events);
                EXPECT_EQ(Exists(stored), adding ? existed || !hit : existed && hit);
                for (int i = 0; i < c.keysBefore; ++i) {
                    if (KeyName(i) == stored) continue;
                    EXPECT_EQ(EncryptUnder(KeyName(i)), blocks[size_t(i)]) << KeyName(i);
                }
                if (hit) {
                    EXPECT_EQ(LiveAllocations(), live);
                }
                return hit;
            }, failures);
            EXPECT_EQ(points, c.allocations);
        }
    }
}

TEST_F(AllocationFaults, StringResultsWithoutMemoryAreEmptyAndKeepTheEarlierOnes) {
    struct Case {
        const char* name; int code; std::vector<HostParam> params; int allocations;
    };
    const Case cases[] = {
        {"EncryptString$(", Code::EncryptString,
         {HostParam::Str(KeyName(0)), HostParam::Str("a saved game")}, 2},
        {"DecryptString$(", Code::DecryptString,
         {HostParam::Str(KeyName(0)), HostParam::Str("%41%42CDEFGH")}, 1},
        {"FilterString$(", Code::FilterString, {HostParam::Str("50%")}, 1},
        {"DefilterString$(", Code::DefilterString, {HostParam::Str("50%25")}, 1},
        {"RandomKey$(", Code::RandomKey, {HostParam::Int(12)}, 1},
    };
    for (const Case& c : cases) {
        for (int64_t failures : FailureModes) {
            SCOPED_TRACE(c.name);
            const int points = ForEachAllocationFailure([&](const FaultPoint& point) {
                NewRun(1);
                // Two results the game may still be reading.
                host.ExpressionText(o, Code::FilterString, {HostParam::Str("older")});
                host.ExpressionText(o, Code::FilterString, {HostParam::Str("newer")});
                const char* previous = o->previousResultBuffer;
                const char* current = o->resultBuffer;
                const int64_t live = LiveAllocations();
                point.Arm();
                const std::string result = host.ExpressionText(o, c.code, c.params);
                const bool hit = point.Disarm();
                if (hit) {
                    EXPECT_EQ(result, "");
                    EXPECT_EQ(o->previousResultBuffer, previous);
                    EXPECT_EQ(o->resultBuffer, current);
                    EXPECT_STREQ(previous, "older");
                    EXPECT_STREQ(current, "newer");
                    EXPECT_EQ(LiveAllocations(), live);
                } else {
                    EXPECT_NE(result, "");
                    EXPECT_EQ(o->previousResultBuffer, current);
                    EXPECT_STREQ(o->previousResultBuffer, "newer");
                }
                EXPECT_EQ(host.Expression(o, Code::ExpressionErrorCode), 0);
                EXPECT_TRUE(raised.empty());
                return hit;
            }, failures);
            EXPECT_EQ(points, c.allocations);
        }
    }
}

TEST_F(AllocationFaults, FileActionWithoutMemoryReportsSixAndLeavesTheFile) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(testing::TempDir()) / "allocation_faults_files";
    fs::create_directories(dir);
    const std::string path = (dir / "save.dat").string();
    const Bytes plain(19, 'c');
    for (int32_t percent : {0, 25}) {
        for (int64_t failures : FailureModes) {
            SCOPED_TRACE("percent interval " + std::to_string(percent));
            const int points = ForEachAllocationFailure([&](const FaultPoint& point) {
                NewRun(1);
                host.Action(o, Code::SetTimeInterval, 0);
                host.Action(o, Code::SetPercentInterval, percent);
                WriteBytes(path, plain);
                const int64_t live = LiveAllocations();
                point.Arm();
                std::vector<std::string> texts{KeyName(0), path};
                host.ActionText(o, Code::EncryptFile, texts);
                const bool hit = point.Disarm();
                if (hit) {
                    EXPECT_EQ(raised, (std::vector<Seen>{{0, 6}}));
                    EXPECT_EQ(host.Condition(o, Code::FileBusy), 0);
                    EXPECT_TRUE(host.rehandles.empty());
                    EXPECT_EQ(ReadBytes(path), plain);
                    EXPECT_EQ(LiveAllocations(), live);
                    // The next attempt, with memory, is not refused as a second job.
                    host.Action(o, Code::SetPercentInterval, 0);
                    host.ActionText(o, Code::EncryptFile, texts);
                    EXPECT_EQ(raised.back(), (Seen{6, 0}));
                } else {
                    const std::vector<Seen> done{{6, 0}};
                    EXPECT_EQ(raised, percent == 0 ? done : std::vector<Seen>());
                }
                return hit;
            }, failures);
            EXPECT_EQ(points, 1);
        }
    }
    host.Action(o, Code::SetPercentInterval, 0);
    fs::remove_all(dir);
}

// Every routine of the three tables once, with no memory at all: none fails the host's
// call, fetches a wrong parameter, or keeps a block; the keys stay as they were.
TEST_F(AllocationFaults, EveryRoutineWithoutAnyMemory) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(testing::TempDir()) / "allocation_faults_sweep";
    fs::create_directories(dir);
    const std::string path = (dir / "save.dat").string();
    WriteBytes(path, Bytes(10, 's'));
    NewRun(2);
    const int32_t block = EncryptUnder(KeyName(1));
    const HostParam key = HostParam::Str(KeyName(1));
    const std::vector<std::vector<HostParam>> expressionParams = {
        {key, HostParam::Int(1), HostParam::Int(2), HostParam::Int(0)},
        {HostParam::Float(1.5f)},
        {key, HostParam::Str("text")},
        {key, HostParam::Int(1), HostParam::Int(2), HostParam::Int(2)},
        {HostParam::Int(7)},
        {key, HostParam::Str("%00text")},
        {HostParam::Str("%text")},
        {HostParam::Str("%25text")},
        {}, {},
        {HostParam::Int(80)},
        {}, {}, {}, {},
    };
    const int64_t live = LiveAllocations();
    FailAllocationAfter(0, MemoryExhausted);
    for (int code = 0; code < 8; ++code) {
        char text[] = "key 0";
        host.Condition(o, code, Text(text), 37);
    }
    for (int code = 0; code < 15; ++code) {
        std::vector<std::string> texts{code == Code::AddKey ? "another" : KeyName(0), path};
        if (code == Code::AddCode || code == Code::RemoveCode || code >= Code::SetTimeInterval)
            host.Action(o, code, 65);
        else
            host.ActionText(o, code, texts);
    }
    for (int code = 0; code < 15; ++code) host.Expression(o, code, expressionParams[size_t(code)]);
    const int64_t refused = AllocationsRefused();
    FailAllocationAfter(NoAllocationFailure);
    allocationFaultsTried += refused;
    EXPECT_GE(refused, 8);
    EXPECT_EQ(LiveAllocations(), live);
    EXPECT_FALSE(Exists("another"));
    EXPECT_TRUE(Exists(KeyName(0))) << "removal needs memory, so the key stays";
    EXPECT_EQ(EncryptUnder(KeyName(1)), block);
    EXPECT_EQ(host.Condition(o, Code::FileBusy), 0);
    fs::remove_all(dir);
}

}  // namespace
#endif
