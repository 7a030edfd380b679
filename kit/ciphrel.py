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
import os
import re
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


# Windows-1252's bytes 0x80 to 0x9F; the five it leaves undefined stand for themselves, as
# Windows converts them.
CP1252_HIGH = ("\u20ac\x81\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152"
               "\x8d\u017d\x8f\x90\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122"
               "\u0161\u203a\u0153\x9d\u017e\u0178")


def key_bytes_from_text(text):
    """The key bytes a key text stands for: its Windows-1252 bytes, the game's own encoding.
    A character Windows-1252 has no byte for is a ValueError naming it."""
    out = bytearray()
    for char in text:
        code = ord(char)
        if code < 0x80 or 0xA0 <= code <= 0xFF:
            out.append(code)
        elif char in CP1252_HIGH:
            out.append(0x80 + CP1252_HIGH.index(char))
        elif 0xDC80 <= code <= 0xDCFF:      # how Python hands over bytes that are not UTF-8
            raise ValueError("the key text is not valid UTF-8; give the key in hexadecimal")
        else:
            raise ValueError("the key text holds %s (U+%04X), which Windows-1252 has no byte "
                             "for; give the key in hexadecimal" % (char, code))
    return bytes(out)


@functools.lru_cache(maxsize=64)
def _cipher(key):
    return Blowfish(key_bytes_from_text(key) if isinstance(key, str) else bytes(key))


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
    """The value of `name` in a query string exactly as sent, as bytes, not decoded: a
    framework's decoded parameters (request.args, parse_qs) have already turned the object's
    "%XX" escapes into other bytes, or into UTF-8 errors. None when the name is absent.
    The query is bytes, or a str as WSGI's QUERY_STRING holds it (one character a byte);
    the name is bytes or str."""
    query = query.encode("latin-1") if isinstance(query, str) else bytes(query)
    name = name.encode() if isinstance(name, str) else bytes(name)
    for part in query.split(b"&"):
        if part.split(b"=", 1)[0] == name:
            return part[len(name) + 1:]
    return None


def _strict_unescape(text, escaped):
    """`text` unescaped if it is escaped text of the filter `escaped` (exactly its bytes
    escaped, in upper-case hex, as the object writes); else None and the reason."""
    data, i = bytearray(), 0
    while i < len(text):
        if text[i] != 0x25:
            if text[i] in escaped:
                return None, "data has byte 0x%02X at offset %d, which the filter escapes" % (
                    text[i], i)
            data.append(text[i])
            i += 1
            continue
        digits = bytes(text[i + 1:i + 3])
        if len(digits) < 2 or digits.strip(b"0123456789ABCDEF") or int(digits, 16) not in escaped:
            return None, "data has an escape at offset %d that the object does not write" % i
        data.append(int(digits, 16))
        i += 3
    return bytes(data), None


def cipher_text_error(text, escaped=URL_SAFE):
    """Why `text` (bytes) cannot be escaped cipher text that the object wrote under the filter
    `escaped`, or None when it can: a character the filter escapes, an escape of a byte it
    leaves as it is (or in lower case), a length that is no whole number of blocks, or text
    URL-encoded again by a client (each "%" sent as "%25"), which then unescapes to escaped
    text of whole blocks. Cipher bytes look like that by chance only with four such escapes
    or more among them, each a "%" and two hex digits: under the URL-safe filter, less than
    once in 10^15 messages."""
    escaped = frozenset(escaped) | {0, 0x25}
    data, reason = _strict_unescape(bytes(text), escaped)
    if reason:
        return reason
    if len(data) % 8:
        return "data is %d bytes once unescaped, not a whole number of 8-byte blocks" % len(data)
    inner, _ = _strict_unescape(data, escaped)
    if 0x25 in data and inner is not None and len(inner) % 8 == 0:
        return "data is URL-encoded twice: send the text exactly as the game wrote it"
    return None


USAGE = """usage: python3 ciphrel.py OPERATION KEY [ARGUMENTS]
  encrypt-string KEY [default|internet|url-safe|CODES_HEX] < text > escaped text
  decrypt-string KEY < escaped text > text
  encrypt-file KEY [no-padding] < file > file           (decrypt-file alike)
  encrypt-int KEY L R                                   (decrypt-int alike)
  batch < lines "OPERATION KEY_HEX DATA_HEX [OPTION]" > lines of result hex
KEY is the key in hexadecimal (spaces and line breaks are ignored; "-" is the empty key),
or --key TEXT: the Windows-1252 bytes of the text, as the game has them. L and R are
32-bit integers, decimal or 0x hexadecimal, with an optional sign. A text read from
standard input loses one final line ending (LF or CR LF). In a batch, blank lines are
skipped, "-" stands for no bytes and an integer block is its 8 bytes."""
FILTERS = {"default": DEFAULT, "internet": INTERNET, "url-safe": URL_SAFE}
INTEGER = re.compile(r"([-+]?)(?:0[xX]([0-9a-fA-F]+)|([0-9]+))")


class UsageError(ValueError):
    pass


def unhex(text):
    hex_digits = "" if text == "-" else "".join(text.split())
    if not re.fullmatch(r"(?:[0-9a-fA-F]{2})*", hex_digits):
        raise UsageError("'%s' is not hexadecimal" % text)
    return bytes.fromhex(hex_digits)


def parse_word(text):
    """A 32-bit integer as the tool reads it: decimal or 0x hexadecimal with an optional
    sign, from -2^31 to 2^32 - 1, as its 32 bits."""
    match = INTEGER.fullmatch(text)
    if not match:
        raise UsageError("'%s' is not an integer" % text)
    value = int(match[2], 16) if match[2] else int(match[3])
    if value > (0x80000000 if match[1] == "-" else 0xFFFFFFFF):
        raise UsageError("%s is outside the 32-bit integers (-2147483648 to 4294967295)" % text)
    return -value & 0xFFFFFFFF if match[1] == "-" else value


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
    raise UsageError("unknown operation or option: %s %s" % (operation, option))


class StreamError(Exception):
    """Input that cannot be read (exit 6) or output that cannot be written (exit 7)."""

    def __init__(self, status, what, error):
        super().__init__("cannot %s: %s" % (what, error.strerror or error))
        self.status = status


def _read(stdin):
    try:
        return stdin.read()
    except OSError as error:
        raise StreamError(6, "read the input", error)


def _write(stdout, data):
    try:
        stdout.write(data)
        stdout.flush()
    except OSError as error:
        raise StreamError(7, "write the output", error)


def _run(args, stdin, stdout):
    if args == ["batch"]:
        results = []
        for line in _read(stdin).splitlines():
            fields = line.decode("latin-1").split()
            if not fields:
                continue
            if len(fields) < 3:
                raise UsageError("short line: %s" % " ".join(fields))
            result = run_operation(fields[0], unhex(fields[1]), unhex(fields[2]),
                                   fields[3] if len(fields) > 3 else "")
            results.append((result.hex() or "-").encode() + b"\n")
        _write(stdout, b"".join(results))
        return
    if len(args) >= 3 and args[1] == "--key":
        operation, key, args = args[0], key_bytes_from_text(args[2]), args[:1] + args[2:]
    elif len(args) >= 2:
        operation, key = args[0], unhex(args[1])
    else:
        raise UsageError("missing arguments")
    if operation.endswith("-int"):
        if len(args) != 4:
            raise UsageError("%s takes two integers, L and R" % operation)
        result = run_operation(operation, key, b"".join(
            parse_word(x).to_bytes(4, "little") for x in args[2:4]))
        halves = [_signed(int.from_bytes(result[i:i + 4], "little")) for i in (0, 4)]
        _write(stdout, ("%d %d\n" % tuple(halves)).encode())
        return
    option = args[2] if len(args) > 2 else ""
    run_operation(operation, key, b"", option)       # a mistake is told before input is read
    data = _read(stdin)
    if operation.endswith("-string"):
        data = data[:-2] if data.endswith(b"\r\n") else data.removesuffix(b"\n")
    _write(stdout, run_operation(operation, key, data, option))


def main(args, stdin, stdout):
    """The command line, with the tool's exit status: 64 for a mistake in the arguments,
    6 input that cannot be read, 7 output that cannot be written; one line tells why."""
    try:
        _run(args, stdin, stdout)
        return 0
    except UsageError as error:
        sys.stderr.write("ciphrel.py: %s\n%s\n" % (error, USAGE))
        return 64
    except ValueError as error:         # a key text that has no Windows-1252 bytes
        sys.stderr.write("ciphrel.py: %s\n" % error)
        return 64
    except StreamError as error:
        sys.stderr.write("ciphrel.py: %s\n" % error)
        return error.status


if __name__ == "__main__":
    status = main(sys.argv[1:], sys.stdin.buffer, sys.stdout.buffer)
    if status == 7:     # what could not be written must not be tried again at exit
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
    sys.exit(status)
