# Sourced by the other scripts here: the environment of one build tree's Wine test prefix.
# $1 of the caller is the state folder (BUILD/wine); the prefix lives inside it.
state=$(cd "$1" 2>/dev/null && pwd || echo "$1")
export WINEPREFIX="$state/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installer prompt in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The ANSI code page follows the Unix locale: zh_CN gives 936 (GBK), as on the target systems.
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# Debian's "wine" starts the 32-bit loader whenever wine32 is installed; on a kernel without
# IA-32 emulation that loader cannot run, so 64-bit programs go straight to wine64 there.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    WINE=wine
else
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
fi
if [ -f "$state/display" ]; then
    DISPLAY=$(cat "$state/display")
    export DISPLAY
fi
