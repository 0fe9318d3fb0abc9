#!/bin/sh
# auth-user-pass-verify via-file: $1 is the file of accepted pairs (user name
# and password on two lines) that the test wrote, $2 the file openvpn wrote.
set -eu
[ "$(sed -n 1p "$2")" = "$(sed -n 1p "$1")" ] && [ "$(sed -n 2p "$2")" = "$(sed -n 2p "$1")" ]
