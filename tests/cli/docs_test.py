#!/usr/bin/env python3
"""The documentation's promises: the Python and Node.js decryptors in
docs/outside-the-game.md decrypt the known answers and what the ciphrel tool writes, and
stay under 30 lines; the vector table in docs/formats.md matches the data file; the
reference names every condition, action and expression of the resource script.

usage: docs_test.py CIPHREL KNOWN_ANSWERS_TSV SOURCE_DIR
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

CLI = ANSWERS_PATH = SOURCE = None
NODE = ["node", "--openssl-legacy-provider"]


def load_answers():
    with open(ANSWERS_PATH) as f:
        lines = [line.rstrip("\n") for line in f if not line.startswith("#")]
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[1:]]


def unhex(text):
    return b"" if text in ("", "-") else bytes.fromhex(text)


def read_doc(name):
    with open(os.path.join(SOURCE, "docs", name), encoding="utf-8") as f:
        return f.read()


class Decryptors(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        text = read_doc("outside-the-game.md")
        cls.blocks = {language: re.findall(r"```%s\n(.*?)```" % language, text, re.S)
                      for language in ("python", "js")}
        cls.folder = tempfile.TemporaryDirectory()
        cls.programs = {}
        for language, command in (("python", ["/usr/bin/python3"]), ("js", NODE)):
            if len(cls.blocks[language]) != 1:
                continue
            path = os.path.join(cls.folder.name, "decrypt." + language)
            with open(path, "w") as f:
                f.write(cls.blocks[language][0])
            cls.programs[language] = command + [path]

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def decrypt(self, key, kind, data):
        results = {}
        for language, program in self.programs.items():
            run = subprocess.run(program + [key.hex(), kind], input=data, capture_output=True)
            self.assertEqual(run.returncode, 0, (language, run.stderr))
            results[language] = run.stdout
        return results

    def assertDecrypts(self, key, kind, data, plain):
        for language, result in self.decrypt(key, kind, data).items():
            self.assertEqual(result, plain, language)

    def test_one_short_decryptor_in_each_language(self):
        for language in ("python", "js"):
            self.assertEqual(len(self.blocks[language]), 1, language)
            self.assertLess(self.blocks[language][0].count("\n"), 30, language)

    def test_they_decrypt_the_known_answers(self):
        for row in load_answers():
            with self.subTest(row["name"]):
                key, plain = unhex(row["key_hex"]), unhex(row["plain_hex"])
                if row["kind"] == "string":
                    self.assertDecrypts(key, "string", unhex(row["escaped_hex"]) + b"\n", plain)
                else:
                    if row["settings"] != "no-padding":
                        plain += bytes(-len(plain) % 8)
                    self.assertDecrypts(key, "file", unhex(row["cipher_hex"]), plain)

    def test_they_decrypt_what_the_tool_writes(self):
        texts = [b"", b"x", b"12345678", b"123456789", "Grüße, 東京".encode(),
                 b"tab\tline\r\nend", bytes(range(1, 256))]
        filters = [[], ["--no-control-codes"], ["--preset", "internet"],
                   ["--no-control-codes", "--codes", "", "--chars", "%"]]
        keys = [b"k", b"secret", bytes(range(200, 256))]
        cases = [(options, text) for options in filters for text in texts]
        for number, (options, text) in enumerate(cases):   # each case under another key
            key = keys[number % len(keys)]
            with self.subTest(key=key, options=options, text=text):
                escaped = subprocess.run(
                    [CLI, "encrypt-string", "--key-hex", key.hex()] + options + [text],
                    capture_output=True, check=True).stdout
                self.assertDecrypts(key, "string", escaped, text)
        for size in (0, 5, 8, 13, 100003, 1 << 20):
            for padding in ([], ["--no-padding"]):
                with self.subTest(size=size, padding=padding):
                    plain = os.urandom(size)
                    cipher = subprocess.run(
                        [CLI, "encrypt-file", "--key", "save key"] + padding + ["-", "-o", "-"],
                        input=plain, capture_output=True, check=True).stdout
                    expected = plain if padding else plain + bytes(-size % 8)
                    self.assertDecrypts(b"save key", "file", cipher, expected)


class Documents(unittest.TestCase):
    def test_the_vector_table_matches_the_data_file(self):
        rows = {row["name"]: row for row in load_answers()}
        shown = 0
        for line in read_doc("formats.md").splitlines():
            cells = [cell.strip().strip("`") for cell in line.strip().strip("|").split("|")]
            if len(cells) != 6 or cells[0] not in rows:
                continue
            shown += 1
            row = rows[cells[0]]
            self.assertEqual(cells[1:], [row["key_hex"], row["settings"], row["plain_hex"],
                                         row["cipher_hex"], row["escaped_hex"]], cells[0])
        self.assertGreaterEqual(shown, 10)

    def test_the_reference_names_every_condition_action_and_expression(self):
        with open(os.path.join(SOURCE, "resources", "ciphrel.rc")) as f:
            script = f.read()
        names = re.findall(r'MENUITEM "([^"]+)", IDM_[AC]_', script)
        names += re.findall(r'^\s*7\d\d0\s+"([^"]+)"', script, re.M)
        self.assertEqual(len(names), 8 + 15 + 15)
        reference = read_doc("reference.md")
        for name in names:
            self.assertIn('"%s"' % name, reference)


if __name__ == "__main__":
    CLI, ANSWERS_PATH, SOURCE = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
    unittest.main(argv=sys.argv[:1], verbosity=1)
