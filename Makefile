# Two commands do everything on a fresh Debian bookworm machine (as root):
#   make        installs what is missing, builds dist/ciphrel.dll and dist/ciphrel.exe
#               and runs the demo
#   make test   installs what is missing, builds and runs every test
#   make tool   installs what is missing and builds the Linux tool, build/native/ciphrel
#   make install   puts it in $(DESTDIR)$(PREFIX)/bin (PREFIX=/usr/local by default)
.PHONY: all deps module native sanitize fuzzers fuzz bench dist demo test tool install clean

JOBS ?= 2
PREFIX ?= /usr/local
FUZZ_SECONDS ?= 60
# Where the 32-bit module runs under Wine: auto (this machine when it executes 32-bit code,
# else a QEMU guest), native or guest (scripts/run32.sh).
RUN32 ?= auto
export RUN32
MAKEFLAGS += --no-print-directory
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -ec

all: dist demo

deps:
	@scripts/install-deps.sh

build/native/Makefile: deps
	@cmake --preset native >/dev/null
build/sanitize/Makefile: deps
	@cmake --preset sanitize >/dev/null
build/module/Makefile: deps
	@cmake --preset module >/dev/null
build/fuzz/Makefile: deps
	@cmake --preset fuzz >/dev/null

native: build/native/Makefile
	@cmake --build --preset native -j$(JOBS)
sanitize: build/sanitize/Makefile
	@cmake --build --preset sanitize -j$(JOBS)
module: build/module/Makefile
	@cmake --build --preset module -j$(JOBS)
fuzzers: build/fuzz/Makefile
	@cmake --build --preset fuzz -j$(JOBS)

# Every fuzz target for FUZZ_SECONDS each, one after the other; fails on any finding.
fuzz: fuzzers
	@scripts/run-fuzz.sh build/fuzz $(FUZZ_SECONDS)

# Speed beside OpenSSL's Blowfish, no pass or fail; run it on an otherwise idle machine.
# Then the page's file speed in headless Chromium, and "Encrypt a File" through
# dist/ciphrel.dll under 32-bit Wine, here or in the guest.
bench: native dist
	@build/native/bench/bench
	@/usr/bin/python3 bench/web_bench.py build/native/bench/openssl_loop
	@cp dist/ciphrel.dll build/module/ciphrel.dll
	@scripts/wine-run.sh build/module/dll_file_bench.exe

tool: build/native/Makefile
	@cmake --build build/native -j$(JOBS) --target ciphrel_cli

install: tool
	@install -D -s -m 755 build/native/ciphrel $(DESTDIR)$(PREFIX)/bin/ciphrel
	@echo "$(DESTDIR)$(PREFIX)/bin/ciphrel installed"

dist: module
	@mkdir -p dist
	@cp build/module/ciphrel.dll dist/ciphrel.dll
	@cp build/module/ciphrel.exe dist/ciphrel.exe
	@echo "dist/ciphrel.dll and dist/ciphrel.exe written"

# The demo plays a game session through the test host against dist/ciphrel.dll under
# 32-bit Wine, on this machine or in the guest.
demo: dist
	@cp dist/ciphrel.dll build/module/ciphrel.dll
	@scripts/wine-run.sh build/module/demo.exe

test: native sanitize module fuzzers
	@cd build/native && ctest --output-on-failure -j$(JOBS)
	@cd build/sanitize && ctest --output-on-failure -j$(JOBS)
	@cd build/fuzz && ctest --output-on-failure -L fuzz -j$(JOBS)
	@cd build/module && ctest --output-on-failure
	@if [ -d build/wineprefix ]; then \
	    WINEPREFIX=$(CURDIR)/build/wineprefix wineserver -k >/dev/null 2>&1 || true; fi

clean:
	rm -rf build dist
