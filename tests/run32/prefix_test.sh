#!/usr/bin/env bash
# scripts/run32.sh and the folder in CIPHREL_WINEPREFIX: a folder of the user's is never
# removed nor changed, a new or empty one is made a prefix, one it made and did not finish
# is made again, a finished one is used as it is. Wine is a stand-in that logs its calls and
# the 32-bit probe one that answers yes, so this runs anywhere and quickly.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat >"$work/bin/wine" <<'EOF'
#!/bin/sh
echo "$*" >>"$WINE_LOG"
[ "$*" != "wineboot -i" ] || { mkdir -p "$WINEPREFIX" && touch "$WINEPREFIX/system.reg"; }
EOF
printf '#!/bin/sh\nexit 0\n' >"$work/bin/wineserver"
printf '#!/bin/sh\nexit 32\n' >"$work/bin/probe"
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" DISPLAY=:99 RUN32=native CIPHREL_IA32_PROBE="$work/bin/probe"
export WINE_LOG="$work/wine.log"
failures=0
fail() { echo "FAIL: $what: $*"; cat "$work/err"; ((failures++)); }
run() {  # run32.sh on the prefix $1; sets status and boots (wineboot calls)
    : >"$WINE_LOG"
    CIPHREL_WINEPREFIX=$1 "$here/scripts/run32.sh" touch "$work/ran" 2>"$work/err"
    status=$?
    boots=$(grep -c wineboot "$WINE_LOG")
}

what="a folder with a file of its own"
mkdir "$work/mine"; echo "keep me" >"$work/mine/notes.txt"
run "$work/mine"
[ "$status" -eq 1 ] || fail "status $status, expected 1"
[ "$(cat "$work/mine/notes.txt" 2>/dev/null)" = "keep me" ] || fail "its file is gone"
[ "$(ls -A "$work/mine")" = notes.txt ] || fail "its contents changed: $(ls -A "$work/mine")"
[ -s "$WINE_LOG" ] && fail "Wine ran: $(cat "$WINE_LOG")"
grep -q "$work/mine.*CIPHREL_WINEPREFIX" "$work/err" || fail "the message names no way out"
[ -e "$work/ran" ] && fail "the command ran"

what="a file where the folder should be"
echo "a file" >"$work/plain"
run "$work/plain"
[ "$status" -eq 1 ] && [ "$(cat "$work/plain")" = "a file" ] || fail "status $status"

for what in "a new folder" "an empty folder" "a prefix made here and cut short"; do
    prefix="$work/made"; rm -rf "$prefix" "$work/ran"
    case "$what" in
    "an empty folder") mkdir "$prefix" ;;
    *"cut short") mkdir "$prefix"; touch "$prefix/.ciphrel-made" "$prefix/half-done" ;;
    esac
    run "$prefix"
    [ "$status" -eq 0 ] && [ -e "$work/ran" ] || fail "status $status, or the command did not run"
    [ "$boots" -eq 1 ] && [ -f "$prefix/.ciphrel-ready" ] && [ -f "$prefix/system.reg" ] ||
        fail "no prefix made ($boots wineboot)"
    [ -e "$prefix/half-done" ] && fail "the unfinished prefix was kept"
done

what="a finished prefix"
echo "a save" >"$prefix/user-file"
run "$prefix"
[ "$status" -eq 0 ] && [ "$boots" -eq 0 ] && [ -f "$prefix/user-file" ] ||
    fail "status $status, $boots wineboot"

echo "$failures checks failed"
[ "$failures" -eq 0 ]
