// ParseCodeList on arbitrary text and counts: a list closed within its maxCount + 1 words,
// holding the digit runs of 0 to 255 in order; FormatCodeList then ParseCodeList gives the
// same list back, and neither writes past the buffers the header promises suffice.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "designer/edit_data.h"
#include "fuzz/fuzz_check.h"

namespace {

// The digit runs of `text`, read again from the rules for comparison.
std::vector<uint16_t> Runs(const char* text, size_t maxCount) {
    std::vector<uint16_t> values;
    for (const char* p = text; *p != '\0' && values.size() < maxCount;) {
        if (*p < '0' || *p > '9') {
            ++p;
            continue;
        }
        uint64_t value = 0;
        bool large = false;
        for (; *p >= '0' && *p <= '9'; ++p) {
            value = value * 10 + uint64_t(*p - '0');
            if (value > 255) large = true, value = 256;
        }
        if (!large) values.push_back(uint16_t(value));
    }
    return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint16_t maxCount = data[0];      // callers pass 25; any count must hold
    const size_t length = strnlen(reinterpret_cast<const char*>(data + 1), size - 1);
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), data + 1, length);
    text[length] = '\0';

    std::unique_ptr<uint16_t[]> list(new uint16_t[maxCount + 1u]);
    ParseCodeList(list.get(), maxCount, text.get());
    REQUIRE(std::memcmp(text.get(), data + 1, length) == 0);    // the text is left as it was

    const std::vector<uint16_t> expected = Runs(text.get(), maxCount);
    for (size_t i = 0; i < expected.size(); ++i) REQUIRE(list[i] == expected[i]);
    REQUIRE(list[expected.size()] == CodeListEnd);

    std::unique_ptr<char[]> formatted(new char[4u * maxCount + 1]);
    FormatCodeList(formatted.get(), list.get(), maxCount);
    std::unique_ptr<uint16_t[]> again(new uint16_t[maxCount + 1u]);
    ParseCodeList(again.get(), maxCount, formatted.get());
    for (size_t i = 0; i <= expected.size(); ++i) REQUIRE(again[i] == list[i]);
    return 0;
}
