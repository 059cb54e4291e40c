#!/usr/bin/env python3
"""Checks of the integrators' kit that need no Windows process.

  check_sdk.py binaries --source SRC --x64 BUILD --x86 BUILD/x86
      machine type of every x86 and x64 binary, the DLL's exports (undecorated, exactly the header's), imports
      only of system DLLs, both import libraries (MinGW and MSVC format: machine, decorated symbols, the
      undecorated names they import), the x86 .def's stdcall byte counts against the header's arguments, and
      the x86 DLL's code: each export returns with "ret $N" for its N bytes of arguments
  check_sdk.py bindings --source SRC
      every declaration of the VBA, C# and Python bindings against the header and the .def: names, argument
      count, order and widths, return type, calling convention
Exit status 0 when everything holds; each failure is printed."""
import argparse
import ast
import os
import re
import subprocess
import sys

FAILURES = []


def fail(text):
    FAILURES.append(text)
    print("FAIL: " + text)


def check(condition, text):
    if not condition:
        fail(text)
    return condition


# ---- The header: the one description of the exports.

HEADER_TYPES = {"const char*": "ptr", "int32_t": "i32", "uint8_t": "u8"}


def header_exports(source):
    """[(name, [(argument name, width kind)])] in the header's order."""
    text = open(os.path.join(source, "client", "IQXPilotSt.h"), encoding="ascii").read()
    exports = []
    for match in re.finditer(r"IQXPILOTST_API\s+int32_t\s+IQXPILOTST_CALL\s+(\w+)\(([^)]*)\);", text):
        name, arguments = match.group(1), " ".join(match.group(2).split())
        parsed = []
        if arguments != "void":
            for argument in arguments.split(","):
                argument = argument.strip()
                m = re.fullmatch(r"(const char\*|int32_t|uint8_t)\s*(\w+)", argument)
                if not check(m is not None, f"header: {name}: argument '{argument}' of an unknown type"):
                    continue
                parsed.append((m.group(2), HEADER_TYPES[m.group(1)]))
        exports.append((name, parsed))
    check(len(exports) == 8, f"header: {len(exports)} exports found, 8 expected")
    return exports


def x86_stack_bytes(arguments):
    # Every argument of these exports takes one 4-byte stack slot on x86 (a uint8_t is widened to it).
    return 4 * len(arguments)


def def_exports(path):
    names = []
    in_exports = False
    for line in open(path, encoding="ascii"):
        line = line.split(";", 1)[0].strip()
        if not line:
            continue
        if line.upper() == "EXPORTS":
            in_exports = True
            continue
        if in_exports:
            names.append(line.split()[0])
    return names


# ---- Binaries.

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll",
               "shell32.dll", "gdi32.dll", "version.dll"}
MACHINES = {"x64": "IMAGE_FILE_MACHINE_AMD64", "x86": "IMAGE_FILE_MACHINE_I386"}


def run(*command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        fail(" ".join(command) + " failed:\n" + result.stdout)
    return result.stdout


def coff_imports(path):
    """{dll name (lower case): [imported names]}"""
    imports, current = {}, None
    for line in run("llvm-readobj", "--coff-imports", path).splitlines():
        line = line.strip()
        if line.startswith("Name: "):
            current = line[6:].lower()
            imports.setdefault(current, [])
        elif line.startswith("Symbol: ") and current is not None:
            imports[current].append(line[8:].split(" (")[0])
    return imports


def check_x86_callee_pops(dll, bytes_of):
    """The x86 DLL's code itself: each export's function, found at the export's address, leaves with
    "ret $N" for the N bytes of its arguments (stdcall: the callee pops them); an export without arguments
    leaves with a plain ret or a tail jump. A cdecl export would end in a plain ret whatever its arguments."""
    base = int(re.search(r"ImageBase: (0x[0-9A-Fa-f]+)", run("llvm-readobj", "--file-headers", dll)).group(1), 16)
    exports = re.findall(r"Name: (\S+)\n\s*RVA: (0x[0-9A-Fa-f]+)", run("llvm-readobj", "--coff-exports", dll))
    blocks, current = {}, None
    for line in run("i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", dll).splitlines():
        label = re.match(r"^([0-9a-f]+) <[^>]+>:$", line)
        if label:
            current = blocks.setdefault(int(label.group(1), 16), [])
        elif not line.strip():
            current = None
        elif current is not None:
            current.append(line.split("\t")[-1].strip())
    for name, rva in exports:
        code = blocks.get(base + int(rva, 16))
        if not check(code, f"x86: no code found at the address of export {name}"):
            continue
        pops = [c for c in code if c.startswith("ret")]
        n = bytes_of.get(name, -1)
        if n > 0:
            check(pops and all(c == f"ret    $0x{n:x}" for c in pops),
                  f"x86: {name} returns with {pops or 'no ret'}, expected ret $0x{n:x} (stdcall, {n} bytes)")
        else:
            check(all(c == "ret" for c in pops) and (pops or any(c.startswith("jmp") for c in code)),
                  f"x86: {name} returns with {pops}, expected a plain ret or a tail jump")
    print(f"x86: the return of each of {len(exports)} exports checked for the bytes it pops")


def check_binaries(source, trees):
    exports = header_exports(source)
    names = sorted(name for name, _ in exports)
    bytes_of = {name: x86_stack_bytes(arguments) for name, arguments in exports}

    # The .def files: the same names; x86 decorated with the header's byte counts.
    x64_def = def_exports(os.path.join(source, "client", "IQXPilotSt.def"))
    x86_def = def_exports(os.path.join(source, "client", "IQXPilotSt-x86.def"))
    check(sorted(x64_def) == names, f"x64 .def lists {sorted(x64_def)}, the header {names}")
    expected_x86 = sorted(f"{name}@{bytes_of[name]}" for name in names)
    check(sorted(x86_def) == expected_x86, f"x86 .def lists {sorted(x86_def)}, the header gives {expected_x86}")

    for arch, build in trees.items():
        bin_dir, lib_dir = os.path.join(build, "bin"), os.path.join(build, "lib")
        print(f"== {arch}: {build}")
        for program in ("IQXPilotSt.dll", "QXPilotSt.exe", "qxpilot.exe", "qxsdk_calls.exe", "qxsdk_callconv.exe"):
            path = os.path.join(bin_dir, program)
            if not check(os.path.exists(path), f"{arch}: {program} was not built"):
                continue
            headers = run("llvm-readobj", "--file-headers", path)
            check(f"Machine: {MACHINES[arch]}" in headers, f"{arch}: {program} is not {MACHINES[arch]}")
            for dll in coff_imports(path):
                check(dll in SYSTEM_DLLS or (dll == "iqxpilotst.dll" and program.startswith("qxsdk_calls")),
                      f"{arch}: {program} imports {dll}")
        dll = os.path.join(bin_dir, "IQXPilotSt.dll")
        exported = sorted(re.findall(r"^\s*Name: (\S+)$", run("llvm-readobj", "--coff-exports", dll), re.M))
        check(exported == names, f"{arch}: IQXPilotSt.dll exports {exported}, expected {names}")
        dll_imports = set(coff_imports(dll))
        check(dll_imports <= {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"},
              f"{arch}: IQXPilotSt.dll imports {sorted(dll_imports)}")

        # What a compiler references for each export, and what the import libraries must define for it.
        if arch == "x86":
            referenced = sorted(f"_{name}@{bytes_of[name]}" for name in names)
        else:
            referenced = names
        mingw = os.path.join(lib_dir, "libIQXPilotSt.dll.a")
        symbols = run("llvm-nm", mingw)
        defined = sorted(re.findall(r"^[0-9a-f]+ T (\S+)$", symbols, re.M))
        check(defined == referenced, f"{arch}: libIQXPilotSt.dll.a defines {defined}, expected {referenced}")
        objects = run("llvm-readobj", "--file-headers", mingw)
        want_format = "COFF-i386" if arch == "x86" else "COFF-x86-64"
        formats = set(re.findall(r"^Format: (\S+)$", objects, re.M))
        check(formats == {want_format}, f"{arch}: libIQXPilotSt.dll.a members are {formats}")
        # The program linked through it imports the undecorated names.
        calls = coff_imports(os.path.join(bin_dir, "qxsdk_calls.exe")).get("iqxpilotst.dll", [])
        check(calls and all("@" not in n and not n.startswith("_") for n in calls),
              f"{arch}: qxsdk_calls.exe imports {calls} from IQXPilotSt.dll")

        msvc = os.path.join(lib_dir, "IQXPilotSt.lib")
        listing = run("llvm-readobj", msvc)
        want_arch = "i386" if arch == "x86" else "x86_64"
        archs = set(re.findall(r"^Arch: (\S+)$", listing, re.M))
        check(archs == {want_arch}, f"{arch}: IQXPilotSt.lib is for {archs}, expected {want_arch}")
        imports = re.findall(r"^Format: COFF-import-file\nType: code\nName type: (\S+)\nSymbol: __imp_(\S+)\nSymbol: (\S+)",
                             listing, re.M)
        check(sorted(i[2] for i in imports) == referenced,
              f"{arch}: IQXPilotSt.lib defines {sorted(i[2] for i in imports)}, expected {referenced}")
        # "undecorate": the DLL's name is the symbol without its _ and @N; "name": the symbol as it is.
        want_type = "undecorate" if arch == "x86" else "name"
        check(all(i[0] == want_type for i in imports), f"{arch}: IQXPilotSt.lib name types {set(i[0] for i in imports)}")
        check(open(os.path.join(lib_dir, "IQXPilotSt.def")).read() ==
              open(os.path.join(source, "client", "IQXPilotSt-x86.def" if arch == "x86" else "IQXPilotSt.def")).read(),
              f"{arch}: lib/IQXPilotSt.def is not the architecture's .def")
        if arch == "x86":
            check_x86_callee_pops(dll, bytes_of)
        print(f"{arch}: {len(names)} exports, import libraries and {len(exported)} undecorated names checked")


# ---- Bindings.

VBA_TYPES = {"String": "ptr", "LongPtr": "ptr", "Long": "i32", "Byte": "u8"}
CSHARP_TYPES = {"string": "ptr", "byte[]": "ptr", "IntPtr": "ptr", "int": "i32", "byte": "u8"}
PYTHON_TYPES = {"c_char_p": "ptr", "c_void_p": "ptr", "c_int32": "i32", "c_uint8": "u8"}


def compare(binding, declared, exports, pointer_is_i32=False):
    """declared: {name: [width kinds]} of one binding (or one branch of it). pointer_is_i32: a branch that
    only runs in 32-bit processes, where a pointer is passed as a 32-bit integer."""
    expected = {name: [("i32" if pointer_is_i32 and kind == "ptr" else kind) for _, kind in arguments]
                for name, arguments in exports}
    check(sorted(declared) == sorted(expected), f"{binding}: declares {sorted(declared)}, the header {sorted(expected)}")
    for name, kinds in declared.items():
        kinds = [("i32" if pointer_is_i32 and kind == "ptr" else kind) for kind in kinds]
        if name in expected:
            check(kinds == expected[name], f"{binding}: {name} takes {kinds}, the header {expected[name]}")


def check_vba(source, exports):
    text = open(os.path.join(source, "bindings", "vba", "IQXPilotSt.bas"), encoding="ascii").read()
    branches = {"VBA7": {}, "VBA6": {}}
    branch = None
    for line in text.splitlines():
        stripped = line.strip()
        if stripped.startswith("'"):
            continue
        if stripped.startswith("#If VBA7"):
            branch = "VBA7"
        elif stripped.startswith("#Else") and branch == "VBA7":
            branch = "VBA6"
        elif stripped.startswith("#End If"):
            branch = None
        m = re.match(r"(?:Public|Private)\s+Declare\s+(PtrSafe\s+)?Function\s+(\w+)\s+Lib\s+\"IQXPilotSt\.dll\"\s*"
                     r"(?:Alias\s+\"(\w+)\"\s*)?\(([^)]*)\)\s+As\s+(\w+)", stripped)
        if not m:
            check("Declare " not in stripped or "kernel32" in stripped, f"VBA: unparsed declaration: {stripped}")
            continue
        ptrsafe, name, alias, arguments, returns = m.groups()
        if not check(branch is not None, f"VBA: {name} declared outside #If VBA7"):
            continue
        entry = alias or name
        check((ptrsafe is not None) == (branch == "VBA7"), f"VBA {branch}: {name}: PtrSafe only under VBA7")
        check(returns == "Long", f"VBA {branch}: {name} returns {returns}, the header a 32-bit int (Long)")
        kinds = []
        for argument in filter(None, (a.strip() for a in arguments.split(","))):
            a = re.fullmatch(r"(ByVal|ByRef)\s+(\w+)\s+As\s+(\w+)", argument)
            if not check(a is not None and a.group(1) == "ByVal", f"VBA {branch}: {name}: '{argument}' is not ByVal"):
                continue
            kind = VBA_TYPES.get(a.group(3))
            check(kind is not None, f"VBA {branch}: {name}: type {a.group(3)}")
            kinds.append(kind)
        branches[branch][entry] = kinds
    # VBA6 (Office 2007 and older) is 32-bit only: there a Long carries a pointer; VBA7 needs LongPtr.
    for branch, declared in branches.items():
        compare(f"VBA {branch}", declared, exports, pointer_is_i32=(branch == "VBA6"))


def check_csharp(source, exports):
    text = open(os.path.join(source, "bindings", "csharp", "IQXPilotSt.cs"), encoding="ascii").read()
    declared = {}
    pattern = re.compile(r"\[DllImport\(([^\]]*)\)\]\s*public\s+static\s+extern\s+(\w+)\s+(\w+)\(([^)]*)\);")
    for m in pattern.finditer(text):
        attributes, returns, name, arguments = m.groups()
        entry = re.search(r"EntryPoint\s*=\s*\"(\w+)\"", attributes)
        entry = entry.group(1) if entry else name
        check("CallingConvention = CallingConvention.Winapi" in attributes or
              "CallingConvention = CallingConvention.StdCall" in attributes,
              f"C#: {name}: not Winapi/StdCall (stdcall on x86)")
        check("ExactSpelling = true" in attributes, f"C#: {name}: ExactSpelling must be true (no A/W lookup)")
        check("CharSet = CharSet.Ansi" in attributes, f"C#: {name}: CharSet.Ansi expected")
        check(returns == "int", f"C#: {name} returns {returns}")
        kinds = []
        for argument in filter(None, (a.strip() for a in arguments.split(","))):
            parts = argument.rsplit(None, 1)
            kind = CSHARP_TYPES.get(parts[0]) if len(parts) == 2 else None
            check(kind is not None, f"C#: {name}: argument '{argument}'")
            kinds.append(kind)
        if entry.endswith("_Utf8"):
            check(arguments.count("string") == 0 or entry == "StartQuodrix_Utf8",
                  f"C#: {entry}: UTF-8 texts must be byte[], not string (marshalled to the ANSI code page)")
        check(entry not in declared, f"C#: {entry} declared twice")
        declared[entry] = kinds
    compare("C#", declared, exports)


def check_python(source, exports):
    path = os.path.join(source, "bindings", "python", "iqxpilotst.py")
    tree = ast.parse(open(path, encoding="ascii").read(), path)
    table = None
    for node in tree.body:
        if isinstance(node, ast.Assign) and any(isinstance(t, ast.Name) and t.id == "_SIGNATURES" for t in node.targets):
            table = node.value
    if not check(isinstance(table, (ast.List, ast.Tuple)), "Python: no _SIGNATURES table"):
        return
    declared = {}
    for item in table.elts:
        name = item.elts[0].value
        restype = item.elts[1].attr if isinstance(item.elts[1], ast.Attribute) else item.elts[1].id
        check(restype == "c_int32", f"Python: {name} returns {restype}")
        kinds = []
        for argument in item.elts[2].elts:
            typename = argument.attr if isinstance(argument, ast.Attribute) else argument.id
            kind = PYTHON_TYPES.get(typename)
            check(kind is not None, f"Python: {name}: argument type {typename}")
            kinds.append(kind)
        declared[name] = kinds
    compare("Python", declared, exports)
    text = open(path, encoding="ascii").read()
    check(re.search(r"WinDLL if .*calcsize\(\"P\"\) == 4", text) is not None,
          "Python: the loader must be WinDLL for 32-bit, CDLL for 64-bit")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["binaries", "bindings"])
    parser.add_argument("--source", required=True)
    parser.add_argument("--x64")
    parser.add_argument("--x86")
    options = parser.parse_args()
    if options.what == "binaries":
        check_binaries(options.source, {"x64": options.x64, "x86": options.x86})
    else:
        exports = header_exports(options.source)
        for checker in (check_vba, check_csharp, check_python):
            checker(options.source, exports)
        print(f"bindings: {len(exports)} exports checked in VBA (both branches), C# and Python")
    if FAILURES:
        print(f"{len(FAILURES)} failure(s)")
        return 1
    print("all checks hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())
