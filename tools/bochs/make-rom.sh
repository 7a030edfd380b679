#!/usr/bin/env bash
# Turns a program linked for the Bochs boot ROM (a mingw PE with .text at 1 MiB) into the
# ROM image: the program's bytes behind rom.S, which jumps to its entry point.
# Usage: make-rom.sh <program.exe> <entry symbol> <rom output>
set -euo pipefail
program=$1 entry_symbol=$2 rom=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(dirname "$rom")
i686-w64-mingw32-objcopy -O binary "$program" "$work/program.bin"
entry=$(i686-w64-mingw32-nm "$program" | awk -v s="$entry_symbol" '$3 == s { print "0x" $1 }')
if [ -z "$entry" ]; then
    echo "make-rom: no symbol $entry_symbol in $program" >&2
    exit 1
fi
as --32 --defsym ENTRY="$entry" -I "$work" -o "$work/rom.o" "$here/rom.S"
ld -m elf_i386 -Ttext=0xFFF00000 -e 0xFFFFFFF0 --oformat binary -o "$rom" "$work/rom.o"
rm -f "$work/rom.o" "$work/program.bin"
