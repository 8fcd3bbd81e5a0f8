#!/usr/bin/env bash
# Writes the PKCS#12 files that the tool test imports: a page developer's key and self-signed
# certificate, protected the legacy way (SHA-1/3DES, what older platforms read) and the OpenSSL 3
# way (AES-256, PBKDF2), plus files that must be refused.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -keyout dev.key -out dev.crt -days 3650 \
    -subj "/C=CN/O=Example/CN=Page Developer" 2>/dev/null
openssl x509 -in dev.crt -outform DER -out dev.der
openssl pkcs12 -export -in dev.crt -inkey dev.key -out dev-legacy.p12 -passout pass:secret \
    -certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1
openssl pkcs12 -export -in dev.crt -inkey dev.key -out dev-aes.p12 -passout pass:secret
openssl pkcs12 -export -in dev.crt -nokeys -out nokey.p12 -passout pass:secret \
    -certpbe PBE-SHA1-3DES -macalg sha1
: >empty.bin
head -c 2000000 /dev/zero >big.bin
echo "PKCS#12 files in $dir"
