"""A C host built as for MSVC (msvc_host.c, clang for the DLL's *-windows-msvc
target, lld-link) links against tavsn.lib and imports from tavsn.dll exactly
the DLL's export names, decorated ones included in 32-bit builds; under Wine
each export it calls returns and writes what the export host reads.

The link and import check needs no Wine. Where 32-bit programs cannot run,
the script passes with a note for the Wine run rather than reporting itself
skipped: the check that ran is the one a 32-bit build needs most."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
from export_host import EXPORTS, call_export  # noqa: E402
from library_bed import library_in_scratch, with_adapters  # noqa: E402
from test_dll_imports import exported_names, imported_functions, objdump  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
# The kernel32 functions msvc_host.c declares, with their argument bytes.
KERNEL32 = {"GetStdHandle": 4, "WriteFile": 20, "ExitProcess": 4}


def run(*args):
    done = subprocess.run(list(args), capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("[FAIL] %s\n%s%s" % (" ".join(args), done.stdout, done.stderr))


def build_host(build, work, x64):
    """msvc_host.exe, linked in `work` against the build's tavsn.lib."""
    def_file = os.path.join(work, "kernel32.def")
    with open(def_file, "w") as f:
        # -k maps the x86 objects' _GetStdHandle@4 to the plain export name.
        f.write("LIBRARY kernel32.dll\nEXPORTS\n" + "".join(
            "  %s\n" % name if x64 else "  %s@%d\n" % (name, size) for name, size in KERNEL32.items()))
    kernel32 = os.path.join(work, "kernel32.lib")
    run("llvm-dlltool", "-m", "i386:x86-64" if x64 else "i386", "-k",
        "-d", def_file, "-l", kernel32)
    obj, exe = os.path.join(work, "msvc_host.obj"), os.path.join(work, "msvc_host.exe")
    # No C runtime to provide memset or __chkstk: nothing may call them.
    run("clang", "--target=%s-pc-windows-msvc" % ("x86_64" if x64 else "i686"),
        "-ffreestanding", "-fno-builtin", "-fno-stack-protector", "-mno-stack-arg-probe", "-O2",
        "-Wall", "-Wextra", "-Werror", "-I", os.path.join(HERE, "..", "..", "include"),
        "-c", os.path.join(HERE, "msvc_host.c"), "-o", obj)
    run("lld-link", "/nologo", "/entry:host_start", "/subsystem:console",
        "/nodefaultlib", "/machine:%s" % ("x64" if x64 else "x86"), "/out:" + exe, obj,
        os.path.join(build, "tavsn.lib"), kernel32)
    return exe


def check_imports(exe, dll):
    imports = imported_functions(objdump(exe))
    expected = {"tavsn.dll": sorted(exported_names(objdump(dll))), "kernel32.dll": sorted(KERNEL32)}
    actual = {name: sorted(functions) for name, functions in imports.items()}
    if actual != expected:
        sys.exit("[FAIL] imports %r, expected exactly %r" % (actual, expected))
    print("[ OK ] imports: %r" % actual, flush=True)


parser = argparse.ArgumentParser()
parser.add_argument("--build", required=True)
build = os.path.abspath(parser.parse_known_args()[0].build)
dll = os.path.join(build, "tavsn.dll")
x64 = winebed.pe_machine(dll) == 0x8664
runnable = x64 or winebed.thirty_two_bit_programs_run()
if runnable:
    winebed.in_private_network_namespace()
work = tempfile.mkdtemp(prefix="msvc-host-", dir=build)
try:
    exe = build_host(build, work, x64)
    check_imports(exe, dll)
    if not runnable:
        print("SKIPPED: the Wine run of msvc_host.exe, as this kernel does not execute 32-bit "
              "programs; its link and imports passed")
        sys.exit(0)
    bed = winebed.TestBed()

    @bed.case
    def calls_return_what_the_export_host_reads(prefix):
        adapters = with_adapters(bed, prefix, lambda a: a.add("eth0", "0A1B2C3D4E5F"))
        try:
            library = library_in_scratch(bed, prefix, with_log=False)
            host = prefix.run([shutil.copy(exe, os.path.dirname(library))])
            expected = []
            for function, convention in EXPORTS:
                call = call_export(bed, prefix, library, bed.export_name(function), convention,
                                   buffer_len=32, canary=ord("#")).calls[0]
                expected.append("%s %d %s" % (function, call.result, call.buffer.hex().upper()))
        finally:
            adapters.stop()
        bed.expect_equal(host.returncode, 0, "msvc_host exit code")
        bed.expect_equal(host.stdout.decode("latin-1").splitlines(), expected, "msvc_host lines")
        bed.expect(expected[0].startswith("GetMacSN 32 "), "GetMacSN read the adapter")

    bed.main()
finally:
    shutil.rmtree(work, ignore_errors=True)
