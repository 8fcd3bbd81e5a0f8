#!/usr/bin/env bash
# Checks with OpenSSL the signatures that the CryptoAPI test wrote (byte order already reversed).
set -euo pipefail
dir=$1
for alg in sha1 md5; do
    openssl dgst -$alg -verify "$dir/pub.der" -keyform DER -signature "$dir/$alg.sig" "$dir/data.bin"
done
# A changed message must be refused.
printf 'tampered' >"$dir/other.bin"
if openssl dgst -sha1 -verify "$dir/pub.der" -keyform DER -signature "$dir/sha1.sig" "$dir/other.bin"; then
    echo "tampered data verified" >&2
    exit 1
fi
