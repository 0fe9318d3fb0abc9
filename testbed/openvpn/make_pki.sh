#!/bin/sh
# Makes a throw-away PKI for the test openvpn server in the given folder:
# ca.crt, server.crt/.key, tls-crypt.key. Never committed; made at test time.
set -eu
dir=$1
mkdir -p "$dir"
cd "$dir"
umask 077
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj /CN=havenway-test-ca -keyout ca.key -out ca.crt 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -subj /CN=havenway-test-server -keyout server.key -out server.csr 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyAgreement\nextendedKeyUsage=serverAuth\n' > server.ext
openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
    -extfile server.ext -out server.crt 2>/dev/null
openvpn --genkey tls-crypt tls-crypt.key
rm -f server.csr server.ext
