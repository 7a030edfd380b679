// The routines as a game calls them while memory runs out: each ends with its fallback,
// raises only the events it would raise anyway, keeps earlier results readable and leaves
// no block behind. The allocator is reachable in-process only.
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
    void SetUp() override { ModuleTest::SetUp(), RecordErrorCodes(); }
    int32_t Block(const std::string& key) {
        const HostParam i = HostParam::Int(11);
        return int32_t(host.Expression(o, Code::EncryptInteger, {HostParam::Str(key), i, i, i}));
    }
    RunData* o = nullptr;
};

// Every routine once with no memory at all, after an object whose key ring could not be
// made: none fails the host or fetches a wrong parameter; results are empty and earlier
// ones stay readable; a file job that cannot start reports 6; the keys stay.
TEST_F(AllocationFaults, EveryRoutineWithoutAnyMemory) {
    const std::string path = (std::filesystem::path(testing::TempDir()) / "sweep.dat").string();
    WriteBytes(path, Bytes(10, 's'));
    const HostParam key = HostParam::Str(KeyName(1));
    const HostParam i = HostParam::Int(1), s = HostParam::Str("%25text");
    const std::vector<std::vector<HostParam>> params = {
            {key, i, i, i}, {HostParam::Float(1.5f)}, {key, s}, {key, i, i, HostParam::Int(2)},
            {i}, {key, s}, {s}, {s}, {}, {}, {HostParam::Int(80)}, {}, {}, {}, {}};
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
