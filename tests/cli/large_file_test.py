#!/usr/bin/env python3
"""A 3 GiB sparse file through the ciphrel tool: runs interrupted mid-way leave the file
as it was, a whole run encrypts it in place and another decrypts it back, each in less
than 64 MiB of memory (the peak resident size that the kernel reports for the process,
as GNU time reads it).

usage: large_file_test.py CIPHREL
"""
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile

SIZE = (3 << 30) + 3                # not a whole number of blocks: padding adds 5 bytes
MEMORY_LIMIT_KIB = 64 << 10
KEY = "large file key"
CHUNK = 1 << 20


def check(condition, message):
    if not condition:
        sys.exit("FAIL: " + message)


def make_sparse(path, markers):
    """Holes everywhere except a few runs of random bytes, at the start, inside and at
    the end, so that a wrong offset or a lost piece shows."""
    with open(path, "wb") as f:
        f.truncate(SIZE)
        for offset, data in markers:
            f.seek(offset)
            f.write(data)


def expected_piece(markers, offset, length):
    piece = bytearray(length)
    for start, data in markers:
        low, high = max(offset, start), min(offset + length, start + len(data))
        if low < high:
            piece[low - offset:high - offset] = data[low - start:high - start]
    return piece


def check_intact(path, markers, blocks):
    status = os.stat(path)
    check(status.st_size == SIZE, "the original changed size: %d" % status.st_size)
    check(status.st_blocks == blocks, "the original gained or lost data blocks")
    with open(path, "rb") as f:
        for offset, data in markers:
            f.seek(offset)
            check(f.read(len(data)) == data, "the original changed at %d" % offset)


def leftovers(folder):
    return [name for name in os.listdir(folder) if ".ciphrel-" in name]


def interrupt(cli, folder, path, markers, signal_number):
    """Starts an in-place encryption with its progress on a terminal, and sends the
    signal once the progress shows 2% done."""
    blocks = os.stat(path).st_blocks
    controller, terminal = pty.openpty()
    child = subprocess.Popen([cli, "encrypt-file", "--key", KEY, path],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=terminal)
    os.close(terminal)
    shown = b""
    while True:
        ready, _, _ = select.select([controller], [], [], 120)
        check(ready, "no progress shown within two minutes")
        shown += os.read(controller, 4096)
        percents = [int(p) for p in re.findall(rb"(\d+)%", shown)]
        if percents and percents[-1] >= 2:
            break
    check(percents[-1] < 100, "the run ended before it could be interrupted")
    partial = leftovers(folder)
    check(len(partial) == 1, "no new file is being written beside the original")
    check(os.path.getsize(os.path.join(folder, partial[0])) > 0, "the new file is empty")
    child.send_signal(signal_number)
    check(child.wait() == -signal_number, "the tool did not end by the signal")
    os.close(controller)
    check_intact(path, markers, blocks)
    return leftovers(folder)


def run_measured(args, stats, stdout=None):
    """Starts the tool under GNU time, which records its peak resident memory (a
    measurement taken from here would count this interpreter's pages too)."""
    return subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", stats] + args, stdout=stdout)


def finish(child, stats):
    """The exit status and the peak resident memory in KiB."""
    status = child.wait()
    with open(stats) as f:
        return status, int(f.read().split()[-1])


def main():
    cli = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="large_file_test.", dir=os.getcwd())
    try:
        free = shutil.disk_usage(folder).free
        check(free > SIZE + (1 << 30), "needs 4 GiB of free disk space, has %d MiB" %
              (free >> 20))
        path = os.path.join(folder, "large.bin")
        markers = [(0, os.urandom(65536)), ((1 << 30) + 5, os.urandom(4099)),
                   (SIZE - 1000, os.urandom(1000))]
        make_sparse(path, markers)

        # Killed outright, the tool cannot tidy up: the original is intact, and the
        # unfinished new file is the only trace.
        left = interrupt(cli, folder, path, markers, signal.SIGKILL)
        check(len(left) == 1, "a killed run left %d files" % len(left))
        os.remove(os.path.join(folder, left[0]))
        # Asked to stop, it removes its unfinished file too.
        for number in (signal.SIGTERM, signal.SIGINT):
            check(interrupt(cli, folder, path, markers, number) == [],
                  "an interrupted run left its unfinished file")

        stats = os.path.join(folder, "time.txt")
        status, encrypt_kib = finish(run_measured([cli, "encrypt-file", "--key", KEY, path],
                                                  stats), stats)
        check(status == 0, "encryption failed with status %d" % status)
        padded = (SIZE + 7) // 8 * 8
        check(os.path.getsize(path) == padded, "the encrypted file is not padded")
        check(leftovers(folder) == [], "encryption left a file behind")
        zero_block = subprocess.run([cli, "encrypt-file", "--key", KEY, "-", "-o", "-"],
                                    input=bytes(8), capture_output=True, check=True).stdout
        with open(path, "rb") as f:
            f.seek(2 << 30)             # inside a hole: ECB gives the zero block's cipher
            check(f.read(16) == zero_block * 2, "a hole did not encrypt as zero blocks")
            f.seek(0)
            check(f.read(8) != markers[0][1][:8], "the start was not encrypted")

        child = run_measured([cli, "decrypt-file", "--key", KEY, path, "-o", "-"], stats,
                             stdout=subprocess.PIPE)
        offset = 0
        while True:
            piece = child.stdout.read(CHUNK)
            if not piece:
                break
            if offset + len(piece) <= SIZE:
                expected = expected_piece(markers, offset, len(piece))
            else:   # the padding's zero bytes stay after decryption
                expected = expected_piece(markers, offset, SIZE - offset)
                expected += bytes(offset + len(piece) - SIZE)
            check(piece == expected, "decryption differs near offset %d" % offset)
            offset += len(piece)
        status, decrypt_kib = finish(child, stats)
        check(status == 0, "decryption failed with status %d" % status)
        check(offset == padded, "decryption gave %d bytes, not %d" % (offset, padded))

        print("peak memory: encrypt %.1f MiB, decrypt %.1f MiB (limit %d MiB)" %
              (encrypt_kib / 1024, decrypt_kib / 1024, MEMORY_LIMIT_KIB >> 10))
        check(encrypt_kib < MEMORY_LIMIT_KIB, "encryption used %d KiB" % encrypt_kib)
        check(decrypt_kib < MEMORY_LIMIT_KIB, "decryption used %d KiB" % decrypt_kib)
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
