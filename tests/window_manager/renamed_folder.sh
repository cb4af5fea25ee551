#!/usr/bin/env bash
# A library folder renamed while the real program runs in it, under Xvfb and openbox: a
# book added through the window afterwards, and the settings written at exit, land in
# the folder under its new name; nothing is ever created at the old path.
#   renamed_folder.sh TOMERIA_BINARY
set -euo pipefail
binary=$1
source "$(dirname "$0")/desktop.sh"

library="$work/library"
renamed="$work/renamed"
mkdir -p "$library/books"
printf 'Azbuka=first\r\n' > "$library/books.dat"
printf 'a' > "$library/books/Azbuka.boo"
printf 'Kniga\r\nText of the new book.\r\n' > "$work/source.txt"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Every widget a window of its own, so that its place can be read off the X tree.
(cd "$library" && QT_USE_NATIVE_WINDOWS=1 exec "$binary") 2>>"$work/stderr" &
program=$!
pids+=($program)
main=$(wait_for_window '^Tomeria$')
[ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }
sleep 1.5
mv "$library" "$renamed"

# The centre of the child window of the given geometry (WxH+X+Y inside its parent).
centre_of() {
    xwininfo -tree -id "$main" | awk -v g="$1" 'index($0, " " g " ") {
        split($NF, a, "+"); split(g, s, "[x+]"); print a[2] + int(s[1] / 2), a[3] + int(s[2] / 2); exit }'
}

# File > Add a book, the browse button, the file typed into the file dialog, Save.
read -r x y _ _ <<<"$(client_rect "$main")"
xdotool mousemove $((x + 15)) $((y + 9)) click 1
sleep 0.5
xdotool key Down Return
sleep 0.5
read -r bx by <<<"$(centre_of '26x19+395+6')"
[ -n "${bx:-}" ] || { echo "FAIL: no browse button"; exit 1; }
xdotool mousemove "$bx" "$by" click 1
dialog=""
for _ in $(seq 50); do
    dialog=$(xdotool getactivewindow 2>/dev/null || true)
    [ -n "$dialog" ] && [ "$dialog" != "$main" ] && break
    sleep 0.1
done
sleep 0.5
xdotool type --delay 20 "$work/source.txt"
xdotool key Return
sleep 1
read -r sx sy <<<"$(centre_of '126x21+450+50')"
xdotool mousemove "$sx" "$sy" click 1
sleep 1

[ -f "$renamed/books/Kniga.boo" ] || fail "the added book is not in the renamed folder"
grep -q '^Kniga=' "$renamed/books.dat" || fail "the renamed folder's catalogue lacks the book"
[ -e "$library" ] && fail "the add created the old path: $(find "$library" | tr '\n' ' ')"
echo "add after the rename checked"

# Exit through the window: the close asks, OK ends the program, the settings are written.
xdotool windowactivate --sync "$main" key --clearmodifiers alt+F4 || true
for _ in $(seq 50); do
    box=$(windows_named '^Tomeria$' | grep -vx "$main" | tail -n1 || true)
    [ -n "$box" ] && break
    sleep 0.1
done
[ -n "${box:-}" ] && xdotool windowactivate --sync "$box" key --clearmodifiers Return || true
for _ in $(seq 100); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$program" 2>/dev/null && fail "the program did not end"
[ -f "$renamed/tomeria.ini" ] || fail "tomeria.ini is not in the renamed folder"
[ -e "$library" ] && fail "the exit created the old path: $(find "$library" | tr '\n' ' ')"
echo "exit after the rename checked"

if [ "$failures" -gt 0 ]; then
    cat "$work/stderr"
    exit 1
fi
echo "PASS"
