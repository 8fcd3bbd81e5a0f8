#!/usr/bin/env bash
# Demo piece: a page starts monitoring the software USB key and prints each callback, while the
# page's script pulls the key out and puts it back with the softtoken tool.
# scripts/demo/monitor.sh [BUILD [WINE_STATE]]: scripts/demo.sh passes its build tree and its
# running prefix; alone, the piece builds in build/demo and brings up a prefix of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/demo}
state=${2:-}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
fi
cmake --build "$build" -j2 --target npQuorvan nphost softtoken >/dev/null
if [ -z "$state" ]; then
    state="$build/wine"
    "$root/tests/wine/up.sh" "$state" >/dev/null
    trap '"$root/tests/wine/down.sh" "$state" >/dev/null' EXIT
fi
run() { "$root/tests/wine/run.sh" "$state" "$@"; }
winpath() { local p=${1//\//\\\\}; printf 'Z:%s' "$p"; }   # as a JScript string body

tool="$build/testsupport/softtoken/softtoken.exe"
run "$tool" install >/dev/null
run "$tool" init --pin 1234 >/dev/null

page="$build/monitor-demo.js"
cat >"$page" <<EOF
var TOOL = "\"$(winpath "$tool")\"";
var P11 = "$(winpath "$build/testsupport/softtoken/QuorvanSoftP11.dll")";
function onKeyOut(state) {
    print("  page: onKeyOut(" + state + ") - the key was " + (state == 1 ? "pulled out" : "put back"));
}
function key(action) {
    print("demo: softtoken " + action);
    run(TOOL + " " + action);
}
print("page: StartUKeyMonitoring(\"onKeyOut\", 200, \"QuorvanSoftP11.dll\") -> " +
      plugin.StartUKeyMonitoring("onKeyOut", 200, P11));
setTimeout(function () { key("remove");
  setTimeout(function () { key("insert");
    setTimeout(function () { print("page: done"); done(); }, 1500); }, 1500); }, 800);
EOF
echo "A page monitors the software USB key (callback onKeyOut, delay 200 ms):"
# The tool's own messages go to stderr; only the page's lines are shown.
run "$build/testsupport/nphost/nphost.exe" "$build/plugin/npQuorvan.dll" --page "$page" --timeout 30 \
    | grep -E '^(page|  page|demo):' || echo "the page did not finish" >&2
run "$tool" uninstall >/dev/null
