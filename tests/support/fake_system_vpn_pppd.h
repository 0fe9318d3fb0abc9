#pragma once

namespace hw::test {

// Plays pppd for a link that cannot come up here (no /dev/ppp): reads its
// options file, brings "IP" up through the ip-up script, and on TERM runs
// ip-down and exits 5 as pppd does. A user "reject-N" fails with exit N.
inline constexpr char kStandInPppd[] = R"SH(#!/bin/sh
opts="$2"
value() { sed -n "s/^$1 \"\{0,1\}\([^\"]*\)\"\{0,1\}\$/\1/p" "$opts"; }
user=$(value user); ipparam=$(value ipparam); up=$(value ip-up-script); down=$(value ip-down-script)
echo "stand-in pppd: link for $user" >> "$(value logfile)"
case "$user" in reject-*) exit "${user#reject-}" ;; esac
trap '"$down" ppp9 /dev/pts/9 0 10.64.0.2 10.64.0.1 "$ipparam"; exit 5' TERM
"$up" ppp9 /dev/pts/9 0 10.64.0.2 10.64.0.1 "$ipparam"
while :; do sleep 5 & wait $!; done
)SH";

}  // namespace hw::test
