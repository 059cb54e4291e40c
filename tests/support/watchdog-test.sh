#!/usr/bin/env bash
# The watchdog's own test: runs the hanging probe under run-bounded.sh and checks that the run failed with the
# one-line reason, after the stacks of the probe and of the helper it started, and that both were ended.
#   watchdog-test.sh RUN_BOUNDED WINE_RUN PROBE.exe [--session]
set -uo pipefail
run_bounded=$1 runner=$2 probe=$3 mode=${4:-}
bound=3
failures=0
check() {  # check DESCRIPTION COMMAND...
    local description=$1
    shift
    if "$@"; then echo "ok: $description"; else echo "FAILED: $description"; failures=$((failures + 1)); fi
}
has() { grep -qF -- "$1" <<<"$output"; }
last_line_is() { [ "$(tail -n 1 <<<"$output")" = "$1" ]; }
has_backtrace_after() {  # the dump under the program's header holds a backtrace down to where it waits
    awk -v head="=== watchdog: stacks of $1 " '
        index($0, head) == 1 { inside = 1; next }
        /^=== watchdog:/ { inside = 0 }
        inside && /^Backtrace:/ { backtrace = 1 }
        inside && backtrace && /WaitForSingleObject/ { found = 1 }
        END { exit !found }' <<<"$output"
}
none_left() {
    ! "$runner" winedbg --command "info process" </dev/null 2>&1 | grep -qiE "'qx_hang_(probe|helper)\.exe'"
}

args=(--bound "$bound" --runner "$runner")
probe_args=()
if [ "$mode" = --session ]; then
    args+=(--session)
    probe_args=(--orphan)
fi
started=$(date +%s)
output=$("$run_bounded" "${args[@]}" -- "$probe" "${probe_args[@]}" 2>&1)
status=$?
took=$(($(date +%s) - started))
echo "$output"
echo "--- watchdog run: exit status $status after $took s"
check "the run fails as a hang (status 124)" test "$status" -eq 124
check "the last line gives the reason" last_line_is "qx_hang_probe.exe exceeded its bound of $bound s; stacks above"
check "the stacks of the probe are printed" has_backtrace_after qx_hang_probe.exe
check "the stacks of the helper it started are printed" has_backtrace_after qx_hang_helper.exe
check "the probe is ended by its id" has "=== watchdog: ending qx_hang_probe.exe"
check "the helper is ended by its id" has "=== watchdog: ending qx_hang_helper.exe"
check "the watchdog saw every process end" has "=== watchdog: every process of the run has ended"
check "no probe or helper runs in the session any more" none_left
[ $failures -eq 0 ] && echo "watchdog self-test: passed" || echo "watchdog self-test: $failures checks failed"
exit $((failures > 0))
