# Shared by the project's scripts: installs what the build needs and builds Tomeria.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
          libxapian-dev
          fonts-liberation2 fonts-paratype fonts-dejavu-core poppler-utils xvfb xauth
          libuchardet-dev libarchive-dev libgumbo-dev libhyphen-dev hyphen-ru
          qt6-translations-l10n libqt6svg6 libxcb1-dev openbox xdotool x11-utils x11-xserver-utils imagemagick
          dbus at-spi2-core python3 python3-dbus zlib1g-dev)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo_=""
    [ "$(id -u)" = 0 ] || sudo_=sudo
    $sudo_ apt-get update -qq
    $sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build DIR [build options...], e.g. build "$ROOT/build" --target tomeria
build() {
    local dir=$1; shift
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$dir" -j"$(nproc)" "$@"
}
