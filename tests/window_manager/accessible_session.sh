# Sourced first, with no arguments, by a check that reads the program through the
# accessibility bus. Outside a session: the check is skipped when a tool it needs is
# missing (`session_tools`: those it needs beyond the bus's), else it runs again inside a
# session bus of its own, the accessibility bus's socket in a cache folder of this run's
# (in the shared ~/.cache another session's bus would take its place). Inside: the
# desktop (desktop.sh), accessibility on, `accessible` (the objects on the bus, one a
# line, from accessible.py) and `fail`, which counts failures.
if [ -z "${TOMERIA_IN_SESSION:-}" ]; then
    for tool in dbus-run-session /usr/libexec/at-spi-bus-launcher /usr/bin/python3 ${session_tools:-}; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 0; }
    done
    /usr/bin/python3 -c 'import dbus' 2>/dev/null || { echo "SKIP: python3-dbus is not installed"; exit 0; }
    cache=$(mktemp -d)
    trap 'rm -rf "$cache"' EXIT
    # The session bus's own notes are left out of the output.
    XDG_CACHE_HOME="$cache" TOMERIA_IN_SESSION=1 dbus-run-session -- bash "$0" "$@" \
        2> >(grep -v '^dbus-daemon\|^SpiRegistry' >&2)
    exit
fi
source "$(dirname "${BASH_SOURCE[0]}")/desktop.sh"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 XDG_CACHE_HOME="$work/cache"
accessible() { LC_ALL=C.UTF-8 /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/accessible.py"; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
