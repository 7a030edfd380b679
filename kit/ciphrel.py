#!/usr/bin/env python3
"""Reads and writes what the Ciphrel Encryption Object reads and writes: escaped strings,
integer blocks and files, in plain Python 3 (no package needed).

    from ciphrel import encrypt_string, decrypt_string, INTERNET
    decrypt_string(b"Level7Key", raw_query_value)          # -> the game's text, bytes
    encrypt_string(b"Level7Key", b"OK", INTERNET)          # -> escaped text for the game

Keys are bytes; like the object, only the first 56 bytes count. Command line:
    python3 ciphrel.py OPERATION KEY_HEX [ARGUMENTS]      (see usage below)
"""
import functools
import sys

MAX_KEY = 56            # the object cuts longer keys to this
UNRESERVED = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~"
# Bytes each filter escapes: a new object's default (codes 0 to 31 and "%"), the setup
# dialog's "Internet" preset, and everything but letters, digits and -._~ (URL-safe).
DEFAULT = frozenset(range(32)) | {0x25}
INTERNET = DEFAULT | frozenset(b"&=,. ?+")
URL_SAFE = frozenset(range(256)) - frozenset(UNRESERVED)


@functools.lru_cache(maxsize=None)
def _pi_words():
    """Blowfish's initial tables: the first 8336 hex digits of pi's fraction, from
    Machin's formula in fixed point (64 guard bits absorb the rounding of each term)."""
    digits, guard = 8336, 64
    one = 1 << (digits * 4 + guard)

    def arctan_inverse(x):
        total = term = one // x
        n, sign = 3, -1
        while term:
            term //= x * x
            total += sign * (term // n)
            n, sign = n + 2, -sign
        return total

    fraction = (16 * arctan_inverse(5) - 4 * arctan_inverse(239) - 3 * one) >> guard
    text = "%0*x" % (digits, fraction)
    return [int(text[i:i + 8], 16) for i in range(0, digits, 8)]


class Blowfish:
    """Blowfish on words; blocks are two little-endian 32-bit halves, as the object has them."""

    def __init__(self, key):
        key = bytes(key[:MAX_KEY]) or b"\0"     # an empty key is one zero byte
        words = _pi_words()
        self.p = words[:18]
        self.s = [words[18 + 256 * i:18 + 256 * (i + 1)] for i in range(4)]
        j = 0
        for i in range(18):
            word = 0
            for _ in range(4):
                word = (word << 8) | key[j]
                j = (j + 1) % len(key)
            self.p[i] ^= word
        left = right = 0
        for table in [self.p] + self.s:
            for i in range(0, len(table), 2):
                left, right = self.encrypt_block(left, right)
                table[i], table[i + 1] = left, right

    def _rounds(self, left, right, order):
        s0, s1, s2, s3 = self.s
        p = self.p
        for i in order[:16]:
            left ^= p[i]
            right ^= ((((s0[left >> 24] + s1[(left >> 16) & 255]) & 0xFFFFFFFF) ^
                       s2[(left >> 8) & 255]) + s3[left & 255]) & 0xFFFFFFFF
            left, right = right, left
        return right ^ p[order[17]], left ^ p[order[16]]     # the last exchange undone

    def encrypt_block(self, left, right):
        return self._rounds(left, right, range(18))

    def decrypt_block(self, left, right):
        return self._rounds(left, right, range(17, -1, -1))

    def transform(self, data, encrypt):
        """Every whole 8-byte block of `data`; a final piece of 1 to 7 bytes stays as it is."""
        run = self.encrypt_block if encrypt else self.decrypt_block
        out = bytearray(data)
        for i in range(0, len(out) - len(out) % 8, 8):
            left, right = run(int.from_bytes(out[i:i + 4], "little"),
                              int.from_bytes(out[i + 4:i + 8], "little"))
            out[i:i + 8] = left.to_bytes(4, "little") + right.to_bytes(4, "little")
        return bytes(out)


@functools.lru_cache(maxsize=64)
def _cipher(key):
    return Blowfish(bytes(key))


def escape(data, escaped=DEFAULT):
    """Each byte of `escaped` (and always the zero byte and "%") as "%" and two digits."""
    escaped = set(escaped) | {0, 0x25}
    return b"".join(b"%%%02X" % b if b in escaped else bytes([b]) for b in data)


def unescape(text):
    """Every "%" and the two characters after it as one byte, as the object decodes."""
    text = bytes(text).split(b"\0")[0]

    def value(i):       # '0'-'9' count 0-9, any other character its code - 55
        c = text[i] if i < len(text) else 0
        return c - 48 if 48 <= c <= 57 else c - 55

    out, i = bytearray(), 0
    while i < len(text):
        if text[i] == 0x25:
            out.append((16 * value(i + 1) + value(i + 2)) & 255)
            i += 3
        else:
            out.append(text[i])
            i += 1
    return bytes(out)


def encrypt_string(key, text, escaped=DEFAULT):
    """The escaped cipher text that "EncryptString$(" gives for `text` (bytes)."""
    text = bytes(text).split(b"\0")[0]
    return escape(_cipher(key).transform(text + bytes(-len(text) % 8), True), escaped)


def decrypt_string(key, text):
    """The text that "DecryptString$(" gives for an escaped cipher text (bytes)."""
    data = unescape(text)
    return _cipher(key).transform(data + bytes(-len(data) % 8), False).split(b"\0")[0]


def _signed(word):
    return word - (1 << 32) if word & 0x80000000 else word


def encrypt_int(key, left, right):
    """Both halves that "EncryptInteger(" gives, as the game's signed integers."""
    return tuple(map(_signed, _cipher(key).encrypt_block(left & 0xFFFFFFFF,
                                                        right & 0xFFFFFFFF)))


def decrypt_int(key, left, right):
    return tuple(map(_signed, _cipher(key).decrypt_block(left & 0xFFFFFFFF,
                                                        right & 0xFFFFFFFF)))


def encrypt_file(key, data, padding=True):
    """A file's bytes as "Encrypt a File" leaves them: padded with zeros to whole blocks,
    or without padding the final piece of 1 to 7 bytes left as it is."""
    data = bytes(data)
    return _cipher(key).transform(data + bytes(-len(data) % 8) if padding else data, True)


def decrypt_file(key, data, padding=True):
    data = bytes(data)
    return _cipher(key).transform(data + bytes(-len(data) % 8) if padding else data, False)


def raw_query_value(query, name):
    """The value of `name` in a query string exactly as sent, not decoded: a framework's
    decoded parameters (request.args, parse_qs) have already turned the object's "%XX"
    escapes into other bytes, or into UTF-8 errors. None when the name is absent."""
    for part in bytes(query).split(b"&"):
        if part.split(b"=", 1)[0] == name:
            return part[len(name) + 1:]
    return None


USAGE = """usage: python3 ciphrel.py OPERATION KEY_HEX [ARGUMENTS]
  encrypt-string KEY_HEX [default|internet|url-safe|CODES_HEX] < text > escaped text
  decrypt-string KEY_HEX < escaped text > text
  encrypt-file KEY_HEX [no-padding] < file > file       (decrypt-file alike)
  encrypt-int KEY_HEX L R                               (decrypt-int alike)
  batch < lines "OPERATION KEY_HEX DATA_HEX [OPTION]" > lines of result hex
KEY_HEX is the key in hexadecimal (spaces and line breaks are ignored; "-" is the empty
key). A text read from standard input loses one final line ending (LF or CR LF). In a
batch, "-" stands for no bytes and an integer block is its 8 bytes."""
FILTERS = {"default": DEFAULT, "internet": INTERNET, "url-safe": URL_SAFE}


def unhex(text):
    return b"" if text == "-" else bytes.fromhex("".join(text.split()))


def run_operation(operation, key, data, option=""):
    """One operation on bytes; the integer operations take and give an 8-byte block."""
    if operation == "encrypt-string":
        escaped = FILTERS.get(option or "default") or frozenset(unhex(option))
        return encrypt_string(key, data, escaped)
    if operation == "decrypt-string":
        return decrypt_string(key, data)
    if operation in ("encrypt-file", "decrypt-file") and option in ("", "no-padding"):
        run = encrypt_file if operation == "encrypt-file" else decrypt_file
        return run(key, data, option != "no-padding")
    if operation in ("encrypt-int", "decrypt-int") and len(data) == 8:
        run = encrypt_int if operation == "encrypt-int" else decrypt_int
        halves = run(key, int.from_bytes(data[:4], "little"), int.from_bytes(data[4:], "little"))
        return b"".join((half & 0xFFFFFFFF).to_bytes(4, "little") for half in halves)
    raise ValueError("unknown operation or option: %s %s" % (operation, option))


def main(args, stdin, stdout):
    try:
        if args == ["batch"]:
            for line in stdin:
                fields = line.decode().split()
                result = run_operation(fields[0], unhex(fields[1]), unhex(fields[2]),
                                       fields[3] if len(fields) > 3 else "")
                stdout.write((result.hex() or "-").encode() + b"\n")
            return 0
        operation, key = args[0], unhex(args[1])
        if operation.endswith("-int"):
            block = b"".join((int(x, 0) & 0xFFFFFFFF).to_bytes(4, "little") for x in args[2:4])
            result = run_operation(operation, key, block)
            halves = [_signed(int.from_bytes(result[i:i + 4], "little")) for i in (0, 4)]
            stdout.write(("%d %d\n" % tuple(halves)).encode())
            return 0
        data = stdin.read()
        if operation.endswith("-string"):
            data = data[:-2] if data.endswith(b"\r\n") else data.removesuffix(b"\n")
        stdout.write(run_operation(operation, key, data, args[2] if len(args) > 2 else ""))
        return 0
    except (IndexError, ValueError) as error:
        reason = "missing arguments" if isinstance(error, IndexError) else error
        sys.stderr.write("ciphrel.py: %s\n%s\n" % (reason, USAGE))
        return 64


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:], sys.stdin.buffer, sys.stdout.buffer))
