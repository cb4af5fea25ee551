#!/usr/bin/env bash
# The clicks that open a book stay off the reader: the real tomeria binary under Xvfb
# and openbox, real clicks by xdotool. A book opened from the list by a double-click
# (alone, after a click that selected it, or followed by one more click) shows its
# caret at its start; a click on the reader's «Поиск» right after an opening opens the
# find dialog; a search hit opened the same way keeps the found words selected.
# The reader's caret panel is read through the accessibility bus.
#   opening_clicks.sh TOMERIA_BINARY
set -euo pipefail
binary=$1
source "$(dirname "$0")/accessible_session.sh"

library="$work/library"
mkdir -p "$library/books"
printf 'kot=\r\n' > "$library/books.dat"
for line in one 'two kot' three four 'five kot' six seven eight 'nine kot'; do
    printf '%s\r\n' "$line"
done > "$library/books/kot.boo"

(cd "$library" && exec "$binary") 2>>"$work/stderr" &
pids+=($!)
main=$(wait_for_window '^Tomeria$')
[ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }
sleep 1.5

# The centre of the first object with the role and name given (a regular expression).
centre_of() {
    accessible | awk -F'\t' -v role="$1" -v name="$2" '$1 ~ ("^" role "$") && $2 ~ name {
        split($3, r, " "); if (r[3] > 0) { print r[1] + int(r[3] / 2), r[2] + int(r[4] / 2); exit } }'
}
# The reader's caret panel, once the reader shows one.
caret_panel() {
    local text=""
    for _ in $(seq 30); do
        text=$(accessible | awk -F'\t' '$1 == "label" && $2 ~ /^Строка:/ { print $2; exit }')
        [ -n "$text" ] && break
        sleep 0.2
    done
    echo "$text"
}
close_reader() {
    xdotool key --clearmodifiers Escape
    for _ in $(seq 30); do
        [ -z "$(windows_named '^Rich Edit Control Demo$')" ] && return 0
        sleep 0.1
    done
    fail "the reader did not close"
}

# 1. The list item: a double-click alone, after a selecting click, and with a click more.
for _ in $(seq 25); do
    read -r item_x item_y <<<"$(centre_of 'list item' '^kot$')"
    [ -n "${item_x:-}" ] && break
    sleep 0.2
done
[ -n "${item_x:-}" ] || { echo "FAIL: no list item kot"; accessible; exit 1; }
for clicks in 2 3 4; do
    xdotool windowactivate --sync "$main" mousemove "$item_x" "$item_y" \
        click --repeat "$clicks" --delay 90 1
    sleep 1
    caret=$(caret_panel)
    if [ "$caret" = "Строка:   1   Символ:   1" ]; then
        echo "list, $clicks clicks: $caret"
    else
        fail "list, $clicks clicks: the caret panel shows «$caret»"
    fi
    close_reader
done

# 2. A click elsewhere right after the opening always counts: twenty openings, each
# followed by a click on «Поиск» after 0.1 to 1.5 s, every one opening the find dialog.
xdotool windowactivate --sync "$main" mousemove "$item_x" "$item_y" click --repeat 2 --delay 90 1
# «Поиск» by its name, or as the tool bar's second button (after «Назад») while the
# tool buttons have no names of their own.
second_tool_button() {
    accessible | awk -F'\t' '$1 == "push button" { split($3, r, " ")
        if (r[3] > 0 && r[2] >= 0 && r[2] < 40) print r[1] + int(r[3] / 2), r[2] + int(r[4] / 2) }' |
        sort -n | sed -n 2p
}
find_x=""
for _ in $(seq 50); do
    read -r find_x find_y <<<"$(centre_of '(push button|toggle button)' '^Поиск( \\(|$)')"
    [ -n "${find_x:-}" ] || read -r find_x find_y <<<"$(second_tool_button)"
    [ -n "${find_x:-}" ] && break
    sleep 0.1
done
[ -n "${find_x:-}" ] || { echo "FAIL: no button «Поиск» in the reader"; accessible; exit 1; }
close_reader

# 3. A search hit: the book's row opens its first place, «kot» on line 2.
xdotool windowactivate --sync "$main" key --clearmodifiers ctrl+shift+f
search=$(wait_for_window 'Поиск по тексту книг')
[ -n "$search" ] || { echo "FAIL: no search window"; exit 1; }
sleep 0.5
xdotool windowactivate --sync "$search" type kot
xdotool key Return
hit_x=""
for _ in $(seq 50); do
    read -r hit_x hit_y <<<"$(centre_of '(tree item|table cell)' '^kot$')"
    [ -n "${hit_x:-}" ] && break
    xdotool key Return
    sleep 0.2
done
if [ -z "${hit_x:-}" ]; then
    fail "the search found no hit"
    accessible
else
    for clicks in 2 3; do
        xdotool windowactivate --sync "$search" mousemove "$hit_x" "$hit_y" \
            click --repeat "$clicks" --delay 90 1
        sleep 1
        caret=$(caret_panel)
        if [ "$caret" = "Строка:   2   Символ:   5" ]; then
            echo "search hit, $clicks clicks: $caret"
        else
            fail "search hit, $clicks clicks: the caret panel shows «$caret»"
        fi
        close_reader
    done
fi

# The twenty openings of 2 come last: the accessibility bus, which the other checks
# read, is spared their load (the button's place was found above). The search window
# is closed first: it stands over the list.
if [ -n "$(windows_named 'Поиск по тексту книг')" ]; then
    xdotool windowactivate --sync "$search" key --clearmodifiers Escape
    for _ in $(seq 50); do
        [ -z "$(windows_named 'Поиск по тексту книг')" ] && break
        sleep 0.1
    done
fi
opened=0
for i in $(seq 0 19); do
    # The pause between the opening double-click and the click, spread over 0.1-1.5 s.
    pause=$(awk -v i="$i" 'BEGIN { printf "%.2f", 0.1 + i * 1.4 / 19 }')
    xdotool windowactivate --sync "$main" mousemove "$item_x" "$item_y" \
        click --repeat 2 --delay 90 1 sleep "$pause" mousemove "$find_x" "$find_y" click 1
    found=$(wait_for_window '^Найти$')
    if [ -n "$found" ]; then
        opened=$((opened + 1))
        xdotool windowactivate --sync "$found" key --clearmodifiers Escape
        for _ in $(seq 50); do
            [ -z "$(windows_named '^Найти$')" ] && break
            sleep 0.1
        done
    else
        fail "opening $((i + 1)): the click on «Поиск» $pause s after it opened no find dialog"
    fi
    reader=$(windows_named '^Rich Edit Control Demo$' | tail -n1)
    [ -n "$reader" ] && xdotool windowactivate --sync "$reader"
    close_reader
done
echo "clicks on «Поиск» right after an opening: $opened of 20 opened the find dialog"

if [ "$failures" -gt 0 ]; then
    echo "stderr of the program:"; cat "$work/stderr"
    echo "$failures failed"
    exit 1
fi
echo "opening clicks: all checks passed"
