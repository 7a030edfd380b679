// DefilterBytes on arbitrary text: it stays within the caller's n + 1 bytes, and decodes
// exactly as the escape rules say, digits cut short by the end read as the NUL.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/filter.h"
#include "fuzz/fuzz_check.h"

namespace {

int32_t DigitValue(uint8_t c) { return c >= '0' && c <= '9' ? c - 48 : c - 55; }

// The decoder written again from the rules, for comparison.
size_t Decode(const uint8_t* text, size_t length, uint8_t* out) {
    auto at = [&](size_t i) -> uint8_t { return i < length ? text[i] : 0; };
    size_t o = 0;
    for (size_t i = 0; i < length; ++o) {
        if (text[i] == '%') {
            out[o] = uint8_t((16 * DigitValue(at(i + 1)) + DigitValue(at(i + 2))) & 0xFF);
            i += 3;
        } else {
            out[o] = text[i++];
        }
    }
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text a host would pass: up to the first zero byte, in a block of its exact size.
    const size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), data, length);
    text[length] = '\0';
    std::unique_ptr<uint8_t[]> out(new uint8_t[length + 1]);      // what callers provide
    std::unique_ptr<uint8_t[]> expected(new uint8_t[length + 1]);

    const uint32_t decoded = DefilterBytes(out.get(), text.get(), length);
    const size_t expectedLength = Decode(data, length, expected.get());
    REQUIRE(decoded == expectedLength);
    REQUIRE(decoded <= length);
    REQUIRE(out[decoded] == 0);
    REQUIRE(std::memcmp(out.get(), expected.get(), decoded) == 0);
    if (std::memchr(data, '%', length) == nullptr) {
        REQUIRE(decoded == length && std::memcmp(out.get(), data, length) == 0);
    }
    return 0;
}
