// The command-line tool's path handling shared by every system: names of the new files it
// makes beside a destination, and joining and splitting paths kept as UTF-8 text.
#include "cli/platform.h"

#include <algorithm>
#include <cctype>

namespace {

#if defined(_WIN32)
constexpr char Separator = '\\';
// "C:name" is a name in drive C's current folder, so the colon ends a folder part too.
bool IsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }
#else
constexpr char Separator = '/';
bool IsSeparator(char c) { return c == '/'; }
#endif

const char TemporaryMark[] = ".ciphrel-";

// Where the last part of the path begins.
size_t NameStart(const std::string& path) {
    size_t i = path.size();
    while (i > 0 && !IsSeparator(path[i - 1])) --i;
    return i;
}

}  // namespace

// "dir/.name.ciphrel-" for a destination "dir/name": hidden where dot names are hidden,
// and in the destination's own folder so that the final rename never crosses devices.
std::string SiblingPrefix(const std::string& destination) {
    size_t start = NameStart(destination);
    return destination.substr(0, start) + "." + destination.substr(start) + TemporaryMark;
}

bool IsOwnTemporaryName(const std::string& name) {
    return name.size() > 1 && name[0] == '.' && name.find(TemporaryMark) != std::string::npos;
}

bool IsOwnTemporarySuffix(const std::string& suffix) {
    auto all = [&](size_t from, size_t to, int (*test)(int)) {
        return to > from && std::all_of(suffix.begin() + long(from), suffix.begin() + long(to),
                                        [&](char c) { return test((unsigned char)c) != 0; });
    };
    size_t dash = suffix.find('-');
    if (dash != std::string::npos) {
        return all(0, dash, isdigit) && all(dash + 1, suffix.size(), isdigit);
    }
    return suffix.size() == 6 && all(0, 6, isalnum);       // mkstemp's XXXXXX
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (IsSeparator(folder.back())) return folder + name;
    return folder + Separator + name;
}

std::string BaseName(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && IsSeparator(trimmed.back())) trimmed.pop_back();
    return trimmed.substr(NameStart(trimmed));
}
