#!/usr/bin/env bash
# Builds the integrators' kit: dist/QXPilot-<version>.zip with both architectures' deliverables, the header,
# the import libraries (MinGW and MSVC format) and .def files, the terminal simulator, the bindings, the docs,
# the examples and a quick start.
#   scripts/package.sh [--build DIR] [--out DIR] [--no-build]
#     --build DIR   build tree (default: $QX_BUILD_DIR or ./build); x86 files come from DIR/x86
#     --out DIR     where the zip goes (default: ./dist)
#     --no-build    package what the build tree holds (the tests use this)
# Prints the zip's path on its last line.
set -euo pipefail
source "$(dirname "$0")/setup.sh"

build=${QX_BUILD_DIR:-$QX_ROOT/build} out=$QX_ROOT/dist do_build=1
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$2; shift 2;;
    --out) out=$2; shift 2;;
    --no-build) do_build=""; shift;;
    *) echo "usage: $0 [--build DIR] [--out DIR] [--no-build]" >&2; exit 2;;
    esac
done
build=$(realpath -m -- "$build"); out=$(realpath -m -- "$out")
if [ -n "$do_build" ]; then
    qx_install_packages
    qx_build "$build"
fi

# The one version number: the project's, which the version resources carry too.
version=$(sed -n 's/^project(QXPilot VERSION \([0-9.]*\).*/\1/p' "$QX_ROOT/CMakeLists.txt")
[ -n "$version" ] || { echo "no project version in CMakeLists.txt" >&2; exit 1; }
name=QXPilot-$version
stage=$out/.stage/$name
rm -rf "$out/.stage"; mkdir -p "$stage"

copy() {  # copy FILE... DIR, every file required
    local dir=${!#}
    mkdir -p "$dir"
    for f in "${@:1:$#-1}"; do
        [ -f "$f" ] || { echo "missing: $f (build both architectures first)" >&2; exit 1; }
        cp "$f" "$dir/"
    done
}

for arch in x64 x86; do
    tree=$build; [ $arch = x86 ] && tree=$build/x86
    copy "$tree/bin/QXPilotSt.exe" "$tree/bin/IQXPilotSt.dll" "$tree/bin/qxpilot.exe" "$stage/bin/$arch"
    copy "$tree/lib/libIQXPilotSt.dll.a" "$tree/lib/IQXPilotSt.lib" "$tree/lib/IQXPilotSt.def" "$stage/lib/$arch"
done
copy "$QX_ROOT/client/IQXPilotSt.h" "$stage/include"
copy "$build/bin/Velo.exe" "$stage/tools"
mkdir -p "$stage/bindings"
cp -r "$QX_ROOT/bindings/." "$stage/bindings/"
copy "$QX_ROOT/docs/integrators.md" "$QX_ROOT/docs/client-api.md" "$QX_ROOT/docs/configuration.md" \
     "$QX_ROOT/docs/simulator.md" "$stage/docs"
copy "$QX_ROOT/examples/desk.dat" "$QX_ROOT/examples/worked-example.dat" "$stage/examples"
copy "$QX_ROOT/examples/c/session.c" "$stage/examples/c"
sed "s/@VERSION@/$version/g" "$QX_ROOT/docs/QUICKSTART.txt.in" >"$stage/QUICKSTART.txt"
# Windows readers of the text files.
find "$stage" -type f \( -name '*.txt' -o -name '*.md' -o -name '*.bas' -o -name '*.cs' -o -name '*.py' \
     -o -name '*.c' -o -name '*.h' -o -name '*.def' -o -name '*.dat' \) -exec sed -i 's/\r*$/\r/' {} +

zip_path=$out/$name.zip
rm -f "$zip_path"
(cd "$out/.stage" && TZ=UTC zip -q -r -X "$zip_path" "$name")
rm -rf "$out/.stage"
echo "$zip_path"
