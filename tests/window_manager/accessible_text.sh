#!/usr/bin/env bash
# A screen reader asking for the whole text of a big book (one line of 30 million letters)
# gets a bounded part of it, and the program stays on the accessibility bus: the real
# tomeria binary under Xvfb and openbox, the book opened by a double-click.
#   accessible_text.sh TOMERIA_BINARY
set -euo pipefail
binary=$1
source "$(dirname "$0")/accessible_session.sh"

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
