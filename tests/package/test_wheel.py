#!/usr/bin/env python3
"""The Python wheel and sdist. The wheel's manylinux tag against the symbol
versions its library takes (the oldest policy they meet), its metadata as
`twine check --strict` and package indexes read it; then, installed with pip
into a fresh venv of Debian's Python and imported there with no environment
variable, it loads the library inside it and answers field by field as the
tool's JSON, as the install test checks. The sdist builds a wheel of its own.
    python3 tests/package/test_wheel.py dist/tavsn_server-1.3.0-py3-none-manylinux_2_34_x86_64.whl \\
            dist/tavsn_server-1.3.0.tar.gz build/deb/tavsn-1.3.0/debian/tavsn-server/usr/bin/tavsn"""
import email, importlib.metadata, os, pathlib, re, subprocess, sys, tarfile, tempfile, types, unittest, zipfile  # noqa: E401
ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests/install"))
sys.path.insert(0, str(ROOT / "scripts"))
import test_install as t  # noqa: E402
from manylinux import POLICIES  # noqa: E402
VARIABLES = ("PYTHONPATH", "LD_LIBRARY_PATH", "TAVSN_SERVER_LIBRARY")


def symbol_versions(library):
    """{namespace: newest version} of the symbols the library takes from others."""
    newest = {}
    for space, version in re.findall(r"\bUND\b.*@(GLIBC|GLIBCXX|CXXABI|GCC)_([\d.]+)",
                                     t.run("readelf", "--dyn-syms", "-W", library)):
        newest[space] = max(newest.get(space, ()), tuple(map(int, version.split("."))))
    return newest


class Wheel(t.InstalledPackage):
    # No header in a wheel: the C checks are the Debian package's.
    test_c_program_through_pkg_config = test_only_the_c_api_is_exported = test_python_module_mirrors_the_header = None
    test_cmake_consumer_through_find_package = None

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
        policy = re.fullmatch(r"tavsn_server-%s-py3-none-(manylinux_\d+_\d+)_%s\.whl" % (re.escape(version), os.uname().machine),
                              os.path.basename(WHEEL))
        self.assertTrue(policy, WHEEL)
        self.assertEqual(t.run(TOOL, "--version"), "tavsn %s\n" % version)
        with zipfile.ZipFile(WHEEL) as wheel:
            names = {name for name in wheel.namelist() if ".dist-info/" not in name}
        so = "libtavsn_server.so." + version.split(".")[0]
        self.assertEqual(names, {"tavsn_server/" + n for n in ("__init__.py", "py.typed", so)})
        self.assertEqual([v for v in VARIABLES if v in os.environ], [])
        self.assertEqual(pathlib.Path(t.ts._installed_library()), self.lib / so)
        # The oldest policy the library's symbol versions meet.
        used, names = symbol_versions(self.lib / so), list(POLICIES)
        tag = names.index(policy.group(1))
        self.assertEqual({s: v for s, v in used.items() if v > POLICIES[names[tag]][s]}, {}, used)
        if tag:
            self.assertNotEqual({s: v for s, v in used.items() if v > POLICIES[names[tag - 1]][s]}, {}, used)
        needed = set(re.findall(r"NEEDED.*\[(.+)\]", t.run("readelf", "-dW", self.lib / so)))
        # glibc's and GCC's own libraries only, as manylinux allows them: the
        # dynamic loader is needed for __tls_get_addr (libstdc++'s call_once
        # state); the database engines are loaded at run time, never needed.
        self.assertLessEqual(needed, {"libc.so.6", "libm.so.6", "libgcc_s.so.1", "libstdc++.so.6",
                                      "ld-linux-x86-64.so.2"})

    def test_metadata_as_indexes_read_it(self):
        metadata = email.message_from_string(importlib.metadata.distribution("tavsn_server").read_text("METADATA"))
        self.assertEqual(metadata["Description-Content-Type"], "text/markdown")
        self.assertIn("# tavsn", metadata.get_payload())
        urls = dict(u.split(", ", 1) for u in metadata.get_all("Project-URL"))
        self.assertEqual(sorted(urls), ["Changelog", "Homepage", "Issues", "Source"])
        self.assertTrue(all(u.startswith("https://") for u in urls.values()), urls)
        self.assertIn("Typing :: Typed", metadata.get_all("Classifier"))
        self.assertEqual(t.ts.__version__, t.ARGS.version)
        # Keywords a type checker and help() can see.
        help_text = t.ts.verify.__doc__ + str(__import__("inspect").signature(t.ts.verify))
        for keyword in ("list_order: str", "mac_source: Optional[int]", "cpu_text:", "serial:", "uuid_text:"):
            self.assertIn(keyword, help_text)


def check_outside_the_venv():
    """twine's strict check of both, and a wheel built from the sdist."""
    t.run("twine", "check", "--strict", WHEEL, SDIST)
    with tarfile.open(SDIST) as sdist:
        top = sdist.getnames()[0].split("/")[0]
        for name in ("setup.py", "pyproject.toml", "CMakeLists.txt", "include/tavsn_server.h", "README.md", "PKG-INFO"):
            sdist.getmember(top + "/" + name)
    with tempfile.TemporaryDirectory() as out:
        t.run("/usr/bin/python3", "-m", "pip", "wheel", "--quiet", "--no-index", "--no-build-isolation", "--no-deps",
              "--wheel-dir", out, SDIST)
        built = os.listdir(out)
        assert len(built) == 1 and built[0].startswith("tavsn_server-"), built
        with zipfile.ZipFile(os.path.join(out, built[0])) as wheel:
            assert {"tavsn_server/__init__.py", "tavsn_server/libtavsn_server.so.1"} <= set(wheel.namelist())


if __name__ == "__main__":
    WHEEL, SDIST, TOOL = (os.path.abspath(sys.argv.pop(1)) for _ in range(3))
    if sys.prefix != sys.base_prefix:  # in the venv
        unittest.main()
    check_outside_the_venv()
    with tempfile.TemporaryDirectory() as scratch:
        venv = pathlib.Path(scratch) / "v"
        t.run("/usr/bin/python3", "-m", "venv", venv)
        t.run(venv / "bin/pip", "install", "--quiet", "--no-index", WHEEL)
        env = {k: v for k, v in os.environ.items() if k not in VARIABLES}
        sys.exit(subprocess.run([venv / "bin/python", os.path.abspath(__file__), WHEEL, SDIST, TOOL, *sys.argv[1:]],
                                env=env, cwd=scratch).returncode)
