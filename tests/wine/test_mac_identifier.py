"""GetMacSN through the real export of tavsn.dll, called by the test host
with a canary-filled buffer, on adapters that each case makes in its own
network namespace and registry."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
from library_bed import Adapters, library_in_scratch, log_lines, with_adapters  # noqa: E402,F401
from export_host import call_export  # noqa: E402

winebed.in_private_network_namespace()
bed = winebed.TestBed()

CANARY = 0x5A
EXPORT = bed.export_name("GetMacSN")


def get_mac_sn(prefix, dll, **options):
    run = call_export(bed, prefix, dll, EXPORT, "stdcall", canary=CANARY, **options)
    bed.expect_equal(run.exit_code, 0, "host exit code (%r)" % run)
    for call in run.calls:
        bed.expect(call.stack_balanced, "stack balanced after %r" % call)
        bed.expect(call.guard_intact is not False, "guard bytes intact after %r" % call)
    return run


def mac_identifier(source, macs):
    """The MAC identifier a record of these addresses gives: both masks come
    from the first address."""
    first = bytes.fromhex(macs[0])
    second = bytes.fromhex(macs[1] if len(macs) > 1 else macs[0])
    record = bytes([source, len(macs) & 0xFF])
    record += bytes(b ^ first[0] for b in first) + bytes(b ^ first[1] for b in second)
    return "TQ11" + record.hex().upper()


@bed.case
def bad_arguments_write_nothing(prefix):
    dll = library_in_scratch(bed, prefix, with_log=True)
    for options, expected in (({"null_buffer": True, "size_arg": 100}, -2),
                              ({"size_arg": 0}, -2),
                              ({"size_arg": 31}, -3),
                              ({"size_arg": -5}, -3)):
        run = get_mac_sn(prefix, dll, buffer_len=100, **options)
        bed.expect_equal(run.calls[0].result, expected, "result for %r" % options)
        if not options.get("null_buffer"):
            bed.expect_equal(run.calls[0].buffer, bytes([CANARY]) * 100, "buffer for %r" % options)
    # Each process opens the log afresh: a banner, then the two lines.
    with open(os.path.join(os.path.dirname(dll), "tavsn.log"), "rb") as f:
        text = f.read().decode("latin-1")
    bed.expect_equal(text.count("TavSN"), 4, "banners")
    body = [re.sub(r"^ *\d+: ", "", line) for line in text.split("\r\n")
            if "TavSN" not in line and line.strip() and not re.fullmatch(r" *\d+: ", line)]
    bed.expect_equal(body, ["GetMacSN start.", "GetMacSN Invalid Param."] * 2 +
                     ["GetMacSN start.", "GetMacSN Buffer To Small."] * 2, "log lines")


@bed.case
def one_physical_adapter_fills_exactly_32_bytes(prefix):
    adapters = with_adapters(bed, prefix, lambda a: a.add("eth0", "0A1B2C3D4E5F"))
    try:
        dll = library_in_scratch(bed, prefix, with_log=True)
        run = get_mac_sn(prefix, dll, buffer_len=33, size_arg=32, calls=2)
    finally:
        adapters.stop()
    expected = "TQ110101001126374455110037265544"
    for call in run.calls:
        bed.expect_equal(call.result, 32, "result")
        bed.expect_equal(call.buffer[:32].decode("latin-1"), expected, "identifier")
        bed.expect_equal(call.buffer[32], CANARY, "33rd byte")
    lines = log_lines(bed, dll)
    one_call = ["GetMacSN start.",
                "GetPhysicalMac",
                "SetApi Index [0] Desc [Adapter eth0] Mac [0A1B2C3D4E5F].",
                "GetMacSN Mac Count [ 1 ]",
                "GetMacSN First Mac [ 0A1B2C3D4E5F ]",
                "GetMacSN  [ %s ]" % expected]
    bed.expect_equal(lines, one_call * 2, "log lines of two calls in one process")


@bed.case
def two_and_three_physical_adapters(prefix):
    macs = ["30AA00000003", "10BB00000001", "20CC00000002"]

    def make(a):
        for i, mac in enumerate(macs):
            a.add("eth%d" % i, mac)
    adapters = with_adapters(bed, prefix, make)
    try:
        dll = library_in_scratch(bed, prefix, with_log=True)
        run = get_mac_sn(prefix, dll, buffer_len=40, size_arg=40)
    finally:
        adapters.stop()
    ascending = sorted(macs)
    expected = mac_identifier(1, ascending)
    bed.expect_equal(run.calls[0].result, 32, "result")
    bed.expect_equal(run.calls[0].buffer[:32].decode(), expected, "identifier with count 3")
    bed.expect_equal(run.calls[0].buffer[32:], bytes([CANARY]) * 8, "bytes after the identifier")
    lines = log_lines(bed, dll)
    bed.expect("GetMacSN Mac Count [ 3 ]" in lines, "count line")
    bed.expect("GetMacSN First Mac [ %s ]" % ascending[0] in lines, "first line")
    bed.expect("GetMacSN Second Mac [ %s ]" % ascending[1] in lines, "second line")


@bed.case
def ip_helper_fallback(prefix):
    # No adapter in the registry: the IP Helper list gives the first name
    # containing "PCI".
    def make(a):
        a.add("wlan0", "02AABBCCDDEE", registered=False)
        a.add("ethPCI", "0A1B2C3D4E5F", registered=False)
    adapters = with_adapters(bed, prefix, make)
    try:
        dll = library_in_scratch(bed, prefix, with_log=True)
        run = get_mac_sn(prefix, dll, buffer_len=32, size_arg=32)
    finally:
        adapters.stop()
    bed.expect_equal(run.calls[0].result, 32, "result")
    bed.expect_equal(run.calls[0].buffer.decode(), "TQ110101001126374455110037265544", "identifier")
    bed.expect_equal(log_lines(bed, dll), ["GetMacSN start.",
                                      "GetPhysicalMac",
                                      "EnumNetAdapters Count = 0.",
                                      "GetMacSN  GetPhysicalMac MacCount is 0 .",
                                      "GetMacSN Mac Count [ 1 ]",
                                      "GetMacSN First Mac [ 0A1B2C3D4E5F ]",
                                      "GetMacSN  [ TQ110101001126374455110037265544 ]"],
                     "log lines")


@bed.case
def uuid_fallback_has_source_zero(prefix):
    # No interface at all: IP Helper has nothing, and the UUID's node is
    # random (local only), which is still accepted.
    winebed.remove_interfaces()
    dll = library_in_scratch(bed, prefix, with_log=True)
    run = get_mac_sn(prefix, dll, buffer_len=32, size_arg=32)
    bed.expect_equal(run.calls[0].result, 32, "result")
    text = run.calls[0].buffer.decode()
    bed.expect(re.fullmatch(r"TQ110001[0-9A-F]{24}", text) is not None, "identifier %r" % text)
    lines = log_lines(bed, dll)
    node = re.fullmatch(r"GetMacSN First Mac \[ ([0-9A-F]{12}) \]", lines[-2])
    bed.expect(node is not None, "first mac line %r" % lines[-2])
    bed.expect_equal(text, mac_identifier(0, [node.group(1)]), "identifier from the node")
    bed.expect_equal(lines[:6], ["GetMacSN start.",
                                 "GetPhysicalMac",
                                 "EnumNetAdapters Count = 0.",
                                 "GetMacSN  GetPhysicalMac MacCount is 0 .",
                                 "GetMacSN  GetMacFromPCI MacCount is 0 .",
                                 "CGetMac GetUUIDMac start "], "log lines")
    bed.expect_equal(lines[6], "GetMacSN Mac Count [ 1 ]", "count line")


@bed.case
def import_library_host_gets_the_same_identifiers(prefix):
    # A C program linked through libtavsn.dll.a and tavsn.h reaches the same
    # exports as a run-time lookup by name.
    adapters = with_adapters(bed, prefix, lambda a: a.add("eth0", "0A1B2C3D4E5F"))
    try:
        linked = prefix.run([bed.program("import_host.exe")])
        looked_up = call_export(bed, prefix, bed.program("tavsn.dll"), "tav_get_pc_id", "cdecl",
                                buffer_len=32, size_arg=32)
    finally:
        adapters.stop()
    bed.expect_equal(linked.returncode, 0, "import_host exit code")
    lines = linked.stdout.decode("latin-1").splitlines()
    bed.expect_equal(lines[0], "GetMacSN 32 TQ110101001126374455110037265544 #", "GetMacSN line")
    pc_id = looked_up.calls[0].buffer[:31].decode()
    bed.expect_equal(lines[1], "tav_get_pc_id 32 %s 0 #" % pc_id, "tav_get_pc_id line")


@bed.case
def no_log_file_means_no_file(prefix):
    dll = library_in_scratch(bed, prefix, with_log=False)
    get_mac_sn(prefix, dll, buffer_len=32, size_arg=32)
    bed.expect_equal(os.listdir(os.path.dirname(dll)), ["tavsn.dll"], "folder contents")


bed.main()
