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
    wineboot -i </dev/null >/dev/null 2>&1
    # Without a display, window creation hangs unless the null graphics driver is chosen.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    # COM launches can hang in the session that created the prefix: end it once.
    wineserver -k || true
    wineserver -w || true
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
