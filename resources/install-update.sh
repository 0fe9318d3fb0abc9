#!/bin/sh
# Replaces the application folder with the one inside an update archive once
# the application has quit, then starts the application again. Whatever goes
# wrong, the old folder stays (or is put back) and is started instead.
#   install-update.sh ARCHIVE BUNDLE
set -eu

log() { printf 'install-update: %s\n' "$*" >&2; }

# Starts the application in the given folder, detached from this script.
start_app() {
    if [ -x "$1/bin/havenway" ]; then
        (
            cd /
            if [ -n "$session_env" ]; then
                while IFS= read -r pair; do export "$pair"; done <<SESSION
$session_env
SESSION
            fi
            "$1/bin/havenway" </dev/null >/dev/null 2>&1 &
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
# application) still has.
session_env=
if [ "$(readlink "/proc/$PPID/exe" 2>/dev/null || true)" = "${2:-}/bin/havenway" ]; then
    session_env=$(tr '\000' '\n' <"/proc/$PPID/environ" 2>/dev/null |
        grep -E '^(DISPLAY|WAYLAND_DISPLAY|XAUTHORITY|XDG_RUNTIME_DIR|DBUS_SESSION_BUS_ADDRESS)=' || true)
fi

work=
refuse() {
    log "$1; the application is left as it was"
    if [ -n "$work" ]; then rm -rf -- "$work" || true; fi
    start_app "$bundle"
    exit 1
}

if [ "$#" -ne 2 ]; then log "usage: install-update.sh ARCHIVE BUNDLE"; exit 2; fi
archive=$1
bundle=$2

case $archive in /*) ;; *) log "the archive path is not absolute"; exit 2 ;; esac
case $bundle in /*) ;; *) log "the application path is not absolute"; exit 2 ;; esac
bundle=${bundle%/}
parent=$(dirname -- "$bundle")

# Bounded: the application quits right after starting us.
waited=0
while app_running "$bundle"; do
    if [ "$waited" -ge 60 ]; then log "the application is still running"; exit 1; fi
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

# Beside the application, so that the swap is a rename on one file system.
work=$(mktemp -d "$parent/.havenway-update.XXXXXX") || refuse "no room to unpack"
unzip -qq "$archive" -d "$work/new" >/dev/null 2>&1 || refuse "the archive cannot be unpacked"
[ -d "$work/new/Havenway" ] || refuse "the archive holds no Havenway folder"

mv -- "$bundle" "$work/old" || refuse "the application folder cannot be moved"
if ! mv -- "$work/new/Havenway" "$bundle"; then
    mv -- "$work/old" "$bundle" || log "could not put the old application back; it is in $work/old"
    [ -d "$bundle" ] && refuse "the new application cannot be put in place"
    exit 1
fi
rm -rf -- "$work" || true
log "updated $bundle"
start_app "$bundle"
