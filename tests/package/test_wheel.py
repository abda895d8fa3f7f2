#!/usr/bin/env python3
"""The Python wheel, installed with pip into a fresh venv of Debian's
Python: imported there with no environment variable, it loads the library
inside it, and answers field by field as the tool's JSON, as the install
test checks it.
    python3 tests/package/test_wheel.py dist/tavsn_server-1.1.0-py3-none-linux_x86_64.whl build/server/tavsn"""
import argparse
import importlib.metadata
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "install"))
import test_install  # noqa: E402
from test_install import run  # noqa: E402

WHEEL = TOOL = None
VARIABLES = ("PYTHONPATH", "LD_LIBRARY_PATH", "TAVSN_SERVER_LIBRARY")


class Wheel(test_install.InstalledPackage):
    # Without the header, the C checks belong to the Debian package's test.
    test_c_program_through_pkg_config = test_only_the_c_api_is_exported = None
    test_python_module_mirrors_the_header = None

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.scratch.cleanup)
        cls.prefix = pathlib.Path(cls.scratch.name)
        (cls.prefix / "bin").mkdir()
        (cls.prefix / "bin/tavsn").symlink_to(TOOL)
        cls.env = dict(os.environ)
        import tavsn_server
        test_install.ts = tavsn_server
        cls.lib = pathlib.Path(tavsn_server.__file__).parent
        test_install.ARGS = argparse.Namespace(version=importlib.metadata.version("tavsn_server"))

    def test_package_contents_and_version(self):
        version = test_install.ARGS.version
        self.assertRegex(pathlib.Path(WHEEL).name, r"^tavsn_server-%s-py3-none-linux_%s\.whl$" % (version, os.uname().machine))
        self.assertEqual(run(TOOL, "--version"), "tavsn %s\n" % version)
        with zipfile.ZipFile(WHEEL) as wheel:
            names = {name for name in wheel.namelist() if ".dist-info/" not in name}
        self.assertEqual(names, {"tavsn_server/__init__.py", "tavsn_server/py.typed",
                                 "tavsn_server/libtavsn_server.so." + version.split(".")[0]})
        self.assertEqual([v for v in VARIABLES if v in os.environ], [])
        self.assertTrue((self.lib / "py.typed").is_file())
        self.assertEqual(pathlib.Path(test_install.ts._installed_library()).parent, self.lib)


def main():
    global WHEEL, TOOL
    WHEEL, TOOL = (os.path.abspath(sys.argv.pop(1)) for _ in range(2))
    if sys.prefix != sys.base_prefix:  # inside the venv
        unittest.main()
    with tempfile.TemporaryDirectory() as scratch:
        venv = pathlib.Path(scratch) / "v"
        run("/usr/bin/python3", "-m", "venv", venv)
        run(venv / "bin/pip", "install", "--quiet", "--no-index", WHEEL)
        env = {k: v for k, v in os.environ.items() if k not in VARIABLES}
        # From the venv's own folder, so that nothing beside this file is imported as the module.
        sys.exit(subprocess.run([venv / "bin/python", os.path.abspath(__file__), WHEEL, TOOL, *sys.argv[1:]],
                                env=env, cwd=scratch).returncode)


if __name__ == "__main__":
    main()
