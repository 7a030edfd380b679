#!/usr/bin/env python3
"""Writes data/known_answers.tsv from the cases below, with every answer computed by the
built ciphrel tool (the engine's code). The native tests check each answer against
OpenSSL's Blowfish, and the module tests against the object's routines, so a wrong answer
here cannot go unnoticed.

usage: scripts/make_known_answers.py CIPHREL > data/known_answers.tsv
"""
import os
import subprocess
import sys
import tempfile

DEFAULT = "control=1;chars=;codes=10,12,13"
NO_CONTROL = "control=0;chars=;codes=10,12,13"
INTERNET = "control=1;chars=" + b"&=,. ?+".hex() + ";codes=9,10,12,13"
CUSTOM = "control=0;chars=" + b"eo".hex() + ";codes=32,128,255"

FOX = b"The quick brown fox jumps over the lazy dog"
SENTENCE = "Grüße aus Zürich, 東京 und Καλημέρα".encode()

# kind, name, key bytes, settings, plain bytes
CASES = [
    ("block", "block-zero", b"secret", "-", bytes(8)),
    ("block", "block-ones", b"secret", "-", b"\xff" * 8),
    ("block", "block-published", bytes.fromhex("fedcba9876543210"), "-",
     bytes.fromhex("67452301efcdab89")),
    ("block", "block-one-byte-key", b"k", "-", bytes.fromhex("0100000002000000")),
    ("string", "string-empty", b"secret", DEFAULT, b""),
    ("string", "string-one-byte", b"secret", DEFAULT, b"A"),
    ("string", "string-seven-bytes", b"secret", DEFAULT, b"1234567"),
    ("string", "string-eight-bytes", b"secret", DEFAULT, b"12345678"),
    ("string", "string-nine-bytes", b"secret", DEFAULT, b"123456789"),
    ("string", "string-utf8", b"secret", DEFAULT, SENTENCE),
    ("string", "string-control-codes", b"secret", DEFAULT, b"line one\r\nline two\ttab"),
    ("string", "string-fox-default", b"secret", DEFAULT, FOX),
    ("string", "string-fox-no-control", b"secret", NO_CONTROL, FOX),
    ("string", "string-fox-internet", b"secret", INTERNET, FOX),
    ("string", "string-fox-custom", b"secret", CUSTOM, FOX),
    ("string", "string-score-internet", b"Level7Key", INTERNET,
     b"player=Ann&score=1200&level=7"),
    ("string", "string-empty-key", b"", DEFAULT, b"empty key"),
    ("string", "string-one-byte-key", b"k", DEFAULT, b"a one-byte key"),
    ("string", "string-high-byte-key", bytes(range(0x80, 0x90)), DEFAULT, b"key bytes >= 128"),
    ("string", "string-longest-key", bytes(range(1, 57)), NO_CONTROL, b"a 56-byte key"),
    ("file", "file-empty", b"secret", "padding", b""),
    ("file", "file-13-bytes-padded", b"secret", "padding", b"thirteen byte"),
    ("file", "file-13-bytes-unpadded", b"secret", "no-padding", b"thirteen byte"),
    ("file", "file-5-bytes-unpadded", b"secret", "no-padding", b"five!"),
    ("file", "file-16-bytes", b"save-key", "padding", b"level=3;gold=250"),
    ("file", "file-zeros", b"save-key", "padding", bytes(24)),
]


def run(cli, args):
    # Texts go as bytes, so that the tool sees exactly the plain bytes.
    return subprocess.run([cli] + args, check=True, capture_output=True).stdout


def key_args(key):
    return ["--key-hex", key.hex()]


def filter_args(settings):
    fields = dict(item.split("=", 1) for item in settings.split(";"))
    args = [] if fields["control"] == "1" else ["--no-control-codes"]
    args += ["--chars", bytes.fromhex(fields["chars"])]
    return args + ["--codes", fields["codes"].replace(",", " ")]


def encrypt_bytes(cli, key, plain, padding):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "plain")
        with open(path, "wb") as f:
            f.write(plain)
        extra = [] if padding else ["--no-padding"]
        return run(cli, ["encrypt-file"] + key_args(key) + extra + [path, "-o", "-"])


def main():
    cli = sys.argv[1]
    print("# Known-answer vectors of the Ciphrel object, shared by the native tests, the")
    print("# tool's tests and the server kit in kit/ (see docs/formats.md).")
    print("# Each row: kind, name, key (hex), settings, plain bytes (hex), cipher bytes (hex),")
    print("# escaped cipher text (hex of its characters; strings only).")
    print("kind\tname\tkey_hex\tsettings\tplain_hex\tcipher_hex\tescaped_hex")
    for kind, name, key, settings, plain in CASES:
        escaped = "-"
        if kind == "string":
            cipher = encrypt_bytes(cli, key, plain, True)
            text = run(cli, ["encrypt-string"] + key_args(key) + filter_args(settings) +
                       [plain])
            escaped = text.rstrip(b"\n").hex()
        else:
            cipher = encrypt_bytes(cli, key, plain, settings != "no-padding")
        print("\t".join([kind, name, key.hex(), settings, plain.hex(), cipher.hex(), escaped]))


if __name__ == "__main__":
    main()
