#!/usr/bin/env python3
"""The Debian packages made from the source package: lintian --pedantic over
the source and binary packages, their fields, then, installed with apt into
an overlay of this system (a scratch root in a private mount namespace, so
the system itself is untouched), the install test's checks from there (the
tool, C programs built with pkg-config and with find_package, the Python
module against the tool's JSON); at the end purged, leaving nothing.
    python3 tests/package/test_deb.py dist/tavsn_1.3.0-1.dsc"""
import glob, os, pathlib, re, shutil, subprocess, sys, tempfile, types, unittest  # noqa: E401
ROOT = pathlib.Path(__file__).resolve().parents[2]
VERSION = re.search(r"project\(tavsn VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
SO = "libtavsn_server.so."
PACKAGES = ("libtavsn-server1", "libtavsn-server-dev", "tavsn-server", "python3-tavsn-server")
sys.path.insert(0, str(ROOT / "tests/install"))
import test_install as t  # noqa: E402
# The one tag lintian --pedantic still gives, explained in docs/building.md:
# these packages are not uploaded to Debian, so no ITP bug is closed.
KEPT = {"initial-upload-closes-no-bugs"}


def in_root(*command):
    done = subprocess.run(["chroot", MERGED, *command], capture_output=True, text=True)
    assert done.returncode == 0, (command, done.stdout[-2000:], done.stderr[-2000:])
    return done.stdout


def tavsn_files(top):
    return {str(p.relative_to(top)) for d in ("usr", "etc", "var/lib/dpkg/info")
            for p in (top / d).rglob("*tavsn*")} if top.is_dir() else set()


class DebianPackages(t.InstalledPackage):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(dir="/var/tmp")
        cls.addClassCleanup(cls.scratch.cleanup)
        top = pathlib.Path(cls.scratch.name)
        for folder in ("upper", "work", "merged"):
            (top / folder).mkdir()
        t.run("mount", "-t", "overlay", "overlay", "-o",
              f"lowerdir=/,upperdir={top}/upper,workdir={top}/work", MERGED)
        for system in ("proc", "dev", "sys"):
            t.run("mount", "--rbind", "/" + system, MERGED / system)
        debs = MERGED / "tmp/tavsn-debs"
        debs.mkdir(parents=True, exist_ok=True)
        for deb in DEBS:
            shutil.copy(deb, debs)
        in_root("apt-get", "install", "--yes",
                *("/tmp/tavsn-debs/" + os.path.basename(deb) for deb in DEBS))
        multiarch = t.run("dpkg-architecture", "-qDEB_HOST_MULTIARCH").strip()
        t.ARGS = types.SimpleNamespace(version=VERSION, libdir="lib/" + multiarch)
        cls.prefix, python = MERGED / "usr", str(MERGED / "usr/lib/python3/dist-packages")
        cls.lib = cls.prefix / t.ARGS.libdir
        cls.env = dict(os.environ, PKG_CONFIG_PATH=str(cls.lib / "pkgconfig"), LD_LIBRARY_PATH=str(cls.lib),
                       PYTHONPATH=python)
        sys.path.insert(0, python)
        import tavsn_server
        t.ts = tavsn_server

    @classmethod
    def tearDownClass(cls):
        """apt purge leaves no file behind, compiled Python included."""
        try:
            in_root("apt-get", "purge", "--yes", *PACKAGES)
            left = tavsn_files(MERGED) - tavsn_files(pathlib.Path("/"))
        finally:
            # Lazily: this process still maps the library it loaded from there.
            t.run("umount", "--recursive", "--lazy", MERGED)
        assert not left, "left after purge: %s" % sorted(left)

    def test_package_contents_and_version(self):
        fields = {}
        for deb in DEBS:
            control = t.run("dpkg-deb", "--field", deb)
            fields[re.search(r"^Package: (\S+)", control, re.M).group(1)] = dict(re.findall(r"^(\S+): (.*)$", control, re.M))
        self.assertEqual(sorted(fields), sorted(PACKAGES))
        for name, f in fields.items():
            self.assertEqual(f["Version"], VERSION + "-1", name)
            self.assertRegex(f["Maintainer"], r"^[^<>]+ <[^<>@]+@[^<>]+\.[a-z]+>$")
            self.assertNotRegex(f["Maintainer"], r"\.(invalid|example|test)>$")
        self.assertEqual([fields[p].get("Multi-Arch") for p in PACKAGES[:2]], ["same", "same"])
        self.assertEqual(fields["python3-tavsn-server"]["Architecture"], "all")
        self.assertIn("libtavsn-server1 (>= %s-1)" % VERSION, fields["python3-tavsn-server"]["Depends"])
        library = [deb for deb in DEBS if os.path.basename(deb).startswith("libtavsn-server1_")][0]
        symbols = t.run("dpkg-deb", "--info", library, "symbols")
        exported = t.run("nm", "-D", "--defined-only", "--format=just-symbols", self.lib / (SO + VERSION)).split()
        self.assertEqual(sorted(re.findall(r"^ (\w+)@Base ", symbols, re.M)), sorted(exported))
        for package in PACKAGES:
            self.assertIn("Status: install ok installed", in_root("dpkg", "-s", package))
        major = VERSION.split(".")[0]
        self.assertEqual([os.readlink(self.lib / n) for n in (SO[:-1], SO + major)], [SO + major, SO + VERSION])
        self.assertRegex(t.run("objdump", "-p", self.lib / (SO + VERSION)), r"SONAME\s+%s\n" % re.escape(SO + major))
        for path in ("bin/tavsn", "include/tavsn_server.h", "lib/python3/dist-packages/tavsn_server.py",
                     t.ARGS.libdir + "/pkgconfig/tavsn_server.pc", t.ARGS.libdir + "/cmake/tavsn_server/tavsn_serverConfig.cmake",
                     "share/man/man1/tavsn.1.gz", "share/doc/tavsn-server/copyright", "share/doc/tavsn-server/changelog.gz"):
            self.assertTrue((self.prefix / path).is_file(), path)
        pyc = glob.glob(str(self.prefix / "lib/python3/dist-packages/__pycache__/tavsn_server.*.pyc"))
        self.assertTrue(pyc, "py3compile ran")
        self.assertEqual(in_root("tavsn", "--version"), "tavsn %s\n" % VERSION)
        self.assertEqual(in_root("/usr/bin/python3", "-c", "import tavsn_server; print(tavsn_server.__version__)"), VERSION + "\n")
        page = t.run("man", "-l", self.prefix / "share/man/man1/tavsn.1.gz", env=dict(os.environ, MANWIDTH="200"))
        page = re.sub(r".\x08", "", page)  # bold and underline as overstrikes
        for item in ["decode", "verify", "compare", "--json", "--mac MAC", "--must-keep COMPONENT,...", "--version",
                     *map(str, range(8))]:
            self.assertRegex(page, r"\n {7}%s( +\S.*)?\n" % re.escape(item), item)
        report = t.run("lintian", "--pedantic", "--info", "--tag-display-limit", "0", DSC, *DEBS)
        self.assertLessEqual(set(re.findall(r"^[EWIPX]: [^:]+: (\S+)", report, re.M)), KEPT, report)


if __name__ == "__main__":
    DSC = os.path.abspath(sys.argv.pop(1))
    DEBS = sorted(d for d in glob.glob(os.path.join(os.path.dirname(DSC), "*_%s-1_*.deb" % VERSION)) if "-dbgsym_" not in d)
    if os.environ.get("TAVSN_DEB_TEST_NAMESPACE") != "1":  # the overlay's mounts end with this namespace
        os.environ["TAVSN_DEB_TEST_NAMESPACE"] = "1"
        os.execvp("unshare", ["unshare", "--mount", "--propagation", "private", sys.executable, *sys.argv[:1], DSC,
                              *sys.argv[1:]])
    MERGED = pathlib.Path(tempfile.mkdtemp(dir="/var/tmp", prefix="tavsn-root-"))
    try:
        unittest.main()
    finally:
        if not os.path.ismount(MERGED):
            os.rmdir(MERGED)
