#!/usr/bin/env python3
"""The page's file speed (web/ciphrel.html in headless Chromium) and the kit's in Node.js,
beside OpenSSL's BF_encrypt loop, measured in turns so that a busy moment hurts all three;
each figure is the best of its turns. Ends with "ratio web-file" and "ratio web-node".

usage: web_bench.py OPENSSL_LOOP
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import chromium  # noqa: E402

SIZE = 64 << 20
TURNS = 5
NODE = """
const { encryptFile } = require(process.argv[1]);
const data = Buffer.alloc(%d, 7), key = Buffer.from("a bench key 0123");
let best = 1e9;
for (let run = 0; run < 3; run++) {
  const start = process.hrtime.bigint();
  encryptFile(key, data);
  best = Math.min(best, Number(process.hrtime.bigint() - start) / 1e9);
}
console.log(data.length / best / 1e6);
""" % SIZE


def page_seconds(driver):
    """Encrypts the chosen file once and gives the page's own time for it."""
    driver.execute_script("document.getElementById('file-list').textContent = ''")
    driver.find_element("id", "encrypt-files").click()
    deadline = time.time() + 120
    while time.time() < deadline:
        seconds = driver.execute_script(
            "const row = document.querySelector('#file-list li[data-seconds]');"
            "return row && Number(row.dataset.seconds)")
        if seconds:
            return seconds
        time.sleep(0.05)
    raise SystemExit("web_bench: the page did not finish the file")


def main():
    openssl_loop = sys.argv[1]
    kit = os.path.join(chromium.ROOT, "kit", "ciphrel.js")
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "bench.bin")
        with open(path, "wb") as out:
            out.write(os.urandom(SIZE))
        driver = chromium.start(folder)
        try:
            driver.get("file://" + chromium.PAGE)
            driver.find_element("id", "files").send_keys(path)
            workers = driver.execute_script("return WORKERS")
            openssl = page = node = 0.0
            for _ in range(TURNS):
                openssl = max(openssl, float(subprocess.run(
                    [openssl_loop, "2"], capture_output=True, check=True).stdout))
                page = max(page, SIZE / page_seconds(driver) / 1e6)
                node = max(node, float(subprocess.run(
                    ["node", "-e", NODE, kit], capture_output=True, check=True).stdout))
            version = driver.capabilities.get("browserVersion", "?")
        finally:
            driver.quit()
    node_version = subprocess.run(["node", "--version"], capture_output=True,
                                  text=True).stdout.strip()
    print("\nWeb page (Chromium %s, %d workers) and kit (Node.js %s), 64 MiB, best of %d"
          % (version, workers, node_version, TURNS))
    print("    %-28s %9s %10s" % ("", "MB/s", "x OpenSSL"))
    for name, value in (("OpenSSL BF_encrypt loop", openssl), ("page: encrypt a file", page),
                        ("kit: encryptFile in Node.js", node)):
        print("    %-28s %9.0f %10.2f" % (name, value, value / openssl))
    print("ratio web-file %.2f" % (page / openssl))
    print("ratio web-node %.2f" % (node / openssl))


if __name__ == "__main__":
    main()
