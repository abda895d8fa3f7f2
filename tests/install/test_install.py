#!/usr/bin/env python3
"""Installs the linux build into a scratch prefix, moves the tree elsewhere,
and uses it there as a licence server would: a C program built with nothing
but `pkg-config --cflags --libs tavsn_server`, and the tool.

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
                       LD_LIBRARY_PATH=str(cls.prefix / "lib"))

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
        for path in ("bin/tavsn", "include/tavsn_server.h", f"lib/libtavsn_server.so.{major}"):
            self.assertTrue((self.prefix / path).is_file(), path)
        self.assertEqual(run("pkg-config", "--modversion", "tavsn_server", env=self.env).strip(), ARGS.version)
        self.assertIn("exit codes:", run(self.prefix / "bin/tavsn", "--help"))

    def test_c_program_through_pkg_config(self):
        self.assertEqual(self.build_and_run(DECODE_PROGRAM, EX), "2 4 487B\n")

    def test_only_the_c_api_is_exported(self):
        declared = set(re.findall(r"\b(tavsn_\w+)\(", (self.prefix / "include/tavsn_server.h").read_text()))
        exported = run("nm", "-D", "--defined-only", "--format=just-symbols", self.prefix / "lib/libtavsn_server.so")
        self.assertEqual(set(exported.split()), declared)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--build", "--cmake", "--version"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
