#!/usr/bin/env python3
"""The server kit (kit/) in Python, Node.js and PHP: the known answers, the ciphrel tool's
bytes for seeded random keys of 0 to 60 bytes and texts of 0 to 100 bytes, the command
lines as a user types them, each endpoint over loopback.

usage: kit_test.py CIPHREL KNOWN_ANSWERS_TSV SOURCE_DIR
"""
import itertools
import os
import random
import socket
import subprocess
import sys
import time
import unittest
import urllib.parse

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


# A key text with a character of each kind: ASCII, Latin-1, Windows-1252's 0x80 to 0x9F
# (the euro sign among them) and the five code points it leaves undefined.
KEY_TEXT = "Clé Prix€\x81\x8d\x8f\x90\x9dŒŸž‰ÿ"
KEY_BYTES = "436ce9205072697880818d8f909d8c9f9e89ff"


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
        key_option = ["--key-hex", key.hex()]
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
    def run_library(self, language, args, stdin=b"", stdout=subprocess.PIPE):
        return subprocess.run(LIBRARIES[language] + args, input=stdin, stdout=stdout,
                              stderr=subprocess.PIPE, cwd=KIT, timeout=120)

    def test_every_language_gives_the_known_answers_and_the_tools_bytes(self):
        cases = known_answer_cases() + tool_cases()
        lines = "\n \t\r\n".join(    # blank lines between the cases are skipped
            "%s %s %s %s" % (operation, key.hex() or "-", data.hex() or "-", option)
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
                for args in ([], ["decrypt-strin", "6b"], ["decrypt-string", "zz"],
                             ["encrypt-int", "6b", "1"], ["encrypt-file", "6b", "pad"],
                             ["batch"]):
                    result = self.run_library(language, args, b"encrypt-int 6b\n")
                    self.assertEqual((result.returncode, b"usage:" in result.stderr), (64, True),
                                     (args, result.stderr))

    def test_integers_and_key_texts_are_read_as_the_tool_reads_them(self):
        cases = [(["--key", "k", "--"], ["6b"], pair) for pair in (
            ["-1", "0xff"], ["-0x10", "010"], ["-2147483648", "4294967295"],
            ["+0XfFfFfFfF", "00000000000007"], ["4294967296", "0"], ["0", "-2147483649"],
            ["0x100000000", "0"], ["0x", "1"], ["1_0", "1"], [" 5", "1"], ["5\n", "1"],
            ["1e3", "1"], ["٣", "1"])]
        cases += [(["--key-hex", KEY_BYTES], ["--key", KEY_TEXT], ["1", "2"])] + [
            (["--key", t], ["--key", t], ["1", "2"]) for t in ("Ω", "ab\x80", "😀")]
        for tool_key, key, pair in cases:
            expected = subprocess.run([CLI, "encrypt-int"] + tool_key + pair, capture_output=True)
            for language in LIBRARIES:
                result = self.run_library(language, ["encrypt-int"] + key + pair)
                self.assertEqual((result.returncode, result.stdout),
                                 (expected.returncode, expected.stdout), (language, key, pair))
                if key[0] == "--key" and result.returncode:     # the character is named
                    self.assertIn(key[1].encode()[-1:], result.stderr)
                    self.assertIn(b"hexadecimal", result.stderr)

    def test_output_that_cannot_be_written_is_exit_7_and_one_line(self):
        for language, (args, stdin) in itertools.product(LIBRARIES, (
                (["encrypt-int", "6b", "1", "2"], b""), (["encrypt-string", "6b"], b"text"),
                (["batch"], b"encrypt-file 6b 01 \n"))):
            with open("/dev/full", "wb") as full:
                result = self.run_library(language, args, stdin, stdout=full)
            self.assertEqual((result.returncode, result.stderr.count(b"\n")), (7, 1),
                             (language, args, result.stderr))
            self.assertIn(b"cannot write the output", result.stderr)

    def test_python_raw_query_value_takes_names_and_queries_as_str_or_bytes(self):
        sys.path.insert(0, KIT)
        from ciphrel import raw_query_value
        for query, name in itertools.product((b"x=1&data=AB%2F&data=2", "x=1&data=AB%2F&data=2"),
                                             ("data", b"data")):
            self.assertEqual(raw_query_value(query, name), b"AB%2F", (query, name))
        self.assertIsNone(raw_query_value(b"database=1", "data"))

    def test_each_library_loads_without_reading_its_input(self):
        escaped = tool(["encrypt-string", "--key", "secret", "--url-safe", "loaded"])[:-1]
        for language, command in LOADERS.items():
            child = subprocess.Popen(command + [escaped], cwd=KIT, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE)
            self.assertEqual(child.communicate(timeout=60)[0], b"loaded", language)

    def start_server(self, language, **key):
        """The language's endpoint on a free loopback port, with only the given key variables."""
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        env = {name: value for name, value in os.environ.items() if not name.startswith("CIPHREL")}
        server = subprocess.Popen([part.format(port=port) for part in SERVERS[language]], cwd=KIT,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  env=dict(env, **key))
        self.addCleanup(lambda: (server.stderr.close(), server.terminate(), server.wait(30)))
        return server, port

    def test_each_endpoint_answers_the_games_text_and_refuses_anything_else(self):
        url_safe = lambda message: tool(
            ["encrypt-string", "--key-hex", KEY_BYTES, "--url-safe", "-"], message)[:-1]

        # A text whose escapes come in a multiple of four: URL-encoded again, it still
        # unescapes to whole blocks, so only its look gives it away.
        twice = next(text for text in map(url_safe, (b"player=%d" % n for n in range(200)))
                     if text.count(b"%") % 4 == 0)
        text = url_safe("Grüße #1 50%".encode())
        refused = {     # query value: what the answer says
            None: b"missing data",
            urllib.parse.quote(twice, safe="").encode(): b"URL-encoded twice",
            urllib.parse.quote(text, safe="").encode(): b"once unescaped",
            text + b"A": b"once unescaped",
            text[:-3] + b"/": b"byte 0x2F at offset",
            b"%41" + text[3:]: b"escape at offset 0",
            text.lower(): b"escape at offset",
            b"ABC+EFGH": b"byte 0x2B at offset 3",
            b"ABC%ZZEFGH": b"escape at offset 3"}
        answers = {}
        for language in SERVERS:
            server, port = self.start_server(language, CIPHREL_KEY=KEY_TEXT)
            for message in (b"player=Ann&score=1200", "Grüße #1 50%".encode(), b""):
                status, body = self.get(port, b"/score?x=1&data=" + url_safe(message))
                back = tool(["decrypt-string", "--key-hex", KEY_BYTES, "-"], body)
                self.assertEqual((status, back), (200, b"OK " + message + b"\n"), (language, body))
            for value, reason in refused.items():
                target = b"/score?x=1" + (b"" if value is None else b"&data=" + value)
                status, body = self.get(port, target)   # and every language says the same
                self.assertEqual((status, reason in body, answers.setdefault(value, body)),
                                 (400, True, body), (language, value, body))
            # Raw bytes above 127: Node's and PHP's own servers refuse them before the endpoint.
            self.assertNotEqual(self.get(port, b"/score?data=%9A_\x9e\xf0A%1C%13\xb4")[0], 200)
            # How the documents tell a user to send it: as it is, and not URL-encoded again.
            url = "http://127.0.0.1:%d/score" % port
            for curl, expected in ((["%s?data=%s" % (url, text.decode())], b"200"),
                                   (["-G", "--data-urlencode", "data=" + text.decode(), url],
                                    b"400")):
                result = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}"]
                                        + curl, capture_output=True, timeout=60)
                self.assertEqual(result.stdout, expected, (language, curl))

    def test_each_endpoint_takes_the_key_it_is_given_or_refuses_to_run(self):
        for language in SERVERS:
            for key, tool_key in (({"CIPHREL_KEY": "0"}, ["--key", "0"]),
                                  ({"CIPHREL_KEY_HEX": "00"}, ["--key", ""])):
                server, port = self.start_server(language, **key)
                message = tool(["encrypt-string"] + tool_key + ["--url-safe", "hi"])[:-1]
                status, body = self.get(port, b"/score?data=" + message)
                self.assertEqual((status, tool(["decrypt-string"] + tool_key + ["-"], body)),
                                 (200, b"OK hi\n"), (language, key))
            for key, reason in (({}, b"set the key in CIPHREL_KEY"),
                                ({"CIPHREL_KEY": ""}, b"CIPHREL_KEY_HEX=00"),
                                ({"CIPHREL_KEY": "Prix\u03a9"}, "Ω (U+03A9)".encode()),
                                ({"CIPHREL_KEY": "k", "CIPHREL_KEY_HEX": "6b"}, b"not both"),
                                ({"CIPHREL_KEY_HEX": "6"}, b"not hexadecimal")):
                server, port = self.start_server(language, **key)
                # PHP has no start to refuse: each request is told.
                status, message = self.get(port, b"/score?data=") if language == "php" else (
                    server.wait(timeout=60), server.stderr.read())
                self.assertEqual((status, reason in message), (500 if language == "php" else 64,
                                                               True), (language, key, message))

    def get(self, port, target):
        """A GET of the target's bytes exactly as given: (status, body); no status when the
        server closed the connection without an answer."""
        for _ in range(150):                        # the server may still be starting
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=10) as connection:
                    connection.sendall(b"GET " + target + b" HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")
                    answer = connection.makefile("rb").read()
            except ConnectionRefusedError:
                time.sleep(0.2)
                continue
            head, _, body = answer.partition(b"\r\n\r\n")
            return (int(head.split()[1]) if head else None), body
        self.fail("the server did not start")


if __name__ == "__main__":
    CLI, SOURCE = os.path.abspath(sys.argv[1]), sys.argv[3]
    KIT = os.path.join(SOURCE, "kit")
    sys.path.insert(0, os.path.join(SOURCE, "tests", "cli"))
    from commands_test import halves, load_answers, padded     # the same vectors, read once
    ANSWERS = load_answers(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=1)
