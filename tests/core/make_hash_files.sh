#!/usr/bin/env bash
# make_hash_files.sh DIR: writes the reference files of the hashing tests into DIR, and
# DIR/expected.txt with one line per file: name, MD5 and SHA-1 in Base64, as the host's md5sum
# and sha1sum compute them.
set -euo pipefail
dir=$1
mkdir -p "$dir"
rm -f "$dir"/*.bin "$dir/expected.txt"
b64() { cut -d' ' -f1 | xxd -r -p | base64 -w0; }
# Sizes around the 8192-byte read chunk, and one of several MiB that ends mid-chunk.
for size in 0 1 8191 8192 8193 16384 5242999; do
    name=f$size.bin
    head -c "$size" /dev/urandom >"$dir/$name"
    echo "$name $(md5sum <"$dir/$name" | b64) $(sha1sum <"$dir/$name" | b64)" >>"$dir/expected.txt"
done
cat "$dir/expected.txt"
