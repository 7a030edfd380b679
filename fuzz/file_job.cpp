// The file engine under arbitrary contents, sizes, padding and sequences of budgets read
// anew by every continuation: the file is untouched until the last one, and then holds
// what one uninterrupted pass writes, which is every block transformed in place.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "engine/file_job.h"
#include "fuzz/fuzz_check.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

long fakeNow = 0, fakeStep = 0;     // each reading gives fakeNow, then adds fakeStep
long FakeClock() { return std::exchange(fakeNow, fakeNow + fakeStep); }

// A folder of its own, removed when the process ends.
const fs::path& Directory() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "fuzz_file_job.XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        std::atexit([] { fs::remove_all(Directory()); });
        return fs::path(pattern);
    }();
    return dir;
}

void Write(const fs::path& path, const Bytes& content) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                long(content.size()));
}

Bytes Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Budget { int32_t percent, time; long clockStep; uint8_t noPadding; };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint8_t noPadding = input.ConsumeBool() ? 1 : 0;
    const uint8_t mode = input.ConsumeBool() ? ModeEncrypt : ModeDecrypt;
    std::vector<Budget> budgets(input.ConsumeIntegralInRange<size_t>(0, 40));
    for (Budget& b : budgets) {
        b.percent = input.ConsumeIntegralInRange<int32_t>(-5, 120);
        b.time = input.ConsumeIntegralInRange<int32_t>(-3, 40);
        b.clockStep = input.ConsumeIntegralInRange<long>(0, 9);
        b.noPadding = input.ConsumeBool() ? 1 : 0;     // must not reach a running job
    }
    const Bytes content = input.ConsumeRemainingBytes<uint8_t>();
    fileJobClock = FakeClock;

    BlowfishContext key;
    ExpandKey(&key, reinterpret_cast<const uint8_t*>("fuzz key"), 8);

    // The blocks transformed in place: padded to whole blocks, or the final piece kept.
    Bytes expected = content;
    if (noPadding == 0) expected.resize((content.size() + 7) / 8 * 8, 0);
    (mode == ModeEncrypt ? EncryptBlocks : DecryptBlocks)(&key, expected.data(),
                                                          expected.size() / 8);

    const fs::path onePass = Directory() / "one_pass.bin";
    Write(onePass, content);
    FileJob job{};
    const FileSettings off{noPadding, 0, 0};
    REQUIRE(StartFileJob(&job, &off, onePass.c_str(), &key, mode) == JobFinished);
    REQUIRE(!FileJobInProgress(&job) && job.buffer == nullptr);
    REQUIRE(Read(onePass) == expected);

    const fs::path stepped = Directory() / "stepped.bin";
    Write(stepped, content);
    FileSettings settings = off;
    if (!budgets.empty()) settings = {noPadding, budgets[0].time, budgets[0].percent};
    const bool budgeted = settings.timeInterval > 0 ||
                          (settings.percentInterval >= 1 && settings.percentInterval <= 99);
    int32_t result = StartFileJob(&job, &settings, stepped.c_str(), &key, mode);
    REQUIRE(result == (budgeted ? JobPending : JobFinished));
    REQUIRE(job.bytesToProcess % 8 == 0 && job.bytesToWrite <= job.paddedSize);
    uint32_t done = 0;
    for (size_t i = 1; result == JobPending; ++i) {
        REQUIRE(i <= budgets.size() + 1);       // with every budget off, one call ends it
        REQUIRE(Read(stepped) == content);
        REQUIRE(StartFileJob(&job, &off, onePass.c_str(), &key, mode) == 8);
        settings = off;
        if (i < budgets.size()) {
            settings = {budgets[i].noPadding, budgets[i].time, budgets[i].percent};
            fakeStep = budgets[i].clockStep;
        }
        result = ContinueFileJob(&job, &settings);
        REQUIRE(result == JobPending || result == JobFinished);
        REQUIRE(job.bytesDone % 8 == 0 && job.bytesDone >= done &&
                job.bytesDone <= job.bytesToProcess);
        REQUIRE(FileJobInProgress(&job) == (result == JobPending));
        const int32_t progress = FileJobProgress(&job);
        REQUIRE(progress >= 0 && progress <= 100);
        done = job.bytesDone;
    }
    REQUIRE(job.bytesDone == job.bytesToProcess && job.buffer == nullptr);
    REQUIRE(Read(stepped) == expected);
    return 0;
}
