#!/usr/bin/env bash
# The reader's contents and bookmarks with real X input: the real tomeria binary under
# Xvfb and openbox, keys and clicks by xdotool. Ctrl+T shows the contents, a click on a chapter shows it at the top,
# Alt+Left goes back, Ctrl+D marks a place and Delete removes the bookmark; the place the
# reader is left at is what reading.dat keeps.
#   navigation.sh TOMERIA_BINARY
set -euo pipefail
binary=$(realpath "$1")
source "$(dirname "$0")/desktop.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

library="$work/library"
mkdir -p "$library/books"
printf 'Book=\r\n' > "$library/books.dat"
chapter=$(printf '\xc3\xeb\xe0\xe2\xe0') # «Глава» in code page 1251
notes=$(printf '\xcf\xf0\xe8\xec\xe5\xf7\xe0\xed\xe8\xff') # «Примечания»
{
    printf '[1]\r\n' # a note reference, the book's first line
    for c in $(seq 30); do
        printf '\r\n%s %d\r\n\r\n' "$chapter" "$c"
        for i in $(seq 150); do printf 'Line %d of chapter %d, long enough to be read.\r\n' "$i" "$c"; done
    done
    printf '\r\n%s\r\n[1] The note.\r\n' "$notes"
    for i in $(seq 2 150); do printf '[%d] Another note.\r\n' "$i"; done
} > "$library/books/Book.boo"
note=$(LC_ALL=C grep -abo '^\[1\] The note' "$library/books/Book.boo" | cut -d: -f1)
# The chapters' offsets in the book (CR LF counts two, as the file has it), in order.
offsets=$(LC_ALL=C grep -abo "$chapter [0-9]*"$'\r' "$library/books/Book.boo" | cut -d: -f1)
offset_of() { echo "$offsets" | sed -n "$1p"; }
chapter_at() { echo "$offsets" | grep -nx -- "$1" | cut -d: -f1; }

# The panel's rows: the tab bar under the tool bar, then one row per chapter. A click on
# row N (from 0) of the list of the tab shown; a click on the tab «Закладки».
row_height=13
click_row() {
    xdotool mousemove 120 $((60 + $1 * row_height)) click 1
    sleep 0.5
}
click_bookmarks_tab() {
    xdotool mousemove 125 42 click 1
    sleep 0.5
}
wait_for_file() { # a file appears (yes) or goes (no)
    for _ in $(seq 50); do
        if [ "$2" = yes ] && [ -e "$1" ]; then return 0; fi
        if [ "$2" = no ] && [ ! -e "$1" ]; then return 0; fi
        sleep 0.1
    done
    return 1
}

# Starts the program and opens the book by a double-click; sets reader.
open_book() {
    (cd "$library" && exec "$binary") 2>>"$work/stderr" &
    pid=$!
    pids+=($pid)
    local main
    main=$(wait_for_window '^Tomeria$')
    [ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }
    sleep 1.5
    main=$(wait_for_window '^Tomeria$') # the window as it stands once shown
    read -r x y _ _ <<<"$(client_rect "$main")"
    xdotool mousemove $((x + 40)) $((y + 19 + 41 + 8)) click --repeat 2 --delay 80 1
    reader=$(wait_for_window '^Rich Edit Control Demo$')
    [ -n "$reader" ] || { echo "FAIL: the reader did not open"; cat "$work/stderr"; exit 1; }
    sleep 1
}
# Closes the reader (Esc gives the focus back to the text, then leaves) and the program;
# prints the place reading.dat keeps for the book.
close_book() {
    xdotool windowactivate --sync "$reader" key --clearmodifiers Escape
    sleep 0.3
    for _ in $(seq 3); do
        windows_named '^Rich Edit Control Demo$' | grep -q . || break
        xdotool key --clearmodifiers Escape
        sleep 0.5
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    tr -d '\r' < "$library/reading.dat" | awk '$3 == "Book" {print $1}'
}

# Ctrl+T shows the contents; a click on a chapter's row shows it at the top.
open_book
xdotool windowactivate --sync "$reader" key --clearmodifiers ctrl+t
sleep 1
click_row 19
first=$(close_book)
clicked=$(chapter_at "$first")
if [ -z "$clicked" ] || [ "$clicked" -lt 15 ]; then
    fail "a click on the 20th row left the reader at $first, no chapter's heading"
else
    echo "a click on a row showed chapter $clicked at the top"
fi
grep -aq $'^Panel=1\r$' "$library/reading.dat" || fail "the panel's state is not kept"

# The panel is shown again; another chapter clicked, Alt+Left goes back to where the
# book opened.
open_book
sleep 1
click_row 4
xdotool windowactivate --sync "$reader" key --clearmodifiers alt+Left
sleep 0.5
left=$(close_book)
[ "$left" = "$first" ] || fail "Alt+Left left the reader at $left, not $first"

# Ctrl+D marks the place; the bookmark is kept, and Delete in «Закладки» removes it.
open_book
xdotool windowactivate --sync "$reader" key --clearmodifiers ctrl+d
wait_for_file "$library/books/Book.bmk" yes || fail "Ctrl+D wrote no bookmarks file"
LC_ALL=C grep -aq "$chapter $clicked" "$library/books/Book.bmk" 2>/dev/null ||
    fail "the bookmark is not named after its chapter"
click_bookmarks_tab
click_row 0
xdotool key --clearmodifiers Delete
wait_for_file "$library/books/Book.bmk" no || fail "Delete left the bookmark"
close_book >/dev/null

# A click on the note reference «[1]» at the book's start shows the note; a click on
# the note's own number leads back to the reference.
text_line() { # a click on the first line of the text, at its start
    xdotool mousemove 330 40 click 1
    sleep 0.7
}
open_book
xdotool windowactivate --sync "$reader" key --clearmodifiers ctrl+Home
sleep 0.5
text_line
left=$(close_book)
[ "$left" = "$note" ] || fail "a click on «[1]» left the reader at $left, not at the note ($note)"
open_book
text_line
left=$(close_book)
[ "$left" = 0 ] || fail "a click on the note's number left the reader at $left, not at the reference"

# While editing, a click on «[1]» only places the caret; Ctrl+click follows it.
open_book
xdotool windowactivate --sync "$reader" key --clearmodifiers ctrl+Home ctrl+e
sleep 0.5
text_line
left=$(close_book)
[ "$left" = 0 ] || fail "a click on «[1]» while editing left the reader at $left"
open_book
xdotool windowactivate --sync "$reader" key --clearmodifiers ctrl+Home ctrl+e
sleep 0.5
xdotool mousemove 330 40 keydown ctrl click 1 keyup ctrl
sleep 0.7
left=$(close_book)
[ "$left" = "$note" ] || fail "Ctrl+click on «[1]» while editing left the reader at $left, not at the note"

if [ "$failures" -gt 0 ]; then
    echo "stderr of the program:"; cat "$work/stderr"
    echo "$failures failed"
    exit 1
fi
echo "contents and bookmarks under a window manager: all checks passed"
