// The routines as a game calls them while memory runs out: each ends with its fallback,
// raises only the events it would raise anyway, keeps earlier results readable, changes
// nothing half way and leaves no block behind. The allocator is reachable in-process only.
#if !defined(_WIN32)
#include <filesystem>
#include <string>
#include <vector>

#include "designer/edit_data.h"
#include "engine/allocation.h"
#include "tests/module/module_fixture.h"
#include "testhost/module_api.h"

namespace {

std::string KeyName(int i) { return "key " + std::to_string(i); }

class AllocationFaults : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        RecordErrorCodes();
    }
    int32_t Block(const std::string& key) {
        return int32_t(host.Expression(
                o, Code::EncryptInteger,
                {HostParam::Str(key), HostParam::Int(11), HostParam::Int(22), HostParam::Int(0)}));
    }
    RunData* o = nullptr;
};

// Each allocation of a key action fails in turn, once or for good, in a fresh run.
TEST_F(AllocationFaults, KeyActionsLeaveTheRingAsItWas) {
    const std::string longText(60, 'L');
    struct Case { int code, keys; std::string text; int64_t allocations; Codes errors; };
    const Case cases[] = {
        {Code::AddKey, 0, "fresh", 2, {}},  {Code::AddKey, 10, "fresh", 3, {}},  // full: grows
        {Code::AddKey, 3, longText, 2, {1}}, {Code::RemoveKey, 12, KeyName(6), 1, {}},
    };
    for (const Case& c : cases) {
        for (int64_t failures : {int64_t{1}, INT64_MAX}) {
            for (int64_t successes = 0; successes <= c.allocations; ++successes) {
                SCOPED_TRACE(c.text + " after " + std::to_string(successes));
                host.Free();
                host.Initialize();
                o = host.Create(TestHost::NewEditData());
                for (int i = 0; i < c.keys; ++i) AddKey(o, KeyName(i));
                std::vector<int32_t> blocks;
                for (int i = 0; i < c.keys; ++i) blocks.push_back(Block(KeyName(i)));
                seen.clear();
                const int64_t live = LiveAllocations();
                FailAllocationAfter(successes, failures);
                TextAction(o, c.code, {c.text});
                const bool hit = AllocationsRefused() > 0;
                FailAllocationAfter(NoAllocationFailure);
                EXPECT_EQ(hit, successes < c.allocations);
                EXPECT_TRUE(!hit || LiveAllocations() == live) << "blocks left behind";
                EXPECT_EQ(seen, c.errors);
                EXPECT_EQ(HasKey(o, c.text.substr(0, 56)), (c.code == Code::AddKey) != hit);
                for (int i = 0; i < c.keys; ++i)
                    EXPECT_TRUE(KeyName(i) == c.text || Block(KeyName(i)) == blocks[size_t(i)])
                            << i;
            }
        }
    }
}

// Every routine once with no memory at all, after an object whose key ring could not be
// made: none fails the host or fetches a wrong parameter; results are empty and earlier
// ones stay readable; a file job that cannot start reports 6; the keys stay.
TEST_F(AllocationFaults, EveryRoutineWithoutAnyMemory) {
    const std::string path = (std::filesystem::path(testing::TempDir()) / "sweep.dat").string();
    WriteBytes(path, Bytes(10, 's'));
    const HostParam key = HostParam::Str(KeyName(1));
    const std::vector<std::vector<HostParam>> params = {
            {key, HostParam::Int(1), HostParam::Int(2), HostParam::Int(0)},
            {HostParam::Float(1.5f)},
            {key, HostParam::Str("text")},
            {key, HostParam::Int(1), HostParam::Int(2), HostParam::Int(2)},
            {HostParam::Int(7)},
            {key, HostParam::Str("%00text")},
            {HostParam::Str("%text")},
            {HostParam::Str("%25text")},
            {},
            {},
            {HostParam::Int(80)},
            {},
            {},
            {},
            {},
    };
    FailAllocationAfter(0, INT64_MAX);
    o = host.Create(TestHost::NewEditData());
    FailAllocationAfter(NoAllocationFailure);
    AddKey(o, KeyName(0));      // the first key makes the ring
    AddKey(o, KeyName(1));
    const int32_t block = Block(KeyName(1));
    host.ExpressionText(o, Code::FilterString, {HostParam::Str("older")});
    const char* older = o->resultBuffer;
    const char* newer = reinterpret_cast<const char*>(
        host.Expression(o, Code::FilterString, {HostParam::Str("newer")}));
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
    for (int code = 0; code < 15; ++code) {
        const HostValue result = host.Expression(o, code, params[size_t(code)]);
        EXPECT_TRUE(!(host.LastHostFlags(o) & ResultIsString) ||
                    !*reinterpret_cast<const char*>(result));
    }
    EXPECT_EQ(host.Module().UpdateEditStructure(editor, &stored), nullptr);
    EXPECT_GE(AllocationsRefused(), 9);
    FailAllocationAfter(NoAllocationFailure);
    EXPECT_EQ(LiveAllocations(), live);
    EXPECT_TRUE(o->previousResultBuffer == older && o->resultBuffer == newer);
    EXPECT_STREQ(newer, "newer");
    EXPECT_EQ(seen, (Codes{6, 6})) << "both file actions, and nothing else";
    EXPECT_EQ(stored.version, 1);
    EXPECT_FALSE(HasKey(o, "another"));
    EXPECT_TRUE(HasKey(o, KeyName(0))) << "removal needs memory, so the key stays";
    EXPECT_EQ(Block(KeyName(1)), block);
    EXPECT_EQ(host.Condition(o, Code::FileBusy), 0);
    std::filesystem::remove(path);
}

}  // namespace
#endif
