#!/bin/sh
# Makes a throw-away PKI for a test openvpn server in the given folder: server.crt/.key
# and tls-crypt.key, signed by the CA in the second folder (ca.crt, ca.key) or by a new
# CA made here. Never committed; made at test time.
set -eu
dir=$1
ca_dir=${2:-}
mkdir -p "$dir"
cd "$dir"
umask 077
if [ -z "$ca_dir" ]; then
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
      -subj /CN=havenway-test-ca -keyout ca.key -out ca.crt 2>/dev/null
  ca_dir=$dir
elif [ "$ca_dir" != "$dir" ]; then
  cp "$ca_dir/ca.crt" ca.crt
fi
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -subj /CN=havenway-test-server -keyout server.key -out server.csr 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyAgreement\nextendedKeyUsage=serverAuth\n' > server.ext
openssl x509 -req -in server.csr -CA "$ca_dir/ca.crt" -CAkey "$ca_dir/ca.key" -CAcreateserial \
    -CAserial "$dir/ca.srl" -days 2 -extfile server.ext -out server.crt 2>/dev/null
openvpn --genkey tls-crypt tls-crypt.key
rm -f server.csr server.ext
