#!/usr/bin/env bash
# make_certs.sh OUT: the test certificates, made with OpenSSL at test time. Two small CAs and
# user certificates with their keys (NAME.p12, password "test"; NAME.der; NAME.pem), listed in
# OUT/index in the store order the tests expect.
#
# A certificate store lists certificates in an order of the platform's own: Wine's "MY" (a
# registry store) gives them by descending SHA-1 thumbprint. So each certificate is re-issued
# with fresh serials until its thumbprint falls into the slice of its place in the list, which
# makes the store order of any subset the order of the list.
set -euo pipefail
rm -rf "$1"
mkdir -p "$1/ca"
out=$(cd "$1" && pwd)
cd "$out"

# name | subject | issuing CA | validity (start end, as openssl ca takes them)
certs=(
    "nocn|/C=CN/O=Example/OU=Nameless|ca1|valid"
    "alice|/C=CN/O=Example/CN=Alice|ca1|valid"
    "bob|/C=CN/O=Example/CN=Bob|ca1|valid"
    "nocn2|/C=CN/O=Example/OU=Also Nameless|ca1|valid"
    "alicia|/C=CN/O=Example/CN=Alicia|ca1|valid"
    "comma|/C=CN/O=Example/CN=Smith, John|ca1|valid"
    "expired|/C=CN/O=Example/CN=Old Expired|ca1|expired"
    "carol|/C=CN/O=Example/CN=Carol|ca2|valid"
    "chinese|/C=CN/O=Example/CN=张三|ca1|valid"
    "nokey|/C=CN/O=Example/CN=Dan Nokey|ca1|valid"
    "token|/C=CN/O=Example/CN=Token User|ca1|valid"
)

config() {  # config CA_DIR
    cat <<CNF
[ ca ]
default_ca = test_ca
[ test_ca ]
dir = $1
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir
default_md = sha256
policy = anything
unique_subject = no
email_in_dn = no
copy_extensions = none
x509_extensions = user
string_mask = utf8only
[ anything ]
countryName = optional
organizationName = optional
organizationalUnitName = optional
commonName = optional
[ user ]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, nonRepudiation, keyEncipherment
CNF
}

make_ca() {  # make_ca NAME SUBJECT
    mkdir -p "ca/$1"
    : >"ca/$1/index.txt"
    config "$out/ca/$1" >"ca/$1/openssl.cnf"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "ca/$1/key.pem" -out "ca/$1/cert.pem" \
        -subj "$2" -days 3650 -sha256 -utf8 2>/dev/null
    openssl x509 -in "ca/$1/cert.pem" -outform DER -out "$1.der"
}
make_ca ca1 "/C=CN/O=Example/CN=Example Root CA"
make_ca ca2 "/C=CN/O=Other Org/CN=Second Test CA"

count=${#certs[@]}
now=$(date -u +%Y%m%d%H%M%SZ)
next_year=$(date -u -d '+1 year' +%Y%m%d%H%M%SZ)
: >index
for ((p = 0; p < count; ++p)); do
    IFS='|' read -r name subject ca validity <<<"${certs[$p]}"
    openssl genrsa -out "$name.key" 1024 2>/dev/null
    openssl req -new -key "$name.key" -subj "$subject" -utf8 -out "$name.csr"
    if [ "$validity" = expired ]; then
        dates=(-startdate 20200101000000Z -enddate 20210101000000Z)
    else
        dates=(-startdate "$now" -enddate "$next_year")
    fi
    # Slice of the first thumbprint byte for place p: the highest slice for place 0.
    lo=$(( (count - 1 - p) * 256 / count ))
    hi=$(( (count - p) * 256 / count ))
    for ((try = 0; ; ++try)); do
        openssl rand -hex 8 >"ca/$ca/serial"
        openssl ca -batch -config "ca/$ca/openssl.cnf" -cert "ca/$ca/cert.pem" -keyfile "ca/$ca/key.pem" \
            -in "$name.csr" -out "$name.pem" -notext -preserveDN -utf8 "${dates[@]}" 2>/dev/null
        first=$(openssl x509 -in "$name.pem" -noout -fingerprint -sha1 | sed 's/.*=//' | cut -c1-2)
        first=$((16#$first))
        if [ "$first" -ge "$lo" ] && [ "$first" -lt "$hi" ]; then break; fi
        if [ "$try" -gt 500 ]; then echo "no thumbprint in [$lo,$hi) for $name" >&2; exit 1; fi
    done
    openssl x509 -in "$name.pem" -outform DER -out "$name.der"
    # SHA-1 and 3DES: the PKCS#12 protection that every CryptoAPI version imports.
    openssl pkcs12 -export -inkey "$name.key" -in "$name.pem" -out "$name.p12" -passout pass:test \
        -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1
    echo "$name" >>index
done
rm -f ./*.csr
echo "made $count certificates in $out"
