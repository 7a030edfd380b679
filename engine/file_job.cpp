// The file work engine: one whole file Blowfish-transformed in place, at once or by budgets.
#include "engine/file_job.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include "cipher/block_paths.h"
#include "engine/allocation.h"
#include "runtime/report.h"

#if !defined(_WIN32)
#include <sys/types.h>
static_assert(sizeof(off_t) >= 8, "lengths past 2 GiB must be seen as they are");
#endif

namespace {

using BlockRun = void (*)(const BlowfishContext*, uint8_t*, size_t);

// The DLL's C runtime counts clock() in milliseconds already; elsewhere convert.
long ClockMilliseconds() {
    if constexpr (CLOCKS_PER_SEC == 1000) {
        return static_cast<long>(clock());
    } else {
        return static_cast<long>(static_cast<long long>(clock()) * 1000 / CLOCKS_PER_SEC);
    }
}

bool TimeBudgetOn(const FileSettings* settings) { return settings->timeInterval > 0; }

bool PercentBudgetOn(const FileSettings* settings) {
    return settings->percentInterval >= 1 && settings->percentInterval <= 99;
}

// Length of the open stream, or -1. Positions are read in 64 bits so that a file past
// 2 GiB shows its true length instead of a wrapped one that would pass for a small file.
int64_t StreamLength(FILE* stream) {
#if defined(_WIN32)
    if (_fseeki64(stream, 0, SEEK_END) != 0) return -1;
    return static_cast<int64_t>(_ftelli64(stream));
#else
    if (fseeko(stream, 0, SEEK_END) != 0) return -1;
    return static_cast<int64_t>(ftello(stream));
#endif
}

// A start that fails after opening the file: no job remains and nothing was written.
int32_t AbandonStart(FileJob* job, int32_t code) {
    AbandonFileJob(job);
    return code;
}

// Writes the first bytesToWrite bytes back over the file and ends the job either way.
int32_t WriteBackAndEnd(FileJob* job) {
    bool failed = fseek(job->stream, 0, SEEK_SET) != 0;
    if (!failed) fwrite(job->buffer, 1, job->bytesToWrite, job->stream);
    // Without the flush a small file would still sit in the stream's buffer when the
    // indicator is tested, and a failed write would only show in fclose.
    fflush(job->stream);
    int32_t result = failed || ferror(job->stream) ? ErrFileWrite : JobFinished;
    AbandonFileJob(job);
    return result;
}

// Runs this long are worth the one timing of the block paths that picks the fastest.
constexpr uint32_t MeasureAtBytes = 64 * 1024;

size_t TimedBatchBlocks(const BlowfishContext* key) {
    if (fileJobBatchBlocks != 0) return fileJobBatchBlocks;
    return BlocksWithin(MeasureBlockPathsOnce(key), BatchMicroseconds);
}

// Transforms blocks from bytesDone on until bytesToProcess is reached, the clock has run
// more than timeInterval ms past start (when above 0), or bytesDone is at least bound
// (when not 0). Blocks go in batches, the clock read before each; without a time budget
// the whole run is one batch. Then, when every block is done, writes the file back and
// ends the job.
int32_t Work(FileJob* job, int32_t timeInterval, long start, uint64_t bound) {
    BlockRun transform = job->mode == ModeEncrypt ? EncryptBlocks : DecryptBlocks;
    // The blocks that start below the bound: stopping there passes it by at most 7 bytes.
    uint32_t end = job->bytesToProcess;
    if (bound != 0 && RoundUpToBlock(bound) < end) {
        end = static_cast<uint32_t>(RoundUpToBlock(bound));
    }
    uint64_t batch = end;
    if (timeInterval > 0) {
        batch = uint64_t(TimedBatchBlocks(job->key)) * BlockSize;
    } else if (end - std::min(end, job->bytesDone) >= MeasureAtBytes) {
        MeasureBlockPathsOnce(job->key);
    }
    while (job->bytesDone < end) {
        if (timeInterval > 0 && fileJobClock() - start > timeInterval) return JobPending;
        const auto stop = static_cast<uint32_t>(std::min<uint64_t>(end, job->bytesDone + batch));
        transform(job->key, job->buffer + job->bytesDone, (stop - job->bytesDone) / BlockSize);
        job->bytesDone = stop;
    }
    if (job->bytesDone < job->bytesToProcess) return JobPending;
    return WriteBackAndEnd(job);
}

}  // namespace

ClockFunction fileJobClock = ClockMilliseconds;
uint32_t fileJobBatchBlocks = 0;

int32_t StartFileJob(FileJob* job, const FileSettings* settings, const char* path,
                     const BlowfishContext* key, uint8_t mode) {
    if (FileJobInProgress(job)) return ErrJobRunning;
    if (path == nullptr || path[0] == '\0' || key == nullptr) return ErrFileOpen;

    job->stream = fopen(path, "r+b");
    if (job->stream == nullptr) return ErrFileOpen;
    if (ferror(job->stream)) return AbandonStart(job, ErrFileOpen);

    job->mode = mode;
    job->key = key;
    job->bytesDone = 0;

    // The host reads sizes as signed 32-bit numbers, so the file, padded, must fit a signed
    // 32-bit position; a longer one counts as unreadable.
    int64_t length = StreamLength(job->stream);
    if (length < 0 || RoundUpToBlock(static_cast<uint64_t>(length)) > INT32_MAX
            || fseek(job->stream, 0, SEEK_SET) != 0) {
        return AbandonStart(job, ErrFileOpen);
    }
    job->paddedSize = static_cast<uint32_t>(RoundUpToBlock(static_cast<uint64_t>(length)));

    EngineRelease(job->buffer);
    // One byte more, so that an empty file still gets a buffer of its own.
    job->buffer = static_cast<uint8_t*>(EngineAllocate(size_t(job->paddedSize) + 1));
    if (job->buffer == nullptr) return AbandonStart(job, ErrFileOpen);

    size_t bytesRead = fread(job->buffer, 1, job->paddedSize, job->stream);
    job->bytesToWrite = static_cast<uint32_t>(bytesRead);
    memset(job->buffer + bytesRead, 0, job->paddedSize - bytesRead);
    if (ferror(job->stream)) return AbandonStart(job, ErrFileOpen);

    if (settings->noPadding == 1) {
        job->bytesToProcess = static_cast<uint32_t>(job->bytesToWrite / BlockSize * BlockSize);
    } else {
        job->bytesToWrite = job->paddedSize;
        job->bytesToProcess = job->paddedSize;
    }

    // With a budget the first continuation begins the work, in the next frame.
    if (TimeBudgetOn(settings) || PercentBudgetOn(settings)) return JobPending;
    return Work(job, 0, 0, 0);
}

int32_t ContinueFileJob(FileJob* job, const FileSettings* settings) {
    uint64_t bound = 0;
    if (PercentBudgetOn(settings)) {
        uint64_t step = static_cast<uint64_t>(settings->percentInterval) * job->paddedSize / 100;
        // A step below one byte (only files under 100 bytes have one) would leave the
        // bound at bytesDone and stall the job once a block is done. One block per call is
        // the smallest advance, and keeps the work spread over frames as asked.
        if (step == 0 && job->bytesDone > 0) step = BlockSize;
        bound = job->bytesDone + step;
    }
    long start = fileJobClock();
    return Work(job, settings->timeInterval, start, bound);
}

void AbandonFileJob(FileJob* job) {
    if (job->stream != nullptr) fclose(job->stream);
    EngineRelease(job->buffer);
    job->stream = nullptr;
    job->buffer = nullptr;
    job->key = nullptr;
}

int32_t FileJobProgress(const FileJob* job) {
    if (job->bytesToProcess == 0) return 0;
    return static_cast<int32_t>(uint64_t(job->bytesDone) * 100 / job->bytesToProcess);
}
