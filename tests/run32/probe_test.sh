#!/usr/bin/env bash
# The 32-bit probe answers both ways, and RUN32=native refuses clearly where it must.
# "Yes" is checked against the 32-bit Wine loader itself; "no" with a program that no
# kernel executes (an ELF header for another machine), as on a kernel without 32-bit code.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
failures=0
check() {  # description, expected status, command...
    local what=$1 expected=$2; shift 2
    "$@" >/dev/null 2>"$work/err"; local status=$?
    [ "$status" -eq "$expected" ] && return
    echo "FAIL: $what: status $status, expected $expected"; cat "$work/err"; ((failures++))
}
printf '\177ELF\001\001\001\0\0\0\0\0\0\0\0\0\002\0\050\0' >"$work/foreign"
chmod +x "$work/foreign"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then runs=0; else runs=1; fi
check "probe agrees with the 32-bit Wine loader" "$runs" "$here/scripts/ia32-check.sh"
export CIPHREL_IA32_PROBE="$work/foreign"
check "a program no kernel runs means no" 1 "$here/scripts/ia32-check.sh"
check "RUN32=native refuses where 32-bit code cannot run" 1 env RUN32=native \
      "$here/scripts/run32.sh" true
grep -q "RUN32=guest" "$work/err" || { echo "FAIL: the refusal names no way out"; ((failures++)); }
check "an unknown RUN32 is a usage error" 64 env RUN32=sometimes "$here/scripts/run32.sh" true
echo "$((5 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
