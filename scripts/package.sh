#!/usr/bin/env bash
# Builds the Debian package of Tomeria: build-package/tomeria_*.deb
#   sudo apt install ./build-package/tomeria_*.deb
set -euo pipefail
source "$(dirname "$0")/common.sh"
install_missing dpkg-dev file
dir="$ROOT/build-package"
cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target tomeria
(cd "$dir" && cpack -G DEB)
ls "$dir"/tomeria_*.deb
