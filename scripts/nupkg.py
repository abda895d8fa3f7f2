"""Writes the NuGet package Tavsn.<version>.nupkg for .NET hosts from the
release package's staging folder, as scripts/package.sh calls it:

    python3 scripts/nupkg.py STAGED_RELEASE_FOLDER VERSION OUT.nupkg EPOCH [COMMIT [REPOSITORY_URL]]

  Tavsn.nuspec                            the package's metadata
  contentFiles/cs/any/Tavsn/Tavsn.cs      the declarations, compiled into the host
  runtimes/win-x86/native/tavsn.dll       picked by .NET (Core) for the process
  runtimes/win-x64/native/tavsn.dll
  build/Tavsn.targets                     copies both to x86\\ and x64\\ beside a
                                          .NET Framework host, where Tavsn.cs looks
and the Open Packaging parts NuGet reads. Entries are in a fixed order and
dated to EPOCH, so the same sources give the same package."""
import hashlib
import os
import re
import sys
import time
import zipfile
from xml.sax.saxutils import escape

staged, version, out, epoch = sys.argv[1:5]
commit, url = (sys.argv[5:] + ["", ""])[:2]
url = re.sub(r"//[^/@]*@", "//", url)  # never a user name or token of the clone
ID = "Tavsn"
DESCRIPTION = ("Machine identifiers for licensing on Windows: tavsn.dll for 32-bit and 64-bit processes and "
               "its P/Invoke declarations (Tavsn.TavsnIdentifiers), compiled into the host.")
TAGS = "licensing machine-id fingerprint hardware-id native windows"
TARGETS = r"""<?xml version="1.0" encoding="utf-8"?>
<!-- .NET Framework hosts: both DLLs beside the program, in x86\ and x64\,
     where Tavsn.cs loads the one of the process's architecture from.
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

repository = "<repository type=\"git\"%s%s />" % (url and ' url="%s"' % escape(url), commit and ' commit="%s"' % commit)
nuspec = f"""<?xml version="1.0" encoding="utf-8"?>
<package xmlns="http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd">
  <metadata minClientVersion="3.3.0">
    <id>{ID}</id>
    <version>{version}</version>
    <authors>the tavsn developers</authors>
    <license type="expression">MIT</license>
    <requireLicenseAcceptance>false</requireLicenseAcceptance>
    <description>{escape(DESCRIPTION)}</description>
    <tags>{TAGS}</tags>
    {repository}
    <contentFiles>
      <files include="cs/any/Tavsn/Tavsn.cs" buildAction="Compile" />
    </contentFiles>
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
RELS = "http://schemas.openxmlformats.org/package/2006/relationships"
rels = f"""<?xml version="1.0" encoding="utf-8"?>
<Relationships xmlns="{RELS}">
  <Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" Target="/{ID}.nuspec" Id="R1" />
  <Relationship Type="{RELS}/metadata/core-properties" Target="/{core_path}" Id="R2" />
</Relationships>
"""
types = """<?xml version="1.0" encoding="utf-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
  <Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml" />
  <Default Extension="psmdcp" ContentType="application/vnd.openxmlformats-package.core-properties+xml" />
  <Default Extension="nuspec" ContentType="application/octet" />
  <Default Extension="cs" ContentType="application/octet" />
  <Default Extension="dll" ContentType="application/octet" />
  <Default Extension="targets" ContentType="application/octet" />
</Types>
"""


def read(path):
    with open(os.path.join(staged, path), "rb") as f:
        return f.read()


entries = [
    ("_rels/.rels", rels.encode()),
    (f"{ID}.nuspec", nuspec.encode()),
    ("build/Tavsn.targets", TARGETS.encode()),
    ("contentFiles/cs/any/Tavsn/Tavsn.cs", read("bindings/csharp/Tavsn.cs")),
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
