#!/usr/bin/env bash
# Builds Tomeria and starts it in a library folder (default: ~/Tomeria).
#   scripts/run.sh [FOLDER]
set -euo pipefail
source "$(dirname "$0")/common.sh"

folder=${1:-$HOME/Tomeria}
install_missing
build "$ROOT/build" --target tomeria

if [ ! -e "$folder" ]; then
    if [ -z "${1:-}" ] && [ -d "$ROOT/examples/library" ]; then
        # The first start shows a real library: the sample books.
        mkdir -p "$folder"
        cp -r "$ROOT/examples/library/." "$folder/"
    fi
    mkdir -p "$folder/books"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: run Tomeria on a virtual one with: xvfb-run -a scripts/run.sh ${1:-}" >&2
    exit 1
fi
cd "$folder"
exec "$ROOT/build/src/tomeria"
