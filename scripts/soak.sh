#!/usr/bin/env bash
# Runs one test program N times in a row, each under the watchdog with that program's bound, and prints the
# pass, fail and hang counts with the durations. Builds nothing: it expects a built tree.
#   scripts/soak.sh PROGRAM N [gtest arguments...]     e.g. scripts/soak.sh chain_session_tests 30
# Build tree: $QX_BUILD_DIR (default ./build). The output of every failed or hung run is kept in
# <build>/soak/PROGRAM-<time>-<pid>/run-K.log and named at the end. Exit status non-zero on any failure or hang.
# QX_WINEPREFIX=DIR soaks in a prefix of its own (a Wine session of its own), so that several programs can be
# soaked side by side.
set -euo pipefail
QX_ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 2 ] || ! [[ $2 =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/soak.sh PROGRAM N [gtest arguments...]" >&2
    exit 2
fi
program=${1%.exe}
runs=$2
shift 2
build=$(realpath -m -- "${QX_BUILD_DIR:-$QX_ROOT/build}")
exe=$build/bin/$program.exe
bounds=$build/test-bounds.txt
if [ ! -x "$build/wine-run.sh" ] || [ ! -f "$bounds" ] || [ ! -f "$exe" ]; then
    echo "soak.sh: no built $program in $build (build it first, e.g. scripts/test.sh or cmake --build)" >&2
    exit 2
fi
read -r _ bound session workdir < <(awk -v name="$program" '$1 == name' "$bounds") || true
if [ -z "${bound:-}" ]; then
    echo "soak.sh: $program is not a test program of $build (see $bounds)" >&2
    exit 2
fi
flags=(--bound "$bound" --runner "$build/wine-run.sh")
[ "$session" = 1 ] && flags+=(--session)

# QX_WINEPREFIX: another prefix, so that programs can be soaked side by side, each in a Wine session of its own.
export WINEPREFIX=$(realpath -m -- "${QX_WINEPREFIX:-$build/wineprefix}")
export QX_WINEPREFIX=$WINEPREFIX
"$QX_ROOT/scripts/wine-prefix.sh" init "$WINEPREFIX"
"$QX_ROOT/scripts/wine-prefix.sh" start "$WINEPREFIX"
trap '"$QX_ROOT/scripts/wine-prefix.sh" stop "$WINEPREFIX"' EXIT

keep=$build/soak/$program-$(date +%Y%m%d-%H%M%S)-$$
passed=0 failed=0 hung=0
durations=()
kept=()
# In the folder CTest runs the program in.
cd "$workdir"
echo "soak: $program x $runs, bound $bound s$([ "$session" = 1 ] && echo ", session lock")"
for ((k = 1; k <= runs; k++)); do
    out=$(mktemp)
    start=$(date +%s.%N)
    set +e
    "$QX_ROOT/tests/support/run-bounded.sh" "${flags[@]}" -- "$exe" --gtest_color=no "$@" >"$out" 2>&1
    status=$?
    set -e
    took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
    durations+=("$took")
    case $status in
    0) verdict=pass; passed=$((passed + 1)) ;;
    124) verdict=HANG; hung=$((hung + 1)) ;;
    *) verdict=FAIL; failed=$((failed + 1)) ;;
    esac
    if [ $verdict = pass ]; then
        rm -f "$out"
        echo "run $k: pass ($took s)"
    else
        mkdir -p "$keep"
        mv "$out" "$keep/run-$k.log"
        kept+=("$keep/run-$k.log")
        echo "run $k: $verdict ($took s, status $status): $keep/run-$k.log"
        # A killed simulator leaves its COM class refused for a while: the next run gets a fresh session.
        if [ $verdict = HANG ]; then
            "$QX_ROOT/scripts/wine-prefix.sh" stop "$WINEPREFIX"
            "$QX_ROOT/scripts/wine-prefix.sh" start "$WINEPREFIX"
        fi
    fi
done

stats=$(printf '%s\n' "${durations[@]}" | sort -n | awk '
    { d[NR] = $1 }
    END { median = NR % 2 ? d[(NR + 1) / 2] : (d[NR / 2] + d[NR / 2 + 1]) / 2
          printf "min %.1f s, median %.1f s, max %.1f s", d[1], median, d[NR] }')
echo "soak: $program: $runs runs: $passed passed, $failed failed, $hung hung; durations $stats"
for f in "${kept[@]}"; do echo "soak: kept $f"; done
[ $failed -eq 0 ] && [ $hung -eq 0 ]
