#!/usr/bin/env python3
"""The ciphrel tool's commands as a user runs them, natively or under Wine.

usage: commands_test.py --tool "COMMAND PREFIX" --answers KNOWN_ANSWERS_TSV
       (--tool "wine build/module/ciphrel.exe" for the Windows build)"""
import atexit
import fcntl
import os
import pathlib
import pty
import re
import resource
import select
import shlex
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

TOOL = []
WINE = False
ANSWERS = []


def load_answers(path):
    with open(path) as f:
        lines = [line.rstrip("\n") for line in f if not line.startswith("#")]
    columns = lines[0].split("\t")
    rows = [dict(zip(columns, line.split("\t"))) for line in lines[1:]]
    for row in rows:
        for name in ("key_hex", "plain_hex", "cipher_hex", "escaped_hex"):
            row[name[:-4]] = b"" if row[name] in ("", "-") else bytes.fromhex(row[name])
    return rows


def filter_options(settings):
    fields = dict(item.split("=", 1) for item in settings.split(";"))
    options = [] if fields["control"] == "1" else ["--no-control-codes"]
    return options + ["--chars", bytes.fromhex(fields["chars"]),
                      "--codes", fields["codes"].replace(",", " ")]


def padded(data):
    return data + bytes(-len(data) % 8)


def halves(block):
    return [str(int.from_bytes(block[i:i + 4], "little", signed=True)) for i in (0, 4)]


class ToolTest(unittest.TestCase):
    """Runs the tool in a fresh folder, with paths relative to it (Wine maps them too)."""

    def setUp(self):
        self.dir = self.enterContext(tempfile.TemporaryDirectory())

    def run_tool(self, args, stdin=b"", stdout=subprocess.PIPE):
        # Bounded: a tool that opened a pipe or a device would wait on it for ever.
        return subprocess.run(TOOL + args, input=stdin, cwd=self.dir, stdout=stdout,
                              stderr=subprocess.PIPE, timeout=60)

    def write(self, name, content):
        pathlib.Path(self.dir, name).write_bytes(content)
        return name

    def read(self, name):
        return pathlib.Path(self.dir, name).read_bytes()

    def ok(self, args, stdin=b"", warning=None):
        """Runs a command that must succeed; returns its output without the line ending."""
        result = self.run_tool(args, stdin)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr.decode(), r"\A\Z" if warning is None
                         else "^ciphrel: warning: .*" + re.escape(warning))
        return result.stdout[:-1] if result.stdout.endswith(b"\n") else result.stdout

    def fails(self, code, args, stdin=b"", says=""):
        """Asserts the exit status, one line on standard error that says `says`, no output."""
        result = self.run_tool(args, stdin)
        message = result.stderr.decode(errors="replace")
        self.assertEqual(result.returncode, code, (args, message))
        self.assertRegex(message, "^ciphrel: [^\n]*" + re.escape(says) + "[^\n]*\n$")
        self.assertEqual(result.stdout, b"")

    def posix_only(self):
        if WINE:
            self.skipTest("a POSIX case (owners, terminals, /dev/full) Wine lacks")

    def text(self, data):
        """TEXT and standard input; Windows passes arguments through a code page."""
        return (["-"], data + b"\n") if WINE and max(data, default=0) > 127 else ([data], b"")

    def names(self):
        return sorted(os.listdir(self.dir))

    def path(self, name):
        return os.path.join(self.dir, name)


# Under Wine only the platform layer differs from the native tool, and each Wine start is slow
# (minutes in the guest): there a few rows of each kind stand for all, high bytes included.
WINE_ROWS = {"string-fox-default", "string-utf8", "string-high-byte-key", "block-published",
             "file-13-bytes-padded", "file-13-bytes-unpadded"}


class KnownAnswers(ToolTest):
    def test_strings_files_and_blocks_give_the_known_answers(self):
        rows = [r for r in ANSWERS if not WINE or r["name"] in WINE_ROWS]
        self.assertEqual(len(rows), len(WINE_ROWS) if WINE else len(ANSWERS))
        for row in rows:
            key = ["--key-hex", row["key_hex"]]
            empty = "the key is empty" if row["key_hex"] in ("", "-") else None
            if row["kind"] == "string":
                encrypt = ["encrypt-string"] + key + filter_options(row["settings"])
                for args, (text, stdin), expected in (
                        (encrypt, self.text(row["plain"]), row["escaped"]),
                        (["decrypt-string"] + key, self.text(row["escaped"]), row["plain"]),
                        (encrypt, (["-"], row["plain"] + b"\r\n"), row["escaped"])):  # as echo adds
                    self.assertEqual(self.ok(args + text, stdin, warning=empty), expected, row["name"])
            elif row["kind"] == "block":
                for command, given, expected in (("encrypt-int", "plain", "cipher"),
                                                 ("decrypt-int", "cipher", "plain")):
                    out = self.ok([command] + key + halves(row[given])).decode().split()
                    self.assertEqual(out, halves(row[expected]), row["name"])
            else:
                options = key + ["--no-padding"] * (row["settings"] == "no-padding")
                self.write("plain", row["plain"])
                for command, target, expected in (
                        ("encrypt-file", ["-o", "out"], row["cipher"]),
                        ("encrypt-file", [], row["cipher"]),
                        ("decrypt-file", ["--overwrite"], row["plain"] if len(options) > 2
                         else padded(row["plain"]))):
                    self.run_tool([command] + options + ["plain"] + target)
                    self.assertEqual(self.read(target[1] if target[:1] == ["-o"] else "plain"),
                                     expected, row["name"])


class Keys(ToolTest):
    def test_every_way_of_giving_a_key_gives_the_same_key(self):
        long_key = bytes(range(1, 61))
        high = "".join(bytes([b]).decode("cp1252", "ignore") or chr(b) for b in range(0x80, 0xA0))
        self.write("k1", b"secret\n"), self.write("k2", b"secret\r\n")
        for same, warning, keys in (
                (["--key", "secret"], None, [["--key=secret"], ["--key-file", "k1"],
                                             ["--key-file", "k2"], ["--key-hex", "736563726574"]]),
                (["--key-hex", long_key[:56].hex()], "the key is",   # the object uses 56 bytes
                 [["--key-hex", long_key[:57].hex()], ["--key-hex", long_key.hex().upper()]]),
                # A key text stands for its Windows-1252 bytes, the five undefined ones included.
                (["--key-hex", "e9" + bytes(range(0x80, 0xA0)).hex() + "61ff"], None,
                 [["--key", "é" + high + "aÿ"]])):
            expected = self.ok(["encrypt-string"] + same + ["text"])
            for key in keys:
                self.assertEqual(self.ok(["encrypt-string"] + key + ["text"], warning=warning),
                                 expected)
        self.ok(["encrypt-string", "--key", "", "text"], warning="the key is empty")

    def test_key_mistakes_are_named(self):
        self.write("long", b"k" * 5000)
        for key, says in (([], "a key is needed"), (["--key", "a", "--key", "b"], "given twice"),
                          (["--key", "a", "--key-hex", "62"], "only one"), (["--key"], "a value"),
                          (["--key-hex", "zz"], "not hexadecimal"), (["--key-hex", "abc"], "odd"),
                          (["--key-hex", "610062"], "zero byte"), (["--key-file", "no"], "cannot"),
                          (["--key-file", "long"], "longer than 4096"),
                          (["--key", "Ω"], "'Ω' (U+03A9)"), (["--key", "字"], "U+5B57"),
                          (["--key", "😀"], "U+1F600"), (["--key", "\u0080"], "U+0080")) + (
                             ((["--key", b"\xe9"], "not UTF-8"),) * (not WINE)):
            self.fails(64, ["encrypt-string", "text"] + key, says=says)
        self.fails(64, ["encrypt-string", "dragon", "hello"], says="--key 'dragon'")
        self.fails(64, ["encrypt-file", "save.dat"], says="a key is needed")


class Filters(ToolTest):
    def test_options_add_to_a_preset_and_url_safe_text_is_letters_digits_and_escapes(self):
        for options, text, escaped in (
                (["--preset", "internet"], "a=1&b\t#", "a%3D1%26b%09#"),
                (["--preset", "internet", "--chars", "#"], "a=1&b#", "a%3D1%26b%23"),
                (["--codes", "9"], "\t\n", "%09%0A"),            # control codes on
                (["--no-control-codes", "--codes", "9"], "\t\n", "%09\n"),
                (["--add-codes", "35 160-200", "--add-chars", "b"], "#bé", "%23%62%C3%A9"),
                (["--url-safe"], "aZ09-._~ #/é", "aZ09-._~%20%23%2F%C3%A9")):
            text, stdin = self.text(text.encode())
            self.assertEqual(self.ok(["filter"] + options + text, stdin).decode(), escaped)

        text, stdin = self.text(bytes(range(1, 256)))
        escaped = self.ok(["encrypt-string", "--key", "k", "--url-safe"] + text, stdin)
        self.assertRegex(escaped.decode("latin-1"), r"^([A-Za-z0-9._~-]|%[0-9A-F]{2})+$")
        self.assertEqual(self.ok(["decrypt-string", "--key", "k", escaped]), bytes(range(1, 256)))

        for options, says in ((["--preset", "web"], "default or internet"),
                              (["--codes", "abc"], "not a list"), (["--codes", "256"], "not a list"),
                              (["--codes", " ".join(map(str, range(128, 154)))], "--add-codes"),
                              (["--chars", "x" * 25], "--add-chars"), (["--add-codes", "9-3"], "range")):
            self.fails(64, ["filter"] + options + ["text"], says=says)


class Files(ToolTest):
    def test_failures_give_the_objects_codes_and_leave_no_file(self):
        self.write("kept", b"destination content"), self.write("source", b"x" * 100)
        os.mkdir(self.path("folder"))
        specials = ["NUL"] if WINE else ["fifo", "null"]    # each must stay what it is
        if not WINE:
            os.mkfifo(self.path("fifo"))
            os.mknod(self.path("null"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        for code, args, says in ((6, ["missing", "-o", "kept"], "missing"),
                                 (6, ["folder", "-o", "kept"], "not a regular file"),
                                 (6, ["folder"], "-r works on the files in it"),
                                 (7, ["source", "-o", "no-such-folder/out"], "no-such-folder"),
                                 (64, ["-", "-o", "folder"], "needs -o naming a file"),
                                 (64, ["source", "kept", "-o", "new"], "names a folder"),
                                 (64, ["source", "--weird"], "-- --weird"), (64, ["-"], "needs -o"),
                                 (64, ["source", "-o", "x", "--overwrite"], "without -o")) + tuple(
                row for name in specials for row in ((6, [name], "not a regular file"),
                                                     (7, ["source", "-o", name], "regular file"))):
            self.fails(code, ["encrypt-file", "--key", "k"] + args, says=says)
        self.assertEqual((self.read("kept"), self.read("source"), self.names()),
                         (b"destination content", b"x" * 100,
                          sorted(["folder", "kept", "source"] + ([] if WINE else specials))))
        if not WINE:
            self.assertTrue(stat.S_ISFIFO(os.stat(self.path("fifo")).st_mode)
                            and stat.S_ISCHR(os.stat(self.path("null")).st_mode))

    def test_streams_files_and_overwriting_give_the_same_bytes_and_warn_of_surprises(self):
        plain = os.urandom(5000) + b"\r\n\x1a"
        for padding in ([], ["--no-padding"]):
            command = ["encrypt-file", "--key", "k"] + padding
            self.write("source", plain)
            self.ok(command + ["source", "-o", "out"])
            self.assertEqual(self.run_tool(command + ["-", "-o", "-"], plain).stdout,
                             self.read("out"))
            self.ok(command + ["source", "--overwrite"])
            self.assertEqual(self.read("source"), self.read("out"))
            self.ok(["decrypt-file", "--key", "k"] + padding + ["out"])
            self.assertEqual(self.read("out"), plain if padding else padded(plain))
        self.assertEqual(self.names(), ["out", "source"])
        self.write("seven", b"1234567")
        self.ok(["encrypt-file", "--key", "k", "--no-padding", "seven"],
                warning="nothing was encrypted")
        self.assertEqual(self.read("seven"), b"1234567")
        self.write("thirteen", b"1234567890123")
        self.ok(["encrypt-file", "--key", "k", "--no-padding", "thirteen"])
        self.ok(["decrypt-file", "--key", "k", "thirteen", "-o", "-"],
                warning="'thirteen' is 13 bytes long, not a multiple of 8")

    def test_many_files_with_accents_each_done_or_failed_with_one_summary(self):
        os.makedirs(self.path("jeu é/monde 2")), os.mkdir(self.path("livré"))
        plain = {"-weird.dat": b"a" * 10, "jeu é/un été.dat": b"b" * 16,
                 "jeu é/monde 2/deux": b"c", "jeu é/trois.dat": b"d" * 8}
        for name, data in plain.items():
            self.write(name, data)
        cipher = {name: self.run_tool(["encrypt-file", "--key", "k", "-", "-o", "-"], data).stdout
                  for name, data in plain.items()}
        # A walked folder into a folder: each result keeps its path inside the walked one.
        self.assertEqual(self.ok(["encrypt-file", "--key", "k", "-r", "jeu é", "-o", "livré"]),
                         b"3 files encrypted")
        for name in ("un été.dat", "trois.dat", "monde 2/deux"):
            self.assertEqual(self.read("livré/" + name), cipher["jeu é/" + name])
        # In place: a missing file fails, the others are done, a file given twice once.
        result = self.run_tool(["encrypt-file", "--key", "k", "-weird.dat", "jeu é/manquée.sav",
                                "jeu é/un été.dat", "./-weird.dat"])
        self.assertEqual((result.returncode, result.stdout),
                         (6, b"2 files encrypted, 1 skipped, 1 failed\n"), result.stderr)
        self.assertIn("'jeu é/manquée.sav'".encode(), result.stderr)
        for name in ("-weird.dat", "jeu é/un été.dat"):
            self.assertEqual(self.read(name), cipher[name])
        self.ok(["decrypt-file", "--key", "k", "jeu é/un été.dat", "-o", "jeu é/clair é.txt"])
        self.assertEqual(self.read("jeu é/clair é.txt"), plain["jeu é/un été.dat"])
        if WINE:    # Windows' shells leave patterns to the program
            self.assertEqual(self.ok(["decrypt-file", "--key", "k", "jeu é/*.dat"]),
                             b"2 files decrypted")
            self.assertEqual(self.read("jeu é/un été.dat"), plain["jeu é/un été.dat"])

    def test_in_place_keeps_rights_links_and_owner_and_refuses_read_only(self):
        self.posix_only()
        plain = os.urandom(1000)
        target, hard = self.path(self.write("target", plain)), self.path("hard")
        os.chmod(target, 0o640), os.chown(target, 1234, 5678)
        os.symlink("target", self.path("link"))
        self.ok(["encrypt-file", "--key", "k", "link"])
        status = os.lstat(target)
        self.assertEqual((stat.S_IMODE(status.st_mode), status.st_uid, status.st_gid,
                          os.path.islink(self.path("link"))), (0o640, 1234, 5678, True))
        os.link(target, hard)
        # Both names in one run with --overwrite: the file is encrypted once.
        for command, args, warning in (
                ("decrypt", ["hard", "--overwrite"], None),
                ("encrypt", ["--overwrite", "target", "hard"], "done already"),
                ("decrypt", ["hard", "--overwrite"], None),
                ("encrypt", ["hard"], "other names (hard links)"),
                ("encrypt", ["target", "-o", "hard"], "another name (a hard link) of 'target'")):
            os.remove(hard), os.link(target, hard)
            out = self.ok([command + "-file", "--key", "k"] + args, warning=warning)
            if args[0] == "--overwrite":
                self.assertEqual(out, b"1 file encrypted, 1 skipped")
            else:
                self.assertEqual(self.read("target"), padded(plain))
        os.chmod(target, 0o444)
        self.fails(6, ["encrypt-file", "--key", "k", "target"], says="for writing")
        self.fails(7, ["encrypt-file", "--key", "k", "hard", "-o", "target"], says="read-only")
        self.assertEqual(self.read("target"), padded(plain))
        self.assertEqual(self.names(), ["hard", "link", "target"])

    def test_endless_input_full_disks_and_little_memory_give_their_codes(self):
        self.posix_only()
        self.fails(64, ["encrypt-string", "--key-file", "/dev/urandom", "x"], says="4096")
        for args in (["random-key"], ["encrypt-string", "--key", "k", "x"], ["--help"],
                     ["encrypt-file", "--key", "k", "-", "-o", "-"]):
            with open("/dev/full", "wb") as full:
                result = self.run_tool(args, b"x" * 100, stdout=full)
                self.assertEqual(result.returncode, 7, (args, result.stderr))
        limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (64 << 20, 64 << 20))
        result = subprocess.run(TOOL + ["encrypt-string", "--key", "k", "-"], input=b"a" * (100 << 20),
                                capture_output=True, preexec_fn=limit)
        if b"AddressSanitizer" in result.stderr:
            self.skipTest("AddressSanitizer needs more address space than the limit")
        self.assertEqual((result.returncode, result.stderr), (71, b"ciphrel: out of memory\n"))

    def test_an_interrupted_or_killed_run_leaves_no_file(self):
        # Windows (Wine turns SIGINT into Ctrl+C) removes its named new file on Ctrl+C, and
        # after a hard kill the next run on that file does; Linux leaves none on any signal.
        self.write("out", b"old")
        for number in (signal.SIGINT, signal.SIGKILL) if WINE else (
                signal.SIGKILL, signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            child = subprocess.Popen(TOOL + ["encrypt-file", "--key", "k", "-", "-o", "out"],
                                     stdin=subprocess.PIPE, cwd=self.dir)
            child.stdin.write(os.urandom(3 << 20))      # more than one chunk is written
            child.stdin.flush()
            started = time.monotonic()
            while WINE and len(self.names()) < 2 and time.monotonic() - started < 60:
                time.sleep(0.1)
            time.sleep(0.3)
            child.send_signal(number)
            self.assertEqual(child.wait(), 58 if WINE and number == signal.SIGINT else -number)
            child.stdin.close()
            if WINE and number == signal.SIGKILL:
                self.assertEqual(len(self.names()), 2)
                self.ok(["encrypt-file", "--key", "k", "out"], warning="left by an earlier run")
                self.assertEqual(self.names(), ["out"])
            else:
                self.assertEqual((self.names(), self.read("out")), (["out"], b"old"))
        if not WINE:    # a file left by a killed run goes; one that a running run locks stays
            self.write(".out.ciphrel-123-0", b"left")
            with open(self.path(".out.ciphrel-999-1"), "wb") as live:
                fcntl.flock(live, fcntl.LOCK_EX)
                self.ok(["encrypt-file", "--key", "k", "out"], warning="'.out.ciphrel-123-0'")
            self.assertEqual(self.names(), [".out.ciphrel-999-1", "out"])

    def test_progress_fits_the_terminal_and_ends_before_a_message(self):
        self.posix_only()
        for columns in (40, 20, 4):         # the bar, "decrypting 100%", nothing
            name = self.write("a-rather-long-file-name-for-the-bar.bin", bytes((20 << 20) + 3))
            controller, terminal = pty.openpty()
            subprocess.run(["stty", "cols", str(columns)], stdin=terminal, check=True)
            child = subprocess.Popen(TOOL + ["decrypt-file", "--key", "k", name], cwd=self.dir,
                                     stdout=subprocess.DEVNULL, stderr=terminal)
            os.close(terminal)
            shown, chunk = b"", b"."
            while chunk and select.select([controller], [], [], 60)[0]:
                try:
                    chunk = os.read(controller, 4096)
                except OSError:             # the terminal closes with the tool
                    chunk = b""
                shown += chunk
            self.assertEqual(child.wait(), 0)
            os.close(controller)
            lines = shown.replace(b"\r\n", b"\n").split(b"\n")
            bars = [part for line in lines for part in line.split(b"\r") if part][:-1]
            self.assertEqual([bar.split()[-1] for bar in bars[-1:]], [b"100%"][:columns > 4], bars)
            self.assertTrue(all(len(bar) < columns for bar in bars), bars)
            self.assertTrue(lines[-2].startswith(b"ciphrel: warning"), lines[-3:])


class Texts(ToolTest):
    def test_cipher_texts_come_back_whatever_their_first_and_last_bytes(self):
        # p112's cipher text begins with '-'; p322's ends in CR where CR is not escaped.
        for key, text, options, first, last in (
                ("Level7Key", b"p112", ["--url-safe"], b"-", b"E"),
                ("k", b"p322", ["--no-control-codes", "--codes", ""], b"\x0f", b"\r"),
                ("k", b"-hello", [], b"n", b"\xee")):
            line = self.run_tool(["encrypt-string", "--key", key] + options + ["--", text]).stdout
            self.assertEqual((line[:1], line.rstrip(b"\n")[-1:]), (first, last))
            back = self.run_tool(["decrypt-string", "--key", key, "-"], line).stdout
            self.assertEqual(back, text + b"\n")
            cipher = line[:-2] if line.endswith(b"\r\r\n") else line[:-1]
            for separator in ([], ["--"]) * (not WINE or max(cipher) < 128):
                self.assertEqual(self.ok(["decrypt-string", "--key", key] + separator + [cipher]),
                                 text)
        self.fails(64, ["decrypt-string", "--key", "k", "--%41"], says="-- --%41")


class NumbersAndUsage(ToolTest):
    def test_numbers_random_keys_version_and_mistakes(self):
        expected = self.ok(["encrypt-int", "--key", "k", "-1", "255"])
        for pair in (["4294967295", "0xff"], ["0xFFFFFFFF", "+255"], ["--", "-1", "255"]):
            self.assertEqual(self.ok(["encrypt-int", "--key", "k"] + pair), expected)
        self.assertEqual(self.ok(["decrypt-int", "--key", "k"] + expected.decode().split()),
                         b"-1 255")
        self.assertEqual(self.ok(["to-int", "2.5"]), b"1075838976")
        self.assertEqual(self.ok(["to-float", "1075838976"]), b"2.5")
        for args in (["4294967296", "0"], ["-2147483649", "0"], ["1"], ["1", "2", "3"]):
            self.fails(64, ["encrypt-int", "--key", "k"] + args)
        for bits in ("-1", "2143289344", "2139095041", "-8388608", "-2147483648", "1"):
            self.assertEqual(self.ok(["to-int", self.ok(["to-float", bits])]), bits.encode())
        self.assertEqual(self.ok(["to-float", "-1"]), b"-nan(0x7fffff)")
        for args in ([], ["encrypt"], ["to-int", "one"], ["filter", "--no-control-codes=1", "x"],
                     ["defilter", "a", "b"], ["filter", "--bogus", "x"], ["random-key", "-1"],
                     ["random-key", "0"], ["to-int", "nan(0x800000)"]):
            self.fails(64, args)
        self.assertRegex(self.ok(["--version"]).decode(), r"^ciphrel \d+\.\d+\.\d+$")
        keys = [bytes.fromhex(self.ok(["random-key", "16"]).decode()) for _ in range(3)]
        self.assertEqual(([len(k) for k in keys], len(set(keys))), ([16, 16, 16], 3))
        many = bytes.fromhex(self.ok(["random-key", "60"], warning="at most 56").decode())
        self.assertEqual((len(many), 0 in b"".join(keys) + many), (56, False))

    def test_the_windows_build_imports_only_system_dlls(self):
        if not WINE:
            self.skipTest("the Windows build's case")
        import pefile
        imports = pefile.PE(TOOL[-1]).DIRECTORY_ENTRY_IMPORT
        self.assertEqual({entry.dll.decode().lower() for entry in imports}, {"kernel32.dll", "msvcrt.dll"})


if __name__ == "__main__":
    options = dict(zip(sys.argv[1::2], sys.argv[2::2]))     # --tool ... --answers ...
    TOOL = shlex.split(options["--tool"])
    TOOL[-1] = os.path.abspath(TOOL[-1])
    WINE = os.path.basename(TOOL[0]).startswith("wine")
    ANSWERS = load_answers(options["--answers"])
    if WINE:
        # Wine reads the command line and writes messages in the locale's character set.
        os.environ["LC_ALL"] = "C.UTF-8"
        # One server and its services for every run, started with no pipe of ours open:
        # a service that holds a captured output open would make each run wait for it.
        subprocess.run(["wineserver", "-p"])
        atexit.register(subprocess.run, ["wineserver", "-k"])
        subprocess.run(TOOL + ["--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    unittest.main(argv=["commands_test.py"], verbosity=1)
