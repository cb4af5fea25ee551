# Sourced by the window-manager checks: a private X display (Xvfb, 1280 x 1024, or
# DESKTOP_SCREEN as WIDTHxHEIGHTxDEPTH) with
# openbox managing it, torn down on exit, and helpers for finding and measuring windows.
# Sets: work (a temporary folder), pids (processes to end), DISPLAY.
for tool in Xvfb openbox xdotool xwininfo xprop; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/test.sh installs it)"
        exit 0
    fi
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 "${DESKTOP_SCREEN:-1280x1024x24}" -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
# The program's search index goes to the temporary folder too, never the user's cache.
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work" HOME="$work" XDG_CACHE_HOME="$work/cache"
# openbox is started again should it end before it manages the display (it can, on a
# loaded machine); what it said is shown when it never does.
wm_ready=no
for _ in 1 2 3; do
    openbox >>"$work/openbox.log" 2>&1 &
    wm_pid=$!
    pids+=($wm_pid)
    for _ in $(seq 300); do
        if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
            wm_ready=yes
            break
        fi
        kill -0 "$wm_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ "$wm_ready" = yes ] && break
done
[ "$wm_ready" = yes ] || { echo "FAIL: openbox did not start"; cat "$work/openbox.log"; exit 1; }
sleep 0.5 # openbox manages new windows once it has set up

# The visible windows with the title given as a regular expression, oldest first.
# The title is read as the window manager shows it (_NET_WM_NAME, always UTF-8): Qt
# writes the older WM_NAME, which xdotool's own search reads, in the program's locale
# encoding, so a Cyrillic title would not match it under LANG=C.
windows_named() {
    local id
    for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        LC_ALL=C.UTF-8 xprop -id "$id" -notype _NET_WM_NAME 2>/dev/null |
            sed -n 's/^_NET_WM_NAME = "\(.*\)"$/\1/p' |
            LC_ALL=C.UTF-8 grep -Eq -- "$1" && echo "$id"
    done
    return 0
}

# Waits up to five seconds for a visible window titled as given; prints its id.
wait_for_window() {
    local found=""
    for _ in $(seq 50); do
        found=$(windows_named "$1" | tail -n1)
        [ -n "$found" ] && break
        sleep 0.1
    done
    echo "$found"
}

# Client rectangle of a window: x y width height.
client_rect() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                             /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}

# The managed windows from bottom to top, as decimal ids.
stacking() {
    xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*#//; s/,/ /g' |
        tr ' ' '\n' | grep . | while read -r id; do printf '%d\n' "$id"; done
}

# Runs a command every tenth of a second until it succeeds, for at most SECONDS seconds:
#   wait_until SECONDS COMMAND [ARGUMENTS...]
wait_until() {
    local tries=$(($1 * 10))
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Waits up to five seconds for a window to stand still (the same rectangle on two reads
# a tenth of a second apart), as after openbox has placed and framed it.
wait_for_settled_window() {
    local before="" now
    for _ in $(seq 50); do
        now=$(client_rect "$1" 2>/dev/null || true)
        [ -n "$now" ] && [ "$now" = "$before" ] && return 0
        before=$now
        sleep 0.1
    done
    return 1
}

# What the running programs show to assistive technology (role, name, x y w h), for
# checks run in a session of their own with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
accessible_objects() {
    LC_ALL=C.UTF-8 /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/accessible.py" 2>/dev/null || true
}

# Waits up to SECONDS for an object of that role and name (regular expressions) shown on
# the screen; prints its rectangle, x y width height.
#   wait_for_object SECONDS ROLE NAME
wait_for_object() {
    local end=$((SECONDS + $1)) found
    while :; do
        found=$(accessible_objects | LC_ALL=C.UTF-8 awk -F'\t' -v role="^($2)\$" -v name="^($3)\$" \
            '$1 ~ role && $2 ~ name { split($3, r, " "); if (r[3] > 0 && r[4] > 0) { print $3; exit } }')
        [ -n "$found" ] && { echo "$found"; return 0; }
        [ "$SECONDS" -ge "$end" ] && return 1
        sleep 0.1
    done
}

# A click in the middle of a rectangle (x y width height); xdotool's click arguments
# after it (a left click by default).
click_middle() {
    local x y w h
    read -r x y w h <<<"$1"
    shift
    [ $# -gt 0 ] || set -- 1
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click "$@"
}

# Starts the program in a library folder and opens the first book of its list with a
# double click; sets `main` and `reader` to the two windows, or fails.
#   open_first_book LIBRARY BINARY
open_first_book() {
    local x y
    (cd "$1" && exec "$2") 2>>"$work/stderr" &
    pids+=($!)
    main=$(wait_for_window '^Tomeria$')
    [ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }
    wait_for_settled_window "$main" || true
    read -r x y _ _ <<<"$(client_rect "$main")"
    # The list may still be filling when the window stands: the double click is given
    # again until the reader opens.
    reader=""
    for _ in 1 2 3 4 5; do
        xdotool mousemove $((x + 40)) $((y + 19 + 41 + 8)) click --repeat 2 --delay 80 1
        reader=$(wait_for_window '^Rich Edit Control Demo$')
        [ -n "$reader" ] && break
    done
    [ -n "$reader" ] || { echo "FAIL: the reader did not open"; cat "$work/stderr"; exit 1; }
}
