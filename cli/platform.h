// What the command-line tool needs from the operating system, behind one small interface.
// Paths and messages are UTF-8 inside the tool on every system; on Windows this layer hands
// paths to the system's wide-character functions and never to the ANSI code page.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
// The wide command line's arguments, as UTF-8.
std::string Utf8FromWide(const wchar_t* text);
#endif

// Writes a message to standard error: UTF-8 bytes, or on a Windows console its characters.
void WriteMessage(const std::string& utf8);

// True when the stream is a terminal (progress is drawn only there).
bool IsTerminal(FILE* stream);
// Columns of the terminal behind the stream, or 0 when unknown.
int TerminalWidth(FILE* stream);
// Standard input and output carry bytes unchanged (Windows would translate line endings).
void UseBinaryMode(FILE* stream);

// The bytes a TEXT argument stands for: as given on POSIX systems; on Windows in the ANSI
// code page, as a program's narrow command line has them. False, with the reason, when a
// character has no byte there.
bool TextArgumentBytes(const std::string& utf8, std::string* bytes, std::string* problem);

// The system's code for the last failure (errno, or GetLastError on Windows), its text,
// and whether it means the disk is full.
int LastError();
std::string DescribeError(int error);
bool IsNoSpace(int error);

// Opens an existing file for reading, or for reading and writing in place. Null, with
// LastError() saying why, when it cannot.
FILE* OpenFile(const std::string& path, bool forUpdate);
// Reads up to `size` bytes: 0 at the end, or on failure with `failed` set and LastError()
// saying why.
size_t ReadSome(FILE* stream, void* data, size_t size, bool* failed);
// Writes all bytes. False, with LastError() saying why, when it cannot.
bool WriteAll(FILE* stream, const void* data, size_t size);
// Writes the stream's buffer and has the system put the file's data on the disk.
bool CommitToDisk(FILE* stream);

// What a path names: nothing yet, a regular file, a folder, or something else (a device, a
// pipe), which the file commands refuse since replacing it would destroy it.
enum class PathKind { Missing, Regular, Folder, Other };
PathKind KindOfPath(const std::string& path);

// Which file a path names (links followed), so that two names of one file are seen as one.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t index = 0;
    bool known = false;
    int links = 1;              // hard links to the file (1 when it has no others)
    bool operator==(const FileIdentity& other) const {
        return known && other.known && device == other.device && index == other.index;
    }
};
FileIdentity IdentityOf(const std::string& path);

// The entries of a folder, sorted by name, without "." and "..": regular files, folders
// and (neither, so a walk skips them) links, devices and pipes. False when unreadable.
struct FolderEntry {
    std::string path;           // the folder's path joined with the entry's name
    PathKind kind;
};
bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries);
// `folder` joined with `name`, and the last part of a path.
std::string JoinPath(const std::string& folder, const std::string& name);
std::string BaseName(const std::string& path);
// The files a FILE argument names: itself, or on Windows, whose shells leave '*' and '?' to
// the program, the files that match it, in name order (none when nothing matches).
std::vector<std::string> ExpandFileArgument(const std::string& argument);
// Creates a folder and the folders above it that are missing.
bool MakeFolders(const std::string& path);
// True for the name of a new file this tool makes beside a destination.
bool IsOwnTemporaryName(const std::string& name);
// "dir/.name.ciphrel-" for "dir/name": how the names of those files begin, and whether
// what follows is what this tool puts there ("<pid>-<count>", or mkstemp's six).
std::string SiblingPrefix(const std::string& destination);
bool IsOwnTemporarySuffix(const std::string& suffix);

// Creates and opens for writing a new, empty file in the folder of `destination`. Where
// the system allows, the file has no name until CloseAndReplace, so not even a killed process
// leaves it behind; `created` is then empty. Elsewhere it gets a name no other file has and
// is removed when the process is interrupted (Ctrl+C, a closed console, a signal).
// Null when the folder is missing or not writable.
FILE* CreateFileBeside(const std::string& destination, std::string* created);
// Removes new files that earlier runs made beside `destination` and left when they were
// ended without a chance to clean up; one still being written is left alone. Returns
// their names.
std::vector<std::string> RemoveStaleFilesBeside(const std::string& destination);
// Gives the new file `stream` the permission bits and, where allowed, the owner of the
// existing file `model`, or what a newly created file gets when there is no such file.
void MatchPermissions(const std::string& model, FILE* stream);
// True when the process may write to the existing file `path` and the file is not marked
// read-only (without any write permission, even for root).
bool IsWritable(const std::string& path);
// Puts the new file's data on the disk, closes it (its stream and its name from
// CreateFileBeside) and atomically puts it in the place of `to`, replacing it, and records
// the change of name on the disk. False, with `to` left as it was, the new file gone and
// LastError() saying why, when impossible.
bool CloseAndReplace(FILE* stream, const std::string& from, const std::string& to);
// Closes and removes a new file from CreateFileBeside after a failure.
void DiscardNewFile(FILE* stream, const std::string& created);
// Moves the stream to a byte offset from the start; false when that fails.
bool SeekTo(FILE* stream, int64_t offset);
// Size of a regular file in bytes, or -1 for anything else (a pipe, a terminal).
int64_t RegularFileSize(FILE* stream);
// Resolves a symbolic link to the file it names, so the file is replaced, not the link.
std::string ResolveLink(const std::string& path);

// Disarms the removal on interruption of the file CreateFileBeside named.
void ForgetOnInterrupt();
// Removes that file now (after an unexpected failure) and disarms.
void RemovePendingFile();
