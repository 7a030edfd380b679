// Reads and writes what the Ciphrel Encryption Object reads and writes: escaped strings,
// integer blocks and files, in plain Node.js (no package, no OpenSSL legacy provider).
//
//   const { encryptString, decryptString, INTERNET } = require("./ciphrel.js");
//   decryptString(Buffer.from("Level7Key"), rawQueryValue)    // -> the game's text, a Buffer
//   encryptString(Buffer.from("Level7Key"), Buffer.from("OK"), INTERNET)
//
// Keys are Buffers; like the object, only the first 56 bytes count. keyBytesFromText("Clé")
// gives a key text's bytes as the game has them (Windows-1252). Command line:
//   node ciphrel.js OPERATION KEY_HEX [ARGUMENTS]     (see USAGE below)
"use strict";

// ---- The core: plain JavaScript for Node.js and browsers alike. web/build.js copies the
// lines up to the end marker into web/ciphrel.html, so the page runs this very code. ----
const MAX_KEY = 56;     // the object cuts longer keys to this
const UNRESERVED = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
const range = (n) => [...Array(n).keys()];
const codesOf = (text) => [...text].map((c) => c.charCodeAt(0));
// Bytes each filter escapes: a new object's default (codes 0 to 31 and "%"), the setup
// dialog's "Internet" preset, and everything but letters, digits and -._~ (URL-safe).
const DEFAULT = new Set([...range(32), 0x25]);
const INTERNET = new Set([...DEFAULT, ...codesOf("&=,. ?+")]);
const URL_SAFE = new Set(range(256).filter((b) => !UNRESERVED.includes(String.fromCharCode(b))));
// The setup dialog's two preset buttons: what they write into its two boxes.
const PRESETS = { default: { characters: "", codes: "10 12 13" },
                  internet: { characters: "&=,. ?+", codes: "9 10 12 13" } };
const MAX_FILTER_CHARACTERS = 24, MAX_FILTER_CODES = 25, CODES_BOX_READ = 99;

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
  piWords = Int32Array.from(range(1042), (i) => parseInt(text.slice(8 * i, 8 * i + 8), 16));
  return piWords;
}

// Blowfish on the blocks (L, R) of `words` in place, two blocks at a time: with their
// rounds interleaved one block's S-box loads overlap the other's, about 1.5 times the speed
// of one block at a time in V8. `words` holds a multiple of 4; decryption passes the P array
// reversed; `s` holds the four S-boxes one after the other; "| 0" keeps V8 on int32.
function blowfishPairs(words, p, s) {
  for (let i = 0; i < words.length; i += 4) {
    let l = words[i] ^ p[0], r = words[i + 1], m = words[i + 2] ^ p[0], q = words[i + 3];
    for (let k = 1; k < 17; k += 2) {
      r ^= (((s[l >>> 24] + s[256 | l >>> 16 & 255] | 0) ^ s[512 | l >>> 8 & 255]) +
            s[768 | l & 255] | 0) ^ p[k];
      q ^= (((s[m >>> 24] + s[256 | m >>> 16 & 255] | 0) ^ s[512 | m >>> 8 & 255]) +
            s[768 | m & 255] | 0) ^ p[k];
      l ^= (((s[r >>> 24] + s[256 | r >>> 16 & 255] | 0) ^ s[512 | r >>> 8 & 255]) +
            s[768 | r & 255] | 0) ^ p[k + 1];
      m ^= (((s[q >>> 24] + s[256 | q >>> 16 & 255] | 0) ^ s[512 | q >>> 8 & 255]) +
            s[768 | q & 255] | 0) ^ p[k + 1];
    }
    words[i] = r ^ p[17];
    words[i + 1] = l;
    words[i + 2] = q ^ p[17];
    words[i + 3] = m;
  }
}
// Any number of blocks: an odd last one goes through with a spare block beside it.
function blowfishWords(words, p, s) {
  const even = words.length - words.length % 4;
  blowfishPairs(even === words.length ? words : words.subarray(0, even), p, s);
  if (words.length - even >= 2) {
    const last = Int32Array.of(words[even], words[even + 1], 0, 0);
    blowfishPairs(last, p, s);
    words.set(last.subarray(0, 2), even);
  }
}

class Blowfish {
  constructor(key) {
    key = key.length ? key.subarray(0, MAX_KEY) : new Uint8Array(1);   // empty: one zero byte
    const words = Int32Array.from(initialWords());
    this.p = words.subarray(0, 18);
    this.s = words.subarray(18);
    for (let i = 0, j = 0; i < 18; i++) {
      let word = 0;
      for (let k = 0; k < 4; k++, j = (j + 1) % key.length) word = (word << 8) | key[j];
      this.p[i] ^= word;
    }
    // Each pair of table words is the encryption of the previous pair under the tables as
    // they stand at that moment, so the 521 encryptions run in this order.
    const block = new Int32Array(2);
    for (let i = 0; i < words.length; i += 2) {
      blowfishWords(block, this.p, this.s);
      words.set(block, i);
    }
    this.pReversed = this.p.slice().reverse();
  }
  encryptBlock(left, right) { return this.block(left, right, this.p); }
  decryptBlock(left, right) { return this.block(left, right, this.pReversed); }
  block(left, right, p) {
    const words = Int32Array.of(left, right);
    blowfishWords(words, p, this.s);
    return [words[0] >>> 0, words[1] >>> 0];
  }
  // Every whole 8-byte block of `bytes` in place; a final piece of 1 to 7 bytes stays as it
  // is. The halves are little-endian words, as typed arrays read them on little-endian
  // processors (x86 and ARM: every machine a designer's browser runs on).
  transformInPlace(bytes, encrypt) {
    const whole = bytes.length - bytes.length % 8, aligned = bytes.byteOffset % 4 === 0;
    const words = aligned ? new Int32Array(bytes.buffer, bytes.byteOffset, whole / 4)
                          : new Int32Array(bytes.slice(0, whole).buffer);
    blowfishWords(words, encrypt ? this.p : this.pReversed, this.s);
    if (!aligned) bytes.set(new Uint8Array(words.buffer));
    return bytes;
  }
  transform(data, encrypt) { return this.transformInPlace(new Uint8Array(data), encrypt); }
}

function padBytes(data) {
  const out = new Uint8Array(Math.ceil(data.length / 8) * 8);
  out.set(data);
  return out;
}
const upToZeroBytes = (data) => (data.indexOf(0) < 0 ? data : data.subarray(0, data.indexOf(0)));

// Each byte of `escaped` (and always the zero byte and "%") as "%" and two digits.
function escapeBytes(data, escaped = DEFAULT) {
  const out = [];
  for (const b of data) {
    if (escaped.has(b) || b === 0 || b === 0x25) {
      out.push(0x25, ...codesOf(b.toString(16).toUpperCase().padStart(2, "0")));
    } else {
      out.push(b);
    }
  }
  return Uint8Array.from(out);
}
// Every "%" and the two characters after it as one byte, as the object decodes.
function unescapeBytes(text) {
  text = upToZeroBytes(text);
  const value = (i) => {      // '0'-'9' count 0-9, any other character its code - 55
    const c = i < text.length ? text[i] : 0;
    return c >= 48 && c <= 57 ? c - 48 : c - 55;
  };
  const out = [];
  for (let i = 0; i < text.length; i += text[i] === 0x25 ? 3 : 1) {
    out.push(text[i] === 0x25 ? (16 * value(i + 1) + value(i + 2)) & 255 : text[i]);
  }
  return Uint8Array.from(out);
}
const encryptStringBytes = (blowfish, text, escaped = DEFAULT) =>
  escapeBytes(blowfish.transformInPlace(padBytes(upToZeroBytes(text)), true), escaped);
const decryptStringBytes = (blowfish, text) =>
  upToZeroBytes(blowfish.transformInPlace(padBytes(unescapeBytes(text)), false));

// The bytes that the filter of a newly created object escapes, from its setup dialog: the
// box "Filter Characters with Codes 0 to 31", the characters (bytes; the box keeps 24) and
// the text of the codes box, read as the dialog reads it (its first 99 characters, any
// non-digit a separator, numbers above 255 dropped, at most 25 codes).
function setupFilter(controlCodes, characters, codesText) {
  const escaped = new Set([0, 0x25, ...(controlCodes ? range(32) : [])]);
  characters.subarray(0, MAX_FILTER_CHARACTERS).forEach((b) => escaped.add(b));
  const codes = (codesText.slice(0, CODES_BOX_READ).match(/[0-9]+/g) || [])
    .filter((number) => Number(number) <= 255);
  codes.slice(0, MAX_FILTER_CODES).forEach((number) => escaped.add(Number(number)));
  return escaped;
}

// The characters of Windows-1252 (the game's text) for the bytes 0x80 to 0x9F; the five it
// leaves undefined stand for themselves, as Windows converts them.
const CP1252_80_9F = "\u20AC\x81\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160" +
  "\u2039\u0152\x8D\u017D\x8F\x90\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122" +
  "\u0161\u203A\u0153\x9D\u017E\u0178";
const bytesToText = (bytes) => Array.from(bytes, (b) =>
  b >= 0x80 && b < 0xA0 ? CP1252_80_9F[b - 0x80] : String.fromCharCode(b)).join("");
// A text's Windows-1252 bytes. A character without one is an error naming it, never a
// silent substitute: `what` says whose text it is, `hint` what to do instead.
function textToBytes(text, what = "The text", hint = "") {
  const out = [];
  for (const c of text) {
    const code = c.codePointAt(0), high = CP1252_80_9F.indexOf(c);
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
      out.push(code);
    } else if (high >= 0) {
      out.push(0x80 + high);
    } else {
      const name = "U+" + code.toString(16).toUpperCase().padStart(4, "0");
      throw Object.assign(new Error(`${what} holds "${c}" (${name}), which Windows-1252, ` +
                                    `the game's text, has no byte for${hint ? ": " + hint : "."}`),
                          { character: c, codePoint: name });
    }
  }
  return Uint8Array.from(out);
}
// A key given as text means its Windows-1252 bytes, as in the game.
const keyFromText = (text) =>
  textToBytes(text, "The key", "give the key in hex instead (--key-hex in the tool).");
// Bytes given in hex: pairs of digits, spaces and line breaks ignored. `what` names the
// text in the message for a mistake.
function hexToBytes(text, what = "The hex") {
  const hex = text.replace(/\s+/g, "");
  const bad = hex.search(/[^0-9a-fA-F]/);
  if (bad >= 0) throw new Error(`${what} holds "${[...hex.slice(bad)][0]}", ` +
                                "which is not a hexadecimal digit (0-9, A-F).");
  if (hex.length % 2) throw new Error(`${what} has ${hex.length} digits; each byte takes two.`);
  return Uint8Array.from(range(hex.length / 2), (i) => parseInt(hex.substr(2 * i, 2), 16));
}
const keyFromHex = (text) => hexToBytes(text, "The key in hex");
// ---- End of the core. ----

// Node's side: keys, texts and results are Buffers.
const toBuffer = (bytes) => Buffer.from(bytes.buffer, bytes.byteOffset, bytes.length);
class NodeBlowfish extends Blowfish {
  transform(data, encrypt) { return toBuffer(super.transform(data, encrypt)); }
}
const ciphers = new Map();
function cipher(key) {
  const name = Buffer.from(key).toString("latin1");
  if (!ciphers.has(name)) ciphers.set(name, new Blowfish(Buffer.from(key)));
  return ciphers.get(name);
}
const escape = (data, escaped = DEFAULT) => toBuffer(escapeBytes(Buffer.from(data), escaped));
const unescape = (text) => toBuffer(unescapeBytes(Buffer.from(text)));

// The escaped cipher text that "EncryptString$(" gives for `text` (a Buffer).
const encryptString = (key, text, escaped = DEFAULT) =>
  toBuffer(encryptStringBytes(cipher(key), Buffer.from(text), escaped));
// The text that "DecryptString$(" gives for an escaped cipher text.
const decryptString = (key, text) => toBuffer(decryptStringBytes(cipher(key), Buffer.from(text)));
// Both halves that "EncryptInteger(" gives, as the game's signed integers.
const encryptInt = (key, l, r) => cipher(key).encryptBlock(l >>> 0, r >>> 0).map((w) => w | 0);
const decryptInt = (key, l, r) => cipher(key).decryptBlock(l >>> 0, r >>> 0).map((w) => w | 0);
// A file's bytes as "Encrypt a File" leaves them: padded with zeros to whole blocks, or
// without padding the final piece of 1 to 7 bytes left as it is.
const fileBytes = (data, padding) =>
  padding ? padBytes(Buffer.from(data)) : new Uint8Array(Buffer.from(data));
const encryptFile = (key, data, padding = true) =>
  toBuffer(cipher(key).transformInPlace(fileBytes(data, padding), true));
const decryptFile = (key, data, padding = true) =>
  toBuffer(cipher(key).transformInPlace(fileBytes(data, padding), false));

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
// The key bytes a key text stands for: its Windows-1252 bytes, the game's own encoding.
function keyBytesFromText(text) {
  try {
    return toBuffer(keyFromText(text));
  } catch (error) {
    if (error.character === undefined) throw error;
    throw new KeyTextError(`the key text holds ${error.character} (${error.codePoint}), ` +
                           "which Windows-1252 has no byte for; give the key in hexadecimal");
  }
}

module.exports = {
  Blowfish: NodeBlowfish, DEFAULT, INTERNET, URL_SAFE, escape, unescape, encryptString,
  decryptString, encryptInt, decryptInt, encryptFile, decryptFile, rawQueryValue, runOperation,
  cipherTextError, keyBytesFromText, KeyTextError, setupFilter, PRESETS,
};
if (require.main === module) process.exitCode = main(process.argv.slice(2));
