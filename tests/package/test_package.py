"""The release package as a user unpacks it: every file in its place, a
version resource in every binary, export tables equal to the packaged
module-definition files, only system DLLs imported, and a host project that
finds the package with find_package(tavsn), builds with MinGW for both
architectures and gets, under Wine, the identifiers the packaged tool
reports. Where both architectures run, their identifiers are compared byte
for byte."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
import winebed  # noqa: E402
from library_bed import with_adapters  # noqa: E402
from test_dll_imports import (NOT_KNOWN_DLLS, REQUIRED_CHARACTERISTICS, SYSTEM_DLLS,  # noqa: E402
                              def_file_exports, dll_characteristics, exported_names, imported_dlls,
                              imported_functions, objdump)

winebed.in_private_network_namespace()
bed = winebed.TestBed(lambda parser: (parser.add_argument("--package", required=True, help="the release zip"),
                                      parser.add_argument("--signed-by", help="the certificate that signed it")))

ARCHITECTURES = {"x86": {"machine": 0x14C, "toolchain": "mingw-i686.cmake", "bits": 32},
                 "x64": {"machine": 0x8664, "toolchain": "mingw-x86_64.cmake", "bits": 64}}
BINARIES = ["bin/tavsn.dll", "bin/tavsn.exe"]
MAC = "0A1B2C3D4E5F"

unpacked = tempfile.mkdtemp(prefix="tavsn-package-")
with zipfile.ZipFile(bed.args.package) as package:
    package.extractall(unpacked)
    names = package.namelist()
top = names[0].split("/", 1)[0]
version = top[len("tavsn-"):]
root = os.path.join(unpacked, top)
consumers = {}


def repository_bindings_and_docs():
    return subprocess.run(["git", "-C", ROOT, "ls-files", "bindings", "docs"], check=True, capture_output=True,
                          text=True).stdout.split()


@bed.case
def holds_every_file(prefix):
    expected = {"README.md", "CHANGELOG.md", "LICENSE", "include/tavsn.h", "lib/cmake/tavsn/tavsnConfig.cmake",
                "lib/cmake/tavsn/tavsnConfigVersion.cmake"}
    for arch in ARCHITECTURES:
        expected |= {"%s/%s" % (arch, name) for name in
                     BINARIES + ["lib/libtavsn.dll.a", "lib/tavsn.lib", "lib/tavsn.def"]}
    expected |= set(repository_bindings_and_docs())
    files = {name.split("/", 1)[1] for name in names if not name.endswith("/")}
    bed.expect(re.fullmatch(r"\d+\.\d+\.\d+", version) is not None, "versioned name %r" % top)
    bed.expect_equal(sorted(files), sorted(expected), "package files")
    # An "## Unreleased" section may stand above the newest release's.
    with open(os.path.join(root, "CHANGELOG.md")) as changes:
        newest = re.search(r"^## (?!Unreleased$)(\S+)", changes.read(), re.M)
    bed.expect(newest is not None and newest.group(1) == version,
               "the newest versioned entry of CHANGELOG.md is this release, %s" % version)


def version_resource(path):
    """{key: text} of the StringFileInfo and the fixed file version as
    (major, minor, patch, build), read from the VS_VERSIONINFO tree."""
    with open(path, "rb") as f:
        data = f.read()
    start = data.find("VS_VERSION_INFO".encode("utf-16-le")) - 6
    bed.expect(start >= 0, "%s has a version resource" % path)
    strings = {}

    def node(offset, depth):
        length, value_length, is_text = (int.from_bytes(data[offset + i:offset + i + 2], "little")
                                         for i in (0, 2, 4))
        key_end = offset + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6:key_end].decode("utf-16-le")
        value = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if is_text else value_length
        if depth == 3:  # a string of a StringTable
            strings[key] = data[value:value + value_bytes].decode("utf-16-le").rstrip("\0")
        child = (value + value_bytes + 3) & ~3
        while child < offset + length:
            child_length = int.from_bytes(data[child:child + 2], "little")
            bed.expect(child_length > 0, "%s: a child of %r has a length" % (path, key))
            node(child, depth + 1)
            child = (child + child_length + 3) & ~3
        return value

    fixed = node(start, 0)
    bed.expect_equal(data[fixed:fixed + 4], b"\xbd\x04\xef\xfe", "VS_FIXEDFILEINFO signature")
    ms, ls = (int.from_bytes(data[fixed + i:fixed + i + 4], "little") for i in (8, 12))
    return strings, (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


@bed.case
def every_binary_carries_the_version_and_no_link_time(prefix):
    numbers = tuple(int(part) for part in version.split(".")) + (0,)
    for arch, facts in ARCHITECTURES.items():
        for binary in BINARIES:
            path = os.path.join(root, arch, binary)
            strings, fixed = version_resource(path)
            what = "%s/%s" % (arch, binary)
            bed.expect_equal(fixed, numbers, what + " fixed file version")
            bed.expect_equal({key: strings.get(key) for key in
                              ("ProductName", "ProductVersion", "FileVersion", "OriginalFilename")},
                             {"ProductName": "tavsn", "ProductVersion": version,
                              "FileVersion": version, "OriginalFilename": os.path.basename(binary)},
                             what + " version strings")
            bed.expect(strings.get("FileDescription", "").endswith("(%d-bit)" % facts["bits"]),
                       "%s description %r" % (what, strings.get("FileDescription")))
            # A stamped time would make every build of the same sources differ.
            bed.expect_equal(winebed.pe_link_time(path), 0, what + " link time stamp")


@bed.case
def dlls_export_their_definition_files_and_import_only_system_dlls(prefix):
    for arch, facts in ARCHITECTURES.items():
        dll = os.path.join(root, arch, "bin", "tavsn.dll")
        bed.expect_equal(winebed.pe_machine(dll), facts["machine"], arch + " DLL machine")
        dump = objdump(dll)
        expected = sorted(def_file_exports(os.path.join(root, arch, "lib", "tavsn.def")))
        bed.expect(len(expected) == 6, "%s tavsn.def lists six exports: %r" % (arch, expected))
        bed.expect_equal(sorted(exported_names(dump)), expected, arch + " exports")
        foreign = [name for name in imported_dlls(dump) if name.lower() not in SYSTEM_DLLS]
        bed.expect_equal(foreign, [], arch + " imports of other than system DLLs")
        plantable = [name for name in imported_dlls(dump) if name.lower() in NOT_KNOWN_DLLS]
        bed.expect_equal(plantable, [], arch + " imports of system DLLs that are no KnownDLLs")
        required = REQUIRED_CHARACTERISTICS[facts["machine"]]
        bed.expect_equal((dll_characteristics(dump) or 0) & required, required,
                         arch + " DllCharacteristics (ASLR, DEP%s)" % (", NO_SEH" if arch == "x86" else ", 64-bit ASLR"))


def without_signature(path):
    """The file as it was before Authenticode signing: the signature table
    cut off, its directory entry and the header checksum (which signing
    sets) zeroed. Also the signature's offset."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    pe = int.from_bytes(data[0x3C:0x40], "little")
    optional = pe + 24
    directories = optional + (96 if data[optional:optional + 2] == b"\x0b\x01" else 112)
    security = directories + 4 * 8
    offset = int.from_bytes(data[security:security + 4], "little")
    data[optional + 64:optional + 68] = bytes(4)
    data[security:security + 8] = bytes(8)
    return bytes(data[:offset] if offset else data), offset


@bed.case
def binaries_are_signed_and_otherwise_as_built(prefix):
    if not bed.args.signed_by:
        print("NOTE: the package was not signed", flush=True)
        return
    builds = os.path.dirname(os.path.abspath(bed.args.build))
    for arch, kind in (("x86", "win32"), ("x64", "win64")):
        for binary in BINARIES:
            packaged = os.path.join(root, arch, binary)
            verify = subprocess.run(["osslsigncode", "verify", "-CAfile", bed.args.signed_by, "-in", packaged],
                                    capture_output=True, text=True)
            bed.expect(verify.returncode == 0 and "Signature verification: ok" in verify.stdout,
                       "%s/%s signature: %s%s" % (arch, binary, verify.stdout[-400:], verify.stderr[-400:]))
            signed, offset = without_signature(packaged)
            built, unsigned_offset = without_signature(os.path.join(builds, kind, os.path.basename(binary)))
            bed.expect(offset > 0 and unsigned_offset == 0, "%s/%s carries a signature, the build none" % (arch, binary))
            # Signing pads the file to 8 bytes before the table: nothing else changes.
            bed.expect(signed.rstrip(b"\0") == built.rstrip(b"\0") and len(signed) - len(built) < 8,
                       "%s/%s: every byte outside the signature is the build's" % (arch, binary))


def build_consumer(arch, folder):
    toolchain = os.path.join(ROOT, "cmake", ARCHITECTURES[arch]["toolchain"])
    build = os.path.join(folder, "consumer-" + arch)
    for command in (["cmake", "-S", os.path.join(HERE, "consumer"), "-B", build,
                     "-DCMAKE_TOOLCHAIN_FILE=" + toolchain, "-DCMAKE_PREFIX_PATH=" + root],
                    ["cmake", "--build", build]):
        run = subprocess.run(command, capture_output=True, text=True)
        bed.expect(run.returncode == 0, "%s: %s%s" % (" ".join(command), run.stdout, run.stderr))
    return build


@bed.case
def consumer_project_links_every_export_for_both_architectures(prefix):
    folder = tempfile.mkdtemp(prefix="consumers-", dir=unpacked)
    for arch in ARCHITECTURES:
        build = build_consumer(arch, folder)
        program = os.path.join(build, "consumer.exe")
        bed.expect_equal(winebed.pe_machine(program), ARCHITECTURES[arch]["machine"],
                         arch + " consumer machine")
        packaged_dll = os.path.join(root, arch, "bin", "tavsn.dll")
        with open(os.path.join(build, "tavsn.dll"), "rb") as copied, open(packaged_dll, "rb") as f:
            bed.expect(copied.read() == f.read(), arch + ": the package's DLL is copied beside it")
        imports = imported_functions(objdump(program)).get("tavsn.dll", [])
        bed.expect_equal(sorted(imports), sorted(exported_names(objdump(packaged_dll))),
                         arch + " consumer's imports from tavsn.dll")
        consumers[arch] = program


def configuration_for(pointer_size, toolchain):
    """What find_package(tavsn) gives a host of this pointer size and
    toolchain: {property: value}."""
    build = tempfile.mkdtemp(prefix="config-probe-", dir=unpacked)
    run = subprocess.run(["cmake", "-S", os.path.join(HERE, "config_probe"), "-B", build,
                          "-DCMAKE_PREFIX_PATH=" + root, "-DPROBE_POINTER_SIZE=%s" % pointer_size,
                          "-DPROBE_TOOLCHAIN=" + toolchain], capture_output=True, text=True)
    bed.expect(run.returncode == 0, "config probe: %s%s" % (run.stdout, run.stderr))
    return dict(re.findall(r"^-- (\w+)=(.*)$", run.stdout, re.M))


@bed.case
def find_package_picks_the_hosts_architecture_and_import_library(prefix):
    for pointer_size, toolchain, arch, import_library in ((4, "mingw", "x86", "libtavsn.dll.a"),
                                                         (4, "msvc", "x86", "tavsn.lib"),
                                                         (8, "mingw", "x64", "libtavsn.dll.a"),
                                                         (8, "msvc", "x64", "tavsn.lib"),
                                                         (8, "clang-msvc", "x64", "tavsn.lib"),
                                                         ("", "mingw", None, None)):
        found = configuration_for(pointer_size, toolchain)
        expected = {"tavsn_FOUND": "0"}
        if arch:
            dll = os.path.join(root, arch, "bin", "tavsn.dll")
            expected = {"tavsn_FOUND": "1", "IMPORTED_LOCATION": dll,
                        "IMPORTED_IMPLIB": os.path.join(root, arch, "lib", import_library),
                        "INTERFACE_INCLUDE_DIRECTORIES": os.path.join(root, "include"), "tavsn_DLL": dll}
        bed.expect_equal(found, expected, "find_package for pointer size %r, %s" % (pointer_size, toolchain))


def run_for(prefix, arch, args):
    loader = winebed.WINE64 if arch == "x64" else winebed.WINE32
    return prefix.run(args, loader=[loader], extra_env={"WINELOADER": loader})


def identifiers_of_consumer(prefix, arch):
    """{export: (result, text)} as the consumer prints them."""
    run = run_for(prefix, arch, [consumers[arch]])
    bed.expect_equal(run.returncode, 0, arch + " consumer exit code")
    found = {}
    for line in run.stdout.decode("latin-1").splitlines():
        function, result, text = line.split(" ", 2)
        found[function] = (int(result), text.split(" ")[0])
    return found


def identifiers_of_tool(prefix, arch):
    tool = os.path.join(root, arch, "bin", "tavsn.exe")
    dll = os.path.join(root, arch, "bin", "tavsn.dll")
    run = run_for(prefix, arch, [tool, "--json", winebed.winpath(dll)])
    bed.expect_equal(run.returncode, 0, arch + " tool exit code")
    report = json.loads(run.stdout.decode("latin-1"))
    return {call["export"]: (call["return_code"], call.get("identifier")) for call in report["calls"]}


@bed.case
def consumer_gets_what_the_tool_reports(prefix):
    bed.expect(set(consumers) == set(ARCHITECTURES), "the consumers were built")
    runnable = ["x64"] + (["x86"] if winebed.thirty_two_bit_programs_run() else [])
    adapters = with_adapters(bed, prefix, lambda a: a.add("eth0", MAC))
    try:
        seen = {}
        for arch in runnable:
            seen[arch] = identifiers_of_consumer(prefix, arch)
            bed.expect_equal(seen[arch], identifiers_of_tool(prefix, arch),
                             arch + " identifiers, consumer against tool")
            bed.expect_equal(seen[arch]["GetMacSN"][0], 32, arch + " GetMacSN read the adapter")
    finally:
        adapters.stop()
    # The adapter is enabled, so the one difference a 32-bit host on 64-bit
    # Windows may show, a disabled adapter it cannot enable, does not arise.
    if len(seen) == 2:
        bed.expect_equal(seen["x86"], seen["x64"], "identifiers of the 32-bit and the 64-bit DLL")
    for arch in set(ARCHITECTURES) - set(seen):
        print("NOTE: the %s consumer was built and linked but not run: this kernel does not "
              "execute 32-bit programs" % arch, flush=True)


try:
    bed.main()
finally:
    shutil.rmtree(unpacked, ignore_errors=True)
