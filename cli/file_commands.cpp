// encrypt-file and decrypt-file: the object's file format (ECB from offset 0, optional zero
// padding), streamed in chunks into a new file that then replaces the destination whole.
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
constexpr int ProgressWidth = 30;

using BlockRun = void (*)(const BlowfishContext*, uint8_t*, size_t);

// A bar on standard error, redrawn when the whole percentage changes.
class Progress {
public:
    Progress(const char* verb, const std::string& name, int64_t total)
        : verb(verb), name(name), total(total),
          shown(total >= ProgressThreshold && IsTerminal(stderr)) {}

    void Update(int64_t done) {
        if (!shown) return;
        int percent = static_cast<int>(done * 100 / total);
        if (percent == lastPercent) return;
        lastPercent = percent;
        int filled = percent * ProgressWidth / 100;
        std::fprintf(stderr, "\r%s %s [%s%s] %3d%%", verb, name.c_str(),
                     std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(ProgressWidth - filled), ' ').c_str(), percent);
        std::fflush(stderr);
    }
    void End() {
        if (shown && lastPercent >= 0) std::fputc('\n', stderr);
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

// Transforms every whole block as it arrives. The final piece of 1 to 7 bytes is, as in
// the object's file job, completed with zeros and transformed, or with noPadding written
// back unchanged. Only whole blocks are written before the end, so the output never holds
// a block that was not transformed.
int TransformStream(const Streams& streams, const BlowfishContext* key, BlockRun transform,
                    bool noPadding, Progress* progress) {
    std::vector<uint8_t> buffer(ChunkSize);
    size_t held = 0;        // bytes of a block begun in the chunk before; always below 8
    int64_t done = 0;
    for (;;) {
        size_t got = std::fread(buffer.data() + held, 1, ChunkSize - held, streams.in);
        if (got == 0) break;
        size_t total = held + got;
        size_t whole = total / BlockSize * BlockSize;
        transform(key, buffer.data(), whole / BlockSize);
        if (std::fwrite(buffer.data(), 1, whole, streams.out) != whole) {
            return Fail(ErrFileWrite, "cannot write '" + streams.outName + "': " +
                                          std::strerror(errno));
        }
        held = total - whole;
        std::memmove(buffer.data(), buffer.data() + whole, held);
        done += static_cast<int64_t>(got);
        progress->Update(done);
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
        return Fail(ErrFileWrite, "cannot write '" + streams.outName + "': " +
                                      std::strerror(errno));
    }
    return ExitOk;
}

int FileCommand(const ParsedArgs& args, bool encrypt) {
    if (args.positional.empty()) return UsageError(args, "missing FILE");
    if (args.positional.size() > 1) {
        return UsageError(args, "unexpected argument '" + args.positional[1] + "'");
    }
    CommandKey key;
    if (int status = LoadKey(args, &key)) return status;

    const std::string& input = args.positional[0];
    const std::string* output = args.Find("-o");
    if (input == "-" && output == nullptr) return UsageError(args, "standard input needs -o");
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
    // The object opens the file for reading and writing; a read-only file stays as it is.
    if (output == nullptr && !IsWritable(input)) {
        std::fclose(in);
        return Fail(ErrFileOpen, "cannot open '" + input + "' for writing: " +
                                     std::strerror(errno));
    }

    FILE* out = stdout;
    std::string temporary;
    if (destination == "-") {
        UseBinaryMode(stdout);
    } else {
        out = CreateFileBeside(destination, &temporary);
        if (out == nullptr) {
            int error = errno;
            if (in != stdin) std::fclose(in);
            return Fail(ErrFileWrite, "cannot create a file beside '" + destination + "': " +
                                          std::strerror(error));
        }
        MatchPermissions(output == nullptr ? input : destination, out);
        RemoveOnInterrupt(temporary);
    }

    Progress progress(encrypt ? "encrypting" : "decrypting", input, RegularFileSize(in));
    int status = TransformStream({in, out, input, destination}, key.context,
                                 encrypt ? EncryptBlocks : DecryptBlocks,
                                 args.Has("--no-padding"), &progress);
    progress.End();
    if (in != stdin) std::fclose(in);
    if (out == stdout) return status;

    if (std::fclose(out) != 0 && status == ExitOk) {
        status = Fail(ErrFileWrite, "cannot write '" + destination + "': " +
                                        std::strerror(errno));
    }
    // Disarmed first: once renamed, the name may soon belong to someone else's file.
    ForgetOnInterrupt();
    if (status == ExitOk && !ReplaceFile(temporary, destination)) {
        status = Fail(ErrFileWrite, "cannot replace '" + destination + "': " +
                                        std::strerror(errno));
    }
    if (status != ExitOk) std::remove(temporary.c_str());
    return status;
}

}  // namespace

int EncryptFileCommand(const ParsedArgs& args) { return FileCommand(args, true); }
int DecryptFileCommand(const ParsedArgs& args) { return FileCommand(args, false); }
