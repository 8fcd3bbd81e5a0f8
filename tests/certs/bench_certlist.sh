#!/usr/bin/env bash
# bench_certlist.sh BUILD: GetCertList with 10, 100 and 1000 certificates in "MY" of BUILD's
# test prefix; prints milliseconds per call. Do not run it while ctest runs in BUILD.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
wine_dir="$here/../wine"
QUORVAN_KEEP_PREFIX=1 "$wine_dir/up.sh" "$build/wine" >/dev/null
trap '"$wine_dir/down.sh" "$build/wine" >/dev/null 2>&1 || true' EXIT
"$wine_dir/run.sh" "$build/wine" "$build/tests/certs/bench_certlist.exe" | tr -d '\r'
