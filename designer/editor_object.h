// Portable parts of the frame-editor exports: rectangle, size, bitmap size, presets.
#pragma once
#include <cstdint>

#include "designer/edit_data.h"

// A Windows rectangle: four signed 32-bit values in the editor's coordinates.
struct ObjectRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// Completes a rectangle whose left and top the host set: its size is the record's.
void CompleteObjectRect(ObjectRect* rect, const EditData* record);

constexpr int32_t ModifySize = 0;           // the one kind of modification the object takes
// For ModifySize, takes width and height from the 16-bit words at bytes 4 and 6 of the
// host's size record; any other kind changes nothing.
void ApplyModification(EditData* record, int32_t kind, const uint8_t* sizeRecord);

constexpr uint32_t BitmapInfoHeaderSize = 40;
// Bytes of a packed device-independent bitmap from its header on: the 40-byte header,
// 4 << bitCount palette bytes up to 8 bits per pixel (the colours-used count is not
// consulted) and rows padded to 32 bits, from the low 16 bits of width and height.
uint32_t PackedBitmapSize(const uint8_t* header);

struct SetupPreset {
    int32_t button;             // command ID of the preset's button
    const char* characters;     // text for the characters box
    const char* codes;          // text for the codes box
};
// The preset behind a button of the setup dialog, or null for any other command.
const SetupPreset* FindSetupPreset(int32_t button);
