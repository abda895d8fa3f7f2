#!/usr/bin/env python3
"""The registry under several processes, on one engine: seats never overflow
when eight processes check in at once, and a process killed with SIGKILL in
the middle of a batch leaves every committed check-in there and nothing half
written. The processes are tests/registry/registry_worker.cpp, which check in
through the registry's own check-in.

  test_registry_processes.py --worker PATH --engine sqlite|postgresql

PostgreSQL's runs take the test cluster from TAVSN_TEST_POSTGRESQL (ctest's
fixture starts it) and skip (exit 77) without one."""
import argparse
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import uuid

SKIP = 77
# What is counted after each test, the same SQL on both engines.
COUNTS = {
    "machines": "SELECT count(*) FROM machines",
    "current_identifiers": "SELECT count(*) FROM current_identifiers",
    "sightings": "SELECT count(*) FROM sightings",
    "lookup_keys": "SELECT count(*) FROM lookup_keys",
    "machines_without_keys": "SELECT count(*) FROM machines WHERE id NOT IN (SELECT machine FROM lookup_keys)",
    "rows_without_machine": "SELECT (SELECT count(*) FROM lookup_keys WHERE machine NOT IN (SELECT id FROM machines))"
                            " + (SELECT count(*) FROM sightings WHERE machine NOT IN (SELECT id FROM machines))"
                            " + (SELECT count(*) FROM current_identifiers WHERE machine NOT IN (SELECT id FROM machines))",
}


class Registry:
    """A new empty registry of one engine, removed at the end."""

    def __init__(self, engine, folder):
        self.engine = engine
        if engine == "sqlite":
            self.path = os.path.join(folder, "registry-%s.db" % uuid.uuid4().hex[:8])
            self.location = "sqlite:" + self.path
        else:
            cluster = os.environ["TAVSN_TEST_POSTGRESQL"]
            self.database = "processes_%d_%s" % (os.getpid(), uuid.uuid4().hex[:8])
            psql(cluster, "CREATE DATABASE " + self.database)
            path, query = cluster.split("?", 1)
            self.location = path.rsplit("/", 1)[0] + "/" + self.database + "?" + query
            self.cluster = cluster

    def counts(self):
        """Rows per table, read by the engine's own client, not by tavsn."""
        if self.engine == "sqlite":
            with sqlite3.connect(self.path) as db:
                check = db.execute("PRAGMA integrity_check").fetchall()
                assert check == [("ok",)], "integrity_check: %r" % check
                return {name: db.execute(sql).fetchone()[0] for name, sql in COUNTS.items()}
        return {name: int(psql(self.location, sql)) for name, sql in COUNTS.items()}

    def remove(self):
        if self.engine == "postgresql":
            psql(self.cluster, "DROP DATABASE IF EXISTS %s WITH (FORCE)" % self.database)


def psql(location, sql):
    return subprocess.run(["psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-d", location, "-c", sql],
                          check=True, capture_output=True, text=True).stdout.strip()


def start_worker(worker, registry, scope, seats, first, count):
    return subprocess.Popen([worker, "check-in", registry.location, scope, str(seats), str(first), str(count)],
                            stdout=subprocess.PIPE, text=True)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def eight_processes_never_overflow_three_seats(worker, registry):
    workers = [start_worker(worker, registry, "three seats", 3, 100 * k, 6) for k in range(8)]
    lines = []
    for process in workers:
        out, _ = process.communicate(timeout=120)
        check(process.returncode == 0, "a worker failed: %d" % process.returncode)
        lines += out.split()
    activated = sum(1 for word in lines if word == "activated")
    counts = registry.counts()
    check(activated == 3, "%d check-ins activated under 3 seats" % activated)
    check(counts["machines"] == 3, "%d machines stored under 3 seats" % counts["machines"])
    # Each of the eight saw its machines refused once the seats were taken.
    check(lines.count("refused") == 8 * 6 - 3, "refusals: %d" % lines.count("refused"))


def eight_processes_lose_no_check_in(worker, registry):
    workers = [start_worker(worker, registry, "many seats", 1000, 1000 * k, 25) for k in range(8)]
    for process in workers:
        process.communicate(timeout=120)
        check(process.returncode == 0, "a worker failed: %d" % process.returncode)
    counts = registry.counts()
    check(counts["machines"] == 200, "machines: %r" % counts)
    whole_and_counted(worker, registry, counts)


def whole_and_counted(worker, registry, counts):
    check(counts["current_identifiers"] == 2 * counts["machines"], "identifiers: %r" % counts)
    check(counts["sightings"] == 2 * counts["machines"], "sightings: %r" % counts)
    check(counts["machines_without_keys"] == 0 and counts["rows_without_machine"] == 0, "keys: %r" % counts)
    check(counts["lookup_keys"] >= 2 * counts["machines"], "keys: %r" % counts)
    verify = subprocess.run([worker, "verify", registry.location], capture_output=True, text=True)
    check(verify.returncode == 0, "verify: " + verify.stderr)
    check(verify.stdout.split() == ["machines", str(counts["machines"])], "verify: " + verify.stdout)


def killed_mid_batch_keeps_every_commit(worker, registry):
    committed = set()
    for round_number, kill_after in enumerate((1, 37, 150)):
        process = start_worker(worker, registry, "batch", -1, 100000 * (round_number + 1), 100000)
        seen = 0
        for line in process.stdout:
            committed.add(int(line.split()[1]))
            seen += 1
            if seen == kill_after:
                break
        # Killed in the middle of whatever it is writing next.
        process.send_signal(signal.SIGKILL)
        process.wait()
        # What it reported before it died, still in the pipe.
        committed.update(int(line.split()[1]) for line in process.stdout)
        process.stdout.close()
        check(process.returncode == -signal.SIGKILL, "the worker was not killed: %r" % process.returncode)
        counts = registry.counts()
        whole_and_counted(worker, registry, counts)
        # Every check-in it reported is there; at most the one it was
        # reporting when it died is there unreported.
        check(len(committed) <= counts["machines"] <= len(committed) + round_number + 1, "machines: %r" % counts)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--worker", required=True)
    parser.add_argument("--engine", choices=("sqlite", "postgresql"), required=True)
    args = parser.parse_args()
    if args.engine == "postgresql" and not os.environ.get("TAVSN_TEST_POSTGRESQL"):
        print("skipped: TAVSN_TEST_POSTGRESQL names no test cluster")
        return SKIP
    if args.engine == "postgresql" and not shutil.which("psql"):
        print("skipped: no psql")
        return SKIP
    tests = (eight_processes_never_overflow_three_seats, eight_processes_lose_no_check_in,
             killed_mid_batch_keeps_every_commit)
    failed = 0
    with tempfile.TemporaryDirectory() as folder:
        for test in tests:
            registry = Registry(args.engine, folder)
            started = time.monotonic()
            try:
                test(args.worker, registry)
                print("ok %s (%.1f s)" % (test.__name__, time.monotonic() - started))
            except (AssertionError, subprocess.SubprocessError) as error:
                failed += 1
                print("FAIL %s: %s" % (test.__name__, error))
            finally:
                registry.remove()
    print("%d passed, %d failed" % (len(tests) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
