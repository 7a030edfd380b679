// The routines as a game calls them while memory runs out, each allocation failing in
// turn, once and for good: every call ends with its fallback, raises only the events it
// would raise anyway, keeps earlier results readable, changes nothing half way and leaves
// no block behind. The module's allocator can be reached only in-process.
#if !defined(_WIN32)
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "designer/edit_data.h"
#include "engine/allocation.h"
#include "tests/module/module_fixture.h"
#include "testhost/module_api.h"

namespace {

struct Seen {
    int32_t condition, errorCode;
    bool operator==(const Seen&) const = default;
};

const int64_t FailureModes[] = {1, INT64_MAX};     // one failure, or memory gone for good

std::string KeyName(int i) { return "key " + std::to_string(i); }

class AllocationFaults : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        host.onEvent = [this](const HostEvent& e) {
            raised.push_back({e.condition, int32_t(host.Expression(e.object, Code::ErrorCode))});
        };
    }
    // For 0, 1, 2, ... allocations let through before memory fails: a fresh run with
    // `keys` keys, `before`, then `operation` with the failure armed, then `check(hit)`.
    // Ends at the first run with no allocation refused; returns how many failed.
    int EachFailure(int keys, int64_t failures, const std::function<void()>& before,
                    const std::function<void()>& operation, const std::function<void(bool)>& check) {
        for (int64_t successes = 0; successes < 64; ++successes) {
            if (o != nullptr) host.Destroy(o);
            host.Free();
            host.Initialize();
            o = host.Create(TestHost::NewEditData());
            for (int i = 0; i < keys; ++i) AddKey(o, KeyName(i));
            before();
            raised.clear();
            host.rehandles.clear();
            const int64_t live = LiveAllocations();
            FailAllocationAfter(successes, failures);
            operation();
            const bool hit = AllocationsRefused() > 0;
            FailAllocationAfter(NoAllocationFailure);
            check(hit);
            EXPECT_TRUE(!hit || LiveAllocations() == live) << "blocks left behind";
            EXPECT_EQ(host.Expression(o, Code::ExpressionErrorCode), 0);
            if (!hit) return int(successes);
        }
        ADD_FAILURE() << "still allocating after 64 failures";
        return -1;
    }
    int32_t Block(const std::string& key) {
        return int32_t(host.Expression(o, Code::EncryptInteger, {HostParam::Str(key),
                                       HostParam::Int(11), HostParam::Int(22), HostParam::Int(0)}));
    }

    RunData* o = nullptr;
    std::vector<Seen> raised;
};

TEST_F(AllocationFaults, KeyActionsLeaveTheRingAsItWas) {
    const std::string longText(60, 'L');
    struct Case { int code, keys; std::string text; int allocations; std::vector<Seen> events; };
    const Case cases[] = {
        {Code::AddKey, 0, "fresh", 2, {}},
        {Code::AddKey, 10, "fresh", 3, {}},             // a full ring grows too
        {Code::AddKey, 3, longText, 2, {{0, 1}}},
        {Code::RemoveKey, 12, KeyName(6), 1, {}},
        {Code::RemoveKey, 3, KeyName(1) + longText, 0, {{0, 1}, {0, 2}}},
    };
    for (const Case& c : cases) {
        for (int64_t failures : FailureModes) {
            SCOPED_TRACE(c.text);
            const std::string stored = c.text.substr(0, 56);
            std::vector<int32_t> blocks;
            EXPECT_EQ(EachFailure(c.keys, failures, [&] {
                blocks.clear();
                for (int i = 0; i < c.keys; ++i) blocks.push_back(Block(KeyName(i)));
            }, [&] { TextAction(o, c.code, {c.text}); }, [&](bool hit) {
                EXPECT_EQ(raised, c.events);
                EXPECT_EQ(HasKey(o, stored), (c.code == Code::AddKey) != hit);
                for (int i = 0; i < c.keys; ++i)
                    EXPECT_TRUE(KeyName(i) == stored || Block(KeyName(i)) == blocks[size_t(i)]) << i;
            }), c.allocations);
        }
    }
}

TEST_F(AllocationFaults, StringResultsAreEmptyAndKeepTheEarlierOnes) {
    struct Case { int code; std::vector<HostParam> params; int allocations; };
    const Case cases[] = {
        {Code::EncryptString, {HostParam::Str(KeyName(0)), HostParam::Str("a saved game")}, 2},
        {Code::DecryptString, {HostParam::Str(KeyName(0)), HostParam::Str("%41%42CDEFGH")}, 1},
        {Code::FilterString, {HostParam::Str("50%")}, 1},
        {Code::DefilterString, {HostParam::Str("50%25")}, 1},
        {Code::RandomKey, {HostParam::Int(12)}, 1},
    };
    for (const Case& c : cases) {
        for (int64_t failures : FailureModes) {
            std::string result;
            const char *previous = nullptr, *current = nullptr;
            EXPECT_EQ(EachFailure(1, failures, [&] {
                host.ExpressionText(o, Code::FilterString, {HostParam::Str("older")});
                host.ExpressionText(o, Code::FilterString, {HostParam::Str("newer")});
                previous = o->previousResultBuffer;
                current = o->resultBuffer;
            }, [&] { result = host.ExpressionText(o, c.code, c.params); }, [&](bool hit) {
                EXPECT_EQ(result.empty(), hit);
                EXPECT_STREQ(o->previousResultBuffer, hit ? "older" : "newer");
                EXPECT_EQ(o->resultBuffer == current, hit);
                EXPECT_EQ(previous == o->previousResultBuffer, hit);
                EXPECT_TRUE(raised.empty());
            }), c.allocations) << c.code;
        }
    }
}

TEST_F(AllocationFaults, FileActionReportsSixAndLeavesTheFile) {
    const std::string path = (std::filesystem::path(testing::TempDir()) / "faults.dat").string();
    for (int32_t percent : {0, 25}) {
        for (int64_t failures : FailureModes) {
            EXPECT_EQ(EachFailure(1, failures, [&] {
                host.Action(o, Code::SetPercentInterval, percent);
                WriteBytes(path, Bytes(19, 'c'));
            }, [&] { TextAction(o, Code::EncryptFile, {KeyName(0), path}); }, [&](bool hit) {
                const std::vector<Seen> done{{Code::FileDone, 0}}, six{{0, 6}};
                EXPECT_EQ(raised, hit ? six : percent ? std::vector<Seen>() : done);
                EXPECT_EQ(host.Condition(o, Code::FileBusy), hit ? 0 : percent != 0);
                EXPECT_TRUE(!hit || ReadBytes(path) == Bytes(19, 'c'));
                host.Action(o, Code::SetPercentInterval, 0);
                TextAction(o, Code::EncryptFile, {KeyName(0), path});   // not a second job
                EXPECT_EQ(raised.back(), (Seen{hit || !percent ? Code::FileDone : 0,
                                               hit || !percent ? 0 : 8}));
            }), 1);
        }
    }
    std::filesystem::remove(path);
}

// Every routine once with no memory at all, after an object whose key ring could not be
// made: none fails the host, fetches a wrong parameter or keeps a block; the keys stay.
TEST_F(AllocationFaults, EveryRoutineWithoutAnyMemory) {
    const std::string path = (std::filesystem::path(testing::TempDir()) / "sweep.dat").string();
    WriteBytes(path, Bytes(10, 's'));
    const HostParam key = HostParam::Str(KeyName(1));
    const std::vector<std::vector<HostParam>> params = {
        {key, HostParam::Int(1), HostParam::Int(2), HostParam::Int(0)}, {HostParam::Float(1.5f)},
        {key, HostParam::Str("text")}, {key, HostParam::Int(1), HostParam::Int(2), HostParam::Int(2)},
        {HostParam::Int(7)}, {key, HostParam::Str("%00text")}, {HostParam::Str("%text")},
        {HostParam::Str("%25text")}, {}, {}, {HostParam::Int(80)}, {}, {}, {}, {},
    };
    FailAllocationAfter(0, INT64_MAX);
    o = host.Create(TestHost::NewEditData());
    FailAllocationAfter(NoAllocationFailure);
    AddKey(o, KeyName(0));      // the first key makes the ring
    AddKey(o, KeyName(1));
    const int32_t block = Block(KeyName(1));
    EditData stored{};
    stored.version = 1;
    void* editor[256] = {};
    const int64_t live = LiveAllocations();
    FailAllocationAfter(0, INT64_MAX);
    for (int code = 0; code < 8; ++code) {
        char text[] = "key 0";
        host.Condition(o, code, Text(text), 37);
    }
    for (int code = 0; code < 15; ++code) {
        if (code == Code::AddCode || code == Code::RemoveCode || code >= Code::SetTimeInterval)
            host.Action(o, code, 65);
        else
            TextAction(o, code, {code == Code::AddKey ? "another" : KeyName(0), path});
    }
    for (int code = 0; code < 15; ++code) host.Expression(o, code, params[size_t(code)]);
    EXPECT_EQ(host.Module().UpdateEditStructure(editor, &stored), nullptr);
    EXPECT_GE(AllocationsRefused(), 9);
    FailAllocationAfter(NoAllocationFailure);
    EXPECT_EQ(LiveAllocations(), live);
    EXPECT_EQ(stored.version, 1);
    EXPECT_FALSE(HasKey(o, "another"));
    EXPECT_TRUE(HasKey(o, KeyName(0))) << "removal needs memory, so the key stays";
    EXPECT_EQ(Block(KeyName(1)), block);
    EXPECT_EQ(host.Condition(o, Code::FileBusy), 0);
    std::filesystem::remove(path);
}

}  // namespace
#endif
