#!/usr/bin/env bash
# Builds the 64-bit DLL and the test browser in build/demo, then calls Base64Encode and
# Base64Decode on the plug-in through nphost, showing what a page would get back.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/demo"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$build" -j2 --target npQuorvan nphost test_nphost_cli >/dev/null

state="$build/wine"
"$root/tests/wine/up.sh" "$state" >/dev/null
trap '"$root/tests/wine/down.sh" "$state" >/dev/null' EXIT
run() { "$root/tests/wine/run.sh" "$state" "$build/testsupport/nphost/nphost.exe" "$build/plugin/npQuorvan.dll" "$@"; }

show() {
    local label=$1; shift
    local out rc=0
    out=$(run "$@") || rc=$?
    printf '%-42s -> %s (exit %d)\n' "$label" "$(printf '%s' "$out" | od -An -c | tr -s ' ' | head -c 200)" "$rc"
}
show 'Base64Encode("abc")' Base64Encode abc
show 'Base64Encode("")' Base64Encode ""
show 'Base64Decode("YWJj")' Base64Decode YWJj
show 'Base64Decode("YQBi") (zero byte ends it)' Base64Decode YQBi
show 'Base64Decode("1tDOxA==") (GBK bytes of 中文)' Base64Decode 1tDOxA==
show 'base64encode("abc") (unknown name)' base64encode abc
show 'HashData("abc", 1) (not yet built in)' HashData abc int:1
# Wine turns Unix command-line bytes into UTF-16 with the Unix locale, which is not generated
# on this machine; the Chinese case therefore runs nphost from a Windows process, which hands
# it a real UTF-16 command line.
echo 'Base64Encode("中文") through CreateProcessW (expects 1tDOxA==):'
"$root/tests/wine/run.sh" "$state" "$build/tests/plugin/test_nphost_cli.exe" | grep -E 'OK|FAILED|PASSED' || true
"$root/scripts/demo/monitor.sh" "$build" "$state"
