#!/usr/bin/env bash
# The library window with a real window manager: the real tomeria binary under Xvfb and
# openbox. Every click on the empty item of an empty catalogue brings up the error box;
# the help window stays above the disabled library window when that one is clicked,
# offers no maximising or resizing, asks for no minimising and comes back if minimised.
#   library_window.sh TOMERIA_BINARY
set -euo pipefail
binary=$1
source "$(dirname "$0")/desktop.sh"

library="$work/library"
mkdir -p "$library/books"
: > "$library/books.dat"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$library" && exec "$binary") 2>>"$work/stderr" &
pids+=($!)
main=$(wait_for_window '^Tomeria$')
[ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }
sleep 1.5
read -r x y _ _ <<<"$(client_rect "$main")"

# 1. The empty item refuses every click with the error box. It is the first line of the
# list, below the 19 px menu and the 41 px header band.
for clicks in 1 2 3; do
    xdotool mousemove $((x + 40)) $((y + 19 + 41 + 8)) click 1
    box=""
    for _ in $(seq 50); do
        box=$(windows_named '^Tomeria$' | grep -vx "$main" | tail -n1 || true)
        [ -n "$box" ] && break
        sleep 0.1
    done
    if [ -z "$box" ]; then
        fail "click $clicks on the empty item showed no error box"
        continue
    fi
    xdotool windowactivate --sync "$box" key --clearmodifiers Return || true
    for _ in $(seq 50); do
        windows_named '^Tomeria$' | grep -qx "$box" || break
        sleep 0.1
    done
done
echo "empty item: three clicks checked"

# 2. Help belongs to the library window.
xdotool windowactivate --sync "$main" key --clearmodifiers F1
help=$(wait_for_window 'Справка программы')
if [ -z "$help" ]; then
    fail "F1 showed no help window"
else
    sleep 0.5
    xdotool mousemove $((x + 700)) $((y + 200)) click 1 # on the disabled library window
    sleep 0.5
    main_at=$(stacking | grep -nx "$main" | cut -d: -f1)
    help_at=$(stacking | grep -nx "$help" | cut -d: -f1)
    if [ -z "$main_at" ] || [ -z "$help_at" ] || [ "$help_at" -lt "$main_at" ]; then
        fail "the clicked library window came over help (bottom to top: $(stacking | tr '\n' ' '))"
    else
        echo "help stays above the clicked library window"
    fi
    actions=$(xprop -id "$help" _NET_WM_ALLOWED_ACTIONS)
    if grep -Eq 'MAXIMIZE|RESIZE' <<<"$actions"; then
        fail "help can be maximised or resized: $actions"
    fi
    # Help asks for the close box alone: the Motif hints give no minimise or maximise
    # function (8, 16) or button (32, 64). openbox offers minimising all the same; help
    # then comes back at once, never leaving the disabled library window alone.
    read -r _ functions decorations _ <<<"$(xprop -id "$help" _MOTIF_WM_HINTS |
        sed 's/.*= //; s/,//g')"
    if (( (functions & 24) != 0 || (decorations & 96) != 0 )); then
        fail "help asks for minimise or maximise: $(xprop -id "$help" _MOTIF_WM_HINTS)"
    fi
    xdotool windowminimize "$help" || true
    sleep 1
    shown=no
    for _ in $(seq 50); do
        if xprop -id "$help" WM_STATE 2>/dev/null | grep -q 'window state: Normal'; then
            shown=yes
            break
        fi
        sleep 0.1
    done
    [ "$shown" = yes ] || fail "help stayed minimised: $(xprop -id "$help" WM_STATE)"
fi

if [ "$failures" -gt 0 ]; then
    echo "stderr of the program:"; cat "$work/stderr"
    echo "$failures failed"
    exit 1
fi
echo "library window under a window manager: all checks passed"
