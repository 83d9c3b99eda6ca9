#!/usr/bin/env bash
# CTest's emulator for the Windows build: runs a test program under Wine. Wine sends a
# program's own output to its debug channel, so the results go through a file.
set -uo pipefail
program=$1
shift
out=$(mktemp --suffix=.txt)
trap 'rm -f "$out"' EXIT
if [[ "$program" != *tst_* ]]; then
  exec wine "$program" "$@"
fi
wine "$program" -o "$(winepath -w "$out" 2>/dev/null || echo "$out"),txt" "$@" >/dev/null 2>&1
rc=$?
cat "$out"
# The program's own verdict: its totals line, in case Wine loses the exit code.
grep -q '^Totals: .* 0 failed' "$out" || exit 1
exit "$rc"
