#!/bin/sh
# Replaces the application folder with the one inside an update archive once
# the application has quit, then starts the application again. Whatever goes
# wrong, the old folder stays (or is put back) and is started instead.
#   install-update.sh ARCHIVE BUNDLE
set -eu

log() { printf 'install-update: %s\n' "$*" >&2; }

# Starts the application in the given folder, detached from this script; a
# second argument is passed on to it.
start_app() {
    if [ -x "$1/bin/havenway" ]; then
        (
            cd /
            if [ -n "$session_env" ]; then
                while IFS= read -r pair; do export "$pair"; done <<SESSION
$session_env
SESSION
            fi
            "$1/bin/havenway" ${2:+"$2"} </dev/null >/dev/null 2>&1 &
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
# outside the unpacking folder, or outside the one top folder.
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

# We get only PATH, USER, HOME and SHELL; the application we start again
# also needs its desktop session, which our parent (the quitting
# application) still has, and the user's folders, language and own settings,
# or it would start on other files than it quit on.
session_env=
if [ "$(readlink "/proc/$PPID/exe" 2>/dev/null || true)" = "${2:-}/bin/havenway" ]; then
    session_env=$(tr '\000' '\n' <"/proc/$PPID/environ" 2>/dev/null |
        grep -E '^(DISPLAY|WAYLAND_DISPLAY|XAUTHORITY|DBUS_SESSION_BUS_ADDRESS|XDG_[A-Z_]+|LANG|LANGUAGE|LC_[A-Z]+|TZ|QT_[A-Z0-9_]+|HAVENWAY_[A-Z0-9_]+)=' || true)
fi

work=
archive=
# Once tried, the archive is of no more use: a new attempt downloads it anew.
drop_archive() {
    if [ -n "$archive" ] && [ -f "$archive" ]; then rm -f -- "$archive" || true; fi
}
refuse() {
    log "$1; the application is left as it was"
    if [ -n "$work" ]; then rm -rf -- "$work" || true; fi
    drop_archive
    start_app "$bundle" --update-refused
    exit 1
}

# The sizes the archive lists, summed, in bytes; nothing when it lists none.
listed_size() {
    unzip -Zt "$1" 2>/dev/null |
        sed -n 's/^[0-9][0-9]* files*, \([0-9][0-9]*\) bytes* uncompressed.*/\1/p'
}

# Whether the unpacked tree is an application that can be started again, and
# reach the network (its first request opens the network module) to update again.
is_application() {
    [ -f "$1/bin/havenway" ] && [ ! -L "$1/bin/havenway" ] && [ -x "$1/bin/havenway" ] &&
        [ -f "$1/lib/havenway/havenway-network.so" ] && [ ! -L "$1/lib/havenway/havenway-network.so" ] &&
        [ -f "$1/share/havenway/install-update.sh" ] && [ ! -L "$1/share/havenway/install-update.sh" ]
}

# An update is bounded by the application it replaces (4 times its size, at
# least 512 MiB), and a deflated stream may grow at most 100-fold: beyond
# either it fills the disk rather than installing anything.
max_ratio=100
min_bound_kib=524288

if [ "$#" -ne 2 ]; then log "usage: install-update.sh ARCHIVE BUNDLE"; exit 2; fi
bundle=$2

case $1 in /*) ;; *) log "the archive path is not absolute"; exit 2 ;; esac
case $bundle in /*) ;; *) log "the application path is not absolute"; exit 2 ;; esac
bundle=${bundle%/}
parent=$(dirname -- "$bundle")
archive=$1

# Bounded: the application quits right after starting us.
waited=0
while app_running "$bundle"; do
    if [ "$waited" -ge 60 ]; then log "the application is still running"; drop_archive; exit 1; fi
    sleep 1
    waited=$((waited + 1))
done

if [ ! -d "$bundle" ] || [ -L "$bundle" ]; then refuse "the application path is not a folder"; fi
if [ ! -w "$bundle" ] || [ ! -w "$parent" ]; then refuse "the application folder cannot be replaced"; fi
if [ ! -f "$archive" ]; then refuse "no archive"; fi

names=$(unzip -Z1 "$archive" 2>/dev/null) || refuse "the archive cannot be read"
if ! printf '%s\n' "$names" | names_are_safe; then refuse "the archive is not a single Havenway folder"; fi
# A link could point the unpacking anywhere.
if unzip -Z "$archive" 2>/dev/null | grep -q '^l'; then refuse "the archive holds links"; fi

unpacked=$(listed_size "$archive")
[ -n "$unpacked" ] || refuse "the archive lists no sizes"
unpacked_kib=$(( (unpacked + 1023) / 1024 ))
packed_kib=$(( ($(wc -c <"$archive") + 1023) / 1024 ))
current_kib=$(du -sk -- "$bundle" 2>/dev/null | cut -f1)
bound_kib=$(( ${current_kib:-0} * 4 ))
[ "$bound_kib" -ge "$min_bound_kib" ] || bound_kib=$min_bound_kib
if [ "$unpacked_kib" -gt "$bound_kib" ]; then
    refuse "the archive would unpack to $unpacked_kib KiB, more than $bound_kib KiB"
fi
if [ "$unpacked_kib" -gt $(( packed_kib * max_ratio )) ]; then
    refuse "the archive would grow more than $max_ratio-fold when unpacked"
fi
# The listing may understate: unpack once into nothing, stopping just past it.
streamed=$(unzip -p "$archive" </dev/null 2>/dev/null | head -c $((unpacked + 1)) | wc -c)
if [ "$streamed" -ne "$unpacked" ]; then refuse "the archive does not unpack to the sizes it lists"; fi
free_kib=$(df -Pk -- "$parent" 2>/dev/null | awk 'NR == 2 { print $4 }')
if [ -z "$free_kib" ] || [ "$free_kib" -lt $(( unpacked_kib + unpacked_kib / 10 + 1024 )) ]; then
    refuse "not enough free space beside the application"
fi

# Beside the application, so that the swap is a rename on one file system.
work=$(mktemp -d "$parent/.havenway-update.XXXXXX") || refuse "no room to unpack"
# Should the archive change meanwhile, no file grows past the bound anyway.
( ulimit -f $(( bound_kib * 2 )) 2>/dev/null; exec unzip -qq "$archive" -d "$work/new" ) </dev/null >/dev/null 2>&1 ||
    refuse "the archive cannot be unpacked"
[ -d "$work/new/Havenway" ] || refuse "the archive holds no Havenway folder"
is_application "$work/new/Havenway" ||
    refuse "the archive holds no application to start (bin/havenway, lib/havenway/havenway-network.so and share/havenway/install-update.sh)"

mv -- "$bundle" "$work/old" || refuse "the application folder cannot be moved"
if ! mv -- "$work/new/Havenway" "$bundle"; then
    mv -- "$work/old" "$bundle" || log "could not put the old application back; it is in $work/old"
    [ -d "$bundle" ] && refuse "the new application cannot be put in place"
    exit 1
fi
rm -rf -- "$work" || true
drop_archive
log "updated $bundle"
start_app "$bundle"
