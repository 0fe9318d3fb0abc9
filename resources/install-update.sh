#!/bin/sh
# Replaces the application folder with the one inside an update archive once
# the application has quit, then starts the application again. Whatever goes
# wrong, the old folder stays (or is put back) and is started instead, told
# with --update-refused that the update was not installed.
#   install-update.sh ARCHIVE BUNDLE
# Paths may hold any byte but NUL: they are never read back from a command's
# output, where a newline would split them.
set -eu
# The application that started us may have logged into a pipe that ends
# with it: no message of ours is worth stopping half-way for.
trap '' PIPE

# Said on standard error (the terminal, when started by hand) and kept in
# the application's log folder once that is known: the refused application's
# alert says that the log says why.
log_file=
log() {
    printf 'install-update: %s\n' "$*" >&2 2>/dev/null || true
    if [ -n "$log_file" ]; then
        printf '%s install-update: %s\n' "$(date -u '+%Y-%m-%d %H:%M:%S' 2>/dev/null)" "$*" >>"$log_file" 2>/dev/null || true
    fi
}

nl='
'
soh=$(printf '\001')

# Whether NAME=VALUE may be handed on to the application started again: a
# name of the desktop session, the user's folders, language or our own
# settings, and a value on one line.
may_pass() {
    case $1 in *"$nl"* | *"$soh"*) return 1 ;; esac
    name=${1%%=*}
    [ "$name" != "$1" ] || return 1
    case $name in '' | *[!A-Z0-9_]*) return 1 ;; esac
    case $name in
        DISPLAY | WAYLAND_DISPLAY | XAUTHORITY | DBUS_SESSION_BUS_ADDRESS | LANG | LANGUAGE | TZ | BROWSER) return 0 ;;
        XDG_?* | LC_?* | QT_?* | HAVENWAY_?*) return 0 ;;
    esac
    return 1
}

# Starts the application in the given folder, detached from this script,
# with any further arguments.
start_app() {
    app=$1
    shift
    if [ -x "$app/bin/havenway" ]; then
        (
            cd /
            trap - PIPE
            if [ -n "$session_env" ]; then
                while IFS= read -r pair; do
                    if may_pass "$pair"; then export "$pair"; fi
                done <<SESSION
$session_env
SESSION
            fi
            # Its output goes where ours does, as the quitting application's did.
            "$app/bin/havenway" "$@" </dev/null &
        )
    fi
}

# Whether a process still runs the application from this folder.
app_running() {
    [ -e "$1/bin/havenway" ] || return 1
    for p in /proc/[0-9]*; do
        # Same file, without a process per entry.
        if [ "$p/exe" -ef "$1/bin/havenway" ]; then return 0; fi
    done
    return 1
}

# Reads archive names on standard input; fails on any name that could land
# outside the unpacking folder, or outside the one top folder. Only a first
# sieve: the unpacked tree decides.
names_are_safe() {
    found=no
    while IFS= read -r name; do
        case $name in
            /*) log "refused an absolute name"; return 1 ;;
        esac
        case /$name/ in
            */../*|*/..\\*|*\\..\\*) log "refused a name with '..'"; return 1 ;;
        esac
        case $name in
            Havenway/*) found=yes ;;
            *) log "refused a name outside Havenway/"; return 1 ;;
        esac
    done
    [ "$found" = yes ]
}

# A count that shell arithmetic holds without overflow: digits only, at most
# 15 of them (beyond any bound below by far).
is_count() {
    case $1 in '' | *[!0-9]*) return 1 ;; esac
    [ "${#1}" -le 15 ]
}

# The identity of an ELF file (class, byte order, version, machine), or
# failure for anything else: empty, a script, no executable or library at
# all. The tree it is asked about holds no links by then.
elf_identity() {
    [ -f "$1" ] && [ -s "$1" ] || return 1
    # shellcheck disable=SC2046 # one word per byte
    set -- $(od -An -tx1 -v -N20 -- "$1" 2>/dev/null)
    [ "$#" -eq 20 ] && [ "$1$2$3$4" = 7f454c46 ] || return 1
    case ${17}${18} in 0200 | 0300 | 0002 | 0003) ;; *) return 1 ;; esac
    printf '%s\n' "$5 $6 $7 ${19}${20}"
}

# The application we start again must start on this machine, and reach the
# network (its first request opens the network module) to update again.
is_application() {
    here=$(elf_identity "/proc/$$/exe") || return 1
    [ -x "$1/bin/havenway" ] && [ "$(elf_identity "$1/bin/havenway")" = "$here" ] &&
        [ "$(elf_identity "$1/lib/havenway/havenway-network.so")" = "$here" ] &&
        [ -f "$1/share/havenway/install-update.sh" ] && [ ! -L "$1/share/havenway/install-update.sh" ]
}

# We get only PATH, USER, HOME and SHELL; the application we start again
# also needs its desktop session, which our parent (the quitting
# application) still has, and the user's folders, language and own settings,
# or it would start on other files than it quit on. Each entry is taken on
# its own: one holding a newline is dropped whole rather than split in two.
session_env=
if [ "$#" -eq 2 ] && [ "/proc/$PPID/exe" -ef "$2/bin/havenway" ]; then
    while IFS= read -r pair || [ -n "$pair" ]; do
        if may_pass "$pair"; then session_env=$session_env$pair$nl; fi
    done <<ENVIRON
$(tr '\n\000' '\001\n' <"/proc/$PPID/environ" 2>/dev/null || true)
ENVIRON
fi

me=$(id -u)
# Whether what stands at the path, when it is a link, is ours or root's: its
# owner may point it elsewhere whenever he likes, and a sticky folder lets him.
link_ok() {
    [ -L "$1" ] || return 0
    link_owner=$(stat -c %u -- "$1" 2>/dev/null) || return 1
    [ "$link_owner" = 0 ] || [ "$link_owner" = "$me" ]
}
# Whether a folder lets nobody but us and root change what is in it: ours or
# root's, and writable by no one else; with "sticky", others may write it if
# they cannot rename or remove what is not theirs. Group write counts too:
# it is also how an access list granting another user shows.
folder_ok() {
    link_ok "$1" || return 1
    info=$(stat -L -c '%u %a' -- "$1" 2>/dev/null) || return 1
    # shellcheck disable=SC2086 # two words
    set -- "$1" "$2" $info
    [ "$#" -eq 4 ] || return 1
    [ "$3" = 0 ] || [ "$3" = "$me" ] || return 1
    case $4 in '' | *[!0-7]*) return 1 ;; esac
    [ $((0$4 & 022)) -eq 0 ] && return 0
    [ "$2" = sticky ] && [ $((0$4 & 01000)) -ne 0 ]
}
# Whether nobody but us and root can put anything else where the path leads:
# the folder and every folder above it, as written and as resolved. With
# "sticky", the folder itself may be a shared sticky one.
private_folder() {
    # A name may end in a newline, which $(...) would take off.
    resolved=$(realpath -e -- "$1" 2>/dev/null && echo x) || return 1
    resolved=${resolved%"$nl"x}
    for start in "$1" "$resolved"; do
        case $start in /*) ;; *) return 1 ;; esac
        folder_ok "$start" "${2:-strict}" || return 1
        above=$start
        while [ "$above" != / ]; do
            above=${above%/*}
            [ -n "$above" ] || above=/
            folder_ok "$above" sticky || return 1
        done
    done
}

# The application's log folder, as it finds it: HAVENWAY_LOGS_DIR, else
# $XDG_STATE_HOME/havenway/logs, else under HOME; from the quitting
# application's session where we have it. Only an absolute path counts.
session_value() {
    printf '%s' "$session_env" | sed -n "s/^$1=//p" | head -n 1
}
logs_dir() {
    for candidate in "$(session_value HAVENWAY_LOGS_DIR)" "${HAVENWAY_LOGS_DIR:-}"; do
        case $candidate in /*) printf '%s\n' "$candidate"; return 0 ;; esac
    done
    for candidate in "$(session_value XDG_STATE_HOME)" "${XDG_STATE_HOME:-}" "${HOME:+$HOME/.local/state}"; do
        case $candidate in /*) printf '%s/havenway/logs\n' "$candidate"; return 0 ;; esac
    done
    return 1
}
# Makes the folder and those missing above it, one at a time: mkdir -p would
# follow a link another user put on the way, into his folder or ours. What is
# there already must be a folder nobody else can change.
make_folder() {
    set -- "$1" "${1%/}"
    if [ -n "$2" ] && [ "$2" != "$1" ]; then make_folder "$2"; return; fi
    if [ -e "$1" ] || [ -L "$1" ]; then
        [ -d "$1" ] && [ ! -L "$1" ] && private_folder "$1" sticky
        return
    fi
    set -- "$1" "${1%/*}"
    make_folder "${2:-/}" && (umask 077 && mkdir -- "$1") 2>/dev/null
}
# The folder is the user's own, 0700 as the application makes it; a link or
# a file in its place is left alone, and a log grown past 256 KiB starts anew.
# Nothing is written where another user could have put the folder or the
# file: in a private folder, what is checked here is still there when written.
if logs=$(logs_dir) && make_folder "$logs" && [ -d "$logs" ] && [ ! -L "$logs" ] &&
    private_folder "$logs"; then
    candidate=$logs/install-update.log
    if [ ! -L "$candidate" ] && { [ ! -e "$candidate" ] ||
        { [ -f "$candidate" ] && [ -O "$candidate" ] && [ "$(stat -c %h -- "$candidate" 2>/dev/null)" = 1 ]; }; }; then
        if [ -f "$candidate" ] && [ "$(wc -c <"$candidate" 2>/dev/null || echo 0)" -gt 262144 ]; then
            : >"$candidate" 2>/dev/null || true
        fi
        (umask 077 && : >>"$candidate") 2>/dev/null && log_file=$candidate
    fi
fi

work=
archive=
bundle=
# before: nothing touched; moved: the old folder is in $work/old; done.
phase=before
# Once tried, the archive is of no more use: a new attempt downloads it anew.
drop_archive() {
    if [ -n "$archive" ] && [ -f "$archive" ]; then rm -f -- "$archive" || true; fi
}
refuse() {
    trap - EXIT
    log "$1; the application is left as it was"
    if [ -n "$work" ]; then rm -rf -- "$work" || true; fi
    drop_archive
    start_app "$bundle" --update-refused
    exit 1
}
# Whatever stops this script on the way (a tool that fails, a value no
# check foresaw) is a refusal too: the old application starts again.
unexpected_end() {
    status=$?
    trap - EXIT
    [ "$phase" != done ] || exit "$status"
    if [ "$phase" = moved ] && [ ! -e "$bundle" ]; then
        mv -T -- "$work/old" "$bundle" || { log "could not put the old application back; it is in $work/old"; exit 1; }
    fi
    refuse "stopped unexpectedly (status $status)"
}

# An update is bounded by the application it replaces (4 times its size, at
# least 512 MiB), and a deflated stream may grow at most 100-fold: beyond
# either it fills the disk rather than installing anything.
max_ratio=100
min_bound_kib=524288

if [ "$#" -ne 2 ]; then log "usage: install-update.sh ARCHIVE BUNDLE"; exit 2; fi
case $1 in /*) ;; *) log "the archive path is not absolute"; exit 2 ;; esac
case $2 in /*) ;; *) log "the application path is not absolute"; exit 2 ;; esac
archive=$1
bundle=$2
while [ "$bundle" != / ] && [ "${bundle%/}" != "$bundle" ]; do bundle=${bundle%/}; done
parent=${bundle%/*}
[ -n "$parent" ] || parent=/

# Bounded: the application quits right after starting us.
waited=0
while app_running "$bundle"; do
    if [ "$waited" -ge 60 ]; then log "the application is still running"; drop_archive; exit 1; fi
    sleep 1
    waited=$((waited + 1))
done
trap unexpected_end EXIT

if [ ! -d "$bundle" ] || [ -L "$bundle" ]; then refuse "the application path is not a folder"; fi
if [ ! -w "$bundle" ] || [ ! -w "$parent" ]; then refuse "the application folder cannot be replaced"; fi
# Another user's folder is not ours to replace, even where its mode lets us:
# what he keeps in it we could neither install over nor clear away.
bundle_owner=$(stat -c %u -- "$bundle" 2>/dev/null) || refuse "the application folder cannot be read"
[ "$bundle_owner" = "$me" ] || [ "$bundle_owner" = 0 ] || refuse "the application folder belongs to another user"
# Between the two renames below, whoever else may write the parent could put
# a link where the application was, and have the new tree land in his folder.
private_folder "$parent" || refuse "another user can change the folder the application is in"
if [ ! -f "$archive" ]; then refuse "no archive"; fi

current_kib=$(cd -- "$bundle" && du -sk . 2>/dev/null | cut -f1) || true
is_count "${current_kib:-0}" || refuse "the application's size is unreadable"
bound_kib=$(( ${current_kib:-0} * 4 ))
[ "$bound_kib" -ge "$min_bound_kib" ] || bound_kib=$min_bound_kib
free_kib() { (cd -- "$parent" && df -Pk . 2>/dev/null | awk 'NR == 2 { print $4 }') || true; }

# Everything below reads one private copy, beside the application so that
# the swap is a rename on one file system: the archive's own name may be
# renamed over at any moment, by whoever can write its folder.
packed=$(stat -L -c %s -- "$archive" 2>/dev/null) || refuse "the archive cannot be read"
is_count "$packed" || refuse "the archive's size is unreadable"
packed_kib=$(( (packed + 1023) / 1024 ))
free=$(free_kib)
if ! is_count "$free" || [ "$free" -lt $(( packed_kib + 1024 )) ]; then
    refuse "not enough free space beside the application"
fi
work=$(mktemp -d "$parent/.havenway-update.XXXXXX") || refuse "no room to unpack"
copy=$work/update.zip
# An archive is never larger than what it may unpack to; one that grows
# while copied is cut off there (dash counts 512-byte blocks). Opened without
# waiting: a fifo renamed into its place gives nothing rather than a wait
# for ever.
( ulimit -f $(( bound_kib * 2 )) 2>/dev/null
  exec dd if="$archive" of="$copy" bs=65536 iflag=nonblock status=none ) </dev/null 2>/dev/null ||
    refuse "the archive cannot be copied, or is larger than $bound_kib KiB"
packed=$(wc -c <"$copy")
is_count "$packed" || refuse "the archive's size is unreadable"
packed_kib=$(( (packed + 1023) / 1024 ))

names=$(unzip -Z1 "$copy" 2>/dev/null) || refuse "the archive cannot be read"
if ! printf '%s\n' "$names" | names_are_safe; then refuse "the archive is not a single Havenway folder"; fi

# Sizes come from tools as text; each is checked before any arithmetic.
listed=$(unzip -Zt "$copy" 2>/dev/null |
    sed -n 's/^[0-9][0-9]* files*, \([0-9][0-9]*\) bytes* uncompressed.*/\1/p') || true
[ -n "$listed" ] || refuse "the archive lists no sizes"
is_count "$listed" || refuse "the archive lists more than $bound_kib KiB"
unpacked_kib=$(( (listed + 1023) / 1024 ))
if [ "$unpacked_kib" -gt "$bound_kib" ]; then
    refuse "the archive would unpack to $unpacked_kib KiB, more than $bound_kib KiB"
fi
if [ "$unpacked_kib" -gt $(( packed_kib * max_ratio )) ]; then
    refuse "the archive would grow more than $max_ratio-fold when unpacked"
fi
# The listing may understate: unpack once into nothing, counting, and stop
# just past it. unzip goes on inflating into a pipe nobody reads when
# SIGPIPE is ignored (as here), so it is ended once the count is reached.
if mkfifo -m 0600 "$work/stream" 2>/dev/null; then
    ( trap - PIPE; exec unzip -p "$copy" ) </dev/null >"$work/stream" 2>/dev/null &
    inflating=$!
    streamed=$(head -c $((listed + 1)) <"$work/stream" | wc -c) || true
    kill -KILL "$inflating" 2>/dev/null || true
    wait "$inflating" 2>/dev/null || true
    rm -f -- "$work/stream"
else
    # A file system without fifos: SIGPIPE, restored, ends it.
    streamed=$( ( trap - PIPE; exec unzip -p "$copy" ) </dev/null 2>/dev/null | head -c $((listed + 1)) | wc -c) || true
fi
if [ "$streamed" != "$listed" ]; then refuse "the archive does not unpack to the sizes it lists"; fi
free=$(free_kib)
if ! is_count "$free" || [ "$free" -lt $(( unpacked_kib + unpacked_kib / 10 + 1024 )) ]; then
    refuse "not enough free space beside the application"
fi

# The copy is checked and nobody else can reach it; a file still grows no
# further than the bound.
( ulimit -f $(( bound_kib * 2 )) 2>/dev/null; exec unzip -qq -n "$copy" -d "$work/new" ) </dev/null >/dev/null 2>&1 ||
    refuse "the archive cannot be unpacked"
rm -f -- "$copy"

# From here on the tree decides, not what the archive listed: an entry made
# on another system lists as a file and may unpack as a link. A folder
# unpacked without read or search rights would hide what is in it, and one
# that others may write would let any local user replace the application:
# the archive's modes give no group or other write anywhere.
chmod -R u+rwX,go-w -- "$work/new" 2>/dev/null || refuse "the unpacked tree cannot be read"
writable=$(find "$work/new" -perm /022 -printf x -quit) || refuse "the unpacked tree cannot be read"
[ -z "$writable" ] || refuse "the unpacked tree stays writable by others"
odd=$(find "$work/new" ! -type d ! -type f -printf x -quit) || refuse "the unpacked tree cannot be read"
[ -z "$odd" ] || refuse "the archive holds a link, a device, a fifo or a socket"
if [ ! -d "$work/new/Havenway" ] ||
    [ -n "$(find "$work/new" -mindepth 1 -maxdepth 1 ! -name Havenway -printf x -quit)" ]; then
    refuse "the archive holds no single Havenway folder"
fi
is_application "$work/new/Havenway" ||
    refuse "the archive holds no application to start on this machine (bin/havenway, lib/havenway/havenway-network.so and share/havenway/install-update.sh)"

mv -T -- "$bundle" "$work/old" || refuse "the application folder cannot be moved"
phase=moved
if ! mv -T -- "$work/new/Havenway" "$bundle"; then
    mv -T -- "$work/old" "$bundle" || { trap - EXIT; log "could not put the old application back; it is in $work/old"; exit 1; }
    phase=before
    refuse "the new application cannot be put in place"
fi
phase=done
trap - EXIT
rm -rf -- "$work" || log "the old application could not all be removed from $work"
drop_archive
log "updated $bundle"
start_app "$bundle"
