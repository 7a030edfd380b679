// What the command-line tool needs from the operating system, behind one small interface.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// True when the stream is a terminal (progress is drawn only there).
bool IsTerminal(FILE* stream);
// Standard input and output carry bytes unchanged (Windows would translate line endings).
void UseBinaryMode(FILE* stream);

// Creates and opens for writing a new, empty file in the folder of `destination`, under a
// name no other file has. Null when the folder is missing or not writable.
FILE* CreateFileBeside(const std::string& destination, std::string* created);
// Gives the new file `stream` the permission bits of the existing file `model`, or those a
// newly created file gets when there is no such file (where the system has such bits).
void MatchPermissions(const std::string& model, FILE* stream);
// True when the process may write to the existing file `path`.
bool IsWritable(const std::string& path);
// Atomically puts `from` in the place of `to`, replacing it. False, with both left as they
// were, when that is impossible.
bool ReplaceFile(const std::string& from, const std::string& to);
// Size of a regular file in bytes, or -1 for anything else (a pipe, a terminal).
int64_t RegularFileSize(FILE* stream);
// Resolves a symbolic link to the file it names, so the file is replaced, not the link.
std::string ResolveLink(const std::string& path);

// While set, an interrupt or termination signal removes this file before the process ends.
// The path is copied; an empty path (or ForgetOnInterrupt) disarms it.
void RemoveOnInterrupt(const std::string& path);
void ForgetOnInterrupt();
