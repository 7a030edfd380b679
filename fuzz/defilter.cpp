// DefilterBytes on arbitrary text: it stays within the caller's n + 1 bytes, and decodes
// exactly as the escape rules say, digits cut short by the end read as the NUL.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/filter.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text a host would pass: up to the first zero byte, in a block of its exact size.
    const size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), data, length);
    text[length] = '\0';
    std::unique_ptr<uint8_t[]> out(new uint8_t[length + 1]);      // what callers provide

    const uint32_t decoded = DefilterBytes(out.get(), text.get(), length);
    const std::vector<uint8_t> expected = DecodeEscapes(data, length);
    REQUIRE(decoded == expected.size());
    REQUIRE(decoded <= length);
    REQUIRE(out[decoded] == 0);
    REQUIRE(std::equal(expected.begin(), expected.end(), out.get()));
    if (std::memchr(data, '%', length) == nullptr) {
        REQUIRE(decoded == length && std::memcmp(out.get(), data, length) == 0);
    }
    return 0;
}
