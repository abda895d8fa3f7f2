#!/usr/bin/env python3
"""The Debian package: lintian, its fields, then, installed with dpkg into a
scratch root, the install test's checks from there (the tool, a C program
built with pkg-config, the Python module against the tool's JSON).
    python3 tests/package/test_deb.py dist/tavsn-server_1.2.0_amd64.deb"""
import os, pathlib, re, sys, tempfile, types, unittest  # noqa: E401
ROOT = pathlib.Path(__file__).resolve().parents[2]
VERSION = re.search(r"project\(tavsn VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
SO = "libtavsn_server.so."
sys.path.insert(0, str(ROOT / "tests/install"))
import test_install as t  # noqa: E402
# One package holds what Debian splits into libtavsn-server1, -dev and python3-.
KEPT = {("W", "package-name-doesnt-match-sonames"), ("W", "link-to-shared-library-in-wrong-package")}


class DebianPackage(t.InstalledPackage):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.scratch.cleanup)
        root = pathlib.Path(cls.scratch.name)
        for folder in ("var/lib/dpkg/info", "var/lib/dpkg/updates", "var/log"):
            (root / folder).mkdir(parents=True)
        (root / "var/lib/dpkg/status").touch()
        # The scratch root has no libc6 package: the host's libraries serve.
        t.run("dpkg", "--root", root, "--force-depends", "--force-not-root", "-i", DEB)
        t.ARGS = types.SimpleNamespace(version=VERSION, libdir="lib/" + t.run("dpkg-architecture", "-qDEB_HOST_MULTIARCH").strip())
        cls.prefix, python = root / "usr", str(root / "usr/lib/python3/dist-packages")
        cls.lib = cls.prefix / t.ARGS.libdir
        cls.env = dict(os.environ, PKG_CONFIG_PATH=str(cls.lib / "pkgconfig"), LD_LIBRARY_PATH=str(cls.lib), PYTHONPATH=python)
        sys.path.insert(0, python)
        import tavsn_server
        t.ts = tavsn_server

    def test_package_contents_and_version(self):
        control = t.run("dpkg-deb", "--field", DEB)
        fields = dict(re.findall(r"^(\S+): (.*)$", control, re.M))
        self.assertEqual(os.path.basename(DEB), "tavsn-server_%s_%s.deb" % (VERSION, fields["Architecture"]))
        self.assertEqual((fields["Version"], fields["Section"]), (VERSION, "utils"))
        self.assertRegex(fields["Maintainer"], r"^[^<>]+ <[^<>@]+@[^<>]+>$")
        self.assertRegex(fields["Depends"], r"^libc6 \(>= [\d.]+\), libgcc-s1 \(>= [\d.]+\), libstdc\+\+6 \(>= [\d.]+\)$")
        self.assertIn("A licence server's side of tavsn", control)
        self.assertIn("Status: install ok installed", t.run("dpkg", "--root", self.prefix.parent, "-s", "tavsn-server"))
        major = VERSION.split(".")[0]
        self.assertEqual([os.readlink(self.lib / n) for n in (SO[:-1], SO + major)], [SO + major, SO + VERSION])
        self.assertRegex(t.run("objdump", "-p", self.lib / (SO + VERSION)), r"SONAME\s+%s\n" % re.escape(SO + major))
        for path in ("bin/tavsn", "include/tavsn_server.h", "lib/python3/dist-packages/tavsn_server.py",
                     t.ARGS.libdir + "/pkgconfig/tavsn_server.pc", "share/man/man1/tavsn.1.gz",
                     "share/doc/tavsn-server/copyright", "share/doc/tavsn-server/changelog.gz"):
            self.assertTrue((self.prefix / path).is_file(), path)
        self.assertEqual(t.run(self.prefix / "bin/tavsn", "--version"), "tavsn %s\n" % VERSION)
        report = t.run("lintian", "--tag-display-limit", "0", DEB)
        self.assertLessEqual(set(re.findall(r"^([EW]): tavsn-server[^:]*: (\S+)", report, re.M)), KEPT, report)


if __name__ == "__main__":
    DEB = os.path.abspath(sys.argv.pop(1))
    unittest.main()
