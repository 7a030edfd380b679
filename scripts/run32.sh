#!/usr/bin/env bash
# Runs a command where `wine` runs 32-bit Windows programs: on this machine when it executes
# 32-bit code, inside a QEMU guest (scripts/guest/boot.sh) when it does not. The command
# finds a ready private prefix, quiet Wine and a display (Xvfb when none is set).
#   RUN32=auto (default) chooses; RUN32=native insists on this machine; RUN32=guest insists
#   on the guest, so that both ways can be checked anywhere.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || { echo "usage: scripts/run32.sh COMMAND [ARGS...]" >&2; exit 64; }

mode=${RUN32:-auto}
case "$mode" in
auto)
    if "$here/scripts/ia32-check.sh" 2>/dev/null; then mode=native; else mode=guest; fi ;;
native)
    if ! "$here/scripts/ia32-check.sh"; then
        echo "run32: RUN32=native, but this machine cannot execute 32-bit programs;" \
             "use RUN32=guest (or leave RUN32 unset)" >&2
        exit 1
    fi ;;
guest) ;;
*)
    echo "run32: RUN32 is '$mode'; it takes auto, native or guest" >&2
    exit 64 ;;
esac
if [ "$mode" = guest ]; then
    echo "run32: running in a QEMU guest whose kernel executes 32-bit code" >&2
    exec "$here/scripts/guest/boot.sh" "$0" "$@"
fi

export WINEPREFIX="${CIPHREL_WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "${DISPLAY:-}" ]; then
    exec env CIPHREL_RUN32_OWN_DISPLAY=1 xvfb-run -a "$0" "$@"
fi

# The prefix is set up once, with stdio detached: Wine's background services inherit the
# caller's output and would hold it open. A crash must fail at once, not wait for a dialog;
# without a window manager, Wine must manage its own windows or it waits on each one.
# CIPHREL_WINEPREFIX may name a folder of the user's (their own prefix, say): only a folder
# carrying this script's mark is ever removed, and a folder with other files is left alone.
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    [ -f "$WINEPREFIX/.ciphrel-ready" ] && exit 0
    if [ -f "$WINEPREFIX/.ciphrel-made" ]; then
        # Made here, but its making was cut short and cannot be finished: make it again.
        rm -rf "$WINEPREFIX"
    elif [ -e "$WINEPREFIX" ] && [ -n "$(ls -A "$WINEPREFIX" 2>&1 || echo unreadable)" ]; then
        echo "run32: $WINEPREFIX was not made by scripts/run32.sh and is not an empty" \
             "folder, so it is left alone; name a new or empty folder in CIPHREL_WINEPREFIX" >&2
        exit 1
    fi
    mkdir -p "$WINEPREFIX" && touch "$WINEPREFIX/.ciphrel-made" || exit 1
    if ! timeout 900 wine wineboot -i >/dev/null 2>&1 </dev/null; then
        echo "run32: Wine could not set up its prefix in $WINEPREFIX" >&2
        exit 1
    fi
    timeout 120 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
        /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
    timeout 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed \
        /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null
    touch "$WINEPREFIX/.ciphrel-ready"
) 9>"$WINEPREFIX.lock" || exit 1

# A persistent server, and Wine's services started now with stdio detached: later Wine
# programs then start none that would inherit (and hold open) the caller's output. The
# server stays until `wineserver -k`: here when the display is ours and goes with us, else
# at the end of make test.
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
[ -n "${CIPHREL_RUN32_OWN_DISPLAY:-}" ] || exec "$@"
"$@"
status=$?
wineserver -k </dev/null >/dev/null 2>&1
exit $status
