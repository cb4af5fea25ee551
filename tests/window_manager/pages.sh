#!/usr/bin/env bash
# Pages with real X input: the real tomeria binary under Xvfb (1920 x 1080) and openbox.
# A book opened in «Разворот» with «Книжная» shows two columns side by side (a picture
# of the screen has text left and right of a bare gutter in the middle); PageDown turns
# both pages (the progress panel goes from «стр. 1 из N» to «стр. 3 из N»), a click on
# the right half turns on, a click on the left half back. The progress panel is read
# through the accessibility bus.
#   pages.sh TOMERIA_BINARY
set -euo pipefail
binary=$(realpath "$1")
export DESKTOP_SCREEN=1920x1080x24
session_tools="import convert"
source "$(dirname "$0")/accessible_session.sh"

library="$work/library"
mkdir -p "$library/books"
printf 'Book=\r\n' > "$library/books.dat"
# «Книжная» in «Разворот».
printf '[Reader]\r\nTextWidth=66\r\nLineSpacing=1.3\r\nIndent=1.5\r\nJustify=1\r\nHyphenation=1\r\nBookFace=1\r\nPages=2\r\n[Books]\r\n' \
    > "$library/reading.dat"
for i in $(seq 3000); do
    printf 'Paragraph %d of the book: words enough to fill a line of the page and to go on to the next one as prose does.\r\n' "$i"
done > "$library/books/Book.boo"

(cd "$library" && exec "$binary") 2>>"$work/stderr" &
pids+=($!)
main=$(wait_for_window '^Tomeria$')
[ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }

# The centre of the first object with the role and name given (a regular expression).
centre_of() {
    accessible | awk -F'\t' -v role="$1" -v name="$2" '$1 ~ ("^" role "$") && $2 ~ name {
        split($3, r, " "); if (r[3] > 0) { print r[1] + int(r[3] / 2), r[2] + int(r[4] / 2); exit } }'
}
# The progress panel once it shows a counted page matching the expression; empty when it
# does not within ten seconds.
page_panel() {
    local text=""
    for _ in $(seq 50); do
        text=$(accessible | awk -F'\t' '$1 == "label" && $2 ~ /^стр\. / { print $2; exit }')
        [[ "$text" =~ $1 ]] && { echo "$text"; return; }
        sleep 0.2
    done
    echo "$text"
}
# The columns of the text area, in a picture of the screen (rows 120 to 960): the share
# of ink from x = 200 to 800 and from 1120 to 1720, and the widest band of columns
# without ink between 860 and 1060, in pixels.
ink_at() {
    import -window root "$work/shot.png"
    local x
    for x in 200 1120; do
        convert "$work/shot.png" -crop "600x840+$x+120" -colorspace gray \
            -threshold 60% -negate -format '%[fx:mean]' info:
        printf ' '
    done
    convert "$work/shot.png" -crop 200x840+860+120 -colorspace gray -threshold 60% -negate \
        -scale '200x1!' -depth 16 txt:- |
        awk -F'[(),]' 'NR > 1 { if ($3 + 0 == 0) { run++; if (run > best) best = run } else run = 0 }
            END { print best + 0 }'
}

item_x=""
for _ in $(seq 50); do
    read -r item_x item_y <<<"$(centre_of 'list item' '^Book$')"
    [ -n "${item_x:-}" ] && break
    sleep 0.2
done
[ -n "${item_x:-}" ] || { echo "FAIL: no list item Book"; accessible; exit 1; }
xdotool windowactivate --sync "$main" mousemove "$item_x" "$item_y" click --repeat 2 --delay 90 1
reader=$(wait_for_window '^Rich Edit Control Demo$')
[ -n "$reader" ] || { echo "FAIL: the reader did not open"; cat "$work/stderr"; exit 1; }

first=$(page_panel '^стр\. 1 из [0-9]')
count=${first##* }
if [[ "$first" =~ ^стр\.\ 1\ из\ [0-9] ]]; then
    echo "opened at «$first»"
else
    fail "the progress panel shows «$first», not the first page of the pages"
fi
# Two columns: ink left and right of the middle, none in it (the reader is maximised; the
# picture is taken once the window is as wide as the screen).
for _ in $(seq 50); do
    read -r _ _ width _ <<<"$(client_rect "$reader")"
    [ "${width:-0}" -ge 1900 ] && break
    sleep 0.1
done
read -r left right gutter <<<"$(ink_at)"
if awk -v l="$left" -v r="$right" -v g="$gutter" 'BEGIN { exit !(l > 0.01 && r > 0.01 && g >= 20) }'; then
    echo "two columns: ink $left and $right beside a bare gutter of $gutter pixels"
else
    fail "not two columns: ink left $left, right $right, a gutter of $gutter pixels"
fi

# PageDown turns both pages.
xdotool windowactivate --sync "$reader" key --clearmodifiers Next
turned=$(page_panel "^стр\\. 3 из $count\$")
if [ "$turned" = "стр. 3 из $count" ]; then
    echo "PageDown turned both pages: «$turned»"
else
    fail "after PageDown the progress panel shows «$turned»"
fi
read -r left right gutter <<<"$(ink_at)"
awk -v l="$left" -v r="$right" -v g="$gutter" 'BEGIN { exit !(l > 0.01 && r > 0.01 && g >= 20) }' ||
    fail "after PageDown, not two columns: ink left $left, right $right, a gutter of $gutter pixels"
# A click on the right half turns on, on the left half back.
xdotool mousemove 1500 540 click 1
turned=$(page_panel "^стр\\. 5 из $count\$")
[ "$turned" = "стр. 5 из $count" ] && echo "a click on the right half: «$turned»" ||
    fail "after a click on the right half the progress panel shows «$turned»"
xdotool mousemove 400 540 click 1
turned=$(page_panel "^стр\\. 3 из $count\$")
[ "$turned" = "стр. 3 из $count" ] && echo "a click on the left half: «$turned»" ||
    fail "after a click on the left half the progress panel shows «$turned»"

if [ "$failures" -gt 0 ]; then
    echo "stderr of the program:"; cat "$work/stderr"
    echo "$failures failed"
    exit 1
fi
echo "pages under a window manager: all checks passed"
