#!/usr/bin/env python3
"""The Debian package of the server side: lintian finds no error and no
warning but those explained below; its fields; then, installed with dpkg
into a scratch root, the install test's checks from there (the tool, a C
program built with pkg-config, the Python module against the tool's JSON).
    python3 tests/package/test_deb.py dist/tavsn-server_1.1.0_amd64.deb"""
import argparse
import os
import pathlib
import re
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "install"))
import test_install  # noqa: E402
from test_install import run  # noqa: E402

DEB = None
VERSION = re.search(r"project\(tavsn VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
# One package holds what Debian would split into libtavsn-server1, -dev and
# python3-: the server installs one thing, the tool and its library.
KEPT_WARNINGS = {"package-name-doesnt-match-sonames", "non-dev-pkg-with-shlib-symlink",
                 "link-to-shared-library-in-wrong-package"}


class DebianPackage(test_install.InstalledPackage):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.scratch.cleanup)
        root = pathlib.Path(cls.scratch.name) / "root"
        for folder in ("var/lib/dpkg/info", "var/lib/dpkg/updates", "var/log"):
            (root / folder).mkdir(parents=True)
        (root / "var/lib/dpkg/status").touch()
        # The scratch root has no libc6 package; the host's libraries serve.
        run("dpkg", "--root", root, "--force-depends", "-i", DEB)
        multiarch = run("dpkg-architecture", "-qDEB_HOST_MULTIARCH").strip()
        test_install.ARGS = argparse.Namespace(version=VERSION, libdir="lib/" + multiarch)
        cls.prefix = root / "usr"
        cls.lib = cls.prefix / test_install.ARGS.libdir
        python = cls.prefix / "lib/python3/dist-packages"
        cls.env = dict(os.environ, PKG_CONFIG_PATH=str(cls.lib / "pkgconfig"), LD_LIBRARY_PATH=str(cls.lib),
                       PYTHONPATH=str(python))
        sys.path.insert(0, str(python))
        import tavsn_server
        test_install.ts = tavsn_server

    def test_package_contents_and_version(self):
        field = lambda name: run("dpkg-deb", "--field", DEB, name).strip()  # noqa: E731
        self.assertEqual(pathlib.Path(DEB).name, "tavsn-server_%s_%s.deb" % (VERSION, field("Architecture")))
        self.assertEqual(field("Version"), VERSION)
        self.assertEqual(run("dpkg", "--root", self.prefix.parent, "-s", "tavsn-server").split("\n")[1],
                         "Status: install ok installed")
        self.assertEqual(field("Section"), "utils")
        self.assertRegex(field("Maintainer"), r"^[^<>]+ <[^<>@]+@[^<>]+>$")
        self.assertRegex(field("Depends"), r"^libc6 \(>= [\d.]+\), libgcc-s1 \(>= [\d.]+\), libstdc\+\+6 \(>= [\d.]+\)$")
        self.assertIn("licence server", field("Description"))
        major = VERSION.split(".")[0]
        lib = self.lib / ("libtavsn_server.so." + VERSION)
        self.assertTrue(lib.is_file())
        for link in ("libtavsn_server.so", "libtavsn_server.so." + major):
            self.assertEqual(os.readlink(self.lib / link), "libtavsn_server.so." + major if link.endswith(".so")
                             else lib.name)
        self.assertRegex(run("objdump", "-p", lib), r"SONAME\s+libtavsn_server\.so\.%s\n" % major)
        for path in ("bin/tavsn", "include/tavsn_server.h", "lib/python3/dist-packages/tavsn_server.py",
                     "share/man/man1/tavsn.1.gz", "share/doc/tavsn-server/copyright", "share/doc/tavsn-server/changelog.gz",
                     test_install.ARGS.libdir + "/pkgconfig/tavsn_server.pc"):
            self.assertTrue((self.prefix / path).is_file(), path)
        self.assertEqual(run("pkg-config", "--modversion", "tavsn_server", env=self.env).strip(), VERSION)
        self.assertEqual(run(self.prefix / "bin/tavsn", "--version"), "tavsn %s\n" % VERSION)
        report = run("lintian", "--tag-display-limit", "0", DEB)
        tags = {(kind, tag) for kind, tag in re.findall(r"^([EW]): tavsn-server[^:]*: (\S+)", report, re.M)}
        self.assertEqual({tag for kind, tag in tags if kind == "E"}, set(), report)
        self.assertLessEqual({tag for kind, tag in tags if kind == "W"}, KEPT_WARNINGS, report)


if __name__ == "__main__":
    DEB = os.path.abspath(sys.argv.pop(1))
    unittest.main()
