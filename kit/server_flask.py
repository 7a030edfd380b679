#!/usr/bin/env python3
"""A minimal Flask endpoint for a game: GET /score?data=CIPHER_TEXT, where the game sent
"EncryptString$(" of its message; the answer is "OK " and the message, encrypted the same
way, for the game's "DecryptString$(". Run: CIPHREL_KEY=... python3 server_flask.py PORT
"""
import os
import sys

from flask import Flask, Response, request

from ciphrel import decrypt_string, encrypt_string, raw_query_value

app = Flask(__name__)
KEY = os.environ.get("CIPHREL_KEY", "Level7Key").encode("latin-1")


@app.route("/score")
def score():
    # The raw query, not request.args: that one decodes the "%XX" escapes as UTF-8.
    raw = raw_query_value(request.query_string, b"data")
    if raw is None:
        return Response("missing data\n", status=400)
    message = decrypt_string(KEY, raw)
    return Response(encrypt_string(KEY, b"OK " + message),
                    content_type="text/plain; charset=ISO-8859-1")


if __name__ == "__main__":
    app.run(host="127.0.0.1", port=int(sys.argv[1]) if len(sys.argv) > 1 else 8080)
