#!/usr/bin/env bash
# The main job: builds everything, starts the daemon under Wine, drives it with requests, stops it and
# prints its log. Build tree: $QX_BUILD_DIR (default ./build).
set -euo pipefail
source "$(dirname "$0")/setup.sh"
qx_setup "${QX_BUILD_DIR:-}"

BIN=$QX_BUILD/bin
DEMO=$QX_BUILD/demo
rm -rf "$DEMO"; mkdir -p "$DEMO/logs"

"$QX_ROOT/scripts/wine-prefix.sh" start "$WINEPREFIX"
daemon_pid=""
cleanup() {
    [ -n "$daemon_pid" ] && kill "$daemon_pid" 2>/dev/null || true
    "$QX_ROOT/scripts/wine-prefix.sh" stop "$WINEPREFIX"
}
trap cleanup EXIT

send() { wine "$BIN/qxsend.exe" "$@" </dev/null; }
logdir_w=$(winepath -w "$DEMO/logs" 2>/dev/null)

echo "== Starting the daemon, log directory $logdir_w"
wine "$BIN/QXPilotSt.exe" "-log_path=$logdir_w" </dev/null >/dev/null 2>&1 &
daemon_pid=$!
for _ in $(seq 1 100); do
    send 0 >/dev/null 2>&1 && break   # code 0 is ignored by the daemon: a harmless probe
    sleep 0.1
done

echo "== Start request (terminal 127.0.0.1:7001, configuration qxpilot.dat)"
send start --cstr 0 127.0.0.1 --int 64 7001 --cstr 68 qxpilot.dat
echo "== Module requests: Trader follows Vista and Chart; an unknown kind is refused"
send module --cstr 0 Trader --cstr 32 Vista
send module --cstr 0 Trader --cstr 32 Chart
send module --cstr 0 Trader --cstr 32 Hologram
echo "== Pilot request: place 25, market 1, symbol ABC"
send pilot --int 0 25 --int 4 7 --int 8 1 --cstr 16 ABC --cstr 66 XS0000000017 --cstr 79 EUR
echo "== A truncated record is refused and logged"
send pilot --size 40
echo "== Stop request"
send stop
wait "$daemon_pid" || true
daemon_pid=""

echo
echo "== The daemon's log"
cat "$DEMO"/logs/qxpilotst_*.log | tr -d '\r'
