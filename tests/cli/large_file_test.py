#!/usr/bin/env python3
"""A 3 GiB sparse file through the ciphrel tool, encrypted in place through a new file and
decrypted back with --overwrite, so that every offset past 2 GiB is right.
usage: large_file_test.py CIPHREL"""
import os
import shutil
import subprocess
import sys
import tempfile

SIZE = (3 << 30) + 3                # not a whole number of blocks: padding adds 5 bytes
KEY = "large file key"


def check(condition, message):
    if not condition:
        sys.exit("FAIL: " + message)


def main():
    cli = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="large_file_test.", dir=os.getcwd())
    try:
        free = shutil.disk_usage(folder).free >> 20
        check(free > (SIZE >> 20) + 1024, "needs 4 GiB of free disk space, has %d MiB" % free)
        path = os.path.join(folder, "large.bin")
        # Holes everywhere but a few random runs, so a wrong offset or a lost piece shows.
        markers = [(0, os.urandom(65536)), ((1 << 30) + 5, os.urandom(4099)),
                   ((2 << 30) + 4093, os.urandom(9000)), (SIZE - 1000, os.urandom(1000))]
        with open(path, "wb") as f:
            f.truncate(SIZE)
            for offset, data in markers:
                f.seek(offset)
                f.write(data)

        result = subprocess.run([cli, "encrypt-file", "--key", KEY, path], stderr=subprocess.PIPE)
        padded = (SIZE + 7) // 8 * 8
        check(result.returncode == 0 and os.path.getsize(path) == padded,
              "encryption failed or did not pad")
        check(b"a game cannot open the result" in result.stderr, "no warning about 2 GiB")
        check(os.listdir(folder) == ["large.bin"], "a file was left behind")
        zero_block = subprocess.run([cli, "encrypt-file", "--key", KEY, "-", "-o", "-"],
                                    input=bytes(8), capture_output=True, check=True).stdout
        with open(path, "rb") as f:
            f.seek(2 << 30)             # inside a hole: ECB gives the zero block's cipher
            check(f.read(16) == zero_block * 2, "a hole did not encrypt as zero blocks")
            f.seek(0)
            check(f.read(8) != markers[0][1][:8], "the start was not encrypted")

        status = subprocess.run([cli, "decrypt-file", "--key", KEY, "--overwrite", path]).returncode
        check(status == 0 and os.path.getsize(path) == padded, "decryption failed")
        with open(path, "rb") as f:
            for offset, data in markers:
                f.seek(offset)
                check(f.read(len(data)) == data, "decryption differs at %d" % offset)
            for offset in (65536, (1 << 30) - 8, (2 << 30) + 4093 + 9000, SIZE):
                f.seek(offset)
                check(f.read(8).strip(b"\0") == b"", "not zero again at %d" % offset)

    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
