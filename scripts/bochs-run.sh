#!/usr/bin/env bash
# Runs a ROM made by tools/bochs/make-rom.sh on Bochs's Tiger Lake model (AVX-512 at 32
# bits, whatever this machine's processor offers) and judges it by its output: it passes
# when the program's last line reads "N passed, 0 failed" with N > 0. Bochs itself exits 1
# even after a clean shutdown, so its status says nothing.
# Usage: bochs-run.sh <rom> [seconds allowed, default 120]
set -u
rom=$(realpath "$1")
seconds=${2:-120}
if ! command -v bochs >/dev/null; then
    echo "bochs-run: bochs is missing: run scripts/install-deps.sh as root" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Bochs insists on a VGA ROM, which only a BIOS would call: an empty option ROM (signature,
# one 512-byte block, bytes summing to zero) does, without the vgabios package.
{ printf '\x55\xaa\x01'; head -c 509 /dev/zero; } >"$work/vga.rom"
# No BIOS, no disk: our ROM is the firmware. The terminal display is the only one built in
# without X, and wants TERM set; port 0xE9 carries the program's output to ours.
cat >"$work/bochsrc" <<RC
romimage: file="$rom"
vgaromimage: file="$work/vga.rom"
cpu: model=tigerlake, reset_on_triple_fault=0
megs: 32
display_library: term
port_e9_hack: enabled=1
panic: action=fatal
error: action=report
log: $work/bochs.log
RC
# The internal debugger stops before the first instruction: tell it to go, then quit.
printf 'continue\nquit\n' >"$work/commands"
cd "$work"
# Bochs ignores SIGTERM, so a hung run is killed outright.
TERM=dumb timeout --foreground -s KILL "$seconds" \
    bochs -q -f "$work/bochsrc" -rc "$work/commands" </dev/null >"$work/out" 2>&1
status=$?
# Keep the program's lines; the terminal display's escape codes and Bochs's own chatter go.
grep -a -E '^(path |chosen at load|chosen by measurement|load chose|[0-9]+ passed, [0-9]+ failed)' "$work/out" \
    | tr -d '\r' >"$work/program"
cat "$work/program"
if [ $status -eq 137 ]; then
    echo "bochs-run: Bochs did not finish within $seconds s" >&2
    exit 1
fi
summary=$(tail -n 1 "$work/program")
if [[ $summary =~ ^[1-9][0-9]*\ passed,\ 0\ failed$ ]]; then
    exit 0
elif [[ $summary =~ ^[0-9]+\ passed,\ [0-9]+\ failed$ ]]; then
    exit 1
fi
# No summary: the program faulted (no interrupt table, so Bochs names the faulting EIP) or
# never started.
echo "bochs-run: the program ended without its summary line; Bochs said:" >&2
grep -a -E 'PANIC|exception|EIP=' "$work/bochs.log" | tail -n 8 >&2
exit 1
