"""The diagnostic log under Wine: log_only.dll (the log alone in a
library) loaded by log_driver.exe from another folder.

Every case puts the host program, the library and the working folder in three
different folders, so that a log written beside the wrong one shows.
"""

import datetime
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402

bed = winebed.TestBed()

PREFIX_LINE = re.compile(rb"^( *)(\d+): $")
STAMPED_LINE = re.compile(rb"^( *)(\d+): (.*)$", re.S)
BANNER_LINE = re.compile(
    rb"^-{18} TavSN (\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d) -{18}$")
THREAD_LINE = re.compile(rb"^thread (\d+) line (\d+) of (\d+) end$")


class Setup:
    """The three folders of one case and a way to run the driver."""

    def __init__(self, prefix):
        self.prefix = prefix
        root = bed.scratch_dir(prefix)
        self.host_dir = os.path.join(root, "host")
        self.lib_dir = os.path.join(root, "lib folder")  # a blank in the path
        self.work_dir = os.path.join(root, "work")
        for folder in (self.host_dir, self.lib_dir, self.work_dir):
            os.makedirs(folder)
        self.driver = os.path.join(self.host_dir, "log_driver.exe")
        self.dll = os.path.join(self.lib_dir, "log_only.dll")
        shutil.copy(bed.program("log_driver.exe"), self.driver)
        shutil.copy(bed.program("log_only.dll"), self.dll)
        self.log = os.path.join(self.lib_dir, "tavsn.log")

    def args(self, *commands):
        return [self.driver, winebed.winpath(self.dll)] + list(commands)

    def run(self, *commands):
        """Runs the driver; returns its result lines."""
        result = self.prefix.run(self.args(*commands), cwd=self.work_dir)
        out = result.stdout.decode("latin-1").replace("\r\n", "\n").splitlines()
        bed.expect_equal(result.returncode, 0, "driver exit code (output %r)" % out)
        return out

    def listing(self):
        return {folder: sorted(os.listdir(folder))
                for folder in (self.host_dir, self.lib_dir, self.work_dir)}

    def log_bytes(self):
        with open(self.log, "rb") as f:
            return f.read()


def wait_for_files(paths, seconds):
    deadline = time.time() + seconds
    while not all(os.path.exists(p) for p in paths):
        bed.expect(time.time() < deadline, "waiting for %r" % paths)
        time.sleep(0.05)


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)


def split_lines(data):
    """The file's lines; every one must end with CR LF, and no LF may stand
    without its CR."""
    bed.expect(data.endswith(b"\r\n"), "file ends with CR LF: %r" % data[-40:])
    bed.expect(data.count(b"\n") == data.count(b"\r\n"), "every LF follows a CR")
    return data[:-2].split(b"\r\n")


def expect_prefix(width_padding, digits, line):
    """The stamp is right-aligned in 8 characters, longer numbers unpadded."""
    bed.expect(len(width_padding) + len(digits) == max(8, len(digits)),
               "prefix of %r is right-aligned in 8 characters" % line)


def parse_process_output(lines, start, earliest, latest):
    """Checks one process's banner at lines[start] and returns the texts of
    its stamped lines up to the next banner, with their stamps."""
    m = PREFIX_LINE.match(lines[start])
    bed.expect(m is not None, "prefix-only line, got %r" % lines[start])
    expect_prefix(m.group(1), m.group(2), lines[start])
    b = BANNER_LINE.match(lines[start + 1])
    bed.expect(b is not None, "banner line, got %r" % lines[start + 1])
    bed.expect_equal(len(lines[start + 1]), 63, "banner length without its newline")
    when = datetime.datetime(*(int(x) for x in b.groups()))
    bed.expect(earliest - datetime.timedelta(seconds=2) <= when
               <= latest + datetime.timedelta(seconds=2),
               "banner time %s is UTC now (%s .. %s)" % (when, earliest, latest))
    entries = [(int(m.group(2)), None)]
    i = start + 2
    while i < len(lines) and not (PREFIX_LINE.match(lines[i]) and i + 1 < len(lines)
                                  and BANNER_LINE.match(lines[i + 1])):
        s = STAMPED_LINE.match(lines[i])
        bed.expect(s is not None, "stamped line, got %r" % lines[i])
        expect_prefix(s.group(1), s.group(2), lines[i])
        entries.append((int(s.group(2)), s.group(3)))
        i += 1
    return entries, i


def expect_whole_thread_lines(texts, threads, count):
    """Every line of every thread is there, whole, in its thread's order."""
    next_line = {}
    for text in texts:
        m = THREAD_LINE.match(text)
        bed.expect(m is not None, "whole thread line, got %r" % text)
        thread, line, total = (int(x) for x in m.groups())
        bed.expect_equal(total, count, "line count in %r" % text)
        bed.expect_equal(line, next_line.get(thread, 0), "order of thread %d" % thread)
        next_line[thread] = line + 1
    bed.expect_equal(sorted(next_line.items()),
                     [(t, count) for t in range(threads)], "lines per thread")


@bed.case
def no_log_file_means_nothing_written_anywhere(prefix):
    s = Setup(prefix)
    before = s.listing()
    out = s.run("open", "call:GetMacSN:3", "line:lost", "pieces:lost :-1:7", "call:GetPCSN:-1")
    bed.expect_equal(out, ["open active=0", "call GetMacSN returned 3", "line done",
                           "pieces done", "call GetPCSN returned -1"], "driver output")
    bed.expect_equal(s.listing(), before, "folders after the run")


@bed.case
def empty_log_gets_banner_then_lines_and_one_banner_per_process(prefix):
    s = Setup(prefix)
    open(s.log, "wb").close()
    earliest = utc_now()
    out = s.run("call:GetMacSN:3", "pieces:values :-2147483648:4294967295",
                "open", "call:GetPCSN:1")
    latest = utc_now()
    bed.expect_equal(out, ["call GetMacSN returned 3", "pieces done", "open active=1",
                           "call GetPCSN returned 1"], "driver output")
    lines = split_lines(s.log_bytes())
    entries, end = parse_process_output(lines, 0, earliest, latest)
    bed.expect_equal(end, len(lines), "one banner only")
    bed.expect_equal([text for _, text in entries[1:]],
                     [b"GetMacSN start.", b"GetMacSN result [ 3 ]",
                      b"values -2147483648 4294967295",
                      b"GetPCSN start.", b"GetPCSN result [ 1 ]"], "lines")
    stamps = [stamp for stamp, _ in entries]
    bed.expect(stamps == sorted(stamps), "stamps never go back: %r" % stamps)


@bed.case
def log_found_later_in_the_same_process(prefix):
    s = Setup(prefix)
    out = s.run("call:GetMacSN:0", "create:" + winebed.winpath(s.log), "call:GetPCSN:2")
    bed.expect_equal(out[1], "create ok", "creating the log mid-run")
    lines = split_lines(s.log_bytes())
    entries, end = parse_process_output(lines, 0, utc_now() - datetime.timedelta(minutes=5),
                                        utc_now())
    bed.expect_equal(end, len(lines), "one banner only")
    bed.expect_equal([text for _, text in entries[1:]],
                     [b"GetPCSN start.", b"GetPCSN result [ 2 ]"], "lines")


@bed.case
def processes_in_turn_append_their_own_banners(prefix):
    s = Setup(prefix)
    earlier = b"earlier content\r\nwithout its line end"
    with open(s.log, "wb") as f:
        f.write(earlier)
    earliest = utc_now()
    s.run("call:First:1")
    s.run("call:Second:2")
    latest = utc_now()
    data = s.log_bytes()
    bed.expect(data.startswith(earlier), "earlier content kept")
    lines = split_lines(data[len(earlier):])
    first, end = parse_process_output(lines, 0, earliest, latest)
    second, end = parse_process_output(lines, end, earliest, latest)
    bed.expect_equal(end, len(lines), "two banners only")
    bed.expect_equal([t for _, t in first[1:]], [b"First start.", b"First result [ 1 ]"],
                     "first process")
    bed.expect_equal([t for _, t in second[1:]], [b"Second start.", b"Second result [ 2 ]"],
                     "second process")


def expect_silent_log(s, prepare_commands=()):
    out = s.run(*(list(prepare_commands) +
                  ["call:GetMacSN:3", "open", "call:GetPCSN:-2", "line:lost"]))
    bed.expect_equal(out[len(prepare_commands):],
                     ["call GetMacSN returned 3", "open active=0",
                      "call GetPCSN returned -2", "line done"], "driver output")
    return out


@bed.case
def read_only_log_stays_silent(prefix):
    s = Setup(prefix)
    with open(s.log, "wb") as f:
        f.write(b"kept\r\n")
    attrib = prefix.run(["attrib", "+r", winebed.winpath(s.log)])
    bed.expect_equal(attrib.returncode, 0, "attrib +r")
    # Wine lets root write a read-only file; the immutable flag refuses the
    # open as Windows refuses it for the read-only attribute.
    immutable = os.geteuid() == 0
    if immutable:
        winebed.sh("chattr", "+i", s.log)
    try:
        expect_silent_log(s)
    finally:
        if immutable:
            winebed.sh("chattr", "-i", s.log)
    bed.expect_equal(s.log_bytes(), b"kept\r\n", "read-only log content")


@bed.case
def log_held_without_sharing_stays_silent(prefix):
    s = Setup(prefix)
    with open(s.log, "wb") as f:
        f.write(b"kept\r\n")
    out = expect_silent_log(s, ["lock:" + winebed.winpath(s.log)])
    bed.expect_equal(out[0], "lock ok", "holding the log")
    bed.expect_equal(s.log_bytes(), b"kept\r\n", "held log content")


@bed.case
def directory_named_like_the_log_stays_silent(prefix):
    s = Setup(prefix)
    os.makedirs(s.log)
    before = s.listing()
    expect_silent_log(s)
    bed.expect_equal(s.listing(), before, "folders after the run")
    bed.expect_equal(os.listdir(s.log), [], "the directory stays empty")


def outside_file(s, content=b"not the log's\r\n"):
    """A file outside the library's folder that the log must never reach."""
    path = os.path.join(os.path.dirname(s.lib_dir), "outside.txt")
    with open(path, "wb") as f:
        f.write(content)
    return path


@bed.case
def hard_linked_log_leaves_the_other_file_untouched(prefix):
    s = Setup(prefix)
    target = outside_file(s)
    os.link(target, s.log)
    expect_silent_log(s)
    with open(target, "rb") as f:
        bed.expect_equal(f.read(), b"not the log's\r\n", "the linked file")


# A link to a file cannot be shown here: Wine 8 presents a Unix symbolic
# link as the file it names, with no reparse point to see, and makes no
# Windows symbolic links. On Windows the link itself is opened and refused.
@bed.case
def log_that_is_a_pipe_or_a_link_to_one_stays_silent(prefix):
    for kind in ("pipe", "link to a pipe"):
        s = Setup(prefix)
        target = outside_file(s)
        if kind == "pipe":
            os.mkfifo(s.log)
        elif kind == "link to a pipe":
            fifo = os.path.join(os.path.dirname(s.lib_dir), "outside.fifo")
            os.mkfifo(fifo)
            os.symlink(fifo, s.log)
        else:
            raise ValueError(kind)
        expect_silent_log(s)
        with open(target, "rb") as f:
            bed.expect_equal(f.read(), b"not the log's\r\n", "the file outside, log a " + kind)
        shutil.rmtree(os.path.dirname(s.lib_dir))


@bed.case
def log_is_beside_the_library_not_the_host_or_working_folder(prefix):
    s = Setup(prefix)
    decoys = [os.path.join(s.host_dir, "tavsn.log"), os.path.join(s.work_dir, "tavsn.log")]
    for decoy in decoys:
        open(decoy, "wb").close()
    s.run("call:GetMacSN:3")
    for decoy in decoys:
        bed.expect_equal(os.path.getsize(decoy), 0, "size of " + decoy)
    open(s.log, "wb").close()
    s.run("call:GetMacSN:3")
    lines = split_lines(s.log_bytes())
    bed.expect_equal(len(lines), 4, "banner and two lines beside the library")
    for decoy in decoys:
        bed.expect_equal(os.path.getsize(decoy), 0, "size of " + decoy)


@bed.case
def threads_of_one_process_write_whole_lines_under_one_banner(prefix):
    s = Setup(prefix)
    open(s.log, "wb").close()
    # Opened first: a thread that comes while another is opening the log
    # goes on without waiting (an open can be held up at will by whoever
    # holds an opportunistic lock on the file), its lines dropped until then.
    out = s.run("open", "threads:8:300")
    bed.expect_equal(out, ["open active=1", "threads ran 8"], "driver output")
    lines = split_lines(s.log_bytes())
    entries, end = parse_process_output(lines, 0, utc_now() - datetime.timedelta(minutes=5),
                                        utc_now())
    bed.expect_equal(end, len(lines), "one banner only")
    expect_whole_thread_lines([t for _, t in entries[1:]], 8, 300)


@bed.case
def process_writing_after_another_appends_at_the_new_end(prefix):
    # The first process opens the log, then a second process appends to it,
    # then the first writes again: its line must land after the second's,
    # not at the end the file had when it was opened.
    s = Setup(prefix)
    open(s.log, "wb").close()
    ready = os.path.join(s.work_dir, "ready")
    go = os.path.join(s.work_dir, "go")
    first = subprocess.Popen(
        winebed.WINE + s.args("call:First:1", "create:" + winebed.winpath(ready),
                          "wait:" + winebed.winpath(go), "line:First again"),
        cwd=s.work_dir, env=prefix.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        wait_for_files([ready], 120)
        s.run("call:Second:2")
        open(go, "wb").close()
        out, _ = first.communicate(timeout=300)
    finally:
        if first.poll() is None:
            first.kill()
    bed.expect_equal(first.returncode, 0, "first driver exit code")
    bed.expect_equal(out.replace(b"\r\n", b"\n").split(b"\n")[-2:],
                     [b"line done", b""], "first driver output")
    lines = split_lines(s.log_bytes())
    bed.expect_equal(len(lines), 9, "two banners and five lines: %r" % lines)
    bed.expect(BANNER_LINE.match(lines[1]) and BANNER_LINE.match(lines[5]), "banners")
    texts = [STAMPED_LINE.match(lines[i]).group(3) for i in (2, 3, 6, 7, 8)]
    bed.expect_equal(texts, [b"First start.", b"First result [ 1 ]", b"Second start.",
                             b"Second result [ 2 ]", b"First again"], "lines in time order")


@bed.case
def unloading_the_library_closes_the_log(prefix):
    s = Setup(prefix)
    open(s.log, "wb").close()
    out = s.run("call:GetMacSN:3", "unload", "lock:" + winebed.winpath(s.log))
    bed.expect_equal(out, ["call GetMacSN returned 3", "unload ok", "lock ok"],
                     "driver output")
    bed.expect_equal(len(split_lines(s.log_bytes())), 4, "banner and two lines")


bed.main()
