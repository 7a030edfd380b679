#!/usr/bin/env bash
# Runs a Windows program of the 64-bit build under 64-bit Wine with a private, quiet prefix,
# on a virtual display when none is set (the setup dialog tests open real windows).
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${CIPHREL_WINEPREFIX64:-$here/build/wineprefix64}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# The `wine` launcher starts the 32-bit loader whenever it is installed, and that loader
# cannot start where the kernel runs no 32-bit code; the 64-bit loader is called directly.
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || true)
if [ -z "$wine64" ] || [ ! -x "$wine64" ]; then
    echo "wine64-run: no 64-bit Wine loader (run scripts/install-deps.sh as root)" >&2
    exit 1
fi
export WINELOADER="$wine64"

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a "$0" "$@"
fi

# Set the prefix up once, with stdio detached: Wine's background services inherit the
# caller's output and would hold it open. A crash must fail at once, not wait for a dialog.
# Without a window manager on the display, Wine waits seconds for one to release each
# closed window unless it manages its windows itself.
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [ ! -f "$WINEPREFIX/.ciphrel-ready" ]; then
        if ! timeout 600 "$wine64" wineboot -i >/dev/null 2>&1 </dev/null; then
            echo "wine64-run: Wine could not set up its prefix in $WINEPREFIX" >&2
            exit 1
        fi
        timeout 120 "$wine64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
            /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
        timeout 120 "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed \
            /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null
        touch "$WINEPREFIX/.ciphrel-ready"
    fi
) 9>"$WINEPREFIX.lock" || exit 1

# The program writes to a file, not to the caller's pipe, for the same reason; the file is
# shown once the program has ended.
log=$(mktemp)
"$wine64" "$@" >"$log" 2>&1 </dev/null
status=$?
cat "$log"
rm -f "$log"
exit $status
