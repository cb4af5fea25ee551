#!/usr/bin/env bash
# Builds and runs the benchmarks and prints their table.
set -euo pipefail
source "$(dirname "$0")/common.sh"
install_missing
build "$ROOT/build" --target bench_catalogue bench_reader bench_book_view bench_editing bench_layout bench_library bench_pathological bench_reading bench_exit bench_import bench_search bench_bulk_import bench_headings bench_pages
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# The search index of every library a benchmark makes goes to a temporary cache folder.
XDG_CACHE_HOME=$(mktemp -d)
export XDG_CACHE_HOME
trap 'rm -rf "$XDG_CACHE_HOME"' EXIT
for b in bench_catalogue bench_library bench_reading bench_reader bench_pathological bench_exit; do
    "$ROOT/build/bench/$b"
done
# Justified lines greedy against total fit, on «Война и мир» and «Мёртвые души» when the
# folder of code-page-1251 texts holds them (TOMERIA_BENCH_TEXTS), else on generated prose;
# the hyphenation patterns' loading; the layout choices' changes.
"$ROOT/build/bench/bench_layout" ${TOMERIA_BENCH_TEXTS:-}
# The reading view against the editor, on prose from a folder of code-page-1251 texts if
# one is given (TOMERIA_BENCH_TEXTS).
"$ROOT/build/bench/bench_book_view" ${TOMERIA_BENCH_TEXTS:-}
# Pages against the ribbon, «Книжная» at 1920×1080 on a 52 MB book: a turn until painted,
# opening at a place, the page count in the background, the peak memory. On the corpus
# (2 shared cores, «Разворот» / «Лента»): a turn 8.8 / 7.5 ms (before the next spread was
# laid out ahead, 22 ms); open at 90 % 10.1 / 10.4 ms; pages counted 3.0–5.4 s, no later
# than the lines (33 s before total fit weighed tolerable lines first, 4.4–6.1 s before a
# second thread counted from the book's end), 0.2–0.4 s in «Как в редакторе»; peak
# memory 100 / 95 MB.
"$ROOT/build/bench/bench_pages" ${TOMERIA_BENCH_TEXTS:-}
# Prose for the import benchmark: a folder of code-page-1251 texts, if one is given.
"$ROOT/build/bench/bench_import" ${TOMERIA_BENCH_TEXTS:-}
# The contents of plain texts: the heading scan of a 52 MB book and, on the folder's
# books, how many of their real chapters are found (their lists in bench/headings); then
# the reader's side panel on a 52 MB book of 2,000 chapters: the window's longest wait
# while they are found, showing the panel (Ctrl+T, target 50 ms) beside a column sized to
# its rows, and a heading typed while editing found again.
"$ROOT/build/bench/bench_headings" ${TOMERIA_BENCH_TEXTS:+"$TOMERIA_BENCH_TEXTS" "$ROOT/bench/headings"}
# A folder of 1,000 books added through the library window (prose from the same folder).
"$ROOT/build/bench/bench_bulk_import" ${TOMERIA_BENCH_TEXTS:-}
# Real prose when a folder of code page 1251 texts is named (TOMERIA_BENCH_TEXTS);
# TOMERIA_BENCH_MB sets the library's size (100 MB by default). With real prose it first
# measures how a word finds its forms; on the ten corpus classics, plain stems → now:
#   200 names (Базаров…): places of all forms found by any one form 86.4 % → 100.0 %
#     (lowest 5.8 % → 99.8 %; forms under 98 %: 222 of 886 → 0), typed in lower case alike;
#   14 common nouns, each form searched: places found that are no form 14.4 % → 8.3 %
#     («базар» 96.5 % → 6.7 %: Базаров no longer; «рост» 83.7 % → 0; none worse but
#     «лев», whose «львов» also finds the surname Львов, and «рука» 0 → 0.1 %);
#   «князь андрей болконский» among the classics and their 302 fragments of 30 KB: the
#     whole «Война и мир» 9th (15th in the library of the report) → 1st.
#   TOMERIA_BENCH_FORMS_ONLY=1 stops after these.
"$ROOT/build/bench/bench_search" ${TOMERIA_BENCH_TEXTS:+"$TOMERIA_BENCH_TEXTS"}
# Editing a 52 MB book in the reader window, in lines and as one line (prose from the same
# folder).
"$ROOT/build/bench/bench_editing" ${TOMERIA_BENCH_TEXTS:-}
