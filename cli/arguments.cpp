// Command-line parsing for the tool: options, keys, filter settings, texts and numbers.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "cli/platform.h"
#include "designer/edit_data.h"
#include "designer/editor_object.h"
#include "resources/resource_ids.h"
#include "runtime/report.h"

const OptionSpec KeyOptions[] = {
    {"--key", true}, {"--key-hex", true}, {"--key-file", true}, {nullptr, false}};
const OptionSpec FilterOptions[] = {
    {"--no-control-codes", false}, {"--chars", true}, {"--codes", true}, {"--preset", true},
    {nullptr, false}};
const OptionSpec KeyAndFilterOptions[] = {
    {"--key", true}, {"--key-hex", true}, {"--key-file", true},
    {"--no-control-codes", false}, {"--chars", true}, {"--codes", true}, {"--preset", true},
    {nullptr, false}};
const OptionSpec FileOptions[] = {
    {"--key", true}, {"--key-hex", true}, {"--key-file", true}, {"--no-padding", false},
    {"-o", true}, {nullptr, false}};
const OptionSpec NoOptions[] = {{nullptr, false}};

const std::string* ParsedArgs::Find(const char* name) const {
    const std::string* found = nullptr;
    for (const auto& [option, value] : options) {
        if (option == name) found = &value;
    }
    return found;
}

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "ciphrel: %s\n", message.c_str());
    return code;
}

int UsageError(const ParsedArgs& args, const std::string& message) {
    return Fail(ExitUsage, std::string(args.command) + ": " + message + " (see 'ciphrel " +
                               args.command + " --help')");
}

void Warn(const std::string& message) {
    std::fprintf(stderr, "ciphrel: warning: %s\n", message.c_str());
}

// "-5", "-0.5" and "-inf" are values to commands that take numbers, not options.
static bool IsNumber(const char* text) {
    char* end = nullptr;
    std::strtod(text, &end);
    return end != text && *end == '\0';
}

int ParseArguments(int argc, char** argv, int first, const OptionSpec* specs,
                   ParsedArgs* parsed) {
    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || IsNumber(argv[i])) {
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
        const OptionSpec* option = specs;
        while (option->name != nullptr && name != option->name) ++option;
        if (option->name == nullptr) return UsageError(*parsed, "unknown option " + name);
        if (option->takesValue && !inlineValue) {
            if (i + 1 >= argc) return UsageError(*parsed, name + " needs a value");
            value = argv[++i];
        } else if (!option->takesValue && inlineValue) {
            return UsageError(*parsed, name + " takes no value");
        }
        parsed->options.emplace_back(name, value);
    }
    return ExitOk;
}

static int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static bool DecodeHex(const std::string& hex, std::string* bytes) {
    if (hex.size() % 2 != 0) return false;
    bytes->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigitValue(hex[i]);
        int low = HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes->push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

// A key file made with an editor or `echo` ends in a line ending that is not key material.
static void DropFinalLineEnding(std::string* text) {
    if (!text->empty() && text->back() == '\n') {
        text->pop_back();
        if (!text->empty() && text->back() == '\r') text->pop_back();
    }
}

static bool ReadAll(FILE* stream, std::string* content) {
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) content->append(chunk, got);
    return std::ferror(stream) == 0;
}

int LoadKey(const ParsedArgs& args, CommandKey* key) {
    const std::string* text = args.Find("--key");
    const std::string* hex = args.Find("--key-hex");
    const std::string* file = args.Find("--key-file");
    int given = (text != nullptr) + (hex != nullptr) + (file != nullptr);
    if (given == 0) return UsageError(args, "a key is needed: --key, --key-hex or --key-file");
    if (given > 1) return UsageError(args, "give only one of --key, --key-hex, --key-file");

    std::string bytes;
    if (text != nullptr) {
        bytes = *text;
    } else if (hex != nullptr) {
        if (!DecodeHex(*hex, &bytes)) {
            return UsageError(args, "--key-hex takes an even number of hexadecimal digits");
        }
    } else {
        FILE* stream = std::fopen(file->c_str(), "rb");
        bool read = stream != nullptr && ReadAll(stream, &bytes);
        int error = errno;
        if (stream != nullptr) std::fclose(stream);
        if (!read) {
            return Fail(ExitUsage, "cannot read key file '" + *file + "': " +
                                       std::strerror(error));
        }
        DropFinalLineEnding(&bytes);
    }
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

int LoadFilter(const ParsedArgs& args, CommandFilter* filter) {
    // Start from a new record's settings, change them as the setup dialog would, and let
    // the engine seed an empty filter set from them as a new object does.
    EditData record{};
    InitEditData(&record, 0);
    char characters[MaxFilterCharacters + 1] = {};
    uint16_t codes[MaxFilterCodes + 1];
    std::memcpy(codes, record.filterCodes, sizeof codes);

    if (const std::string* name = args.Find("--preset")) {
        const SetupPreset* preset = nullptr;
        if (*name == "default") preset = FindSetupPreset(IDC_PRESET_DEFAULT);
        if (*name == "internet") preset = FindSetupPreset(IDC_PRESET_INTERNET);
        if (preset == nullptr) return UsageError(args, "--preset is default or internet");
        std::strncpy(characters, preset->characters, MaxFilterCharacters);
        ParseCodeList(codes, MaxFilterCodes, preset->codes);
    }
    if (const std::string* chars = args.Find("--chars")) {
        if (chars->size() > size_t(MaxFilterCharacters)) {
            return UsageError(args, "--chars takes at most " +
                                        std::to_string(MaxFilterCharacters) + " characters");
        }
        std::memset(characters, 0, sizeof characters);
        std::memcpy(characters, chars->data(), chars->size());
    }
    if (const std::string* list = args.Find("--codes")) {
        ParseCodeList(codes, MaxFilterCodes, list->c_str());
    }
    uint16_t flags = record.flags;
    if (args.Has("--no-control-codes")) SetFlag(&flags, FlagFilterControlCodes, false);

    filter->set = FilterSet{};
    filter->controlCodes = IsFlagSet(flags, FlagFilterControlCodes);
    SeedFilterSet(&filter->set, filter->controlCodes, characters, codes, MaxFilterCodes + 1);
    return ExitOk;
}

int ReadText(const ParsedArgs& args, const std::string& argument, std::string* text) {
    if (argument != "-") {
        *text = argument;
        return ExitOk;
    }
    UseBinaryMode(stdin);
    text->clear();
    if (!ReadAll(stdin, text)) return Fail(ErrFileOpen, "cannot read standard input");
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
