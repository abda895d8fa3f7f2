"""All six exports called by eight threads at once (stress_host.exe), each
concurrent result and identifier compared with the single-threaded one the
same process took first; with the log present every line of it must still
be whole: its time-stamp prefix, a line some single-threaded call wrote,
CR LF, and exactly the lines the calls made, no more and no fewer.

The library tells hosts not to call its identifier functions from several
threads at once; these cases hold it to what it can still promise with no
disabled adapter to enable: equal identifiers and a log of whole lines."""

import collections
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
from library_bed import library_in_scratch, with_adapters  # noqa: E402

winebed.in_private_network_namespace()
bed = winebed.TestBed()

EXPORTS = ["GetMacSN", "GetPCSN", "GetPCSNEx", "tav_get_pc_id_ex", "tav_get_pc_id_info",
           "tav_get_pc_id"]
THREADS = 8
CALLS = 100
MAC = "0A1B2C3D4E5F"
CANARY = "CC"
STAMP = re.compile(rb"^( *)(\d{1,10}): ")


def prefix_length(line):
    """The length of the line's prefix: the time stamp right-aligned in 8
    characters (a longer one taking what it needs), then ": "; None when the
    line does not start with exactly that."""
    match = STAMP.match(line)
    if match is None:
        return None
    blanks, digits = len(match.group(1)), len(match.group(2))
    return match.end() if blanks + digits == max(8, digits) else None


class StressRun:
    def __init__(self, completed, seconds):
        self.exit_code = completed.returncode
        self.seconds = seconds
        self.stderr = completed.stderr.decode("latin-1")
        self.reference = {}
        self.log_end = {}
        self.summary = {}
        self.mismatches = []
        self.done = None
        for line in self.stderr.splitlines():
            if not line.startswith("host: "):
                continue
            fields = dict(re.findall(r"(\w+)=(\S*)", line))
            kind = line.split(" ")[1]
            if kind == "reference":
                self.reference[fields["export"]] = (int(fields["result"]), fields["buffer"])
                self.log_end[fields["export"]] = int(fields["log_end"])
            elif kind == "summary":
                self.summary[fields["export"]] = (int(fields["calls"]), int(fields["equal"]))
            elif kind == "mismatch":
                self.mismatches.append(line)
            elif kind == "done":
                self.done = fields

    def __repr__(self):
        return "StressRun(exit=%d, stderr=%r)" % (self.exit_code, self.stderr[-3000:])


def run_stress(prefix, dll, *options):
    args = [bed.program("stress_host.exe"), "--dll", winebed.winpath(dll),
            "--threads", str(THREADS), "--calls", str(CALLS)] + list(options)
    # Output goes to files and the wait is for the process, not for the end
    # of its output: a Wine service that the run starts (explorer.exe for
    # the desktop, say) inherits the host's standard handles and keeps a
    # pipe open long after the host has ended.
    folder = bed.scratch_dir(prefix)
    out_path = os.path.join(folder, "stdout.txt")
    err_path = os.path.join(folder, "stderr.txt")
    started = time.monotonic()
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        process = subprocess.Popen(winebed.WINE + args, env=prefix.env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err)
        try:
            process.wait(timeout=240)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise winebed.Failure("stress_host still running after 240 s: %r" % open(err_path, "rb").read()[-2000:])
    seconds = time.monotonic() - started
    with open(err_path, "rb") as f:
        completed = subprocess.CompletedProcess(args, process.returncode, b"", f.read())
    run = StressRun(completed, seconds)
    print("stress_host %s: %.1f s" % (" ".join(options) or "(log as found)", run.seconds),
          flush=True)
    bed.expect_equal(run.exit_code, 0, "stress_host exit code (%r)" % run)
    bed.expect(run.done is not None, "stress_host finished: %r" % run)
    return run


def calls_per_export():
    """How many calls stress_host gives each export: thread t's call i goes
    to export (t + i) mod 6."""
    counts = collections.Counter()
    for thread in range(THREADS):
        for call in range(CALLS):
            counts[EXPORTS[(thread + call) % len(EXPORTS)]] += 1
    return counts


def expect_single_threaded_answers(run):
    """The single-threaded answers are right in themselves before they are
    the yardstick of the concurrent ones."""
    bed.expect_equal(sorted(run.reference), sorted(EXPORTS), "reference calls")
    mac_result, mac_buffer = run.reference["GetMacSN"]
    bed.expect_equal(mac_result, 32, "GetMacSN result")
    first = bytes.fromhex(MAC)
    record = bytes([1, 1]) + bytes(b ^ first[0] for b in first) + bytes(b ^ first[1] for b in first)
    expected = ("TQ11" + record.hex().upper()).encode().hex().upper()
    bed.expect_equal(mac_buffer, expected + CANARY * 32, "GetMacSN identifier and untouched rest")
    for name in ("GetPCSN", "GetPCSNEx", "tav_get_pc_id_ex", "tav_get_pc_id_info"):
        result, buffer = run.reference[name]
        bed.expect_equal(result, 0, "%s result (MAC from the adapter's driver)" % name)
        text = bytes.fromhex(buffer)
        bed.expect(re.fullmatch(rb"TQ12[0-9A-F]{28}", text[:32]) is not None,
                   "%s identifier %r" % (name, text[:32]))
        bed.expect_equal(buffer[64:], CANARY * 32, "%s leaves the rest untouched" % name)
    bed.expect_equal(run.reference["tav_get_pc_id_ex"], run.reference["GetPCSN"],
                     "tav_get_pc_id_ex is GetPCSN")
    bed.expect_equal(run.reference["tav_get_pc_id_info"], run.reference["GetPCSNEx"],
                     "tav_get_pc_id_info is GetPCSNEx")
    result, buffer = run.reference["tav_get_pc_id"]
    text = bytes.fromhex(buffer)
    bed.expect_equal(result, 32, "tav_get_pc_id result")
    bed.expect(re.fullmatch(rb"[0-9A-F]{31}\x00", text[:32]) is not None,
               "tav_get_pc_id text %r" % text[:32])


def expect_concurrent_answers_equal(run):
    """Every concurrent call gave its export's single-threaded result and
    buffer, byte for byte."""
    counts = calls_per_export()
    report = {name: run.summary.get(name) for name in EXPORTS}
    bed.expect_equal(report, {name: (counts[name], counts[name]) for name in EXPORTS},
                     "calls and equal answers per export (mismatches: %s)"
                     % "\n".join(run.mismatches))
    bed.expect_equal(run.mismatches, [], "mismatch lines")


def whole_lines(raw):
    """The log's lines without CR LF; each line must end with CR LF, and no
    CR or LF may stand anywhere else."""
    bed.expect(raw.endswith(b"\r\n"), "log ends with CR LF: %r" % raw[-60:])
    lines = raw[:-2].split(b"\r\n")
    for number, line in enumerate(lines):
        bed.expect(b"\r" not in line and b"\n" not in line,
                   "line %d has a stray CR or LF: %r" % (number, line))
    return lines


def texts_after_prefix(lines, where):
    texts = []
    for number, line in enumerate(lines):
        length = prefix_length(line)
        bed.expect(length is not None, "%s line %d without its prefix: %r" % (where, number, line))
        texts.append(line[length:].decode("latin-1"))
    return texts


def expect_banner(lines):
    """A prefix-only line and the banner, once, at the very start."""
    bed.expect(len(lines) >= 2 and prefix_length(lines[0]) == len(lines[0]),
               "prefix-only first line: %r" % lines[:2])
    bed.expect(re.fullmatch(rb"------------------ TavSN \d{4}-\d\d-\d\d \d\d:\d\d:\d\d "
                            rb"------------------", lines[1]) is not None,
               "banner line %r" % lines[1])
    banners = [number for number, line in enumerate(lines) if b"TavSN" in line]
    bed.expect_equal(banners, [1], "banner lines")


def reference_blocks(raw, log_end):
    """Each export's single-threaded lines, told apart by the log's size
    after each reference call."""
    blocks = {}
    start = None
    for name in EXPORTS:
        end = log_end[name]
        bed.expect(end > 0, "log size after the reference %s: %d" % (name, end))
        if start is None:
            # The first call wrote the banner's two lines before its own.
            body = raw[:end].split(b"\r\n", 2)[2]
        else:
            body = raw[start:end]
        blocks[name] = texts_after_prefix(whole_lines(body) if body else [], "reference " + name)
        start = end
    return blocks


def expect_concurrent_lines(stress_texts, blocks, racing_open=False):
    """Every concurrent line is one that a single-threaded call wrote, and
    the calls wrote exactly their lines: the multiset of texts is the sum of
    each export's block times its number of calls. With `racing_open` the
    threads' first calls race to open the log: a call that comes while
    another thread opens it goes on without waiting (an open can be held up
    at will through an opportunistic lock), so the lines that the other
    threads' first calls began before the log was open may be missing, none
    more often than once for each other thread."""
    known = set(text for block in blocks.values() for text in block)
    unknown = [text for text in stress_texts if text not in known]
    bed.expect_equal(unknown[:10], [], "concurrent lines that no single call writes")
    expected = collections.Counter()
    for name, count in calls_per_export().items():
        for text in blocks[name]:
            expected[text] += count
    actual = collections.Counter(stress_texts)
    missing = expected - actual
    extra = actual - expected
    if racing_open:
        bed.expect(all(count <= THREADS - 1 for count in missing.values()),
                   "concurrent log lines missing beyond the first calls: %r" % dict(missing))
        missing = collections.Counter()
    bed.expect(not missing and not extra,
               "concurrent log lines: missing %r, extra %r" % (dict(missing), dict(extra)))


def most_calls_open_at_once(texts):
    """How many calls had begun and not yet written their identifier line
    at the busiest point of the log: above 1 only if calls overlapped."""
    open_calls = most = 0
    for text in texts:
        if text in ("GetMacSN start.", "GetPCSNEx start."):
            open_calls += 1
            most = max(most, open_calls)
        elif text.startswith("GetMacSN  [ ") or text.startswith("GetPCSNEx  [ "):
            open_calls -= 1
    return most


def expect_overlap(texts):
    # Calls that never ran at the same time would prove nothing here.
    most = most_calls_open_at_once(texts)
    print("calls under way at once, at most: %d" % most, flush=True)
    bed.expect(most >= 2, "the concurrent calls overlapped (at most %d at once)" % most)


def one_adapter(bed_prefix):
    return with_adapters(bed, bed_prefix, lambda a: a.add("eth0", MAC))


@bed.case
def concurrent_calls_with_log(prefix):
    adapters = one_adapter(prefix)
    try:
        dll = library_in_scratch(bed, prefix, with_log=True)
        run = run_stress(prefix, dll)
    finally:
        adapters.stop()
    expect_single_threaded_answers(run)
    expect_concurrent_answers_equal(run)
    with open(os.path.join(os.path.dirname(dll), "tavsn.log"), "rb") as f:
        raw = f.read()
    lines = whole_lines(raw)
    expect_banner(lines)
    blocks = reference_blocks(raw, run.log_end)
    bed.expect_equal(blocks["GetMacSN"], [
        "GetMacSN start.",
        "GetPhysicalMac",
        "SetApi Index [0] Desc [Adapter eth0] Mac [%s]." % MAC,
        "GetMacSN Mac Count [ 1 ]",
        "GetMacSN First Mac [ %s ]" % MAC,
        "GetMacSN  [ %s ]" % bytes.fromhex(run.reference["GetMacSN"][1][:64]).decode(),
    ], "single-threaded GetMacSN lines")
    bed.expect_equal(blocks["tav_get_pc_id"], [], "tav_get_pc_id writes no line")
    for name in ("GetPCSN", "GetPCSNEx", "tav_get_pc_id_ex", "tav_get_pc_id_info"):
        bed.expect(blocks[name][:1] == ["GetPCSNEx start."] and
                   "GetPCSN First Mac [ %s ]" % MAC in blocks[name],
                   "single-threaded %s lines: %r" % (name, blocks[name]))
    stress_lines = whole_lines(raw[run.log_end["tav_get_pc_id"]:])
    stress_texts = texts_after_prefix(stress_lines, "concurrent")
    expect_concurrent_lines(stress_texts, blocks)
    expect_overlap(stress_texts)


@bed.case
def concurrent_calls_without_log(prefix):
    adapters = one_adapter(prefix)
    try:
        dll = library_in_scratch(bed, prefix, with_log=False)
        run = run_stress(prefix, dll)
    finally:
        adapters.stop()
    expect_single_threaded_answers(run)
    expect_concurrent_answers_equal(run)
    bed.expect_equal(set(run.log_end.values()), {-1}, "no log file during the calls")
    bed.expect_equal(os.listdir(os.path.dirname(dll)), ["tavsn.dll"], "folder contents")


@bed.case
def concurrent_first_calls_open_the_log(prefix):
    # The log appears only after the single-threaded calls: the eight
    # threads race to find and open it, and it must still get one banner.
    # A first process with the log present gives each export's lines.
    adapters = one_adapter(prefix)
    try:
        dll = library_in_scratch(bed, prefix, with_log=True)
        log = os.path.join(os.path.dirname(dll), "tavsn.log")
        first = run_stress(prefix, dll, "--threads", "0")
        with open(log, "rb") as f:
            first_raw = f.read()
        os.remove(log)
        run = run_stress(prefix, dll, "--log-after-reference")
    finally:
        adapters.stop()
    expect_single_threaded_answers(first)
    bed.expect_equal(run.reference, first.reference, "single-threaded answers of both processes")
    bed.expect_equal(set(run.log_end.values()), {-1}, "no log during the single-threaded calls")
    expect_concurrent_answers_equal(run)
    blocks = reference_blocks(first_raw, first.log_end)
    with open(log, "rb") as f:
        raw = f.read()
    lines = whole_lines(raw)
    expect_banner(lines)
    stress_texts = texts_after_prefix(lines[2:], "concurrent")
    expect_concurrent_lines(stress_texts, blocks, racing_open=True)
    expect_overlap(stress_texts)


bed.main()
