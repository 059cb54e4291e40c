#!/usr/bin/env bash
# Compiles the C# binding with its example for x86 and x64 with Debian's mcs (Mono's C# compiler), warnings as
# errors. The programs are not run here (no .NET runtime in the test prefix).
#   compile-csharp.sh SOURCE_DIR OUT_DIR
set -euo pipefail
src=$1 out=$2
mkdir -p "$out"
for platform in x86 x64; do
    mcs -nologo -warnaserror+ -platform:$platform -target:exe -out:"$out/Example-$platform.exe" \
        "$src/bindings/csharp/IQXPilotSt.cs" "$src/bindings/csharp/Example.cs"
    # A PE32 (x86) or PE32+ (x64) managed program.
    headers=$(llvm-readobj --file-headers "$out/Example-$platform.exe")
    case $platform in
    x86) grep -q "Machine: IMAGE_FILE_MACHINE_I386" <<<"$headers" && grep -q "Magic: 0x10B" <<<"$headers" ;;
    x64) grep -q "Machine: IMAGE_FILE_MACHINE_AMD64" <<<"$headers" && grep -q "Magic: 0x20B" <<<"$headers" ;;
    esac || { echo "Example-$platform.exe is not a $platform program" >&2; exit 1; }
    echo "compiled Example-$platform.exe ($(stat -c %s "$out/Example-$platform.exe") bytes)"
done
