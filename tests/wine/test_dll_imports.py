"""tavsn.dll imports only Windows system DLLs (the GCC runtime and libstdc++
are linked in, no threading runtime is needed; rpcrt4 is loaded at run time,
never imported) and
exports exactly the names that api/tavsn.def lists."""

import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEF_FILE = os.path.join(HERE, "..", "..", "api", "tavsn.def")

SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "iphlpapi.dll", "setupapi.dll", "shell32.dll",
               "winmm.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll", "user32.dll",
               "cfgmgr32.dll", "ntdll.dll"}
FORBIDDEN = re.compile(r"^(libgcc.*|libstdc\+\+.*|libwinpthread.*|rpcrt4\.dll)$", re.I)


def objdump(dll):
    return subprocess.run(["i686-w64-mingw32-objdump", "-p", dll], check=True,
                          capture_output=True, text=True).stdout


def imported_dlls(dump):
    return [name.strip() for name in re.findall(r"^\s*DLL Name:\s*(\S+)", dump, re.M)]


def exported_names(dump):
    section = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(section) < 2:
        return []
    names = []
    for line in section[1].splitlines()[1:]:
        found = re.match(r"^\s*\[\s*\d+\]\s+(\S+)\s*$", line)
        if not found:
            break
        names.append(found.group(1))
    return names


def def_file_exports(path):
    """The names a module-definition file puts in the export table: for each
    line after EXPORTS the its_name after '==' when there is one, otherwise
    the first word, before any '=' (internal name) or ordinal."""
    names = []
    in_exports = False
    with open(path) as f:
        for raw in f:
            line = raw.split(";", 1)[0].strip()
            if not line:
                continue
            if re.match(r"^(LIBRARY|NAME|DESCRIPTION|STACKSIZE|HEAPSIZE|SECTIONS|VERSION)\b", line):
                in_exports = False
                continue
            if line == "EXPORTS" or line.startswith("EXPORTS "):
                in_exports = True
                line = line[len("EXPORTS"):].strip()
                if not line:
                    continue
            if in_exports:
                its_name = re.search(r"==\s*(\S+)", line)
                names.append(its_name.group(1) if its_name else re.split(r"\s|=", line, 1)[0])
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    args = parser.parse_args()
    dll = os.path.join(args.build, "tavsn.dll")
    dump = objdump(dll)
    failures = []

    imports = imported_dlls(dump)
    if not imports:
        failures.append("no import table found")
    for name in imports:
        if FORBIDDEN.match(name):
            failures.append("forbidden import %s" % name)
        elif name.lower() not in SYSTEM_DLLS:
            failures.append("import %s is not a Windows system DLL of the list" % name)

    expected = sorted(def_file_exports(DEF_FILE))
    actual = sorted(exported_names(dump))
    if not expected:
        failures.append("no exports read from %s" % DEF_FILE)
    if actual != expected:
        failures.append("exports %r, expected exactly %r" % (actual, expected))

    print("imports: %s" % ", ".join(imports))
    print("exports: %s" % ", ".join(actual))
    for failure in failures:
        print("[FAIL] %s" % failure)
    print("[ OK ] dll_imports_and_exports" if not failures else "%d failures" % len(failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
