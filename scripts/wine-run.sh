#!/usr/bin/env bash
# Runs a Windows program of the build under Wine with a private, quiet prefix.
# Exits 77 (a skipped test for CTest) when this machine cannot execute 32-bit x86 code.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${CIPHREL_WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if ! "$here/scripts/wine-ready.sh"; then
    echo "skipped: this machine cannot run 32-bit Windows code under Wine" >&2
    echo "         (see scripts/wine-ready.sh); the module was built and checked statically" >&2
    exit 77
fi
exec wine "$@"
