#!/usr/bin/env bash
# Shared by test.sh, demo.sh and bench: install what is missing, configure and build.
# Usage: source scripts/setup.sh; qx_setup [build-dir]
set -euo pipefail

QX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QX_PACKAGES=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 cmake libgtest-dev libwine-dev make)

qx_install_packages() {
    local missing=()
    for p in "${QX_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

qx_build() {
    local build=$1
    cmake -S "$QX_ROOT" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/toolchain-mingw64.cmake" \
          -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j "$(nproc)"
}

qx_setup() {
    # Wine takes only an absolute prefix.
    QX_BUILD=$(realpath -m -- "${1:-$QX_ROOT/build}")
    export WINEPREFIX=$QX_BUILD/wineprefix
    export WINEDEBUG=${WINEDEBUG:--all}
    qx_install_packages
    qx_build "$QX_BUILD"
    "$QX_ROOT/scripts/wine-prefix.sh" init "$WINEPREFIX"
}
