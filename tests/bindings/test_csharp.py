#!/usr/bin/env python3
"""Builds bindings/csharp/Tavsn.cs with mcs, warnings as errors; checks its
declarations against api/*.def and include/tavsn.h; runs its helpers under
Mono against a Linux stand-in of the DLL.

    python3 tests/bindings/test_csharp.py build/native/libtavsn_csharp_fake.so
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def run(*command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, (command, done.stdout, done.stderr)
    return done.stdout.splitlines()


def def_exports(name):
    """The names a linker exports: for `internal == exported` the second."""
    text = open(os.path.join(ROOT, "api", name)).read().split("EXPORTS", 1)[1]
    entries = [line.split(";")[0].split() for line in text.splitlines()]
    return [e[2] if len(e) > 2 and e[1] == "==" else e[0].split("=")[0] for e in entries if e]


def header_functions():
    header = open(os.path.join(ROOT, "include", "tavsn.h")).read()
    types = {"char*": "Byte[]", "int": "Int32", "unsigned int": "UInt32"}
    found = re.findall(r"^int TAVSN_(STDCALL|CDECL) (\w+)\(([^)]*)\);", header, re.M)
    return {name: ({"STDCALL": "StdCall", "CDECL": "Cdecl"}[convention],
                   "(%s)" % ",".join(types[p.rsplit(" ", 1)[0].strip()] for p in params.split(",")))
            for convention, name, params in found}


# Each stand-in export writes a text of its own (tests/bindings/fake_tavsn.c).
CASES = {
    "GetMacSN:32": "TQ1101020011263744550B3B2B5B4B7B ",
    "GetMacSN:0": "IdentifierResult.MacFromAdapter 0 GetMacSN returned 0: not a result this export gives",
    "GetPCSN:2": "TQ1220000A1B7B480E00B8FF26006C9A MacFromUuid",
    "GetPCSN:32": "IdentifierResult.MacSnWritten 32 GetPCSN returned 32: not a result this export gives",
    "GetPCSNEx:-1": "IdentifierResult.NoMac -1 GetPCSNEx returned -1: no MAC address from any source",
    "GetPCSNEx:0": "TQ1221000A1B7B480E00B8FF26006C9C MacFromAdapter",
    "GetPcIdEx:1": "TQ1220000A1B7B480E00B8FF26006C9E MacFromIpHelper",
    "GetPcIdInfo:-3": "IdentifierResult.BufferTooSmall -3 tav_get_pc_id_info returned -3: size below 32, negative sizes included",
    "GetPcIdInfo:2": "TQ1221000A1B7B480E00B8FF26006C9F MacFromUuid",
    "GetPcId:32": "0123456789ABCDEF0123456789ABCDE ",
    "GetPcId:-2": "PcIdResult.NoMemory -2 tav_get_pc_id returned -2: no memory for the probes",
}


class CSharpBindings(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory(prefix="tavsn_csharp_")
        work = cls.work.name
        run("mcs", "-target:library", "-warnaserror+", "-out:TavsnBindings.dll",
            os.path.join(ROOT, "bindings", "csharp", "Tavsn.cs"), cwd=work)
        run("mcs", "-warnaserror+", "-r:TavsnBindings.dll", "-out:check.exe",
            os.path.join(ROOT, "tests", "bindings", "check_bindings.cs"), cwd=work)
        # Mono's way of sending "tavsn.dll" to a Linux library, per assembly.
        for assembly in ("check.exe", "TavsnBindings.dll"):
            with open(os.path.join(work, assembly + ".config"), "w") as config:
                config.write('<configuration><dllmap dll="tavsn.dll" target="%s"/></configuration>\n' % FAKE)
        cls.imports = [line.split() for line in run("mono", "check.exe", "imports", cwd=work)]

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def check_class(self, name, def_file):
        functions = header_functions()
        self.assertEqual(len(functions), 6)
        exports = {re.sub(r"^_|@\d+$", "", export): export for export in def_exports(def_file)}
        self.assertEqual(sorted(exports), sorted(functions))
        declared = {i[1]: i[2:] for i in self.imports if i[0] == name}
        self.assertEqual(declared, {f: ["tavsn.dll", exports[f], convention, "True", "Int32", params]
                                    for f, (convention, params) in functions.items()})

    def test_x86_class_calls_the_32bit_exports(self):
        self.check_class("NativeX86", "tavsn.def")

    def test_x64_class_calls_the_64bit_exports(self):
        self.check_class("NativeX64", "tavsn_x64.def")

    def test_helpers_return_the_text_or_throw_the_code(self):
        lines = run("mono", "check.exe", *CASES, cwd=self.work.name)
        self.assertEqual(dict(line.split(" ", 1) for line in lines), CASES)


if __name__ == "__main__":
    FAKE = os.path.abspath(sys.argv.pop(1))
    unittest.main()
