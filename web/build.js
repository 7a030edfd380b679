// Writes web/ciphrel.html: web/template.html with the core of kit/ciphrel.js in place of its
// marker, so that the page is one file that opens from disk and runs the kit's own code.
//   node web/build.js           write the page
//   node web/build.js --check   exit 1 when the page differs from what would be written
"use strict";
const fs = require("fs");
const path = require("path");

const kit = fs.readFileSync(path.join(__dirname, "..", "kit", "ciphrel.js"), "utf8");
const template = fs.readFileSync(path.join(__dirname, "template.html"), "utf8");
const begin = kit.indexOf("// ---- The core:"), end = kit.indexOf("// ---- End of the core.");
if (begin < 0 || end < begin || !template.includes("/* CORE */")) {
  throw new Error("the core's markers in kit/ciphrel.js or web/template.html are missing");
}
const page = template.replace("/* CORE */", () => kit.slice(begin, end).trimEnd());
const target = path.join(__dirname, "ciphrel.html");
if (process.argv[2] === "--check") {
  const current = fs.existsSync(target) ? fs.readFileSync(target, "utf8") : "";
  if (current !== page) {
    console.error("web/ciphrel.html is out of date: run node web/build.js");
    process.exitCode = 1;
  }
} else {
  fs.writeFileSync(target, page);
}
