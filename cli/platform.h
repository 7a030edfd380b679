// What the command-line tool needs from the operating system, behind one small interface.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// True when the stream is a terminal (progress is drawn only there).
bool IsTerminal(FILE* stream);
// Columns of the terminal behind the stream, or 0 when unknown.
int TerminalWidth(FILE* stream);
// Standard input and output carry bytes unchanged (Windows would translate line endings).
void UseBinaryMode(FILE* stream);

// What a path names: nothing yet, a regular file, or something else (a folder, a device,
// a pipe), which the file commands refuse since replacing it would destroy it.
enum class PathKind { Missing, Regular, Other };
PathKind KindOfPath(const std::string& path);
// Hard links to a regular file (1 when it has no others).
int LinkCount(const std::string& path);

// Creates and opens for writing a new, empty file in the folder of `destination`. Where
// the system allows, the file has no name until CloseAndReplace, so not even a killed process
// leaves it behind; `created` is then empty. Elsewhere it gets a name no other file has.
// Null when the folder is missing or not writable.
FILE* CreateFileBeside(const std::string& destination, std::string* created);
// Gives the new file `stream` the permission bits and, where allowed, the owner of the
// existing file `model`, or what a newly created file gets when there is no such file.
void MatchPermissions(const std::string& model, FILE* stream);
// True when the process may write to the existing file `path` and the file is not marked
// read-only (without any write permission, even for root).
bool IsWritable(const std::string& path);
// Closes the new file (its stream and its name from CreateFileBeside) and atomically puts
// it in the place of `to`, replacing it. False, with `to` left as it was and the new file
// gone, when impossible.
bool CloseAndReplace(FILE* stream, const std::string& from, const std::string& to);
// Moves the stream to a byte offset from the start; false when that fails.
bool SeekTo(FILE* stream, int64_t offset);
// Size of a regular file in bytes, or -1 for anything else (a pipe, a terminal).
int64_t RegularFileSize(FILE* stream);
// Resolves a symbolic link to the file it names, so the file is replaced, not the link.
std::string ResolveLink(const std::string& path);

// While set, an interrupt or termination signal removes this file before the process ends.
// The path is copied; an empty path (or ForgetOnInterrupt) disarms it.
void RemoveOnInterrupt(const std::string& path);
void ForgetOnInterrupt();
// Removes the file set by RemoveOnInterrupt now (after an unexpected failure) and disarms.
void RemovePendingFile();
