#!/usr/bin/env bash
# verify_messages.sh MESSAGES CERTS: checks with OpenSSL every message listed in MESSAGES/manifest
# (written by the Wine tests): PKCS#7 signed-data, signature valid under the signer's
# certificate, the embedded content as recorded (exact bytes, or the decimal time within the
# recorded seconds), MD5 digest, the signer's certificate carried, no authenticated attributes.
set -euo pipefail
msgs=$1
certs=$2
manifest="$msgs/manifest"
[ -s "$manifest" ] || { echo "no messages in $manifest" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL $1: $2" >&2; failures=$((failures + 1)); }
failures=0
count=0
while read -r file signer kind a b; do
    msg="$msgs/$file"
    count=$((count + 1))
    verify=(openssl cms -verify -inform DER -in "$msg" -noverify -binary -out "$work/content" -certsout "$work/certs.pem")
    if ! "${verify[@]}" 2>"$work/err"; then
        # Wine's encoder leaves an empty content out of the message: then the signature must
        # hold over empty data given from outside.
        if [ "$kind" = bytes ] && [ ! -s "$msgs/$a" ] && grep -q 'no content' "$work/err" &&
            "${verify[@]}" -content "$msgs/$a" 2>"$work/err"; then
            echo "$file: empty content left out of the message; signature verified over empty data"
        else
            fail "$file" "signature not valid: $(cat "$work/err")"
            continue
        fi
    fi
    case $kind in
    bytes)
        cmp -s "$work/content" "$msgs/$a" || fail "$file" "content differs from the input" ;;
    time)
        t=$(cat "$work/content")
        if ! [[ $t =~ ^[0-9]{10}$ ]]; then
            fail "$file" "content '$t' is not ten digits"
        elif [ "$t" -lt $((a - 2)) ] || [ "$t" -gt $((b + 2)) ]; then
            fail "$file" "time $t outside $a..$b"
        fi ;;
    *) fail "$file" "unknown kind $kind" ;;
    esac
    # Exactly one certificate, the signer's own.
    n=$(grep -c 'BEGIN CERTIFICATE' "$work/certs.pem" || true)
    [ "$n" = 1 ] || fail "$file" "$n certificates in the message"
    got=$(openssl x509 -in "$work/certs.pem" -noout -fingerprint -sha1)
    want=$(openssl x509 -inform DER -in "$certs/$signer.der" -noout -fingerprint -sha1)
    [ "$got" = "$want" ] || fail "$file" "certificate is not $signer's"
    print=$(openssl cms -cmsout -print -inform DER -in "$msg" -noout)
    grep -q 'contentType: pkcs7-signedData' <<<"$print" || fail "$file" "not signed-data"
    grep -q 'eContentType: pkcs7-data' <<<"$print" || fail "$file" "inner content is not data"
    digests=$(grep -A1 -E 'digestAlgorithms?:' <<<"$print" | grep -c 'algorithm: md5' || true)
    [ "$digests" -ge 2 ] || fail "$file" "digest algorithm is not MD5 (message and signer)"
    grep -A1 'signedAttrs:' <<<"$print" | grep -q '<ABSENT>' || fail "$file" "has authenticated attributes"
    grep -q 'signingTime' <<<"$print" && fail "$file" "carries a signing time"
    outer=$(openssl asn1parse -inform DER -in "$msg")
    sed -n 2p <<<"$outer" | grep -q ':pkcs7-signedData' || fail "$file" "outer OID"
done <"$manifest"

# A changed content byte must be refused, or the checks above prove nothing.
first=$(awk '$3 == "bytes" { print $1; exit }' "$manifest")
cp "$msgs/$first" "$work/tampered"
# The embedded content: the first OCTET STRING after the pkcs7-data type, "OFFSET:d=N hl=H l=L".
read -r offset header length < <(openssl asn1parse -inform DER -in "$work/tampered" |
    awk '/:pkcs7-data/ { seen = 1; next }
         seen && /OCTET STRING/ { split($0, f, /[:= ]+/); o = f[2]; for (i = 1; i in f; ++i) { if (f[i] == "hl") h = f[i+1]; if (f[i] == "l") l = f[i+1] }; print o, h, l; exit }')
if [ -z "${length:-}" ] || [ "$length" -eq 0 ]; then
    fail "$first" "no embedded content found to tamper with"
else
    printf '\x01' | dd of="$work/tampered" bs=1 seek=$((offset + header)) conv=notrunc status=none
    if openssl cms -verify -inform DER -in "$work/tampered" -noverify -binary -out /dev/null 2>/dev/null; then
        fail "$first" "tampered message still verifies"
    fi
fi
echo "$count messages checked, $failures failures"
[ "$failures" = 0 ]
