#!/bin/sh
# auth-user-pass-verify via-file: $1 is the file of accepted accounts (user name and
# password on two lines each), $2 the file openvpn wrote (the same two lines).
set -eu
user=$(sed -n 1p "$2")
password=$(sed -n 2p "$2")
while IFS= read -r u && IFS= read -r p; do
  [ "$u" = "$user" ] && [ "$p" = "$password" ] && exit 0
done <"$1"
exit 1
