// UpdateEditStructure and CreateRunObject on arbitrary 100-byte records: only version 1 is
// upgraded, by a copy that stays within both records; and any record, upgraded or not,
// sets both flags and leaves a filter set without duplicates that filters '%', the zero
// byte (or every control code) and each of the record's characters and codes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "designer/edit_data.h"
#include "designer/editor_record.h"
#include "engine/allocation.h"
#include "engine/engine_state.h"
#include "fuzz/fuzz_check.h"
#include "runtime/exports.h"

namespace {

constexpr uint32_t StampedVersion = 0x01050009;
uint32_t CIPHREL_STDCALL GetVersion() { return StampedVersion; }

bool Filtered(uint8_t code) {
    return FindFilterCode(&engine.filterSet, engine.filterControlCodes, code) != FilterAbsent;
}

void CreateAndCheck(const uint8_t* bytes) {
    EditData record;
    std::memcpy(&record, bytes, sizeof record);
    RunData* rd = static_cast<RunData*>(std::calloc(1, sizeof(RunData)));
    REQUIRE(CreateRunObject(rd, &record, 0) == 0);
    REQUIRE(std::memcmp(&record, bytes, sizeof record) == 0);  // read, never written
    REQUIRE(engine.filterControlCodes == ((record.flags & FlagFilterControlCodes) != 0));
    REQUIRE(engine.fileSettings.noPadding == ((record.flags & FlagNoPadding) != 0 ? 1 : 0));
    REQUIRE(engine.keyRing.entries != nullptr);
    REQUIRE(rd->errorCode == 0 && rd->resultBuffer == nullptr);

    bool seen[256] = {};
    REQUIRE(engine.filterSet.count >= 1 && engine.filterSet.count <= 256);
    for (int32_t i = 0; i < engine.filterSet.count; ++i) {
        REQUIRE(!seen[engine.filterSet.codes[i]]);
        seen[engine.filterSet.codes[i]] = true;
    }
    REQUIRE(Filtered('%') && Filtered(0));
    for (int i = 0; i < MaxFilterCharacters + 1 && record.filterCharacters[i] != '\0'; ++i)
        REQUIRE(Filtered(uint8_t(record.filterCharacters[i])));
    for (int i = 0; i < MaxFilterCodes + 1 && record.filterCodes[i] != CodeListEnd; ++i)
        REQUIRE(Filtered(uint8_t(record.filterCodes[i] & 0xFF)));
    DestroyRunObject(rd, 0);
    std::free(rd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(EditData)) return 0;
    uint8_t stored[sizeof(EditData)];
    std::memcpy(stored, data, sizeof stored);
    FuzzedDataProvider rest(data + sizeof stored, size - sizeof stored);
    void* editor[EditorGetVersionEntry + 1] = {};
    const bool withVersion = rest.ConsumeBool();
    if (withVersion) editor[EditorGetVersionEntry] = reinterpret_cast<void*>(GetVersion);

    // Each input starts from an empty filter set, so that a finding replays by itself.
    engine.filterSet = FilterSet{};
    Initialize(0, 0);

    EditData* upgraded = UpdateEditStructure(editor, reinterpret_cast<EditData*>(stored));
    REQUIRE(std::memcmp(stored, data, sizeof stored) == 0);
    int16_t version, storedSize;
    std::memcpy(&version, stored + 6, 2);
    std::memcpy(&storedSize, stored, 2);
    REQUIRE((upgraded != nullptr) == (version == 1));
    if (upgraded != nullptr) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(upgraded);
        const int copied = storedSize < 0 ? 0 : storedSize > 100 ? 100 : storedSize;
        for (int i = 0; i < 96; ++i) {
            if (i < 2 || i == 6 || i == 7) continue;        // size and version
            REQUIRE(bytes[i] == (i < copied ? stored[i] : 0));
        }
        REQUIRE(upgraded->size == 100 && upgraded->version == 2);
        REQUIRE(upgraded->hostVersion == (withVersion ? StampedVersion : 0));
        CreateAndCheck(bytes);
        EngineRelease(upgraded);
    }
    CreateAndCheck(stored);
    Free(0);
    REQUIRE(engine.keyRing.entries == nullptr);
    return 0;
}
