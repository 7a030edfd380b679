#!/usr/bin/env python3
"""web/ciphrel.html in headless Chromium: the known answers typed in, seeded keys and texts
against the ciphrel tool, files through the download folder, progress on a large file,
messages for bad keys, no network, and the README's screenshot.

usage: page_test.py CIPHREL KNOWN_ANSWERS_TSV SCREENSHOT_PNG [TEST ...]
"""
import functools
import http.server
import json
import os
import pathlib
import random
import re
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from selenium.webdriver.common.by import By

import chromium

CLI = SCREENSHOT = None
ANSWERS = []
# Windows-1252, the game's text; the five bytes it leaves undefined stand for themselves.
CP1252 = {b: bytes([b]).decode("cp1252", "ignore") or chr(b) for b in range(256)}
BYTE_OF = {c: b for b, c in CP1252.items()}
TYPABLE = [b for b in range(32, 256) if b != 127]     # what a text box takes as typed
FILL = """const [fields, button, outputs] = arguments, at = (id) => document.getElementById(id);
for (const [id, value] of fields) {
  at(id)[typeof value === "boolean" ? "checked" : "value"] = value;
  at(id).dispatchEvent(new Event(at(id).tagName === "SELECT" ? "change" : "input"));
}
at(button).click();
return outputs.map((id) => at(id).type === "checkbox" ? at(id).checked
                         : at(id).value ?? at(id).textContent);"""


def tool(args, stdin=b""):
    return subprocess.run([CLI] + args, input=stdin, capture_output=True, check=True,
                          timeout=120).stdout


def text_of(data):
    return "".join(CP1252[b] for b in data)


def typed(name, data):
    """Fields that put the bytes into a text box: as text where it takes them, else in hex
    (emptied first, since switching the view converts what is there)."""
    as_text = all(b in TYPABLE for b in data)
    return [(name, ""), (name + "-hex", not as_text), (name, text_of(data) if as_text
                                                       else data.hex())]


def shown(text, in_hex):
    return bytes.fromhex(text) if in_hex else bytes(BYTE_OF[c] for c in text)


def single(value):
    return struct.unpack("<f", struct.pack("<f", float(value)))[0]


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = cls.enterClassContext(tempfile.TemporaryDirectory())
        cls.downloads = os.path.join(cls.folder, "downloads")
        os.mkdir(cls.downloads)
        cls.driver = chromium.start(cls.downloads)
        cls.addClassCleanup(cls.driver.quit)
        cls.driver.get("file://" + chromium.PAGE)

    def element(self, name):
        return self.driver.find_element(By.ID, name)

    def press(self, fields, button, outputs=(), typing=False):
        """Fills the fields in order (a check box takes True or False), typed key by key or at
        once as a paste would, presses the button and gives the outputs' values."""
        for name, value in fields if typing else []:
            field = self.element(name)
            if isinstance(value, bool):
                if field.is_selected() != value:
                    field.click()
                self.assertEqual(field.is_selected(), value, name)
            elif field.tag_name == "select":
                field.find_element(By.CSS_SELECTOR, "option[value='%s']" % value).click()
            else:
                field.clear()
                field.send_keys(value)
        return self.driver.execute_script(FILL, [] if typing else fields, button, list(outputs))

    def run_files(self, paths, encrypt, padding):
        """The downloaded results by name, moved out of the download folder."""
        self.element("files").send_keys("\n".join(paths))
        self.press([("no-padding", not padding)], "encrypt-files" if encrypt else "decrypt-files")
        self.wait(lambda: len(self.driver.find_elements(By.CSS_SELECTOR, "#file-list a")) ==
                  len(paths))
        self.element("download-all").click()
        # Chromium writes into a hidden or .crdownload file and renames it when done.
        self.wait(lambda: len(os.listdir(self.downloads)) == len(paths) and not any(
            name.startswith(".") or name.endswith(".crdownload")
            for name in os.listdir(self.downloads)))
        results = {name: pathlib.Path(self.downloads, name).read_bytes()
                   for name in os.listdir(self.downloads)}
        for name in results:
            os.replace(os.path.join(self.downloads, name), os.path.join(self.folder, name))
        return results

    def wait(self, done, seconds=120):
        deadline = time.time() + seconds
        while not done():
            self.assertLess(time.time(), deadline, "the page did not finish in time")
            time.sleep(0.05)

    def write(self, name, data):
        pathlib.Path(self.folder, name).write_bytes(data)
        return os.path.join(self.folder, name)

    def test_known_answers_typed_in(self):
        files = {}
        for row in ANSWERS:
            key = [("key-mode", "hex"), ("key", row["key"].hex())]
            with self.subTest(row["name"]):
                if row["kind"] == "block":
                    cipher = self.press(key + [("number-kind", "int")] + list(zip(
                        ("plain-l", "plain-r"), halves(row["plain"]))), "encrypt-number",
                        ["cipher-l", "cipher-r"], typing=True)
                    self.assertEqual(cipher, halves(row["cipher"]))
                    self.assertEqual(self.press([("plain-l", ""), ("plain-r", "")],
                                                "decrypt-number", ["plain-l", "plain-r"],
                                                typing=True), halves(row["plain"]))
                elif row["kind"] == "string":
                    fields = dict(item.split("=", 1) for item in row["settings"].split(";"))
                    cipher = self.press(key + [
                        ("control-codes", fields["control"] == "1"), ("url-safe", False),
                        ("characters", text_of(bytes.fromhex(fields["chars"]))),
                        ("codes", fields["codes"].replace(",", " "))] +
                        typed("plain", row["plain"]),
                        "encrypt-string", ["cipher", "cipher-hex"], typing=True)
                    self.assertEqual(shown(*cipher), row["escaped"])
                    plain = self.press([("plain", "")] + typed("cipher", row["escaped"]),
                                       "decrypt-string", ["plain", "plain-hex"], typing=True)
                    self.assertEqual(shown(*plain), row["plain"])
                else:
                    files.setdefault((row["key"], row["settings"]), []).append(row)
        # One run a key and padding setting, so that several files go at once.
        for (key, settings), rows in files.items():
            with self.subTest(settings):
                self.press([("key-mode", "hex"), ("key", key.hex())], "key", typing=True)
                padding = settings == "padding"
                out = self.run_files([self.write(r["name"] + ".dat", r["plain"]) for r in rows],
                                     True, padding)
                self.assertEqual(out, {r["name"] + ".encrypted.dat": r["cipher"] for r in rows})
                back = self.run_files([os.path.join(self.folder, name) for name in out],
                                      False, padding)
                self.assertEqual(back, {r["name"] + ".decrypted.dat": padded(r["plain"])
                                        if padding else r["plain"] for r in rows})

    def test_seeded_keys_and_texts_against_the_tool(self):
        rng = random.Random(3)
        draw = lambda n: bytes(rng.choice(TYPABLE) for _ in range(n))
        for number in range(50):
            as_text = number % 2 == 0
            key = draw(rng.choice([1, 8, 16, 56, 57, 60]) if number < 12 else rng.randrange(1, 40))
            text = draw(rng.randrange(0, 40))
            # Default, Internet, URL-safe or custom settings; the tool is given them in full.
            control, characters, codes, url_safe = rng.choice([
                (True, b"", "10 12 13", False), (True, b"&=,. ?+", "9 10 12 13", False),
                (True, b"", "10 12 13", True), (rng.random() < 0.5, bytes(rng.sample(
                    [c for c in range(33, 127) if c != 45], rng.randrange(12))),
                    " ".join(str(rng.randrange(256)) for _ in range(rng.randrange(10))), False)])
            options = ["--chars", characters, "--codes", codes] + [
                "--no-control-codes"] * (not control) + ["--url-safe"] * url_safe
            floats = [rng.choice([1.5, -0.1, 3e38, 7.0, 1e-45]), rng.uniform(-1e6, 1e6)]
            with self.subTest(number=number, key=key, text=text, options=options):
                *cipher, info = self.press(
                    [("key-mode", "text" if as_text else "hex"),
                     ("key", text_of(key) if as_text else key.hex()),
                     ("control-codes", control), ("characters", text_of(characters)),
                     ("codes", codes), ("url-safe", url_safe),
                     ("plain-hex", False), ("plain", text_of(text))],
                    "encrypt-string", ["cipher", "cipher-hex", "key-info"])
                self.assertIn(key[:56].hex(" ").upper(), info)
                self.assertEqual(shown(*cipher), tool(["encrypt-string", "--key-hex", key.hex()]
                                                      + options + ["-"], text + b"\n")[:-1])
                self.assertEqual(shown(*self.press([("plain", "")], "decrypt-string",
                                                   ["plain", "plain-hex"])), text)
                # Floats in as the bits of "ConvertToInteger(", the halves encrypted, and back.
                halves_out = self.press([("number-kind", "float"), ("plain-l", repr(floats[0])),
                                         ("plain-r", repr(floats[1]))], "encrypt-number",
                                        ["cipher-l", "cipher-r"])
                bits = [str(struct.unpack("<i", struct.pack("<f", v))[0]) for v in floats]
                self.assertEqual(halves_out, tool(["encrypt-int", "--key-hex", key.hex(), "--"] +
                                                  bits).decode().split())
                back = self.press([("plain-l", ""), ("plain-r", "")], "decrypt-number",
                                  ["plain-l", "plain-r"])
                self.assertEqual(list(map(single, back)), list(map(single, floats)))

    def test_the_setup_dialogs_boxes_and_presets(self):
        text = bytes(range(32, 127)) * 2
        # Numbers past 255 are dropped, only 25 codes count, only 99 characters are read.
        for codes, kept in (("300 65 1000 66" + " " * 90 + "67", "65 66"),
                            (" ".join(str(c) for c in range(65, 100)), "65-89"),
                            (" " * 97 + "123", "12")):
            cipher = self.press([("key-mode", "text"), ("key", "dialog"),
                                 ("control-codes", False), ("characters", ""), ("codes", codes),
                                 ("url-safe", False)] + typed("plain", text), "encrypt-string",
                                ["cipher", "cipher-hex"])
            self.assertEqual(shown(*cipher), tool(
                ["encrypt-string", "--key", "dialog", "--no-control-codes", "--codes", "",
                 "--add-codes", kept, "-"], text + b"\n")[:-1], kept)
        self.assertEqual(self.press([], "preset-internet",
                                    ["characters", "codes", "control-codes"]),
                         ["&=,. ?+", "9 10 12 13", False])
        self.assertEqual(self.press([], "preset-default", ["characters", "codes"]),
                         ["", "10 12 13"])
        # A carriage return cannot live in a text box: a result holding one is shown in hex.
        self.press(typed("plain", b"line\r\nend"), "encrypt-string")
        self.assertEqual(self.press([("plain", ""), ("plain-hex", False)], "decrypt-string",
                                    ["plain", "plain-hex"]),
                         ["6C 69 6E 65 0D 0A 65 6E 64", True])

    def test_bad_keys_give_a_visible_message_and_no_answer(self):
        for mode, key, words in (("hex", "12 3g", ['"g"', "hexadecimal"]),
                                 ("hex", "abc", ["3 digits"]),
                                 ("text", "Level Ω", ['"Ω"', "U+03A9", "hex"]),
                                 ("text", "key 字", ['"字"', "U+5B57"])):
            self.element("files").send_keys(self.write("any.dat", b"12345678"))
            self.press([("key-mode", mode), ("key", key)], "key", typing=True)
            for button, outputs, message in (
                    ("encrypt-string", [("cipher", "old")], "string-message"),
                    ("decrypt-number", [("plain-l", "5"), ("plain-r", "6")], "number-message"),
                    ("encrypt-files", [], "file-message")):
                with self.subTest(key=key, button=button):
                    self.press(outputs, button)
                    box = self.element(message)
                    self.assertEqual((box.is_displayed(), box.get_attribute("class"),
                                      [w for w in words if w not in box.text]),
                                     (True, "message error", []), box.text)
                    self.assertEqual(self.press([], "key", [name for name, _ in outputs]),
                                     [""] * len(outputs))
            self.assertNotIn("any.encrypted.dat", self.element("file-list").text)
        for length in ("0", "1", "56", "57"):
            key, info = self.press([("random-length", length)], "random-key", ["key", "key-info"])
            if length in ("1", "56"):
                self.assertEqual((len(bytes.fromhex(key)), 0 in bytes.fromhex(key)),
                                 (int(length), False))
            else:
                self.assertEqual(info, "A random key has 1 to 56 bytes.")
        info = self.press([("key-mode", "hex"), ("key", bytes(range(1, 61)).hex())], "key",
                          ["key-info"])[0]
        self.assertRegex(info, "^60 bytes, cut to 56.*: %s$" % bytes(range(1, 57)).hex(" ").upper())

    def test_a_64_mib_file_and_back_through_the_download_folder(self):
        key = bytes(range(1, 17))
        self.press([("key-mode", "hex"), ("key", key.hex())], "key")
        path = self.write("save.dat", random.Random(5).randbytes((64 << 20) + 3))
        expected = tool(["encrypt-file", "--key-hex", key.hex(), path, "-o", "-"])
        encrypted = self.run_files([path], True, True)
        self.assertEqual(list(encrypted), ["save.encrypted.dat"])
        self.assertTrue(encrypted["save.encrypted.dat"] == expected, "not the tool's bytes")
        back = self.run_files([os.path.join(self.folder, "save.encrypted.dat")], False,
                              True)
        self.assertTrue(back["save.decrypted.dat"] == padded(pathlib.Path(path).read_bytes()))

    def test_progress_on_a_256_mib_file_and_a_page_that_keeps_answering(self):
        path = os.path.join(self.folder, "large.dat")
        with open(path, "wb") as out:
            out.truncate(256 << 20)
        self.element("files").send_keys(path)
        # Every change of the bar and every tick of a 25 ms timer, by the page's clock.
        self.driver.execute_script("""
            window.seen = { bar: [], ticks: [], start: performance.now() };
            new MutationObserver(() => seen.bar.push(performance.now()))
              .observe(document.getElementById('progress'), { attributes: true });
            window.timer = setInterval(() => seen.ticks.push(performance.now()), 25);""")
        self.press([("key-mode", "text"), ("key", "progress")], "encrypt-files")
        self.wait(lambda: self.driver.find_elements(By.CSS_SELECTOR, "#file-list li a"))
        seen = self.driver.execute_script(
            "clearInterval(timer); seen.end = performance.now(); return seen")
        self.assertEqual(self.element("progress").get_attribute("value"), "1")
        # Updates come every 250 ms or sooner; a busy machine may hold back the odd one
        # (tests run beside others here), but never for a second.
        for times in ([seen["start"]] + seen["bar"],
                      [seen["start"]] + seen["ticks"] + [seen["end"]]):
            self.assertGreater(len(times), 20)
            gaps = sorted(b - a for a, b in zip(times, times[1:]))
            self.assertLess(gaps[len(gaps) * 95 // 100], 250)
            self.assertLess(gaps[-1], 1000)

    def test_nothing_is_requested_from_disk_or_from_a_server(self):
        class Quiet(http.server.SimpleHTTPRequestHandler):
            log_message = lambda *args: None
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(
            Quiet, directory=os.path.dirname(chromium.PAGE)))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        for url in ("file://" + chromium.PAGE,
                    "http://127.0.0.1:%d/ciphrel.html" % server.server_address[1]):
            with self.subTest(url=url):
                self.driver.get_log("performance")      # only what this page asks
                self.driver.get(url)
                self.press([("key", "net"), ("plain", "nothing leaves")], "encrypt-string")
                self.run_files([self.write("net.dat", b"0123456789")], True, True)
                events = [json.loads(entry["message"])["message"]
                          for entry in self.driver.get_log("performance")]
                urls = {e["params"]["request"]["url"] for e in events
                        if e["method"] == "Network.requestWillBeSent"}
                self.assertEqual({u for u in urls if not u.startswith(("blob:", "data:"))}, {url})
                self.assertEqual(self.driver.get_log("browser"), [])

    def test_zz_screenshot_with_a_string_encrypted(self):
        self.driver.get("file://" + chromium.PAGE)
        self.assertTrue(self.press([], "encrypt-string", ["cipher"])[0])
        # The window's frame takes part of its 800 pixels; the page itself gets them all.
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": 1280, "height": 800, "deviceScaleFactor": 1, "mobile": False})
        self.assertTrue(self.driver.save_screenshot(SCREENSHOT))
        self.assertEqual(struct.unpack(">II", pathlib.Path(SCREENSHOT).read_bytes()[16:24]),
                         (1280, 800))


if __name__ == "__main__":
    CLI, SCREENSHOT = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[3])
    sys.path.insert(0, os.path.join(chromium.ROOT, "tests", "cli"))
    from commands_test import halves, load_answers, padded     # the same vectors, read once
    ANSWERS = load_answers(sys.argv[2])
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
