// Rectangle, size changes, packed bitmap size and setup presets of a placed object.
#include "designer/editor_object.h"

#include <cstring>

#include "resources/resource_ids.h"

void CompleteObjectRect(ObjectRect* rect, const EditData* record) {
    rect->right = rect->left + record->width;
    rect->bottom = rect->top + record->height;
}

void ApplyModification(EditData* record, int32_t kind, const uint8_t* sizeRecord) {
    if (kind != ModifySize) return;
    int16_t width;
    int16_t height;
    std::memcpy(&width, sizeRecord + 4, sizeof width);
    std::memcpy(&height, sizeRecord + 6, sizeof height);
    record->width = width;
    record->height = height;
}

uint32_t PackedBitmapSize(const uint8_t* header) {
    uint16_t width;
    uint16_t height;
    uint16_t bitCount;
    std::memcpy(&width, header + 4, sizeof width);      // low halves of the 32-bit fields
    std::memcpy(&height, header + 8, sizeof height);
    std::memcpy(&bitCount, header + 14, sizeof bitCount);
    const uint32_t paletteBytes = bitCount <= 8 ? 4u << bitCount : 0;
    const uint32_t rowBytes = (uint32_t{width} * bitCount + 31) / 32 * 4;
    return BitmapInfoHeaderSize + paletteBytes + rowBytes * height;
}

namespace {
// "Internet" filters the characters that have a meaning in URLs and form data.
const SetupPreset Presets[] = {
    {IDC_PRESET_DEFAULT, "", "10 12 13"},
    {IDC_PRESET_INTERNET, "&=,. ?+", "9 10 12 13"},
};
}  // namespace

const SetupPreset* FindSetupPreset(int32_t button) {
    for (const SetupPreset& preset : Presets)
        if (preset.button == button) return &preset;
    return nullptr;
}
