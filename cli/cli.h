// The command-line tool's shared parts: exit codes, parsed arguments, keys and filters.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cipher/blowfish.h"
#include "engine/filter.h"
#include "engine/key_ring.h"

// Exit codes besides the object's error codes (6 cannot open or read, 7 cannot write).
constexpr int ExitOk = 0;
constexpr int ExitUsage = 64;          // bad command line, or a key file that cannot be read
constexpr int ExitNoMemory = 71;
constexpr int ExitInternal = 70;       // a fault of the tool itself

// A key file is a few bytes; anything longer is the wrong file (or an endless device).
constexpr size_t MaxKeyFileSize = 4096;

struct OptionSpec {
    const char* name;           // "--key", "-o"
    bool takesValue;
};

struct ParsedArgs {
    const char* command;        // for messages
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;   // in command-line order
    bool help = false;

    // The last value given for an option, or null.
    const std::string* Find(const char* name) const;
    bool Has(const char* name) const { return Find(name) != nullptr; }
};

// Reads args[first...] against the options a command accepts. ExitOk, or ExitUsage after
// printing the reason. "--" ends the options; "-", negative numbers and anything else that
// begins with a single '-' but is no option of the command are arguments.
int ParseArguments(const std::vector<std::string>& args, size_t first, const OptionSpec* specs,
                   ParsedArgs* parsed);

// One line on standard error: "ciphrel: <message>". Fail returns `code` for the caller to
// exit with; a usage error points at the command's help.
int Fail(int code, const std::string& message);
int UsageError(const ParsedArgs& args, const std::string& message);
void Warn(const std::string& message);
// Fail and Warn first end a progress line that is on the terminal, so no message is glued
// to a bar; the bar says when it has drawn one.
void SetProgressLineOpen();
void EndProgressLine();
// Writes `text` and a line ending to standard output; 7 when it cannot be written. The line
// ending is LF, or CR LF after a text that ends in CR: ReadText drops exactly that again.
int PrintLine(const std::string& text);

// The Windows-1252 bytes a key text (UTF-8) stands for; false, with the reason, when it is
// not UTF-8 or holds a character that Windows-1252 lacks.
bool KeyTextBytes(const std::string& utf8, std::string* bytes, std::string* problem);

// The one key of a command, expanded by the engine's key ring exactly as the object's
// "Add an Encryption Key" expands it, cut to 56 bytes with a warning when longer.
struct CommandKey {
    KeyRing ring{};
    const BlowfishContext* context = nullptr;
    CommandKey() = default;
    CommandKey(const CommandKey&) = delete;
    CommandKey& operator=(const CommandKey&) = delete;
    ~CommandKey() { ReleaseKeyRing(&ring); }
};
// From --key, --key-hex or --key-file (exactly one). ExitOk or an exit code, reported.
int LoadKey(const ParsedArgs& args, CommandKey* key);
// Asks for a key when none is given; checked before the other arguments, so that a key
// given without its option ("encrypt-string dragon hello") is named as the problem.
int RequireKeyOption(const ParsedArgs& args, size_t expectedArguments);

// The filter a new object with the command's settings gives a freshly loaded module.
struct CommandFilter {
    FilterSet set{};
    bool controlCodes = false;
};
int LoadFilter(const ParsedArgs& args, CommandFilter* filter);

// TEXT as given (on Windows in the ANSI code page), or standard input for "-" without one
// final LF or CR LF. A text holds no zero byte, since the object's strings end at the first.
int ReadText(const ParsedArgs& args, const std::string& argument, std::string* text);
// A 32-bit value written in decimal (signed or unsigned) or as 0x hexadecimal.
bool ParseWord(const std::string& text, uint32_t* word);

// Option tables of the commands, for ParseArguments.
extern const OptionSpec KeyOptions[];
extern const OptionSpec FilterOptions[];
extern const OptionSpec KeyAndFilterOptions[];
extern const OptionSpec FileOptions[];
extern const OptionSpec NoOptions[];

// The commands; each returns the process's exit code.
int EncryptStringCommand(const ParsedArgs& args);
int DecryptStringCommand(const ParsedArgs& args);
int EncryptIntCommand(const ParsedArgs& args);
int DecryptIntCommand(const ParsedArgs& args);
int ToIntCommand(const ParsedArgs& args);
int ToFloatCommand(const ParsedArgs& args);
int FilterCommand(const ParsedArgs& args);
int DefilterCommand(const ParsedArgs& args);
int RandomKeyCommand(const ParsedArgs& args);
int EncryptFileCommand(const ParsedArgs& args);
int DecryptFileCommand(const ParsedArgs& args);
