// encrypt-file and decrypt-file: the object's file format (ECB from offset 0, optional zero
// padding), streamed in chunks into a new file that then replaces the destination whole,
// or with --overwrite written back over the file itself as the object does.
#include <algorithm>
#include <cerrno>
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
constexpr int AssumedTerminalWidth = 80;

using BlockRun = void (*)(const BlowfishContext*, uint8_t*, size_t);

// A bar on standard error, redrawn when the whole percentage changes, never wider than
// the terminal (a wider line would wrap and scroll at every redraw).
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
        // "VERB NAME [###   ] 100%" in width - 1 columns, so the cursor never wraps.
        int room = width - 1 - static_cast<int>(std::strlen(verb)) - 1 - 3 - 5;
        std::string label = name;
        int bar = std::min(MaxBarWidth, room - static_cast<int>(label.size()));
        if (bar < MinBarWidth) {
            bar = std::max(0, std::min(MinBarWidth, room - 4));
            size_t keep = size_t(std::max(0, room - bar - 3));
            if (label.size() > keep) label = std::string("...").append(label, label.size() - keep);
        }
        int filled = percent * bar / 100;
        std::fprintf(stderr, "\r%s %s [%s%s] %3d%%", verb, label.c_str(),
                     std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(bar - filled), ' ').c_str(), percent);
        std::fflush(stderr);
        SetProgressLineOpen();
    }

private:
    const char* verb;
    std::string name;
    int64_t total;
    bool shown;
    int lastPercent = -1;
};

struct Streams {
    FILE* in;
    FILE* out;
    const std::string& inName;
    const std::string& outName;
};

int WriteError(const std::string& name, int error, bool offerOverwrite) {
    std::string message = "cannot write '" + name + "': " + std::strerror(error);
    if (offerOverwrite && error == ENOSPC) {
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
    for (;;) {
        size_t got = std::fread(buffer.data() + held, 1, ChunkSize - held, streams.in);
        if (got == 0) break;
        size_t total = held + got;
        size_t whole = total / BlockSize * BlockSize;
        transform(key, buffer.data(), whole / BlockSize);
        if (std::fwrite(buffer.data(), 1, whole, streams.out) != whole) {
            return WriteError(streams.outName, errno, inPlace);
        }
        held = total - whole;
        std::memmove(buffer.data(), buffer.data() + whole, held);
        *done += static_cast<int64_t>(got);
        progress->Update(*done);
    }
    if (std::ferror(streams.in)) {
        return Fail(ErrFileOpen, "cannot read '" + streams.inName + "': " + std::strerror(errno));
    }
    if (held > 0 && !noPadding) {
        std::memset(buffer.data() + held, 0, BlockSize - held);
        transform(key, buffer.data(), 1);
        held = BlockSize;
    }
    if (std::fwrite(buffer.data(), 1, held, streams.out) != held ||
        std::fflush(streams.out) != 0) {
        return WriteError(streams.outName, errno, inPlace);
    }
    return ExitOk;
}

// --overwrite: reads each chunk, transforms it and writes it back at the same place, as
// the object writes over its file; the file's other names, owner and rights stay, and no
// second copy is needed. Reads only the length the file had at the start.
int OverwriteFile(const std::string& path, const BlowfishContext* key, BlockRun transform,
                  bool noPadding, Progress* progress, int64_t* done) {
    FILE* file = std::fopen(path.c_str(), "r+b");
    if (file == nullptr) {
        return Fail(ErrFileOpen, "cannot open '" + path + "' for writing: " +
                                     std::strerror(errno));
    }
    int64_t size = RegularFileSize(file);
    std::vector<uint8_t> buffer(ChunkSize);
    int status = ExitOk;
    while (*done < size && status == ExitOk) {
        size_t wanted = static_cast<size_t>(std::min<int64_t>(int64_t(ChunkSize), size - *done));
        size_t got = SeekTo(file, *done) ? std::fread(buffer.data(), 1, wanted, file) : 0;
        if (got == 0) break;
        size_t whole = got / BlockSize * BlockSize;
        size_t length = got;
        transform(key, buffer.data(), whole / BlockSize);
        if (whole < got && !noPadding) {
            std::memset(buffer.data() + got, 0, BlockSize - (got - whole));
            transform(key, buffer.data() + whole, 1);
            length = whole + BlockSize;
        }
        if (!SeekTo(file, *done) || std::fwrite(buffer.data(), 1, length, file) != length ||
            std::fflush(file) != 0) {
            status = Fail(ErrFileWrite, "cannot write '" + path + "' (it may be half done): " +
                                            std::strerror(errno));
        }
        *done += static_cast<int64_t>(got);
        progress->Update(*done);
    }
    if (status == ExitOk && std::ferror(file)) {
        status = Fail(ErrFileOpen, "cannot read '" + path + "': " + std::strerror(errno));
    }
    if (std::fclose(file) != 0 && status == ExitOk) {
        status = Fail(ErrFileWrite, "cannot write '" + path + "': " + std::strerror(errno));
    }
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
}

int FileCommand(const ParsedArgs& args, bool encrypt) {
    if (int status = RequireKeyOption(args, 1)) return status;
    if (args.positional.empty()) return UsageError(args, "missing FILE");
    if (args.positional.size() > 1) {
        return UsageError(args, "unexpected argument '" + args.positional[1] + "'");
    }
    const std::string& input = args.positional[0];
    const std::string* output = args.Find("-o");
    const bool overwrite = args.Has("--overwrite");
    const bool noPadding = args.Has("--no-padding");
    if (input == "-" && output == nullptr) return UsageError(args, "standard input needs -o");
    if (overwrite && output != nullptr) {
        return UsageError(args, "--overwrite works on FILE itself, without -o");
    }
    CommandKey key;
    if (int status = LoadKey(args, &key)) return status;

    // Only regular files: a device or a pipe would be replaced by a regular file, and a
    // pipe would be read without end.
    if (input != "-" && KindOfPath(input) == PathKind::Other) {
        return Fail(ErrFileOpen, "'" + input + "' is not a regular file (FILE - reads a "
                                 "stream from standard input)");
    }
    if (output != nullptr && *output != "-") {
        PathKind kind = KindOfPath(*output);
        if (kind == PathKind::Other) {
            return Fail(ErrFileWrite, "'" + *output + "' is not a regular file; it is not "
                                      "replaced (-o - writes to standard output)");
        }
        if (kind == PathKind::Regular && !IsWritable(*output)) {
            return Fail(ErrFileWrite, "'" + *output + "' is read-only; it is not replaced");
        }
    }
    // The object opens the file for reading and writing; a read-only file stays as it is.
    if (output == nullptr && KindOfPath(input) == PathKind::Regular && !IsWritable(input)) {
        return Fail(ErrFileOpen, "cannot open '" + input + "' for writing: " +
                                     std::strerror(errno));
    }

    const BlockRun transform = encrypt ? EncryptBlocks : DecryptBlocks;
    const char* verb = encrypt ? "encrypting" : "decrypting";
    int64_t done = 0;
    if (overwrite) {
        FILE* probe = std::fopen(input.c_str(), "rb");
        int64_t size = probe == nullptr ? -1 : RegularFileSize(probe);
        if (probe != nullptr) std::fclose(probe);
        Progress progress(verb, input, size);
        int status = OverwriteFile(input, key.context, transform, noPadding, &progress, &done);
        EndProgressLine();
        if (status == ExitOk) WarnAboutResult(input, encrypt, noPadding, done, size);
        return status;
    }

    // In place unless told otherwise; a link is followed so the file itself is replaced.
    const std::string destination = output == nullptr ? ResolveLink(input)
                                    : *output == "-"  ? *output
                                                      : ResolveLink(*output);
    FILE* in = stdin;
    if (input == "-") {
        UseBinaryMode(stdin);
    } else {
        in = std::fopen(input.c_str(), "rb");
        if (in == nullptr) {
            return Fail(ErrFileOpen, "cannot open '" + input + "': " + std::strerror(errno));
        }
    }
    const int64_t size = RegularFileSize(in);

    FILE* out = stdout;
    std::string temporary;
    if (destination == "-") {
        UseBinaryMode(stdout);
    } else {
        out = CreateFileBeside(destination, &temporary);
        if (out == nullptr) {
            int error = errno;
            if (in != stdin) std::fclose(in);
            std::string message = "cannot create a new file beside '" + destination + "': " +
                                   std::strerror(error);
            if (output == nullptr) {
                message += "; --overwrite writes over the file itself, as the object does";
            }
            return Fail(ErrFileWrite, message);
        }
        MatchPermissions(output == nullptr ? input : destination, out);
        RemoveOnInterrupt(temporary);
        if (output == nullptr && LinkCount(input) > 1) {
            Warn("'" + input + "' has other names (hard links), which keep the old content; "
                 "--overwrite changes the file under every name");
        }
    }

    Progress progress(verb, input, size);
    int status = TransformStream({in, out, input, destination}, key.context, transform,
                                 noPadding, &progress, &done, output == nullptr);
    EndProgressLine();
    if (in != stdin) std::fclose(in);
    if (status == ExitOk) WarnAboutResult(input, encrypt, noPadding, done, size);
    if (out == stdout) return status;

    // Disarmed first: once renamed, the name may soon belong to someone else's file.
    ForgetOnInterrupt();
    if (status != ExitOk) {
        std::fclose(out);
        if (!temporary.empty()) std::remove(temporary.c_str());
    } else if (!CloseAndReplace(out, temporary, destination)) {
        status = Fail(ErrFileWrite, "cannot replace '" + destination + "': " +
                                        std::strerror(errno));
    }
    return status;
}

}  // namespace

int EncryptFileCommand(const ParsedArgs& args) { return FileCommand(args, true); }
int DecryptFileCommand(const ParsedArgs& args) { return FileCommand(args, false); }
