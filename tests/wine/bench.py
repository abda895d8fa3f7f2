"""Times every identifier export of a build against its floor, the bare
platform calls the export must make, and prints the figures. A benchmark,
not a test (ctest runs only test_*.py): it prints, it does not judge.

    python3 tests/wine/bench.py --build build/win64 [--calls N]

The machine it sets up is one a host would meet: one veth adapter registered
as physical, whose device path opens on Wine's NDIS driver; the WMI stand-in
in Wine's place serving a small firmware table, so GetPCSN reads a real
table; and no tavsn.log beside the DLL, so nothing is written. Needs root,
for the private network namespace.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
import wmi_standin  # noqa: E402
from library_bed import library_in_scratch, system_table, with_adapters  # noqa: E402

MAC = "0A1B2C3D4E5F"
TARGET_PERCENT = 10


def run_bench(bed, prefix, calls):
    adapters = with_adapters(bed, prefix, lambda a: a.add("eth0", MAC))
    try:
        wmi_standin.install(bed, prefix)
        env = wmi_standin.environment(prefix, table=system_table("SN12345678"), major=2, minor=7,
                                      journal=False)
        dll = library_in_scratch(bed, prefix, with_log=False)
        return prefix.run([bed.program("export_bench.exe"), winebed.winpath(dll), str(calls)],
                          extra_env=env, timeout=3600)
    finally:
        adapters.stop()


def main():
    winebed.in_private_network_namespace()
    bed = winebed.TestBed(add_arguments=lambda parser: parser.add_argument(
        "--calls", type=int, default=300, help="calls of each export (and floor runs)"))
    prefix = winebed.Prefix(bed.base_prefix(), bed.wine_root)
    try:
        completed = run_bench(bed, prefix, bed.args.calls)
    finally:
        prefix.close()
    out = completed.stdout.decode("latin-1").replace("\r", "")
    sys.stdout.write(out)
    sys.stderr.write(completed.stderr.decode("latin-1"))
    if completed.returncode != 0:
        print("export_bench.exe ended with %d" % completed.returncode)
        return 1
    print("(ratio = export / floor; own_work_percent is what the library adds to its floor,"
          " target at most %d)" % TARGET_PERCENT)
    return 0


if __name__ == "__main__":
    sys.exit(main())
