#!/usr/bin/env python3
"""The server kit (kit/) in Python, Node.js and PHP: the known answers, the ciphrel tool's
bytes for seeded random keys of 0 to 60 bytes and texts of 0 to 100 bytes, the command
lines as a user types them, each endpoint over loopback.

usage: kit_test.py CIPHREL KNOWN_ANSWERS_TSV SOURCE_DIR
"""
import http.client
import os
import random
import socket
import subprocess
import sys
import time
import unittest

CLI = SOURCE = KIT = None
ANSWERS = []
LIBRARIES = {"python": ["/usr/bin/python3", "ciphrel.py"], "node": ["node", "ciphrel.js"],
             "php": ["php", "ciphrel.php"]}
SERVERS = {"python": ["/usr/bin/python3", "server_flask.py", "{port}"],
           "node": ["node", "server.js", "{port}"],
           "php": ["php", "-S", "127.0.0.1:{port}", "server.php"]}
# A line of each language that loads the kit as a library and decrypts its argument.
LOADERS = {
    "python": ["/usr/bin/python3", "-c", "import sys, ciphrel; sys.stdout.buffer.write("
               "ciphrel.decrypt_string(b'secret', sys.argv[1].encode()))"],
    "node": ["node", "-e", "process.stdout.write(require('./ciphrel.js').decryptString("
             "Buffer.from('secret'), Buffer.from(process.argv[1])))"],
    "php": ["php", "-r", "require 'ciphrel.php'; echo ciphrel_decrypt_string('secret', $argv[1]);"]}


def tool(args, stdin=b""):
    return subprocess.run([CLI] + args, input=stdin, capture_output=True, check=True).stdout


def known_answer_cases():
    """(operation, key, input, option, expected output), both directions of each row."""
    cases = []
    for row in ANSWERS:
        key, plain, cipher = row["key"], row["plain"], row["cipher"]
        if row["kind"] == "string":
            fields = dict(item.split("=", 1) for item in row["settings"].split(";"))
            codes = set(range(32)) if fields["control"] == "1" else set()
            codes |= set(bytes.fromhex(fields["chars"])) | set(map(int, fields["codes"].split(",")))
            cases += [("encrypt-string", key, plain, bytes(sorted(codes)).hex(), row["escaped"]),
                      ("decrypt-string", key, row["escaped"], "", plain)]
        elif row["kind"] == "block":
            cases += [("encrypt-int", key, plain, "", cipher), ("decrypt-int", key, cipher, "", plain)]
        else:
            option = "no-padding" if row["settings"] == "no-padding" else ""
            cases += [("encrypt-file", key, plain, option, cipher),
                      ("decrypt-file", key, cipher, option, plain if option else padded(plain))]
    return cases


def tool_cases(count=60):
    """Seeded random cases (key lengths 0, 56, 57 and 60 among them) with the tool's answers."""
    rng = random.Random(14)
    draw = lambda n: bytes(rng.randrange(1, 256) for _ in range(n))   # texts hold no zero
    cases = []
    for number in range(count):
        key = draw([0, 56, 57, 60][number] if number < 4 else rng.randrange(61))
        text = draw(rng.randrange(101)).replace(b"\r", b"x")   # read with a line ending
        key_option = ["--key-hex", key.hex()] if key else ["--key", ""]
        preset, name = rng.choice([([], "default"), (["--preset", "internet"], "internet"),
                                   (["--url-safe"], "url-safe")])
        escaped = tool(["encrypt-string"] + key_option + preset + ["-"], text + b"\n")[:-1]
        padding = rng.choice(["", "no-padding"])
        cipher = tool(["encrypt-file"] + key_option + ["--" + padding] * bool(padding) +
                      ["-", "-o", "-"], text)
        block = draw(8)
        out = tool(["encrypt-int"] + key_option + ["--"] + halves(block)).split()
        cases += [("encrypt-string", key, text, name, escaped),
                  ("decrypt-string", key, escaped, "", text),
                  ("encrypt-file", key, text, padding, cipher),
                  ("encrypt-int", key, block, "", b"".join(
                      (int(x) & 0xFFFFFFFF).to_bytes(4, "little") for x in out))]
    return cases


class Kit(unittest.TestCase):
    def run_library(self, language, args, stdin=b""):
        return subprocess.run(LIBRARIES[language] + args, input=stdin, capture_output=True,
                              cwd=KIT, timeout=120)

    def test_every_language_gives_the_known_answers_and_the_tools_bytes(self):
        cases = known_answer_cases() + tool_cases()
        lines = "".join("%s %s %s %s\n" % (operation, key.hex() or "-", data.hex() or "-", option)
                        for operation, key, data, option, _ in cases)
        for language in LIBRARIES:
            result = self.run_library(language, ["batch"], lines.encode())
            self.assertEqual(result.returncode, 0, (language, result.stderr))
            outputs = result.stdout.decode().split()
            self.assertEqual(len(outputs), len(cases), language)
            for case, output in zip(cases, outputs):
                self.assertEqual(b"" if output == "-" else bytes.fromhex(output), case[4],
                                 (language, case[:4]))

    def test_the_command_line_as_a_user_types_it(self):
        key = bytes(range(65, 105))                     # 40 bytes: xxd -p wraps it
        wrapped = subprocess.run(["xxd", "-p"], input=key, capture_output=True).stdout.decode()
        text = "Grüße, 東京".encode()
        escaped = tool(["encrypt-string", "--key-hex", key.hex(), "--preset", "internet", text])
        for language in LIBRARIES:
            with self.subTest(language):
                result = self.run_library(language, ["decrypt-string", wrapped], escaped[:-1] + b"\r\n")
                self.assertEqual((result.returncode, result.stdout), (0, text), result.stderr)
                result = self.run_library(language, ["encrypt-string", wrapped, "internet"], text + b"\n")
                self.assertEqual(result.stdout, escaped[:-1])
                result = self.run_library(language, ["encrypt-int", "6b", "-1", "0xff"])
                self.assertEqual(result.stdout, tool(["encrypt-int", "--key", "k", "--", "-1", "0xff"]))
                for args in ([], ["decrypt-strin", "6b"], ["decrypt-string", "zz"],
                             ["encrypt-int", "6b", "1"], ["encrypt-file", "6b", "pad"]):
                    result = self.run_library(language, args)
                    self.assertEqual(result.returncode, 64, (args, result.stderr))
                    self.assertIn(b"usage:", result.stderr)

    def test_each_library_loads_without_reading_its_input(self):
        escaped = tool(["encrypt-string", "--key", "secret", "--url-safe", "loaded"])[:-1]
        for language, command in LOADERS.items():
            child = subprocess.Popen(command + [escaped], cwd=KIT, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE)
            self.assertEqual(child.communicate(timeout=60)[0], b"loaded", language)

    def test_each_endpoint_reads_the_raw_query_and_answers_for_the_game(self):
        messages = [(b"player=Ann&score=1200", ["--url-safe"]),
                    ("Grüße #1 50%".encode(), ["--preset", "internet", "--add-codes", "35 127-255"])]
        for language, command in SERVERS.items():
            with socket.socket() as probe:          # a free loopback port
                probe.bind(("127.0.0.1", 0))
                port = probe.getsockname()[1]
            server = subprocess.Popen([part.format(port=port) for part in command], cwd=KIT,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                      env=dict(os.environ, CIPHREL_KEY="Level7Key"))
            try:
                for message, options in messages:
                    cipher = tool(["encrypt-string", "--key", "Level7Key"] + options + ["-"], message)
                    status, body = self.get(port, b"/score?x=1&data=" + cipher[:-1])
                    self.assertEqual(status, 200, (language, body))
                    self.assertEqual(tool(["decrypt-string", "--key", "Level7Key", "-"], body),
                                     b"OK " + message + b"\n", language)
                self.assertEqual(self.get(port, b"/score?x=1")[0], 400, language)
            finally:
                server.terminate()
                server.wait(timeout=30)

    def get(self, port, target):
        """A GET of the target's characters exactly as given; (status, body)."""
        for _ in range(150):                        # the server may still be starting
            try:
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                connection.request("GET", target.decode())
                response = connection.getresponse()
                return response.status, response.read()
            except ConnectionRefusedError:
                time.sleep(0.2)
        self.fail("the server did not start")


if __name__ == "__main__":
    CLI, SOURCE = os.path.abspath(sys.argv[1]), sys.argv[3]
    KIT = os.path.join(SOURCE, "kit")
    sys.path.insert(0, os.path.join(SOURCE, "tests", "cli"))
    from commands_test import halves, load_answers, padded     # the same vectors, read once
    ANSWERS = load_answers(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=1)
