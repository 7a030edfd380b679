// A minimal endpoint on Node's http module: GET /score?data=CIPHER_TEXT, where the game
// sent "EncryptString$(" of its message under the URL-safe filter, exactly as it wrote it;
// the answer is "OK " and the message, encrypted the same way, for the game's
// "DecryptString$(". Anything else is answered 400 with the reason.
// Run: CIPHREL_KEY=... node server.js PORT      (or CIPHREL_KEY_HEX=... for hex bytes)
"use strict";
const http = require("http");
const { URL_SAFE, cipherTextError, decryptString, encryptString, keyBytesFromText,
        rawQueryValue } = require("./ciphrel.js");

const FILTER = URL_SAFE;    // the filter the game sets up before it encrypts (see the docs)

// The key from CIPHREL_KEY (text, as the game's Windows-1252 bytes) or CIPHREL_KEY_HEX; an
// Error when neither or both are set, or the one set is empty or not a key.
function endpointKey(environment) {
  const text = environment.CIPHREL_KEY, hex = environment.CIPHREL_KEY_HEX;
  if ((text === undefined) === (hex === undefined)) {
    throw new Error("set the key in CIPHREL_KEY (text) or CIPHREL_KEY_HEX (hexadecimal), " +
                    `one of them${text !== undefined ? ", not both" : ""}`);
  }
  if (text === "" || hex === "") {
    throw new Error("the key is empty; for the game's empty key set CIPHREL_KEY_HEX=00, " +
                    "which is the same key");
  }
  if (text !== undefined) return keyBytesFromText(text);
  const digits = hex.replace(/\s+/g, "");
  if (!/^([0-9a-fA-F]{2})+$/.test(digits)) throw new Error("CIPHREL_KEY_HEX is not hexadecimal");
  return Buffer.from(digits, "hex");
}

let KEY;
try {
  KEY = endpointKey(process.env);
} catch (error) {
  process.stderr.write(`server.js: ${error.message}\n`);
  process.exit(64);
}

function refuse(response, reason) {
  response.writeHead(400, { "Content-Type": "text/plain; charset=us-ascii" });
  response.end(`${reason}\n`);
}

const server = http.createServer((request, response) => {
  // request.url holds the target as sent, one latin1 character a byte: never decoded.
  const url = Buffer.from(request.url, "latin1");
  const question = url.indexOf("?");
  const path = (question < 0 ? url : url.subarray(0, question)).toString("latin1");
  const raw = path === "/score" && question >= 0 ? rawQueryValue(url.subarray(question + 1), "data")
                                                 : null;
  if (raw === null) return refuse(response, "missing data");
  const reason = cipherTextError(raw, FILTER);
  if (reason) return refuse(response, reason);
  response.writeHead(200, { "Content-Type": "text/plain; charset=ISO-8859-1" });
  response.end(encryptString(KEY, Buffer.concat([Buffer.from("OK "), decryptString(KEY, raw)])));
});
server.listen(Number(process.argv[2] || 8080), "127.0.0.1");
