#!/usr/bin/env bash
# Adding a folder of books with the real program under Xvfb and openbox, by real input:
# the menu item, the folder dialog, the window «Добавление книг» and its report closed
# with Enter; then the list's keys: Enter opens the selected book, Delete asks and
# deletes it, and a name cut off by the list's width shows in a tooltip (a short one
# does not). Window titles are matched in ASCII only, so any locale does.
#   bulk_import.sh TOMERIA_BINARY
set -euo pipefail
binary=$1
source "$(dirname "$0")/desktop.sh"

library="$work/library"
source="$work/source"
mkdir -p "$library/books" "$source/sub/deeper"
long="Очень длинное название книги, которое список не вмещает"
printf '%s\r\n' "$long=" "Кот=" | iconv -f UTF-8 -t CP1251 > "$library/books.dat"
printf 'long' > "$library/books/$long.boo"
printf 'cat' > "$library/books/Кот.boo"
for i in 1 2 3 4 5; do
    printf 'Яблоко %s\nтекст книги номер %s\n' "$i" "$i" > "$source/sub/deeper/book$i.txt"
done
cp "$source/sub/deeper/book1.txt" "$source/copy.txt"
printf '\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x01\x01\x01\x01' > "$source/picture.png"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
visible() { xdotool search --onlyvisible --name '' 2>/dev/null | sort || true; }
rows() { iconv -f CP1251 -t UTF-8 < "$library/books.dat" | tr -d '\r' | sed -n 's/=.*//p'; }
# Visible windows that were not there in the listing given.
new_windows() { comm -13 <(echo "$1") <(visible); }
window_type() { xprop -id "$1" _NET_WM_WINDOW_TYPE 2>/dev/null || true; }

(cd "$library" && exec "$binary") 2>>"$work/stderr" &
pids+=($!)
main=$(wait_for_window '^Tomeria$')
[ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }
sleep 1.5
read -r x y _ _ <<<"$(client_rect "$main")"
# The list's items: 16 px each, below the 19 px menu and the 41 px header band.
item() { echo $((y + 19 + 41 + 16 * $1 + 8)); }
start=$(visible)

# 1. «Файл » > «Добавить книги из папки…» (second item), the folder typed in the dialog.
xdotool mousemove $((x + 20)) $((y + 9)) click 1
sleep 0.5
xdotool key Down Down Return
sleep 1.5
xdotool type --delay 5 "$source"
xdotool key Return
for _ in $(seq 300); do
    [ "$(rows | wc -l)" -ge 7 ] && break
    sleep 0.1
done
sleep 1
[ "$(rows | wc -l)" -eq 7 ] || fail "the catalogue holds $(rows | wc -l) rows, not 2 + 5 new books"
for i in 1 2 3 4 5; do
    rows | grep -qx "Яблоко $i" || fail "no row for Яблоко $i"
    [ -f "$library/books/Яблоко $i.boo" ] || fail "no file for Яблоко $i"
done
[ "$(ls -A "$library/books" | wc -l)" -eq 7 ] || fail "books/ holds $(ls -A "$library/books")"
report=$(new_windows "$start" | grep -vx "$main" | tail -n1)
if [ -z "$report" ]; then
    fail "no import window"
else
    # «Закрыть» is the default button of the report.
    xdotool windowactivate --sync "$report" key --clearmodifiers Return || true
    sleep 1
    visible | grep -qx "$report" && fail "Enter did not close the report"
fi
echo "folder added: $(rows | wc -l) rows"

# The list: Кот, the long name, Яблоко 1..5.
# 2. Enter opens the selected book in the reader.
xdotool windowactivate --sync "$main" || true
xdotool mousemove $((x + 40)) "$(item 0)" click 1
sleep 0.5
xdotool key Return
reader=$(wait_for_window '^Rich Edit Control Demo$')
if [ -z "$reader" ]; then
    fail "Enter in the list opened no reader"
else
    xdotool windowactivate --sync "$reader" key --clearmodifiers Escape || true
    sleep 1
fi
echo "enter: checked"

# 3. Delete asks (the confirmation box) and deletes on OK.
xdotool windowactivate --sync "$main" || true
shown=$(visible)
xdotool mousemove $((x + 40)) "$(item 0)" click 1
sleep 0.5
xdotool key Delete
box=""
for _ in $(seq 50); do
    box=$(new_windows "$shown" | grep -vx "$main" | tail -n1)
    [ -n "$box" ] && break
    sleep 0.1
done
if [ -z "$box" ]; then
    fail "Delete asked nothing"
else
    xdotool windowactivate --sync "$box" key --clearmodifiers Return || true
    sleep 1
    rows | grep -qx "Кот" && fail "Delete left the row"
    [ -e "$library/books/Кот.boo" ] && fail "Delete left the file"
fi
echo "delete: checked"

# 4. The tooltip: over the long name (now the first item), not over a short one.
tooltip_over() {
    xdotool mousemove $((x + 200)) $((y + 200))
    sleep 1
    local before
    before=$(visible)
    xdotool mousemove $((x + 40)) "$(item "$1")"
    sleep 2
    for w in $(new_windows "$before"); do
        window_type "$w" | grep -q TOOLTIP && return 0
    done
    return 1
}
xdotool windowactivate --sync "$main" || true
tooltip_over 0 || fail "no tooltip over the name cut off"
tooltip_over 2 && fail "a tooltip over a name shown whole"
echo "tooltip: checked"

if [ "$failures" -gt 0 ]; then
    echo "stderr of the program:"
    cat "$work/stderr"
    echo "$failures failed"
    exit 1
fi
echo "all checked"
