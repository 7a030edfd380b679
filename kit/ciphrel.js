// Reads and writes what the Ciphrel Encryption Object reads and writes: escaped strings,
// integer blocks and files, in plain Node.js (no package, no OpenSSL legacy provider).
//
//   const { encryptString, decryptString, INTERNET } = require("./ciphrel.js");
//   decryptString(Buffer.from("Level7Key"), rawQueryValue)    // -> the game's text, a Buffer
//   encryptString(Buffer.from("Level7Key"), Buffer.from("OK"), INTERNET)
//
// Keys are Buffers; like the object, only the first 56 bytes count. Command line:
//   node ciphrel.js OPERATION KEY_HEX [ARGUMENTS]     (see USAGE below)
"use strict";

const MAX_KEY = 56;     // the object cuts longer keys to this
const UNRESERVED = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
const range = (n) => [...Array(n).keys()];
// Bytes each filter escapes: a new object's default (codes 0 to 31 and "%"), the setup
// dialog's "Internet" preset, and everything but letters, digits and -._~ (URL-safe).
const DEFAULT = new Set([...range(32), 0x25]);
const INTERNET = new Set([...DEFAULT, ...Buffer.from("&=,. ?+")]);
const URL_SAFE = new Set(range(256).filter((b) => !UNRESERVED.includes(String.fromCharCode(b))));

let piWords = null;
// Blowfish's initial tables: the first 8336 hex digits of pi's fraction, from Machin's
// formula in fixed point (64 guard bits absorb the rounding of each term).
function initialWords() {
  if (piWords) return piWords;
  const digits = 8336n, guard = 64n, one = 1n << (digits * 4n + guard);
  const arctanInverse = (x) => {
    let term = one / x, total = term, n = 3n, sign = -1n;
    while (term) {
      term /= x * x;
      total += sign * (term / n);
      n += 2n;
      sign = -sign;
    }
    return total;
  };
  const fraction = (16n * arctanInverse(5n) - 4n * arctanInverse(239n) - 3n * one) >> guard;
  const text = fraction.toString(16).padStart(Number(digits), "0");
  piWords = Uint32Array.from(range(1042), (i) => parseInt(text.slice(8 * i, 8 * i + 8), 16));
  return piWords;
}

class Blowfish {
  constructor(key) {
    key = key.length ? key.subarray(0, MAX_KEY) : Buffer.alloc(1);   // empty: one zero byte
    const words = Uint32Array.from(initialWords());
    this.p = words.subarray(0, 18);
    this.s = range(4).map((i) => words.subarray(18 + 256 * i, 18 + 256 * (i + 1)));
    for (let i = 0, j = 0; i < 18; i++) {
      let word = 0;
      for (let k = 0; k < 4; k++, j = (j + 1) % key.length) word = ((word << 8) | key[j]) >>> 0;
      this.p[i] ^= word;
    }
    let block = [0, 0];
    for (const table of [this.p, ...this.s]) {
      for (let i = 0; i < table.length; i += 2) {
        block = this.encryptBlock(block[0], block[1]);
        [table[i], table[i + 1]] = block;
      }
    }
  }
  rounds(left, right, first, step) {
    const [s0, s1, s2, s3] = this.s, p = this.p;
    for (let n = 0, i = first; n < 16; n++, i += step) {
      left = (left ^ p[i]) >>> 0;
      const f = (((s0[left >>> 24] + s1[(left >>> 16) & 255]) ^ s2[(left >>> 8) & 255]) +
                 s3[left & 255]) >>> 0;
      [left, right] = [(right ^ f) >>> 0, left];
    }
    // The last exchange undone, then the two outer P words.
    return [(right ^ p[first + 17 * step]) >>> 0, (left ^ p[first + 16 * step]) >>> 0];
  }
  encryptBlock(left, right) { return this.rounds(left, right, 0, 1); }
  decryptBlock(left, right) { return this.rounds(left, right, 17, -1); }
  // Every whole 8-byte block; a final piece of 1 to 7 bytes stays as it is.
  transform(data, encrypt) {
    const out = Buffer.from(data);
    for (let i = 0; i + 8 <= out.length; i += 8) {
      const [l, r] = encrypt ? this.encryptBlock(out.readUInt32LE(i), out.readUInt32LE(i + 4))
                             : this.decryptBlock(out.readUInt32LE(i), out.readUInt32LE(i + 4));
      out.writeUInt32LE(l, i);
      out.writeUInt32LE(r, i + 4);
    }
    return out;
  }
}

const ciphers = new Map();
function cipher(key) {
  const name = Buffer.from(key).toString("latin1");
  if (!ciphers.has(name)) ciphers.set(name, new Blowfish(Buffer.from(key)));
  return ciphers.get(name);
}
const padded = (data) => Buffer.concat([data, Buffer.alloc((8 - (data.length % 8)) % 8)]);
const upToZero = (data) => (data.indexOf(0) < 0 ? data : data.subarray(0, data.indexOf(0)));

// Each byte of `escaped` (and always the zero byte and "%") as "%" and two digits.
function escape(data, escaped = DEFAULT) {
  const parts = [];
  for (const b of data) {
    const hex = "%" + b.toString(16).toUpperCase().padStart(2, "0");
    parts.push(escaped.has(b) || b === 0 || b === 0x25 ? hex : String.fromCharCode(b));
  }
  return Buffer.from(parts.join(""), "latin1");
}
// Every "%" and the two characters after it as one byte, as the object decodes.
function unescape(text) {
  text = upToZero(Buffer.from(text));
  const value = (i) => {      // '0'-'9' count 0-9, any other character its code - 55
    const c = i < text.length ? text[i] : 0;
    return c >= 48 && c <= 57 ? c - 48 : c - 55;
  };
  const out = [];
  for (let i = 0; i < text.length; i += text[i] === 0x25 ? 3 : 1) {
    out.push(text[i] === 0x25 ? (16 * value(i + 1) + value(i + 2)) & 255 : text[i]);
  }
  return Buffer.from(out);
}

// The escaped cipher text that "EncryptString$(" gives for `text` (a Buffer).
const encryptString = (key, text, escaped = DEFAULT) =>
  escape(cipher(key).transform(padded(upToZero(Buffer.from(text))), true), escaped);
// The text that "DecryptString$(" gives for an escaped cipher text.
const decryptString = (key, text) =>
  upToZero(cipher(key).transform(padded(unescape(text)), false));
// Both halves that "EncryptInteger(" gives, as the game's signed integers.
const encryptInt = (key, l, r) => cipher(key).encryptBlock(l >>> 0, r >>> 0).map((w) => w | 0);
const decryptInt = (key, l, r) => cipher(key).decryptBlock(l >>> 0, r >>> 0).map((w) => w | 0);
// A file's bytes as "Encrypt a File" leaves them: padded with zeros to whole blocks, or
// without padding the final piece of 1 to 7 bytes left as it is.
const encryptFile = (key, data, padding = true) =>
  cipher(key).transform(padding ? padded(Buffer.from(data)) : data, true);
const decryptFile = (key, data, padding = true) =>
  cipher(key).transform(padding ? padded(Buffer.from(data)) : data, false);

// The value of `name` in a query string (a Buffer) exactly as sent, not decoded: the
// decoded parameters of URLSearchParams or querystring have already turned the object's
// "%XX" escapes into other bytes. Null when the name is absent.
function rawQueryValue(query, name) {
  for (const part of Buffer.from(query).toString("latin1").split("&")) {
    const equals = part.indexOf("=");
    if ((equals < 0 ? part : part.slice(0, equals)) === name) {
      return Buffer.from(equals < 0 ? "" : part.slice(equals + 1), "latin1");
    }
  }
  return null;
}

const USAGE = `usage: node ciphrel.js OPERATION KEY [ARGUMENTS]
  encrypt-string KEY [default|internet|url-safe|CODES_HEX] < text > escaped text
  decrypt-string KEY < escaped text > text
  encrypt-file KEY [no-padding] < file > file           (decrypt-file alike)
  encrypt-int KEY L R                                   (decrypt-int alike)
  batch < lines "OPERATION KEY_HEX DATA_HEX [OPTION]" > lines of result hex
KEY is the key in hexadecimal (spaces and line breaks are ignored; "-" is the empty key),
or --key TEXT: the Windows-1252 bytes of the text, as the game has them. L and R are
32-bit integers, decimal or 0x hexadecimal, with an optional sign. A text read from
standard input loses one final line ending (LF or CR LF). In a batch, blank lines are
skipped, "-" stands for no bytes and an integer block is its 8 bytes.`;
const FILTERS = { default: DEFAULT, internet: INTERNET, "url-safe": URL_SAFE };

class UsageError extends Error {}
// Input that cannot be read (exit 6) or output that cannot be written (exit 7).
class StreamError extends Error {
  constructor(status, what, error) {
    const reason = error.code === "ENOSPC" ? "No space left on device" : error.message;
    super(`cannot ${what}: ${reason}`);
    this.status = status;
  }
}

function unhex(text) {
  const hex = text === "-" ? "" : text.replace(/\s+/g, "");
  if (!/^([0-9a-fA-F]{2})*$/.test(hex)) throw new UsageError(`'${text}' is not hexadecimal`);
  return Buffer.from(hex, "hex");
}

// A 32-bit integer as the tool reads it: decimal or 0x hexadecimal with an optional sign,
// from -2^31 to 2^32 - 1, as its 32 bits.
function parseWord(text) {
  const match = /^([-+]?)(?:0[xX]([0-9a-fA-F]+)|([0-9]+))$/.exec(text);
  if (!match) throw new UsageError(`'${text}' is not an integer`);
  const value = BigInt(match[2] ? `0x${match[2]}` : match[3]);
  if (value > (match[1] === "-" ? 0x80000000n : 0xFFFFFFFFn)) {
    throw new UsageError(`${text} is outside the 32-bit integers (-2147483648 to 4294967295)`);
  }
  return Number(BigInt.asUintN(32, match[1] === "-" ? -value : value));
}

// One operation on bytes; the integer operations take and give an 8-byte block.
function runOperation(operation, key, data, option = "") {
  if (operation === "encrypt-string") {
    return encryptString(key, data, FILTERS[option || "default"] || new Set(unhex(option)));
  }
  if (operation === "decrypt-string") return decryptString(key, data);
  if (/^(en|de)crypt-file$/.test(operation) && ["", "no-padding"].includes(option)) {
    return (operation === "encrypt-file" ? encryptFile : decryptFile)(key, data,
                                                                       option !== "no-padding");
  }
  if (/^(en|de)crypt-int$/.test(operation) && data.length === 8) {
    const run = operation === "encrypt-int" ? encryptInt : decryptInt;
    const out = Buffer.alloc(8);
    run(key, data.readUInt32LE(0), data.readUInt32LE(4)).forEach((w, i) => out.writeInt32LE(w, 4 * i));
    return out;
  }
  throw new UsageError(`unknown operation or option: ${operation} ${option}`);
}

function commandLine(args) {
  const fs = require("fs");
  const readAll = () => {
    try {
      return fs.readFileSync(0);
    } catch (error) {
      throw new StreamError(6, "read the input", error);
    }
  };
  const writeAll = (data) => {
    data = Buffer.from(data);
    try {
      for (let done = 0; done < data.length;) done += fs.writeSync(1, data, done);
    } catch (error) {
      throw new StreamError(7, "write the output", error);
    }
  };
  if (args.length === 1 && args[0] === "batch") {
    const results = [];
    for (const line of readAll().toString("latin1").split("\n")) {
      const fields = line.trim().split(/\s+/);
      if (fields[0] === "") continue;
      if (fields.length < 3) throw new UsageError(`short line: ${line.trim()}`);
      const [operation, key, data, option] = fields;
      const result = runOperation(operation, unhex(key), unhex(data), option);
      results.push((result.toString("hex") || "-") + "\n");
    }
    writeAll(results.join(""));
    return;
  }
  let key;
  if (args.length >= 3 && args[1] === "--key") {
    key = keyBytesFromText(args[2]);
    args = [args[0], ...args.slice(2)];
  } else if (args.length >= 2) {
    key = unhex(args[1]);
  } else {
    throw new UsageError("missing arguments");
  }
  const [operation, , option = ""] = args;
  if (operation.endsWith("-int")) {
    if (args.length !== 4) throw new UsageError(`${operation} takes two integers, L and R`);
    const block = Buffer.alloc(8);
    args.slice(2).forEach((x, i) => block.writeUInt32LE(parseWord(x), 4 * i));
    const result = runOperation(operation, key, block);
    writeAll(`${result.readInt32LE(0)} ${result.readInt32LE(4)}\n`);
    return;
  }
  runOperation(operation, key, Buffer.alloc(0), option);   // a mistake is told before reading
  let data = readAll();
  if (operation.endsWith("-string")) {
    const cut = data.subarray(-2).equals(Buffer.from("\r\n")) ? 2 : data.at(-1) === 10 ? 1 : 0;
    data = data.subarray(0, data.length - cut);
  }
  writeAll(runOperation(operation, key, data, option));
}

// The command line, with the tool's exit status: 64 for a mistake in the arguments, 6 input
// that cannot be read, 7 output that cannot be written; one line tells why.
function main(args) {
  try {
    commandLine(args);
    return 0;
  } catch (error) {
    if (error instanceof StreamError) {
      process.stderr.write(`ciphrel.js: ${error.message}\n`);
      return error.status;
    }
    if (!(error instanceof UsageError || error instanceof KeyTextError)) throw error;
    const usage = error instanceof UsageError ? `${USAGE}\n` : "";
    process.stderr.write(`ciphrel.js: ${error.message}\n${usage}`);
    return 64;
  }
}

// `text` unescaped if it is escaped text of the filter `escaped` (exactly its bytes escaped,
// in upper-case hex, as the object writes); else { reason }.
function strictUnescape(text, escaped) {
  const out = [];
  for (let i = 0; i < text.length; i++) {
    if (text[i] !== 0x25) {
      if (escaped.has(text[i])) {
        const hex = text[i].toString(16).toUpperCase().padStart(2, "0");
        return { reason: `data has byte 0x${hex} at offset ${i}, which the filter escapes` };
      }
      out.push(text[i]);
      continue;
    }
    const digits = text.subarray(i + 1, i + 3).toString("latin1");
    if (!/^[0-9A-F]{2}$/.test(digits) || !escaped.has(parseInt(digits, 16))) {
      return { reason: `data has an escape at offset ${i} that the object does not write` };
    }
    out.push(parseInt(digits, 16));
    i += 2;
  }
  return { data: Buffer.from(out) };
}

// Why `text` (a Buffer) cannot be escaped cipher text that the object wrote under the filter
// `escaped`, or null when it can: a character the filter escapes, an escape of a byte it
// leaves as it is (or in lower case), a length that is no whole number of blocks, or text
// URL-encoded again by a client (each "%" sent as "%25"), which then unescapes to escaped
// text of whole blocks. Cipher bytes look like that by chance only with four such escapes
// or more among them, each a "%" and two hex digits: under the URL-safe filter, less than
// once in 10^15 messages.
function cipherTextError(text, escaped = URL_SAFE) {
  escaped = new Set([...escaped, 0, 0x25]);
  const { data, reason } = strictUnescape(Buffer.from(text), escaped);
  if (reason) return reason;
  if (data.length % 8) {
    return `data is ${data.length} bytes once unescaped, not a whole number of 8-byte blocks`;
  }
  const inner = strictUnescape(data, escaped).data;
  if (data.includes(0x25) && inner && inner.length % 8 === 0) {
    return "data is URL-encoded twice: send the text exactly as the game wrote it";
  }
  return null;
}

// A key text that Windows-1252 cannot encode.
class KeyTextError extends Error {}
// Windows-1252's bytes 0x80 to 0x9F; the five it leaves undefined stand for themselves, as
// Windows converts them.
const CP1252_HIGH = "\u20ac\x81\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160" +
  "\u2039\u0152\x8d\u017d\x8f\x90\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122" +
  "\u0161\u203a\u0153\x9d\u017e\u0178";
// The key bytes a key text stands for: its Windows-1252 bytes, the game's own encoding.
function keyBytesFromText(text) {
  const out = [];
  for (const char of text) {
    const code = char.codePointAt(0);
    if (code < 0x80 || (code >= 0xa0 && code <= 0xff)) {
      out.push(code);
    } else if (CP1252_HIGH.includes(char)) {
      out.push(0x80 + CP1252_HIGH.indexOf(char));
    } else {
      const name = code.toString(16).toUpperCase().padStart(4, "0");
      throw new KeyTextError(`the key text holds ${char} (U+${name}), which Windows-1252 has ` +
                             "no byte for; give the key in hexadecimal");
    }
  }
  return Buffer.from(out);
}

module.exports = {
  Blowfish, DEFAULT, INTERNET, URL_SAFE, escape, unescape, encryptString, decryptString,
  encryptInt, decryptInt, encryptFile, decryptFile, rawQueryValue, runOperation,
  cipherTextError, keyBytesFromText, KeyTextError,
};
if (require.main === module) process.exitCode = main(process.argv.slice(2));
