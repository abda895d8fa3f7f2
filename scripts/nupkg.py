"""Writes the NuGet package Tavsn.<version>.nupkg for .NET hosts from the
release package's staging folder, as scripts/package.sh calls it:

    python3 scripts/nupkg.py STAGED_RELEASE_FOLDER VERSION OUT.nupkg EPOCH COMMIT

  Tavsn.nuspec                              the package's metadata
  lib/net45/Tavsn.Interop.dll               the declarations, compiled (mcs):
  lib/netstandard2.0/Tavsn.Interop.dll      one assembly that every project
                                            of a host, in any .NET language,
                                            references as the same type
  runtimes/win-x86/native/tavsn.dll         picked by .NET (Core) for the process
  runtimes/win-x64/native/tavsn.dll
  build/Tavsn.targets                       copies both to x86\\ and x64\\ beside a
  buildTransitive/Tavsn.targets             .NET Framework host, where the
                                            assembly looks (build/ for
                                            packages.config projects,
                                            buildTransitive/ for projects that
                                            get the package through another)
  README.md, icon.png                       shown by the gallery
and the Open Packaging parts NuGet reads. Entries are in a fixed order and
dated to EPOCH, and the assembly carries no time or random identifier, so
the same sources give the same package. The links come from
scripts/release.conf; the release notes are the newest section of
CHANGELOG.md."""
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))
ID = "Tavsn"
ASSEMBLY = "Tavsn.Interop.dll"
LIB_FOLDERS = ("lib/net45", "lib/netstandard2.0")
DESCRIPTION = ("Machine identifiers for licensing on Windows: tavsn.dll for 32-bit and 64-bit processes and "
               "Tavsn.Interop.dll, its declarations (Tavsn.TavsnIdentifiers) compiled for any .NET language.")
TAGS = "licensing machine-id fingerprint hardware-id native windows"
TARGETS = r"""<?xml version="1.0" encoding="utf-8"?>
<!-- .NET Framework hosts: both DLLs beside the program, in x86\ and x64\,
     where Tavsn.Interop.dll loads the one of the process from.
     .NET (Core) takes them from runtimes\ itself. -->
<Project xmlns="http://schemas.microsoft.com/developer/msbuild/2003">
  <ItemGroup Condition="'$(TargetFrameworkIdentifier)' == '.NETFramework'">
    <None Include="$(MSBuildThisFileDirectory)..\runtimes\win-x86\native\tavsn.dll"
          Link="x86\tavsn.dll" CopyToOutputDirectory="PreserveNewest" Visible="false" />
    <None Include="$(MSBuildThisFileDirectory)..\runtimes\win-x64\native\tavsn.dll"
          Link="x64\tavsn.dll" CopyToOutputDirectory="PreserveNewest" Visible="false" />
  </ItemGroup>
</Project>
"""


def release_conf():
    with open(os.path.join(HERE, "release.conf")) as conf:
        return dict(line.strip().split("=", 1) for line in conf if "=" in line and not line.startswith("#"))


def newest_changes(changelog):
    """The newest section of CHANGELOG.md, without its heading."""
    sections = re.split(r"^## .*\n", changelog, flags=re.M)
    return sections[1].strip() if len(sections) > 1 else ""


def public_url(url):
    """A repository URL the world can reach: https only, never a folder of
    this machine or a URL with a user name or token in it."""
    if not re.fullmatch(r"https://[^/@\s]+/\S+", url):
        sys.exit(f"release.conf: repository {url!r} is not a public https URL")
    return url


def icon_png(size=128):
    """The package's icon: a white T on the project's blue, drawn here."""
    rows = []
    for y in range(size):
        row = bytearray([0])
        for x in range(size):
            bar = 24 <= y < 44 and 24 <= x < size - 24
            stem = 44 <= y < size - 24 and size // 2 - 10 <= x < size // 2 + 10
            row += bytes((255, 255, 255) if bar or stem else (31, 78, 140))
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) +
            chunk(b"IEND", b""))


def section_offset(image, rva):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(sections):
        size, address, _, raw = struct.unpack_from("<IIII", image, table + 40 * i + 8)
        if address <= rva < address + size:
            return rva - address + raw
    raise ValueError(f"RVA {rva:#x} is in no section")


def reproducible(image):
    """The assembly with its link time zeroed and its module version id
    (MVID, random per compile) taken from its own contents."""
    image = bytearray(image)
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    struct.pack_into("<I", image, pe + 8, 0)
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", image, optional)[0] == 0x10B else 112)
    cli = section_offset(image, struct.unpack_from("<I", image, directories + 14 * 8)[0])
    metadata = section_offset(image, struct.unpack_from("<I", image, cli + 8)[0])
    version_length = struct.unpack_from("<I", image, metadata + 12)[0]
    cursor = metadata + 16 + version_length + 2
    streams = struct.unpack_from("<H", image, cursor)[0]
    cursor += 2
    for _ in range(streams):
        offset, _size = struct.unpack_from("<II", image, cursor)
        name_end = image.index(b"\0", cursor + 8)
        name = image[cursor + 8:name_end].decode()
        cursor = (name_end + 4) & ~3
        if name == "#GUID":
            mvid = metadata + offset
            image[mvid:mvid + 16] = bytes(16)
            image[mvid:mvid + 16] = hashlib.sha256(image).digest()[:16]
            return bytes(image)
    raise ValueError("the assembly has no #GUID stream")


def compile_assembly(source, version):
    with tempfile.TemporaryDirectory() as work:
        info = os.path.join(work, "AssemblyInfo.cs")
        with open(info, "w") as f:
            f.write("using System.Reflection;\n"
                    f'[assembly: AssemblyVersion("{version}.0")]\n'
                    f'[assembly: AssemblyFileVersion("{version}.0")]\n'
                    f'[assembly: AssemblyInformationalVersion("{version}")]\n'
                    '[assembly: AssemblyProduct("tavsn")]\n'
                    '[assembly: AssemblyTitle("tavsn.dll declarations for .NET")]\n')
        out = os.path.join(work, ASSEMBLY)
        subprocess.run(["mcs", "-target:library", "-optimize+", "-warnaserror+", "-debug-",
                        f"-pathmap:{os.path.dirname(source)}=src,{work}=src", "-out:" + out, source, info],
                       check=True, capture_output=True)
        with open(out, "rb") as f:
            return reproducible(f.read())


def main():
    staged, version, out, epoch, commit = sys.argv[1:6]
    conf = release_conf()

    def read(path):
        with open(os.path.join(staged, path), "rb") as f:
            return f.read()

    notes = newest_changes(read("CHANGELOG.md").decode())
    copyright_line = re.search(r"^Copyright (?:\(c\) )?(.*)$", read("LICENSE").decode(), re.M).group(1)
    repository = '<repository type="git" url="%s"%s />' % (escape(public_url(conf["repository"])),
                                                            commit and ' commit="%s"' % commit)
    nuspec = f"""<?xml version="1.0" encoding="utf-8"?>
<package xmlns="http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd">
  <metadata minClientVersion="5.3.0">
    <id>{ID}</id>
    <version>{version}</version>
    <authors>the tavsn developers</authors>
    <license type="expression">MIT</license>
    <requireLicenseAcceptance>false</requireLicenseAcceptance>
    <projectUrl>{escape(conf["homepage"])}</projectUrl>
    <icon>icon.png</icon>
    <readme>README.md</readme>
    <description>{escape(DESCRIPTION)}</description>
    <releaseNotes>{escape(notes)}</releaseNotes>
    <copyright>Copyright (c) {escape(copyright_line)}</copyright>
    <tags>{TAGS}</tags>
    {repository}
  </metadata>
</package>
"""
    core_name = hashlib.sha256(nuspec.encode()).hexdigest()[:32]
    core = f"""<?xml version="1.0" encoding="utf-8"?>
<coreProperties xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:dcterms="http://purl.org/dc/terms/" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns="http://schemas.openxmlformats.org/package/2006/metadata/core-properties">
  <dc:creator>the tavsn developers</dc:creator>
  <dc:description>{escape(DESCRIPTION)}</dc:description>
  <dc:identifier>{ID}</dc:identifier>
  <version>{version}</version>
  <keywords>{TAGS}</keywords>
  <lastModifiedBy>scripts/nupkg.py</lastModifiedBy>
</coreProperties>
"""
    core_path = f"package/services/metadata/core-properties/{core_name}.psmdcp"
    rels_ns = "http://schemas.openxmlformats.org/package/2006/relationships"
    rels = f"""<?xml version="1.0" encoding="utf-8"?>
<Relationships xmlns="{rels_ns}">
  <Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" Target="/{ID}.nuspec" Id="R1" />
  <Relationship Type="{rels_ns}/metadata/core-properties" Target="/{core_path}" Id="R2" />
</Relationships>
"""
    types = "".join(f'  <Default Extension="{ext}" ContentType="{kind}" />\n' for ext, kind in (
        ("rels", "application/vnd.openxmlformats-package.relationships+xml"),
        ("psmdcp", "application/vnd.openxmlformats-package.core-properties+xml"),
        ("nuspec", "application/octet"), ("dll", "application/octet"), ("targets", "application/octet"),
        ("md", "application/octet"), ("png", "application/octet")))
    types = ('<?xml version="1.0" encoding="utf-8"?>\n'
             '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">\n' + types + "</Types>\n")
    assembly = compile_assembly(os.path.join(staged, "bindings/csharp/Tavsn.cs"), version)
    entries = [
        ("_rels/.rels", rels.encode()),
        (f"{ID}.nuspec", nuspec.encode()),
        ("README.md", read("bindings/csharp/README.md")),
        ("icon.png", icon_png()),
        ("build/Tavsn.targets", TARGETS.encode()),
        ("buildTransitive/Tavsn.targets", TARGETS.encode()),
        *((f"{folder}/{ASSEMBLY}", assembly) for folder in LIB_FOLDERS),
        ("runtimes/win-x86/native/tavsn.dll", read("x86/bin/tavsn.dll")),
        ("runtimes/win-x64/native/tavsn.dll", read("x64/bin/tavsn.dll")),
        (core_path, core.encode()),
        ("[Content_Types].xml", types.encode()),
    ]
    stamp = time.gmtime(int(epoch))[:6]
    with zipfile.ZipFile(out, "w") as package:
        for name, data in entries:
            entry = zipfile.ZipInfo(name, stamp)
            entry.external_attr = 0o644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            package.writestr(entry, data)


if __name__ == "__main__":
    main()
