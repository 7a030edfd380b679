// ParseCodeList on arbitrary text and counts: a list closed within its maxCount + 1 words,
// holding the digit runs of 0 to 255 in order; FormatCodeList then ParseCodeList gives the
// same list back, and neither writes past the buffers the header promises suffice.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "designer/edit_data.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint16_t maxCount = data[0];      // callers pass 25; any count must hold
    const size_t length = strnlen(reinterpret_cast<const char*>(data + 1), size - 1);
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), data + 1, length);
    text[length] = '\0';
    std::unique_ptr<uint16_t[]> list(new uint16_t[maxCount + 1u]);
    ParseCodeList(list.get(), maxCount, text.get());

    // The digit runs, read again from the rules.
    std::vector<uint16_t> runs;
    for (const char* p = text.get(); *p != '\0' && runs.size() < maxCount;) {
        uint32_t value = 0;
        const char* start = p;
        for (; *p >= '0' && *p <= '9'; ++p) value = std::min<uint32_t>(value * 10 + uint32_t(*p - '0'), 256);
        if (p == start) ++p;
        else if (value < 256) runs.push_back(uint16_t(value));
    }
    for (size_t i = 0; i < runs.size(); ++i) REQUIRE(list[i] == runs[i]);
    REQUIRE(list[runs.size()] == CodeListEnd);

    std::unique_ptr<char[]> formatted(new char[4u * maxCount + 1]);
    FormatCodeList(formatted.get(), list.get(), maxCount);
    std::unique_ptr<uint16_t[]> again(new uint16_t[maxCount + 1u]);
    ParseCodeList(again.get(), maxCount, formatted.get());
    REQUIRE(std::memcmp(again.get(), list.get(), (runs.size() + 1) * 2) == 0);
    return 0;
}
