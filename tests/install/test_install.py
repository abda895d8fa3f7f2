#!/usr/bin/env python3
"""Installs the linux build into a scratch prefix, moves the tree elsewhere,
and uses it there as a licence server would: a C program built with nothing
but `pkg-config --cflags --libs tavsn_server`, the tool, and the Python
module, whose answers must equal the tool's JSON for the same inputs.
    python3 tests/install/test_install.py --build build/linux --cmake cmake --version 1.2.3"""
import argparse
import dataclasses
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

ARGS = None
ts = None  # the installed tavsn_server module
TWO_MACS, ONE_MAC = "TQ1101020011263744550B3B2B5B4B7B", "TQ110101001126374455110037265544"
EX, EX_OTHER_CPU = "TQ1221000A1B7B480E00B8FF26006C9C", "TQ1221000A1B7B480E0068882400BF13"
SERIAL, UUID = "TQ1225000A1B7B480A00DBDC26006FA0", "TQ1229000A1B7B482300A26C26006FA0"
CPU = "Example CPU-00000000-00000006-00000094"
DECODE_PROGRAM = r"""#include <stdio.h>
#include <tavsn_server.h>
int main(void) {
  tavsn_decoded d;
  int result = tavsn_decode("IDENTIFIER", 32, &d);
  printf("%d %d %d %04X\n", result, d.kind, d.made_by, d.mac_checksum);
}""".replace("IDENTIFIER", EX)
SIBLING_EX = "TQ1221000A1B7B470E00B90026006C9C"  # another MAC, the same processor
OEM, OEM_SIBLING = "TQ1225000A1B7B48160072C626006C9C", "TQ1225000A1B7B47160072C626006C9C"  # "To be filled by O.E.M."
FORGED = EX[:4] + "A1FF" + EX[8:]  # source flags 0xFFA1
# GetPCSN with serial SN12345678; the same first MAC with another real serial (a moved adapter); a card
# replaced beside a firmware read that failed (an STA caller); siblings with "TO BE FILLED BY O.E.M.".
REAL, MOVED, STA_CARD = ("TQ1225000A1B7B480A00DBDC26006C9C", "TQ1225000A1B7B480A00CCD226006C9C",
                         "TQ1221003C9C13620000000026006C9C")
CAPS, CAPS_SIBLING = "TQ1225000A1B7B481600138726006C9C", "TQ1225000A1B7B471600138726006C9C"
# One machine's bundle (GetMacSN; GetPCSN, serial SN4C0A8123; GetPCSNEx; tav_get_pc_id), and what later
# sightings of it or of other machines send: the cases of server/bundle_test.cpp's table.
B_MAC, B_PCSN, B_EX = ("TQ110102001A2B3C4D5E1A003126577A", "TQ122500001A874B0A00DDC826006C9C",
                       "TQ122100001A874B0E00B6FD26006C9C")
B_FP, B_FP_NO_DISK = "623FBDEBE453CAE4A61E315703441D1", "175D43E9AEC486C9209E5B71CA23CE4"
B_MACHINE = [B_MAC, B_PCSN, B_EX, B_FP]
BUNDLES = [  # before, after: the verdict, or the tool's exit code and the member refused (side, position)
    (B_MACHINE, [B_FP_NO_DISK, B_EX, B_PCSN, B_MAC], "same machine"),
    (B_MACHINE, [B_MAC, "TQ122100001A874B0000000026006C9C", B_EX], "undecided"),  # firmware not read
    (B_MACHINE, [B_MAC, "TQ122500001A874B0A00DDC82600649B", "TQ122100001A874B0E00BEFE2600649B"],
     "undecided"),  # a processor upgrade
    (B_MACHINE, ["TQ110102001A2B3C4D5E1A8AEF1A1A1D", "TQ122500001A874B0A00DDC726006C9C"],
     "different machine"),  # its adapter moved to another board
    ([B_FP], [B_FP], "undecided"),
    ([B_MAC], [B_FP], (5, 0, 0)),
    (B_MACHINE, [B_MAC, B_MAC], (4, 2, 1)),
    ([B_PCSN, "TQ122100001A874B0E00BEFE2600649B"], B_MACHINE, (4, 1, 1)),
    (B_MACHINE, [B_MAC, "TQ120000000000000000000000000000"], (4, 2, 1)),
    (B_MACHINE, [B_MAC, B_EX[:31]], (3, 2, 1)),
]
# The tool's JSON keys the C API has nothing for.
TOOL_ONLY = {"text", "valid", "message", "exit_code", "expected_self_checksum", "facts", "expected_text", "note",
             "refused"}


def run(*args, **options):
    return subprocess.run(args, check=True, capture_output=True, text=True, **options).stdout


class InstalledPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.scratch.cleanup)
        staged, cls.prefix = (pathlib.Path(cls.scratch.name) / name for name in ("staged", "moved"))
        run(ARGS.cmake, "--install", ARGS.build, "--prefix", staged)
        staged.rename(cls.prefix)
        cls.lib = cls.prefix / ARGS.libdir
        cls.env = dict(os.environ, PKG_CONFIG_PATH=str(cls.lib / "pkgconfig"),
                       LD_LIBRARY_PATH=str(cls.lib), PYTHONPATH=str(cls.prefix / "share/tavsn/python"))
        sys.path.insert(0, cls.env["PYTHONPATH"])
        global ts
        import tavsn_server as ts
        ts.load(str(cls.lib / "libtavsn_server.so"))

    def build_and_run(self, source):
        program = pathlib.Path(self.scratch.name) / "program"
        flags = run("pkg-config", "--cflags", "--libs", "tavsn_server", env=self.env).split()
        run("cc", "-x", "c", "-", "-o", program, *flags, input=source)
        return run(program, env=self.env)

    def test_package_contents_and_version(self):
        for path in ("bin/tavsn", "include/tavsn_server.h", ARGS.libdir + "/libtavsn_server.so." + ARGS.version.split(".")[0],
                     "share/tavsn/python/tavsn_server.py"):
            self.assertTrue((self.prefix / path).is_file(), path)
        self.assertEqual(run("pkg-config", "--modversion", "tavsn_server", env=self.env).strip(), ARGS.version)
        self.assertIn("Exit codes:", run(self.prefix / "bin/tavsn", "--help"))
        self.assertEqual(run(self.prefix / "bin/tavsn", "--version"), "tavsn %s\n" % ARGS.version)

    def test_c_program_through_pkg_config(self):
        self.assertEqual(self.build_and_run(DECODE_PROGRAM), "0 2 4 487B\n")

    def test_cmake_consumer_through_find_package(self):
        project = pathlib.Path(self.scratch.name) / "cmake_consumer"
        project.mkdir(exist_ok=True)
        (project / "main.c").write_text(DECODE_PROGRAM)
        (project / "CMakeLists.txt").write_text(
            "cmake_minimum_required(VERSION 3.20)\nproject(consumer C)\n"
            "find_package(tavsn_server %s REQUIRED)\nadd_executable(consumer main.c)\n"
            "target_link_libraries(consumer PRIVATE tavsn_server::tavsn_server)\n" % ARGS.version.split(".")[0])
        cmake = getattr(ARGS, "cmake", "cmake")
        run(cmake, "-S", project, "-B", project / "build", "-DCMAKE_PREFIX_PATH=" + str(self.prefix))
        run(cmake, "--build", project / "build")
        self.assertEqual(run(project / "build/consumer", env=self.env), "0 2 4 487B\n")

    def test_only_the_c_api_is_exported(self):
        declared = set()
        for header in ("tavsn_server.h", "tavsn_registry.h"):
            declared |= set(re.findall(r"\b(tavsn_\w+)\(", (self.prefix / "include" / header).read_text()))
        exported = run("nm", "-D", "--defined-only", "--format=just-symbols", self.lib / "libtavsn_server.so")
        self.assertEqual(set(exported.split()), declared)

    def test_python_module_mirrors_the_header(self):
        code = "import tavsn_server as t; print(t.decode('%s').made_by)" % EX
        self.assertEqual(run(sys.executable, "-c", code, env=self.env), "GetPCSNEx\n")
        checks = {}  # C expression: what ctypes has for it
        for c_name, struct in ts.C_STRUCTS.items():
            checks[f"sizeof({c_name})"] = ts.ctypes.sizeof(struct)
            for name, _ in struct._fields_:
                checks[f"offsetof({c_name}, {name})"] = getattr(struct, name).offset
                checks[f"sizeof((({c_name}*)0)->{name})"] = getattr(struct, name).size
        body = "".join(f'printf("{expression} %zu\\n", {expression});' for expression in checks)
        source = ("#include <stddef.h>\n#include <stdio.h>\n#include <tavsn_server.h>\n#include <tavsn_registry.h>\n"
                  "int main(void) {%s}\n")
        self.assertEqual(self.build_and_run(source % body).splitlines(), [f"{e} {v}" for e, v in checks.items()])

    def assert_module_answers_as_the_tool(self, call, *tool_args):
        """Each field of the module's answer equals the tool's JSON field."""
        out = subprocess.run([self.prefix / "bin/tavsn", "--json", *tool_args], capture_output=True, text=True).stdout
        doc = json.loads(out)
        doc = doc["identifiers"][0] if doc and "identifiers" in doc else doc
        tool_errors = {ts.ERROR_LENGTH: "length", ts.ERROR_TAG: "tag", ts.ERROR_CHARACTER: "character",
                       ts.ERROR_DIFFERENT_KINDS: "a MAC identifier and a machine identifier cannot be compared",
                       ts.ERROR_DIFFERENT_EXPORTS: "a GetPCSN identifier and a GetPCSNEx identifier cannot be compared",
                       ts.ERROR_NOT_DLL_RECORD: "not written by the DLL"}
        try:
            mine = {k: v for k, v in json.loads(json.dumps(dataclasses.asdict(call()))).items() if v is not None}
        except ValueError:  # the module refuses what the tool calls a usage error
            self.assertEqual((doc["error"], doc["exit_code"]), ("usage", 2), tool_args)
            return
        except ts.TavsnServerError as error:
            mine = {"error": tool_errors[error.code], "detail": error.detail}
        if doc is not None:
            doc = dict(doc, anomaly_count=len(doc.get("anomalies", [])), changed_fields=len(doc.get("changes", [])))
            self.assertLessEqual(set(doc) - set(mine or {}) - {"anomaly_count", "changed_fields"}, TOOL_ONLY)
            doc = {k: doc.get(k) for k in mine or {}}
        self.assertEqual(mine, doc, tool_args)

    def test_python_decode(self):
        for text in [TWO_MACS, ONE_MAC, "TQ110001001126374455110037265544", "TQ1101000011263744550B3B2B5B4B7B",
                     "TQ1102020011263744550B3B2B5B4B7B", SERIAL, UUID, "TQ1211000A1B7B48000000001D002348", EX,
                     EX[:20] + "B9" + EX[22:], EX[:31], EX + "0", "", "TQ13" + EX[4:], EX.lower(),
                     EX[:10] + "x" + EX[11:], "TQ12\u00e9" + EX[5:], OEM, FORGED, "TQ1100020011263744550B3B2B5B4B7B"]:
            self.assert_module_answers_as_the_tool(lambda: ts.decode(text), "decode", text)

    def test_python_verify(self):
        for text, *options in [
            (TWO_MACS, "--mac", "10-20-30-40-50-60", "--mac", "0a1b2c3d4e5f"),
            (TWO_MACS, "--mac", "102030405060", "--mac", "0A1B2C3D4E5F", "--list-order", "given"),
            (TWO_MACS, "--mac", "0A1B2C3D4E5F", "--mac", "102030405060", "--mac-source", "0"),
            (TWO_MACS, "--mac", "0A1B2C3D4E5"), (TWO_MACS,), (TWO_MACS, "--serial", "SN12345678"),
            (EX, "--mac", "102030405060", "--mac", "0a:1b:2c:3d:4e:5f", "--cpu-text", CPU),
            (EX, "--mac", "102030405060", "--mac", "0A1B2C3D4E5F", "--list-order", "given"),
            (EX, "--mac", "0A1B2C3D4E5F", "--mac", "0a-1b:2c-3d-4e-5f"), (EX, "--mac-source", "1"),
            (SERIAL, "--serial", "SN12345678"), (SERIAL, "--serial", "1234567", "--cpu-text", CPU),
            (UUID, "--uuid-text", "33221100-77665544-bbaa9988-ffeeddcc", "--serial", "1234567"),
            (EX[:31], "--mac", "0A1B2C3D4E5F"), (FORGED, "--mac", "0A1B2C3D4E5F"),
            (TWO_MACS, "--mac", "000000000000", "--mac", "102030405060", "--mac", "0A1B2C3D4E5F"),
            (ONE_MAC, "--mac", "0A1B2C3D4E5F", "--mac", "102030405060", "--list-order", "given"),
            (UUID, "--uuid-text", "00112233-4455-6677-8899-aabbccddeeff"),
            (EX, "--cpu-text", CPU), (CAPS, "--serial", "TO BE FILLED BY O.E.M.", "--cpu-text", CPU),
        ]:
            pairs = list(zip(options[::2], options[1::2]))
            macs = [value for option, value in pairs if option == "--mac"]
            facts = {o[2:].replace("-", "_"): int(v) if o == "--mac-source" else v for o, v in pairs if o != "--mac"}
            self.assert_module_answers_as_the_tool(lambda: ts.verify(text, macs, **facts), "verify", text, *options)

    def test_python_compare(self):
        for before, after, *options in [
            (EX, EX_OTHER_CPU), (EX, EX_OTHER_CPU, "--max-changed", "0"),
            (EX, EX_OTHER_CPU, "--must-keep", "processor,mac"), (TWO_MACS, ONE_MAC),
            (SERIAL, "TQ1223000A1B7B480000000026006C9C", "--max-changed", "2"),
            (TWO_MACS, EX), (EX, SERIAL), (EX, EX[:-1]),
            # One table of verdicts: siblings, a placeholder, a forged record, each policy.
            (EX, SIBLING_EX), (EX, SIBLING_EX, "--policy", "count"), (OEM, OEM_SIBLING), (OEM, OEM),
            (OEM, OEM_SIBLING, "--policy", "count", "--max-changed", "0"), (EX, FORGED), (FORGED, FORGED),
            (TWO_MACS, "TQ110102001126374466017142754A6B"),
            # Impostor classes and benign events, each with its risk.
            (REAL, MOVED), (REAL, MOVED, "--policy", "count"), (REAL, STA_CARD), (CAPS, CAPS_SIBLING),
            (EX, EX_OTHER_CPU, "--threshold", "1"), (REAL, REAL),
        ]:
            given = dict(zip(options[::2], options[1::2]))
            keep = given.get("--must-keep")
            policy = ts.ComparePolicy(int(given.get("--max-changed", 1)), tuple(keep.split(",")) if keep else (),
                                      given.get("--policy", "evidence"), float(given.get("--threshold", 1e-5)))
            self.assert_module_answers_as_the_tool(lambda: ts.compare(before, after, policy if options else None),
                                                   "compare", before, after, *options)


    def test_python_arguments_keep_their_contract(self):
        P = ts.ComparePolicy
        cases = [
            (lambda: ts.compare(EX, EX_OTHER_CPU, P(-1)), ValueError, "max_changed is 0 to 4, not -1"),
            (lambda: ts.compare(EX, EX_OTHER_CPU, P(2 ** 32)), ValueError, "max_changed"),
            (lambda: ts.compare(EX, EX_OTHER_CPU, P("1")), TypeError, "max_changed must be an int"),
            (lambda: ts.compare(EX, EX_OTHER_CPU, P(1, ("cpu",))), ValueError, "not 'cpu'"),
            (lambda: ts.compare(EX, EX_OTHER_CPU, P(1, (), "strict")), ValueError, "evidence or count"),
            (lambda: ts.compare(EX, EX_OTHER_CPU, {"max_changed": 1}), TypeError, "policy must be a ComparePolicy"),
            (lambda: ts.compare(EX, 5), TypeError, "after must be str or bytes"),
            (lambda: ts.compare(EX, EX_OTHER_CPU, P(threshold=0.0)), ValueError, "threshold is above 0"),
            (lambda: ts.compare(EX, EX_OTHER_CPU, P(threshold="1")), TypeError, "threshold must be a float"),
            (lambda: ts.verify(EX, ["0A1B2C3D4E5F\0zz"]), ValueError, "macs[0] must not contain a NUL"),
            (lambda: ts.verify(EX, serial="SN12345678\0x"), ValueError, "serial must not contain a NUL"),
            (lambda: ts.verify(EX, [0x0A1B2C3D4E5F]), TypeError, "macs[0] must be str or bytes"),
            (lambda: ts.verify(EX, 12), TypeError, "macs must be a sequence"),
            (lambda: ts.verify(TWO_MACS, ["0A1B2C3D4E5F"], mac_source=2), ValueError, "mac_source is 0 to 1"),
            (lambda: ts.verify(TWO_MACS, ["0A1B2C3D4E5F"], list_order=1), TypeError, "list_order must be str"),
            (lambda: ts.decode(None), TypeError, "text must be str or bytes"),
        ]
        for call, error, words in cases:
            with self.assertRaises(error, msg=words) as raised:
                call()
            self.assertIn(words, str(raised.exception))
        # One component name alone is a set of one, not of its letters.
        self.assertEqual(ts.compare(EX, EX_OTHER_CPU, P(1, "processor")).verdict, "different machine")
        # The risk and the explanations the tool prints.
        moved = ts.compare(REAL, MOVED)
        self.assertEqual((moved.verdict, moved.likeliest_impostor), ("different machine", "moved_adapter"))
        caps = ts.compare(CAPS, CAPS_SIBLING)
        self.assertEqual((caps.verdict, caps.false_accept_probability), ("undecided", 1.0))

    def test_python_bundles_answer_as_the_tool(self):
        exit_codes = {ts.ERROR_INCONSISTENT_BUNDLE: 4, ts.ERROR_NOT_DLL_RECORD: 4, ts.ERROR_DIFFERENT_KINDS: 5,
                      ts.ERROR_LENGTH: 3}
        for before, after, expected in BUNDLES:
            args = ["compare", "--bundle", ",".join(before), "--bundle", ",".join(after)]
            out = subprocess.run([self.prefix / "bin/tavsn", "--json", *args], capture_output=True, text=True).stdout
            doc = json.loads(out)
            try:
                mine = json.loads(json.dumps(dataclasses.asdict(ts.compare_bundles(before, after))))
            except ts.BundleError as error:
                self.assertEqual((exit_codes[error.code], error.side, error.member), expected, args)
                self.assertEqual((doc["exit_code"], doc["side"], doc["member"]), expected, args)
                continue
            self.assertEqual(mine["verdict"], expected, args)
            self.assertEqual(mine, {k: doc.get(k) for k in mine}, args)
        with self.assertRaises(ValueError):
            ts.compare_bundles([], B_MACHINE)
        with self.assertRaises(TypeError):
            ts.compare_bundles(B_MAC, B_MACHINE)

    def test_python_fingerprint_answers_as_the_tool(self):
        fingerprint, no_disk = "623FBDEBE453CAE4A61E315703441D1", "175D43E9AEC486C9209E5B71CA23CE4"
        intel = {"cpu_vendor": "GenuineIntel", "highest_leaf": 0x16, "mac": "00-1A-2B-3C-4D-5E"}
        for text, facts in [(fingerprint, dict(intel, disk_bytes=500107862016, mhz=2400)),
                            (no_disk, dict(intel, disk_bytes=500107862016, other_macs=["0ABCDEF01234"])),
                            (no_disk, dict(intel, highest_leaf=None, disk_bytes=500107862016)),
                            (fingerprint, dict(intel, disk_bytes=256060514304)),
                            (fingerprint, dict(intel, mac="00-1A-2B"))]:
            options = [f"--{name.replace('_', '-')}={value}" for name, value in facts.items()
                       if value is not None and name not in ("mac", "other_macs")]
            options += [f"--mac={mac}" for mac in [facts["mac"], *facts.get("other_macs", [])]]
            done = subprocess.run([self.prefix / "bin/tavsn", "--json", "verify", text, *options],
                                  capture_output=True, text=True)
            doc = json.loads(done.stdout) if done.stdout else {"verdict": "bad fact"}
            mine = dataclasses.asdict(ts.match_fingerprint(text, **facts))
            for explanation in mine["explanations"]:
                if explanation["first_adapter"] is None:
                    del explanation["first_adapter"]
            self.assertEqual(mine["verdict"], doc["verdict"], facts)
            for name in set(mine) - {"verdict"}:
                if name in doc or mine[name] not in (None, (), False):
                    self.assertEqual(json.loads(json.dumps(mine[name])), doc.get(name), (name, facts))
        self.assertEqual(ts.parse_fingerprint(fingerprint + "\0"), fingerprint)
        self.assertTrue(ts.compare_fingerprints(fingerprint, fingerprint + "\0").same_first_adapter)
        self.assertFalse(ts.compare_fingerprints(fingerprint, no_disk).equal)
        with self.assertRaises(ts.TavsnServerError) as raised:
            ts.parse_fingerprint(fingerprint[:30] + "g")
        self.assertEqual((raised.exception.code, raised.exception.detail), (ts.ERROR_CHARACTER, 30))
        for call, error, words in [
            (lambda: ts.match_fingerprint(fingerprint, mhz=-1), ValueError, "mhz is 0 to"),
            (lambda: ts.match_fingerprint(fingerprint, cpuid_leaf0=(1, 2)), ValueError, "four registers"),
            (lambda: ts.match_fingerprint(fingerprint, brand="x\0y"), ValueError, "brand must not contain a NUL"),
        ]:
            with self.assertRaises(error, msg=words) as raised:
                call()
            self.assertIn(words, str(raised.exception))

    def test_python_registry_answers_as_the_tool(self):
        """history, audit, export and import through the module (and so the C
        API) answer as the tool does: its JSON without the exit code, its
        CSV; one row each."""
        folder = pathlib.Path(self.scratch.name) / "registry"
        folder.mkdir(exist_ok=True)
        tool, db = str(self.prefix / "bin/tavsn"), str(folder / "licences.db")
        for scope, at, identifier in (("L-1", "1800000000", EX), ("L-2", "1800003600", EX),
                                      ("L,\"1\"", "1800000060", TWO_MACS)):
            run(tool, "registry", "check-in", "--db", db, "--scope", scope, "--time", at, identifier)
        csv = folder / "old.csv"
        csv.write_text("scope,identifier,time\nS,%s,1800000000\nS,nonsense\n" % EX_OTHER_CPU)
        registry = ts.Registry(db)
        self.addCleanup(registry.close)
        fresh = ts.Registry(str(folder / "module.db"))
        self.addCleanup(fresh.close)
        rows = [  # the tool's arguments, the module's call, the tool's exit code
            (["history", "--db", db, "1"], lambda: registry.history(1), 0),
            (["history", "--db", db, "3"], lambda: registry.history(3), 0),
            (["history", "--db", db, "99"], lambda: registry.history(99), 10),
            (["audit", "--db", db], registry.audit, 0),
            (["import", "--db", str(folder / "tool.db"), str(csv)], lambda: fresh.import_(csv), 4),
            (["export", "--db", db], registry.export, 0),
        ]
        for args, call, code in rows:
            json_out = args[0] != "export"
            done = subprocess.run([tool, *(["--json"] if json_out else []), "registry", *args],
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, code, (args, done.stderr))
            mine = call()
            if not json_out:
                self.assertEqual(mine, done.stdout, args)
            elif mine is None:
                self.assertEqual(json.loads(done.stdout)["error"], "not registered", args)
            else:
                self.assertEqual(mine, {k: v for k, v in json.loads(done.stdout).items() if k != "exit_code"}, args)
        self.assertEqual(len(registry.audit()["one_machine_under_several_scopes"]), 1)
        with self.assertRaises(OSError):
            fresh.import_(folder / "none.csv")

    def test_python_module_finds_the_library_installed_with_it(self):
        env = {k: v for k, v in self.env.items() if k not in ("LD_LIBRARY_PATH", "TAVSN_SERVER_LIBRARY")}
        code = "import tavsn_server as t; print(t.decode('%s').made_by, t._installed_library())" % EX
        made_by, path = run(sys.executable, "-c", code, env=env).split()
        self.assertEqual(made_by, "GetPCSNEx")
        self.assertEqual(ts.__version__, ARGS.version)
        self.assertTrue(pathlib.Path(path).samefile(self.lib / "libtavsn_server.so.1"), path)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--build", "--cmake", "--version", "--libdir"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
