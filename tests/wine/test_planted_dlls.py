"""System DLLs planted beside the host program are never loaded: tavsn.dll
takes IP Helper, SetupAPI and winmm from the system folder by full path. The
stand-ins are preferred to Wine's own (WINEDLLOVERRIDES n,b), so a load by
search would find them; the host's calls run with the log on, so winmm's
timer is asked for, and the fingerprint asks IP Helper. The endurance
test's control DLL, which imports all three, shows that the stand-ins would
be loaded."""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
from export_host import call_export  # noqa: E402
from library_bed import library_in_scratch, log_lines  # noqa: E402

bed = winebed.TestBed()
PLANTED = ["winmm.dll", "iphlpapi.dll", "setupapi.dll"]


def host_beside_planted_dlls(prefix):
    host_dir = bed.scratch_dir(prefix)
    host = os.path.join(host_dir, "tavsn_host.exe")
    shutil.copy(bed.program("tavsn_host.exe"), host)
    for name in PLANTED:
        shutil.copy(bed.program("planted.dll"), os.path.join(host_dir, name))
    return host_dir, host


def loaded_stand_ins(host_dir):
    return sorted(name.lower() for name in os.listdir(host_dir) if name.endswith(".loaded"))


OVERRIDES = {"WINEDLLOVERRIDES": "winmm,iphlpapi,setupapi=n,b"}


@bed.case
def planted_system_dlls_would_be_loaded_by_an_importing_dll(prefix):
    host_dir, host = host_beside_planted_dlls(prefix)
    dll = os.path.join(bed.scratch_dir(prefix), "tavsn.dll")
    shutil.copy(bed.program("endurance_control.dll"), dll)
    call_export(bed, prefix, dll, bed.export_name("GetMacSN"), "stdcall", extra_env=OVERRIDES, program=host)
    bed.expect_equal(loaded_stand_ins(host_dir), [name + ".loaded" for name in sorted(PLANTED)],
                     "stand-ins loaded by the control")


@bed.case
def planted_system_dlls_beside_the_host_are_never_loaded(prefix):
    host_dir, host = host_beside_planted_dlls(prefix)
    dll = library_in_scratch(bed, prefix, with_log=True)
    for export, convention in (("GetMacSN", "stdcall"), ("tav_get_pc_id", "cdecl")):
        run = call_export(bed, prefix, dll, bed.export_name(export), convention, extra_env=OVERRIDES,
                          program=host)
        bed.expect(run.calls and run.calls[0].result >= -1, "%s ran: %r" % (export, run))
    bed.expect_equal(loaded_stand_ins(host_dir), [], "stand-ins loaded")
    bed.expect("GetMacSN start." in log_lines(bed, dll), "the log was written")


bed.main()
