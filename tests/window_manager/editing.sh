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

(cd "$library" && exec "$binary") 2>>"$work/stderr" &
pids+=($!)
main=$(wait_for_window '^Tomeria$')
[ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }
sleep 1.5
read -r x y _ _ <<<"$(client_rect "$main")"
xdotool mousemove $((x + 40)) $((y + 19 + 41 + 8)) click --repeat 2 --delay 80 1
reader=$(wait_for_window '^Rich Edit Control Demo$')
[ -n "$reader" ] || { echo "FAIL: the reader did not open"; cat "$work/stderr"; exit 1; }
sleep 1
xdotool windowactivate --sync "$reader" key --clearmodifiers --delay 100 ctrl+e ctrl+Home
LC_ALL=C.UTF-8 xdotool type --delay 80 'Ж'
# Enter breaks the line; Down and Backspace at the next line's start join two lines.
xdotool key --clearmodifiers --delay 100 Return Down BackSpace
# A letter of the keyboard's own map (xdotool types one outside it by remapping a key,
# which a loaded machine can lose), typed and undone.
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
