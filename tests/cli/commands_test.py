#!/usr/bin/env python3
"""The ciphrel tool's commands as a user runs them: the known answers, keys, filters,
files in place and elsewhere, numbers, exit codes and messages.

usage: commands_test.py CIPHREL KNOWN_ANSWERS_TSV
"""
import os
import pty
import select
import stat
import subprocess
import sys
import tempfile
import unittest

CLI = None
ANSWERS = None


def load_answers(path):
    rows = []
    with open(path) as f:
        lines = [line.rstrip("\n") for line in f if not line.startswith("#")]
    columns = lines[0].split("\t")
    for line in lines[1:]:
        row = dict(zip(columns, line.split("\t")))
        for name in ("key_hex", "plain_hex", "cipher_hex", "escaped_hex"):
            row[name[:-4]] = b"" if row[name] in ("", "-") else bytes.fromhex(row[name])
        rows.append(row)
    return rows


def filter_options(settings):
    fields = dict(item.split("=", 1) for item in settings.split(";"))
    options = [] if fields["control"] == "1" else ["--no-control-codes"]
    return options + ["--chars", bytes.fromhex(fields["chars"]),
                      "--codes", fields["codes"].replace(",", " ")]


def run(args, stdin=b""):
    return subprocess.run([CLI] + args, input=stdin, capture_output=True)


def padded(data):
    return data + bytes(-len(data) % 8)


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = self.folder.name

    def tearDown(self):
        self.folder.cleanup()

    def path(self, name, content=None):
        path = os.path.join(self.dir, name)
        if content is not None:
            with open(path, "wb") as f:
                f.write(content)
        return path

    def read(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    def ok(self, args, stdin=b""):
        result = run(args, stdin)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stdout.endswith(b"\n") or result.stdout == b"", result.stdout)
        return result.stdout[:-1] if result.stdout.endswith(b"\n") else result.stdout

    def fails(self, code, args, stdin=b""):
        """Asserts the exit status and one line on standard error; returns that line."""
        result = run(args, stdin)
        self.assertEqual(result.returncode, code, (args, result.stderr))
        self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)
        self.assertTrue(result.stderr.startswith(b"ciphrel: "), result.stderr)
        self.assertEqual(result.stdout, b"")
        return result.stderr.decode(errors="replace")


class KnownAnswers(ToolTest):
    def test_strings_encrypt_to_their_escaped_text_and_back(self):
        for row in (r for r in ANSWERS if r["kind"] == "string"):
            with self.subTest(row["name"]):
                key = ["--key-hex", row["key_hex"]]
                options = filter_options(row["settings"])
                self.assertEqual(self.ok(["encrypt-string"] + key + options + [row["plain"]]),
                                 row["escaped"])
                self.assertEqual(self.ok(["decrypt-string"] + key + [row["escaped"]]),
                                 row["plain"])
                # Standard input, with the line ending that `echo` adds.
                self.assertEqual(self.ok(["encrypt-string"] + key + options + ["-"],
                                         row["plain"] + b"\n"), row["escaped"])
                self.assertEqual(self.ok(["decrypt-string"] + key + ["-"], row["escaped"]),
                                 row["plain"])

    def test_files_encrypt_to_their_bytes_elsewhere_and_in_place(self):
        for row in (r for r in ANSWERS if r["kind"] == "file"):
            with self.subTest(row["name"]):
                options = ["--key-hex", row["key_hex"]]
                if row["settings"] == "no-padding":
                    options.append("--no-padding")
                source = self.path("plain", row["plain"])
                self.ok(["encrypt-file"] + options + [source, "-o", self.path("out")])
                self.assertEqual(self.read("out"), row["cipher"])
                self.ok(["encrypt-file"] + options + [source])
                self.assertEqual(self.read("plain"), row["cipher"])
                self.ok(["decrypt-file"] + options + [source])
                plain = row["plain"] if "--no-padding" in options else padded(row["plain"])
                self.assertEqual(self.read("plain"), plain)

    def test_blocks_are_what_the_integer_commands_give(self):
        def halves(block):
            return [str(int.from_bytes(block[i:i + 4], "little", signed=True)) for i in (0, 4)]
        for row in (r for r in ANSWERS if r["kind"] == "block"):
            with self.subTest(row["name"]):
                key = ["--key-hex", row["key_hex"]]
                out = self.ok(["encrypt-int"] + key + halves(row["plain"]))
                self.assertEqual(out.decode().split(), halves(row["cipher"]))
                out = self.ok(["decrypt-int"] + key + halves(row["cipher"]))
                self.assertEqual(out.decode().split(), halves(row["plain"]))


class Keys(ToolTest):
    def test_every_way_of_giving_a_key_gives_the_same_key(self):
        expected = self.ok(["encrypt-string", "--key", "secret", "same text"])
        for key in (["--key=secret"], ["--key-hex", "736563726574".upper()],
                    ["--key-file", self.path("k1", b"secret\n")],
                    ["--key-file", self.path("k2", b"secret\r\n")]):
            with self.subTest(key):
                self.assertEqual(self.ok(["encrypt-string"] + key + ["same text"]), expected)
        self.assertNotEqual(self.ok(["encrypt-string", "--key", "Secret", "same text"]),
                            expected)

    def test_a_long_key_is_cut_to_56_bytes_with_a_warning(self):
        long_key = bytes(range(1, 61))
        cut = self.ok(["encrypt-string", "--key-hex", long_key[:56].hex(), "text"])
        result = run(["encrypt-string", "--key-hex", long_key.hex(), "text"])
        self.assertEqual((result.returncode, result.stdout[:-1]), (0, cut))
        self.assertIn(b"warning", result.stderr)
        self.assertIn(b"56", result.stderr)
        self.assertEqual(run(["encrypt-string", "--key-hex", long_key[:56].hex(), "t"]).stderr,
                         b"")

    def test_bad_keys_are_usage_errors(self):
        for key in ([], ["--key", "a", "--key-hex", "62"], ["--key-hex", "610062"],
                    ["--key-hex", "abc"], ["--key-hex", "zz"], ["--key"],
                    ["--key-file", self.path("missing")], ["--key-file", self.dir]):
            with self.subTest(key):
                self.fails(64, ["encrypt-string"] + key + ["text"])


class Filters(ToolTest):
    def test_presets_fill_both_lists_and_options_replace_one(self):
        self.assertEqual(self.ok(["filter", "--preset", "internet", "a=1&b\t"]),
                         b"a%3D1%26b%09")
        # --chars replaces the preset's characters, and its codes stay.
        self.assertEqual(self.ok(["filter", "--preset", "internet", "--chars", "b",
                                  "--no-control-codes", "a=1&b\t"]), b"a=1&%62%09")

    def test_bad_filter_settings_are_usage_errors(self):
        for options in (["--preset", "web"], ["--chars", "x" * 25], ["--codes"]):
            with self.subTest(options):
                self.fails(64, ["filter"] + options + ["text"])


class Files(ToolTest):
    def test_failures_give_the_objects_codes_and_leave_the_destination(self):
        kept = self.path("kept", b"destination content")
        self.assertIn("missing", self.fails(6, ["encrypt-file", "--key", "k",
                                                self.path("missing"), "-o", kept]))
        self.fails(6, ["decrypt-file", "--key", "k", self.dir, "-o", kept])
        self.assertEqual(self.read("kept"), b"destination content")
        self.assertEqual(sorted(os.listdir(self.dir)), ["kept"])
        source = self.path("source", b"x" * 100)
        self.fails(7, ["encrypt-file", "--key", "k", source, "-o",
                       os.path.join(self.dir, "no-such-folder", "out")])
        with open("/dev/full", "wb") as full:
            result = subprocess.run([CLI, "encrypt-file", "--key", "k", source, "-o", "-"],
                                    stdout=full, stderr=subprocess.PIPE)
        self.assertEqual(result.returncode, 7, result.stderr)
        self.assertEqual(self.read("source"), b"x" * 100)

    def test_usage_errors(self):
        source = self.path("source", b"data")
        for args in (["encrypt-file", "--key", "k"], ["encrypt-file", "--key", "k", "-"],
                     ["encrypt-file", "--key", "k", source, source],
                     ["encrypt-file", source], ["decrypt-file", "--key", "k", source, "-o"]):
            with self.subTest(args):
                self.fails(64, args)

    def test_in_place_keeps_permissions_links_and_leaves_nothing_behind(self):
        plain = os.urandom(1000)
        target = self.path("target", plain)
        os.chmod(target, 0o640)
        link = os.path.join(self.dir, "link")
        os.symlink("target", link)
        self.ok(["encrypt-file", "--key", "k", link])
        self.assertTrue(os.path.islink(link))
        self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o640)
        self.assertEqual(self.read("target"),
                         run(["encrypt-file", "--key", "k", "-", "-o", "-"], plain).stdout)
        self.assertEqual(sorted(os.listdir(self.dir)), ["link", "target"])
        self.ok(["decrypt-file", "--key", "k", target])
        self.assertEqual(self.read("target"), padded(plain))

    def test_standard_streams_carry_the_same_bytes_as_files(self):
        plain = os.urandom(5000) + b"\r\n\x1a"
        source = self.path("source", plain)
        for padding in ([], ["--no-padding"]):
            with self.subTest(padding):
                self.ok(["encrypt-file", "--key", "k"] + padding + [source, "-o",
                                                                    self.path("out")])
                piped = run(["encrypt-file", "--key", "k"] + padding + ["-", "-o", "-"], plain)
                self.assertEqual(piped.stdout, self.read("out"))
                back = run(["decrypt-file", "--key", "k"] + padding + ["-", "-o", "-"],
                           piped.stdout)
                self.assertEqual(back.stdout, plain if padding else padded(plain))

    def test_progress_is_drawn_on_a_terminal_only(self):
        source = self.path("large", bytes(20 << 20))
        quiet = run(["encrypt-file", "--key", "k", source, "-o", self.path("out")])
        self.assertEqual((quiet.returncode, quiet.stderr), (0, b""))

        controller, terminal = pty.openpty()
        child = subprocess.Popen([CLI, "decrypt-file", "--key", "k", self.path("out")],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=terminal)
        os.close(terminal)
        shown, chunk = b"", b"."
        while chunk:
            self.assertTrue(select.select([controller], [], [], 60)[0], "no output in 60 s")
            try:
                chunk = os.read(controller, 4096)
            except OSError:         # the terminal closes with the tool
                chunk = b""
            shown += chunk
        os.close(controller)
        self.assertEqual(child.wait(), 0)
        self.assertIn(b"100%", shown)
        self.assertIn(b"decrypting", shown)
        self.assertEqual(self.read("out"), bytes(20 << 20))


class Numbers(ToolTest):
    def test_integer_halves_in_any_notation(self):
        expected = self.ok(["encrypt-int", "--key", "k", "-1", "255"])
        for pair in (["4294967295", "0xff"], ["0xFFFFFFFF", "+255"], ["--", "-1", "255"]):
            with self.subTest(pair):
                self.assertEqual(self.ok(["encrypt-int", "--key", "k"] + pair), expected)
        back = self.ok(["decrypt-int", "--key", "k"] + expected.decode().split())
        self.assertEqual(back, b"-1 255")
        for pair in (["4294967296", "0"], ["-2147483649", "0"], ["1"], ["1", "2", "3"],
                     ["1.5", "2"]):
            with self.subTest(pair):
                self.fails(64, ["encrypt-int", "--key", "k"] + pair)

    def test_random_keys(self):
        keys = [bytes.fromhex(self.ok(["random-key", "16"]).decode()) for _ in range(3)]
        self.assertEqual([len(k) for k in keys], [16, 16, 16])
        self.assertEqual(len(set(keys)), 3)
        many = b"".join(bytes.fromhex(self.ok(["random-key"]).decode()) for _ in range(20))
        self.assertEqual(len(many), 20 * 56)
        self.assertNotIn(0, b"".join(keys) + many)
        self.assertEqual(self.ok(["random-key", "0"]), b"")
        long = run(["random-key", "60"])
        self.assertEqual(len(bytes.fromhex(long.stdout.decode())), 56)
        self.assertIn(b"warning", long.stderr)
        self.fails(64, ["random-key", "many"])


class Usage(ToolTest):
    COMMANDS = ["encrypt-string", "decrypt-string", "encrypt-file", "decrypt-file",
                "encrypt-int", "decrypt-int", "to-int", "to-float", "filter", "defilter",
                "random-key"]

    def test_help_for_the_tool_and_every_command(self):
        overview = self.ok(["--help"]).decode()
        for command in self.COMMANDS:
            with self.subTest(command):
                self.assertIn(command, overview)
                text = self.ok([command, "--help"]).decode()
                self.assertTrue(text.startswith("usage: ciphrel " + command), text)
                self.assertIn("Exit status", text)

    def test_mistakes_are_one_line_and_status_64(self):
        self.fails(64, [])
        for args in (["encrypt"], ["encrypt-string", "--key", "k", "--bogus", "x"],
                     ["to-int"], ["to-int", "one"], ["to-float", "1.5"],
                     ["filter", "--no-control-codes=1", "x"], ["defilter", "a", "b"]):
            with self.subTest(args):
                self.fails(64, args)


if __name__ == "__main__":
    CLI = os.path.abspath(sys.argv[1])
    ANSWERS = load_answers(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=1)
