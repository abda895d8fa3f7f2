#!/usr/bin/env python3
"""Runs the native tavsn tool: decode, verify and compare, their errors and
exit codes, and the --json output parsed back.

    python3 tests/cli/test_cli.py --tool build/native/tools/tavsn
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import unittest

TOOL = None
VERSION = None

TWO_MACS = "TQ1101020011263744550B3B2B5B4B7B"  # 0A1B2C3D4E5F and 102030405060
ONE_MAC = "TQ110101001126374455110037265544"
EX = "TQ1221000A1B7B480E00B8FF26006C9C"  # GetPCSNEx, processor text below
EX_OTHER_CPU = "TQ1221000A1B7B480E0068882400BF13"
CPU = "Example CPU-00000000-00000006-00000094"
# tav_get_pc_id's worked example, and the same machine without its disk text.
FINGERPRINT = "623FBDEBE453CAE4A61E315703441D1"
FINGERPRINT_NO_DISK = "175D43E9AEC486C9209E5B71CA23CE4"
INTEL = ["--cpu-vendor", "GenuineIntel", "--highest-leaf", "0x16"]


def run(*args):
    done = subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout, done.stderr


def run_json(*args):
    code, out, err = run("--json", *args)
    document = json.loads(out)
    assert document["exit_code"] == code, (args, document, code)
    return code, document, err


class Decode(unittest.TestCase):
    def test_worked_examples(self):
        code, doc, _ = run_json("decode", TWO_MACS, ONE_MAC, EX)
        self.assertEqual(code, 0)
        two, one, ex = doc["identifiers"]
        self.assertEqual((two["kind"], two["source"], two["mac_count"]), ("mac", 1, 2))
        self.assertEqual(two["first_mac_masked"], "001126374455")
        self.assertEqual(two["second_mac_masked"], "0B3B2B5B4B7B")
        self.assertEqual(two["address_xor"], "1A3B1C7D1E3F")
        self.assertEqual(one["address_xor"], "000000000000")
        self.assertEqual(ex["made_by"], "GetPCSNEx")
        self.assertEqual((ex["source_flags"], ex["mac_prefix"], ex["mac_checksum"]), (0x21, "0A1B", 0x487B))
        self.assertEqual((ex["system_length"], ex["system_checksum"]), (14, 0xFFB8))
        self.assertEqual((ex["processor_length"], ex["processor_checksum"]), (38, 0x9C6C))
        self.assertTrue(ex["self_checksum_verifies"])
        self.assertEqual(ex["source_flag_words"], ["MAC step ran", "processor details"])
        for identifier in doc["identifiers"]:
            self.assertEqual(identifier["anomalies"], [])

    def test_malformed_texts_and_their_exit_code(self):
        cases = [
            (EX[:31], "length", 31),
            ("TQ13" + EX[4:], "tag", 3),
            (EX[:10] + "x" + EX[11:], "character", 10),
            (EX.lower(), "tag", 0),
        ]
        for text, error, detail in cases:
            code, doc, _ = run_json("decode", text)
            self.assertEqual(code, 3, text)
            entry = doc["identifiers"][0]
            self.assertEqual((entry["valid"], entry["error"], entry["detail"]), (False, error, detail), text)
        # A malformed text among good ones still fails the run.
        self.assertEqual(run("decode", EX, EX[:31])[0], 3)

    def test_anomaly_exit_code(self):
        damaged = EX[:20] + "B9" + EX[22:]  # record checksum off by one
        code, doc, _ = run_json("decode", damaged)
        self.assertEqual(code, 4)
        self.assertEqual(doc["identifiers"][0]["made_by"], "unknown")
        self.assertIn("does not verify", doc["identifiers"][0]["anomalies"][0])
        code, out, _ = run("decode", damaged)
        self.assertEqual(code, 4)
        self.assertIn("DOES NOT VERIFY", out)

    def test_bundles(self):
        machine = "TQ110102001A2B3C4D5E1A003126577A,TQ122500001A874B0A00DDC826006C9C"
        moved = "TQ110102001A2B3C4D5E1A8AEF1A1A1D,TQ122500001A874B0A00DDC726006C9C"  # its adapter, another board
        cases = [
            (["--bundle", machine, "--bundle", machine], 0),
            (["--bundle", machine, "--bundle", moved], 1),
            (["--bundle", machine, "--bundle", machine + ",TQ110102001A2B3C4D5E1A003126577A"], 4),
            (["--bundle", machine], 2),
            (["--bundle", machine, "--bundle", machine, EX], 2),
        ]
        for args, expected_code in cases:
            self.assertEqual(run_json("compare", *args)[0], expected_code, args)
        code, out, _ = run("compare", "--bundle", machine, "--bundle", moved)
        self.assertIn("GetPCSN: changed (alone: different machine)", out)
        self.assertIn("different machine (evidence policy): a real firmware text changed", out)
        code, _, err = run("compare", "--bundle", machine, "--bundle", machine + ",TQ12")
        self.assertEqual(code, 3)
        self.assertIn("bundle 2, member 3: TQ12: malformed: bad length", err)

    def test_text_output(self):
        code, out, _ = run("decode", TWO_MACS)
        self.assertEqual(code, 0)
        self.assertIn("address count: 2", out)
        self.assertIn("first XOR second address: 1A3B1C7D1E3F", out)


class Verify(unittest.TestCase):
    def test_mac_identifier(self):
        cases = [
            (["--mac", "10-20-30-40-50-60", "--mac", "0a1b2c3d4e5f"], 0, "match"),
            (["--mac", "0A1B2C3D4E5F", "--mac", "102030405060", "--mac", "FFFFFFFFFFFF"], 1, "mismatch"),
            (["--mac", "102030405060", "--mac", "0A1B2C3D4E5F", "--list-order", "given"], 1, "mismatch"),
            (["--mac", "0A1B2C3D4E5F", "--mac", "102030405060", "--mac-source", "0"], 1, "mismatch"),
            (["--mac", "0A1B2C3D4E5"], 2, "bad fact"),
            ([], 5, "not given"),
        ]
        for options, expected_code, verdict in cases:
            code, doc, _ = run_json("verify", TWO_MACS, *options)
            self.assertEqual((code, doc["verdict"]), (expected_code, verdict), options)
        code, doc, _ = run_json("verify", TWO_MACS, "--mac", "0A1B2C3D4E5F", "--mac", "FFFFFFFFFFFF")
        self.assertEqual(doc["facts"], {"addresses": "mismatch", "count": "match", "source": "match"})
        self.assertEqual(doc["expected_text"], "TQ110102001126374455E4E4E4E4E4E4")

    def test_machine_identifier(self):
        cases = [
            (["--mac", "0A1B2C3D4E5F", "--cpu-text", CPU], 0, {"mac": "match", "processor": "match"}),
            (["--mac", "102030405060", "--mac", "0A1B2C3D4E5F"], 0, {"mac": "match"}),
            (["--mac", "102030405060", "--mac", "0A1B2C3D4E5F", "--list-order", "given"], 1, {"mac": "mismatch"}),
            (["--cpu-text", CPU + " "], 1, {"processor": "mismatch"}),
            (["--serial", "SN-12345678"], 5, {"serial_number": "not checkable"}),
            (["--serial", "SN-12345678", "--cpu-text", CPU], 8, {"serial_number": "not checkable"}),
            (["--cpu-text", CPU], 8, {"processor": "match"}),  # every machine of the model matches
        ]
        for options, expected_code, facts in cases:
            code, doc, _ = run_json("verify", EX, *options)
            self.assertEqual(code, expected_code, options)
            for name, verdict in facts.items():
                self.assertEqual(doc["facts"][name], verdict, options)

    def test_fingerprint(self):
        disk, mac = ["--disk-bytes", "500107862016"], ["--mac", "00-1A-2B-3C-4D-5E"]
        cases = [
            (FINGERPRINT, INTEL + disk + mac + ["--mhz", "2400"], 0, "match", []),
            (FINGERPRINT_NO_DISK, INTEL + mac, 0, "match", []),
            (FINGERPRINT_NO_DISK, INTEL + disk + mac, 1, "mismatch", [["disk_unreadable"]]),
            (FINGERPRINT_NO_DISK, ["--cpu-vendor", "GenuineIntel"] + disk + mac, 1, "mismatch", [["disk_unreadable"]]),
            (FINGERPRINT, INTEL + ["--disk-bytes", "256060514304"] + mac, 1, "mismatch", []),
            (FINGERPRINT, INTEL + ["--mac", "00-1A-2B"], 2, "bad fact", []),
            (FINGERPRINT, mac, 5, "not checkable", []),
        ]
        for text, options, expected_code, verdict, causes in cases:
            code, doc, _ = run_json("verify", text, *options)
            self.assertEqual((code, doc["verdict"]), (expected_code, verdict), options)
            self.assertEqual([e["causes"] for e in doc["explanations"]], causes, options)
        for options, message in [(INTEL + ["--mhz", "-1"], "--mhz \"-1\" is not a whole number"),
                                 (INTEL + ["--serial", "SN12345678"], "--serial does not apply to a fingerprint"),
                                 (INTEL + ["--cpuid-leaf0", "16"], "--cpuid-leaf0 is 32 hex digits")]:
            code, _, err = run("verify", FINGERPRINT, *options)
            self.assertEqual(code, 2, options)
            self.assertIn(message, err)
        self.assertEqual(run("verify", EX, "--brand", "x")[:2], (2, ""))
        code, doc, err = run_json("verify", FINGERPRINT[:-1] + "g", *INTEL)
        self.assertEqual((code, doc["valid"], doc["error"], doc["detail"]), (3, False, "character", 30))
        code, out, _ = run("decode", FINGERPRINT)
        self.assertEqual((code, out.splitlines()[0]), (0, FINGERPRINT + ": fingerprint (tav_get_pc_id)"))
        code, doc, _ = run_json("decode", FINGERPRINT, EX)
        self.assertEqual((code, doc["identifiers"][0]["kind"], doc["identifiers"][0]["decodable"]),
                         (0, "fingerprint", False))

    def test_malformed_identifier(self):
        code, doc, err = run_json("verify", EX[:-1], "--mac", "0A1B2C3D4E5F")
        self.assertEqual((code, doc["valid"], doc["error"]), (3, False, "length"))
        self.assertIn("bad length: 31", err)


class Compare(unittest.TestCase):
    def test_a_change_a_moved_adapter_explains_is_undecided(self):
        code, doc, _ = run_json("compare", EX, EX_OTHER_CPU)
        self.assertEqual(code, 5)
        self.assertFalse(doc["same_machine"])
        self.assertEqual(doc["changed_components"], ["processor"])
        self.assertEqual([c["field"] for c in doc["changes"]], ["processor_length", "processor_checksum"])
        self.assertEqual(doc["policy"], {"name": "evidence", "max_changed": 1, "must_keep": [], "threshold": 1e-05})
        self.assertEqual((doc["verdict"], doc["strong_matches"], doc["strong_changes"]), ("undecided", 1, 0))
        self.assertEqual((doc["false_accept_probability"], doc["likeliest_impostor"], doc["events"]),
                         (1, "moved_adapter", 1))
        # A machine of the model shows its processor text, never another.
        self.assertEqual(doc["impostor_odds"], {"sibling": 0, "model": 0, "moved_adapter": 1})
        self.assertEqual(doc["explanation"],
                         "a processor upgrade, or another machine that received its adapter: "
                         "the records cannot tell them apart")
        self.assertEqual([(e["component"], e["before"], e["relation"]) for e in doc["evidence"]],
                         [("mac", "strong", "same"), ("processor", "weak", "changed"),
                          ("firmware", "absent", "same"), ("mac_source", "weak", "same")])

    def test_policy_options(self):
        cases = [
            (["--policy", "count", "--max-changed", "0"], 1),
            (["--max-changed", "0"], 1),  # no change at all, however weak
            (["--must-keep", "processor"], 1),
            (["--policy", "count", "--must-keep", "mac,firmware"], 0),
        ]
        for options, expected_code in cases:
            code, doc, _ = run_json("compare", EX, EX_OTHER_CPU, *options)
            self.assertEqual(code, expected_code, options)
            self.assertEqual(doc["same_machine"], expected_code == 0, options)
        self.assertEqual(run("compare", EX, EX_OTHER_CPU, "--policy", "counting")[0], 2)
        for threshold in ("0", "1.5", "x", "nan"):
            self.assertEqual(run("compare", EX, EX_OTHER_CPU, "--threshold", threshold)[0], 2, threshold)

    def test_verdicts(self):
        sibling = "TQ1221000A1B7B470E00B90026006C9C"  # GetPCSNEx, MAC 0A1B2C3D4E60, same processor
        forged = EX[:4] + "A1FF" + EX[8:]             # source flags 0xFFA1
        cases = [
            ([EX, sibling], 5, "undecided"),
            ([EX, sibling, "--policy", "count"], 0, "same machine"),
            ([TWO_MACS, "TQ110102001126374466017142754A6B"], 5, "undecided"),  # both addresses other: dual port?
            ([EX, EX], 0, "same machine"),
            ([EX, EX_OTHER_CPU, "--threshold", "1"], 0, "same machine"),
        ]
        for args, expected_code, verdict in cases:
            code, doc, _ = run_json("compare", *args)
            self.assertEqual((code, doc["verdict"]), (expected_code, verdict), args)
        for args in ([EX, forged], [forged, EX, "--policy", "count"]):
            code, doc, err = run_json("compare", *args)
            self.assertEqual((code, doc["error"], doc["refused"]), (4, "not written by the DLL", [forged]), args)
            self.assertIn("not a record the DLL writes", err)
        code, doc, _ = run_json("verify", EX[:20] + "0000" + EX[24:], "--mac", "0A1B2C3D4E5F")
        self.assertEqual((code, doc["error"]), (4, "not written by the DLL"))

    def test_what_cannot_be_compared(self):
        cases = [
            ([TWO_MACS, EX], 5),
            ([EX, "TQ1225000A1B7B480B00E2E026006C9C"], 5),
            ([EX, EX[:-1]], 3),
        ]
        for ids, expected_code in cases:
            code, _, err = run_json("compare", *ids)
            self.assertEqual(code, expected_code, ids)
            self.assertTrue(err, ids)

    def test_text_output(self):
        code, out, _ = run("compare", TWO_MACS, ONE_MAC)
        self.assertEqual(code, 5)
        self.assertIn("mac_count: 2 -> 1 (mac)", out)
        self.assertIn("evidence: mac strong -> strong, changed:", out)
        self.assertIn("undecided (evidence policy): a different machine could show", out)
        self.assertIn("false-accept probability: 1 (moved_adapter)\n", out)
        self.assertIn("explanations: a network card replaced or added, a moved adapter or a dock, or another "
                      "machine that received its adapter", out)


class Contracts(unittest.TestCase):
    """One row per class of broken contract: exit codes, JSON, echoes, messages, options."""

    def test_exit_codes_and_messages(self):
        e_acute = EX[:30] + "\u00e9"  # 31 characters, 32 bytes
        cases = [
            (["verify", EX, "--mac", "zz", "--cpu-text", "nope"], 2, '--mac "zz" is not a MAC address'),
            (["verify", EX, "--uuid-text", "00112233-4455-6677-8899-aabbccddeeff"], 2, "four groups of 8"),
            (["decode", EX[:31] + "\u00e9"], 3, "bad length: 32 characters (33 bytes, not all ASCII)"),
            (["decode", e_acute], 3, "bad character '\u00e9' at character 31 (counted from 1)"),
            (["decode", EX[:7] + "g" + EX[8:]], 3, "bad character 'g' at character 8 (counted from 1)"),
            (["decode", "TQ13" + EX[4:]], 3, 'bad tag "TQ13" at character 4'),
            (["decod", EX], 2, 'unknown command "decod"'),
            (["-v"], 2, "unknown option -v"),
            (["compare", EX, EX, "--max-changed", "5"], 2, "0 to 4"),
            (["compare", EX, EX, "--policy", "strict"], 2, "evidence or count"),
            (["verify", EX, "--max-changed", "0"], 2, "--max-changed does not apply to verify"),
            (["compare", EX, EX, "--mac", "zz"], 2, "--mac does not apply to compare"),
            (["decode", EX, "--mac", "zz"], 2, "--mac does not apply to decode"),
            (["decode", EX, "--json=yes"], 2, "--json takes no value"),
        ]
        for args, expected_code, message in cases:
            code, out, err = run(*args)
            self.assertEqual(code, expected_code, args)
            self.assertIn(message, err + out, args)
            code, doc, _ = run_json(*args)  # one JSON document, whatever went wrong
            self.assertEqual(code, expected_code, args)

    def test_gnu_options(self):
        self.assertEqual(run_json("verify", EX, "--mac=0A1B2C3D4E5F", "--cpu-text=" + CPU)[1]["verdict"], "match")
        self.assertEqual(run_json("compare", "--", EX, EX)[1]["verdict"], "same machine")
        self.assertEqual(run("decode", "--", "--json")[0], 3)  # after "--" it is an identifier

    def test_texts_round_trip_and_echoes_are_escaped(self):
        text = "TQ12\u00e9\U0001F600"
        self.assertEqual(run_json("decode", text)[1]["identifiers"][0]["text"], text)
        forged = TWO_MACS + ": MAC identifier (GetMacSN)\n  source: 1 (adapter driver or IP Helper list)\x1b[2K"
        for args in (["decode", forged], ["verify", forged, "--mac", "0A1B2C3D4E5F"], ["compare", forged, EX]):
            code, out, err = run(*args)
            self.assertEqual(code, 3, args)
            self.assertNotIn("\n  source: 1", out + err, args)
            self.assertNotIn("\x1b", out + err, args)
            self.assertIn("\\n  source: 1", out + err, args)

    def test_output_that_cannot_be_written(self):
        with open("/dev/full", "w") as full:
            for options in ({"stdout": full}, {"preexec_fn": lambda: os.close(1)}):  # a full disk; no stdout
                done = subprocess.run([TOOL, "--json", "decode", EX], stderr=subprocess.PIPE, **options)
                self.assertEqual(done.returncode, 7, options)
                self.assertIn(b"standard output could not be written", done.stderr)


class Registry(unittest.TestCase):
    """tavsn registry: each outcome's exit code and JSON, one row each, on a
    scratch SQLite registry."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.db = os.path.join(self.folder.name, "licences.db")

    def tearDown(self):
        self.folder.cleanup()

    def test_outcomes_and_exit_codes(self):
        db = ["--db", self.db]
        at = ["--time", "2027-01-15T08:00:00Z"]
        rows = [
            (["check-in", *db, "--scope", "L-1", "--seats", "1", *at, EX], 0, "outcome", "activated"),
            (["check-in", *db, "--scope", "L-1", *at, EX], 0, "outcome", "known unchanged"),
            # Another processor and the first machine seen just now: two machines, and no seat left.
            (["check-in", *db, "--scope", "L-1", *at, EX_OTHER_CPU], 9, "outcome", "refused: no seat"),
            (["check-in", *db, "--scope", "L-1", *at, EX[:-1] + "D"], 4, "outcome",
             "refused: not written by the DLL"),
            (["check-in", *db, "--scope", "L-1", *at, "TQ12"], 3, "error", "malformed"),
            (["check-in", *db, *at, EX], 2, "error", "usage"),
            (["check-in", *db, "--scope", "L-1", "--time", "yesterday", EX], 2, "error", "usage"),
            (["check-in", *db, "--scope", "L-1", "--seats", "-1", EX], 2, "error", "usage"),
            (["identify", *db, EX], 0, "exit_code", 0),
            (["identify", *db, TWO_MACS], 10, "machines", []),
            (["history", *db, "1"], 0, "scope", "L-1"),
            (["history", *db, "99"], 10, "error", "not registered"),
            (["history", *db, "one"], 2, "error", "usage"),
            (["audit", *db], 0, "machines", 1),
            (["identify", "--db", os.path.join(self.folder.name, "none.db"), EX], 17, "error", "no registry"),
            (["identify", "--db", "mysql://host/db", EX], 2, "error", "usage"),
            (["frobnicate", *db], 2, "error", "usage"),
            (["identify", *db, "--scope", "L-1", EX], 2, "error", "usage"),
        ]
        for args, expected_code, key, value in rows:
            code, doc, err = run_json("registry", *args)
            self.assertEqual(code, expected_code, (args, doc, err))
            self.assertEqual(doc[key], value, (args, doc))

    def test_damaged_and_newer_registries(self):
        with open(self.db, "w") as garbage:
            garbage.write("not a database\n" * 100)
        self.assertEqual(run("registry", "audit", "--db", self.db)[0], 14)
        os.remove(self.db)
        self.assertEqual(run("registry", "audit", "--db", "sqlite:" + self.db)[0], 17)  # never made by a reader
        self.assertEqual(run("registry", "check-in", "--db", self.db, "--scope", "S", EX)[0], 0)
        import sqlite3
        with sqlite3.connect(self.db) as connection:
            connection.execute("UPDATE schema_version SET version = 99")
        code, _, err = run("registry", "audit", "--db", self.db)
        self.assertEqual(code, 16, err)

    def test_export_and_import_round_trip(self):
        scope = 'L,"1"\nsecond line'
        self.assertEqual(run("registry", "check-in", "--db", self.db, "--scope", scope, "--time", "1800000000",
                             TWO_MACS, EX)[0], 0)
        code, out, _ = run("registry", "export", "--db", self.db)
        self.assertEqual(code, 0)
        self.assertTrue(out.startswith("scope,machine,identifier,first_seen,last_seen\n"), out)
        self.assertIn('"L,""1""\nsecond line",1,' + TWO_MACS, out)
        csv_path = os.path.join(self.folder.name, "old.csv")
        with open(csv_path, "w") as csv:
            csv.write("scope,identifier,time\nS1,%s,1800000000\nS1,%s,1800000000\nS2,nonsense,1800000000\n"
                      % (TWO_MACS, EX))
        code, doc, _ = run_json("registry", "import", "--db", os.path.join(self.folder.name, "new.db"), csv_path)
        self.assertEqual((code, doc["imported"], doc["refused"]), (4, 2, 1), doc)


class CommandLine(unittest.TestCase):
    def test_usage_errors_and_help(self):
        for args in (["--bogus"], ["decode"], ["compare", EX], [], ["verify", EX, "--mac"]):
            code, out, err = run(*args)
            self.assertEqual(code, 2, args)
            self.assertIn("Usage:", err + out, args)
        code, out, _ = run("--help")
        self.assertEqual(code, 0)
        self.assertIn("Exit codes:", out)
        self.assertEqual(run("--version"), (0, "tavsn %s\n" % VERSION, ""))


def main():
    global TOOL, VERSION
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--version", required=True, help="the project's version")
    args, rest = parser.parse_known_args()
    TOOL, VERSION = args.tool, args.version
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
