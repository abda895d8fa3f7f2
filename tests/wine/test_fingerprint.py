"""tav_get_pc_id through the real tavsn.dll under Wine, called by
tavsn_host.exe, against a fingerprint rebuilt here from platform facts that
fingerprint_facts.exe reads without the library's code.

The script runs in a private network namespace, so the first adapter that
IP Helper lists is one a case made itself, or there is none at all."""

import hashlib
import os
import re
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
from export_host import call_export  # noqa: E402

winebed.in_private_network_namespace()

NO_ADAPTER_MESSAGE = "Cannot get Adapter Information Found."
CANARY = 0xCC

bed = winebed.TestBed()


def dll():
    return bed.program("tavsn.dll")


def interfaces(*macs):
    """Only veth interfaces with these addresses, in this order, before the
    case's first Wine process."""
    winebed.remove_interfaces()
    for number, mac in enumerate(macs):
        winebed.add_veth("tvfp%d" % number, mac)


def pc_id(prefix, **options):
    options.setdefault("buffer_len", 64)
    return call_export(bed, prefix, dll(), "tav_get_pc_id", "cdecl", **options)


# --- the expected fingerprint, rebuilt from the probe's facts -----------------

def probe_facts(prefix):
    out = prefix.run([bed.program("fingerprint_facts.exe")])
    bed.expect_equal(out.returncode, 0, "fingerprint_facts exit code")
    text = out.stdout.decode("latin-1")
    facts = dict(re.findall(r"^(\w+)=(.*?)\r?$", text, re.M))
    facts["stdout"] = text
    return facts


def registers(facts, leaf):
    return [int(word, 16) for word in facts["leaf" + leaf].split()]


def little_endian(*words):
    return b"".join(struct.pack("<I", word) for word in words)


def zero_terminated(data):
    return data.split(b"\0", 1)[0]


def expected_texts(facts):
    """The texts the probes should leave, as bytes; b"" for a failed probe."""
    eax, ebx, ecx, edx = registers(facts, "0")
    texts = {"cpuid": ("%08X%08X%08X%08X" % (eax, ebx, ecx, edx)).encode(),
             "vendor": little_endian(ebx, edx, ecx)}
    brand = b""
    if registers(facts, "80000000")[0] >= 0x80000004:
        brand = b"".join(little_endian(*registers(facts, leaf))
                         for leaf in ("80000002", "80000003", "80000004"))
    texts["brand_area"] = brand
    texts["mhz"] = b""
    if facts.get("clock_key_status") == "0" and facts.get("clock_value_status") == "0":
        texts["mhz"] = b"%08X" % int(facts["clock_mhz"])
    texts["memory"] = b"%08X" % ((int(facts["memory_total"]) >> 20) & 0xFFFFFFFF) \
        if facts["memory_ok"] == "1" else b""
    texts["disk"] = b""
    if facts["disk_open"] == "1" and facts["disk_query_ok"] == "1":
        texts["disk"] = b"%08X" % ((int(facts["disk_length"]) // 10**9) & 0xFFFFFFFF)
    texts["mac"] = facts["first_address"].encode() if facts["adapters_status"] == "0" else b""
    return texts


def expected_record(texts):
    record = bytearray(248)

    def put(offset, data):
        record[offset:offset + len(data)] = data
        if len(data) and offset + len(data) < 248:
            record[offset + len(data)] = 0

    put(0, texts["cpuid"])
    put(32, texts["vendor"])
    if texts["brand_area"]:
        put(96, texts["brand_area"])
    put(160, texts["mhz"])
    put(168, texts["memory"])
    put(176, texts["disk"])
    put(184, texts["mac"])
    return bytes(record)


def expected_pc_id(texts):
    brand = zero_terminated(texts["brand_area"])
    disk_run_on = texts["disk"] + texts["mac"] if texts["disk"] else b""
    digest_input = (texts["cpuid"] + texts["vendor"] + texts["vendor"] + brand + disk_run_on
                    + texts["mac"])
    return hashlib.md5(digest_input).hexdigest()[:31].upper().encode() + b"\0"


def expect_fingerprint_matches_facts(prefix, chosen_mac):
    facts = probe_facts(prefix)
    bed.expect_equal(facts["adapters_status"], "0" if chosen_mac else "232", "GetAdaptersInfo status")
    if chosen_mac:
        bed.expect_equal(facts["first_address"], chosen_mac, "first adapter address")
    texts = expected_texts(facts)
    bed.expect_equal(bytes.fromhex(facts["record"]).hex().upper(),
                     expected_record(texts).hex().upper(), "library's probe record")
    run = pc_id(prefix, calls=2)
    bed.expect_equal(run.exit_code, 0, "host exit code")
    for call in run.calls:
        bed.expect_equal(call.result, 32, "result")
        bed.expect_equal(call.buffer[:32], expected_pc_id(texts), "fingerprint")
    print_verify_row(facts, run.calls[0].buffer[:31])
    return run


def print_verify_row(facts, fingerprint):
    """The facts this machine's fingerprint was made from, as tavsn verify
    takes them: rows for the server's table of known fingerprints."""
    leaf0 = "".join(word for word in facts["leaf0"].split())
    options = ["--cpuid-leaf0", leaf0]
    if registers(facts, "80000000")[0] >= 0x80000004:
        brand = b"".join(little_endian(*registers(facts, leaf)) for leaf in ("80000002", "80000003", "80000004"))
        options += ["--brand", repr(zero_terminated(brand).decode("latin-1"))]
    if facts["disk_open"] == "1" and facts["disk_query_ok"] == "1":
        options += ["--disk-bytes", facts["disk_length"]]
    if facts["adapters_status"] == "0":
        options += ["--mac", facts["first_address"]]
    print("verify row: %s %s" % (fingerprint.decode(), " ".join(options)), flush=True)


def expect_written_exactly_32_bytes(call, buffer_len):
    bed.expect_equal(call.result, 32, "result")
    bed.expect(re.fullmatch(rb"[0-9A-F]{31}\0", call.buffer[:32]) is not None,
               "31 uppercase digits and a zero byte: %r" % call.buffer[:32])
    bed.expect_equal(call.buffer[32:], bytes([CANARY]) * (buffer_len - 32), "bytes after the 32nd")
    bed.expect(call.guard_intact, "guard bytes behind the buffer")
    bed.expect(call.stack_balanced, "caller-cleanup stack: esp_delta %d" % call.esp_delta)
    bed.expect(call.registers_preserved, "EBX, ESI, EDI, EBP preserved")


# --- cases ----------------------------------------------------------------------

@bed.case
def short_lengths_and_null_data_write_nothing_and_run_no_probe(prefix):
    # With no adapter a probe run would print the message: silence shows
    # that none ran.
    interfaces()
    for size in (31, 1, 0):
        run = pc_id(prefix, size_arg=size)
        bed.expect_equal(run.exit_code, 0, "host exit code")
        call = run.calls[0]
        bed.expect_equal(call.result, -1, "result for size %d" % size)
        bed.expect_equal(call.buffer, bytes([CANARY]) * 64, "buffer for size %d" % size)
        bed.expect(call.stack_balanced and call.guard_intact, "stack and guard, size %d" % size)
        bed.expect_equal(run.stdout, "", "standard output for size %d" % size)
    for size in (32, 1000, 0):
        run = pc_id(prefix, size_arg=size, null_buffer=True)
        bed.expect_equal(run.exit_code, 0, "host exit code, null data, size %d" % size)
        bed.expect_equal(run.calls[0].result, -1, "result for null data, size %d" % size)
        bed.expect_equal(run.stdout, "", "standard output for null data")


@bed.case
def writes_exactly_32_bytes_whatever_the_length(prefix):
    interfaces("02:11:22:33:44:55")
    first = pc_id(prefix, buffer_len=32, size_arg=32)
    expect_written_exactly_32_bytes(first.calls[0], 32)
    for buffer_len, size in ((1000, 1000), (64, 33), (64, -1), (64, 0x7FFFFFFF)):
        # -1 is 0xFFFFFFFF to the unsigned length: far above 32.
        run = pc_id(prefix, buffer_len=buffer_len, size_arg=size)
        expect_written_exactly_32_bytes(run.calls[0], buffer_len)
        bed.expect_equal(run.calls[0].buffer[:32], first.calls[0].buffer, "fingerprint, size %d" % size)
        bed.expect_equal(run.stdout, "", "standard output")


@bed.case
def stable_across_calls_and_processes(prefix):
    interfaces("02:11:22:33:44:55")
    first = pc_id(prefix, calls=5)
    bed.expect_equal(len(first.calls), 5, "calls made")
    texts = {call.buffer[:32] for call in first.calls}
    bed.expect_equal(len(texts), 1, "distinct texts in one process")
    second = pc_id(prefix, calls=1)
    bed.expect_equal(second.calls[0].buffer[:32], first.calls[0].buffer[:32], "second process")


@bed.case
def fingerprint_matches_independent_computation(prefix):
    interfaces("0a:bc:de:f0:12:34")
    run = expect_fingerprint_matches_facts(prefix, "0ABCDEF01234")
    bed.expect_equal(run.stdout, "", "standard output")


@bed.case
def first_listed_adapter_is_the_one_that_enters(prefix):
    interfaces("02:66:77:88:99:aa", "02:11:22:33:44:55")
    expect_fingerprint_matches_facts(prefix, "0266778899AA")


@bed.case
def no_adapter_prints_the_message_once_per_call_and_leaves_the_mac_out(prefix):
    interfaces()
    run = expect_fingerprint_matches_facts(prefix, None)
    bed.expect_equal(run.stdout, NO_ADAPTER_MESSAGE * 2, "standard output of two calls")


def expect_adapter_list_of(prefix, count, fits):
    # Distinct addresses, the first one named by the count.
    interfaces(*["02:00:00:00:%02x:%02x" % (count, n) for n in range(count)])
    facts = probe_facts(prefix)
    bed.expect_equal(facts["first_address"], "02000000%02X00" % count, "first adapter address")
    texts = expected_texts(facts)
    if not fits:
        texts["mac"] = b""
    bed.expect_equal(facts["record"].upper(), expected_record(texts).hex().upper(), "probe record")
    run = pc_id(prefix)
    bed.expect_equal((run.calls[0].result, run.calls[0].buffer[:32], run.stdout),
                     (32, expected_pc_id(texts), "" if fits else NO_ADAPTER_MESSAGE),
                     "fingerprint and output")


@bed.case
def sixteen_adapters_fit_the_list(prefix):
    # A 64-bit process's entries are larger: its list must still hold 16,
    # or it would leave the MAC out where the 32-bit library takes it.
    expect_adapter_list_of(prefix, 16, fits=True)


@bed.case
def seventeen_adapters_overflow_the_list_and_leave_the_mac_out(prefix):
    expect_adapter_list_of(prefix, 17, fits=False)


@bed.case
def disk_length_query_fails_under_wine_so_the_disk_is_left_out(prefix):
    # Wine opens \\.\PhysicalDrive0 but answers IOCTL_DISK_GET_LENGTH_INFO
    # with error 50: this documents the fact the other cases rely on.
    interfaces("02:11:22:33:44:55")
    facts = probe_facts(prefix)
    bed.expect_equal((facts["disk_open"], facts["disk_query_error"]), ("1", "50"), "disk probe")
    bed.expect_equal(bytes.fromhex(facts["record"])[176:184], bytes(8), "disk_text area")


@bed.case
def host_shows_a_wrong_calling_convention_and_missing_exports(prefix):
    interfaces("02:11:22:33:44:55")
    # x64 has one calling convention, so only the 32-bit host can tell them apart.
    if not bed.is_64_bit:
        run = call_export(bed, prefix, dll(), "tav_get_pc_id", "stdcall", buffer_len=64)
        bed.expect_equal(run.calls[0].esp_delta, 0, "esp_delta of a cdecl export")
        bed.expect(not run.calls[0].stack_balanced, "a cdecl export called as stdcall is unbalanced")
    missing = call_export(bed, prefix, dll(), "_tav_get_pc_id", "cdecl")
    bed.expect_equal(missing.exit_code, 4, "exit code for a missing export")
    bed.expect_equal(missing.calls, [], "calls made")
    absent = call_export(bed, prefix, os.path.join(prefix.dir, "absent.dll"), "tav_get_pc_id", "cdecl")
    bed.expect_equal(absent.exit_code, 3, "exit code for a DLL that does not load")


bed.main()
