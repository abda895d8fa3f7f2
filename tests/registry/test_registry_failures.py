#!/usr/bin/env python3
"""A SQLite registry that is locked, read-only, full or damaged: `tavsn
registry` gives each its own exit code and a clear message, and loses
nothing already stored (the export before and after are the same, and
SQLite's integrity check passes).

  test_registry_failures.py --tool PATH --worker PATH

The worker (tests/registry/registry_worker.cpp) writes identifiers the DLL
would write, as `tavsn registry import` reads them."""
import argparse
import os
import resource
import signal
import sqlite3
import subprocess
import sys
import tempfile

BUSY, READ_ONLY, FULL, DAMAGED = 11, 12, 13, 14
TOOL = WORKER = None


def tavsn(*args, preexec_fn=None, user=None):
    command = [TOOL, "registry", *args]
    if user:
        command = ["runuser", "-u", user, "--", *command]
    return subprocess.run(command, capture_output=True, text=True, preexec_fn=preexec_fn)


def machines_csv(folder, first, count):
    path = os.path.join(folder, "machines-%d.csv" % first)
    with open(path, "w") as out:
        subprocess.run([WORKER, "csv", "licence", str(first), str(count)], stdout=out, check=True)
    return path


class Registry:
    def __init__(self, folder):
        self.folder = folder
        self.path = os.path.join(folder, "registry.db")
        made = tavsn("import", "--db", self.path, machines_csv(folder, 1, 5))
        assert made.returncode == 0, made.stderr
        self.before = self.export()

    def export(self):
        result = tavsn("export", "--db", self.path)
        assert result.returncode == 0, result.stderr
        return result.stdout

    def intact(self):
        with sqlite3.connect(self.path) as db:
            check = db.execute("PRAGMA integrity_check").fetchall()
        assert check == [("ok",)], check
        return self.export()


def locked(registry):
    holder = sqlite3.connect(registry.path, isolation_level=None)
    holder.execute("BEGIN EXCLUSIVE")
    try:
        return tavsn("import", "--db", registry.path, machines_csv(registry.folder, 100, 1)), BUSY
    finally:
        holder.close()


def read_only(registry):
    # Root writes whatever the permissions say: the tool then runs as
    # `nobody`, for whom the file and its folder are read-only.
    os.chmod(registry.folder, 0o755)
    if os.getuid() == 0:
        return tavsn("import", "--db", registry.path, machines_csv(registry.folder, 100, 1), user="nobody"), READ_ONLY
    os.chmod(registry.path, 0o444)
    os.chmod(registry.folder, 0o555)
    try:
        return tavsn("import", "--db", registry.path, machines_csv(registry.folder, 100, 1)), READ_ONLY
    finally:
        os.chmod(registry.folder, 0o755)
        os.chmod(registry.path, 0o644)


def reader_who_cannot_write(registry):
    # Reading takes the write-ahead log's shared-memory file beside the
    # registry: a reader who cannot make it is told so.
    os.chmod(registry.folder, 0o755)
    # The last to close, a writer, removes the log and its shared memory.
    last = sqlite3.connect(registry.path)
    last.execute("SELECT count(*) FROM machines").fetchall()
    last.close()
    if os.getuid() == 0:
        result = tavsn("audit", "--db", registry.path, user="nobody")
    else:
        os.chmod(registry.folder, 0o555)
        try:
            result = tavsn("audit", "--db", registry.path)
        finally:
            os.chmod(registry.folder, 0o755)
    assert "-shm" in result.stderr, result.stderr
    return result, READ_ONLY


def full(registry):
    csv = machines_csv(registry.folder, 100, 300)
    # Room for the WAL's index (32 KiB) and a few pages of the log: the
    # import's first machines fit, a later one does not.
    limit = 40000

    def small_disk():
        # Writes past the limit fail with EFBIG, as on a full disk, rather
        # than killing the process.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    result = tavsn("import", "--db", registry.path, csv, preexec_fn=small_disk)
    # What the import committed before the disk filled is kept, as the
    # machines stored before it are.
    return result, FULL


def damaged(registry):
    with open(registry.path, "r+b") as db:
        db.seek(4096 * 2)
        db.write(b"\xA5" * 4096 * 3)
    return tavsn("audit", "--db", registry.path), DAMAGED


def main():
    global TOOL, WORKER
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--worker", required=True)
    args = parser.parse_args()
    TOOL, WORKER = os.path.abspath(args.tool), os.path.abspath(args.worker)
    failed = 0
    cases = (locked, read_only, reader_who_cannot_write, full, damaged)
    for case in cases:
        with tempfile.TemporaryDirectory() as folder:
            try:
                registry = Registry(folder)
                result, code = case(registry)
                assert result.returncode == code, (result.returncode, result.stdout, result.stderr)
                assert result.stderr.startswith("registry "), result.stderr
                if case is not damaged:
                    after = registry.intact()
                    kept = [line for line in registry.before.splitlines() if line not in after.splitlines()]
                    assert not kept, "lost: %r" % kept
                print("ok %s: exit code %d, %s" % (case.__name__, code, result.stderr.strip()))
            except AssertionError as error:
                failed += 1
                print("FAIL %s: %s" % (case.__name__, error))
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
