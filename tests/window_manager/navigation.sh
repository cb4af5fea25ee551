#!/usr/bin/env bash
# Finding one's way in the reader with real X input: the real tomeria binary under Xvfb
# and openbox, keys and clicks by xdotool. Ctrl+G goes to a line and to «45 %»,
# Ctrl+PageDown and Ctrl+PageUp go between headings, Alt+Left and Alt+Right go back and
# forward; Ctrl+T shows the contents, a click on a chapter shows it at the top; Ctrl+D
# marks a place and Delete removes the bookmark; a note reference leads to its note and
# back; a heading typed while editing appears in the contents, and goes when taken away.
# Where the reader landed is read from what it shows to assistive technology (the
# caret's line in the status bar, the panel's rows) and from the place reading.dat
# keeps; every wait is for such a sign.
#   navigation.sh TOMERIA_BINARY
set -euo pipefail
binary=$(realpath "$1")
source "$(dirname "$0")/accessible_session.sh"

library="$work/library"
mkdir -p "$library/books"
printf 'Book=\r\n' > "$library/books.dat"
book="$library/books/Book.boo"
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
} > "$book"
length=$(stat -c %s "$book")
# Where things are, as offsets (CR LF counts two, as the file has it) and as lines from 1
# (every line of the book is one display line in the reader's width).
offset_of_chapter() { LC_ALL=C grep -abo "$chapter $1"$'\r' "$book" | cut -d: -f1; }
line_of_chapter() { LC_ALL=C grep -an "^$chapter $1"$'\r' "$book" | cut -d: -f1; }
note_line=$(LC_ALL=C grep -an '^\[1\] The note' "$book" | cut -d: -f1)
note_offset=$(LC_ALL=C grep -abo '^\[1\] The note' "$book" | cut -d: -f1)
line_at_offset() { echo $(($(head -c "$1" "$book" | wc -l) + 1)); }

# The caret's line as the status bar shows it: «Строка: N   Символ: M».
wait_for_line() { wait_for_object "${2:-10}" label "Строка: +$1 +Символ: +[0-9]+" >/dev/null; }
shown_line() {
    accessible_objects | sed -n 's/^label\tСтрока: *\([0-9]*\) .*/\1/p' | head -n1
}
# Checks the caret's line after an action: says what was done when it is not there.
expect_line() {
    if wait_for_line "$1"; then echo "$2: line $1"; else fail "$2 left the caret on line $(shown_line), not $1"; fi
}
# The reader's text area on the bus: the biggest text shown.
text_area() {
    accessible_objects | awk -F'\t' '$1 == "text" { split($3, r, " "); a = r[3] * r[4];
        if (a > best) { best = a; rect = $3 } } END { if (best > 0) print rect; else exit 1 }'
}
# The contents listed (their first chapter) without that heading.
heading_gone() {
    local objects
    objects=$(accessible_objects)
    grep -q "^tree item"$'\t'"Глава 1"$'\t' <<<"$objects" &&
        ! grep -q "^tree item"$'\t'"$1"$'\t' <<<"$objects"
}
reader_gone() { ! windows_named '^Rich Edit Control Demo$' | grep -q .; }

# Starts the program and opens the book by a double-click on its row; sets reader.
open_book() {
    (cd "$library" && exec "$binary") 2>>"$work/stderr" &
    pid=$!
    pids+=($pid)
    local main row
    main=$(wait_for_window '^Tomeria$')
    [ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }
    wait_for_settled_window "$main" || true
    row=$(wait_for_object 20 'list item' Book) || { echo "FAIL: the book is not listed"; exit 1; }
    xdotool windowactivate --sync "$main"
    click_middle "$row" --repeat 2 --delay 80 1
    reader=$(wait_for_window '^Rich Edit Control Demo$')
    [ -n "$reader" ] || { echo "FAIL: the reader did not open"; cat "$work/stderr"; exit 1; }
    wait_until 20 text_area >/dev/null || { echo "FAIL: no text area on the bus"; exit 1; }
    wait_for_line '[0-9]+' 20 || { echo "FAIL: the reader shows no caret line"; exit 1; }
}
# Closes the reader (Esc gives the focus back to the text, then leaves) and the program;
# prints the place reading.dat keeps for the book.
close_book() {
    # A window closing while xdotool reads it is an X error of xdotool's, not the reader's.
    xdotool windowactivate --sync "$reader" key --clearmodifiers Escape 2>/dev/null || true
    for _ in $(seq 3); do
        wait_until 3 reader_gone && break
        xdotool key --clearmodifiers Escape 2>/dev/null || true
    done
    reader_gone || echo "FAIL: the reader did not close" >&2
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    tr -d '\r' < "$library/reading.dat" | awk '$3 == "Book" {print $1}'
}
keys() { xdotool windowactivate --sync "$reader" key --clearmodifiers "$@"; }
# Ctrl+G, the answer typed into «Перейти», Enter.
go_to() {
    keys ctrl+g
    local dialog
    dialog=$(wait_for_window '^Перейти$')
    [ -n "$dialog" ] || { fail "Ctrl+G showed no «Перейти»"; return; }
    xdotool windowactivate --sync "$dialog" type --delay 20 "$1"
    xdotool key --clearmodifiers Return
}

# 1. Go to, the headings, back and forward.
open_book
go_to 300
expect_line 300 "Ctrl+G 300"
go_to "45 %"
expect_line "$(line_at_offset $((length * 45 / 100)))" "Ctrl+G «45 %»"
keys ctrl+Home
expect_line 1 "Ctrl+Home"
keys ctrl+Next
expect_line "$(line_of_chapter 1)" "Ctrl+PageDown"
keys ctrl+Next
expect_line "$(line_of_chapter 2)" "Ctrl+PageDown again"
keys ctrl+Prior
expect_line "$(line_of_chapter 1)" "Ctrl+PageUp"
keys alt+Left
expect_line "$(line_of_chapter 2)" "Alt+Left"
keys alt+Right
expect_line "$(line_of_chapter 1)" "Alt+Right"
left=$(close_book)
[ "$left" = "$(offset_of_chapter 1)" ] ||
    fail "the reader left after Alt+Right at $left, not at «Глава 1» ($(offset_of_chapter 1))"

# 2. Ctrl+T shows the contents; a click on a chapter's row shows it at the top.
open_book
keys ctrl+t
if row=$(wait_for_object 20 'tree item' 'Глава 20'); then
    click_middle "$row"
    expect_line "$(line_of_chapter 20)" "a click on «Глава 20»"
else
    fail "Ctrl+T showed no «Глава 20» in the contents"
fi
first=$(close_book)
[ "$first" = "$(offset_of_chapter 20)" ] ||
    fail "a click on «Глава 20» left the reader at $first, not $(offset_of_chapter 20)"
grep -aq $'^Panel=1\r$' "$library/reading.dat" || fail "the panel's state is not kept"

# 3. The panel is shown again; another chapter clicked, Alt+Left goes back to where the
# book opened.
open_book
if row=$(wait_for_object 20 'tree item' 'Глава 5'); then
    click_middle "$row"
    expect_line "$(line_of_chapter 5)" "a click on «Глава 5»"
else
    fail "the panel was not shown again"
fi
keys alt+Left
expect_line "$(line_of_chapter 20)" "Alt+Left"
left=$(close_book)
[ "$left" = "$first" ] || fail "Alt+Left left the reader at $left, not $first"

# 4. Ctrl+D marks the place; the bookmark is kept, and Delete in «Закладки» removes it.
open_book
keys ctrl+d
wait_until 5 test -e "$library/books/Book.bmk" || fail "Ctrl+D wrote no bookmarks file"
LC_ALL=C grep -aq "$chapter 20" "$library/books/Book.bmk" 2>/dev/null ||
    fail "the bookmark is not named after its chapter"
if tab=$(wait_for_object 10 'page tab' 'Закладки'); then
    click_middle "$tab"
    if mark=$(wait_for_object 10 'list item' 'Глава 20.*'); then
        click_middle "$mark"
        xdotool key --clearmodifiers Delete
        wait_until 5 test ! -e "$library/books/Book.bmk" || fail "Delete left the bookmark"
    else
        fail "«Закладки» lists no «Глава 20»"
    fi
else
    fail "no tab «Закладки»"
fi
close_book >/dev/null

# 5. A click on the note reference «[1]» at the book's start shows the note; a click on
# the note's own number, now at the top, leads back to the reference.
text_line() { # a click on the first line of the text, DX pixels from its start
    local x y
    read -r x y _ _ <<<"$(text_area)"
    xdotool mousemove $((x + $1)) $((y + 10)) click 1
}
open_book
keys ctrl+Home
expect_line 1 "Ctrl+Home"
text_line 10
expect_line "$note_line" "a click on «[1]»"
# A little to the right: two clicks at one spot in quick succession are a double click.
text_line 18
expect_line 1 "a click on the note's number"
left=$(close_book)
[ "$left" = 0 ] || fail "back from the note, the reader left at $left, not at the reference"

# 6. While editing, a click on «[1]» only places the caret; Ctrl+click follows it. A
# heading typed shows in the contents before any saving.
open_book
keys ctrl+Home ctrl+e Down Down
expect_line 3 "Down twice"
text_line 18
expect_line 1 "a click on «[1]» while editing"
read -r x y _ _ <<<"$(text_area)"
xdotool mousemove $((x + 10)) $((y + 10)) keydown ctrl click 1 keyup ctrl
expect_line "$note_line" "Ctrl+click on «[1]» while editing"
if tab=$(wait_for_object 10 'page tab' 'Содержание'); then
    click_middle "$tab"
    keys ctrl+End Return Return
    xdotool type --delay 20 XXXI
    xdotool key --clearmodifiers Return
    if wait_for_object 10 'tree item' 'XXXI' >/dev/null; then
        echo "«XXXI» typed while editing: in the contents"
    else
        fail "the heading «XXXI» typed while editing is not in the contents"
    fi
    # Taken away again (the line break, then its four letters): it goes.
    keys BackSpace BackSpace BackSpace BackSpace BackSpace
    if wait_until 10 heading_gone XXXI; then
        echo "«XXXI» removed while editing: gone from the contents"
    else
        fail "the heading «XXXI» removed while editing is still in the contents"
    fi
    keys ctrl+s
fi
left=$(close_book)
[ "$left" -gt "$note_offset" ] || fail "the reader left at $left, not at the book's end"

if [ "$failures" -gt 0 ]; then
    echo "stderr of the program:"; cat "$work/stderr"
    echo "$failures failed"
    exit 1
fi
echo "finding one's way under a window manager: all checks passed"
