#!/usr/bin/env bash
# Whether this machine can run 32-bit (x86) programs, without needing a 32-bit Wine to find out.
#   x86-support.sh kernel   exit 0 when the kernel runs 32-bit Linux programs
#   x86-support.sh wine     exit 0 when, in addition, a 32-bit Wine (wine32:i386) is installed
# The kernel test runs a hand-made static 32-bit ELF that only calls exit(0): a kernel built or booted
# without 32-bit emulation refuses it ("Exec format error").
set -uo pipefail

kernel_runs_x86() {
    local probe
    probe=$(mktemp "${TMPDIR:-/tmp}/qx-elf32.XXXXXX") || return 1
    # ELF header (52 bytes), one program header (32 bytes) loading the whole file at 0x08048000, then
    # the code at 0x08048054: mov eax,1 (exit); xor ebx,ebx (status 0); int 0x80.
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'  >"$probe"
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'         >>"$probe"
    printf '\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'         >>"$probe"
    printf '\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'         >>"$probe"
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'         >>"$probe"
    printf '\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00'         >>"$probe"
    printf '\x05\x00\x00\x00\x00\x10\x00\x00'                         >>"$probe"
    printf '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'                     >>"$probe"
    chmod +x "$probe"
    "$probe" >/dev/null 2>&1
    local status=$?
    rm -f "$probe"
    return $status
}

wine32_installed() {
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'
}

case ${1:-kernel} in
kernel) kernel_runs_x86 ;;
wine) kernel_runs_x86 && wine32_installed ;;
*) echo "usage: $0 kernel|wine" >&2; exit 2 ;;
esac
