#!/usr/bin/env bash
# The main job, end to end under Wine: builds everything, registers the terminal simulator (Velo.exe) and
# starts it with a few window groups, starts the daemon through qxpilot, sends the start request with the
# desk configuration of examples/, registers piloting modules, pilots instruments of the four key types,
# prints which terminal window received which value, then the daemon's log. Everything it started is stopped
# at the end, also when a step fails. Build tree: $QX_BUILD_DIR (default ./build).
set -euo pipefail
source "$(dirname "$0")/setup.sh"
qx_setup "${QX_BUILD_DIR:-}"

BIN=$QX_BUILD/bin
DEMO=$QX_BUILD/demo
rm -rf "$DEMO"; mkdir -p "$DEMO/logs"
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

"$QX_ROOT/scripts/wine-prefix.sh" start "$WINEPREFIX"

win() { winepath -w "$1" 2>/dev/null; }
qxpilot() { wine "$BIN/qxpilot.exe" "$@" </dev/null; }
velo() { wine "$BIN/Velo.exe" "$@" </dev/null; }

JOURNAL=$DEMO/velo.journal
JOURNAL_W=$(win "$JOURNAL")
LOGS_W=$(win "$DEMO/logs")
CONFIG_W=$(win "$QX_ROOT/examples/desk.dat")

registered="" velo_pid="" daemon_started=""
cleanup() {
    local status=$?
    set +e
    if [ -n "$daemon_started" ]; then
        echo "== Stopping the daemon"
        timeout 60 wine "$BIN/qxpilot.exe" stop </dev/null >/dev/null 2>&1
    fi
    if [ -n "$velo_pid" ]; then
        echo "== Stopping the terminal simulator"
        timeout 30 wine "$BIN/Velo.exe" --signal quit </dev/null >/dev/null 2>&1
        for _ in $(seq 1 50); do kill -0 "$velo_pid" 2>/dev/null || break; sleep 0.1; done
        kill "$velo_pid" 2>/dev/null
    fi
    [ -n "$registered" ] && timeout 30 wine "$BIN/Velo.exe" /UnregServer </dev/null >/dev/null 2>&1
    "$QX_ROOT/scripts/wine-prefix.sh" stop "$WINEPREFIX"
    [ $status -ne 0 ] && echo "demo FAILED (status $status)" >&2
    exit $status
}
trap cleanup EXIT

# Lines of the journal that pilot a window.
pilot_lines() { [ -f "$JOURNAL" ] && tr -d '\r' <"$JOURNAL" | awk -F'\t' '$1 ~ /\.Pilot$/' || true; }
# Waits until `count` windows have received `value`.
wait_for_value() {
    local value=$1 count=$2
    for _ in $(seq 1 200); do
        [ "$(pilot_lines | awk -F'\t' -v v="value=$value" '{for (i = 2; i <= NF; i++) if ($i == v) n++} END {print n + 0}')" -ge "$count" ] && return 0
        sleep 0.1
    done
    echo "   (the journal does not show $count windows with $value yet)"
}

echo "== Registering the terminal simulator (journal $JOURNAL_W)"
velo /RegServer --journal "$JOURNAL_W" >"$DEMO/velo-register.out" 2>&1
registered=1

echo "== Starting the terminal simulator with three window groups:"
echo "   Trader: Vista, Chart    Sales: OrderBook, OrderBook, News    Research: TimeSales, FullQuote"
GROUPS_STARTED="Trader Sales Research"
wine "$BIN/Velo.exe" --journal "$JOURNAL_W" --group Trader=Vista,Chart --group Sales=OrderBook,OrderBook,News \
    --group Research=TimeSales,FullQuote </dev/null >"$DEMO/velo.out" 2>&1 &
velo_pid=$!
for _ in $(seq 1 200); do grep -q '^Velo.Start' "$JOURNAL" 2>/dev/null && break; sleep 0.1; done
grep -q '^Velo.Start' "$JOURNAL" || { echo "Velo.exe did not start"; cat "$DEMO/velo.out"; exit 1; }

echo "== qxpilot start-daemon --log-dir $LOGS_W"
qxpilot start-daemon --log-dir "$LOGS_W"
daemon_started=1

echo "== qxpilot start 127.0.0.1 7001 $CONFIG_W"
qxpilot start 127.0.0.1 7001 "$CONFIG_W"

echo "== Piloting modules"
for module in "Trader Vista" "Trader Chart" "Trader FullQuote" "Sales All" "Risk OrderBook" "Risk Hologram"; do
    # shellcheck disable=SC2086
    qxpilot add-module $module
done
echo "   (Trader lacks a FullQuote window and Risk has no group: both are created on the first piloting;"
echo "    Sales follows every window of its group; Hologram is no window kind and is refused)"

# Each piloting pass reaches 7 windows: Risk's OrderBook, Sales' three and Trader's three.
WINDOWS_PER_PASS=7
pilot() {
    local value=$1; shift
    echo "== qxpilot pilot $*   (expected value: $value)"
    qxpilot pilot "$@"
    wait_for_value "$value" "$WINDOWS_PER_PASS"
}
pilot "ISIN=FR0000120271.PA"     --place 25 --market 1 --symbol TTE --isin FR0000120271 --currency EUR
pilot "ISINC=FR0013508470EUR.PA" --place 25 --market 1 --credit-class OBL --symbol FR2030 --isin FR0013508470 --currency EUR
pilot "6B12S.PAW"                --place 25 --market 2 --group WAR --symbol 6B12S --isin FR0014001234
pilot "KTV=004001203000ENI"      --place 40 --code-middle 12 --market 3 --symbol ENI --isin IT0003132476
pilot "VOD.L"                    --place 50 --market 1 --symbol VOD --isin GB00BH4HKS39 --currency GBP
pilot "ODAX.EUX"                 --place 30 --market 4 --underlying DE0008469008 --symbol ODAX

echo
echo "== Windows created by the piloting (simulator journal)"
tr -d '\r' <"$JOURNAL" | awk -F'\t' -v started="$GROUPS_STARTED" '
    BEGIN { n = split(started, names, " "); for (i = 1; i <= n; i++) group["G" i] = names[i] }
    function field(name,   i) { for (i = 2; i <= NF; i++) if (index($i, name "=") == 1) return substr($i, length(name) + 2); return "" }
    $1 == "IGroups.Add"  { group[field("key")] = field("name"); printf "   group  %-8s key %s\n", field("name"), field("key") }
    $1 == "IWindows.Add" { printf "   window of %-8s kind %s, properties %s -> %s\n", group[field("group")], field("kind"), field("settings"), field("key") }'

echo
echo "== Which terminal window received which value (simulator journal)"
printf '   %-26s %-9s %-7s %s\n' "value" "group" "window" "kind"
tr -d '\r' <"$JOURNAL" | awk -F'\t' -v started="$GROUPS_STARTED" '
    BEGIN { n = split(started, names, " "); for (i = 1; i <= n; i++) group["G" i] = names[i] }
    function field(name,   i) { for (i = 2; i <= NF; i++) if (index($i, name "=") == 1) return substr($i, length(name) + 2); return "" }
    $1 == "IGroups.Add" && field("hr") == "0x00000000" { group[field("key")] = field("name") }
    $1 ~ /\.Pilot$/ {
        kind = $1; sub(/^I/, "", kind); sub(/Window\.Pilot$/, "", kind)
        note = ($1 == "INewsWindow.Pilot") ? " (topic \"" field("topic") "\" first)" : ""
        if (field("hr") != "0x00000000") note = note " FAILED " field("hr")
        printf "   %-26s %-9s %-7s %s%s\n", field("value"), group[field("group")], field("window"), kind, note
    }'

echo
echo "== qxpilot stop"
qxpilot stop
daemon_started=""

echo
echo "== The daemon's log"
cat "$DEMO"/logs/qxpilotst_*.log | tr -d '\r'
