#!/usr/bin/env bash
# Builds (as scripts/test.sh does), runs every benchmark under Wine and prints one table of figures, each a
# ratio to a baseline measured in the same run, with the machine and the Wine version.
#   scripts/bench.sh               benchmarks P1-P4
#   scripts/bench.sh --hardening   then the hardening tests R1-R5 at their full counts, with their figures
# Build tree: $QX_BUILD_DIR (default ./build). Figures are not a pass condition: the exit status is non-zero
# only when a program fails to run (or, with --hardening, when a hardening test fails).
set -euo pipefail
source "$(dirname "$0")/setup.sh"

hardening=0
for arg in "$@"; do
    case $arg in
    --hardening) hardening=1 ;;
    *) echo "usage: scripts/bench.sh [--hardening]" >&2; exit 2 ;;
    esac
done

qx_setup "${QX_BUILD_DIR:-}"
BIN=$QX_BUILD/bin
"$QX_ROOT/scripts/wine-prefix.sh" start "$WINEPREFIX"
trap '"$QX_ROOT/scripts/wine-prefix.sh" stop "$WINEPREFIX"' EXIT

results=$(mktemp)
trap 'rm -f "$results"; "$QX_ROOT/scripts/wine-prefix.sh" stop "$WINEPREFIX"' EXIT
status=0

run() {  # run NAME PROGRAM [ARGS...]: keeps the ROW/NOTE/FIGURE lines, shows progress
    local name=$1; shift
    echo "== $name" >&2
    local out
    if ! out=$(cd "$BIN" && wine "$@" </dev/null 2>&1); then
        echo "$out" | grep -v -E '^(ROW|NOTE|FIGURE)\b' >&2 || true
        echo "!! $name failed" >&2
        status=1
    fi
    echo "$out" | grep -E '^(ROW|NOTE|FIGURE|INFO)' >>"$results" || true
}

run "P1 client call, P2 end to end, P4 client call with a slow terminal" qxbench_client.exe
run "P3 configuration load" qxbench_config.exe

if [ $hardening -eq 1 ]; then
    export QX_HARDENING_FULL=1
    for t in "$BIN"/hardening_*_tests.exe; do
        [ -e "$t" ] || continue
        run "$(basename "$t" .exe) (full counts)" "$(basename "$t")" --gtest_color=no
        # Killing the terminal leaves Wine unable to create its COM class for a while: start a new session.
        if [[ $t == *terminal* ]]; then
            "$QX_ROOT/scripts/wine-prefix.sh" stop "$WINEPREFIX"
            "$QX_ROOT/scripts/wine-prefix.sh" start "$WINEPREFIX"
        fi
    done
fi

cpu=$(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2- | sed 's/^ *//')
echo
echo "QXPilot benchmarks, $(date '+%Y-%m-%d %H:%M')"
echo "Machine: $(nproc) cores, ${cpu:-unknown CPU}, $(uname -sr); $(wine --version 2>/dev/null); load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
{
    printf 'Id\tCase\tMeasured\tBaseline\tRatio\tTarget\tVerdict\n'
    grep -E '^ROW' "$results" | cut -f2-
} | column -t -s $'\t'
if grep -qE '^FIGURE' "$results"; then
    echo
    echo "Hardening figures:"
    grep -E '^FIGURE' "$results" | cut -f2- | sed 's/^/  /'
fi
if grep -qE '^(NOTE|INFO)' "$results"; then
    echo
    grep -E '^(NOTE|INFO)' "$results" | cut -f2- | sed 's/^/  /'
fi
exit $status
