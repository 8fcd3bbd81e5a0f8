#!/usr/bin/env bash
# make_dll32.sh COMPILER DIR: 32-bit DLLs under the soft token's file names, for the test of
# `softtoken install --dll32` in a 64-bit build tree. Registration and placement are what that
# test checks; no 32-bit program can load them on a machine that runs no 32-bit code.
set -euo pipefail
cc=$1 dir=$2
mkdir -p "$dir"
src=$(mktemp --suffix=.c)
trap 'rm -f "$src"' EXIT
echo 'int __stdcall DllMain(void* module, unsigned long reason, void* reserved) { return 1; }' >"$src"
for name in QuorvanSoftCsp QuorvanSoftP11; do
    "$cc" -shared -nostdlib -e _DllMain@12 -o "$dir/$name.dll" "$src"
done
echo "32-bit stand-ins in $dir"
