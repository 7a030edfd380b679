// The tool's commands on texts and numbers: escaped cipher text, integer blocks, float
// bit patterns, the %XX codec and random keys, all through the engine's operations.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "cli/cli.h"
#include "cli/platform.h"

namespace {

constexpr size_t EscapeWidth = 3;               // '%' and two digits per escaped byte
constexpr int32_t DefaultRandomKeyLength = MaxKeyLength;

// The string that the object hands the game ends at the first zero byte.
std::string UpToZero(const uint8_t* bytes) { return reinterpret_cast<const char*>(bytes); }

// Checks the number of arguments; the usage error names what is missing or extra.
int ExpectArguments(const ParsedArgs& args, size_t least, size_t most, const char* what) {
    if (args.positional.size() < least) return UsageError(args, std::string("missing ") + what);
    if (args.positional.size() > most) {
        return UsageError(args, "unexpected argument '" + args.positional[most] + "'");
    }
    return ExitOk;
}

// "EncryptString$(": the text padded with zeros to whole blocks, ECB, then escaped.
std::string EncryptText(const BlowfishContext* key, const CommandFilter& filter,
                        const std::string& text) {
    size_t padded = static_cast<size_t>(RoundUpToBlock(text.size()));
    std::vector<uint8_t> work(text.begin(), text.end());
    work.resize(padded, 0);
    EncryptBlocks(key, work.data(), padded / BlockSize);
    std::vector<char> escaped(EscapeWidth * padded + 1);
    FilterBytes(&filter.set, filter.controlCodes, escaped.data(), work.data(), padded);
    return escaped.data();
}

// "DecryptString$(": escapes decoded, the bytes completed with zeros to whole blocks
// (a cut text decrypts all the same), ECB, and the text up to its first zero byte.
std::string DecryptText(const BlowfishContext* key, const std::string& cipher) {
    std::vector<uint8_t> bytes(cipher.size() + BlockSize + 1, 0);
    size_t decoded = DefilterBytes(bytes.data(), cipher.c_str(), cipher.size());
    size_t padded = static_cast<size_t>(RoundUpToBlock(decoded));
    std::memset(bytes.data() + decoded, 0, padded - decoded + 1);
    DecryptBlocks(key, bytes.data(), padded / BlockSize);
    return UpToZero(bytes.data());
}

int StringCommand(const ParsedArgs& args, bool encrypt) {
    if (int status = RequireKeyOption(args, 1)) return status;
    if (int status = ExpectArguments(args, 1, 1, "TEXT")) return status;
    CommandKey key;
    if (int status = LoadKey(args, &key)) return status;
    // Decryption decodes every escape, whatever the filter.
    CommandFilter filter;
    if (encrypt) {
        if (int status = LoadFilter(args, &filter)) return status;
    }
    std::string text;
    if (int status = ReadText(args, args.positional[0], &text)) return status;
    return PrintLine(encrypt ? EncryptText(key.context, filter, text)
                             : DecryptText(key.context, text));
}

int IntCommand(const ParsedArgs& args, bool encrypt) {
    if (int status = RequireKeyOption(args, 2)) return status;
    if (int status = ExpectArguments(args, 2, 2, "L and R")) return status;
    uint32_t l, r;
    if (!ParseWord(args.positional[0], &l) || !ParseWord(args.positional[1], &r)) {
        return UsageError(args, "L and R are 32-bit integers");
    }
    CommandKey key;
    if (int status = LoadKey(args, &key)) return status;
    if (encrypt) {
        EncryptBlock(key.context, &l, &r);
    } else {
        DecryptBlock(key.context, &l, &r);
    }
    // The game reads both halves as signed 32-bit integers.
    return PrintLine(std::to_string(static_cast<int32_t>(l)) + " " +
                     std::to_string(static_cast<int32_t>(r)));
}

}  // namespace

int EncryptStringCommand(const ParsedArgs& args) { return StringCommand(args, true); }
int DecryptStringCommand(const ParsedArgs& args) { return StringCommand(args, false); }
int EncryptIntCommand(const ParsedArgs& args) { return IntCommand(args, true); }
int DecryptIntCommand(const ParsedArgs& args) { return IntCommand(args, false); }

// Infinities and NaNs are read and written here, bit by bit: printf and strtof differ
// between C libraries there, and a NaN's payload would not survive them.
constexpr uint32_t SignBit = 0x80000000u;
constexpr uint32_t ExponentBits = 0x7F800000u;
constexpr uint32_t FractionBits = 0x007FFFFFu;
constexpr uint32_t QuietNaN = 0x7FC00000u;      // what a plain "nan" stands for

bool EqualsIgnoringCase(const std::string& text, size_t from, size_t length, const char* word) {
    if (from + length > text.size() || std::strlen(word) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[from + i])) != word[i]) return false;
    }
    return true;
}

enum class Special { No, Yes, Bad };

// "inf", "infinity", "nan" and "nan(0xHHHHHH)", signed or not; Bad for another "nan(...)".
Special ParseSpecialFloat(const std::string& text, uint32_t* bits) {
    size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    uint32_t sign = text[0] == '-' ? SignBit : 0;
    size_t rest = text.size() - i;
    if (EqualsIgnoringCase(text, i, rest, "inf") || EqualsIgnoringCase(text, i, rest, "infinity")) {
        *bits = sign | ExponentBits;
        return Special::Yes;
    }
    if (!EqualsIgnoringCase(text, i, std::min<size_t>(rest, 3), "nan")) return Special::No;
    if (rest == 3) {
        *bits = sign | QuietNaN;
        return Special::Yes;
    }
    uint32_t payload;
    if (rest < 6 || text[i + 3] != '(' || text.back() != ')' || text[i + 4] == '-' ||
        !ParseWord(text.substr(i + 4, rest - 5), &payload) || payload == 0 ||
        payload > FractionBits) {
        return Special::Bad;
    }
    *bits = sign | ExponentBits | payload;
    return Special::Yes;
}

int ToIntCommand(const ParsedArgs& args) {
    if (int status = ExpectArguments(args, 1, 1, "FLOAT")) return status;
    const std::string& text = args.positional[0];
    uint32_t bits = 0;
    Special special = ParseSpecialFloat(text, &bits);
    char* end = nullptr;
    if (special == Special::No) {
        float value = std::strtof(text.c_str(), &end);
        std::memcpy(&bits, &value, sizeof bits);
    }
    if (special == Special::Bad || (special == Special::No && (end == text.c_str() || *end))) {
        return UsageError(args, "FLOAT is a number, inf, nan or nan(0x1 to 0x7fffff)");
    }
    return PrintLine(std::to_string(static_cast<int32_t>(bits)));
}

int ToFloatCommand(const ParsedArgs& args) {
    if (int status = ExpectArguments(args, 1, 1, "INT")) return status;
    uint32_t bits;
    if (!ParseWord(args.positional[0], &bits)) return UsageError(args, "INT is a 32-bit integer");
    char text[32];
    const char* sign = bits & SignBit ? "-" : "";
    if ((bits & ExponentBits) == ExponentBits && (bits & FractionBits) != 0) {
        std::snprintf(text, sizeof text, "%snan(0x%x)", sign, bits & FractionBits);
    } else if ((bits & ExponentBits) == ExponentBits) {
        std::snprintf(text, sizeof text, "%sinf", sign);
    } else {
        float value;
        std::memcpy(&value, &bits, sizeof value);
        // Nine significant digits name every float exactly, so to-int gives the bits back.
        std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    }
    return PrintLine(text);
}

int FilterCommand(const ParsedArgs& args) {
    if (int status = ExpectArguments(args, 1, 1, "TEXT")) return status;
    CommandFilter filter;
    if (int status = LoadFilter(args, &filter)) return status;
    std::string text;
    if (int status = ReadText(args, args.positional[0], &text)) return status;
    std::vector<char> escaped(EscapeWidth * text.size() + 1);
    FilterBytes(&filter.set, filter.controlCodes, escaped.data(),
                reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return PrintLine(escaped.data());
}

int DefilterCommand(const ParsedArgs& args) {
    if (int status = ExpectArguments(args, 1, 1, "TEXT")) return status;
    std::string text;
    if (int status = ReadText(args, args.positional[0], &text)) return status;
    std::vector<uint8_t> bytes(text.size() + 1);
    DefilterBytes(bytes.data(), text.c_str(), text.size());
    return PrintLine(UpToZero(bytes.data()));
}

int RandomKeyCommand(const ParsedArgs& args) {
    if (int status = ExpectArguments(args, 0, 1, "LENGTH")) return status;
    int32_t length = DefaultRandomKeyLength;
    if (!args.positional.empty()) {
        const std::string& text = args.positional[0];
        // Digits only: no sign, so "-1" cannot wrap round to a huge or an empty key.
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
            text.find_first_not_of('0') == std::string::npos) {
            return UsageError(args, "LENGTH is a number of bytes from 1 to " +
                                        std::to_string(MaxKeyLength));
        }
        length = text.size() > 4 ? MaxKeyLength + 1 : std::stoi(text);
    }
    if (length > MaxKeyLength) {
        Warn("a key holds at most " + std::to_string(MaxKeyLength) + " bytes; making one of " +
             std::to_string(MaxKeyLength));
        length = MaxKeyLength;
    }
    // Bytes 1 to 255, as "RandomKey$(" makes them, so the key also serves as a key text;
    // drawn from the system's generator, and redrawn when zero so that all are equally
    // likely.
    std::random_device device;
    std::string hex;
    for (int32_t i = 0; i < length; ++i) {
        unsigned byte;
        do {
            byte = device() & 0xFFu;
        } while (byte == 0);
        hex.push_back("0123456789abcdef"[byte / 16]);
        hex.push_back("0123456789abcdef"[byte % 16]);
    }
    return PrintLine(hex);
}
