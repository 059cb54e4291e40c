#!/usr/bin/env bash
# The SDK zip as an integrator uses it: built by scripts/package.sh from this build tree, unzipped into an
# empty folder, then, from the unzipped files only:
#   x64  the packaged x64 qxpilot drives the packaged daemon against the packaged simulator through a session
#        (start-daemon, start, add-module, pilot reaching the simulator's window per its journal, stop); a C
#        program compiled against include/ and lib/x64 (both import libraries) runs a session; the same
#        program compiled against lib/x86 links (both import libraries), importing the undecorated names.
#   x86  the same with the packaged x86 qxpilot and the x86 C program; exit 77 (skipped) where this machine
#        cannot run 32-bit programs.
# Everything started is stopped at the end, also on failure.
#   package-test.sh BUILD_DIR x64|x86
set -euo pipefail
build=$(realpath -- "$1") arch=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ "$arch" = x86 ] && [ "${QX_X86_RUNNABLE:-0}" != 1 ]; then
    echo "SKIPPED: this machine cannot run 32-bit programs (kernel without 32-bit emulation or no wine32:i386);"
    echo "the x86 half of the package is linked and checked by the x64 package test only"
    exit 77
fi

work=$build/package-test/$arch
rm -rf "$work"; mkdir -p "$work/dist" "$work/unzipped" "$work/app" "$work/logs"
export WINEPREFIX=$build/wineprefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

zip=$(bash "$root/scripts/package.sh" --build "$build" --out "$work/dist" --no-build | tail -n 1)
echo "package: $zip ($(stat -c %s "$zip") bytes)"
(cd "$work/unzipped" && unzip -q "$zip")
sdk=$(echo "$work/unzipped"/QXPilot-*)
[ -d "$sdk" ] || { echo "FAIL: the zip holds no QXPilot-<version> folder"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# What the zip must hold.
for f in QUICKSTART.txt include/IQXPilotSt.h tools/Velo.exe \
         bin/x64/QXPilotSt.exe bin/x64/IQXPilotSt.dll bin/x64/qxpilot.exe \
         bin/x86/QXPilotSt.exe bin/x86/IQXPilotSt.dll bin/x86/qxpilot.exe \
         lib/x64/libIQXPilotSt.dll.a lib/x64/IQXPilotSt.lib lib/x64/IQXPilotSt.def \
         lib/x86/libIQXPilotSt.dll.a lib/x86/IQXPilotSt.lib lib/x86/IQXPilotSt.def \
         bindings/vba/IQXPilotSt.bas bindings/csharp/IQXPilotSt.cs bindings/python/iqxpilotst.py \
         docs/integrators.md docs/client-api.md examples/desk.dat examples/c/session.c; do
    [ -f "$sdk/$f" ] || fail "missing $f"
done
version=$(basename "$sdk"); version=${version#QXPilot-}
grep -q "^project(QXPilot VERSION $version" "$root/CMakeLists.txt" || fail "zip version $version is not the project's"
unzip -Z1 "$zip" | sed 's|^[^/]*/||' | grep -v '/$' | sort >"$work/contents.txt"
echo "contents: $(wc -l <"$work/contents.txt") files"; sed "s/^/  /" "$work/contents.txt"

# The C program against the package only: both architectures, both import library formats.
declare -A cc=([x64]=x86_64-w64-mingw32-gcc-posix [x86]=i686-w64-mingw32-gcc-posix)
for a in x64 x86; do
    for lib in libIQXPilotSt.dll.a IQXPilotSt.lib; do
        exe=$work/app/$a/session-${lib%%.*}.exe
        mkdir -p "$work/app/$a"
        if "${cc[$a]}" -std=c99 -Wall -Werror -static -I "$sdk/include" "$sdk/examples/c/session.c" \
               "$sdk/lib/$a/$lib" -o "$exe"; then
            imports=$(llvm-readobj --coff-imports "$exe" | awk '/Name: IQXPilotSt.dll/{f=1;next} /Name:/{f=0} f&&/Symbol:/{print $2}' | sort | tr '\n' ' ')
            [ "$imports" = "AddPilotingModule GetSystemLastError PilotQuodrix StartDaemon StartQuodrix StopDaemon " ] ||
                fail "$a session linked with $lib imports: $imports"
        else
            fail "$a session does not link against $lib"
        fi
    done
    cp "$sdk/bin/$a/IQXPilotSt.dll" "$work/app/$a/"
done

win() { winepath -w "$1" 2>/dev/null; }
qxpilot=$sdk/bin/$arch/qxpilot.exe velo=$sdk/tools/Velo.exe
run() { timeout 120 wine "$@" </dev/null; }
journal=$work/velo.journal
config=$work/qxpilot.dat
printf '[Extension_A]\r\nPlace=25\r\nQXSymbol=SYMBOL\r\nQXExtension=.XP\r\n' >"$config"

registered=""
cleanup() {
    set +e
    timeout 60 wine "$qxpilot" stop </dev/null >/dev/null 2>&1
    if [ -n "$registered" ]; then
        timeout 30 wine "$velo" --signal quit </dev/null >/dev/null 2>&1
        timeout 30 wine "$velo" /UnregServer </dev/null >/dev/null 2>&1
    fi
}
trap cleanup EXIT

echo "== $arch qxpilot, packaged daemon and simulator"
run "$velo" /RegServer --journal "$(win "$journal")" >"$work/velo-register.out" 2>&1 || fail "Velo /RegServer"
registered=1
# Output goes through files, never pipes: a daemon started by a command inherits its Unix descriptors under
# Wine, and a reader of a pipe would wait for the daemon's end.
step() {
    if ! run "$qxpilot" "$@" >"$work/step.out" 2>&1; then fail "qxpilot $*: $(cat "$work/step.out")"; return 1; fi
    echo "qxpilot $*: $(cat "$work/step.out")"
}
step start-daemon --log-dir "$(win "$work/logs")" &&
    step start 127.0.0.1 7001 "$(win "$config")" &&
    step add-module Desk FullQuote &&
    step pilot --place 25 --market 1 --symbol ABC || true
for _ in $(seq 1 300); do grep -q "IFullQuoteWindow.Pilot" "$journal" 2>/dev/null && break; sleep 0.1; done
grep -q $'IFullQuoteWindow.Pilot\t.*value=ABC.XP' "$journal" 2>/dev/null ||
    fail "the simulator's window was not piloted to ABC.XP: $(cat "$journal" 2>/dev/null | tail -n 5)"
step stop || true
grep -q "Exiting QXPilot" "$work/logs"/qxpilotst_*.log 2>/dev/null || fail "the daemon did not log its end"
timeout 30 wine "$velo" --signal quit </dev/null >/dev/null 2>&1
run "$velo" /UnregServer >/dev/null 2>&1 || fail "Velo /UnregServer"
registered=""

echo "== $arch C program against include/ and lib/$arch"
mkdir -p "$work/logs-c"
run "$work/app/$arch/session-libIQXPilotSt.exe" "$(win "$sdk/bin/x64/QXPilotSt.exe")" "$(win "$work/logs-c")" \
    >"$work/session.out" 2>&1 || fail "the $arch C session failed: $(cat "$work/session.out")"
cat "$work/session.out"
grep -q "Exiting QXPilot" "$work/logs-c"/qxpilotst_*.log 2>/dev/null || fail "the C session's daemon did not log its end"

if [ $failures -ne 0 ]; then echo "$failures failure(s)"; exit 1; fi
echo "package test ($arch) passed"
