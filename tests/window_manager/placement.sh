#!/usr/bin/env bash
# The library window's placement with a real window manager: the real tomeria binary
# under Xvfb and openbox, started and ended ten times (half by the exit question, half
# by SIGTERM), must come back at the same rectangle every time; absurd stored
# rectangles must give a window on the screen.
#   placement.sh TOMERIA_BINARY
set -euo pipefail
binary=$1
source "$(dirname "$0")/desktop.sh"

library="$work/library"
mkdir -p "$library"
printf '\r\n' > "$library/books.dat"
failures=0

windows() { windows_named '^Tomeria$'; }

# Starts tomeria, prints the client rectangle of its window, ends it one of two ways.
# The rectangle is read once the window manager has framed the window and the check
# `settled` (a function given the rectangle "x y width height") holds, or after ten
# seconds: the program corrects the size once it learns the frame, so a first reading
# may come before that, on a loaded machine long before.
run_once() {
    local how=$1 settled=$2 pid window="" rect
    (cd "$library" && exec "$binary") 2>>"$work/stderr" &
    pid=$!
    for _ in $(seq 300); do
        window=$(windows | head -n1)
        [ -n "$window" ] && break
        sleep 0.1
    done
    if [ -z "$window" ]; then
        echo "no window shown" >&2
        kill "$pid"; wait "$pid" || true
        echo "0 0 0 0"
        return 0
    fi
    # The window manager has framed the window; the program learns that soon after.
    for _ in $(seq 100); do
        xprop -id "$window" _NET_FRAME_EXTENTS 2>/dev/null | grep -q '=' && break
        sleep 0.1
    done
    for _ in $(seq 100); do
        rect=$(client_rect "$window")
        "$settled" $rect && break
        sleep 0.1
    done
    if [ "$how" = question ]; then
        # The exit question, answered "OK"; tried again if a key went astray.
        local box="" attempt
        for attempt in 1 2 3; do
            kill -0 "$pid" 2>/dev/null || break
            box=$(windows | grep -vx "$window" | head -n1 || true)
            if [ -z "$box" ]; then
                xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4 || true
                for _ in $(seq 50); do
                    box=$(windows | grep -vx "$window" | head -n1 || true)
                    [ -n "$box" ] && break
                    sleep 0.1
                done
            fi
            [ -n "$box" ] && xdotool windowactivate --sync "$box" key --clearmodifiers Return || true
            for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        done
    else
        kill -TERM "$pid"
    fi
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
        echo "the program did not end" >&2
        kill "$pid"
        rect="0 0 0 0"
    fi
    wait "$pid" || true
    echo "$rect"
}

norm_pos() { grep -a '^NormPos=' "$library/tomeria.ini" | tr -d '\r' | cut -d= -f2; }

# What each reading waits for: the first start's width, the first start's rectangle again,
# a window on the screen and no larger than it.
first_width() { [ "$3" = 765 ]; }
as_first() { [ "$*" = "$first" ]; }
on_screen() {
    [ "$3" -le 1280 ] && [ "$4" -le 1024 ] && [ "$2" -ge 0 ] && [ "$2" -lt 1024 ] &&
        [ $(($1 + $3)) -gt 0 ] && [ "$1" -lt 1280 ]
}
within_screen() { [ "$3" -le 1280 ] && [ "$4" -le 1024 ] && [ "$1" -ge 0 ] && [ "$2" -ge 0 ]; }

# 1. Ten starts and exits: the same rectangle every time.
first=""
first_norm=""
for i in $(seq 10); do
    how=term
    [ $((i % 2)) = 0 ] && how=question
    settled=as_first
    [ -z "$first" ] && settled=first_width
    rect=$(run_once "$how" "$settled")
    norm=$(norm_pos)
    echo "start $i ($how): client $rect, NormPos $norm"
    if [ -z "$first" ]; then
        first=$rect
        first_norm=$norm
        read -r _ _ width _ <<<"$rect"
        if [ "$width" != 765 ]; then
            echo "FAIL: the first start's client area is $width wide, not 765"
            failures=$((failures + 1))
        fi
    elif [ "$how" = question ] && ! grep -aq '^Visible=0' "$library/tomeria.ini"; then
        echo "FAIL: start $i did not save through the exit question"
        failures=$((failures + 1))
    elif [ "$rect" != "$first" ] || [ "$norm" != "$first_norm" ]; then
        echo "FAIL: start $i moved the window: $rect / $norm, first $first / $first_norm"
        failures=$((failures + 1))
    fi
done

# 2. Absurd stored rectangles: the window fits the screen and its title bar is on it.
for stored in "0,0,2147483647,2147483647" "-2147483648,-2147483648,2147483647,2147483647" \
              "5000,5000,5600,5400" "-9000,-9000,-8000,-8500"; do
    printf '[TForm1]\r\nNormPos=%s\r\nPanel4_Width=-99999\r\n' "$stored" > "$library/tomeria.ini"
    read -r x y w h <<<"$(run_once term on_screen)"
    echo "NormPos $stored: client $x $y $w $h"
    if ! on_screen "$x" "$y" "$w" "$h"; then
        echo "FAIL: NormPos $stored gave a window off the screen or larger than it"
        failures=$((failures + 1))
    fi
    if ! grep -aq '^Panel4_Width=30' "$library/tomeria.ini"; then
        echo "FAIL: a negative pane width was saved back"
        failures=$((failures + 1))
    fi
done

# 3. Maximised with a list pane wider than any screen: the window stays on the screen.
printf '[TForm1]\r\nShowCmd=3\r\nNormPos=0,0,99999,99999\r\nPanel4_Width=99999\r\n' \
    > "$library/tomeria.ini"
read -r x y w h <<<"$(run_once term within_screen)"
echo "maximised, pane 99999: client $x $y $w $h"
if ! within_screen "$x" "$y" "$w" "$h"; then
    echo "FAIL: a maximised window with a wide pane is larger than the screen"
    failures=$((failures + 1))
fi

if [ "$failures" -gt 0 ]; then
    echo "stderr of the program:"; cat "$work/stderr"
    echo "0 passed, $failures failed"
    exit 1
fi
echo "placement under a window manager: all checks passed"
