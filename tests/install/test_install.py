#!/usr/bin/env python3
"""Installs the linux build into a scratch prefix, moves the tree elsewhere,
and uses it there as a licence server would: a C program built with nothing
but `pkg-config --cflags --libs tavsn_server`, the tool, the Python module.

    python3 tests/install/test_install.py --build build/linux --cmake cmake --version 1.2.3
"""
import argparse
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

ARGS = None
EX = "TQ1221000A1B7B480E00B8FF26006C9C"  # GetPCSNEx, MAC checksum 487B
DECODE_PROGRAM = r"""
#include <stdio.h>
#include <string.h>
#include <tavsn_server.h>
int main(int argc, char** argv) {
  tavsn_decoded d;
  if (argc != 2 || tavsn_decode(argv[1], strlen(argv[1]), &d) != TAVSN_SERVER_OK) return 1;
  printf("%d %d %04X\n", d.kind, d.made_by, d.mac_checksum);
  return 0;
}
"""


def run(*args, **options):
    return subprocess.run(args, check=True, capture_output=True, text=True, **options).stdout


class InstalledPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        staged, cls.prefix = (pathlib.Path(cls.scratch.name) / name for name in ("staged", "moved"))
        run(ARGS.cmake, "--install", ARGS.build, "--prefix", staged)
        staged.rename(cls.prefix)
        cls.env = dict(os.environ, PKG_CONFIG_PATH=str(cls.prefix / "lib/pkgconfig"),
                       LD_LIBRARY_PATH=str(cls.prefix / "lib"), PYTHONPATH=str(cls.prefix / "share/tavsn/python"))

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def build_and_run(self, source, *args):
        program = pathlib.Path(self.scratch.name) / "program"
        flags = run("pkg-config", "--cflags", "--libs", "tavsn_server", env=self.env).split()
        run("cc", "-x", "c", "-", "-o", program, *flags, input=source)
        return run(program, *args, env=self.env)

    def test_package_contents_and_version(self):
        major = ARGS.version.split(".")[0]
        for path in ("bin/tavsn", "include/tavsn_server.h", f"lib/libtavsn_server.so.{major}",
                     "share/tavsn/python/tavsn_server.py"):
            self.assertTrue((self.prefix / path).is_file(), path)
        self.assertEqual(run("pkg-config", "--modversion", "tavsn_server", env=self.env).strip(), ARGS.version)
        self.assertIn("exit codes:", run(self.prefix / "bin/tavsn", "--help"))

    def test_c_program_through_pkg_config(self):
        self.assertEqual(self.build_and_run(DECODE_PROGRAM, EX), "2 4 487B\n")

    def test_only_the_c_api_is_exported(self):
        declared = set(re.findall(r"\b(tavsn_\w+)\(", (self.prefix / "include/tavsn_server.h").read_text()))
        exported = run("nm", "-D", "--defined-only", "--format=just-symbols", self.prefix / "lib/libtavsn_server.so")
        self.assertEqual(set(exported.split()), declared)

    def test_python_module_mirrors_the_header(self):
        code = "import tavsn_server as t; print(t.decode('%s').made_by)" % EX
        self.assertEqual(run(sys.executable, "-c", code, env=self.env), "GetPCSNEx\n")
        sys.path.insert(0, self.env["PYTHONPATH"])
        import tavsn_server
        checks = []  # what is measured, its C expression, the ctypes value
        for c_name, struct in tavsn_server.C_STRUCTS.items():
            checks.append((c_name, f"sizeof({c_name})", tavsn_server.ctypes.sizeof(struct)))
            for name, _ in struct._fields_:
                field = getattr(struct, name)
                checks.append((f"{c_name}.{name} at", f"offsetof({c_name}, {name})", field.offset))
                checks.append((f"{c_name}.{name} size", f"sizeof((({c_name}*)0)->{name})", field.size))
        body = "".join(f'printf("{label} %zu\\n", {expression});' for label, expression, _ in checks)
        source = "#include <stddef.h>\n#include <stdio.h>\n#include <tavsn_server.h>\nint main(void) {%s}\n"
        expected = "".join(f"{label} {value}\n" for label, _, value in checks)
        self.assertEqual(self.build_and_run(source % body), expected)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--build", "--cmake", "--version"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
