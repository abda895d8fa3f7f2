#!/usr/bin/env python3
"""The NuGet package read back: its layout and parts, the nuspec, the targets
that copy both DLLs to x86\\ and x64\\, the package's own Tavsn.cs built with
mcs, and the DLLs byte for byte the release zip's.
    python3 tests/package/test_nupkg.py dist/Tavsn.1.2.0.nupkg dist/tavsn-1.2.0.zip"""
import os, pathlib, re, subprocess, sys, tempfile, unittest, zipfile  # noqa: E401
import xml.etree.ElementTree as ET
ROOT = pathlib.Path(__file__).resolve().parents[2]
VERSION = re.search(r"project\(tavsn VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
DLLS = {"x86": "runtimes/win-x86/native/tavsn.dll", "x64": "runtimes/win-x64/native/tavsn.dll"}
CS = "contentFiles/cs/any/Tavsn/Tavsn.cs"


class NuGetPackage(unittest.TestCase):
    def test_package(self):
        with zipfile.ZipFile(NUPKG) as package:
            files = {name: package.read(name) for name in package.namelist()}
        xml = lambda name: {e.tag.split("}")[1]: e for e in ET.fromstring(files[name]).iter()}  # noqa: E731
        self.assertEqual(os.path.basename(NUPKG), "Tavsn.%s.nupkg" % VERSION)
        core = [name for name in files if name.startswith("package/services/metadata/core-properties/")]
        self.assertEqual(sorted(files), sorted(["[Content_Types].xml", "_rels/.rels", "Tavsn.nuspec", "build/Tavsn.targets",
                                                CS, *DLLS.values(), *core]))
        self.assertEqual({r.get("Target") for r in ET.fromstring(files["_rels/.rels"])}, {"/Tavsn.nuspec", "/" + core[0]})
        self.assertEqual({t.get("Extension") for t in ET.fromstring(files["[Content_Types].xml"])},
                         {name.rsplit(".", 1)[1] for name in files if name[0] not in "[_"} | {"rels"})
        self.assertEqual(xml(core[0])["version"].text, VERSION)
        spec = xml("Tavsn.nuspec")
        self.assertEqual([spec[k].text for k in ("id", "version", "authors", "license")],
                         ["Tavsn", VERSION, "the tavsn developers", "MIT"])
        self.assertEqual(spec["license"].get("type"), "expression")
        self.assertTrue(ROOT.joinpath("LICENSE").read_text().startswith("MIT License"))
        self.assertIn("tavsn.dll", spec["description"].text)
        self.assertIn("licensing", spec["tags"].text.split())
        self.assertEqual(spec["repository"].get("type"), "git")
        self.assertEqual((spec["files"].get("include"), spec["files"].get("buildAction")), (CS[13:], "Compile"))
        group = ET.fromstring(files["build/Tavsn.targets"])[0]
        self.assertEqual(group.get("Condition"), "'$(TargetFrameworkIdentifier)' == '.NETFramework'")
        self.assertEqual({i.get("Link"): i.get("Include") for i in group},
                         {a + "\\tavsn.dll": "$(MSBuildThisFileDirectory)..\\" + p.replace("/", "\\") for a, p in DLLS.items()})
        self.assertIn(b'Is64BitProcess ? "x64" : "x86"', files[CS])  # where the declarations load from
        self.assertEqual(files[CS], (ROOT / "bindings/csharp/Tavsn.cs").read_bytes())
        with tempfile.TemporaryDirectory() as work:
            pathlib.Path(work, "Tavsn.cs").write_bytes(files[CS])
            subprocess.run(["mcs", "-target:library", "-warnaserror+", "Tavsn.cs"], cwd=work, check=True, capture_output=True)
        with zipfile.ZipFile(ZIP) as release:
            top = release.namelist()[0].split("/", 1)[0]
            for arch, path in DLLS.items():
                self.assertEqual(files[path], release.read("%s/%s/bin/tavsn.dll" % (top, arch)), arch)


if __name__ == "__main__":
    NUPKG, ZIP = (os.path.abspath(sys.argv.pop(1)) for _ in range(2))
    unittest.main()
