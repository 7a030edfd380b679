// The command-line tool's system calls on Windows, all through the wide-character API, so
// any path works whatever the ANSI code page: consoles, files beside files, replacement
// that reaches the disk, clean-up on Ctrl+C or a closed console, and the system's errors.
#if defined(_WIN32)
#include "cli/platform.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cwchar>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                     nullptr, 0);
    std::wstring wide(size_t(std::max(length, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}

std::string Narrow(const wchar_t* wide, int length) {
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

HANDLE HandleOf(FILE* stream) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))); }

// Opens a path to ask about it (a folder too), sharing everything with everyone.
HANDLE OpenToQuery(const std::string& path) {
    return CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// A stdio stream over a handle: the streams carry handles, the I/O goes through the API.
FILE* StreamOf(HANDLE handle, int flags, const char* mode) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    FILE* stream = fd < 0 ? nullptr : _fdopen(fd, mode);
    if (stream == nullptr) {
        DWORD error = fd < 0 ? ERROR_TOO_MANY_OPEN_FILES : ERROR_NOT_ENOUGH_MEMORY;
        if (fd < 0) {
            CloseHandle(handle);
        } else {
            _close(fd);
        }
        SetLastError(error);
    }
    return stream;
}

// The new file an interruption removes. The console's control handler runs on a thread of
// its own, so the lock keeps it from removing a file that is being renamed.
CRITICAL_SECTION pendingLock;
constexpr UINT ControlCExit = 0xC000013A;   // what Windows ends a process with on Ctrl+C
std::wstring pendingRemoval;
bool removalArmed = false;
bool handlerInstalled = false;

// Ctrl+C, Ctrl+Break, a closed console, logoff or shutdown: the new file was opened with
// delete sharing, so it goes when the process ends, as it does here at once.
BOOL WINAPI RemoveOnControlEvent(DWORD) {
    EnterCriticalSection(&pendingLock);
    if (removalArmed) DeleteFileW(pendingRemoval.c_str());
    removalArmed = false;
    ExitProcess(ControlCExit);
}

void ArmRemoval(const std::string& path) {
    if (!handlerInstalled) {
        InitializeCriticalSection(&pendingLock);
        SetConsoleCtrlHandler(RemoveOnControlEvent, TRUE);
        handlerInstalled = true;
    }
    EnterCriticalSection(&pendingLock);
    pendingRemoval = Widen(path);
    removalArmed = true;
    LeaveCriticalSection(&pendingLock);
}

void Disarm() {
    if (!handlerInstalled) return;
    EnterCriticalSection(&pendingLock);
    removalArmed = false;
    LeaveCriticalSection(&pendingLock);
}

}  // namespace

std::string Utf8FromWide(const wchar_t* text) {
    return Narrow(text, static_cast<int>(wcslen(text)));
}

void WriteMessage(const std::string& utf8) {
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode;
    if (GetConsoleMode(console, &mode)) {
        std::wstring wide = Widen(utf8);
        DWORD written;
        WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        // At once, in order with what goes to standard output.
        std::fwrite(utf8.data(), 1, utf8.size(), stderr);
        std::fflush(stderr);
    }
}

bool IsTerminal(FILE* stream) {
    DWORD mode;
    return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

int TerminalWidth(FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(HandleOf(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void UseBinaryMode(FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

bool TextArgumentBytes(const std::string& utf8, std::string* bytes, std::string* problem) {
    UINT codePage = GetACP();
    if (codePage == CP_UTF8) {
        *bytes = utf8;
        return true;
    }
    std::wstring wide = Widen(utf8);
    bytes->clear();
    // One character at a time, so the first one the code page lacks can be named.
    for (size_t i = 0; i < wide.size();) {
        int units = IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() ? 2 : 1;
        char converted[8];
        BOOL substituted = FALSE;
        int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data() + i, units,
                                         converted, sizeof converted, nullptr, &substituted);
        if (length <= 0 || substituted) {
            char code[16];
            uint32_t point = units == 2 ? 0x10000u + ((uint32_t(wide[i]) - 0xD800u) << 10) +
                                              (uint32_t(wide[i + 1]) - 0xDC00u)
                                        : uint32_t(wide[i]);
            std::snprintf(code, sizeof code, "U+%04X", point);
            *problem = "the character '" + Narrow(wide.data() + i, units) + "' (" + code +
                       ") has no byte in this system's code page " + std::to_string(codePage) +
                       "; give the text through standard input (TEXT -)";
            return false;
        }
        bytes->append(converted, size_t(length));
        i += size_t(units);
    }
    return true;
}

int LastError() { return static_cast<int>(GetLastError()); }

// The usual errors in the words the POSIX build uses, so messages read alike everywhere.
std::string DescribeError(int error) {
    switch (static_cast<DWORD>(error)) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: case ERROR_BAD_NET_NAME:
        return "No such file or directory";
    case ERROR_ACCESS_DENIED: return "Permission denied";
    case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION:
        return "the file is in use by another program";
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return "No space left on device";
    case ERROR_WRITE_PROTECT: return "the disk is write-protected";
    case ERROR_NOT_ENOUGH_MEMORY: case ERROR_OUTOFMEMORY: return "Cannot allocate memory";
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: return "File exists";
    case ERROR_INVALID_NAME: case ERROR_DIRECTORY:
        return "the name is not valid here (a folder, a device or a character Windows refuses)";
    case ERROR_FILENAME_EXCED_RANGE: return "File name too long";
    default: break;
    }
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(error), 0,
                                  reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length > 0 ? Narrow(text, static_cast<int>(length)) : "";
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (std::isspace(static_cast<unsigned char>(message.back())) ||
                                message.back() == '.')) {
        message.pop_back();
    }
    return (message.empty() ? "system error" : message) + " (" + std::to_string(error) + ")";
}

bool IsNoSpace(int error) {
    return static_cast<DWORD>(error) == ERROR_DISK_FULL ||
           static_cast<DWORD>(error) == ERROR_HANDLE_DISK_FULL;
}

FILE* OpenFile(const std::string& path, bool forUpdate) {
    // Delete sharing, so that reading a file never keeps another run from replacing it.
    HANDLE handle = CreateFileW(Widen(path).c_str(),
                                GENERIC_READ | (forUpdate ? GENERIC_WRITE : 0),
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return StreamOf(handle, forUpdate ? _O_RDWR : _O_RDONLY, forUpdate ? "r+b" : "rb");
}

bool WriteAll(FILE* stream, const void* data, size_t size) {
    // Anything printed before goes first.
    if (std::fflush(stream) != 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        DWORD part = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(HandleOf(stream), bytes, part, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

size_t ReadSome(FILE* stream, void* data, size_t size, bool* failed) {
    DWORD got = 0;
    DWORD part = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (ReadFile(HandleOf(stream), data, part, &got, nullptr)) return got;
    // A pipe whose writer is gone has simply ended.
    if (GetLastError() != ERROR_BROKEN_PIPE && GetLastError() != ERROR_HANDLE_EOF) {
        *failed = true;
    }
    return 0;
}

bool CommitToDisk(FILE* stream) {
    return std::fflush(stream) == 0 && FlushFileBuffers(HandleOf(stream));
}

PathKind KindOfPath(const std::string& path) {
    HANDLE handle = OpenToQuery(path);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD attributes = GetFileAttributesW(Widen(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
        return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::Folder : PathKind::Regular;
    }
    // NUL, CON and COM1 open as character devices, named pipes as pipes.
    PathKind kind = PathKind::Other;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)) {
        kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::Folder
                                                                : PathKind::Regular;
    }
    CloseHandle(handle);
    return kind;
}

FileIdentity IdentityOf(const std::string& path) {
    FileIdentity identity;
    HANDLE handle = OpenToQuery(path);
    if (handle == INVALID_HANDLE_VALUE) return identity;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)) {
        identity.device = info.dwVolumeSerialNumber;
        identity.index = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
        identity.links = static_cast<int>(info.nNumberOfLinks);
        identity.known = true;
    }
    CloseHandle(handle);
    return identity;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Widen(JoinPath(folder, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    entries->clear();
    do {
        std::string name = Utf8FromWide(found.cFileName);
        if (name == "." || name == "..") continue;
        // Links and junctions are neither: a walk does not follow them.
        PathKind kind = PathKind::Regular;
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) {
            kind = PathKind::Other;
        } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            kind = PathKind::Folder;
        }
        entries->push_back({JoinPath(folder, name), kind});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.path < b.path; });
    return true;
}

std::vector<std::string> ExpandFileArgument(const std::string& argument) {
    // Windows names hold no '*' or '?', so an argument with one is always a pattern.
    if (argument.find_first_of("*?") == std::string::npos) return {argument};
    const std::string folder = argument.substr(0, argument.size() - BaseName(argument).size());
    std::vector<std::string> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Widen(argument).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            files.push_back(folder + Utf8FromWide(found.cFileName));
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

bool MakeFolders(const std::string& path) {
    // Each folder on the way; those that exist (and "C:") refuse, which is fine.
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\' || path[i] == '/') {
            CreateDirectoryW(Widen(path.substr(0, i)).c_str(), nullptr);
        }
    }
    return KindOfPath(path) == PathKind::Folder;
}

bool SeekTo(FILE* stream, int64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = offset;
    return std::fflush(stream) == 0 &&
           SetFilePointerEx(HandleOf(stream), position, nullptr, FILE_BEGIN);
}

FILE* CreateFileBeside(const std::string& destination, std::string* created) {
    // Exclusive creation under a name made of the process id and a count. Delete sharing
    // lets the control handler remove the file while it is still open.
    const std::string prefix = SiblingPrefix(destination);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + std::to_string(_getpid()) + "-" + std::to_string(attempt);
        HANDLE handle = CreateFileW(Widen(name).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return nullptr;
        }
        ArmRemoval(name);
        FILE* stream = StreamOf(handle, _O_WRONLY, "wb");
        if (stream == nullptr) {
            DWORD error = GetLastError();
            RemovePendingFile();
            SetLastError(error);
            return nullptr;
        }
        *created = name;
        return stream;
    }
    return nullptr;
}

std::vector<std::string> RemoveStaleFilesBeside(const std::string& destination) {
    // A file that a running process writes is open without delete-on-close sharing for
    // others, so only a left one opens here; it goes when its handle closes.
    const std::string prefix = SiblingPrefix(destination);
    const std::string folder = prefix.substr(0, prefix.size() - BaseName(prefix).size());
    std::vector<std::string> removed;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Widen(prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return removed;
    do {
        std::string name = Utf8FromWide(found.cFileName);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ||
            !IsOwnTemporarySuffix(name.substr(std::min(name.size(), BaseName(prefix).size())))) {
            continue;
        }
        std::string path = folder + name;
        HANDLE handle = CreateFileW(Widen(path).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE) continue;
        CloseHandle(handle);
        removed.push_back(path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return removed;
}

// Windows keeps a file's rights in the folder's inherited defaults; nothing to copy.
void MatchPermissions(const std::string&, FILE*) {}

bool IsWritable(const std::string& path) {
    std::wstring wide = Widen(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

bool CloseAndReplace(FILE* stream, const std::string& from, const std::string& to) {
    // The data first: a rename that reaches the disk before the data would leave an empty
    // or partial file under the old name after a power loss.
    if (!CommitToDisk(stream)) {
        DWORD error = GetLastError();
        DiscardNewFile(stream, from);
        SetLastError(error);
        return false;
    }
    // Windows renames no file that is still open.
    std::fclose(stream);
    if (!handlerInstalled) ArmRemoval(from);
    EnterCriticalSection(&pendingLock);
    BOOL moved = MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    DWORD error = GetLastError();
    // Read-only destinations were refused before: denied now means open elsewhere.
    if (!moved && error == ERROR_ACCESS_DENIED) error = ERROR_SHARING_VIOLATION;
    if (!moved && removalArmed) DeleteFileW(pendingRemoval.c_str());
    removalArmed = false;
    LeaveCriticalSection(&pendingLock);
    SetLastError(error);
    return moved != 0;
}

void DiscardNewFile(FILE* stream, const std::string& created) {
    std::fclose(stream);
    Disarm();
    if (!created.empty()) DeleteFileW(Widen(created).c_str());
}

int64_t RegularFileSize(FILE* stream) {
    HANDLE handle = HandleOf(stream);
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER size;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !GetFileSizeEx(handle, &size)) {
        return -1;
    }
    return size.QuadPart;
}

std::string ResolveLink(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return path;
    }
    HANDLE handle = OpenToQuery(path);
    if (handle == INVALID_HANDLE_VALUE) return path;
    wchar_t target[32768];
    DWORD length = GetFinalPathNameByHandleW(handle, target, 32768, FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    if (length == 0 || length >= 32768) return path;
    std::string resolved = Narrow(target, static_cast<int>(length));
    // "\\?\C:\..." names a drive path as it is.
    if (resolved.compare(0, 4, "\\\\?\\") == 0 && resolved.size() > 6 && resolved[5] == ':') {
        resolved.erase(0, 4);
    }
    return resolved;
}

void ForgetOnInterrupt() { Disarm(); }

void RemovePendingFile() {
    if (!handlerInstalled) return;
    EnterCriticalSection(&pendingLock);
    if (removalArmed) DeleteFileW(pendingRemoval.c_str());
    removalArmed = false;
    LeaveCriticalSection(&pendingLock);
}
#endif
