// The module's run-time face as the host sees it: what it tells the host, errors raised
// inside "On Error", and the edit-data upgrade and stamp. The soak covers the rest.
#include <cstring>
#include <string>
#include <vector>

#include "designer/edit_data.h"
#include "tests/module/module_fixture.h"
#include "testhost/module_api.h"

namespace {

using Lifecycle = ModuleTest;

TEST_F(Lifecycle, InfosAnswerTheHost) {
    const ModuleApi& api = host.Module();
    EXPECT_EQ(api.GetInfos(0), 768u);
    EXPECT_EQ(api.GetInfos(2), 256u);
    EXPECT_EQ(api.GetInfos(1), 0u);
    EXPECT_EQ(api.GetRunObjectDataSize(0, 0), sizeof(void*) == 4 ? 168u : sizeof(RunData));

    uint8_t raw[sizeof(RunObjectInfos)];
    std::memset(raw, 0xCC, sizeof raw);
    EXPECT_EQ(api.GetRunObjectInfos(0, reinterpret_cast<RunObjectInfos*>(raw)), 1);
    const uint8_t* fixed = raw + 3 * sizeof(void*);    // after the three table addresses
    const uint8_t expected[] = {8, 0, 15, 0, 15, 0, 100, 0, 0, 0, 100, 0xCC, 0, 0,
                                'C', 'P', 'H', 'R', 2, 0};
    EXPECT_EQ(std::memcmp(fixed, expected, sizeof expected), 0) << "byte 23 is the host's";
    RunObjectInfos infos;
    std::memcpy(&infos, raw, sizeof infos);
    for (int i = 0; i < 8; ++i) EXPECT_NE(infos.conditions[i], nullptr) << i;
    for (int i = 0; i < 15; ++i) EXPECT_TRUE(infos.actions[i] && infos.expressions[i]) << i;
    EXPECT_TRUE(!infos.conditions[8] && !infos.actions[15] && !infos.expressions[15]);

    RunData* o = host.Create(TestHost::NewEditData());
    EXPECT_TRUE(o->errorCode == 0 && o->expressionErrorCode == 0 && !o->resultBuffer);
    EXPECT_EQ(host.Frame(o), 1) << "no job: no more frames";
    EXPECT_TRUE(host.Condition(o, Code::OnError) == 1 && host.Condition(o, Code::FileDone) == 1)
            << "the object's own events are true when asked";
}

TEST_F(Lifecycle, ErrorInsideOnErrorRaisesAgainAndLeavesZero) {
    RunData* o = host.Create(TestHost::NewEditData());
    AddKey(o, "dup");
    Codes log;                          // ErrorCode( as each event reads it
    host.onEvent = [&](const HostEvent& e) {
        log.push_back(int32_t(host.Expression(e.object, Code::ErrorCode)));
        if (log.size() == 1) {
            AddKey(e.object, "dup");    // error 3, raised inside the first event
            log.push_back(int32_t(host.Expression(e.object, Code::ErrorCode)));
        }
    };
    TextAction(o, Code::RemoveKey, {"missing"});
    EXPECT_EQ(log, (Codes{2, 3, 0}));
    EXPECT_EQ(host.Expression(o, Code::ErrorCode), 0);
}

uint32_t CIPHREL_STDCALL Version105() { return 0x01050007; }

TEST_F(Lifecycle, UpdateEditStructureUpgradesVersionOneWithinTheRecord) {
    // A 96-byte record reaches up to the stamp; bad sizes copy nothing or stop at 100.
    const int16_t sizes[][2] = {{96, 96}, {100, 100}, {60, 60}, {-4, 0}, {250, 100}};
    for (auto getVersion : {Version105, EditorVersionFunction{nullptr}}) {
        HostEditorRecord editor(getVersion);
        for (const auto& size : sizes) {
            Bytes stored(300, 0xEE);    // what lies beyond a record is never copied
            for (size_t i = 0; i < 100; ++i) stored[i] = uint8_t(7 + i);
            std::memcpy(&stored[0], &size[0], 2);
            for (int16_t version : {int16_t{0}, int16_t{2}, int16_t{1}}) {
                std::memcpy(&stored[6], &version, 2);
                auto* upgraded = reinterpret_cast<uint8_t*>(host.Module().UpdateEditStructure(
                    editor.Record(), reinterpret_cast<EditData*>(stored.data())));
                if (version != 1) {
                    EXPECT_EQ(upgraded, nullptr);
                    continue;
                }
                ASSERT_NE(upgraded, nullptr);
                EditData result;
                std::memcpy(&result, upgraded, sizeof result);
                EXPECT_TRUE(result.size == 100 && result.version == 2);
                EXPECT_EQ(result.hostVersion, getVersion ? 0x01050007u : 0u);
                for (int i = 2; i < 96; ++i) {
                    if (i == 6 || i == 7) continue;     // the version
                    ASSERT_EQ(upgraded[i], i < size[1] ? stored[size_t(i)] : 0)
                            << size[0] << " " << i;
                }
                FreeHostRecord(upgraded);
            }
        }
    }
    Bytes record = TestHost::NewEditData();
    const Bytes before = record;
    HostEditorRecord editor(Version105);
    auto* data = reinterpret_cast<EditData*>(record.data());
    EXPECT_EQ(host.Module().PrepareToWriteObject(editor.Record(), data, 0), 0x01050007u);
    EXPECT_EQ(data->hostVersion, 0x01050007u);
    EXPECT_EQ(std::memcmp(record.data(), before.data(), 96), 0) << "only the stamp changes";
}

}  // namespace
