"""GetPCSN, GetPCSNEx and their aliases through the real exports of
tavsn.dll: the argument checks, the result for each MAC source, the aliases
equal to their targets, the firmware read against Wine's own WMI (which has
no table) and against the stand-in provider (tables built here, a failing
step, every interface released once, in reverse order), a caller in a
single-threaded apartment, and the stack each export needs."""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
import wmi_standin  # noqa: E402
from export_host import call_export  # noqa: E402
from library_bed import library_in_scratch, log_lines, system_table, with_adapters  # noqa: E402

winebed.in_private_network_namespace()
bed = winebed.TestBed()

CANARY = 0x5A
MAC = "0A1B2C3D4E5F"
UUID_TEXT = "33221100-77665544-bbaa9988-ffeeddcc"
STACK_LIMIT = 16 * 1024
RELEASE_ORDER = ["object", "enumerator", "services", "locator"]


def checksum16(data):
    total = sum(data[i] | data[i + 1] << 8 for i in range(0, len(data) - 1, 2))
    return 0xFFFF - (((total >> 16) + (total & 0xFFFF)) & 0xFFFF)


def fields(text):
    """The record of a machine identifier as its little-endian 16-bit fields
    and the MAC prefix bytes."""
    bed.expect(re.fullmatch(r"TQ12[0-9A-F]{28}", text) is not None, "identifier %r" % text)
    record = bytes.fromhex(text[4:])
    word = lambda offset: record[offset] | record[offset + 1] << 8  # noqa: E731
    return {"flags": word(0), "prefix": record[2:4], "mac_checksum": word(4),
            "system_length": word(6), "system_checksum": word(8),
            "processor_length": word(10), "processor_checksum": word(12), "record": record}


def identify(prefix, dll, function, **options):
    convention = "stdcall" if function in ("GetPCSN", "GetPCSNEx") else "cdecl"
    run = call_export(bed, prefix, dll, bed.export_name(function), convention, canary=CANARY,
                      **options)
    bed.expect_equal(run.exit_code, 0, "host exit code (%r)" % run)
    for call in run.calls:
        bed.expect(call.stack_balanced, "stack balanced after %r" % call)
        bed.expect(call.guard_intact is not False, "guard bytes intact after %r" % call)
    return run


def processor_line(lines):
    for line in lines:
        found = re.fullmatch(r"GetPCSNEx CPU (?:SN|Details) \[ (.*) \]", line)
        if found:
            return found.group(1)
    raise winebed.Failure("no processor line in %r" % lines)


def expect_mac_and_processor(record, lines, mac):
    mac_bytes = bytes.fromhex(mac)
    bed.expect_equal(record["prefix"], mac_bytes[:2], "MAC prefix")
    bed.expect_equal(record["mac_checksum"], checksum16(mac_bytes), "MAC checksum")
    processor = processor_line(lines).encode("latin-1")
    bed.expect_equal((record["processor_length"], record["processor_checksum"]),
                     (len(processor), checksum16(processor)), "processor fields")


@bed.case
def bad_arguments_write_nothing(prefix):
    dll = library_in_scratch(bed, prefix, with_log=True)
    for function in ("GetPCSN", "GetPCSNEx", "tav_get_pc_id_ex", "tav_get_pc_id_info"):
        for options, expected in (({"null_buffer": True, "size_arg": 100}, -2),
                                  ({"size_arg": 0}, -2), ({"size_arg": 31}, -3),
                                  ({"size_arg": -5}, -3)):
            run = identify(prefix, dll, function, buffer_len=64, **options)
            bed.expect_equal(run.calls[0].result, expected, "%s with %r" % (function, options))
            if not options.get("null_buffer"):
                bed.expect_equal(run.calls[0].buffer, bytes([CANARY]) * 64, "buffer untouched")
    lines = [line for line in log_lines(bed, dll) if "TavSN" not in line and line]
    bed.expect_equal(lines[:4], ["GetPCSNEx start.", "GetPCSN Invalid Param.",
                                 "GetPCSNEx start.", "GetPCSN Invalid Param."], "log lines")


@bed.case
def each_mac_source_and_the_aliases(prefix):
    """A physical adapter gives 0, the IP Helper list 1, a UUID's node 2;
    each alias writes what its target writes. Wine's own WMI has no table:
    GetPCSN then writes zero firmware fields and says why."""
    cases = [("physical", lambda a: a.add("eth0", MAC), 0, 0x0001),
             ("ip helper", lambda a: a.add("ethPCI", MAC, registered=False), 1, 0x0001)]
    for name, make, source, mac_flags in cases:
        adapters = with_adapters(bed, prefix, make)
        try:
            dll = library_in_scratch(bed, prefix, with_log=True)
            texts = {}
            for function in ("GetPCSN", "tav_get_pc_id_ex", "GetPCSNEx", "tav_get_pc_id_info"):
                run = identify(prefix, dll, function, buffer_len=33, size_arg=32)
                bed.expect_equal(run.calls[0].result, source, "%s: %s result" % (name, function))
                bed.expect_equal(run.calls[0].buffer[32], CANARY, "byte 33 untouched")
                texts[function] = run.calls[0].buffer[:32].decode()
        finally:
            adapters.stop()
        bed.expect_equal(texts["tav_get_pc_id_ex"], texts["GetPCSN"], "%s: alias of GetPCSN" % name)
        bed.expect_equal(texts["tav_get_pc_id_info"], texts["GetPCSNEx"], "%s: alias of GetPCSNEx" % name)
        lines = log_lines(bed, dll)
        plain, ex = fields(texts["GetPCSN"]), fields(texts["GetPCSNEx"])
        expect_mac_and_processor(plain, lines, MAC)
        expect_mac_and_processor(ex, lines, MAC)
        bed.expect_equal(plain["flags"] & ~0x0030, mac_flags, "%s: GetPCSN flags" % name)
        bed.expect_equal((plain["system_length"], plain["system_checksum"]), (0, 0), "no firmware")
        bed.expect("An error occurred retrieving this data from the bios. No information available."
                   in lines, "the firmware search says it found nothing")
        bed.expect("GetPCSN init_system_information failed. " in lines, "the failure line")
        bed.expect_equal(ex["system_length"], 14, "GetPCSNEx system length")
        zeroed = ex["record"][:8] + b"\0\0" + ex["record"][10:]
        bed.expect_equal(ex["system_checksum"], checksum16(zeroed), "GetPCSNEx self-checksum")


@bed.case
def uuid_node_when_no_adapter_answers(prefix):
    winebed.remove_interfaces()
    dll = library_in_scratch(bed, prefix, with_log=True)
    for function in ("GetPCSN", "GetPCSNEx"):
        run = identify(prefix, dll, function, buffer_len=32, size_arg=32)
        bed.expect_equal(run.calls[0].result, 2, "%s result from a UUID's node" % function)
        bed.expect_equal(fields(run.calls[0].buffer.decode())["flags"] & 0x0003, 0x0003, "UUID flags")


def firmware_run(prefix, adapters_made, **served):
    wmi_standin.install(bed, prefix)
    dll = library_in_scratch(bed, prefix, with_log=True)
    env = wmi_standin.environment(prefix, **served)
    run = identify(prefix, dll, "GetPCSN", buffer_len=32, size_arg=32, extra_env=env)
    return run, log_lines(bed, dll), wmi_standin.read_journal(prefix)


def expect_released_in_reverse_order(journal):
    released = [line.who for line in journal if line.what == "destroyed" and line.who in RELEASE_ORDER]
    bed.expect_equal(released, RELEASE_ORDER, "interfaces given back once each, in reverse order")


@bed.case
def firmware_through_the_provider(prefix):
    adapters = with_adapters(bed, prefix, lambda a: a.add("eth0", MAC))
    try:
        # A serial number with a line break (a virtual machine's owner sets
        # it) counts as it is, and its log line stays one line.
        for serial, flag, text in (("SN12345678", 0x0004, "SN12345678"),
                                   ("1234567", 0x0008, UUID_TEXT),
                                   ("SN\r\n1234: forged", 0x0004, "SN\r\n1234: forged")):
            run, lines, journal = firmware_run(prefix, adapters, table=system_table(serial),
                                               major=2, minor=7)
            record = fields(run.calls[0].buffer.decode())
            bed.expect_equal(record["flags"] & 0x000C, flag, "firmware flag for %r" % serial)
            bed.expect_equal((record["system_length"], record["system_checksum"]),
                             (len(text), checksum16(text.encode())), "firmware fields for %r" % serial)
            word = "SN" if flag == 0x0004 else "UUID"
            logged = text.replace("\r", " ").replace("\n", " ")
            bed.expect("GetPCSN Motherboard %s [ %s ]" % (word, logged) in lines, "firmware line in %r" % lines)
            expect_released_in_reverse_order(journal)
            connect = [line for line in journal if line.who == "locator" and line.what == "ConnectServer"]
            bed.expect_equal(connect[0].fields.get("resource"), "ROOT\\WMI", "namespace asked for")

        run, lines, journal = firmware_run(prefix, adapters, table=bytes([127, 4, 0, 0, 0, 0]),
                                           major=2, minor=7)
        bed.expect_equal(fields(run.calls[0].buffer.decode())["system_length"], 0, "no system structure")
        bed.expect("GetPCSN init_system_information failed. " in lines, "failure line")

        run, lines, journal = firmware_run(prefix, adapters, table=system_table("SN12345678"),
                                           fail={"connect": 0x8004100E})
        bed.expect("init_raw_smbios_data ConnectServer hResult [-2147217394]." in lines,
                   "ConnectServer line in %r" % lines)
        bed.expect_equal(run.calls[0].result, 0, "the identifier is still written")

        run, lines, journal = firmware_run(prefix, adapters, table=bytes(64000), major=2, minor=7)
        bed.expect("init_raw_smbios_data Bios Data Overflow length [64000]." in lines, "overflow line")
        expect_released_in_reverse_order(journal)
    finally:
        adapters.stop()


@bed.case
def single_threaded_apartment_caller(prefix):
    adapters = with_adapters(bed, prefix, lambda a: a.add("eth0", MAC))
    try:
        dll = library_in_scratch(bed, prefix, with_log=True)
        run = identify(prefix, dll, "GetPCSN", buffer_len=32, size_arg=32, apartment="sta")
    finally:
        adapters.stop()
    bed.expect_equal(run.facts.get("apartment_joined"), "0", "the host joined an STA")
    bed.expect_equal(run.facts.get("apartment_after"), "sta", "the apartment is left as it was")
    lines = log_lines(bed, dll)
    bed.expect("init_raw_smbios_data CoInitializeEx hResult [-2147417850]." in lines, "%r" % lines)
    bed.expect_equal(fields(run.calls[0].buffer.decode())["system_length"], 0, "zero firmware fields")


@bed.case
def every_export_stays_within_its_stack(prefix):
    adapters = with_adapters(bed, prefix, lambda a: a.add("eth0", MAC))
    peaks = {}
    try:
        wmi_standin.install(bed, prefix)
        env = wmi_standin.environment(prefix, table=system_table("SN12345678"), major=2, minor=7)
        dll = library_in_scratch(bed, prefix, with_log=True)
        for function in ("GetMacSN", "GetPCSN", "GetPCSNEx", "tav_get_pc_id_ex",
                         "tav_get_pc_id_info", "tav_get_pc_id"):
            convention = "stdcall" if function in ("GetMacSN", "GetPCSN", "GetPCSNEx") else "cdecl"
            run = call_export(bed, prefix, dll, bed.export_name(function), convention,
                              buffer_len=64, stack_peak=True, extra_env=env)
            peaks[function] = run.calls[0].stack_peak
    finally:
        adapters.stop()
    print("  stack peaks (bytes): %r" % peaks, flush=True)
    for function, peak in peaks.items():
        bed.expect(peak is not None and 0 < peak < STACK_LIMIT, "%s stack peak %r" % (function, peak))


bed.main()
