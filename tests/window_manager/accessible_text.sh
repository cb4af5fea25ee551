#!/usr/bin/env bash
# A screen reader asking for the whole text of a big book (one line of 30 million letters)
# gets a bounded part of it, and the program stays on the accessibility bus: the real
# tomeria binary under Xvfb and openbox, the book opened by a double-click.
#   accessible_text.sh TOMERIA_BINARY
set -euo pipefail
binary=$1
if [ -z "${TOMERIA_IN_SESSION:-}" ]; then
    for tool in dbus-run-session /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 0; }
    done
    /usr/bin/python3 -c 'import dbus' 2>/dev/null || { echo "SKIP: python3-dbus is not installed"; exit 0; }
    # The accessibility bus's socket goes into a cache folder of this run's own: in the
    # shared ~/.cache another session's bus would take its place.
    cache=$(mktemp -d)
    trap 'rm -rf "$cache"' EXIT
    XDG_CACHE_HOME="$cache" TOMERIA_IN_SESSION=1 dbus-run-session -- bash "$0" "$@" \
        2> >(grep -v '^dbus-daemon\|^SpiRegistry' >&2)
    exit
fi
source "$(dirname "$0")/desktop.sh"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 XDG_CACHE_HOME="$work/cache"

library="$work/library"
mkdir -p "$library/books"
printf 'Big=\r\n' > "$library/books.dat"
head -c 30000000 /dev/zero | tr '\0' '\340' > "$library/books/Big.boo" # «а» in code page 1251

open_first_book "$library" "$binary"

result=""
for _ in $(seq 100); do
    result=$(LC_ALL=C.UTF-8 /usr/bin/python3 "$(dirname "$0")/accessible_text.py" || true)
    [ "$result" != "no reading view on the bus" ] && break
    sleep 0.2
done
echo "text returned, character count, count asked again: $result"
read -r length count again <<<"$result"
if [ "${count:-0}" -ne 30000000 ] || [ "${again:-0}" -ne 30000000 ] ||
    [ "${length:--1}" -le 0 ] || [ "$length" -gt 1000000 ]; then
    echo "FAIL: the whole text asked for: $result"
    cat "$work/stderr"
    exit 1
fi
echo "accessibility of a big book: all checks passed"
