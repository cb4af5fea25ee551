#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one.
#   scripts/fuzz.sh [SECONDS]   (default 60 per target)
# Inputs that make a target fail are kept in fuzz/crashes/<target>/, where every
# ordinary test run replays them.
set -euo pipefail
source "$(dirname "$0")/common.sh"

seconds=${1:-60}
install_missing clang libclang-rt-14-dev
dir="$ROOT/build-fuzz"
cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DTOMERIA_FUZZ=ON >/dev/null
targets=(rtf catalogue profile text_import layout window_settings fb2 epub docx odt html book_import)
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
status=0
for target in "${targets[@]}"; do
    work="$dir/corpus/$target"
    mkdir -p "$work" "$ROOT/fuzz/crashes/$target"
    cp -n "$ROOT/fuzz/corpus/$target/"* "$work/" 2>/dev/null || true
    echo "== fuzz_$target for ${seconds}s"
    # Hostile books need room: deep nesting or thousands of attributes take a megabyte.
    case $target in
        fb2|epub|docx|odt|html|book_import) max_len=1048576 ;;
        *) max_len=65536 ;;
    esac
    if ! "$dir/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=$max_len -timeout=10 \
            -artifact_prefix="$ROOT/fuzz/crashes/$target/" "$work"; then
        status=1
    fi
done
exit $status
