#!/usr/bin/env bash
# Exit 0 when this machine executes 32-bit x86 programs, 1 when it does not (the reason on
# stderr). It asks the only honest way: it runs a tiny 32-bit program and reads its status.
# CIPHREL_IA32_PROBE names another program to ask instead (the tests use one that cannot run).
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
probe=${CIPHREL_IA32_PROBE:-$here/build/ia32_probe}
if [ -z "${CIPHREL_IA32_PROBE:-}" ] &&
   { [ ! -x "$probe" ] || [ "$here/scripts/probe/ia32_probe.S" -nt "$probe" ]; }; then
    mkdir -p "$(dirname "$probe")"
    if ! as --32 -o "$probe.o" "$here/scripts/probe/ia32_probe.S" ||
       ! ld -m elf_i386 -o "$probe" "$probe.o"; then
        echo "ia32-check: cannot build the 32-bit probe (binutils with i386 support needed)" >&2
        exit 1
    fi
    rm -f "$probe.o"
fi
"$probe" 2>/dev/null
status=$?
if [ $status -ne 32 ]; then
    echo "ia32-check: this machine does not execute 32-bit x86 programs (the probe gave" \
         "status $status, not 32)" >&2
    exit 1
fi
exit 0
