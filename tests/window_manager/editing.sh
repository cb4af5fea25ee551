#!/usr/bin/env bash
# Editing through the real reader window with real X input: the real tomeria binary under
# Xvfb and openbox. Ctrl+E switches to editing; Russian letters typed, Enter, Backspace
# across a line start, a letter typed and undone with Ctrl+Z, then Ctrl+S: the saved file
# holds exactly those edits, in code page 1251 with CR LF line breaks.
#   editing.sh TOMERIA_BINARY
set -euo pipefail
binary=$(realpath "$1")
source "$(dirname "$0")/desktop.sh"

library="$work/library"
mkdir -p "$library/books"
printf 'Book=\r\n' > "$library/books.dat"
printf 'Первая\r\nВторая\r\n' | iconv -f UTF-8 -t CP1251 > "$library/books/Book.boo"
expected=$(printf 'Ж\r\nПерваяВторая\r\n' | iconv -f UTF-8 -t CP1251 | od -An -tx1 | tr -d ' \n')

# The Russian letter gets a key of its own before the program starts: xdotool types a
# letter outside the keyboard's map by remapping a key for that one stroke, which a loaded
# machine can lose.
spare=$(xmodmap -pke | awk 'NF == 3 && $1 == "keycode" { print $2 }' | tail -n1)
[ -n "$spare" ] || { echo "FAIL: no free key for the Russian letter"; exit 1; }
xmodmap -e "keycode $spare = Cyrillic_zhe Cyrillic_ZHE"

open_first_book "$library" "$binary"
wait_for_settled_window "$reader" || true
xdotool windowactivate --sync "$reader" key --clearmodifiers --delay 100 ctrl+e ctrl+Home
xdotool key --clearmodifiers --delay 100 Cyrillic_ZHE
# Enter breaks the line; Down and Backspace at the next line's start join two lines.
xdotool key --clearmodifiers --delay 100 Return Down BackSpace
# A letter typed and undone.
xdotool key --clearmodifiers --delay 100 x ctrl+z ctrl+s
saved=""
for _ in $(seq 100); do
    saved=$(od -An -tx1 "$library/books/Book.boo" | tr -d ' \n')
    [ "$saved" = "$expected" ] && break
    sleep 0.1
done
if [ "$saved" = "$expected" ]; then
    echo "typing, Enter, Backspace across a line start, undo and Ctrl+S saved exactly the edits"
else
    echo "FAIL: the saved book is $saved, expected $expected"
    cat "$work/stderr"
    exit 1
fi
echo "editing under a window manager: all checks passed"
