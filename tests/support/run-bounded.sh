#!/usr/bin/env bash
# Runs one test program under Wine within a bound of its own. A program that outlives its bound is a hang: the
# stacks of it and of every program it started are printed (winedbg), each of them is ended by its id, and the
# run fails with one line that says so.
#   run-bounded.sh --bound SECONDS --runner WINE_RUN [--session] -- PROGRAM.exe [ARGS...]
# WINE_RUN is the build tree's wine-run.sh (prefix, WINEDEBUG, WINEDLLOVERRIDES). --session: the program holds
# the Wine session lock, so every simulator, daemon and helper program of this build in the session is its own;
# without it only the program's own process tree is.
# Exit status: the program's, or 124 after a hang.
set -uo pipefail

bound=
runner=
session=0
while [ $# -gt 0 ]; do
    case $1 in
    --bound) bound=$2; shift 2 ;;
    --runner) runner=$2; shift 2 ;;
    --session) session=1; shift ;;
    --) shift; break ;;
    *) echo "run-bounded.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ -z "$bound" ] || [ -z "$runner" ] || [ $# -eq 0 ]; then
    echo "usage: run-bounded.sh --bound SECONDS --runner WINE_RUN [--session] -- PROGRAM [ARGS...]" >&2
    exit 2
fi
program=$1
image=$(basename -- "$program")
bindir=$(cd "$(dirname -- "$program")" && pwd)
# What one winedbg call may take: a debugger stuck on a process must not hold the harness.
dump_limit=${QX_DUMP_SECONDS:-60}

# The program writes to a file, printed once it has ended: a Wine process it starts on the way (the desktop
# process explorer.exe, started by the first window of the session, stays for as long as the session has
# windows) inherits that file instead of our output, which CTest would otherwise wait on until it closes.
output=$(mktemp)
trap 'rm -f "$output"' EXIT
# The bound's clock runs in a process of its own, with no output, so that nothing lingers on our pipes.
sleep "$bound" </dev/null >/dev/null 2>&1 &
timer=$!
"$runner" "$@" </dev/null >"$output" 2>&1 &
child=$!
finished=
wait -n -p finished "$child" "$timer"
status=$?
if [ "$finished" = "$child" ]; then
    kill "$timer" 2>/dev/null
    wait "$timer" 2>/dev/null
    cat "$output"
    exit $status
fi
cat "$output"

# --- The bound expired. -----------------------------------------------------------------------------------------

wine_tool() {  # runs a Wine tool of the prefix, bounded, output to ours
    timeout -k 5 "$dump_limit" "$runner" "$@" </dev/null 2>&1
}

# "info process" rows: PID DEPTH NAME (pid in hex as printed; depth 0 for a top-level process, deeper is larger).
process_rows() {
    wine_tool winedbg --command "info process" | awk '
        /^[ =][0-9a-fA-F]+ / {
            pid = substr($0, 2, 8)
            # A child stands under its parent, behind "\_ ", indented further at each level: its column
            # orders the levels.
            depth = 0
            if (match($0, /\\_ /)) { depth = RSTART; name = substr($0, RSTART + 3) }
            else { name = $0; sub(/^[ =][0-9a-fA-F]+ +[0-9]+ +/, "", name) }
            gsub(/^'\''|'\''$/, "", name)
            print pid, depth, name
        }'
}

# The processes this run answers for: PID NAME lines.
select_targets() {
    local rows=$1
    local helpers=""
    if [ $session -eq 1 ]; then
        # Every program of this build except other test programs: simulators, daemons, qxpilot, probes.
        helpers=$(cd "$bindir" && ls -1 -- *.exe 2>/dev/null | grep -v '_tests\.exe$' | tr '\n' ' ')
    fi
    awk -v image="$image" -v helpers="$helpers" '
        BEGIN { n = split(helpers, h, " "); for (i = 1; i <= n; i++) helper[tolower(h[i])] = 1 }
        {
            pid = $1; depth = $2; name = substr($0, length($1) + length($2) + 3)
            # Close the subtrees that this row does not belong to.
            while (top > 0 && stackdepth[top] >= depth) top--
            inherited = (top > 0) ? stackmark[top] : ""
            mark = inherited
            lname = tolower(name)
            if (lname == tolower(image)) mark = "own"
            else if (mark == "" && (lname in helper)) mark = "helper"
            # A test program of its own runs under the other lock rules: what it started is not ours.
            else if (mark != "own" && lname ~ /_tests\.exe$/) mark = "other"
            top++; stackdepth[top] = depth; stackmark[top] = mark
            if (mark == "own" || mark == "helper") print pid, name
        }' <<<"$rows"
}

rows=$(process_rows)
targets=$(select_targets "$rows")
echo
echo "=== watchdog: $image still running after its bound of $bound s; processes of the session:"
wine_tool winedbg --command "info process"
if [ -z "$targets" ]; then
    echo "=== watchdog: no Wine process named $image found"
fi
# Threads of every process, "PID TID" lines ("info thread" lists them under their process).
threads=$(printf 'info thread\nquit\n' | timeout -k 5 "$dump_limit" "$runner" winedbg 2>&1 | sed 's/^\(Wine-dbg>\)*//' | awk '
    /^[0-9a-fA-F]+ / { process = tolower($1) }
    /^\t[0-9a-fA-F]+ / { print process, tolower($1) }')
# "bt all" would walk every process of the session, other tests' too: each process of the run is attached on
# its own and its threads walked one by one.
while read -r pid name; do
    [ -n "$pid" ] || continue
    echo "=== watchdog: stacks of $name (pid 0x$pid)"
    {
        echo "attach 0x$pid"
        awk -v pid="$(tr 'A-F' 'a-f' <<<"$pid")" '$1 == pid { print "bt 0x" $2 }' <<<"$threads"
        echo detach
        echo quit
    } | timeout -k 5 "$dump_limit" "$runner" winedbg 2>&1 | sed 's/^\(Wine-dbg>\)*//'
done <<<"$targets"

while read -r pid name; do
    [ -n "$pid" ] || continue
    echo "=== watchdog: ending $name (pid 0x$pid)"
    wine_tool taskkill /F /PID $((16#$pid)) >/dev/null
done <<<"$targets"
# The program itself goes in any case, also when Wine did not list it.
kill -KILL "$child" 2>/dev/null
wait "$child" 2>/dev/null

left=$(select_targets "$(process_rows)")
if [ -n "$left" ]; then
    echo "=== watchdog: still running after the clean-up:"
    echo "$left"
else
    echo "=== watchdog: every process of the run has ended"
fi
echo "$image exceeded its bound of $bound s; stacks above"
exit 124
