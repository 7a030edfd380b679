// What every fuzz target uses to stop on a broken property, so libFuzzer keeps the input.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// An abort is a crash to libFuzzer: it writes the input out as a finding and stops.
#define REQUIRE(condition) \
    do { if (!(condition)) { \
        std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
        std::abort(); } } while (false)

// The escape rules written again, for comparison: each '%' takes the next two characters
// as digits, c - 48 for '0' to '9' and c - 55 otherwise, the end of the text read as NULs.
inline std::vector<uint8_t> DecodeEscapes(const uint8_t* text, size_t length) {
    auto digit = [&](size_t i) -> int32_t {
        const uint8_t c = i < length ? text[i] : 0;
        return c >= '0' && c <= '9' ? c - 48 : c - 55;
    };
    std::vector<uint8_t> out;
    for (size_t i = 0; i < length; i += text[i] == '%' ? 3 : 1)
        out.push_back(text[i] == '%' ? uint8_t((16 * digit(i + 1) + digit(i + 2)) & 0xFF)
                                     : text[i]);
    return out;
}
