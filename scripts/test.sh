#!/usr/bin/env bash
# Builds Tomeria and runs all its tests.
#   scripts/test.sh [--sanitize]
set -euo pipefail
source "$(dirname "$0")/common.sh"

dir="$ROOT/build"
options=()
if [ "${1:-}" = "--sanitize" ]; then
    install_missing clang libclang-rt-14-dev
    dir="$ROOT/build-sanitize"
    options=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOMERIA_SANITIZE=ON)
else
    install_missing
fi
cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "${options[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$dir"
ctest --output-on-failure -j"$(nproc)"
