#!/usr/bin/env python3
"""The NuGet package read back: its layout and parts, the nuspec's metadata,
what each kind of project gets from it, the targets that copy both DLLs to
x86\\ and x64\\, the DLLs byte for byte the release zip's; then two libraries
and an application that uses both, built with mcs against the package's
compiled assembly, run under Mono against a Linux stand-in of the DLL.
    python3 tests/package/test_nupkg.py dist/Tavsn.1.3.0.nupkg dist/tavsn-1.3.0.zip"""
import os, pathlib, re, subprocess, sys, tempfile, unittest, zipfile  # noqa: E401
import xml.etree.ElementTree as ET
ROOT = pathlib.Path(__file__).resolve().parents[2]
VERSION = re.search(r"project\(tavsn VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
DLLS = {"x86": "runtimes/win-x86/native/tavsn.dll", "x64": "runtimes/win-x64/native/tavsn.dll"}
ASSEMBLIES = ("lib/net45/Tavsn.Interop.dll", "lib/netstandard2.0/Tavsn.Interop.dll")
# What NuGet gives each kind of project, in any .NET language.
GIVES = {
    "PackageReference, .NET Framework": ["lib/net45/Tavsn.Interop.dll", "buildTransitive/Tavsn.targets"],
    "PackageReference, .NET (Core)": ["lib/netstandard2.0/Tavsn.Interop.dll", *DLLS.values()],
    "packages.config": ["lib/net45/Tavsn.Interop.dll", "build/Tavsn.targets"],
}
LIBRARY_A = """public static class LibraryA {
    public static string MacId() { return Tavsn.TavsnIdentifiers.GetMacSN(); }
}"""
LIBRARY_B = """public static class LibraryB {
    public static Tavsn.IdentifierResult Source() { Tavsn.IdentifierResult s; Tavsn.TavsnIdentifiers.GetPCSN(out s); return s; }
}"""
APPLICATION = """using System.Runtime.InteropServices;
static class Application {
    [DllImport("tavsn.dll")] static extern void fake_set_result(int result);
    static void Main() {
        fake_set_result(32);
        string mac = LibraryA.MacId();
        fake_set_result(2);
        Tavsn.IdentifierResult source = LibraryB.Source();
        System.Console.WriteLine(mac + " " + (source == Tavsn.IdentifierResult.MacFromUuid) + " " +
                                 typeof(Tavsn.TavsnIdentifiers).Assembly.GetName().Version);
    }
}"""


def run(*command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, (command, done.stdout, done.stderr)
    return done.stdout


class NuGetPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with zipfile.ZipFile(NUPKG) as package:
            cls.files = {name: package.read(name) for name in package.namelist()}
        cls.spec = {e.tag.split("}")[1]: e for e in ET.fromstring(cls.files["Tavsn.nuspec"]).iter()}

    def test_layout_and_parts(self):
        files = self.files
        self.assertEqual(os.path.basename(NUPKG), "Tavsn.%s.nupkg" % VERSION)
        core = [name for name in files if name.startswith("package/services/metadata/core-properties/")]
        self.assertEqual(sorted(files), sorted(["[Content_Types].xml", "_rels/.rels", "Tavsn.nuspec", "README.md",
                                                "icon.png", "build/Tavsn.targets", "buildTransitive/Tavsn.targets",
                                                *ASSEMBLIES, *DLLS.values(), *core]))
        self.assertEqual({r.get("Target") for r in ET.fromstring(files["_rels/.rels"])}, {"/Tavsn.nuspec", "/" + core[0]})
        self.assertEqual({t.get("Extension") for t in ET.fromstring(files["[Content_Types].xml"])},
                         {name.rsplit(".", 1)[1] for name in files if name[0] not in "[_"} | {"rels"})
        for kind, paths in GIVES.items():
            self.assertLessEqual(set(paths), set(files), kind)
        self.assertFalse([n for n in files if n.startswith("contentFiles/")], "no source compiled into each project")
        self.assertEqual(files[ASSEMBLIES[0]], files[ASSEMBLIES[1]])
        self.assertEqual(files["build/Tavsn.targets"], files["buildTransitive/Tavsn.targets"])
        group = ET.fromstring(files["build/Tavsn.targets"])[0]
        self.assertEqual(group.get("Condition"), "'$(TargetFrameworkIdentifier)' == '.NETFramework'")
        self.assertEqual({i.get("Link"): i.get("Include") for i in group},
                         {a + "\\tavsn.dll": "$(MSBuildThisFileDirectory)..\\" + p.replace("/", "\\") for a, p in DLLS.items()})
        with zipfile.ZipFile(ZIP) as release:
            top = release.namelist()[0].split("/", 1)[0]
            for arch, path in DLLS.items():
                self.assertEqual(files[path], release.read("%s/%s/bin/tavsn.dll" % (top, arch)), arch)

    def test_metadata(self):
        spec = self.spec
        self.assertEqual([spec[k].text for k in ("id", "version", "authors", "license", "icon", "readme")],
                         ["Tavsn", VERSION, "the tavsn developers", "MIT", "icon.png", "README.md"])
        self.assertEqual(spec["license"].get("type"), "expression")
        self.assertTrue(self.files["icon.png"].startswith(b"\x89PNG\r\n\x1a\n"))
        self.assertRegex(spec["projectUrl"].text, r"^https://")
        self.assertRegex(spec["repository"].get("url"), r"^https://[^@/]+/")
        self.assertEqual(spec["repository"].get("type"), "git")
        self.assertRegex(spec["copyright"].text, r"^Copyright \(c\) \d{4} ")
        newest = re.split(r"^## .*\n", (ROOT / "CHANGELOG.md").read_text(), flags=re.M)[1].strip()
        self.assertEqual(spec["releaseNotes"].text, newest)
        self.assertIn("Tavsn.Interop.dll", spec["description"].text)

    def test_two_libraries_and_their_application_share_the_assembly(self):
        with tempfile.TemporaryDirectory() as work:
            pathlib.Path(work, "Tavsn.Interop.dll").write_bytes(self.files[ASSEMBLIES[0]])
            for name, source in (("LibraryA", LIBRARY_A), ("LibraryB", LIBRARY_B), ("Application", APPLICATION)):
                pathlib.Path(work, name + ".cs").write_text(source)
            for library in ("LibraryA", "LibraryB"):
                run("mcs", "-target:library", "-warnaserror+", "-r:Tavsn.Interop.dll", library + ".cs", cwd=work)
            run("mcs", "-warnaserror+", "-r:Tavsn.Interop.dll", "-r:LibraryA.dll", "-r:LibraryB.dll",
                "Application.cs", cwd=work)
            run("cc", "-shared", "-fPIC", "-o", "libtavsn_fake.so", str(ROOT / "tests/bindings/fake_tavsn.c"), cwd=work)
            for assembly in ("Application.exe", "Tavsn.Interop.dll"):  # Mono's way to "tavsn.dll" on Linux
                pathlib.Path(work, assembly + ".config").write_text(
                    '<configuration><dllmap dll="tavsn.dll" target="%s/libtavsn_fake.so"/></configuration>\n' % work)
            self.assertEqual(run("mono", "Application.exe", cwd=work),
                             "TQ1101020011263744550B3B2B5B4B7B True %s.0\n" % VERSION)


if __name__ == "__main__":
    NUPKG, ZIP = (os.path.abspath(sys.argv.pop(1)) for _ in range(2))
    unittest.main()
