// The filter under arbitrary input. The set, edited and seeded from any settings, never
// holds a code twice and holds every seeded code; the encoder escapes exactly the filtered
// bytes within 3n + 1; the decoder stays within n + 1, follows the escape rules, and gives
// every byte back while '%' is filtered (or absent).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "designer/edit_data.h"
#include "engine/filter.h"
#include "fuzz/fuzz_check.h"

namespace {

// The escape rules written again, for comparison: each '%' takes the next two characters
// as digits, c - 48 for '0' to '9' and c - 55 otherwise, the end of the text read as NULs.
std::vector<uint8_t> DecodeEscapes(const uint8_t* text, size_t length) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    FilterSet set{};
    bool controlCodes = false;
    for (size_t i = input.ConsumeIntegralInRange<size_t>(0, 600);
         i > 0 && input.remaining_bytes() > 1; --i) {
        const uint8_t op = input.ConsumeIntegral<uint8_t>();
        const uint8_t code = input.ConsumeIntegral<uint8_t>();
        if (op % 4 == 0) AddFilterCode(&set, controlCodes, code);
        if (op % 4 == 1) RemoveFilterCode(&set, controlCodes, code);
        if (op % 4 == 2) controlCodes = !controlCodes;
        if (op % 4 == 3) {      // an object's settings, the code list maybe unended
            const std::string characters = input.ConsumeRandomLengthString(24).c_str();
            std::vector<uint16_t> codes(26);
            for (uint16_t& c : codes) c = input.ConsumeIntegral<uint16_t>();
            const bool empty = set.count == 0;
            SeedFilterSet(&set, controlCodes, characters.c_str(), codes.data(), 26);
            // An empty set gets '%' (and the zero byte but for control codes), then each
            // character and each code up to the end mark.
            codes.erase(std::find(codes.begin(), codes.end(), CodeListEnd), codes.end());
            codes.insert(codes.end(), characters.begin(), characters.end());
            if (empty) codes.push_back('%');
            if (!controlCodes) codes.push_back(0);
            for (uint16_t c : codes)
                REQUIRE(FindFilterCode(&set, controlCodes, c & 0xFF) != FilterAbsent);
        }
    }
    bool seen[256] = {};
    REQUIRE(set.count >= 0 && set.count <= 256);
    for (int32_t i = 0; i < set.count; ++i) REQUIRE(!std::exchange(seen[set.codes[i]], true));

    const std::vector<uint8_t> bytes = input.ConsumeRemainingBytes<uint8_t>();
    const size_t n = bytes.size();
    std::unique_ptr<char[]> encoded(new char[3 * n + 1]);       // what callers provide
    FilterBytes(&set, controlCodes, encoded.get(), bytes.data(), n);
    size_t at = 0;
    bool percentLiteral = false;
    for (uint8_t b : bytes) {
        if (FindFilterCode(&set, controlCodes, b) == FilterAbsent) {
            REQUIRE(uint8_t(encoded[at++]) == b);
            percentLiteral |= b == '%';
        } else {
            REQUIRE(encoded[at] == '%' && encoded[at + 1] == "0123456789ABCDEF"[b / 16] &&
                    encoded[at + 2] == "0123456789ABCDEF"[b % 16]);
            at += 3;
        }
    }
    REQUIRE(encoded[at] == '\0');
    std::unique_ptr<uint8_t[]> decoded(new uint8_t[at + 1]);
    REQUIRE(DefilterBytes(decoded.get(), encoded.get(), at) <= at);
    REQUIRE(percentLiteral ||
            (std::equal(bytes.begin(), bytes.end(), decoded.get()) && decoded[n] == 0));

    // The bytes as a host's text: up to the first zero byte, in a block of its own size.
    const auto length = size_t(std::find(bytes.begin(), bytes.end(), 0) - bytes.begin());
    std::unique_ptr<char[]> textIn(new char[length + 1]);
    std::copy(bytes.begin(), bytes.begin() + long(length), textIn.get());
    textIn[length] = '\0';
    std::unique_ptr<uint8_t[]> out(new uint8_t[length + 1]);
    const std::vector<uint8_t> expected = DecodeEscapes(bytes.data(), length);
    REQUIRE(DefilterBytes(out.get(), textIn.get(), length) == expected.size());
    REQUIRE(std::equal(expected.begin(), expected.end(), out.get()) && out[expected.size()] == 0);
    return 0;
}
