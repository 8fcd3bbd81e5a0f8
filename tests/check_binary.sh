#!/usr/bin/env bash
# check_binary.sh OBJDUMP FILE [EXPORT...]: the file stands alone (no MinGW runtime DLL among its
# imports) and exports each given name exactly, undecorated.
set -uo pipefail
objdump=$1 file=$2
shift 2
dump=$("$objdump" -p "$file") || { echo "cannot read $file"; exit 1; }
rc=0
if grep -qiE 'DLL Name: (libgcc|libstdc|libwinpthread)' <<<"$dump"; then
    echo "$file needs a runtime DLL:"; grep -iE 'DLL Name: lib' <<<"$dump"; rc=1
fi
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -nE 's/^\s*\[\s*[0-9]+\]\s+(\S+)$/\1/p')
for name in "$@"; do
    grep -qx "$name" <<<"$exports" || { echo "$file does not export $name"; rc=1; }
done
[ $rc -eq 0 ] && echo "$file: ok (${#@} exports checked)"
exit $rc
