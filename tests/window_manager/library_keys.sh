#!/usr/bin/env bash
# The library window by the keyboard alone: the real tomeria binary under Xvfb and
# openbox, real keys by xdotool. F10 opens the main menu on its first item; Alt alone
# gives the menu bar the focus, and «About ...» opens from it; the list's context menu
# opens on its first item. In the add-book panel Enter in the file field loads the path
# typed there, the browse button is in the Tab order, Tab leaves the preview and
# Ctrl+Tab types a tab into it; after «Сохранить» the keyboard is in the list, on the
# new book. The browse button and the code-page menu are seen by assistive technology.
# Window titles are matched in ASCII only, so any locale does.
#   library_keys.sh TOMERIA_BINARY
set -euo pipefail
binary=$1
source "$(dirname "$0")/accessible_session.sh"
# A menu shown since the windows listed were: menus are windows of their own.
menu_shown() { [ -n "$(new_windows "$1")" ]; }
wait_for_menu() { wait_until 10 menu_shown "$1"; }
# The add panel shown: its «Сохранить»; a file loaded into it: its code-page button.
wait_for_add_panel() { wait_for_object 10 'push button' 'Сохранить' >/dev/null; }
wait_for_loaded_file() { wait_for_object 10 'button menu' 'Кодировка.*' >/dev/null; }
visible() { xdotool search --onlyvisible --name '' 2>/dev/null | sort || true; }
new_windows() { comm -13 <(echo "$1") <(visible); }
rows() { iconv -f CP1251 -t UTF-8 < "$library/books.dat" | tr -d '\r' | sed -n 's/=.*//p'; }
# Waits up to ten seconds for the catalogue to list (or, with "!", not to list) a name.
wait_row() {
    for _ in $(seq 100); do
        if [ "$1" = "!" ]; then rows | grep -qx "$2" || return 0
        else rows | grep -qx "$1" && return 0; fi
        sleep 0.1
    done
    return 1
}

library="$work/library"
mkdir -p "$library/books"
printf 'Азбука=\r\n' | iconv -f UTF-8 -t CP1251 > "$library/books.dat"
printf 'a' > "$library/books/Азбука.boo"
printf 'Первая книга\r\nтекст\r\n' | iconv -f UTF-8 -t CP1251 > "$work/first.txt"
printf 'Вторая книга\r\nтекст\r\n' | iconv -f UTF-8 -t CP1251 > "$work/second.txt"

(cd "$library" && exec "$binary") 2>>"$work/stderr" &
pids+=($!)
main=$(wait_for_window '^Tomeria$')
[ -n "$main" ] || { echo "FAIL: no library window"; cat "$work/stderr"; exit 1; }
wait_for_settled_window "$main" || true
wait_for_object 20 'list item' 'Азбука' >/dev/null || { echo "FAIL: the list is not shown"; exit 1; }
xdotool windowactivate --sync "$main"

# In the open add panel, the focus in the name: back over the browse button to the file
# field, the path typed and Enter; on to «Сохранить» past the browse button, the name,
# the note, «Отмена» and «Кодировка»; into the preview, where Ctrl+Tab types a tab and
# Tab leaves; back to «Сохранить», pressed with the space bar.
add_by_keys() {
    xdotool key --clearmodifiers shift+Tab shift+Tab
    xdotool type --delay 5 "$1"
    xdotool key Return
    wait_for_loaded_file || fail "the path typed was not loaded"
    xdotool key Tab Tab Tab Tab Tab Tab
    xdotool key Tab ctrl+Tab Tab shift+Tab shift+Tab space
}

# 1. F10: the main menu on «Добавить книгу».
shown=$(visible)
xdotool key F10
wait_for_menu "$shown" || fail "F10 showed no menu"
xdotool key Return
wait_for_add_panel || fail "the menu's first item showed no add panel"
add_by_keys "$work/first.txt"
if ! wait_row "Первая книга"; then
    fail "F10, Enter and the add panel's keys added no book (rows: $(rows | tr '\n' ' '))"
else
    tabs=$(tr -cd '\t' < "$library/books/Первая книга.boo" | wc -c)
    [ "$tabs" -eq 1 ] || fail "the preview took $tabs tabs, not the one of Ctrl+Tab"
    # The list has the focus on the new book: the space bar selects it, Delete asks.
    shown=$(visible)
    xdotool key space Delete
    box=""
    for _ in $(seq 50); do
        box=$(new_windows "$shown" | grep -vx "$main" | tail -n1)
        [ -n "$box" ] && break
        sleep 0.1
    done
    if [ -z "$box" ]; then
        fail "after the add the list did not have the focus"
    else
        xdotool windowactivate --sync "$box" key --clearmodifiers Return || true
        wait_row ! "Первая книга" || fail "the book deleted was not the new one"
        rows | grep -qx "Азбука" || fail "another book was deleted"
    fi
fi
echo "F10, the add panel's keys, the focus after an add: checked"

# 2. The context menu of the list, from the keyboard: on its first item.
xdotool windowactivate --sync "$main"
shown=$(visible)
xdotool key Menu
wait_for_menu "$shown" || fail "the Menu key showed no context menu"
xdotool key Return
wait_for_add_panel || fail "the context menu's first item showed no add panel"
add_by_keys "$work/second.txt"
wait_row "Вторая книга" || fail "the context menu's first item did not add a book"
echo "context menu: checked"

# 3. Alt alone, then «Справка» > «About ...».
xdotool windowactivate --sync "$main"
shown=$(visible)
xdotool key alt
xdotool key Right Down
wait_for_menu "$shown" || fail "Alt, Right, Down opened no menu"
shown=$(visible) # the menu's window among them: the About box is the one to come
xdotool key Down Return
about=""
for _ in $(seq 50); do
    about=$(new_windows "$shown" | grep -vx "$main" | tail -n1)
    [ -n "$about" ] && break
    sleep 0.1
done
if [ -z "$about" ]; then
    fail "Alt, Right, Down, Down, Enter opened no About box"
else
    xdotool windowactivate --sync "$about" key --clearmodifiers Escape || true
fi
echo "Alt and «About ...»: checked"

# 4. Assistive technology: the browse button's name; the code-page menu under its button.
xdotool windowactivate --sync "$main"
shown=$(visible)
xdotool key F10
wait_for_menu "$shown" || fail "F10 showed no menu"
xdotool key Return
wait_for_add_panel || fail "the menu's first item showed no add panel"
xdotool key --clearmodifiers shift+Tab shift+Tab
xdotool type --delay 5 "$work/first.txt"
xdotool key Return
tree=""
for _ in $(seq 30); do
    tree=$(accessible 2>/dev/null || true)
    grep -q $'\tKOI8-R\t' <<<"$tree" && grep -q $'\tВыбрать файл\t' <<<"$tree" && break
    sleep 0.3
done
grep -q $'^push button\tВыбрать файл\t' <<<"$tree" || fail "the browse button has no name"
grep -q $'menu item\tKOI8-R\t' <<<"$tree" || fail "the code-page menu is not in the tree"
echo "accessible names: checked"

if [ "$failures" -gt 0 ]; then
    echo "stderr of the program:"; cat "$work/stderr"
    echo "$failures failed"
    exit 1
fi
echo "library window by keyboard: all checks passed"
