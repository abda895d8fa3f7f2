#!/usr/bin/env python3
"""The Python wheel, installed with pip into a fresh venv of Debian's Python
and imported there with no environment variable: it loads the library inside
it and answers field by field as the tool's JSON, as the install test checks.
    python3 tests/package/test_wheel.py dist/tavsn_server-1.2.0-py3-none-linux_x86_64.whl build/server/tavsn"""
import importlib.metadata, os, pathlib, subprocess, sys, tempfile, types, unittest, zipfile  # noqa: E401
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "install"))
import test_install as t  # noqa: E402
VARIABLES = ("PYTHONPATH", "LD_LIBRARY_PATH", "TAVSN_SERVER_LIBRARY")


class Wheel(t.InstalledPackage):
    # No header in a wheel: the C checks are the Debian package's.
    test_c_program_through_pkg_config = test_only_the_c_api_is_exported = test_python_module_mirrors_the_header = None

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.scratch.cleanup)
        cls.prefix, cls.env = pathlib.Path(cls.scratch.name), dict(os.environ)
        (cls.prefix / "bin").mkdir()
        (cls.prefix / "bin/tavsn").symlink_to(TOOL)
        import tavsn_server
        t.ts, cls.lib = tavsn_server, pathlib.Path(tavsn_server.__file__).resolve().parent
        t.ARGS = types.SimpleNamespace(version=importlib.metadata.version("tavsn_server"))

    def test_package_contents_and_version(self):
        version = t.ARGS.version
        self.assertEqual(os.path.basename(WHEEL), "tavsn_server-%s-py3-none-linux_%s.whl" % (version, os.uname().machine))
        self.assertEqual(t.run(TOOL, "--version"), "tavsn %s\n" % version)
        with zipfile.ZipFile(WHEEL) as wheel:
            names = {name for name in wheel.namelist() if ".dist-info/" not in name}
        so = "libtavsn_server.so." + version.split(".")[0]
        self.assertEqual(names, {"tavsn_server/" + n for n in ("__init__.py", "py.typed", so)})
        self.assertEqual([v for v in VARIABLES if v in os.environ], [])
        self.assertEqual(pathlib.Path(t.ts._installed_library()), self.lib / so)


if __name__ == "__main__":
    WHEEL, TOOL = (os.path.abspath(sys.argv.pop(1)) for _ in range(2))
    if sys.prefix != sys.base_prefix:  # in the venv
        unittest.main()
    with tempfile.TemporaryDirectory() as scratch:
        venv = pathlib.Path(scratch) / "v"
        t.run("/usr/bin/python3", "-m", "venv", venv)
        t.run(venv / "bin/pip", "install", "--quiet", "--no-index", WHEEL)
        env = {k: v for k, v in os.environ.items() if k not in VARIABLES}
        sys.exit(subprocess.run([venv / "bin/python", os.path.abspath(__file__), WHEEL, TOOL, *sys.argv[1:]], env=env, cwd=scratch).returncode)
