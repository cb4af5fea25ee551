#!/usr/bin/env bash
# Builds and runs the benchmarks and prints their table.
set -euo pipefail
source "$(dirname "$0")/common.sh"
install_missing
build "$ROOT/build" --target bench_catalogue bench_reader bench_book_view bench_layout bench_library bench_pathological bench_reading bench_exit bench_import bench_search bench_bulk_import bench_headings
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# The search index of every library a benchmark makes goes to a temporary cache folder.
XDG_CACHE_HOME=$(mktemp -d)
export XDG_CACHE_HOME
trap 'rm -rf "$XDG_CACHE_HOME"' EXIT
for b in bench_catalogue bench_library bench_reading bench_reader bench_layout bench_pathological bench_exit; do
    "$ROOT/build/bench/$b"
done
# The reading view against the editor, on prose from a folder of code-page-1251 texts if
# one is given (TOMERIA_BENCH_TEXTS).
"$ROOT/build/bench/bench_book_view" ${TOMERIA_BENCH_TEXTS:-}
# Prose for the import benchmark: a folder of code-page-1251 texts, if one is given.
"$ROOT/build/bench/bench_import" ${TOMERIA_BENCH_TEXTS:-}
# The contents of plain texts: the heading scan of a 52 MB book and, on the folder's
# books, how many of their real chapters are found (their lists in bench/headings).
"$ROOT/build/bench/bench_headings" ${TOMERIA_BENCH_TEXTS:+"$TOMERIA_BENCH_TEXTS" "$ROOT/bench/headings"}
# A folder of 1,000 books added through the library window (prose from the same folder).
"$ROOT/build/bench/bench_bulk_import" ${TOMERIA_BENCH_TEXTS:-}
# Real prose when a folder of code page 1251 texts is named (TOMERIA_BENCH_TEXTS);
# TOMERIA_BENCH_MB sets the library's size (100 MB by default).
"$ROOT/build/bench/bench_search" ${TOMERIA_BENCH_TEXTS:+"$TOMERIA_BENCH_TEXTS"}
