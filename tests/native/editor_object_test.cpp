// Frame-editor helpers: packed bitmap sizes, rectangle, size changes, setup presets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "designer/edit_data.h"
#include "designer/editor_object.h"

namespace {

// A BITMAPINFOHEADER with the fields the size depends on; the rest stays zero.
struct Header {
    uint8_t bytes[40] = {};
    Header(uint32_t width, uint32_t height, uint16_t bitCount, uint32_t coloursUsed = 0) {
        std::memcpy(bytes + 0, "\x28\0\0\0", 4);
        std::memcpy(bytes + 4, &width, 4);
        std::memcpy(bytes + 8, &height, 4);
        const uint16_t planes = 1;
        std::memcpy(bytes + 12, &planes, 2);
        std::memcpy(bytes + 14, &bitCount, 2);
        std::memcpy(bytes + 32, &coloursUsed, 4);
    }
};

EditData NewRecord() {
    EditData record;
    std::memset(&record, 0xAB, sizeof record);
    InitEditData(&record, 0x01050000);
    return record;
}

}  // namespace

TEST(PackedBitmapSize, HeaderPaletteAndPaddedRows) {
    struct Case {
        uint32_t width, height;
        uint16_t bitCount;
        uint32_t coloursUsed;
        uint32_t size;
    };
    const Case cases[] = {
        {32, 32, 4, 0, 616},            // the icon and the picture: 40 + 64 + 512
        {32, 32, 8, 2, 40 + 1024 + 1024},   // the colours-used count is not consulted
        {32, 32, 1, 0, 40 + 8 + 128},
        {32, 32, 24, 0, 40 + 3072},     // no palette above 8 bits
        {33, 2, 4, 0, 40 + 64 + 2 * 20},    // 132 bits pad to 160
        {1, 1, 1, 0, 40 + 8 + 4},
        {3, 5, 24, 0, 40 + 5 * 12},     // 9 bytes pad to 12
        {0, 0, 4, 0, 40 + 64},
        {0x10020, 0x10003, 4, 0, 40 + 64 + 3 * 16},    // low 16 bits only: 32 x 3
    };
    for (const Case& c : cases) {
        Header header(c.width, c.height, c.bitCount, c.coloursUsed);
        EXPECT_EQ(PackedBitmapSize(header.bytes), c.size)
            << c.width << " x " << c.height << " x " << c.bitCount;
    }
}

TEST(ObjectRect, SizeComesFromTheRecordAndLeftTopStay) {
    EditData record = NewRecord();
    ObjectRect rect = {100, 40, -7, -7};
    CompleteObjectRect(&rect, &record);
    EXPECT_EQ(rect.left, 100);
    EXPECT_EQ(rect.top, 40);
    EXPECT_EQ(rect.right, 132);
    EXPECT_EQ(rect.bottom, 72);


    record.width = -16;                 // fields are signed 16-bit values
    rect = {10, 10, 0, 0};
    CompleteObjectRect(&rect, &record);
    EXPECT_EQ(rect.right, -6);
}

TEST(ModifyObject, OnlyKindZeroTakesTheNewSize) {
    const uint8_t size[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0x40, 0x01, 0x18, 0x00};   // 320 x 24
    EditData record = NewRecord();
    EditData before = record;
    for (int32_t kind : {1, 2, -1, 0x100}) {
        ApplyModification(&record, kind, size);
        EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0) << "kind " << kind;
    }
    ApplyModification(&record, 0, size);
    EXPECT_EQ(record.width, 320);
    EXPECT_EQ(record.height, 24);
    record.width = before.width;
    record.height = before.height;
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0) << "only the size changes";
}

TEST(SetupPresets, DefaultAndInternetTexts) {
    const SetupPreset* byDefault = FindSetupPreset(9006);
    const SetupPreset* internet = FindSetupPreset(9007);
    ASSERT_NE(byDefault, nullptr);
    ASSERT_NE(internet, nullptr);
    EXPECT_EQ(std::string(byDefault->characters), "");
    EXPECT_EQ(std::string(byDefault->codes), "10 12 13");
    EXPECT_EQ(std::string(internet->characters), "&=,. ?+");
    EXPECT_EQ(std::string(internet->codes), "9 10 12 13");
    for (int32_t other : {0, 1, 2, 9000, 9002, 9003, 9008, 9009, 2020})
        EXPECT_EQ(FindSetupPreset(other), nullptr) << other;
}
