#!/usr/bin/env bash
# bench_hashfile.sh BUILD [SIZE_MIB]: HashFile benchmark on a file of SIZE_MIB (default 1024)
# MiB: bench_hashfile.exe under Wine (HashFile and the 1 MiB-read loop), and the host's md5sum
# and sha1sum on the same file. Prints figures and both ratios. Uses BUILD's test prefix: do not
# run it while ctest runs in BUILD.
set -euo pipefail
build=$(cd "$1" && pwd)
size=${2:-1024}
here=$(cd "$(dirname "$0")" && pwd)
wine_dir="$here/../wine"
file="$build/bench/hash_${size}MiB.bin"
mkdir -p "$build/bench"
if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" -ne $((size * 1048576)) ]; then
    head -c $((size * 1048576)) /dev/urandom >"$file"
fi
cat "$file" >/dev/null  # into the page cache, for every contender alike

seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N); echo "$e - $s" | bc -l; }
host_md5=$(seconds md5sum "$file")
host_sha1=$(seconds sha1sum "$file")

QUORVAN_KEEP_PREFIX=1 "$wine_dir/up.sh" "$build/wine" >/dev/null
trap '"$wine_dir/down.sh" "$build/wine" >/dev/null 2>&1 || true' EXIT
out=$("$wine_dir/run.sh" "$build/wine" "$build/tests/core/bench_hashfile.exe" "Z:$file")
out=$(tr -d "\r" <<<"$out")
echo "$out"
for alg in md5 sha1; do
    line=$(grep "^result $alg " <<<"$out") || continue
    hf=$(awk '{print $4}' <<<"$line")
    loop=$(awk '{print $6}' <<<"$line")
    host=$host_md5; [ $alg = sha1 ] && host=$host_sha1
    printf '%-4s host %ssum %.3f s; HashFile/1MiB-loop %.3f; HashFile/host %.3f\n' \
        $alg $alg "$host" "$(echo "$hf / $loop" | bc -l)" "$(echo "$hf / $host" | bc -l)"
done
