// encrypt-file and decrypt-file: the object's file format (ECB from offset 0, optional zero
// padding), streamed in chunks into a new file that then replaces the destination whole,
// or with --overwrite written back over the file itself as the object does; one file, or
// many (folders walked with -r), each done or failed on its own.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/cli.h"
#include "cli/platform.h"
#include "runtime/report.h"

namespace {

constexpr size_t ChunkSize = size_t{1} << 20;           // a multiple of BlockSize
constexpr int64_t ProgressThreshold = int64_t{16} << 20; // smaller files finish too soon
constexpr int MaxBarWidth = 30;
constexpr int MinBarWidth = 10;
constexpr int MinLabelWidth = 4;                        // "...x"
constexpr int AssumedTerminalWidth = 80;
// The object takes a file whose length, padded to whole blocks, is a signed 32-bit number.
constexpr int64_t ObjectMaxFileSize = 0x7FFFFFF8;
// A file that is the same as one done before in this run (another name of it).
constexpr int Skipped = -1;

using BlockRun = void (*)(const BlowfishContext*, uint8_t*, size_t);

// A bar on standard error, redrawn when the whole percentage changes, never wider than
// the terminal (a wider line would wrap and scroll at every redraw): "VERB NAME [###  ] 42%",
// the name shortened, or on a narrow terminal "VERB 42%", "42%" or nothing.
class Progress {
public:
    Progress(const char* verb, const std::string& name, int64_t total)
        : verb(verb), name(name), total(total),
          shown(total >= ProgressThreshold && IsTerminal(stderr)) {}

    void Update(int64_t done) {
        if (!shown) return;
        // A file that grows while it is read passes its first size: the bar stops at 100%.
        int percent = static_cast<int>(std::min<int64_t>(done, total) * 100 / total);
        if (percent == lastPercent) return;
        lastPercent = percent;
        int width = TerminalWidth(stderr);
        if (width <= 0) width = AssumedTerminalWidth;
        std::string line = Layout(percent, width - 1);     // so the cursor never wraps
        if (line.empty()) return;
        size_t drawn = line.size();
        if (line.size() < lastLength) line.append(lastLength - line.size(), ' ');
        lastLength = drawn;
        WriteMessage("\r" + line);
        SetProgressLineOpen();
    }

private:
    std::string Layout(int percent, int room) const {
        char number[8];
        std::snprintf(number, sizeof number, "%3d%%", percent);
        const int verbWidth = static_cast<int>(std::strlen(verb));
        const int fixed = verbWidth + 9;                    // "VERB " " [" "] " "100%"
        if (room >= fixed + MinLabelWidth + MinBarWidth) {
            std::string label = name;
            size_t labelRoom = size_t(room - fixed - MinBarWidth);
            if (label.size() > labelRoom) {
                label = "..." + label.substr(label.size() - (labelRoom - 3));
            }
            int bar = std::min(MaxBarWidth, room - fixed - static_cast<int>(label.size()));
            int filled = percent * bar / 100;
            return std::string(verb) + " " + label + " [" + std::string(size_t(filled), '#') +
                   std::string(size_t(bar - filled), ' ') + "] " + number;
        }
        if (room >= verbWidth + 5) return std::string(verb) + " " + number;
        return room >= 4 ? number : "";
    }

    const char* verb;
    std::string name;
    int64_t total;
    bool shown;
    int lastPercent = -1;
    size_t lastLength = 0;
};

struct Streams {
    FILE* in;
    FILE* out;
    const std::string& inName;
    const std::string& outName;
};

int WriteError(const std::string& name, int error, bool offerOverwrite) {
    std::string message = "cannot write '" + name + "': " + DescribeError(error);
    if (offerOverwrite && IsNoSpace(error)) {
        message += "; no room for a new copy beside the file: --overwrite writes over the "
                   "file itself, as the object does";
    }
    return Fail(ErrFileWrite, message);
}

// Transforms every whole block as it arrives. The final piece of 1 to 7 bytes is, as in
// the object's file job, completed with zeros and transformed, or with noPadding written
// back unchanged. Only whole blocks are written before the end, so the output never holds
// a block that was not transformed. `done` receives the number of bytes read.
int TransformStream(const Streams& streams, const BlowfishContext* key, BlockRun transform,
                    bool noPadding, Progress* progress, int64_t* done, bool inPlace) {
    std::vector<uint8_t> buffer(ChunkSize);
    size_t held = 0;        // bytes of a block begun in the chunk before; always below 8
    bool failed = false;
    for (;;) {
        size_t got = ReadSome(streams.in, buffer.data() + held, ChunkSize - held, &failed);
        if (got == 0) break;
        size_t total = held + got;
        size_t whole = total / BlockSize * BlockSize;
        transform(key, buffer.data(), whole / BlockSize);
        if (!WriteAll(streams.out, buffer.data(), whole)) {
            return WriteError(streams.outName, LastError(), inPlace);
        }
        held = total - whole;
        std::memmove(buffer.data(), buffer.data() + whole, held);
        *done += static_cast<int64_t>(got);
        progress->Update(*done);
    }
    if (failed) {
        return Fail(ErrFileOpen, "cannot read '" + streams.inName + "': " +
                                     DescribeError(LastError()));
    }
    if (held > 0 && !noPadding) {
        std::memset(buffer.data() + held, 0, BlockSize - held);
        transform(key, buffer.data(), 1);
        held = BlockSize;
    }
    if (!WriteAll(streams.out, buffer.data(), held) || std::fflush(streams.out) != 0) {
        return WriteError(streams.outName, LastError(), inPlace);
    }
    return ExitOk;
}

// --overwrite: reads each chunk, transforms it and writes it back at the same place, as
// the object writes over its file; the file's other names, owner and rights stay, and no
// second copy is needed. Reads only the length the file had at the start.
int OverwriteFile(const std::string& path, const BlowfishContext* key, BlockRun transform,
                  bool noPadding, Progress* progress, int64_t* done) {
    FILE* file = OpenFile(path, true);
    if (file == nullptr) {
        return Fail(ErrFileOpen, "cannot open '" + path + "' for writing: " +
                                     DescribeError(LastError()));
    }
    int64_t size = RegularFileSize(file);
    std::vector<uint8_t> buffer(ChunkSize);
    int status = ExitOk;
    bool failed = false;
    while (*done < size && status == ExitOk) {
        size_t wanted = static_cast<size_t>(std::min<int64_t>(int64_t(ChunkSize), size - *done));
        size_t got = SeekTo(file, *done) ? ReadSome(file, buffer.data(), wanted, &failed) : 0;
        if (got == 0) break;
        size_t whole = got / BlockSize * BlockSize;
        size_t length = got;
        transform(key, buffer.data(), whole / BlockSize);
        if (whole < got && !noPadding) {
            std::memset(buffer.data() + got, 0, BlockSize - (got - whole));
            transform(key, buffer.data() + whole, 1);
            length = whole + BlockSize;
        }
        if (!SeekTo(file, *done) || !WriteAll(file, buffer.data(), length)) {
            status = Fail(ErrFileWrite, "cannot write '" + path + "' (it may be half done): " +
                                            DescribeError(LastError()));
        }
        *done += static_cast<int64_t>(got);
        progress->Update(*done);
    }
    if (status == ExitOk && failed) {
        status = Fail(ErrFileOpen, "cannot read '" + path + "': " + DescribeError(LastError()));
    }
    // "Done" means on the disk.
    if (status == ExitOk && !CommitToDisk(file)) {
        status = Fail(ErrFileWrite, "cannot write '" + path + "': " +
                                        DescribeError(LastError()));
    }
    std::fclose(file);
    return status;
}

// What a user would not expect from a run that succeeded.
void WarnAboutResult(const std::string& input, bool encrypt, bool noPadding, int64_t done,
                     int64_t size) {
    if (encrypt && noPadding && done < int64_t(BlockSize)) {
        Warn("nothing was encrypted: '" + input + "' is shorter than 8 bytes, and with "
             "--no-padding a final piece of 1 to 7 bytes stays as it is");
    }
    if (!encrypt && !noPadding && done % int64_t(BlockSize) != 0) {
        Warn("'" + input + "' is " + std::to_string(done) + " bytes long, not a multiple of " +
             "8, so it was not padded when encrypted: its end is garbled; was it encrypted " +
             "with --no-padding?");
    }
    if (size >= 0 && done > size) {
        Warn("'" + input + "' grew while it was read; the result holds all " +
             std::to_string(done) + " bytes read");
    }
    if (done > ObjectMaxFileSize) {
        Warn("'" + input + "' is " + std::to_string(done) + " bytes long: the object in a "
             "game refuses files over " + std::to_string(ObjectMaxFileSize) +
             " bytes (2 GiB less 8), so a game cannot open the result");
    }
}

// One run of the command over its files.
struct FileRun {
    const BlowfishContext* key;
    bool encrypt;
    bool noPadding;
    bool overwrite;
    std::vector<FileIdentity> results;   // the files written so far, under their new identity

    bool Done(const FileIdentity& identity) const {
        return std::find(results.begin(), results.end(), identity) != results.end();
    }
};

// Works on `input`, in place when `output` is empty, else into `output` ("-": standard
// output). An exit code, or Skipped.
int ProcessFile(FileRun* run, const std::string& input, const std::string& output) {
    const bool inPlace = output.empty();
    // Only regular files: a device or a pipe would be replaced by a regular file, and a
    // pipe would be read without end.
    if (input != "-") {
        PathKind kind = KindOfPath(input);
        if (kind == PathKind::Folder) {
            return Fail(ErrFileOpen, "'" + input + "' is not a regular file but a folder (-r "
                                     "works on the files in it)");
        }
        if (kind == PathKind::Other) {
            return Fail(ErrFileOpen, "'" + input + "' is not a regular file (FILE - reads a "
                                     "stream from standard input)");
        }
    }
    // Two names of one file, or a file given twice, must not be transformed twice.
    const FileIdentity inputIdentity = input == "-" ? FileIdentity{} : IdentityOf(input);
    if (run->Done(inputIdentity)) {
        Warn("'" + input + "' is a file done already in this run (under this or another "
             "name); skipped");
        return Skipped;
    }
    bool sameFile = inPlace;
    if (!inPlace && output != "-") {
        PathKind kind = KindOfPath(output);
        if (kind == PathKind::Other || kind == PathKind::Folder) {
            return Fail(ErrFileWrite, "'" + output + "' is not a regular file; it is not "
                                      "replaced (-o - writes to standard output)");
        }
        const FileIdentity outputIdentity = IdentityOf(output);
        if (run->Done(outputIdentity)) {
            return Fail(ErrFileWrite, "'" + output + "' was written from another file in "
                                      "this run; it is not replaced");
        }
        if (kind == PathKind::Regular && !IsWritable(output)) {
            return Fail(ErrFileWrite, "'" + output + "' is read-only; it is not replaced");
        }
        sameFile = outputIdentity == inputIdentity;
    }
    // The object opens the file for reading and writing; a read-only file stays as it is.
    if (inPlace && KindOfPath(input) == PathKind::Regular && !IsWritable(input)) {
        return Fail(ErrFileOpen, "cannot open '" + input + "' for writing: " +
                                     DescribeError(LastError()));
    }

    const BlockRun transform = run->encrypt ? EncryptBlocks : DecryptBlocks;
    const char* verb = run->encrypt ? "encrypting" : "decrypting";
    int64_t done = 0;
    if (run->overwrite) {
        FILE* probe = OpenFile(input, false);
        int64_t size = probe == nullptr ? -1 : RegularFileSize(probe);
        if (probe != nullptr) std::fclose(probe);
        Progress progress(verb, input, size);
        int status = OverwriteFile(input, run->key, transform, run->noPadding, &progress, &done);
        EndProgressLine();
        if (status != ExitOk) return status;
        WarnAboutResult(input, run->encrypt, run->noPadding, done, size);
        run->results.push_back(IdentityOf(input));
        return ExitOk;
    }

    // A link is followed so the file itself is replaced.
    const std::string destination = inPlace ? ResolveLink(input)
                                    : output == "-" ? output : ResolveLink(output);
    FILE* in = stdin;
    if (input == "-") {
        UseBinaryMode(stdin);
    } else {
        in = OpenFile(input, false);
        if (in == nullptr) {
            return Fail(ErrFileOpen, "cannot open '" + input + "': " +
                                         DescribeError(LastError()));
        }
    }
    const int64_t size = RegularFileSize(in);

    FILE* out = stdout;
    std::string temporary;
    if (destination == "-") {
        UseBinaryMode(stdout);
    } else {
        for (const std::string& stale : RemoveStaleFilesBeside(destination)) {
            Warn("removed '" + stale + "', an unfinished file left by an earlier run that "
                 "was stopped");
        }
        out = CreateFileBeside(destination, &temporary);
        if (out == nullptr) {
            int error = LastError();
            if (in != stdin) std::fclose(in);
            std::string message = "cannot create a new file beside '" + destination + "': " +
                                  DescribeError(error);
            if (inPlace) message += "; --overwrite writes over the file itself, as the object does";
            return Fail(ErrFileWrite, message);
        }
        MatchPermissions(inPlace ? input : destination, out);
        if (sameFile && inputIdentity.links > 1) {
            Warn(inPlace ? "'" + input + "' has other names (hard links), which keep the old "
                           "content; --overwrite changes the file under every name"
                         : "'" + output + "' is another name (a hard link) of '" + input +
                               "': it gets the result as a new file, while '" + input +
                               "' keeps the old content");
        }
    }

    Progress progress(verb, input, size);
    int status = TransformStream({in, out, input, destination}, run->key, transform,
                                 run->noPadding, &progress, &done, inPlace);
    EndProgressLine();
    if (in != stdin) std::fclose(in);
    if (status == ExitOk) WarnAboutResult(input, run->encrypt, run->noPadding, done, size);
    if (out == stdout) return status;

    if (status != ExitOk) {
        DiscardNewFile(out, temporary);
    } else if (!CloseAndReplace(out, temporary, destination)) {
        int error = LastError();
        std::string message = "cannot replace '" + destination + "': " + DescribeError(error);
        if (IsNoSpace(error) && inPlace) {
            message += "; --overwrite writes over the file itself, as the object does";
        }
        status = Fail(ErrFileWrite, message);
    } else {
        run->results.push_back(IdentityOf(destination));
    }
    return status;
}

// A file to work on and where its result goes, relative to -o's folder.
struct Job {
    std::string input;
    std::string relative;
};

// The regular files under `folder`, at any depth, in name order. Links are not followed
// (a link to a folder could lead round in a circle), and the new files of a run that was
// stopped are left alone. False when a folder cannot be read.
bool CollectFiles(const std::string& folder, const std::string& relative,
                  std::vector<Job>* jobs) {
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, &entries)) {
        Fail(ErrFileOpen, "cannot read the folder '" + folder + "': " +
                              DescribeError(LastError()));
        return false;
    }
    bool complete = true;
    for (const FolderEntry& entry : entries) {
        std::string name = BaseName(entry.path);
        std::string path = relative.empty() ? name : JoinPath(relative, name);
        if (entry.kind == PathKind::Regular && !IsOwnTemporaryName(name)) {
            jobs->push_back({entry.path, path});
        } else if (entry.kind == PathKind::Folder) {
            complete = CollectFiles(entry.path, path, jobs) && complete;
        }
    }
    return complete;
}

int FileCommand(const ParsedArgs& args, bool encrypt) {
    if (int status = RequireKeyOption(args, 1)) return status;
    if (args.positional.empty()) return UsageError(args, "missing FILE");
    const std::string* output = args.Find("-o");
    const bool recursive = args.Has("-r") || args.Has("--recursive");
    std::vector<std::string> files;
    int unmatched = 0;
    for (const std::string& argument : args.positional) {
        std::vector<std::string> matches = ExpandFileArgument(argument);
        if (matches.empty()) {
            Fail(ErrFileOpen, "no file matches '" + argument + "'");
            ++unmatched;
        }
        files.insert(files.end(), matches.begin(), matches.end());
    }
    const bool many = files.size() > 1 || recursive || unmatched > 0;
    FileRun run{nullptr, encrypt, args.Has("--no-padding"), args.Has("--overwrite"), {}};
    if (run.overwrite && output != nullptr) {
        return UsageError(args, "--overwrite works on FILE itself, without -o");
    }
    const bool intoFolder = output != nullptr && *output != "-" &&
                            KindOfPath(*output) == PathKind::Folder;
    if (many) {
        if (std::count(files.begin(), files.end(), "-") > 0) {
            return UsageError(args, "standard input (FILE -) is one file; give it alone");
        }
        if (output != nullptr && !intoFolder) {
            return UsageError(args, "with several files (or -r), -o names a folder that exists, "
                                    "which receives the results");
        }
    } else if (files[0] == "-" && (output == nullptr || intoFolder)) {
        return UsageError(args, "standard input needs -o naming a file, or -o -");
    }
    CommandKey key;
    if (int status = LoadKey(args, &key)) return status;
    run.key = key.context;

    // The files, and where a folder given as -o receives each: under its name, or for a
    // walked folder under its path inside that folder.
    int firstFailure = unmatched > 0 ? ErrFileOpen : ExitOk;
    int failed = unmatched;
    std::vector<Job> jobs;
    for (const std::string& argument : files) {
        if (recursive && KindOfPath(argument) == PathKind::Folder) {
            if (!CollectFiles(argument, "", &jobs)) {
                ++failed;
                if (firstFailure == ExitOk) firstFailure = ErrFileOpen;
            }
        } else {
            jobs.push_back({argument, BaseName(argument)});
        }
    }

    int done = 0, skipped = 0;
    for (const Job& job : jobs) {
        std::string destination;
        if (intoFolder) {
            destination = JoinPath(*output, job.relative);
            std::string folder = destination.substr(0, destination.size() -
                                                           BaseName(destination).size());
            if (!folder.empty() && !MakeFolders(folder)) {
                int status = Fail(ErrFileWrite, "cannot create the folder '" + folder + "': " +
                                                    DescribeError(LastError()));
                ++failed;
                if (firstFailure == ExitOk) firstFailure = status;
                continue;
            }
        } else if (output != nullptr) {
            destination = *output;
        }
        int status = ProcessFile(&run, job.input, destination);
        if (status == Skipped) {
            ++skipped;
        } else if (status == ExitOk) {
            ++done;
        } else {
            ++failed;
            if (firstFailure == ExitOk) firstFailure = status;
        }
    }
    if (!many) return firstFailure;

    std::string summary = std::to_string(done) + (done == 1 ? " file " : " files ") +
                          (encrypt ? "encrypted" : "decrypted");
    if (skipped > 0) summary += ", " + std::to_string(skipped) + " skipped";
    if (failed > 0) summary += ", " + std::to_string(failed) + " failed";
    int status = PrintLine(summary);
    return firstFailure != ExitOk ? firstFailure : status;
}

}  // namespace

int EncryptFileCommand(const ParsedArgs& args) { return FileCommand(args, true); }
int DecryptFileCommand(const ParsedArgs& args) { return FileCommand(args, false); }
