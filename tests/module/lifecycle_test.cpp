// The module's run-time face as the host sees it: exports, records, the reference count,
// error reporting with nested events, and result buffers.
#include <cstring>
#include <string>
#include <vector>

#include "designer/edit_data.h"
#include "tests/module/module_fixture.h"
#include "testhost/module_api.h"

namespace {

using Lifecycle = ModuleTest;

TEST_F(Lifecycle, InfosAndDataSizeAnswerTheHost) {
    const ModuleApi& api = host.Module();
    EXPECT_EQ(api.GetInfos(0), 768u);
    EXPECT_EQ(api.GetInfos(2), 256u);
    EXPECT_EQ(api.GetInfos(1), 0u);
    EXPECT_EQ(api.GetInfos(-1), 0u);
    EXPECT_EQ(api.GetRunObjectDataSize(0, 0), sizeof(RunData));
    if (sizeof(void*) == 4) {
        EXPECT_EQ(api.GetRunObjectDataSize(0, 0), 168);
    }
}

TEST_F(Lifecycle, RunObjectInfosFillsEveryFieldButByte23) {
    uint8_t raw[sizeof(RunObjectInfos)];
    std::memset(raw, 0xCC, sizeof raw);
    EXPECT_EQ(host.Module().GetRunObjectInfos(0, reinterpret_cast<RunObjectInfos*>(raw)), 1);

    const size_t p = sizeof(void*);     // three table addresses, then the fixed fields
    auto word16 = [&](size_t at) { return static_cast<int>(raw[at] | raw[at + 1] << 8); };
    EXPECT_EQ(word16(3 * p + 0), 8);
    EXPECT_EQ(word16(3 * p + 2), 15);
    EXPECT_EQ(word16(3 * p + 4), 15);
    EXPECT_EQ(word16(3 * p + 6), 100);
    EXPECT_EQ(word16(3 * p + 8), 0);
    EXPECT_EQ(raw[3 * p + 10], 100);
    EXPECT_EQ(raw[3 * p + 11], 0xCC) << "byte 23 belongs to the host";
    EXPECT_EQ(word16(3 * p + 12), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw + 3 * p + 14), 4), "CPHR");
    EXPECT_EQ(word16(3 * p + 18), 2);

    RunObjectInfos infos;
    std::memcpy(&infos, raw, sizeof infos);
    for (int i = 0; i < 8; ++i) EXPECT_NE(infos.conditions[i], nullptr) << i;
    for (int i = 0; i < 15; ++i) EXPECT_NE(infos.actions[i], nullptr) << i;
    for (int i = 0; i < 15; ++i) EXPECT_NE(infos.expressions[i], nullptr) << i;
    EXPECT_EQ(infos.conditions[8], nullptr);
    EXPECT_EQ(infos.actions[15], nullptr);
    EXPECT_EQ(infos.expressions[15], nullptr);
    // Conditions 0 and 6 are one event routine, true whatever it is given.
    EXPECT_EQ(infos.conditions[0], infos.conditions[6]);
}

TEST_F(Lifecycle, CreateRunObjectStartsWithNoErrorsAndNoBuffers) {
    const ModuleApi& api = host.Module();
    std::vector<uint8_t> rdBytes(api.GetRunObjectDataSize(0, 0), 0xAB);
    auto* rd = reinterpret_cast<RunData*>(rdBytes.data());
    std::vector<uint8_t> record = TestHost::NewEditData();
    EXPECT_EQ(api.CreateRunObject(rd, reinterpret_cast<EditData*>(record.data()), 0), 0);
    EXPECT_EQ(rd->errorCode, 0);
    EXPECT_EQ(rd->expressionErrorCode, 0);
    EXPECT_EQ(rd->resultBuffer, nullptr);
    EXPECT_EQ(rd->previousResultBuffer, nullptr);
    EXPECT_EQ(api.DestroyRunObject(rd, 0), 0);
}

TEST_F(Lifecycle, OnlyTheLastFreeReleasesKeysAndExtraFreesAreHarmless) {
    RunData* o = host.Create(TestHost::NewEditData());
    host.Initialize();                  // a second reference
    AddKey(o, "kept");
    EXPECT_EQ(host.Free(), 0);
    EXPECT_TRUE(HasKey(o, "kept")) << "a Free with references left releases nothing";
    EXPECT_EQ(host.Free(), 0);
    EXPECT_EQ(host.Free(), 0);          // one Free too many: the count stays at 0
    host.Initialize();
    RunData* next = host.Create(TestHost::NewEditData());
    EXPECT_FALSE(HasKey(next, "kept")) << "the last Free released every key";
    AddKey(next, "again");
    EXPECT_TRUE(HasKey(next, "again")) << "a new ring after the last Free";
    host.Free();                        // one Initialize, one Free: released again
    RunData* third = host.Create(TestHost::NewEditData());
    EXPECT_FALSE(HasKey(third, "again"));
    host.Initialize();                  // balances the fixture's final Free
}

TEST_F(Lifecycle, ErrorInsideOnErrorRaisesAgainAndLeavesZero) {
    RunData* o = host.Create(TestHost::NewEditData());
    AddKey(o, "dup");
    std::vector<std::pair<int, int32_t>> log;     // (depth, ErrorCode( read)
    int depth = 0;
    host.onEvent = [&](const HostEvent& e) {
        if (e.condition != Code::OnError) return;
        ++depth;
        log.emplace_back(depth, host.Expression(e.object, Code::ErrorCode));
        if (depth == 1) {
            AddKey(e.object, "dup");                            // error 3, nested
            log.emplace_back(depth, host.Expression(e.object, Code::ErrorCode));
        }
        --depth;
    };
    TextAction(o, Code::RemoveKey, {"missing"});
    ASSERT_EQ(host.events.size(), 2u);
    EXPECT_EQ(host.events[0].object, o);
    const std::vector<std::pair<int, int32_t>> expected{{1, 2}, {2, 3}, {1, 0}};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(host.Expression(o, Code::ErrorCode), 0);
    EXPECT_EQ(o->errorCode, 0);
}

TEST_F(Lifecycle, ExpressionErrorStaysUntilClearedOrNewObject) {
    RunData* o = host.Create(TestHost::NewEditData());
    host.ExpressionText(o, Code::RandomKey, {HostParam::Int(57)});
    EXPECT_EQ(host.Expression(o, Code::ExpressionErrorCode), 1);
    host.ExpressionText(o, Code::RandomKey, {HostParam::Int(4)});     // succeeds
    EXPECT_EQ(host.Expression(o, Code::ExpressionErrorCode), 1);
    EXPECT_TRUE(host.events.empty()) << "expression errors raise no event";

    RunData* other = host.Create(TestHost::NewEditData());
    EXPECT_EQ(host.Expression(other, Code::ExpressionErrorCode), 0);
    EXPECT_EQ(host.Expression(o, Code::ExpressionErrorCode), 1) << "errors are per object";

    EXPECT_EQ(host.Action(o, Code::ClearExpressionError), 0);
    EXPECT_EQ(host.Expression(o, Code::ExpressionErrorCode), 0);
    // Neither error expression marks a result kind.
    EXPECT_EQ(host.LastHostFlags(o) & (ResultIsString | ResultIsFloat), 0);
}

TEST_F(Lifecycle, StringResultLivesThroughTheNextOne) {
    // DefilterString$( returns a text without "%" as it is, whatever the shared filter holds.
    RunData* o = host.Create(TestHost::NewEditData());
    auto first = reinterpret_cast<const char*>(
        host.Expression(o, Code::DefilterString, {HostParam::Str("first")}));
    EXPECT_EQ(o->resultBuffer, first);
    EXPECT_EQ(o->previousResultBuffer, nullptr);

    auto second = reinterpret_cast<const char*>(
        host.Expression(o, Code::DefilterString, {HostParam::Ptr(first)}));
    EXPECT_STREQ(second, "first") << "the previous result was still readable as a parameter";
    EXPECT_STREQ(first, "first");
    EXPECT_EQ(o->previousResultBuffer, first);
    EXPECT_EQ(o->resultBuffer, second);

    host.Expression(o, Code::DefilterString, {HostParam::Str("third")});
    EXPECT_EQ(o->previousResultBuffer, second) << "the first result was released";
    EXPECT_NE(o->resultBuffer, second);
}

TEST_F(Lifecycle, HandleRunObjectWithoutJobStops) {
    RunData* o = host.Create(TestHost::NewEditData());
    EXPECT_EQ(host.Frame(o), 1);
    EXPECT_TRUE(host.events.empty());
    EXPECT_TRUE(host.rehandles.empty());
    EXPECT_EQ(host.Module().DisplayRunObject(o), 0);
    EXPECT_EQ(host.Module().PauseRunObject(o), 0);
    EXPECT_EQ(host.Module().ContinueRunObject(o), 0);
}

// --- Edit data upgrade and stamp, as the editor calls them -------------------------------

static uint32_t CIPHREL_STDCALL Version105() { return 0x01050007; }

static HostEditorRecord Editor(bool withVersion) {
    return HostEditorRecord(withVersion ? Version105 : nullptr);
}

static std::vector<uint8_t> StoredRecord(int16_t version, int16_t size, uint8_t fill) {
    std::vector<uint8_t> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(fill + i);
    std::memcpy(&bytes[0], &size, 2);
    std::memcpy(&bytes[6], &version, 2);
    return bytes;
}

TEST_F(Lifecycle, UpdateEditStructureUpgradesVersionOneOnly) {
    HostEditorRecord editor = Editor(true);
    for (int16_t version : {int16_t{0}, int16_t{2}, int16_t{3}, int16_t{-1}}) {
        std::vector<uint8_t> stored = StoredRecord(version, 100, 1);
        const std::vector<uint8_t> before = stored;
        EXPECT_EQ(host.Module().UpdateEditStructure(
                      editor.Record(), reinterpret_cast<EditData*>(stored.data())), nullptr)
            << "version " << version;
        EXPECT_EQ(stored, before);
    }
}

TEST_F(Lifecycle, UpdateEditStructureCopiesBySizeWithinTheRecord) {
    struct Case { int16_t size; size_t copied; };
    // A 96-byte record reaches up to hostVersion; bad sizes copy nothing or stop at 100.
    const Case cases[] = {{96, 96}, {100, 100}, {60, 60}, {-4, 0}, {0, 0}, {250, 100}};
    for (bool withVersion : {true, false}) {
        HostEditorRecord editor = Editor(withVersion);
        for (const Case& c : cases) {
            std::vector<uint8_t> stored = StoredRecord(1, c.size, 7);
            stored.resize(300, 0xEE);   // what lies beyond a record must never be copied
            auto* upgraded = reinterpret_cast<uint8_t*>(host.Module().UpdateEditStructure(
                editor.Record(), reinterpret_cast<EditData*>(stored.data())));
            ASSERT_NE(upgraded, nullptr) << c.size;
            EditData result;
            std::memcpy(&result, upgraded, sizeof result);
            EXPECT_EQ(result.size, 100);
            EXPECT_EQ(result.version, 2);
            EXPECT_EQ(result.hostVersion, withVersion ? 0x01050007u : 0u);
            for (size_t i = 0; i < 96; ++i) {
                if (i < 2 || (i >= 6 && i < 8)) continue;           // size and version
                const uint8_t expected = i < c.copied ? stored[i] : 0;
                ASSERT_EQ(upgraded[i], expected) << "size " << c.size << " byte " << i;
            }
            EXPECT_EQ(stored[6], 1) << "the stored record is left unchanged";
            FreeHostRecord(upgraded);
        }
    }
}

TEST_F(Lifecycle, PrepareToWriteObjectStampsTheHostVersion) {
    std::vector<uint8_t> record = TestHost::NewEditData();
    auto* data = reinterpret_cast<EditData*>(record.data());
    const std::vector<uint8_t> before = record;

    HostEditorRecord with = Editor(true), without = Editor(false);
    EXPECT_EQ(host.Module().PrepareToWriteObject(with.Record(), data, 0), 0x01050007u);
    EXPECT_EQ(data->hostVersion, 0x01050007u);
    EXPECT_EQ(std::memcmp(record.data(), before.data(), 96), 0) << "only the stamp changes";
    EXPECT_EQ(host.Module().PrepareToWriteObject(without.Record(), data, 0), 0u);
    EXPECT_EQ(data->hostVersion, 0u);
}

}  // namespace
