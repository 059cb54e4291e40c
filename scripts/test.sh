#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine. Exit status non-zero on any failure.
#   scripts/test.sh [extra ctest arguments...]      (build tree: $QX_BUILD_DIR, default ./build)
set -euo pipefail
source "$(dirname "$0")/setup.sh"
qx_setup "${QX_BUILD_DIR:-}"

"$QX_ROOT/scripts/wine-prefix.sh" start "$WINEPREFIX"
trap '"$QX_ROOT/scripts/wine-prefix.sh" stop "$WINEPREFIX"' EXIT
cd "$QX_BUILD"
ctest --output-on-failure -j 2 "$@"
