#!/usr/bin/env bash
# Creates the test run's Wine prefix and X display: a fresh prefix under the build tree (never
# ~/.wine), a private Xvfb whose pid is kept so that only it is stopped, and a persistent
# wineserver so that each test program starts fast.
set -euo pipefail
mkdir -p "$1"
# Wine's daemons (wineserver, services.exe, winedevice.exe) outlive this script; if they held
# ctest's output pipe, ctest would wait for them forever. So the work runs with its output in
# a log, and only this outer shell, which ends at once, talks to ctest.
if [ -z "${QUORVAN_UP_INNER:-}" ]; then
    rc=0
    QUORVAN_UP_INNER=1 "$0" "$@" </dev/null >"$1/up.log" 2>&1 || rc=$?
    cat "$1/up.log"
    exit $rc
fi
here=$(dirname "$0")
"$here/down.sh" "$1" >/dev/null 2>&1 || true
source "$here/env.sh" "$1"

# Xvfb picks a free display itself and tells which on fd 3.
rm -f "$state/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state/display.tmp" >/dev/null 2>&1 &
echo $! >"$state/xvfb.pid"
for _ in $(seq 100); do
    [ -s "$state/display.tmp" ] && break
    sleep 0.1
done
[ -s "$state/display.tmp" ] || { echo "Xvfb did not start" >&2; exit 1; }
echo ":$(tr -d '\n' <"$state/display.tmp")" >"$state/display"
rm -f "$state/display.tmp"
export DISPLAY=$(cat "$state/display")

if [ -n "${QUORVAN_KEEP_PREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ]; then
    : # developer shortcut: reuse the prefix of the previous run
else
    rm -rf "$WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1
    # Dialog texts are in 宋体; map it to an installed CJK font so that screenshots are legible.
    for name in 宋体 SimSun; do
        "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
            /v "$name" /t REG_SZ /d "WenQuanYi Zen Hei" /f >/dev/null 2>&1
    done
    wineserver -w
fi
wineserver -p >/dev/null 2>&1 </dev/null
echo "prefix $WINEPREFIX on display $DISPLAY"
