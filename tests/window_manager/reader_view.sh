#!/usr/bin/env bash
# The reading view with real X input: the real tomeria binary under Xvfb and openbox. A
# double-click opens a book of a few megabytes in viewing mode; Ctrl+End, PageUp and
# Esc reach the view and the window, and the place left is what reading.dat keeps and
# where the next run reopens the book. Then the reader's keys: Ctrl+F brings the find
# dialog, and Ctrl+E switches to editing, where what is typed is saved by Ctrl+S; edits
# unsaved when the session ends (SIGTERM) are offered again at the next opening.
#   reader_view.sh TOMERIA_BINARY
set -euo pipefail
binary=$(realpath "$1")
source "$(dirname "$0")/desktop.sh"

library="$work/library"
mkdir -p "$library/books"
printf 'Book=\r\n' > "$library/books.dat"
for i in $(seq 60000); do printf 'Line %d of the book, long enough to be read.\r\n' "$i"; done \
    > "$library/books/Book.boo"
size=$(stat -c %s "$library/books/Book.boo")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Starts the program, opens the book by a double-click, sends the keys to the reader and
# closes the reader with Esc; prints the offset reading.dat then keeps for the book.
read_book() {
    (cd "$library" && exec "$binary") 2>>"$work/stderr" &
    local pid=$!
    pids+=($pid)
    local main reader
    main=$(wait_for_window '^Tomeria$')
    [ -n "$main" ] || { echo "FAIL: no library window" >&2; return 1; }
    sleep 1.5
    read -r x y _ _ <<<"$(client_rect "$main")"
    xdotool mousemove $((x + 40)) $((y + 19 + 41 + 8)) click --repeat 2 --delay 80 1
    reader=$(wait_for_window '^Rich Edit Control Demo$')
    [ -n "$reader" ] || { echo "FAIL: the reader did not open" >&2; return 1; }
    sleep 1
    if [ $# -gt 0 ]; then
        xdotool windowactivate --sync "$reader" key --clearmodifiers --delay 100 "$@"
    fi
    xdotool windowactivate --sync "$reader" key --clearmodifiers Escape
    for _ in $(seq 50); do
        windows_named '^Rich Edit Control Demo$' | grep -q . || break
        sleep 0.1
    done
    windows_named '^Rich Edit Control Demo$' | grep -q . && echo "FAIL: Esc left the reader open" >&2
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    tr -d '\r' < "$library/reading.dat" | awk '$3 == "Book" {print $1}'
}

# To the end, three pages up: the place is near the end of the book.
left=$(read_book ctrl+End Prior Prior Prior)
if [ -z "$left" ] || [ "$left" -lt $((size * 9 / 10)) ] || [ "$left" -ge "$size" ]; then
    fail "the place left is $left in a book of $size bytes"
else
    echo "the place left, $left of $size, is kept"
fi
# A line start: the character before it ends a line.
if [ -n "$left" ] && [ "$(tail -c +"$left" "$library/books/Book.boo" | head -c 1 | od -An -c | tr -d ' ')" != '\n' ]; then
    fail "the place $left is not a line start"
fi
# The next run reopens there and leaves it unchanged.
again=$(read_book)
[ "$again" = "$left" ] || fail "the book reopened at $again, not at $left"

# The reader's keys, with real X input.
(cd "$library" && exec "$binary") 2>>"$work/stderr" &
pid=$!
pids+=($pid)
main=$(wait_for_window '^Tomeria$')
[ -n "$main" ] || fail "no library window for the keys"
sleep 1.5
read -r x y _ _ <<<"$(client_rect "$main")"
xdotool mousemove $((x + 40)) $((y + 19 + 41 + 8)) click --repeat 2 --delay 80 1
reader=$(wait_for_window '^Rich Edit Control Demo$')
[ -n "$reader" ] || fail "the reader did not open for the keys"
sleep 1
xdotool windowactivate --sync "$reader" key --clearmodifiers ctrl+f
finder=$(wait_for_window '^Найти$')
if [ -n "$finder" ]; then
    echo "Ctrl+F brought the find dialog"
    xdotool windowactivate --sync "$finder" key --clearmodifiers Escape
    for _ in $(seq 50); do
        windows_named '^Найти$' | grep -q . || break
        sleep 0.1
    done
else
    fail "Ctrl+F brought no find dialog"
fi
xdotool windowactivate --sync "$reader" key --clearmodifiers --delay 100 ctrl+e ctrl+Home
xdotool type --delay 50 'Keyed '
xdotool key --clearmodifiers ctrl+s
saved=""
for _ in $(seq 100); do
    saved=$(head -c 12 "$library/books/Book.boo")
    [ "$saved" = "Keyed Line 1" ] && break
    sleep 0.1
done
if [ "$saved" = "Keyed Line 1" ]; then
    echo "Ctrl+E switched to editing and Ctrl+S saved what was typed"
else
    fail "after Ctrl+E, typing and Ctrl+S the book starts with '$saved'"
fi
# The session ends (SIGTERM) over unsaved edits: they are kept beside the book, and the
# next opening of the book offers them («Да» restores them for editing).
xdotool windowactivate --sync "$reader" key --clearmodifiers ctrl+Home
xdotool type --delay 50 'Kept '
# Keys are taken in order: once Ctrl+F has brought the find dialog, the text is typed.
xdotool key --clearmodifiers ctrl+f
finder=$(wait_for_window '^Найти$')
[ -n "$finder" ] || fail "Ctrl+F in editing brought no find dialog"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
recovery="$library/books/~Book.boo.unsaved"
if [ "$(head -c 17 "$recovery" 2>/dev/null)" = "Kept Keyed Line 1" ]; then
    echo "the session's end kept the unsaved edits in $(basename "$recovery")"
    [ "$(head -c 12 "$library/books/Book.boo")" = "Keyed Line 1" ] || fail "the book itself changed"
    (cd "$library" && exec "$binary") 2>>"$work/stderr" &
    pid=$!
    pids+=($pid)
    main=$(wait_for_window '^Tomeria$')
    sleep 1.5
    read -r x y _ _ <<<"$(client_rect "$main")"
    xdotool mousemove $((x + 40)) $((y + 19 + 41 + 8)) click --repeat 2 --delay 80 1
    reader=$(wait_for_window '^Rich Edit Control Demo$')
    question=""
    for _ in $(seq 50); do
        question=$(windows_named '^Tomeria$' | grep -v "^$main\$" | tail -n1) || true
        [ -n "$question" ] && break
        sleep 0.1
    done
    if [ -n "$question" ]; then
        xdotool windowactivate --sync "$question" key --clearmodifiers Return
        sleep 0.5
        xdotool windowactivate --sync "$reader" key --clearmodifiers ctrl+s
        restored=""
        for _ in $(seq 100); do
            restored=$(head -c 17 "$library/books/Book.boo")
            [ "$restored" = "Kept Keyed Line 1" ] && break
            sleep 0.1
        done
        if [ "$restored" = "Kept Keyed Line 1" ] && [ ! -e "$recovery" ]; then
            echo "the next opening restored the kept edits"
        else
            fail "after restoring, the book starts with '$restored'"
        fi
        # A save that fails (a read-only books folder) shows its error box above the
        # reader, which stays on top of other windows.
        xdotool windowactivate --sync "$reader" key --clearmodifiers ctrl+Home
        xdotool type --delay 50 'More '
        chmod a-w "$library/books"
        xdotool key --clearmodifiers ctrl+s
        box=""
        for _ in $(seq 50); do
            box=$(windows_named '^Tomeria$' | grep -v "^$main\$" | tail -n1) || true
            [ -n "$box" ] && break
            sleep 0.1
        done
        if [ -z "$box" ]; then
            fail "a failed save showed no box"
        else
            order=$(stacking)
            box_at=$(grep -n "^$box\$" <<<"$order" | cut -d: -f1) || true
            reader_at=$(grep -n "^$reader\$" <<<"$order" | cut -d: -f1) || true
            if [ -n "$box_at" ] && [ -n "$reader_at" ] && [ "$box_at" -gt "$reader_at" ]; then
                echo "the error box of a failed save is above the reader"
            else
                fail "the error box is not above the reader (stacking: $(echo $order))"
            fi
            # The error, then the offer to save elsewhere: both dismissed by keys.
            xdotool key --clearmodifiers Return
            sleep 0.5
            xdotool key --clearmodifiers Escape
        fi
        chmod u+w "$library/books"
    else
        fail "the next opening offered nothing"
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
else
    fail "SIGTERM over unsaved edits left no recovery file: $(ls -a "$library/books")"
fi

if [ "$failures" -gt 0 ]; then
    echo "stderr of the program:"; cat "$work/stderr"
    echo "$failures failed"
    exit 1
fi
echo "reading view under a window manager: all checks passed"
