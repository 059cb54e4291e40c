#!/usr/bin/env bash
# Private Wine prefix management for builds and tests.
#   wine-prefix.sh init  PREFIX   create the prefix once (null graphics driver), then end that first session
#   wine-prefix.sh start PREFIX   start wineserver and Wine's services detached from our output pipes
#   wine-prefix.sh stop  PREFIX   end every Wine process of the prefix
set -euo pipefail
cmd=${1:?command}; prefix=${2:?prefix}
# Wine ignores a relative prefix: make it absolute.
prefix=$(realpath -m -- "$prefix")
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

case $cmd in
init)
    if [ -f "$prefix/.qx-ready" ]; then
        # A prefix made before wine32 was installed has no 32-bit system DLLs (its syswow64 is missing or
        # empty), and once wine32 is there every program fails in it ("could not load kernel32.dll, status
        # c0000135"): make it afresh.
        if [ -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ] ||
           ! bash "$(dirname "$0")/x86-support.sh" wine; then
            exit 0
        fi
        echo "Wine prefix $prefix predates the 32-bit Wine: making it afresh"
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    rm -rf "$prefix"; mkdir -p "$(dirname "$prefix")"
    echo "Creating Wine prefix $prefix ..."
    # A new prefix takes about 700 MB; on a full disk wineboot fails with "could not load kernel32.dll"
    # (exit status 53), so say beforehand why that may come.
    free_mb=$(df -Pm -- "$(dirname "$prefix")" | awk 'NR == 2 { print $4 }')
    [ "${free_mb:-0}" -ge 1024 ] || echo "Only ${free_mb:-?} MB free where the Wine prefix goes; it needs about 700 MB" >&2
    # Each step's output goes to a log beside the prefix, printed when a step fails; a prefix that did not
    # come up whole is removed, so that the next run starts afresh instead of building on it.
    log=$prefix.init.log
    : >"$log"
    init_step() {
        local what=$1 status=0; shift
        echo "== $what: $*" >>"$log"
        "$@" </dev/null >>"$log" 2>&1 || status=$?
        echo "== $what: exit status $status" >>"$log"
        return $status
    }
    init_failed() {
        echo "Creating the Wine prefix failed: $1 exited with status $2. The log ($log) ends with:" >&2
        tail -n 40 "$log" >&2
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
        rm -rf "$prefix"
        exit "$2"
    }
    status=0
    WINEDEBUG=fixme-all init_step wineboot wineboot -i || status=$?
    # Let every process of the boot end before the next step starts: a program started while the boot
    # still writes the prefix's system files can fail to load them.
    wineserver -w 2>/dev/null || true
    [ -f "$prefix/system.reg" ] || init_failed "wineboot -i, leaving no system.reg," "$((status ? status : 1))"
    [ "$status" -eq 0 ] || echo "wineboot -i exited with status $status; checking the prefix (log: $log)"
    # Without a display, window creation hangs unless the null graphics driver is chosen.
    init_step reg wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f || init_failed "reg add" $?
    # A crashing program prints its backtrace and ends, instead of waiting on winedbg's crash dialog until
    # the watchdog's bound.
    init_step reg wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f ||
        init_failed "reg add" $?
    # COM launches can hang in the session that created the prefix: end it once.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    # The prefix is ready only if a program runs in it, in a session of its own.
    init_step check wine cmd /c exit || init_failed "a first program (cmd /c exit)" $?
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    touch "$prefix/.qx-ready"
    ;;
start)
    # Services started by the first Wine process inherit its output; start them with output sent nowhere
    # so that CTest (or anything reading a test's output) is not kept waiting on their pipes.
    wineserver -p 2>/dev/null || true  # already running is fine
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    ;;
stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
*) echo "unknown command $cmd" >&2; exit 2;;
esac
