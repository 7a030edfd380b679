// Speed of the block paths, strings, key expansion and file work, beside OpenSSL's Blowfish.
//
// No pass or fail: it prints tables, then one "ratio <name> <value>" line per goal figure
// for scripts. Every time is the best of several runs, because noise only ever adds time.
//   bench             everything this machine can measure
//   bench --section   only this build's bitness (how a 64-bit run drives a 32-bit build)
#define OPENSSL_SUPPRESS_DEPRECATED     // BF_encrypt, one block per call, is the baseline
#include <openssl/blowfish.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "bench/emulated.h"
#include "cipher/block_paths.h"
#include "cipher/blowfish.h"
#include "engine/engine_state.h"
#include "engine/file_job.h"
#include "engine/filter.h"
#include "engine/key_ring.h"
#include "runtime/host.h"
#include "runtime/report.h"
#include "runtime/routines.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Bits = sizeof(void*) * 8;
constexpr size_t BulkBytes = size_t(64) << 20;
constexpr int BulkRuns = 7;
constexpr int StringRuns = 25;
constexpr int StringCalls = 20000;
constexpr int ExpandRuns = 9;
constexpr int ExpandCalls = 400;
constexpr int FileRuns = 5;
const size_t StringLengths[] = {8, 32, 256};
const char KeyText[] = "a bench key 0123";  // 16 bytes, as a game's keys often are

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds of the fastest of `runs` calls of `work`.
template <typename Work>
double BestOf(int runs, Work work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        Clock::time_point start = Clock::now();
        work();
        best = std::min(best, Since(start));
    }
    return best;
}

std::string CpuName() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned int words[12];
    if (__get_cpuid(0x80000000, &words[0], &words[1], &words[2], &words[3]) &&
        words[0] >= 0x80000004) {
        for (unsigned int leaf = 0; leaf < 3; ++leaf) {
            __get_cpuid(0x80000002 + leaf, &words[4 * leaf], &words[4 * leaf + 1],
                        &words[4 * leaf + 2], &words[4 * leaf + 3]);
        }
        char name[49] = {};
        std::memcpy(name, words, 48);
        std::string text(name);
        size_t first = text.find_first_not_of(' ');
        if (first == std::string::npos) return "unnamed x86";
        return text.substr(first, text.find_last_not_of(' ') + 1 - first);
    }
#endif
    return "unknown processor";
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// ---- OpenSSL's Blowfish, one BF_encrypt call per block ----

static_assert(sizeof(BF_LONG) == 4, "BF_encrypt works on two 32-bit words");

void OpenSslBlocks(const BF_KEY* key, uint8_t* bytes, size_t blocks) {
    for (size_t b = 0; b < blocks; ++b, bytes += 8) {
        // Our halves are little-endian words, just as this machine loads them.
        BF_LONG data[2];
        std::memcpy(data, bytes, 8);
        BF_encrypt(data, key);
        std::memcpy(bytes, data, 8);
    }
}

// ---- The string expression through a minimal RunData: two parameters, nothing else ----

struct StringCall {
    RunData rd;
    void* runHeader[256];
    const char* key;
    const char* text;
};
StringCall stringCall;

HostValue CIPHREL_STDCALL FirstParameter(RunData*, uint32_t, uint32_t) {
    return StringResult(stringCall.key);
}

HostValue CIPHREL_STDCALL NextParameter(RunData*, uint32_t, uint32_t) {
    return StringResult(stringCall.text);
}

// "EncryptString$(" step for step (fetch both parameters, look the key up, copy and pad,
// encrypt, escape into a new result buffer), with BF_encrypt doing the blocks.
HostValue OpenSslEncryptString(RunData* rd, const BF_KEY* key) {
    const char* keyText = TextParameter(HostGetFirstParameter(rd, ParamString, 0));
    const char* text = TextParameter(HostGetNextParameter(rd, ParamString, 0));
    MarkResult(rd, ResultIsString);
    if (FindKey(&engine.keyRing, keyText) < 0) return StringResult(text);
    size_t length = std::strlen(text);
    size_t padded = (length + 7) / 8 * 8;
    uint8_t* work = static_cast<uint8_t*>(std::malloc(padded + 1));
    if (work == nullptr) return StringResult("");
    std::memcpy(work, text, length);
    std::memset(work + length, 0, padded - length + 1);
    OpenSslBlocks(key, work, padded / 8);
    char* result = AllocResultBuffer(rd, static_cast<uint32_t>(3 * padded + 1));
    if (result != nullptr) {
        FilterBytes(&engine.filterSet, engine.filterControlCodes, result, work, padded);
    }
    std::free(work);
    return StringResult(result != nullptr ? result : "");
}

void PrepareStringCall() {
    std::memset(&stringCall, 0, sizeof stringCall);
    stringCall.runHeader[RunHeaderGetFirstParameter] = reinterpret_cast<void*>(FirstParameter);
    stringCall.runHeader[RunHeaderGetNextParameter] = reinterpret_cast<void*>(NextParameter);
    SetRunHeader(&stringCall.rd, stringCall.runHeader);
    stringCall.key = KeyText;
    // What a new object leaves in the shared state: its key, and the default filter.
    AddKey(&engine.keyRing, KeyText, std::strlen(KeyText));
    const uint16_t codes[] = {10, 12, 13};
    SeedFilterSet(&engine.filterSet, false, "", codes, 3);
}

// ---- Measurements of one bitness ----

struct Figures {
    double bulkOpenSsl = 0;                 // MB/s
    double bulk[BlockPathCount] = {};       // MB/s; 0 where the path does not run
    double stringOpenSsl[3] = {};           // ns per call
    double strings[BlockPathCount][3] = {}; // ns per call
    BlockPath loadPath = BlockPath::Reference;
    BlockPath measuredPath = BlockPath::Reference;  // the one the module works with
    double expandOurs = 0;                  // µs per call
    double expandOpenSsl = 0;
    double fileBound = 0;                   // s: read + fastest transform + write
    double fileNoBudget = 0;                // s
    double filePercent = 0;                 // s, 1% budget, every frame together
    int percentFrames = 0;
    double fileTime = 0;                    // s, 5 ms budget, every frame together
    int timeFrames = 0;
};

void MeasureBulk(Figures* f, const BlowfishContext& context, const BF_KEY& key) {
    std::vector<uint8_t> buffer(BulkBytes);
    std::mt19937 random(1);
    for (uint8_t& b : buffer) b = static_cast<uint8_t>(random());
    const size_t blocks = BulkBytes / 8;
    // The paths take turns in every round, so a busy moment hurts them all alike.
    double best[BlockPathCount + 1];
    std::fill(std::begin(best), std::end(best), 1e300);
    for (int run = 0; run < BulkRuns; ++run) {
        best[BlockPathCount] = std::min(best[BlockPathCount], BestOf(1, [&] {
            OpenSslBlocks(&key, buffer.data(), blocks);
        }));
        for (int32_t p = 0; p < BlockPathCount; ++p) {
            if (!SetBlockPath(static_cast<BlockPath>(p))) continue;
            best[p] = std::min(best[p], BestOf(1, [&] {
                EncryptBlocks(&context, buffer.data(), blocks);
            }));
        }
    }
    f->bulkOpenSsl = static_cast<double>(BulkBytes) / best[BlockPathCount] / 1e6;
    for (int32_t p = 0; p < BlockPathCount; ++p) {
        if (best[p] < 1e300) f->bulk[p] = static_cast<double>(BulkBytes) / best[p] / 1e6;
    }
}

std::string RandomText(size_t length, std::mt19937& random) {
    std::string text(length, ' ');
    for (char& c : text) c = static_cast<char>('!' + random() % 90);
    return text;
}

void MeasureStrings(Figures* f, const BF_KEY& key) {
    std::mt19937 random(2);
    for (int s = 0; s < 3; ++s) {
        const std::string text = RandomText(StringLengths[s], random);
        stringCall.text = text.c_str();
        // Both must give the same cipher text, or they would not be doing the same work.
        const std::string theirs = TextParameter(OpenSslEncryptString(&stringCall.rd, &key));
        const std::string ours = TextParameter(EncryptStringExpression(&stringCall.rd, 0));
        if (ours != theirs || ours.size() < text.size()) {
            std::fprintf(stderr, "bench: the string expression and OpenSSL disagree\n");
            std::exit(1);
        }
        double best[BlockPathCount + 1];
        std::fill(std::begin(best), std::end(best), 1e300);
        for (int run = 0; run < StringRuns; ++run) {
            best[BlockPathCount] = std::min(best[BlockPathCount], BestOf(1, [&] {
                for (int i = 0; i < StringCalls; ++i) OpenSslEncryptString(&stringCall.rd, &key);
            }));
            for (int32_t p = 0; p < BlockPathCount; ++p) {
                if (!SetBlockPath(static_cast<BlockPath>(p))) continue;
                best[p] = std::min(best[p], BestOf(1, [&] {
                    for (int i = 0; i < StringCalls; ++i) {
                        EncryptStringExpression(&stringCall.rd, 0);
                    }
                }));
            }
        }
        f->stringOpenSsl[s] = best[BlockPathCount] / StringCalls * 1e9;
        for (int32_t p = 0; p < BlockPathCount; ++p) {
            if (best[p] < 1e300) f->strings[p][s] = best[p] / StringCalls * 1e9;
        }
    }
}

void MeasureExpandKey(Figures* f) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(KeyText);
    const int32_t length = static_cast<int32_t>(std::strlen(KeyText));
    static BlowfishContext context;
    static BF_KEY key;
    for (int run = 0; run < ExpandRuns; ++run) {
        double ours = BestOf(1, [&] {
            for (int i = 0; i < ExpandCalls; ++i) ExpandKey(&context, bytes, length);
        });
        double theirs = BestOf(1, [&] {
            for (int i = 0; i < ExpandCalls; ++i) BF_set_key(&key, length, bytes);
        });
        ours = ours / ExpandCalls * 1e6;
        theirs = theirs / ExpandCalls * 1e6;
        f->expandOurs = run == 0 ? ours : std::min(f->expandOurs, ours);
        f->expandOpenSsl = run == 0 ? theirs : std::min(f->expandOpenSsl, theirs);
    }
}

// A scratch file of random content, removed at exit.
std::string scratchPath;

void RemoveScratch() {
    if (!scratchPath.empty()) unlink(scratchPath.c_str());
}

bool WriteScratch(size_t bytes) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") +
                          "/ciphrel-bench.XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) return false;
    close(fd);
    scratchPath = pattern;
    std::atexit(RemoveScratch);
    std::vector<uint8_t> content(bytes);
    std::mt19937 random(3);
    for (uint8_t& b : content) b = static_cast<uint8_t>(random());
    FILE* file = std::fopen(scratchPath.c_str(), "wb");
    if (file == nullptr) return false;
    bool written = std::fwrite(content.data(), 1, bytes, file) == bytes;
    return std::fclose(file) == 0 && written;
}

// The least that encrypting the file in place can cost: one read, the transform, one write.
bool LowerBound(const BlowfishContext& context) {
    FILE* file = std::fopen(scratchPath.c_str(), "r+b");
    if (file == nullptr) return false;
    std::fseek(file, 0, SEEK_END);
    size_t size = static_cast<size_t>(std::ftell(file));
    std::fseek(file, 0, SEEK_SET);
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(size + 1));
    bool ok = buffer != nullptr && std::fread(buffer, 1, size, file) == size;
    if (ok) {
        EncryptBlocks(&context, buffer, size / 8);
        std::fseek(file, 0, SEEK_SET);
        ok = std::fwrite(buffer, 1, size, file) == size;
        std::fflush(file);
    }
    std::free(buffer);
    return std::fclose(file) == 0 && ok;
}

// "Encrypt a File" as the engine runs it; returns the frames it took (the start is one).
int FileJobFrames(const BlowfishContext& context, const FileSettings& settings) {
    FileJob job = {};
    int frames = 1;
    int32_t result = StartFileJob(&job, &settings, scratchPath.c_str(), &context, ModeEncrypt);
    while (result == JobPending) {
        ++frames;
        result = ContinueFileJob(&job, &settings);
    }
    if (result != JobFinished) {
        std::fprintf(stderr, "bench: the file job failed with %d\n", static_cast<int>(result));
        std::exit(1);
    }
    return frames;
}

void MeasureFiles(Figures* f, const BlowfishContext& context, BlockPath fastest) {
    SetBlockPath(fastest);
    if (!WriteScratch(BulkBytes)) {
        std::fprintf(stderr, "bench: cannot write a scratch file in TMPDIR or /tmp\n");
        std::exit(1);
    }
    const FileSettings noBudget = {0, 0, 0};
    const FileSettings percent = {0, 0, 1};
    const FileSettings time = {0, 5, 0};
    f->fileBound = f->fileNoBudget = f->filePercent = f->fileTime = 1e300;
    for (int run = 0; run < FileRuns; ++run) {
        f->fileBound = std::min(f->fileBound, BestOf(1, [&] {
            if (!LowerBound(context)) std::exit(1);
        }));
        f->fileNoBudget = std::min(f->fileNoBudget, BestOf(1, [&] {
            FileJobFrames(context, noBudget);
        }));
        f->filePercent = std::min(f->filePercent, BestOf(1, [&] {
            f->percentFrames = FileJobFrames(context, percent);
        }));
        f->fileTime = std::min(f->fileTime, BestOf(1, [&] {
            f->timeFrames = FileJobFrames(context, time);
        }));
    }
}

// ---- Emulation ----

bool OtherBitnessEmulated() {
#if defined(CIPHREL_BENCH_OTHER_EMULATED)
    return Bits == 64;
#else
    return false;
#endif
}

// ---- Output ----

using Ratios = std::map<std::string, std::string>;

void PrintSection(const Figures& f, bool withFiles, Ratios* ratios) {
    const std::string bits = std::to_string(Bits);
    std::printf("\n%d-bit build, path chosen at load: %s, by measurement: %s\n", Bits,
                BlockPathName(f.loadPath), BlockPathName(f.measuredPath));
    std::printf("\n  Bulk ECB encryption, 64 MiB in place, best of %d (MB/s)\n", BulkRuns);
    std::printf("    %-28s %9s %10s\n", "", "MB/s", "x OpenSSL");
    std::printf("    %-28s %9.0f %10s\n", "OpenSSL BF_encrypt loop", f.bulkOpenSsl, "1.00");
    for (int32_t p = 0; p < BlockPathCount; ++p) {
        std::string name = BlockPathName(static_cast<BlockPath>(p));
        if (f.bulk[p] == 0) {
            std::printf("    %-28s %9s %10s\n", name.c_str(), "-", "does not run here");
            continue;
        }
        std::string ratio = Fixed(f.bulk[p] / f.bulkOpenSsl, 2);
        std::printf("    %-28s %9.0f %10s\n", name.c_str(), f.bulk[p], ratio.c_str());
        if (p != static_cast<int32_t>(BlockPath::Reference)) {
            (*ratios)["bulk-" + name + "-" + bits] = ratio;
        }
        if (static_cast<BlockPath>(p) == f.measuredPath) {
            (*ratios)["bulk-chosen-" + bits] = ratio;
        }
    }

    std::printf("\n  EncryptString$ through a minimal RunData, best of %d (ns per call)\n",
                StringRuns);
    std::printf("    OpenSSL: the routine's own steps, with BF_encrypt doing the blocks\n");
    std::printf("    %-28s %9s %9s %9s %12s\n", "", "8 bytes", "32 bytes", "256 bytes",
                "32 / OpenSSL");
    std::printf("    %-28s %9.0f %9.0f %9.0f %12s\n", "OpenSSL BF_encrypt loop",
                f.stringOpenSsl[0], f.stringOpenSsl[1], f.stringOpenSsl[2], "1.00");
    for (int32_t p = 0; p < BlockPathCount; ++p) {
        if (f.strings[p][1] == 0) continue;
        std::string name = BlockPathName(static_cast<BlockPath>(p));
        std::string ratio = Fixed(f.strings[p][1] / f.stringOpenSsl[1], 2);
        if (static_cast<BlockPath>(p) == f.measuredPath) {
            name += " (chosen)";
            (*ratios)["string32-" + bits] = ratio;
        }
        std::printf("    %-28s %9.0f %9.0f %9.0f %12s\n", name.c_str(), f.strings[p][0],
                    f.strings[p][1], f.strings[p][2], ratio.c_str());
    }

    std::string expandRatio = Fixed(f.expandOurs / f.expandOpenSsl, 2);
    std::printf("\n  ExpandKey, %zu-byte key, best of %d (us per call)\n", std::strlen(KeyText),
                ExpandRuns);
    std::printf("    ours %.2f   OpenSSL BF_set_key %.2f   ours / OpenSSL %s\n", f.expandOurs,
                f.expandOpenSsl, expandRatio.c_str());
    (*ratios)["expandkey-" + bits] = expandRatio;

    if (!withFiles) return;
    std::string noBudget = Fixed(f.fileNoBudget / f.fileBound, 2);
    std::string percent = Fixed(f.filePercent / f.fileNoBudget, 2);
    std::printf("\n  Encrypt a File, 64 MiB, path %s, best of %d (ms)\n",
                BlockPathName(f.measuredPath), FileRuns);
    std::printf("    %-44s %8.1f\n", "read + transform + write (the lower bound)",
                f.fileBound * 1e3);
    std::printf("    %-44s %8.1f   x lower bound %s\n", "no budget", f.fileNoBudget * 1e3,
                noBudget.c_str());
    std::string label = "1% budget: start + " + std::to_string(f.percentFrames - 1) +
                        " continuations";
    std::printf("    %-44s %8.1f   x no budget %s, %.2f ms a frame\n", label.c_str(),
                f.filePercent * 1e3, percent.c_str(), f.filePercent * 1e3 / f.percentFrames);
    std::string time = Fixed(f.fileNoBudget / f.fileTime, 2);
    label = "5 ms budget: start + " + std::to_string(f.timeFrames - 1) + " continuations";
    std::printf("    %-44s %8.1f   x no budget %s, %.0f MB/s\n", label.c_str(),
                f.fileTime * 1e3, time.c_str(), double(BulkBytes) / f.fileTime / 1e6);
    (*ratios)["file-nobudget"] = noBudget;
    (*ratios)["file-1pct"] = percent;
    (*ratios)["file-5ms"] = time;
}

Figures MeasureThisBuild(bool withFiles) {
    Figures f;
    f.loadPath = ActiveBlockPath();
    BlowfishContext context;
    ExpandKey(&context, reinterpret_cast<const uint8_t*>(KeyText),
              static_cast<int32_t>(std::strlen(KeyText)));
    BF_KEY key;
    BF_set_key(&key, static_cast<int>(std::strlen(KeyText)),
               reinterpret_cast<const unsigned char*>(KeyText));
    PrepareStringCall();
    // As the module does at its first long run; the forced paths below leave it alone.
    MeasureBlockPathsOnce(&context);
    f.measuredPath = ActiveBlockPath();

    MeasureBulk(&f, context, key);
    MeasureStrings(&f, key);
    MeasureExpandKey(&f);
    if (withFiles) MeasureFiles(&f, context, f.measuredPath);
    SetBlockPath(f.measuredPath);
    return f;
}

// The other bitness: its own build of this program, when there is one that runs here.
void MeasureOtherBitness(Ratios* ratios) {
    const int otherBits = Bits == 64 ? 32 : 64;
#if defined(CIPHREL_BENCH_OTHER)
    std::fflush(stdout);
    FILE* child = popen(CIPHREL_BENCH_OTHER " --section", "r");
    char line[512];
    bool any = false;
    while (child != nullptr && std::fgets(line, sizeof line, child) != nullptr) {
        char name[128];
        char value[64];
        if (std::sscanf(line, "ratio %127s %63s", name, value) == 2) {
            (*ratios)[name] = value;
            any = true;
        } else {
            std::fputs(line, stdout);
        }
    }
    if (child == nullptr || pclose(child) != 0 || !any) {
        std::printf("\n%d-bit build: not measured: %s did not run\n", otherBits,
                    CIPHREL_BENCH_OTHER);
    }
#elif defined(CIPHREL_BENCH_OTHER_MISSING)
    std::printf("\n%d-bit build: not measured: %s\n", otherBits, CIPHREL_BENCH_OTHER_MISSING);
    (void)ratios;
#else
    std::printf("\n%d-bit build: not measured: no build of that bitness here\n", otherBits);
    (void)ratios;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const bool sectionOnly = argc > 1 && std::strcmp(argv[1], "--section") == 0;
    Ratios ratios;
    if (!sectionOnly) {
        std::printf("Ciphrel benchmark: %s, %u logical CPUs, compiler %s\n",
                    CpuName().c_str(), std::thread::hardware_concurrency(), __VERSION__);
    }
    std::fflush(stdout);
    // The file work is measured once, by the build that was run directly.
    PrintSection(MeasureThisBuild(!sectionOnly), !sectionOnly, &ratios);
    if (sectionOnly) {
        for (const auto& [name, value] : ratios) std::printf("ratio %s %s\n", name.c_str(),
                                                             value.c_str());
        return 0;
    }
    MeasureOtherBitness(&ratios);

    std::printf("\n");
    // Where a bitness could only be emulated its times mean nothing, so no ratio is given.
    const bool emulated32 = EmulatedHere() || OtherBitnessEmulated();
    for (int bits : {32, 64}) {
        const std::string suffix = "-" + std::to_string(bits);
        std::vector<std::string> names;
        for (int32_t p = 0; p < BlockPathCount; ++p) {
            if (static_cast<BlockPath>(p) == BlockPath::Reference) continue;
            names.push_back("bulk-" + std::string(BlockPathName(static_cast<BlockPath>(p))));
        }
        names.push_back("bulk-chosen");
        names.push_back("string32");
        names.push_back("expandkey");
        const bool noTimes = bits == 32 ? emulated32 : EmulatedHere();
        for (const std::string& name : names) {
            auto found = ratios.find(name + suffix);
            std::printf("ratio %s%s %s\n", name.c_str(), suffix.c_str(),
                        noTimes                 ? "not measured (emulated)"
                        : found != ratios.end() ? found->second.c_str()
                                                : "n/a");
        }
    }
    for (const char* name : {"file-nobudget", "file-1pct", "file-5ms"}) {
        auto found = ratios.find(name);
        std::printf("ratio %s %s\n", name,
                    EmulatedHere()          ? "not measured (emulated)"
                    : found != ratios.end() ? found->second.c_str()
                                            : "n/a");
    }
    return 0;
}
