#!/usr/bin/env bash
# The search window with the real program under Xvfb and openbox:
# 1. started on a damaged index (one 8 KB block of postlist.glass overwritten), the
#    program lives on, the index is made anew and finds the books again;
# 2. a passage of 1,000 common words pasted as the query, and its first result opened:
#    the windows answer X input all the while (the longest wait is printed and must
#    stay under FREEZE_LIMIT_MS), and the reader opens the book;
# 3. absurd stored places of the search window give a window on the screen;
# 4. with no place stored it opens beside the library window, or centred when there is
#    no room beside it, and Esc closes it.
#   search_window.sh TOMERIA_BINARY
set -euo pipefail
binary=$1
source "$(dirname "$0")/desktop.sh"
limit=${FREEZE_LIMIT_MS:-1000}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
reader_windows() { windows_named '^Rich Edit Control Demo$'; }
# The search window: the program's visible window that is neither the library window
# nor the reader (found by its process, as a Russian title is not matched in every
# locale).
search_windows() {
    local readers
    readers=$(reader_windows)
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null || true); do
        [ "$w" = "$main" ] || grep -qx "$w" <<<"$readers" || echo "$w"
    done
}
now_ms() { date +%s%3N; }
# The probe's key and the check's own input never interleave: a Shift pressed while the
# check holds Ctrl would make Ctrl+V a Ctrl+Shift+V, and its clearing of modifiers would
# let go of the check's Ctrl.
keylock="$work/keys.lock"
input() { flock "$keylock" xdotool "$@"; }

# A library of made-up Russian prose in code page 1251: three books of 400,000 common
# words each, and «Запрос», a single line of 1,000 of the same words to paste.
library="$work/library"
mkdir -p "$library/books"
prose() { # prose SEED WORDS [one line]
    awk -v seed="$1" -v n="$2" -v oneline="${3:-}" 'BEGIN { srand(seed)
        c = split("и в не на он что с я как а то она но по его к все так мне было это за " \
                  "из у же ты бы от война мир князь Андрей читал книга дом дорога сказал " \
                  "время жизнь человек глаза рука слово день ночь город поле лес солдат " \
                  "полк генерал письмо сердце любовь снова тогда", w, " ")
        for (i = 1; i <= n; i++) {
            printf "%s ", w[int(rand() * c) + 1]
            if (!oneline && i % 12 == 0) printf "снова.\r\n"
        }
    }' | LC_ALL=C.UTF-8 iconv -f UTF-8 -t CP1251
}
for b in 1 2 3; do prose "$b" 400000 > "$library/books/Книга $b.boo"; done
prose 99 1000 oneline > "$library/books/Запрос.boo"
printf 'Запрос=\r\nКнига 1=\r\nКнига 2=\r\nКнига 3=\r\n' | LC_ALL=C.UTF-8 iconv -f UTF-8 -t CP1251 \
    > "$library/books.dat"

pid=""
start() {
    (cd "$library" && exec "$binary") 2>>"$work/stderr" &
    pid=$!
    pids+=("$pid")
    main=$(wait_for_window '^Tomeria$')
    [ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }
    sleep 1
}
stop() {
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
# Waits until the index's files keep their sizes for two seconds (indexing done).
wait_for_index() {
    local last="" same=0 sizes
    for _ in $(seq 600); do
        sizes=$(ls -l "$XDG_CACHE_HOME"/tomeria/*/ 2>/dev/null | awk '{print $5, $9}' | tr '\n' ' ')
        if [ -n "$sizes" ] && [ "$sizes" = "$last" ]; then
            same=$((same + 1))
            [ "$same" -ge 20 ] && return 0
        else
            same=0
        fi
        last=$sizes
        sleep 0.1
    done
}

# The longest time the active window takes to notice a key: each Shift press makes Qt
# set the window's _NET_WM_USER_TIME, which it does only from its event loop. A probe
# during which another window became active proves nothing (its key went elsewhere) and
# is not counted; a window that freezes stays the active one.
probe() { # probe OUTPUT_FILE STOP_FILE
    local out=$1 stopfile=$2 window before t0 t counted
    : > "$out"
    while [ ! -e "$stopfile" ]; do
        window=$(xdotool getactivewindow 2>/dev/null || true)
        [ -n "$window" ] || { sleep 0.05; continue; }
        before=$(xprop -id "$window" _NET_WM_USER_TIME 2>/dev/null || true)
        input key --clearmodifiers shift 2>/dev/null || true
        t0=$(now_ms)
        counted=1
        while [ "$(xprop -id "$window" _NET_WM_USER_TIME 2>/dev/null || true)" = "$before" ]; do
            t=$(now_ms)
            [ $((t - t0)) -gt 120000 ] && break
            [ -e "$stopfile" ] && [ $((t - t0)) -gt 1000 ] && break
            if [ "$(xdotool getactivewindow 2>/dev/null || true)" != "$window" ]; then
                counted=""
                break
            fi
            sleep 0.005
        done
        [ -n "$counted" ] && echo $(($(now_ms) - t0)) >> "$out"
        sleep 0.05
    done
}

# 1. A damaged index at the start: postlist.glass cut to half its blocks (the engine
# reads past its end), then one 8 KB block of it overwritten with random bytes.
start
wait_for_index
stop
index=$(ls -d "$XDG_CACHE_HOME"/tomeria/*/ | head -n1)
postlist="$index/postlist.glass"
for damage in cut block; do
    blocks=$(($(stat -c %s "$postlist") / 8192))
    if [ "$damage" = cut ]; then
        truncate -s $((blocks / 2 * 8192)) "$postlist"
    else
        dd if=/dev/urandom of="$postlist" bs=8192 seek=$((blocks - 1)) count=1 conv=notrunc 2>/dev/null
    fi
    stamp=$(md5sum "$index/iamglass" | cut -c1-32)
    start
    sleep 3
    if ! kill -0 "$pid" 2>/dev/null; then
        fail "the program ended on a damaged index ($damage)"
        cat "$work/stderr"
        exit 1
    fi
    # The index made anew: its version file changes (on a busy machine the program may
    # start indexing later than the sizes' two quiet seconds), then the sizes settle.
    if [ "$damage" = cut ]; then
        for _ in $(seq 600); do
            [ "$(md5sum "$index/iamglass" 2>/dev/null | cut -c1-32)" != "$stamp" ] && break
            sleep 0.1
        done
    fi
    wait_for_index
    if [ "$damage" = cut ] && [ "$(md5sum "$index/iamglass" | cut -c1-32)" = "$stamp" ]; then
        fail "the damaged index ($damage) was not made anew"
    fi
    echo "damaged index ($damage): the program lives on"
    [ "$damage" = cut ] && stop
done

# 2. The pasted passage. «Запрос» is copied from the reader, then pasted as the query
# (all again, up to three times, should a key have gone astray on a loaded machine).
read -r x y _ _ <<<"$(client_rect "$main")"
search=""
copy_passage() {
    # The search window of an earlier attempt is closed first: it may cover the list.
    if [ -n "$search" ]; then
        input windowactivate --sync "$search" key --clearmodifiers alt+F4 2>/dev/null || true
        sleep 0.5
    fi
    xdotool windowactivate --sync "$main" 2>/dev/null || true
    input mousemove $((x + 40)) $((y + 19 + 41 + 8)) click --repeat 2 --delay 80 1
    reader=""
    for _ in $(seq 100); do reader=$(reader_windows | tail -n1); [ -n "$reader" ] && break; sleep 0.1; done
    [ -n "$reader" ] || return 0
    sleep 1
    input windowactivate --sync "$reader" key --clearmodifiers ctrl+a ctrl+c
    sleep 0.5
    input windowactivate --sync "$reader" key --clearmodifiers alt+F4
    for _ in $(seq 50); do [ -z "$(reader_windows)" ] && break; sleep 0.1; done
}
open_search() {
    input windowactivate --sync "$main" key --clearmodifiers ctrl+shift+f
    search=""
    for _ in $(seq 50); do search=$(search_windows | tail -n1); [ -n "$search" ] && break; sleep 0.1; done
    [ -n "$search" ] && xdotool windowactivate --sync "$search"
    sleep 0.5
}

probe "$work/waits" "$work/probe.stop" &
probe_pid=$!
pids+=("$probe_pid")
opened=""
for attempt in 1 2 3; do
    copy_passage
    open_search
    [ -n "$search" ] || { fail "Ctrl+Shift+F showed no search window"; break; }
    t_paste=$(now_ms)
    input key --clearmodifiers ctrl+a ctrl+v
    # The first result: Tab to the list, its first row, Enter; tried until the list is
    # there and the reader shows the book.
    for _ in $(seq 40); do
        sleep 0.5
        input key --clearmodifiers Tab Home Return 2>/dev/null || true
        opened=$(reader_windows | tail -n1)
        [ -n "$opened" ] && break
        xdotool windowactivate --sync "$search" 2>/dev/null || true
        input key --clearmodifiers shift+Tab 2>/dev/null || true
    done
    [ -n "$opened" ] && break
    echo "attempt $attempt: no result opened; copying again"
done
t_open=$(now_ms)
sleep 1
touch "$work/probe.stop"
wait "$probe_pid" 2>/dev/null || true
longest=$(sort -n "$work/waits" | tail -n1)
probes=$(wc -l < "$work/waits")
memory=$(awk '/VmHWM/ {print int($2 / 1024)}' "/proc/$pid/status" 2>/dev/null || echo "?")
echo "pasted 1,000 words, first result opened after $((t_open - t_paste)) ms;" \
     "longest wait for the windows: ${longest:-?} ms over $probes probes; peak memory ${memory} MB"
[ -n "$opened" ] || fail "the first result of the pasted query did not open in the reader"
if [ -z "$longest" ] || [ "$longest" -gt "$limit" ]; then
    fail "the windows did not answer for ${longest:-?} ms (limit $limit ms)"
fi
stop

# 3. The search window's stored place, absurd: the window still stands on the screen.
for stored in "5000,5000,5760,5480" "-9000,-9000,-8000,-8500" "-2147483648,-2147483648,2147483647,2147483647"; do
    printf '[SearchWindow]\r\nNormPos=%s\r\n' "$stored" > "$library/tomeria.ini"
    start
    xdotool windowactivate --sync "$main" key --clearmodifiers ctrl+shift+f
    search=""
    for _ in $(seq 50); do search=$(search_windows | tail -n1); [ -n "$search" ] && break; sleep 0.1; done
    sleep 1
    if [ -z "$search" ]; then
        fail "NormPos $stored: no search window"
    else
        read -r sx sy sw sh <<<"$(client_rect "$search")"
        echo "search window with NormPos $stored: client $sx $sy $sw $sh"
        if [ "$sx" -lt 0 ] || [ "$sy" -lt 0 ] || [ $((sx + sw)) -gt 1280 ] || [ $((sy + sh)) -gt 1024 ]; then
            fail "NormPos $stored put the search window partly off the screen"
        fi
    fi
    stop
done

# 4. No place stored: the search window opens beside the library window when there is
# room (the library window stored at the screen's left), else centred on the screen;
# Esc closes it. Frames are the client rectangles grown by _NET_FRAME_EXTENTS.
frame_rect() { # x y width height of a window's frame, once the window manager tells it
    local extents
    for _ in $(seq 100); do
        extents=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ,)
        [ -n "$extents" ] && break
        sleep 0.1
    done
    read -r l r t b <<<"${extents:-0 0 0 0}"
    read -r cx cy cw ch <<<"$(client_rect "$1")"
    echo $((cx - l)) $((cy - t)) $((cw + l + r)) $((ch + t + b))
}
beside() { [ "$1" -ge $((mx + mw)) ] || [ $(($1 + $3)) -le "$mx" ]; }
centred() {
    local dx=$(($1 + $3 / 2 - 640)) dy=$(($2 + $4 / 2 - 512))
    [ "${dx#-}" -le 3 ] && [ "${dy#-}" -le 3 ]
}
for layout in beside centred; do
    if [ "$layout" = beside ]; then
        printf '[TForm1]\r\nNormPos(1280x1024)=0,0,500,600\r\n' > "$library/tomeria.ini"
    else
        rm -f "$library/tomeria.ini"
    fi
    start
    xdotool windowactivate --sync "$main" key --clearmodifiers ctrl+shift+f
    search=""
    for _ in $(seq 50); do search=$(search_windows | tail -n1); [ -n "$search" ] && break; sleep 0.1; done
    if [ -z "$search" ]; then
        fail "no place stored ($layout): no search window"
        stop
        continue
    fi
    read -r mx my mw mh <<<"$(frame_rect "$main")"
    for _ in $(seq 100); do
        read -r sx sy sw sh <<<"$(frame_rect "$search")"
        "$layout" "$sx" "$sy" "$sw" "$sh" && break
        sleep 0.1
    done
    echo "no place stored: library window $mx $my $mw $mh, search window $sx $sy $sw $sh"
    "$layout" "$sx" "$sy" "$sw" "$sh" ||
        fail "no place stored: the search window is not $layout the library window's"
    xdotool windowactivate --sync "$search" key --clearmodifiers Escape
    for _ in $(seq 50); do [ -z "$(search_windows)" ] && break; sleep 0.1; done
    [ -z "$(search_windows)" ] || fail "Esc did not close the search window"
    stop
done

if grep -q "terminate called" "$work/stderr"; then
    fail "the program aborted"
fi
if [ "$failures" -gt 0 ]; then
    echo "stderr of the program:"; cat "$work/stderr"
    exit 1
fi
echo "search window under a window manager: all checks passed"
