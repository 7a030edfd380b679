// EditData: the 100-byte settings record of a placed object, saved by the host.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint16_t FlagFilterControlCodes = 1;  // filter the characters with codes 0 to 31
constexpr uint16_t FlagNoPadding = 2;           // do not pad the end of files with zeros
constexpr uint16_t CodeListEnd = 0xFFFF;
constexpr int MaxFilterCodes = 25;              // codes a record holds, before CodeListEnd
constexpr int MaxFilterCharacters = 24;         // characters, before the NUL
constexpr int16_t EditDataVersion = 2;
constexpr int16_t EditDataSize = 100;
constexpr size_t CodeListTextSize = 101;        // FormatCodeList's text of a full list

#pragma pack(push, 1)
struct EditData {
    int16_t size;                               // record size in bytes: 100
    uint8_t hostHeader[4];                      // the host's; copied along, never read
    int16_t version;                            // 2 current, 1 upgraded on load
    uint16_t flags;                             // FlagFilterControlCodes | FlagNoPadding
    uint16_t reserved;
    int16_t height;                             // rectangle in the frame editor
    int16_t width;
    char filterCharacters[MaxFilterCharacters + 1];
    uint8_t alignment1;                         // never written
    uint16_t filterCodes[MaxFilterCodes + 1];   // ended by CodeListEnd at index 25 at the latest
    uint8_t alignment2[2];                      // never written
    uint32_t hostVersion;                       // stamped before every save
};
#pragma pack(pop)

static_assert(sizeof(EditData) == 100, "layout fixed by the saved game file");
static_assert(offsetof(EditData, version) == 6 && offsetof(EditData, flags) == 8);
static_assert(offsetof(EditData, reserved) == 10 && offsetof(EditData, height) == 12);
static_assert(offsetof(EditData, width) == 14 && offsetof(EditData, filterCharacters) == 16);
static_assert(offsetof(EditData, filterCodes) == 42 && offsetof(EditData, hostVersion) == 96);

bool IsFlagSet(uint16_t flags, uint16_t mask);
void SetFlag(uint16_t* flags, uint16_t mask, bool on);

// Reads the digit runs of `text` into `list`: values 0 to 255 in order, at most `maxCount`,
// then CodeListEnd; `list` holds maxCount + 1 words. Never fails.
void ParseCodeList(uint16_t* list, uint16_t maxCount, const char* text);
// Writes each value before CodeListEnd (at most `maxCount`) in decimal and a space, then NUL.
// `text` holds 4 * maxCount + 1 bytes.
void FormatCodeList(char* text, const uint16_t* list, int maxCount = MaxFilterCodes);

// Writes a new record's values (the host keeps size, version and its header).
void InitEditData(EditData* record, uint32_t hostVersion);
// Converts a stored version-1 record into `upgraded` (100 zeroed bytes), copying at most
// as many bytes as the stored record's size says and never more than 100. False, with
// nothing written, for any other version.
bool UpgradeEditData(EditData* upgraded, const EditData* stored, uint32_t hostVersion);

// Number of codes before CodeListEnd, never looking past the 26 words of the record.
int CountFilterCodes(const uint16_t* codes);
