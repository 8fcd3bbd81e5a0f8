#!/usr/bin/env bash
# run.sh STATE PROGRAM [ARGS...]: runs a Windows program in the test prefix of STATE.
# The program's output goes through a file: Wine may start its desktop process (explorer.exe)
# from the program, and that process, which outlives it, must not hold ctest's pipe open.
set -uo pipefail
source "$(dirname "$0")/env.sh" "$1" 2>/dev/null
shift
out=$(mktemp)
"$WINE" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
