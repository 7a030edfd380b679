// The one module-wide file job: a whole file encrypted or decrypted in place, at once
// or spread over frames by a time or percentage budget.
#pragma once
#include <cstdint>
#include <cstdio>
#include "cipher/blowfish.h"

constexpr int32_t JobPending = -1;
constexpr int32_t JobFinished = 0;

constexpr uint8_t ModeDecrypt = 0;
constexpr uint8_t ModeEncrypt = 1;

struct FileJob {
    FILE* stream;               // open "r+b" exactly while a job is in progress
    uint8_t* buffer;            // owned: the whole file, zero-padded to paddedSize, +1 byte
    const BlowfishContext* key; // borrowed from its KeyEntry; keys cannot be removed meanwhile
    uint8_t mode;               // ModeEncrypt or ModeDecrypt
    uint32_t paddedSize;        // file length rounded up to a multiple of 8
    uint32_t bytesDone;         // bytes transformed so far; always a multiple of 8
    uint32_t bytesToWrite;      // bytes written back at the end; the file's length after
    uint32_t bytesToProcess;    // bytes to transform; a multiple of 8
};

struct FileSettings {
    uint8_t noPadding;          // NoPadding: 1 leaves a final piece of 1-7 bytes as it is
    int32_t timeInterval;       // FileTimeInterval, ms; above 0 turns the time budget on
    int32_t percentInterval;    // FilePercentInterval; 1 to 99 turns the percentage budget on
};

// Milliseconds on the DLL's C runtime; tests install a fake. Defaults to clock().
using ClockFunction = long (*)();
extern ClockFunction fileJobClock;

// Under a time budget the clock is read before every batch of blocks. A batch takes at
// most BatchMicroseconds on the slowest path the measurement may choose, so a call runs
// past its interval by no more than that. 0 sizes batches by that measurement; tests set
// a number of blocks.
constexpr double BatchMicroseconds = 50;
extern uint32_t fileJobBatchBlocks;

inline bool FileJobInProgress(const FileJob* job) { return job->stream != nullptr; }

// JobPending, JobFinished, or 6, 7, 8 (see the error codes).
int32_t StartFileJob(FileJob* job, const FileSettings* settings, const char* path,
                     const BlowfishContext* key, uint8_t mode);
// Only while a job is in progress. JobPending, JobFinished or 7.
int32_t ContinueFileJob(FileJob* job, const FileSettings* settings);
// Ends a job without writing: the file keeps its content.
void AbandonFileJob(FileJob* job);
// bytesDone * 100 / bytesToProcess without overflow; 0 when nothing is to be processed.
int32_t FileJobProgress(const FileJob* job);
