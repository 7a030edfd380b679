// The text codecs under arbitrary input. The code list: ParseCodeList keeps the digit runs
// of 0 to 255 within maxCount + 1 words, and FormatCodeList reads back alike. The filter:
// the set never holds a code twice, the encoder escapes exactly the filtered bytes within
// 3n + 1 bytes, the decoder stays within n + 1 and follows the escape rules on any text,
// and while '%' is filtered (or absent) decoding the encoded bytes gives every byte back.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "designer/edit_data.h"
#include "engine/filter.h"
#include "fuzz/fuzz_check.h"

namespace {

void CodeList(uint16_t maxCount, const std::string& text) {
    std::unique_ptr<uint16_t[]> list(new uint16_t[maxCount + 1u]);
    ParseCodeList(list.get(), maxCount, text.c_str());
    std::vector<uint16_t> runs;         // the digit runs, read again from the rules
    for (size_t i = 0; i < text.size() && runs.size() < maxCount;) {
        uint32_t value = 0;
        const size_t start = i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            value = std::min<uint32_t>(value * 10 + uint32_t(text[i] - '0'), 256);
        if (i == start) ++i;
        else if (value < 256) runs.push_back(uint16_t(value));
    }
    REQUIRE(std::equal(runs.begin(), runs.end(), list.get()) && list[runs.size()] == CodeListEnd);
    std::unique_ptr<char[]> formatted(new char[4u * maxCount + 1]);
    FormatCodeList(formatted.get(), list.get(), maxCount);
    std::unique_ptr<uint16_t[]> again(new uint16_t[maxCount + 1u]);
    ParseCodeList(again.get(), maxCount, formatted.get());
    REQUIRE(std::equal(runs.begin(), runs.end(), again.get()) &&
            again[runs.size()] == CodeListEnd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint16_t maxCount = input.ConsumeIntegral<uint8_t>();     // callers pass 25
    CodeList(maxCount, input.ConsumeRandomLengthString(300).c_str());

    FilterSet set{};
    bool controlCodes = false;
    const size_t edits = input.ConsumeIntegralInRange<size_t>(0, 600);
    for (size_t i = 0; i < edits && input.remaining_bytes() > 1; ++i) {
        const uint8_t op = input.ConsumeIntegral<uint8_t>(),
                      code = input.ConsumeIntegral<uint8_t>();
        if (op % 4 == 0) AddFilterCode(&set, controlCodes, code);
        if (op % 4 == 1) RemoveFilterCode(&set, controlCodes, code);
        if (op % 4 == 2) controlCodes = !controlCodes;
        if (op % 4 == 3) SeedFilterSet(&set, controlCodes, nullptr, nullptr, 0);
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
        const char* digits = "0123456789ABCDEF";
        if (FindFilterCode(&set, controlCodes, b) == FilterAbsent) {
            REQUIRE(uint8_t(encoded[at++]) == b);
            percentLiteral |= b == '%';
            continue;
        }
        REQUIRE(encoded[at] == '%' && encoded[at + 1] == digits[b / 16] &&
                encoded[at + 2] == digits[b % 16]);
        at += 3;
    }
    REQUIRE(encoded[at] == '\0');
    std::unique_ptr<uint8_t[]> decoded(new uint8_t[at + 1]);
    REQUIRE(DefilterBytes(decoded.get(), encoded.get(), at) <= at);
    REQUIRE(percentLiteral ||
            (std::equal(bytes.begin(), bytes.end(), decoded.get()) && decoded[n] == 0));

    // The bytes as a host's text: up to the first zero byte, in a block of its own size.
    const size_t length = n ? strnlen(reinterpret_cast<const char*>(bytes.data()), n) : 0;
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::copy(bytes.begin(), bytes.begin() + long(length), text.get());
    text[length] = '\0';
    std::unique_ptr<uint8_t[]> out(new uint8_t[length + 1]);
    const std::vector<uint8_t> expected = DecodeEscapes(bytes.data(), length);
    REQUIRE(DefilterBytes(out.get(), text.get(), length) == expected.size());
    REQUIRE(std::equal(expected.begin(), expected.end(), out.get()) && out[expected.size()] == 0);
    return 0;
}
