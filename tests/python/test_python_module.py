#!/usr/bin/env python3
"""The Python module against the tavsn tool: for the same inputs, every field
the module returns equals the tool's --json output.

    python3 tests/python/test_python_module.py --library build/linux/server/libtavsn_server.so --tool build/linux/tavsn
"""
import argparse
import dataclasses
import json
import pathlib
import subprocess
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "bindings" / "python"))
import tavsn_server as ts  # noqa: E402

TOOL = None
TWO_MACS, ONE_MAC = "TQ1101020011263744550B3B2B5B4B7B", "TQ110101001126374455110037265544"
EX, EX_OTHER_CPU = "TQ1221000A1B7B480E00B8FF26006C9C", "TQ1221000A1B7B480E0068882400BF13"
SERIAL, UUID = "TQ1225000A1B7B480A00DBDC26006FA0", "TQ1229000A1B7B482300A26C26006FA0"
NOT_READ = "TQ1211000A1B7B48000000001D002348"
CPU = "Example CPU-00000000-00000006-00000094"
PARSE_ERRORS = {"length": ts.ERROR_LENGTH, "tag": ts.ERROR_TAG, "character": ts.ERROR_CHARACTER}
# What the tool reports beyond the C API.
TOOL_ONLY = {"text", "valid", "anomalies", "source_flag_words", "expected_self_checksum", "exit_code"}


def tool_json(*args):
    out = subprocess.run([TOOL, "--json", *args], capture_output=True, text=True, timeout=60).stdout
    return json.loads(out) if out else None  # a usage error prints no JSON


class AgainstTheTool(unittest.TestCase):
    def check(self, call, doc, compare_fields):
        if doc is None:
            self.assertRaises(ValueError, call)
        elif doc.get("valid") is False or "error" in doc:
            with self.assertRaises(ts.TavsnServerError) as raised:
                call()
            if "error" in doc and "valid" not in doc:
                kinds = ts.ERROR_DIFFERENT_EXPORTS if "GetPCSNEx" in doc["error"] else ts.ERROR_DIFFERENT_KINDS
                self.assertEqual(raised.exception.code, kinds)
            else:
                self.assertEqual((raised.exception.code, raised.exception.detail),
                                 (PARSE_ERRORS[doc["error"]], doc["detail"]))
        else:
            compare_fields(call(), doc)

    def test_decode(self):
        texts = [TWO_MACS, ONE_MAC, "TQ110001001126374455110037265544", "TQ1101000011263744550B3B2B5B4B7B",
                 "TQ1102020011263744550B3B2B5B4B7B", SERIAL, UUID, NOT_READ, EX, EX[:20] + "B9" + EX[22:],
                 EX[:31], EX + "0", "", "TQ13" + EX[4:], EX.lower(), EX[:10] + "x" + EX[11:], "TQ12\u00e9" + EX[5:]]

        def same_fields(decoded, doc):
            names = {f.name for f in dataclasses.fields(decoded)}
            self.assertLessEqual(set(doc) - names, TOOL_ONLY, doc["text"])
            for name in names - {"anomaly_count"}:
                self.assertEqual(getattr(decoded, name), doc[name], (doc["text"], name))
            self.assertEqual(decoded.anomaly_count, len(doc["anomalies"]), doc["text"])

        for text, doc in zip(texts, tool_json("decode", *texts)["identifiers"]):
            self.check(lambda: ts.decode(text), doc, same_fields)

    def test_verify(self):
        cases = [
            (TWO_MACS, "--mac", "10-20-30-40-50-60", "--mac", "0a1b2c3d4e5f"),
            (TWO_MACS, "--mac", "102030405060", "--mac", "0A1B2C3D4E5F", "--list-order", "given"),
            (TWO_MACS, "--mac", "0A1B2C3D4E5F", "--mac", "102030405060", "--mac-source", "0"),
            (TWO_MACS, "--mac", "0A1B2C3D4E5"), (TWO_MACS,), (TWO_MACS, "--serial", "SN12345678"),
            (EX, "--mac", "102030405060", "--mac", "0a:1b:2c:3d:4e:5f", "--cpu-text", CPU),
            (EX, "--mac", "102030405060", "--mac", "0A1B2C3D4E5F", "--list-order", "given"),
            (EX, "--mac", "0A1B2C3D4E5F", "--mac", "0a-1b:2c-3d-4e-5f"), (EX, "--mac-source", "1"),
            (SERIAL, "--serial", "SN12345678"), (SERIAL, "--serial", "1234567", "--cpu-text", CPU),
            (UUID, "--uuid-text", "33221100-77665544-bbaa9988-ffeeddcc", "--serial", "1234567"),
            (EX[:31], "--mac", "0A1B2C3D4E5F"),
        ]
        keywords = {"--list-order": "list_order", "--mac-source": "mac_source", "--cpu-text": "cpu_text",
                    "--serial": "serial", "--uuid-text": "uuid_text"}

        def same_verdicts(verification, doc):
            self.assertEqual((verification.kind, verification.verdict), (doc["kind"], doc["verdict"]))
            if verification.kind == "machine":
                self.assertEqual(verification.facts, doc["facts"])

        for text, *options in cases:
            pairs = list(zip(options[::2], options[1::2]))
            macs = [value for option, value in pairs if option == "--mac"]
            facts = {keywords[o]: int(v) if o == "--mac-source" else v for o, v in pairs if o != "--mac"}
            with self.subTest(text=text, options=options):
                self.check(lambda: ts.verify(text, macs, **facts), tool_json("verify", text, *options),
                           same_verdicts)

    def test_compare(self):
        cases = [
            (EX, EX_OTHER_CPU), (EX, EX_OTHER_CPU, "--max-changed", "0"),
            (EX, EX_OTHER_CPU, "--must-keep", "processor,mac"), (TWO_MACS, ONE_MAC),
            (SERIAL, "TQ1223000A1B7B480000000026006C9C", "--max-changed", "2"),
            (TWO_MACS, EX), (EX, SERIAL), (EX, EX[:-1]),
        ]

        def same_changes(comparison, doc):
            self.assertEqual(list(comparison.changed_components), doc["changed_components"])
            self.assertEqual(comparison.changed_fields, len(doc["changes"]))
            self.assertEqual(comparison.same_machine, doc["same_machine"])

        for before, after, *options in cases:
            given = dict(zip(options[::2], options[1::2]))
            policy = ts.ComparePolicy(int(given.get("--max-changed", 1)),
                                      tuple(given["--must-keep"].split(",")) if "--must-keep" in given else ())
            with self.subTest(before=before, after=after, options=options):
                self.check(lambda: ts.compare(before, after, policy if options else None),
                           tool_json("compare", before, after, *options), same_changes)


def main():
    global TOOL
    parser = argparse.ArgumentParser()
    parser.add_argument("--library", required=True)
    parser.add_argument("--tool", required=True)
    args, rest = parser.parse_known_args()
    TOOL = args.tool
    ts.load(args.library)
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
