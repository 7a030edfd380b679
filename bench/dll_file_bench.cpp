// "Encrypt a File" on 32 MiB through the shipped ciphrel.dll, as a game runs it: the action,
// then one HandleRunObject a frame until the file is done. No pass or fail: a table, then
// one "ratio dllfile-<budget> <value>" line per budget (its MB/s over the MB/s at once).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/emulated.h"
#include "testhost/test_host.h"

namespace {

constexpr size_t FileBytes = size_t(32) << 20;
constexpr int Runs = 7;                 // best of; noise only ever adds time
constexpr int ActionAddKey = 0, ActionEncryptFile = 7, ActionSetTime = 13,
              ActionSetPercent = 14;
constexpr int ConditionFileDone = 6;
const char KeyText[] = "a bench key 0123";

struct Budget { const char* label; const char* ratio; int32_t milliseconds, percent; };
const Budget Budgets[] = {
    {"at once", nullptr, 0, 0},
    {"1 % a frame", "dllfile-1pct", 0, 1},
    {"1 ms time budget", "dllfile-1ms", 1, 0},
    {"5 ms time budget", "dllfile-5ms", 5, 0},
    {"10 ms time budget", "dllfile-10ms", 10, 0},
};

double Now() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return double(count.QuadPart) / double(frequency.QuadPart);
}

// One job, every call timed: the action (which reads the file), each frame's continuation.
struct Job {
    double start = 0;           // s: the action
    std::vector<double> frames; // s: each HandleRunObject, the last one writing the file back
    double Total() const {
        double total = start;
        for (double f : frames) total += f;
        return total;
    }
};

Job RunJob(TestHost& host, RunData* object, const std::string& path) {
    bool done = false;
    host.onEvent = [&](const HostEvent& event) {
        done = event.condition == ConditionFileDone;
        if (!done) {
            std::fprintf(stderr, "dll file bench: the job failed with error %d\n",
                         event.errorCode);
            std::exit(1);
        }
    };
    Job job;
    std::vector<std::string> texts{KeyText, path};
    double before = Now();
    host.ActionText(object, ActionEncryptFile, texts);
    job.start = Now() - before;
    while (!done) {
        before = Now();
        const int16_t stop = host.Frame(object);
        job.frames.push_back(Now() - before);
        if (stop != 0 && !done) {
            std::fprintf(stderr, "dll file bench: frames stopped before the job was done\n");
            std::exit(1);
        }
    }
    host.onEvent = nullptr;
    return job;
}

}  // namespace

int main() {
    const std::string path =
        (std::filesystem::temp_directory_path() / "ciphrel-dll-bench.dat").string();
    {
        std::vector<uint8_t> content(FileBytes);
        uint32_t state = 7;
        for (uint8_t& b : content) b = uint8_t((state = state * 1103515245u + 12345u) >> 24);
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(content.data(), 1, FileBytes, file) != FileBytes ||
            std::fclose(file) != 0) {
            std::fprintf(stderr, "dll file bench: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    TestHost host;
    host.Initialize();
    RunData* object = host.Create(TestHost::NewEditData());
    std::vector<std::string> key{KeyText};
    host.ActionText(object, ActionAddKey, key);
    char module[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("ciphrel.dll"), module, sizeof module);
    const bool emulated = EmulatedHere();
    std::printf("\nEncrypt a File through %s, 32 MiB, best of %d\n", module, emulated ? 1 : Runs);
    std::printf("  %-18s %7s %8s %10s %10s %14s %12s\n", "", "frames", "MB/s", "x at once",
                "start ms", "longest ms", "last ms");

    double atOnce = 0;
    std::vector<std::string> ratios;
    for (const Budget& budget : Budgets) {
        host.Action(object, ActionSetTime, budget.milliseconds);
        host.Action(object, ActionSetPercent, budget.percent);
        Job best;
        for (int run = 0; run < (emulated ? 1 : Runs); ++run) {
            Job job = RunJob(host, object, path);
            if (run == 0 || job.Total() < best.Total()) best = job;
        }
        const double mbs = double(FileBytes) / best.Total() / 1e6;
        if (budget.ratio == nullptr) atOnce = mbs;
        // The continuations before the last are what the budget bounds; the last one
        // also writes the whole file back.
        double longest = 0;
        for (size_t i = 0; i + 1 < best.frames.size(); ++i) {
            longest = std::max(longest, best.frames[i]);
        }
        char longestText[32] = "-";
        if (best.frames.size() >= 2 && budget.milliseconds > 0) {
            std::snprintf(longestText, sizeof longestText, "%.2f (+%.2f)", longest * 1e3,
                          longest * 1e3 - budget.milliseconds);
        } else if (best.frames.size() >= 2) {
            std::snprintf(longestText, sizeof longestText, "%.2f", longest * 1e3);
        }
        std::printf("  %-18s %7zu %8.0f %10.2f %10.2f %14s %12.2f\n", budget.label,
                    best.frames.size() + 1, mbs, mbs / atOnce, best.start * 1e3, longestText,
                    best.frames.empty() ? 0.0 : best.frames.back() * 1e3);
        if (budget.ratio != nullptr) {
            char line[96];
            if (emulated) {
                std::snprintf(line, sizeof line, "ratio %s not measured (emulated)",
                              budget.ratio);
            } else {
                std::snprintf(line, sizeof line, "ratio %s %.2f", budget.ratio, mbs / atOnce);
            }
            ratios.push_back(line);
        }
    }
    std::printf("  frames count the action; start: the action, which reads the file; longest:\n"
                "  the longest frame before the last (+ over the budget); last: it writes the\n"
                "  file back\n\n");
    for (const std::string& line : ratios) std::printf("%s\n", line.c_str());
    host.Destroy(object);
    host.Free();
    std::remove(path.c_str());
    return 0;
}
