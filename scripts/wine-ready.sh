#!/usr/bin/env bash
# Succeeds when Wine can run the 32-bit module here: the machine executes 32-bit x86 code,
# and the private prefix is set up (warmed once, with stdio detached so that Wine's
# background services never hold a caller's output open).
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
mkdir -p "$build"
"$here/scripts/ia32-check.sh" || exit 1
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.ciphrel-ready" ]; then
    mkdir -p "$WINEPREFIX"
    if ! timeout 600 wine cmd /c exit >/dev/null 2>&1 </dev/null; then
        echo "wine-ready: Wine could not set up its prefix in $WINEPREFIX" >&2
        exit 1
    fi
    # A crash must fail the test at once, not wait for a debugger dialog.
    timeout 120 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD \
        /d 0 /f >/dev/null 2>&1 </dev/null
    touch "$WINEPREFIX/.ciphrel-ready"
fi
exit 0
