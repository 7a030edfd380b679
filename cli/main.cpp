// ciphrel: the object's encryption outside the game, from the same engine code.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/platform.h"
#include "runtime/report.h"

#ifndef CIPHREL_VERSION
#define CIPHREL_VERSION "unknown"
#endif

namespace {

const char KeyHelp[] =
    "Key (exactly one):\n"
    "  --key TEXT          the key text, as the game gives it\n"
    "  --key-hex HEX       the key bytes in hexadecimal\n"
    "  --key-file PATH     the key bytes in a file (one final line ending is dropped)\n"
    "A key text stands for the Windows-1252 bytes of its characters, as a game's own\n"
    "text does (e acute, U+00E9, is the byte 0xE9 on every system); a character that\n"
    "Windows-1252 lacks is refused: give such a key with --key-hex. A key longer than\n"
    "56 bytes is cut to its first 56, with a warning, as the object cuts it. A key\n"
    "cannot hold a zero byte; a key file holds at most 4096 bytes, used as they are.\n";

const char FilterHelp[] =
    "Filter (a new object's settings unless changed):\n"
    "  --no-control-codes  do not escape the codes 1 to 31 unless listed (the zero byte\n"
    "                      and '%' are always escaped)\n"
    "  --chars CHARS       characters to escape (default none)\n"
    "  --codes \"9 10 13\"   character codes to escape (default \"10 12 13\")\n"
    "  --preset NAME       default: no characters, codes 10 12 13;\n"
    "                      internet: characters &=,. ?+ and codes 9 10 12 13\n"
    "                      (--chars and --codes add to a preset's lists; the setup\n"
    "                      dialog keeps at most 24 characters and 25 codes)\n"
    "What a game adds at run time, in any number (\"Add Characters to Filter\",\n"
    "\"Add a Character to Filter by Code\"):\n"
    "  --add-chars CHARS   characters to escape\n"
    "  --add-codes LIST    codes to escape, ranges allowed: \"35 127-255\"\n"
    "  --url-safe          escape every byte but letters, digits and -._~ (the codes\n"
    "                      0-44 47 58-64 91-94 96 123-125 127-255): the text then\n"
    "                      passes unchanged through URLs, query strings and forms\n";

struct Command {
    const char* name;
    const char* summary;
    const char* usage;          // the arguments after the options
    const char* details;        // what the command does, its output
    bool keyed;
    bool filtered;
    const OptionSpec* options;
    int (*run)(const ParsedArgs&);
};

const Command Commands[] = {
    {"encrypt-string", "a text as escaped cipher text", "TEXT",
     "Prints the escaped cipher text that \"EncryptString$(\" gives in a new object with\n"
     "the same settings: the text padded with zero bytes to a multiple of 8, each 8-byte\n"
     "block encrypted (ECB), and every filtered byte written as '%' and two hexadecimal\n"
     "digits. TEXT '-' reads standard input (one final line ending is dropped).\n",
     true, true, KeyAndFilterOptions, EncryptStringCommand},
    {"decrypt-string", "escaped cipher text back to its text", "TEXT",
     "Prints the text that \"DecryptString$(\" gives: every %XX escape decoded, whatever\n"
     "the filter, the bytes decrypted, and the text up to its first zero byte.\n"
     "TEXT '-' reads standard input (one final line ending is dropped).\n",
     true, false, KeyOptions, DecryptStringCommand},
    {"encrypt-file", "encrypt files, in place or to other files",
     "[-r] [--no-padding] FILE... [-o OUT|--overwrite]",
     "Writes the file as \"Encrypt a File\" leaves it: 8-byte blocks from offset 0, each\n"
     "encrypted by itself, no header. A final piece of 1 to 7 bytes is padded with zero\n"
     "bytes and encrypted, or with --no-padding left as it is. Works in chunks, so any\n"
     "size goes. Regular files only. The result goes to a new file beside the\n"
     "destination, which then replaces it: an interrupted run leaves the destination as\n"
     "it was, but the file gets a new identity (other hard links keep the old content).\n"
     "Without -o the destination is FILE itself; -o - writes to standard output; FILE -\n"
     "reads standard input; -o naming a folder puts the result there under FILE's name.\n"
     "A read-only destination is refused.\n"
     "Several FILEs are done one after the other; one that fails leaves the others done,\n"
     "and a last line counts them (\"3 files encrypted, 1 failed\"). The exit status is\n"
     "then that of the first file that failed. -o then names a folder.\n"
     "  -r, --recursive  FILE may be a folder: every regular file in it and in its\n"
     "                   folders (links are not followed); with -o each result keeps\n"
     "                   its path inside the folder\n"
     "  --overwrite      write over FILE itself, chunk by chunk, as the object does:\n"
     "                   needs no room for a copy nor a writable folder and keeps hard\n"
     "                   links, but an interrupted run leaves the file half done\n",
     true, false, FileOptions, EncryptFileCommand},
    {"decrypt-file", "decrypt files, in place or to other files",
     "[-r] [--no-padding] FILE... [-o OUT|--overwrite]",
     "Undoes encrypt-file with the same key and padding setting, as \"Decrypt a File\"\n"
     "does. The zero bytes that padding added stay, since the file does not record its\n"
     "length. Otherwise as encrypt-file.\n",
     true, false, FileOptions, DecryptFileCommand},
    {"encrypt-int", "encrypt two 32-bit integers as one block", "L R",
     "Prints both halves of the block that \"EncryptInteger(\" gives with selector 0 (L)\n"
     "and 2 (R), as signed integers. L and R may be signed or unsigned decimal, or 0x\n"
     "hexadecimal.\n",
     true, false, KeyOptions, EncryptIntCommand},
    {"decrypt-int", "decrypt two 32-bit integers as one block", "L R",
     "Prints both halves that \"DecryptInteger(\" gives; undoes encrypt-int.\n",
     true, false, KeyOptions, DecryptIntCommand},
    {"to-int", "the bit pattern of a float, as an integer", "FLOAT",
     "Prints what \"ConvertToInteger(\" gives: the single-precision float's 32 bits as a\n"
     "signed integer. FLOAT may be inf, -inf, nan or nan(0xHHHHHH) with the NaN's 23 low\n"
     "bits (as to-float writes it).\n",
     false, false, NoOptions, ToIntCommand},
    {"to-float", "the float with an integer's bit pattern", "INT",
     "Prints what \"ConvertToFloat(\" gives, with enough digits for to-int to give INT\n"
     "back. A NaN is written with its 23 low bits, as nan(0x400000) or -nan(0x7fffff),\n"
     "which to-int reads back to the same INT.\n",
     false, false, NoOptions, ToFloatCommand},
    {"filter", "escape a text under the character filter", "TEXT",
     "Prints what \"FilterString$(\" gives: every filtered byte as '%' and two\n"
     "hexadecimal digits. TEXT '-' reads standard input.\n",
     false, true, FilterOptions, FilterCommand},
    {"defilter", "decode the %XX escapes of a text", "TEXT",
     "Prints what \"DefilterString$(\" gives, up to the first zero byte. TEXT '-' reads\n"
     "standard input.\n",
     false, false, NoOptions, DefilterCommand},
    {"random-key", "a random key, in hexadecimal", "[LENGTH]",
     "Prints LENGTH (1 to 56, default 56) random bytes from 1 to 255 in hexadecimal,\n"
     "for --key-hex. Unlike \"RandomKey$(\" it draws from the system's generator.\n",
     false, false, NoOptions, RandomKeyCommand},
};

const char EndOfOptionsHelp[] =
    "After --, every argument is a TEXT, FILE or number, even one that begins with\n"
    "'-' (a cipher text such as -%F5%08, a file named -h):\n"
    "  ciphrel COMMAND [OPTIONS] -- ARGUMENT\n"
    "Without --, an argument that begins with a single '-' and is no option is taken\n"
    "as an argument too.\n";

const char ExitHelp[] =
    "Exit status: 0 done; 6 a file cannot be opened or read; 7 a file or standard\n"
    "output cannot be written; 64 a usage error or a key file that cannot be read;\n"
    "71 out of memory.\n";

void PrintOverview() {
    std::printf("usage: ciphrel COMMAND [OPTIONS] ARGUMENTS\n\n"
                "Encrypts and decrypts strings, numbers and files exactly as the Ciphrel\n"
                "Encryption Object does in a game.\n\nCommands:\n");
    for (const Command& command : Commands) {
        std::printf("  %-16s %s\n", command.name, command.summary);
    }
    std::printf("\nRun 'ciphrel COMMAND --help' for a command's options.\n\n%s\n%s",
                EndOfOptionsHelp, ExitHelp);
}

void PrintCommandHelp(const Command& command) {
    std::printf("usage: ciphrel %s%s%s %s\n\n%s", command.name, command.keyed ? " KEY" : "",
                command.filtered ? " [FILTER]" : "", command.usage, command.details);
    if (command.keyed) std::printf("\n%s", KeyHelp);
    if (command.filtered) std::printf("\n%s", FilterHelp);
    std::printf("\n%s\n%s", EndOfOptionsHelp, ExitHelp);
}

int Run(const std::vector<std::string>& argv) {
    if (argv.size() < 2) return Fail(ExitUsage, "missing COMMAND (see 'ciphrel --help')");
    const std::string& name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintOverview();
        return ExitOk;
    }
    if (name == "--version") return PrintLine("ciphrel " CIPHREL_VERSION);
    for (const Command& command : Commands) {
        if (name != command.name) continue;
        ParsedArgs args;
        args.command = command.name;
        if (int status = ParseArguments(argv, 2, command.options, &args)) return status;
        if (args.help) {
            PrintCommandHelp(command);
            return ExitOk;
        }
        return command.run(args);
    }
    return Fail(ExitUsage, "unknown command '" + name + "' (see 'ciphrel --help')");
}

int RunAndClean(const std::vector<std::string>& argv) {
    int status;
    // Whatever goes wrong, a new file that is not finished does not stay behind.
    try {
        status = Run(argv);
    } catch (const std::bad_alloc&) {
        status = Fail(ExitNoMemory, "out of memory");
    } catch (const std::exception& error) {
        status = Fail(ExitInternal, std::string("internal error: ") + error.what());
    }
    RemovePendingFile();
    // Help texts and every other output are checked too: a full disk is no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (status == ExitOk) status = Fail(ErrFileWrite, "cannot write standard output");
    }
    return status;
}

}  // namespace

#if defined(_WIN32)
// The wide command line, so that paths and keys keep every character whatever the ANSI
// code page; the arguments are UTF-8 from here on.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(Utf8FromWide(argv[i]));
    return RunAndClean(arguments);
}
#else
int main(int argc, char** argv) {
    return RunAndClean(std::vector<std::string>(argv, argv + argc));
}
#endif
