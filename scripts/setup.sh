#!/usr/bin/env bash
# Shared by test.sh, demo.sh and bench: install what is missing, configure and build.
# Usage: source scripts/setup.sh; qx_setup [build-dir]
set -euo pipefail

QX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Both architectures' compilers, Wine, the import-library and PE tools (llvm), the C# compiler for the binding's
# test, zip for the SDK package, python3 for the SDK checks.
QX_PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools wine wine64 cmake libgtest-dev
             libwine-dev make llvm mono-mcs zip unzip python3)

qx_install_packages() {
    local missing=() sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    # A 32-bit Wine only where the kernel runs 32-bit programs: installed on a kernel that cannot, wine32
    # makes Debian's wine fail for every program, 64-bit ones included.
    local x86=""
    if bash "$QX_ROOT/scripts/x86-support.sh" kernel; then
        x86=1
        dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    elif [ -z "${QX_X86_NOTICE_SHOWN:-}" ]; then
        echo "This kernel cannot run 32-bit programs: the x86 programs are built and checked, not run (no wine32)."
        export QX_X86_NOTICE_SHOWN=1
    fi
    for p in "${QX_PACKAGES[@]}" ${x86:+wine32:i386}; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

qx_build() {
    local build=$1
    cmake -S "$QX_ROOT" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$QX_ROOT/cmake/toolchain-mingw64.cmake" \
          -DCMAKE_BUILD_TYPE=Release >/dev/null
    # The x64 tree also builds the x86 deliverables in $build/x86.
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
