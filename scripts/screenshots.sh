#!/usr/bin/env bash
# Draws the README's pictures (docs/images/*.png) with the real windows over a copy
# of the sample library, on a virtual X display; the presets and «Разворот» over a whole
# book, «Мёртвые души» of the corpus beside the project (or the book given).
#   screenshots.sh [BOOK]
set -euo pipefail
source "$(dirname "$0")/common.sh"
install_missing
build "$ROOT/build" --target screenshots
library=$(mktemp -d)
cache=$(mktemp -d) # the search index of the copy, kept apart from the user's
trap 'rm -rf "$library" "$cache"' EXIT
cp -r "$ROOT/examples/library/." "$library/"
mkdir -p "$ROOT/docs/images"
unset QT_QPA_PLATFORM
book=${1:-$ROOT/../shared/corpus/texts/gogol_myortvye_dushi.txt}
[ -f "$book" ] || { echo "no whole book at $book: the presets and «Разворот» are left as they are"; book=""; }
XDG_CACHE_HOME=$cache xvfb-run -a -s "-screen 0 1280x1024x24" "$ROOT/build/tools/screenshots" \
    "$library" "$ROOT/docs/images" ${book:+"$book"}
ls "$ROOT/docs/images"
