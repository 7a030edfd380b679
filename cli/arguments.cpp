// Command-line parsing for the tool: options, keys, filter settings, texts and numbers.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/cli.h"
#include "cli/platform.h"
#include "designer/edit_data.h"
#include "designer/editor_object.h"
#include "resources/resource_ids.h"
#include "runtime/report.h"

const OptionSpec KeyOptions[] = {
    {"--key", true}, {"--key-hex", true}, {"--key-file", true}, {nullptr, false}};
#define CIPHREL_FILTER_OPTIONS                                                             \
    {"--no-control-codes", false}, {"--chars", true}, {"--codes", true}, {"--preset", true}, \
        {"--add-chars", true}, {"--add-codes", true}, {"--url-safe", false}
const OptionSpec FilterOptions[] = {CIPHREL_FILTER_OPTIONS, {nullptr, false}};
const OptionSpec KeyAndFilterOptions[] = {
    {"--key", true}, {"--key-hex", true}, {"--key-file", true}, CIPHREL_FILTER_OPTIONS,
    {nullptr, false}};
const OptionSpec FileOptions[] = {
    {"--key", true}, {"--key-hex", true}, {"--key-file", true}, {"--no-padding", false},
    {"--overwrite", false}, {"-o", true}, {"--recursive", false}, {"-r", false},
    {nullptr, false}};

// Bytes that stay literal in a URL-safe text: letters, digits and "-._~", which no URL,
// form field or query parser changes. Everything else is escaped.
const char UrlSafeCodes[] = "0-44 47 58-64 91-94 96 123-125 127-255";

namespace {
bool progressLineOpen = false;
}

void SetProgressLineOpen() { progressLineOpen = true; }
const OptionSpec NoOptions[] = {{nullptr, false}};

const std::string* ParsedArgs::Find(const char* name) const {
    const std::string* found = nullptr;
    for (const auto& [option, value] : options) {
        if (option == name) found = &value;
    }
    return found;
}

void EndProgressLine() {
    if (progressLineOpen) std::fputc('\n', stderr);
    progressLineOpen = false;
}

int Fail(int code, const std::string& message) {
    EndProgressLine();
    WriteMessage("ciphrel: " + message + "\n");
    return code;
}

int UsageError(const ParsedArgs& args, const std::string& message) {
    return Fail(ExitUsage, std::string(args.command) + ": " + message + " (see 'ciphrel " +
                               args.command + " --help')");
}

void Warn(const std::string& message) {
    EndProgressLine();
    WriteMessage("ciphrel: warning: " + message + "\n");
}

// "-5", "-0.5" and "-inf" are values to commands that take numbers, not options.
static bool IsNumber(const char* text) {
    char* end = nullptr;
    std::strtod(text, &end);
    return end != text && *end == '\0';
}

static const OptionSpec* FindOption(const OptionSpec* specs, const std::string& name) {
    while (specs->name != nullptr && name != specs->name) ++specs;
    return specs->name != nullptr ? specs : nullptr;
}

int ParseArguments(const std::vector<std::string>& args, size_t first, const OptionSpec* specs,
                   ParsedArgs* parsed) {
    bool optionsEnded = false;
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // Options are "--name" besides -o, -r and -h, so "-%F5%08" (a cipher text) or
        // "-weird.dat" can only be an argument.
        bool argument = optionsEnded || arg.size() < 2 || arg[0] != '-' ||
                        IsNumber(arg.c_str()) ||
                        (arg[1] != '-' && arg != "-h" && FindOption(specs, arg) == nullptr);
        if (argument) {
            parsed->positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            parsed->help = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            inlineValue = true;
        }
        const OptionSpec* option = FindOption(specs, name);
        if (option == nullptr) {
            return UsageError(*parsed, "unknown option " + name + "; a TEXT or FILE that "
                              "begins with '-' goes after '--': ciphrel " + parsed->command +
                              " [OPTIONS] -- " + arg);
        }
        if (option->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) return UsageError(*parsed, name + " needs a value");
            value = args[++i];
        } else if (!option->takesValue && inlineValue) {
            return UsageError(*parsed, name + " takes no value");
        }
        // The help promises exactly one of each; a second would silently win.
        if (parsed->Has(name.c_str())) return UsageError(*parsed, name + " is given twice");
        parsed->options.emplace_back(name, value);
    }
    return ExitOk;
}

int PrintLine(const std::string& text) {
    // Reading a text back drops one final LF or CR LF (as echo and editors add them), so a
    // text that ends in CR gets CR LF: then what is read back is the text exactly.
    std::string line = text + (!text.empty() && text.back() == '\r' ? "\r\n" : "\n");
    UseBinaryMode(stdout);
    if (!WriteAll(stdout, line.data(), line.size()) || std::fflush(stdout) != 0) {
        return Fail(ErrFileWrite, "cannot write standard output: " + DescribeError(LastError()));
    }
    return ExitOk;
}

static int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The reason the hex text is no key, or empty when it decodes.
static std::string DecodeHex(const std::string& hex, std::string* bytes) {
    bytes->clear();
    for (char c : hex) {
        if (HexDigitValue(c) < 0) return "'" + hex + "' is not hexadecimal (0-9, a-f)";
    }
    if (hex.size() % 2 != 0) return "'" + hex + "' has an odd number of digits (two a byte)";
    for (size_t i = 0; i < hex.size(); i += 2) {
        bytes->push_back(static_cast<char>(HexDigitValue(hex[i]) * 16 +
                                           HexDigitValue(hex[i + 1])));
    }
    return "";
}

// A key file made with an editor or `echo` ends in a line ending that is not key material.
static void DropFinalLineEnding(std::string* text) {
    if (!text->empty() && text->back() == '\n') {
        text->pop_back();
        if (!text->empty() && text->back() == '\r') text->pop_back();
    }
}

// Reads to the end, or until more than `limit` bytes came (then `content` is longer than
// the limit and the caller refuses it).
static bool ReadAll(FILE* stream, std::string* content, size_t limit) {
    char chunk[65536];
    size_t got;
    bool failed = false;
    while (content->size() <= limit && (got = ReadSome(stream, chunk, sizeof chunk, &failed))) {
        content->append(chunk, got);
    }
    return !failed;
}

int RequireKeyOption(const ParsedArgs& args, size_t expectedArguments) {
    if (args.Has("--key") || args.Has("--key-hex") || args.Has("--key-file")) return ExitOk;
    std::string hint;
    if (args.positional.size() > expectedArguments) {
        hint = " (is '" + args.positional[0] + "' the key? then --key '" +
               args.positional[0] + "')";
    }
    return UsageError(args, "a key is needed: --key TEXT, --key-hex HEX or --key-file PATH" +
                                hint);
}

int LoadKey(const ParsedArgs& args, CommandKey* key) {
    const std::string* text = args.Find("--key");
    const std::string* hex = args.Find("--key-hex");
    const std::string* file = args.Find("--key-file");
    int given = (text != nullptr) + (hex != nullptr) + (file != nullptr);
    if (given == 0) return RequireKeyOption(args, 0);
    if (given > 1) return UsageError(args, "give only one of --key, --key-hex, --key-file");

    std::string bytes;
    if (text != nullptr) {
        std::string problem;
        if (!KeyTextBytes(*text, &bytes, &problem)) return UsageError(args, problem);
    } else if (hex != nullptr) {
        std::string problem = DecodeHex(*hex, &bytes);
        if (!problem.empty()) return UsageError(args, "--key-hex " + problem);
    } else {
        FILE* stream = OpenFile(*file, false);
        bool read = stream != nullptr && ReadAll(stream, &bytes, MaxKeyFileSize);
        int error = LastError();
        if (stream != nullptr) std::fclose(stream);
        if (!read) {
            return Fail(ExitUsage, "cannot read key file '" + *file + "': " +
                                       DescribeError(error));
        }
        if (bytes.size() > MaxKeyFileSize) {
            return Fail(ExitUsage, "key file '" + *file + "' is longer than " +
                                       std::to_string(MaxKeyFileSize) + " bytes; a key holds " +
                                       std::to_string(MaxKeyLength) + " at most");
        }
        DropFinalLineEnding(&bytes);
    }
    if (bytes.empty()) Warn("the key is empty; anyone can decrypt with an empty key");
    if (bytes.find('\0') != std::string::npos) {
        return UsageError(args, "the key holds a zero byte, which a game's key text cannot");
    }
    if (bytes.size() > size_t(MaxKeyLength)) {
        Warn("the key is " + std::to_string(bytes.size()) + " bytes long; only its first " +
             std::to_string(MaxKeyLength) + " are used, as the object does");
        bytes.resize(size_t(MaxKeyLength));
    }
    if (AddKey(&key->ring, bytes.data(), bytes.size()) != KeyOk) {
        return Fail(ExitNoMemory, "out of memory");
    }
    key->context = key->ring.entries[0].context;
    return ExitOk;
}

// Reads "9 10, 13" (and, where ranges are allowed, "127-255") into codes from 0 to 255.
// The reason it cannot, or empty.
static std::string ParseCodes(const std::string& text, bool ranges, std::vector<int>* codes) {
    size_t i = 0;
    auto number = [&](int* value) {
        size_t start = i;
        *value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && *value <= 255) {
            *value = *value * 10 + (text[i++] - '0');
        }
        return i > start && *value <= 255;
    };
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == ',') {
            ++i;
            continue;
        }
        int low, high;
        if (!number(&low)) return "'" + text + "' is not a list of codes from 0 to 255";
        high = low;
        if (ranges && i < text.size() && text[i] == '-') {
            ++i;
            if (!number(&high) || high < low) return "'" + text + "' has a bad range";
        }
        if (i < text.size() && text[i] != ' ' && text[i] != ',') {
            return "'" + text + "' is not a list of codes from 0 to 255";
        }
        for (int code = low; code <= high; ++code) codes->push_back(code);
    }
    return "";
}

int LoadFilter(const ParsedArgs& args, CommandFilter* filter) {
    // Start from a new record's settings, change them as the setup dialog would, and let
    // the engine seed an empty filter set from them as a new object does.
    EditData record{};
    InitEditData(&record, 0);
    std::string characters;
    std::vector<int> codes;
    for (int i = 0; i < MaxFilterCodes && record.filterCodes[i] != CodeListEnd; ++i) {
        codes.push_back(record.filterCodes[i]);
    }

    const std::string* presetName = args.Find("--preset");
    if (presetName != nullptr) {
        const SetupPreset* preset = nullptr;
        if (*presetName == "default") preset = FindSetupPreset(IDC_PRESET_DEFAULT);
        if (*presetName == "internet") preset = FindSetupPreset(IDC_PRESET_INTERNET);
        if (preset == nullptr) return UsageError(args, "--preset is default or internet");
        characters = preset->characters;
        codes.clear();
        ParseCodes(preset->codes, false, &codes);
    }
    // Options add to a preset's lists, as a designer adds to them after pressing its
    // button; without a preset --codes is the whole list in place of the default.
    std::string bytes, problem;
    if (const std::string* chars = args.Find("--chars")) {
        if (!TextArgumentBytes(*chars, &bytes, &problem)) return UsageError(args, problem);
        characters += bytes;
    }
    if (const std::string* list = args.Find("--codes")) {
        if (presetName == nullptr) codes.clear();
        std::string problem = ParseCodes(*list, false, &codes);
        if (!problem.empty()) return UsageError(args, "--codes " + problem);
    }
    // The setup dialog keeps no more than these; more can be added at run time.
    if (characters.size() > size_t(MaxFilterCharacters)) {
        return UsageError(args, "the setup keeps at most " +
                                    std::to_string(MaxFilterCharacters) +
                                    " characters; add more with --add-chars");
    }
    if (codes.size() > size_t(MaxFilterCodes)) {
        return UsageError(args, "the setup keeps at most " + std::to_string(MaxFilterCodes) +
                                    " codes; add more with --add-codes (ranges such as "
                                    "128-255 allowed)");
    }
    uint16_t list[MaxFilterCodes + 1];
    for (size_t i = 0; i <= size_t(MaxFilterCodes); ++i) {
        list[i] = i < codes.size() ? static_cast<uint16_t>(codes[i]) : CodeListEnd;
    }
    uint16_t flags = record.flags;
    if (args.Has("--no-control-codes")) SetFlag(&flags, FlagFilterControlCodes, false);

    filter->set = FilterSet{};
    filter->controlCodes = IsFlagSet(flags, FlagFilterControlCodes);
    SeedFilterSet(&filter->set, filter->controlCodes, characters.c_str(), list,
                  MaxFilterCodes + 1);

    // What a game adds at run time: "Add Characters to Filter" and "Add a Character to
    // Filter by Code", any number of them.
    std::vector<int> added;
    if (const std::string* chars = args.Find("--add-chars")) {
        if (!TextArgumentBytes(*chars, &bytes, &problem)) return UsageError(args, problem);
        for (unsigned char c : bytes) added.push_back(c);
    }
    if (const std::string* list = args.Find("--add-codes")) {
        std::string problem = ParseCodes(*list, true, &added);
        if (!problem.empty()) return UsageError(args, "--add-codes " + problem);
    }
    if (args.Has("--url-safe")) ParseCodes(UrlSafeCodes, true, &added);
    for (int code : added) {
        AddFilterCode(&filter->set, filter->controlCodes, static_cast<uint8_t>(code));
    }
    return ExitOk;
}

int ReadText(const ParsedArgs& args, const std::string& argument, std::string* text) {
    if (argument != "-") {
        std::string problem;
        return TextArgumentBytes(argument, text, &problem) ? ExitOk
                                                           : UsageError(args, problem);
    }
    UseBinaryMode(stdin);
    text->clear();
    if (!ReadAll(stdin, text, SIZE_MAX)) return Fail(ErrFileOpen, "cannot read standard input");
    DropFinalLineEnding(text);
    if (text->find('\0') != std::string::npos) {
        return UsageError(args, "standard input holds a zero byte; a text ends at its first");
    }
    return ExitOk;
}

bool ParseWord(const std::string& text, uint32_t* word) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) return false;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        int digit = HexDigitValue(text[i]);
        if (digit < 0 || digit >= base) return false;
        value = value * uint64_t(base) + uint64_t(digit);
        if (value > UINT32_MAX) return false;
    }
    if (negative && value > uint64_t(INT32_MAX) + 1) return false;
    *word = negative ? static_cast<uint32_t>(0 - value) : static_cast<uint32_t>(value);
    return true;
}
