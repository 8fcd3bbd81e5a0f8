#!/usr/bin/env bash
# Stops what up.sh started for this build tree: its wineserver and its Xvfb (by pid).
set -uo pipefail
source "$(dirname "$0")/env.sh" "$1" 2>/dev/null
[ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
if [ -f "$state/xvfb.pid" ]; then
    pid=$(cat "$state/xvfb.pid")
    kill "$pid" 2>/dev/null && for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$state/xvfb.pid" "$state/display"
fi
exit 0
