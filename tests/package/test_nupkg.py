#!/usr/bin/env python3
"""The NuGet package for .NET hosts as NuGet reads it: its layout and Open
Packaging parts, the nuspec's fields, the targets file that copies both DLLs
to x86\\ and x64\\, the declarations built with mcs from the package's own
copy, and the two DLLs byte for byte those of the release zip.
    python3 tests/package/test_nupkg.py dist/Tavsn.1.1.0.nupkg dist/tavsn-1.1.0.zip"""
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
VERSION = re.search(r"project\(tavsn VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
NUSPEC = "{http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd}"
MSBUILD = "{http://schemas.microsoft.com/developer/msbuild/2003}"
DLLS = {"x86": "runtimes/win-x86/native/tavsn.dll", "x64": "runtimes/win-x64/native/tavsn.dll"}


class NuGetPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with zipfile.ZipFile(NUPKG) as package:
            cls.files = {name: package.read(name) for name in package.namelist()}

    def test_layout_and_parts(self):
        self.assertEqual(os.path.basename(NUPKG), "Tavsn.%s.nupkg" % VERSION)
        core = [name for name in self.files if name.startswith("package/services/metadata/core-properties/")]
        self.assertEqual(len(core), 1)
        self.assertEqual(sorted(self.files), sorted(["[Content_Types].xml", "_rels/.rels", "Tavsn.nuspec",
                                                     "build/Tavsn.targets", "contentFiles/cs/any/Tavsn/Tavsn.cs",
                                                     *DLLS.values(), *core]))
        targets = {r.get("Target") for r in ET.fromstring(self.files["_rels/.rels"])}
        self.assertEqual(targets, {"/Tavsn.nuspec", "/" + core[0]})
        types = {t.get("Extension") for t in ET.fromstring(self.files["[Content_Types].xml"])}
        parts = set(self.files) - {"[Content_Types].xml", "_rels/.rels"}
        self.assertEqual(types, {name.rsplit(".", 1)[1] for name in parts} | {"rels"})
        self.assertEqual(ET.fromstring(self.files[core[0]]).find("{*}version").text, VERSION)

    def test_nuspec(self):
        metadata = ET.fromstring(self.files["Tavsn.nuspec"]).find(NUSPEC + "metadata")
        text = {child.tag[len(NUSPEC):]: (child.text or "").strip() for child in metadata}
        self.assertEqual((text["id"], text["version"], text["authors"]), ("Tavsn", VERSION, "the tavsn developers"))
        license = metadata.find(NUSPEC + "license")
        self.assertEqual((license.get("type"), license.text), ("expression", "MIT"))
        self.assertIn("MIT License", (ROOT / "LICENSE").read_text())
        self.assertIn("tavsn.dll", text["description"])
        self.assertIn("licensing", text["tags"].split())
        self.assertEqual(metadata.find(NUSPEC + "repository").get("type"), "git")
        files = metadata.find(NUSPEC + "contentFiles").find(NUSPEC + "files")
        self.assertEqual((files.get("include"), files.get("buildAction")), ("cs/any/Tavsn/Tavsn.cs", "Compile"))

    def test_targets_copy_both_dlls_for_net_framework(self):
        groups = ET.fromstring(self.files["build/Tavsn.targets"]).findall(MSBUILD + "ItemGroup")
        self.assertEqual([g.get("Condition") for g in groups], ["'$(TargetFrameworkIdentifier)' == '.NETFramework'"])
        items = {i.get("Link"): i.get("Include") for i in groups[0]}
        self.assertEqual(items, {arch + "\\tavsn.dll": "$(MSBuildThisFileDirectory)..\\" + path.replace("/", "\\")
                                 for arch, path in DLLS.items()})
        # The folders the declarations load from.
        self.assertIn('Is64BitProcess ? "x64" : "x86"', self.files["contentFiles/cs/any/Tavsn/Tavsn.cs"].decode())

    def test_declarations_build_from_the_package(self):
        with tempfile.TemporaryDirectory() as work:
            source = pathlib.Path(work) / "Tavsn.cs"
            source.write_bytes(self.files["contentFiles/cs/any/Tavsn/Tavsn.cs"])
            subprocess.run(["mcs", "-target:library", "-warnaserror+", "-out:Tavsn.dll", source], cwd=work,
                           check=True, capture_output=True)
        self.assertEqual(self.files["contentFiles/cs/any/Tavsn/Tavsn.cs"], (ROOT / "bindings/csharp/Tavsn.cs").read_bytes())

    def test_dlls_are_the_release_zips(self):
        with zipfile.ZipFile(ZIP) as release:
            top = release.namelist()[0].split("/", 1)[0]
            for arch, path in DLLS.items():
                self.assertEqual(self.files[path], release.read("%s/%s/bin/tavsn.dll" % (top, arch)), arch)
        machine = lambda dll: int.from_bytes(dll[int.from_bytes(dll[60:64], "little") + 4:][:2], "little")  # noqa
        self.assertEqual([machine(self.files[p]) for p in DLLS.values()], [0x14C, 0x8664])


if __name__ == "__main__":
    NUPKG, ZIP = (os.path.abspath(sys.argv.pop(1)) for _ in range(2))
    unittest.main()
