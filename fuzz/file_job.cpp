// The file engine under arbitrary contents, sizes, padding, batch sizes and sequences of
// budgets read anew by every continuation: the file is untouched until the last one, and
// then holds what one uninterrupted pass writes, which is every block transformed in place.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <utility>

#include "engine/file_job.h"
#include "fuzz/fuzz_check.h"
#include "tests/test_files.h"

namespace {

using namespace testfiles;
namespace fs = std::filesystem;

long fakeNow = 0, fakeStep = 0;     // each reading gives fakeNow, then adds fakeStep
long FakeClock() { return std::exchange(fakeNow, fakeNow + fakeStep); }

// A folder of its own, removed when the process ends.
const fs::path& Directory() {
    static const fs::path dir = MakeTempDir("fuzz_file_job");
    static const int removal = std::atexit([] { fs::remove_all(Directory()); });
    REQUIRE(!dir.empty() && removal == 0);
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint8_t noPadding = input.ConsumeBool() ? 1 : 0;
    const uint8_t mode = input.ConsumeBool() ? ModeEncrypt : ModeDecrypt;
    fileJobBatchBlocks = input.ConsumeIntegralInRange<uint32_t>(0, 9);    // 0: as measured
    struct Budget { FileSettings settings; long clockStep; };
    std::vector<Budget> budgets(input.ConsumeIntegralInRange<size_t>(0, 40));
    for (Budget& b : budgets)   // the padding must not reach a running job
        b = {{uint8_t(input.ConsumeBool()), input.ConsumeIntegralInRange<int32_t>(-3, 40),
              input.ConsumeIntegralInRange<int32_t>(-5, 120)},
             input.ConsumeIntegralInRange<long>(0, 9)};
    const Bytes content = input.ConsumeRemainingBytes<uint8_t>();
    fileJobClock = FakeClock;
    BlowfishContext key;
    ExpandKey(&key, reinterpret_cast<const uint8_t*>("fuzz key"), 8);

    // The blocks transformed in place: padded to whole blocks, or the final piece kept.
    Bytes expected = noPadding ? content : PadToBlocks(content);
    (mode == ModeEncrypt ? EncryptBlocks : DecryptBlocks)(&key, expected.data(),
                                                          expected.size() / 8);
    const fs::path onePass = Directory() / "one_pass.bin", stepped = Directory() / "stepped.bin";
    WriteBytes(onePass, content);
    FileJob job{};
    const FileSettings off{noPadding, 0, 0};
    REQUIRE(StartFileJob(&job, &off, onePass.c_str(), &key, mode) == JobFinished);
    REQUIRE(!FileJobInProgress(&job) && job.buffer == nullptr);
    REQUIRE(ReadBytes(onePass) == expected);

    WriteBytes(stepped, content);
    FileSettings settings = off;
    if (!budgets.empty()) settings = {noPadding, budgets[0].settings.timeInterval,
                                      budgets[0].settings.percentInterval};
    const bool budgeted = settings.timeInterval > 0 ||
                          (settings.percentInterval >= 1 && settings.percentInterval <= 99);
    int32_t result = StartFileJob(&job, &settings, stepped.c_str(), &key, mode);
    REQUIRE(result == (budgeted ? JobPending : JobFinished));
    REQUIRE(job.bytesToProcess % 8 == 0 && job.bytesToWrite <= job.paddedSize);
    for (size_t i = 1; result == JobPending; ++i) {
        REQUIRE(i <= budgets.size() + 1);       // with every budget off, one call ends it
        REQUIRE(ReadBytes(stepped) == content);
        REQUIRE(StartFileJob(&job, &off, onePass.c_str(), &key, mode) == 8);
        settings = i < budgets.size() ? budgets[i].settings : off;
        fakeStep = i < budgets.size() ? budgets[i].clockStep : fakeStep;
        const uint32_t done = job.bytesDone;
        result = ContinueFileJob(&job, &settings);
        REQUIRE(result == JobPending || result == JobFinished);
        REQUIRE(job.bytesDone % 8 == 0 && job.bytesDone >= done &&
                job.bytesDone <= job.bytesToProcess);
        REQUIRE(FileJobInProgress(&job) == (result == JobPending));
        REQUIRE(FileJobProgress(&job) >= 0 && FileJobProgress(&job) <= 100);
    }
    REQUIRE(job.bytesDone == job.bytesToProcess && job.buffer == nullptr);
    REQUIRE(ReadBytes(stepped) == expected);
    return 0;
}
