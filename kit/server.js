// A minimal endpoint on Node's http module: GET /score?data=CIPHER_TEXT, where the game
// sent "EncryptString$(" of its message; the answer is "OK " and the message, encrypted
// the same way, for the game's "DecryptString$(". Run: CIPHREL_KEY=... node server.js PORT
"use strict";
const http = require("http");
const { decryptString, encryptString, rawQueryValue } = require("./ciphrel.js");

const KEY = Buffer.from(process.env.CIPHREL_KEY || "Level7Key", "latin1");

const server = http.createServer((request, response) => {
  // request.url holds the target as sent, one latin1 character a byte: never decoded.
  const url = Buffer.from(request.url, "latin1");
  const question = url.indexOf("?");
  const path = (question < 0 ? url : url.subarray(0, question)).toString("latin1");
  const raw = path === "/score" && question >= 0 ? rawQueryValue(url.subarray(question + 1), "data")
                                                 : null;
  if (raw === null) {
    response.writeHead(400, { "Content-Type": "text/plain" });
    response.end("missing data\n");
    return;
  }
  const message = decryptString(KEY, raw);
  response.writeHead(200, { "Content-Type": "text/plain; charset=ISO-8859-1" });
  response.end(encryptString(KEY, Buffer.concat([Buffer.from("OK "), message])));
});
server.listen(Number(process.argv[2] || 8080), "127.0.0.1");
