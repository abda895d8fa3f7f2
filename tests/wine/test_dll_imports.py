"""tavsn.dll imports only Windows system DLLs that are KnownDLLs and only
functions that Windows XP already has (rpcrt4, and the system DLLs that are no
KnownDLLs, are loaded at run time, never imported), carries the hardening
flags in its PE header and the stack protector in its code, exports
exactly the names that api/tavsn.def lists, and has no C++ exception or
unwinder code linked in: the linker's map of the DLL is read for that, since
the startup code of every MinGW DLL names __register_frame_info as text
whether the unwinder is there or not."""

import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winebed import pe_machine  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DEF_FILES = {0x14C: os.path.join(HERE, "..", "..", "api", "tavsn.def"),
             0x8664: os.path.join(HERE, "..", "..", "api", "tavsn_x64.def")}

SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "iphlpapi.dll", "setupapi.dll", "shell32.dll",
               "winmm.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll", "user32.dll",
               "cfgmgr32.dll", "ntdll.dll"}
FORBIDDEN = re.compile(r"^(libgcc.*|libstdc\+\+.*|libwinpthread.*|libssp.*|rpcrt4\.dll)$", re.I)
# Not KnownDLLs: Windows would look for them in the host program's folder
# first. tavsn.dll loads them from the system folder (base/system_library.h).
NOT_KNOWN_DLLS = {"iphlpapi.dll", "setupapi.dll", "winmm.dll", "cfgmgr32.dll"}

# The PE header's DllCharacteristics every build must carry, and what only
# the 32-bit one carries: no code of its own has SEH handlers.
DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA, NO_SEH = 0x40, 0x100, 0x20, 0x400
REQUIRED_CHARACTERISTICS = {0x14C: DYNAMIC_BASE | NX_COMPAT | NO_SEH,
                            0x8664: DYNAMIC_BASE | NX_COMPAT | HIGH_ENTROPY_VA}

# Every function the DLL may import: each exists on Windows XP (5.1). A new
# import fails this test until someone has checked that XP has it. The COM
# and OLE Automation calls of the firmware reader are listed ahead of it.
XP_FUNCTIONS = {
    # The security calls build the adapter mutex's descriptor and read its
    # owner (all Windows 2000).
    "advapi32.dll": {"AddAccessAllowedAce", "EqualSid", "GetKernelObjectSecurity", "GetSecurityDescriptorOwner",
                     "InitializeAcl", "InitializeSecurityDescriptor", "SetSecurityDescriptorDacl",
                     "SetSecurityDescriptorOwner", "RegCloseKey", "RegEnumKeyExW", "RegOpenKeyExA", "RegOpenKeyExW",
                     "RegQueryInfoKeyW", "RegQueryValueExA", "RegQueryValueExW"},
    # GetModuleFileNameW: the log's folder from the wide path; GetFileType
    # and GetFileInformationByHandle: the log must be a plain file with one
    # link; GetSystemDirectoryW and LoadLibraryExW: the system DLLs by full
    # path; the process, thread, time and counter calls seed the stack
    # cookie, TerminateProcess ends a process whose stack was smashed.
    "kernel32.dll": {"GetCurrentProcess", "GetCurrentProcessId", "GetCurrentThreadId", "GetFileInformationByHandle",
                     "GetFileType", "GetModuleFileNameW", "GetSystemDirectoryW", "GetSystemTimeAsFileTime",
                     "LoadLibraryExW", "QueryPerformanceCounter", "TerminateProcess", "CloseHandle", "CreateFileA", "CreateFileW", "CreateMutexW", "DeleteCriticalSection",
                     "DeviceIoControl", "DisableThreadLibraryCalls", "EnterCriticalSection",
                     "FreeLibrary", "GetFileAttributesA", "GetLastError", "GetModuleFileNameA",
                     "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress", "GetProcessHeap",
                     "GetSystemTime", "GetTickCount", "GetVersionExW", "GlobalAlloc",
                     "GlobalFree", "GlobalMemoryStatusEx", "HeapAlloc", "HeapFree", "HeapReAlloc",
                     "InitializeCriticalSection", "InterlockedCompareExchange",
                     "InterlockedExchange", "IsDBCSLeadByteEx", "LeaveCriticalSection",
                     "LoadLibraryA", "LoadLibraryW", "MultiByteToWideChar", "ReleaseMutex", "SetLastError",
                     "Sleep", "TlsGetValue", "VirtualProtect", "VirtualQuery", "WaitForSingleObject",
                     "WideCharToMultiByte", "WriteFile"},
    "msvcrt.dll": {"__mb_cur_max", "_amsg_exit", "_errno", "_initterm", "_iob", "_lock",
                   "_unlock", "abort", "atoi", "calloc", "fflush", "fputc", "fputs", "free",
                   "fwrite", "localeconv", "malloc", "memchr", "memcmp", "memcpy", "memmove",
                   "memset", "realloc", "setlocale", "strchr", "strerror", "strlen", "strncmp",
                   "strrchr", "strstr", "vfprintf", "wcslen"},
    "ole32.dll": {"CoCreateInstance", "CoInitializeEx", "CoSetProxyBlanket", "CoUninitialize"},
    "oleaut32.dll": {"SafeArrayAccessData", "SafeArrayGetLBound", "SafeArrayGetUBound",
                     "SafeArrayGetDim", "SafeArrayUnaccessData", "VariantClear", "VariantInit"},
    "shell32.dll": {"IsUserAnAdmin"},
}

# The 64-bit runtime reaches the same C library state through functions that
# the x64 msvcrt.dll of Windows XP x64 (5.2) exports.
XP_X64_FUNCTIONS = {"msvcrt.dll": {"___lc_codepage_func", "___mb_cur_max_func", "__iob_func"}}

# Archives and objects that belong to the C++ exception machinery.
EXCEPTION_ARCHIVES = re.compile(r"lib(stdc\+\+|supc\+\+|gcc_eh)\.a\(|libgcc\.a\((unwind|.*eh_)", re.I)
EXCEPTION_SYMBOLS = re.compile(
    r"^\s+0x[0-9a-f]+\s+(__cxa_\w+|__gxx_personality\w*|_Unwind_\w+|__register_frame_info\w*|"
    r"__deregister_frame_info\w*|__gcc_personality\w*)\s*$", re.M)


def objdump(dll):
    # The 64-bit binutils read both kinds of PE file.
    return subprocess.run(["x86_64-w64-mingw32-objdump", "-p", dll], check=True,
                          capture_output=True, text=True).stdout


def imported_dlls(dump):
    return [name.strip() for name in re.findall(r"^\s*DLL Name:\s*(\S+)", dump, re.M)]


def imported_functions(dump):
    """{dll: [function names]} from objdump's import tables."""
    functions = {}
    current = None
    for line in dump.splitlines():
        dll = re.match(r"^\s*DLL Name:\s*(\S+)", line)
        if dll:
            current = functions.setdefault(dll.group(1).lower(), [])
            continue
        entry = re.match(r"^\s+[0-9a-f]+\s+\d+\s+(\S+)\s*$", line)
        if entry and current is not None:
            current.append(entry.group(1))
        elif not line.strip():
            current = None if current is not None and current else current
    return functions


def exception_runtime_in_map(map_path):
    """What of the exception machinery the linker put into the DLL: archive
    members pulled in, and such symbols defined in the output."""
    with open(map_path, errors="replace") as f:
        text = f.read()
    included = text.split("Archive member included", 1)[-1].split("Memory Configuration", 1)[0]
    found = []
    for line in included.splitlines():
        if EXCEPTION_ARCHIVES.search(line):
            found.append(line.strip())
    found += sorted(set(EXCEPTION_SYMBOLS.findall(text.split("Linker script and memory map", 1)[-1])))
    return found


def dll_characteristics(dump):
    found = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", dump, re.M)
    return int(found.group(1), 16) if found else None


def stack_protected_in_map(map_path):
    """Whether the linker kept the stack protector's check: it is referenced
    only from functions the compiler protected."""
    with open(map_path, errors="replace") as f:
        return "__stack_chk_fail" in f.read()


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
        elif name.lower() in NOT_KNOWN_DLLS:
            failures.append("import %s is no KnownDLL: it must be loaded from the system folder" % name)
        elif name.lower() not in SYSTEM_DLLS:
            failures.append("import %s is not a Windows system DLL of the list" % name)

    machine = pe_machine(dll)
    for system_dll, names in sorted(imported_functions(dump).items()):
        allowed = XP_FUNCTIONS.get(system_dll, set())
        if machine == 0x8664:
            allowed = allowed | XP_X64_FUNCTIONS.get(system_dll, set())
        for name in names:
            if name not in allowed:
                failures.append("import %s!%s is not known to exist on Windows XP" % (system_dll, name))

    characteristics = dll_characteristics(dump)
    required = REQUIRED_CHARACTERISTICS[machine]
    if characteristics is None or characteristics & required != required:
        failures.append("DllCharacteristics %r lack %#x" % (characteristics, required))

    map_path = os.path.join(args.build, "tavsn.map")
    if not os.path.exists(map_path):
        failures.append("no linker map %s" % map_path)
    else:
        if not stack_protected_in_map(map_path):
            failures.append("no function of the DLL is stack-protected")
        for item in exception_runtime_in_map(map_path):
            failures.append("exception runtime linked in: %s" % item)

    def_file = DEF_FILES[machine]
    expected = sorted(def_file_exports(def_file))
    actual = sorted(exported_names(dump))
    if not expected:
        failures.append("no exports read from %s" % def_file)
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
