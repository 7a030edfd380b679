#!/usr/bin/env bash
# Takes the picture of the setup dialog shown in the README (docs/setup-dialog.png): opens
# it for a new object under Wine on a private virtual display and crops to its frame.
# Needs the module build (make dist).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
program="$here/build/module/dialog_shot.exe"
output="${1:-$here/docs/setup-dialog.png}"
if [ ! -f "$program" ]; then
    echo "dialog-screenshot: $program is missing; run make dist first" >&2
    exit 1
fi

number=90
while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do
    number=$((number + 1))
done
work=$(mktemp -d)
Xvfb ":$number" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
server=$!
shot=""
cleanup() {
    touch "$work/close"
    [ -n "$shot" ] && wait "$shot" 2>/dev/null
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $2 tenths of a second for the file $1 to appear.
await() {
    local tries=0
    while [ ! -e "$1" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt "$2" ]; then return 1; fi
        sleep 0.1
    done
}
if ! await "/tmp/.X11-unix/X$number" 100; then
    echo "dialog-screenshot: Xvfb did not start on :$number" >&2
    exit 1
fi
export DISPLAY=":$number"

# The program writes the dialog's frame (left top width height) once the dialog is up, and
# closes the dialog when the file "close" appears. Wine sees the Unix root as drive Z:.
"$here/scripts/wine-run.sh" "$program" "Z:$work" &
shot=$!
if ! await "$work/frame" 1200; then
    echo "dialog-screenshot: the dialog did not open" >&2
    exit 1
fi
read -r left top width height <"$work/frame"
mkdir -p "$(dirname "$output")"
import -window root -crop "${width}x${height}+${left}+${top}" +repage "$output"
echo "dialog-screenshot: wrote $output (${width}x${height})"
