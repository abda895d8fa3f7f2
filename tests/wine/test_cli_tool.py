"""The tavsn tool on Windows, with the real DLL: the identifiers it reports
are those the export host reads from the same DLL, its JSON parses, and
--trace shows the log lines of exactly those calls from a private copy of
the DLL, leaving nothing behind."""

import json
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
from export_host import EXPORTS, call_export  # noqa: E402
from library_bed import library_in_scratch, with_adapters  # noqa: E402

winebed.in_private_network_namespace()
bed = winebed.TestBed()

MAC = "0A1B2C3D4E5F"


def tool(prefix, *args):
    run = prefix.run([bed.program("tavsn.exe")] + list(args))
    return run.returncode, run.stdout.decode("latin-1").replace("\r\n", "\n")


def host_identifiers(prefix, dll):
    """What each export writes and returns, read by the export host."""
    found = {}
    for function, convention in EXPORTS:
        run = call_export(bed, prefix, dll, bed.export_name(function), convention, buffer_len=32)
        text = run.calls[0].buffer.decode("latin-1")
        found[function] = (run.calls[0].result, text[:31] if function == "tav_get_pc_id" else text)
    return found


@bed.case
def reports_what_the_exports_write(prefix):
    adapters = with_adapters(bed, prefix, lambda a: a.add("eth0", MAC))
    try:
        dll = library_in_scratch(bed, prefix, with_log=False)
        expected = host_identifiers(prefix, dll)
        code, text = tool(prefix, "--json", winebed.winpath(dll))
    finally:
        adapters.stop()
    bed.expect_equal(code, 0, "exit code (%s)" % text)
    report = json.loads(text)
    seen = {call["export"]: (call["return_code"], call.get("identifier")) for call in report["calls"]}
    bed.expect_equal(seen, expected, "identifiers reported by the tool")
    bed.expect_equal(expected["GetMacSN"][0], 32, "GetMacSN read the adapter")
    bed.expect(not os.path.exists(os.path.join(os.path.dirname(dll), "tavsn.log")),
               "the tool creates no log beside the DLL")


@bed.case
def trace_shows_the_calls_log(prefix):
    adapters = with_adapters(bed, prefix, lambda a: a.add("eth0", MAC))
    try:
        dll = library_in_scratch(bed, prefix, with_log=False)
        before = set(os.listdir(os.path.join(prefix.path, "drive_c")))
        code, text = tool(prefix, "--trace", winebed.winpath(dll))
    finally:
        adapters.stop()
    bed.expect_equal(code, 0, "exit code (%s)" % text)
    bed.expect("--- tavsn.log ---" in text, "trace section in %r" % text)
    log = text.split("--- tavsn.log ---", 1)[1]
    lines = [re.sub(r"^ *\d+: ", "", line) for line in log.splitlines()]
    for line in ("GetMacSN start.", "GetPCSNEx start.", "GetMacSN First Mac [ %s ]" % MAC,
                 "GetPCSN First Mac [ %s ]" % MAC):
        bed.expect(line in lines, "%r in the trace" % line)
    identifier = re.search(r"^GetMacSN +(TQ11[0-9A-F]{28})", text, re.M)
    bed.expect(identifier is not None and "GetMacSN  [ %s ]" % identifier.group(1) in lines,
               "the traced identifier is the reported one")
    bed.expect(not os.path.exists(os.path.join(os.path.dirname(dll), "tavsn.log")),
               "no log beside the caller's DLL")
    bed.expect_equal(set(os.listdir(os.path.join(prefix.path, "drive_c"))), before,
                     "nothing left behind on drive C")


bed.main()
