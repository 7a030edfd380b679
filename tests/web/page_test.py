#!/usr/bin/env python3
"""web/ciphrel.html in headless Chromium, typed into as a designer would: the known answers,
seeded keys and texts against the ciphrel tool, files through the download folder, progress
on a large file, messages for bad keys, no network, and the README's screenshot.

usage: page_test.py CIPHREL KNOWN_ANSWERS_TSV SCREENSHOT_PNG
"""
import functools
import http.server
import json
import os
import random
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from selenium.webdriver.common.by import By

import chromium

CLI = ANSWERS = SCREENSHOT = None
# Windows-1252, the game's text: byte -> character, the five undefined bytes as themselves.
CP1252 = {}
for _byte in range(256):
    try:
        CP1252[_byte] = bytes([_byte]).decode("cp1252")
    except UnicodeDecodeError:
        CP1252[_byte] = chr(_byte)
TYPABLE = [b for b in range(32, 256) if b != 127]     # what a text box takes as typed


def tool(args, stdin=b""):
    return subprocess.run([CLI] + args, input=stdin, capture_output=True, check=True,
                          timeout=120).stdout


def words(block):
    """An 8-byte block as the game's two signed integers."""
    return [int.from_bytes(block[i:i + 4], "little", signed=True) for i in (0, 4)]


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.downloads = os.path.join(cls.folder.name, "downloads")
        os.mkdir(cls.downloads)
        cls.driver = chromium.start(cls.downloads)
        cls.open("file://" + chromium.PAGE)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.folder.cleanup()

    @classmethod
    def open(cls, url):
        cls.driver.get(url)

    def element(self, name):
        return self.driver.find_element(By.ID, name)

    def value(self, name):
        return self.element(name).get_attribute("value")

    def type(self, name, text):
        field = self.element(name)
        field.clear()
        field.send_keys(text)

    def tick(self, name, on):
        if self.element(name).is_selected() != on:
            self.element(name).click()
        self.assertEqual(self.element(name).is_selected(), on, name)

    def set_key(self, key, as_text=False):
        self.driver.find_element(By.CSS_SELECTOR, "#key-mode option[value=%s]" %
                                 ("text" if as_text else "hex")).click()
        self.type("key", "".join(CP1252[b] for b in key) if as_text else key.hex())

    def set_bytes(self, name, data):
        """Types the bytes as text where a text box takes them, else in hex."""
        as_text = all(b in TYPABLE for b in data)
        self.element(name).clear()      # else the view's switch converts what is there
        self.tick(name + "-hex", not as_text)
        self.type(name, "".join(CP1252[b] for b in data) if as_text else data.hex())

    def get_bytes(self, name):
        text = self.value(name)
        if self.element(name + "-hex").is_selected():
            return bytes.fromhex(text)
        inverse = {c: b for b, c in CP1252.items()}
        return bytes(inverse[c] for c in text)

    def set_filter(self, control, characters, codes, url_safe=False):
        self.tick("control-codes", control)
        self.type("characters", "".join(CP1252[b] for b in characters))
        self.type("codes", codes)
        self.tick("url-safe", url_safe)

    def encrypt_string(self, plain):
        self.set_bytes("plain", plain)
        self.element("encrypt-string").click()
        return self.get_bytes("cipher")

    def decrypt_string(self, escaped):
        self.set_bytes("cipher", escaped)
        self.element("decrypt-string").click()
        return self.get_bytes("plain")

    def run_files(self, paths, encrypt, padding):
        """Puts the files through the page and gives the downloaded results by name; they are
        moved from the download folder into the test's folder."""
        self.element("files").send_keys("\n".join(paths))
        self.tick("no-padding", not padding)
        self.element("encrypt-files" if encrypt else "decrypt-files").click()
        self.wait(lambda: len(self.driver.find_elements(By.CSS_SELECTOR, "#file-list a")) ==
                  len(paths), 120)
        self.element("download-all").click()
        # Chromium writes into a hidden or .crdownload file and renames it when done.
        self.wait(lambda: len(os.listdir(self.downloads)) == len(paths) and not any(
            name.startswith(".") or name.endswith(".crdownload")
            for name in os.listdir(self.downloads)), 120)
        results = {}
        for name in os.listdir(self.downloads):
            with open(os.path.join(self.downloads, name), "rb") as result:
                results[name] = result.read()
            os.replace(os.path.join(self.downloads, name), os.path.join(self.folder.name, name))
        return results

    def wait(self, done, seconds):
        deadline = time.time() + seconds
        while not done():
            self.assertLess(time.time(), deadline, "the page did not finish in time")
            time.sleep(0.05)

    def write(self, name, data):
        path = os.path.join(self.folder.name, name)
        with open(path, "wb") as out:
            out.write(data)
        return path

    def assert_refused(self, message_id, output_ids, *words_in_message):
        message = self.element(message_id)
        self.assertTrue(message.is_displayed())
        self.assertIn("error", message.get_attribute("class"))
        for word in words_in_message:
            self.assertIn(word, message.text)
        for name in output_ids:
            self.assertEqual(self.value(name), "", name)

    # ---- the tests ----

    def test_the_page_is_built_from_the_kit(self):
        result = subprocess.run(["node", os.path.join(chromium.ROOT, "web", "build.js"),
                                 "--check"], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_known_answers_typed_in(self):
        files = {}
        for row in ANSWERS:
            with self.subTest(row["name"]):
                if row["kind"] == "file":
                    files.setdefault((row["key"], row["settings"]), []).append(row)
                    continue
                self.set_key(row["key"])
                if row["kind"] == "block":
                    self.driver.find_element(By.CSS_SELECTOR,
                                             "#number-kind option[value=int]").click()
                    for name, value in zip(("plain-l", "plain-r"), words(row["plain"])):
                        self.type(name, str(value))
                    self.element("encrypt-number").click()
                    self.assertEqual([int(self.value("cipher-l")), int(self.value("cipher-r"))],
                                     words(row["cipher"]))
                    for name in ("plain-l", "plain-r"):
                        self.type(name, "")
                    self.element("decrypt-number").click()
                    self.assertEqual([int(self.value("plain-l")), int(self.value("plain-r"))],
                                     words(row["plain"]))
                    continue
                fields = dict(item.split("=", 1) for item in row["settings"].split(";"))
                self.set_filter(fields["control"] == "1", bytes.fromhex(fields["chars"]),
                                fields["codes"].replace(",", " "))
                self.assertEqual(self.encrypt_string(row["plain"]), row["escaped"])
                self.type("plain", "")
                self.assertEqual(self.decrypt_string(row["escaped"]), row["plain"])
        # Files: one run a key and padding setting, so several files go at once.
        for (key, settings), rows in files.items():
            with self.subTest(settings):
                self.set_key(key)
                padding = settings == "padding"
                paths = [self.write(row["name"] + ".dat", row["plain"]) for row in rows]
                results = self.run_files(paths, True, padding)
                for row in rows:
                    self.assertEqual(results[row["name"] + ".encrypted.dat"], row["cipher"])
                back = self.run_files([os.path.join(self.folder.name, row["name"] +
                                                    ".encrypted.dat") for row in rows],
                                      False, padding)
                for row in rows:
                    self.assertEqual(back[row["name"] + ".decrypted.dat"],
                                     row["plain"] + bytes(-len(row["plain"]) % 8 * padding))

    def test_seeded_keys_and_texts_against_the_tool(self):
        rng = random.Random(3)
        draw = lambda n: bytes(rng.choice(TYPABLE) for _ in range(n))
        self.driver.find_element(By.CSS_SELECTOR, "#number-kind option[value=float]").click()
        for number in range(50):
            as_text = number % 2 == 0
            key = draw(rng.choice([1, 8, 16, 56, 57, 60]) if number < 12 else rng.randrange(1, 40))
            text = draw(rng.randrange(0, 40))
            kind = rng.choice(["default", "internet", "url-safe", "custom"])
            control, characters, codes = True, b"", "10 12 13"
            options = []
            if kind == "internet":
                characters, codes = b"&=,. ?+", "9 10 12 13"
                options = ["--preset", "internet"]
            elif kind == "url-safe":
                options = ["--url-safe"]
            elif kind == "custom":
                control = rng.random() < 0.5
                characters = bytes(rng.sample([c for c in range(33, 127) if c != 45],
                                              rng.randrange(0, 12)))
                codes = " ".join(str(rng.randrange(256)) for _ in range(rng.randrange(0, 10)))
                options = ["--chars", characters, "--codes", codes] + (
                    [] if control else ["--no-control-codes"])
            with self.subTest(number=number, key=key, text=text, kind=kind):
                self.set_key(key, as_text)
                self.assertIn(key[:56].hex(" ").upper(), self.element("key-info").text)
                self.set_filter(control, characters, codes, kind == "url-safe")
                expected = tool(["encrypt-string", "--key-hex", key.hex()] + options + ["-"],
                                text + b"\n")[:-1]
                self.assertEqual(self.encrypt_string(text), expected)
                self.element("decrypt-string").click()
                self.assertEqual(self.get_bytes("plain"), text)
                # Floats in, the halves of their bits encrypted, and the floats back.
                plain = [rng.choice([1.5, -0.1, 3e38, 7.0, 1e-45]), rng.uniform(-1e6, 1e6)]
                for name, value in zip(("plain-l", "plain-r"), plain):
                    self.type(name, repr(value))
                self.element("encrypt-number").click()
                halves = [int(self.value("cipher-l")), int(self.value("cipher-r"))]
                bits = [str(struct.unpack("<i", struct.pack("<f", v))[0]) for v in plain]
                self.assertEqual(halves, [int(x) for x in tool(
                    ["encrypt-int", "--key-hex", key.hex(), "--"] + bits).split()])
                for name in ("plain-l", "plain-r"):
                    self.type(name, "")
                self.element("decrypt-number").click()
                single = lambda v: struct.unpack("<f", struct.pack("<f", float(v)))[0]
                self.assertEqual([single(self.value(name)) for name in ("plain-l", "plain-r")],
                                 [single(v) for v in plain])

    def test_a_64_mib_file_and_back_through_the_download_folder(self):
        key = bytes(range(1, 17))
        self.set_key(key)
        path = self.write("save.dat", random.Random(5).randbytes((64 << 20) + 3))
        expected = tool(["encrypt-file", "--key-hex", key.hex(), path, "-o", "-"])
        encrypted = self.run_files([path], True, True)
        self.assertEqual(list(encrypted), ["save.encrypted.dat"])
        self.assertTrue(encrypted["save.encrypted.dat"] == expected, "not the tool's bytes")
        back = self.run_files([os.path.join(self.folder.name, "save.encrypted.dat")], False,
                              True)
        with open(path, "rb") as original:
            self.assertTrue(back["save.decrypted.dat"] == original.read() + bytes(5))

    def test_progress_on_a_256_mib_file_and_a_page_that_keeps_answering(self):
        path = os.path.join(self.folder.name, "large.dat")
        with open(path, "wb") as out:
            out.truncate(256 << 20)
        self.set_key(b"progress")
        self.element("files").send_keys(path)
        # Every change of the bar and every tick of a 25 ms timer, with the page's clock.
        self.driver.execute_script("""
            window.seen = { bar: [], ticks: [], start: performance.now() };
            new MutationObserver(() => seen.bar.push(performance.now()))
              .observe(document.getElementById('progress'), { attributes: true });
            window.timer = setInterval(() => seen.ticks.push(performance.now()), 25);""")
        self.element("encrypt-files").click()
        self.wait(lambda: self.driver.find_elements(By.CSS_SELECTOR, "#file-list li a"), 180)
        seen = self.driver.execute_script(
            "clearInterval(timer); seen.end = performance.now(); return seen")
        self.assertEqual(float(self.value("progress")), 1.0)
        bar = [seen["start"]] + seen["bar"]
        self.assertGreater(len(bar), 20)
        self.assertLess(max(b - a for a, b in zip(bar, bar[1:])), 250)
        ticks = [seen["start"]] + seen["ticks"] + [seen["end"]]
        self.assertLess(max(b - a for a, b in zip(ticks, ticks[1:])), 250)

    def test_bad_keys_give_a_visible_message_and_no_answer(self):
        for mode, key, words_in_message in (("hex", "12 3g", ['"g"', "hexadecimal"]),
                                            ("hex", "abc", ["3 digits"]),
                                            ("text", "Level Ω", ['"Ω"', "U+03A9", "hex"]),
                                            ("text", "key 字", ['"字"', "U+5B57"])):
            with self.subTest(key=key):
                self.driver.find_element(By.CSS_SELECTOR,
                                         "#key-mode option[value=%s]" % mode).click()
                self.type("key", key)
                self.assertIn(words_in_message[0], self.element("key-info").text)
                self.type("plain", "text")
                self.type("cipher", "old")
                self.element("encrypt-string").click()
                self.assert_refused("string-message", ["cipher"], *words_in_message)
                self.type("cipher-l", "5")
                self.type("cipher-r", "6")
                self.element("decrypt-number").click()
                self.assert_refused("number-message", ["plain-l", "plain-r"],
                                    *words_in_message)
                self.element("files").send_keys(self.write("any.dat", b"12345678"))
                self.element("encrypt-files").click()
                self.assert_refused("file-message", [], *words_in_message)
                self.assertNotIn("any.encrypted.dat", self.element("file-list").text)
        self.type("random-length", "57")
        self.element("random-key").click()
        self.assertIn("1 to 56", self.element("key-info").text)

    def test_random_keys_and_long_keys(self):
        for length in (1, 56):
            self.type("random-length", str(length))
            self.element("random-key").click()
            key = bytes.fromhex(self.value("key"))
            self.assertEqual(len(key), length)
            self.assertNotIn(0, key)
        self.set_key(bytes(range(1, 61)))
        self.assertIn("cut to 56", self.element("key-info").text)
        self.assertIn(bytes(range(1, 57)).hex(" ").upper() + "\n", self.element(
            "key-info").text + "\n")

    def test_the_setup_dialogs_boxes_and_presets(self):
        self.set_key(b"dialog", True)
        text = bytes(range(32, 127)) * 2
        # Numbers past 255 are dropped, only 25 codes count, only 99 characters are read.
        for codes, kept in (("300 65 1000 66" + " " * 90 + "67", "65 66"),
                            (" ".join(str(c) for c in range(65, 100)), "65-89"),
                            (" " * 97 + "123", "12")):
            self.set_filter(False, b"", codes)
            expected = tool(["encrypt-string", "--key", "dialog", "--no-control-codes",
                             "--codes", "", "--add-codes", kept, "-"], text + b"\n")[:-1]
            self.assertEqual(self.encrypt_string(text), expected, kept)
        self.element("preset-internet").click()
        self.assertEqual((self.value("characters"), self.value("codes")), ("&=,. ?+", "9 10 12 13"))
        self.assertFalse(self.element("control-codes").is_selected())
        self.element("preset-default").click()
        self.assertEqual((self.value("characters"), self.value("codes")), ("", "10 12 13"))
        # A carriage return in a result cannot live in a text box: it is shown in hex.
        self.set_filter(True, b"", "")
        self.set_bytes("plain", b"line\r\nend")
        self.element("encrypt-string").click()
        self.element("decrypt-string").click()
        self.assertTrue(self.element("plain-hex").is_selected())
        self.assertEqual(self.get_bytes("plain"), b"line\r\nend")

    def test_nothing_is_requested_from_disk_or_from_a_server(self):
        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass
        handler = functools.partial(Quiet, directory=os.path.dirname(chromium.PAGE))
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            for url in ("file://" + chromium.PAGE,
                        "http://127.0.0.1:%d/ciphrel.html" % server.server_address[1]):
                with self.subTest(url=url):
                    self.driver.get_log("performance")      # only what this page asks
                    self.open(url)
                    self.set_key(b"net", True)
                    self.encrypt_string(b"nothing leaves")
                    results = self.run_files([self.write("net.dat", b"0123456789")], True, True)
                    self.assertEqual(list(results), ["net.encrypted.dat"])
                    requests = [json.loads(entry["message"])["message"]
                                for entry in self.driver.get_log("performance")]
                    urls = {m["params"]["request"]["url"] for m in requests
                            if m["method"] == "Network.requestWillBeSent"}
                    self.assertEqual({u for u in urls if not u.startswith(("blob:", "data:"))},
                                     {url})
                    self.assertEqual(self.driver.get_log("browser"), [])
        finally:
            server.shutdown()
            server.server_close()
            self.open("file://" + chromium.PAGE)

    def test_zz_screenshot_with_a_string_encrypted(self):
        self.open("file://" + chromium.PAGE)
        self.element("encrypt-string").click()
        self.assertIn("Encrypted", self.element("string-message").text)
        self.assertTrue(self.value("cipher"))
        # The window's frame takes part of its 800 pixels; the page itself gets them all.
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": 1280, "height": 800, "deviceScaleFactor": 1, "mobile": False})
        self.assertTrue(self.driver.save_screenshot(SCREENSHOT))
        with open(SCREENSHOT, "rb") as image:
            self.assertEqual(struct.unpack(">II", image.read(24)[16:]), (1280, 800))


def load_answers(path):
    rows = []
    with open(path, encoding="utf-8") as table:
        lines = [line.rstrip("\n") for line in table if not line.startswith("#")]
    header = lines[0].split("\t")
    for line in lines[1:]:
        row = dict(zip(header, line.split("\t")))
        rows.append({"kind": row["kind"], "name": row["name"], "settings": row["settings"],
                     "key": bytes.fromhex(row["key_hex"]), "plain": bytes.fromhex(row["plain_hex"]),
                     "cipher": bytes.fromhex(row["cipher_hex"]),
                     "escaped": bytes.fromhex(row["escaped_hex"].replace("-", ""))})
    return rows


if __name__ == "__main__":
    CLI, SCREENSHOT = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[3])
    ANSWERS = load_answers(sys.argv[2])
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
