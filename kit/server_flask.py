#!/usr/bin/env python3
"""A minimal Flask endpoint for a game: GET /score?data=CIPHER_TEXT, where the game sent
"EncryptString$(" of its message under the URL-safe filter, exactly as it wrote it; the
answer is "OK " and the message, encrypted the same way, for the game's "DecryptString$(".
Anything else is answered 400 with the reason.
Run: CIPHREL_KEY=... python3 server_flask.py PORT   (or CIPHREL_KEY_HEX=... for hex bytes)
"""
import os
import sys

from flask import Flask, Response, request

from ciphrel import (URL_SAFE, cipher_text_error, decrypt_string, encrypt_string,
                     key_bytes_from_text, raw_query_value)

FILTER = URL_SAFE       # the filter the game sets up before it encrypts (see the docs)


def endpoint_key(environment):
    """The key from CIPHREL_KEY (text, as the game's Windows-1252 bytes) or CIPHREL_KEY_HEX;
    a ValueError when neither or both are set, or the one set is empty or not a key."""
    text, hex_text = environment.get("CIPHREL_KEY"), environment.get("CIPHREL_KEY_HEX")
    if (text is None) == (hex_text is None):
        raise ValueError("set the key in CIPHREL_KEY (text) or CIPHREL_KEY_HEX (hexadecimal), "
                         "one of them" + (", not both" if text is not None else ""))
    if text == "" or hex_text == "":
        raise ValueError("the key is empty; for the game's empty key set CIPHREL_KEY_HEX=00, "
                         "which is the same key")
    if text is not None:
        return key_bytes_from_text(text)
    try:
        return bytes.fromhex("".join(hex_text.split()))
    except ValueError:
        raise ValueError("CIPHREL_KEY_HEX is not hexadecimal") from None


try:
    KEY = endpoint_key(os.environ)
except ValueError as error:
    sys.stderr.write("server_flask.py: %s\n" % error)
    sys.exit(64)
app = Flask(__name__)


def refuse(reason):
    return Response(reason + "\n", status=400, content_type="text/plain; charset=us-ascii")


@app.route("/score")
def score():
    # The raw query, not request.args: that one decodes the "%XX" escapes as UTF-8.
    raw = raw_query_value(request.query_string, "data")
    if raw is None:
        return refuse("missing data")
    reason = cipher_text_error(raw, FILTER)
    if reason:
        return refuse(reason)
    return Response(encrypt_string(KEY, b"OK " + decrypt_string(KEY, raw)),
                    content_type="text/plain; charset=ISO-8859-1")


if __name__ == "__main__":
    app.run(host="127.0.0.1", port=int(sys.argv[1]) if len(sys.argv) > 1 else 8080)
