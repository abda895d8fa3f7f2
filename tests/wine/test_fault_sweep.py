"""Every call tavsn.dll makes may fail. fault_host.exe passes each function
the DLL imports through a counting stub: every export is run once as it is
to count its calls of each function, then once more for every call k of
every function that can fail, with call k failing as that function fails on
Windows; and once more for each COM method of the firmware read, failed by
the stand-in WMI provider. After every run: no crash and no hang; a result
the README documents for the export; on a negative result not one byte of
the buffer changed (a no-access page right after the 32 bytes, canaries
before them); the DLL unloaded; and the identifier either the one of the
unfailed run or one of the documented fallbacks (a MAC from IP Helper, from
a UUID's node, no firmware fields, a fingerprint without the adapter), which
are made here by failing whole sources. Then: every line of the log whole,
and the process's handles and private memory as after the first round.

The machine: adapter A answers its driver; adapter B is listed by SetupAPI
but its driver cannot be reached, so every MAC search also walks SetupAPI;
IP Helper lists both; the stand-in WMI provider serves a firmware table.
"""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
import wmi_standin  # noqa: E402
from export_host import EXPORTS  # noqa: E402
from library_bed import library_in_scratch, ndis_interface_reg_lines, system_table  # noqa: E402

winebed.in_private_network_namespace()
bed = winebed.TestBed()

ADAPTERS = [("eth0", "0A1B2C3D4E5F", "PCI\\VEN_8086&DEV_100E\\3&A"),
            ("eth1", "02AABBCCDDEE", "PCI\\VEN_8086&DEV_100E\\3&B")]
# The README's return codes of each export.
CODES = {"GetMacSN": {32, -1, -2, -3}, "GetPCSN": {0, 1, 2, -1, -2, -3}, "GetPCSNEx": {0, 1, 2, -1, -2, -3},
         "tav_get_pc_id_ex": {0, 1, 2, -1, -2, -3}, "tav_get_pc_id_info": {0, 1, 2, -1, -2, -3},
         "tav_get_pc_id": {32, -1, -2}}
CONVENTIONS = {"GetMacSN": "stdcall", "GetPCSN": "stdcall", "GetPCSNEx": "stdcall",
               "tav_get_pc_id": "pcid"}
# Whole sources made to fail, for the documented fallbacks: (name, faults,
# the results it must give per export kind).
NO_REGISTRY = ["RegOpenKeyExW", "RegOpenKeyExA"]
FALLBACKS = [("as is", []), ("ip helper", NO_REGISTRY), ("uuid", NO_REGISTRY + ["GetAdaptersInfo"]),
             ("no mac", NO_REGISTRY + ["GetAdaptersInfo", "LoadLibraryW"])]
FALLBACK_RESULTS = {"TQ11": [32, 32, 32, -1], "TQ12": [0, 1, 2, -1]}
NO_FIRMWARE = ["CoInitializeEx"]
NO_ADAPTER = ["GetAdaptersInfo"]
# The COM methods of the firmware read, as the stand-in fails them and as
# its journal names them.
WBEM_E_FAILED = "0x80041001"
COM_METHODS = [
    ("DllGetClassObject", "class_object=" + WBEM_E_FAILED, lambda j: j.who == "DllGetClassObject"),
    ("IClassFactory::CreateInstance", "create=" + WBEM_E_FAILED, lambda j: j.text.startswith("factory CreateInstance")),
    ("IWbemLocator::ConnectServer", "connect=" + WBEM_E_FAILED, lambda j: j.text.startswith("locator ConnectServer")),
    ("IWbemServices::QueryInterface(IClientSecurity)", "query_security=0x80004002",
     lambda j: j.text.startswith("services QueryInterface") and j.fields.get("iid") == "IClientSecurity"),
    ("IClientSecurity::SetBlanket", "blanket=0x80070005", lambda j: j.text.startswith("services SetBlanket")),
    ("IWbemServices::CreateInstanceEnum", "enum=" + WBEM_E_FAILED,
     lambda j: j.text.startswith("services CreateInstanceEnum")),
    ("IEnumWbemClassObject::Next", "next=" + WBEM_E_FAILED, lambda j: j.text.startswith("enumerator Next")),
    ("IEnumWbemClassObject::Next(none)", "next=none", lambda j: j.text.startswith("enumerator Next")),
    ("IWbemClassObject::Get(SmbiosMajorVersion)", "get_major=0x80041002",
     lambda j: j.text.startswith("object Get") and j.fields.get("name") == "SmbiosMajorVersion"),
    ("IWbemClassObject::Get(SmbiosMinorVersion)", "get_minor=0x80041002",
     lambda j: j.text.startswith("object Get") and j.fields.get("name") == "SmbiosMinorVersion"),
    ("IWbemClassObject::Get(SMBiosData)", "get_data=0x80041002",
     lambda j: j.text.startswith("object Get") and j.fields.get("name") == "SMBiosData"),
]
# Without UuidCreateSequential the UUID source takes UuidCreate's node,
# which is random: the documented last resort, checked as a UUID-source
# identifier alike in everything but the address. Its look-up is found by
# name among the GetProcAddress calls of the UUID-source run (the system
# DLLs' functions are looked up the same way, before it).
SEQUENTIAL_UUID = "UuidCreateSequential"
LOG_LINE = re.compile(r" *\d+: (?:(?!\d+: )[ -~])*")


class Host:
    """fault_host.exe over a plan, restarted after the run that crashed or
    hung; `runs` maps run ids to their fields, `lost` to the crash or hang."""

    def __init__(self, prefix, dll, plan, env, checkpoint_after=None):
        self.runs, self.counts, self.figures, self.lost, self.unlisted, self.appeared = {}, {}, [], {}, set(), {}
        self.lookups = {}
        scratch = bed.scratch_dir(prefix)
        remaining = list(plan)
        while remaining:
            plan_path, err_path = os.path.join(scratch, "plan.txt"), os.path.join(scratch, "err.txt")
            with open(plan_path, "w") as f:
                f.write("".join("%s %s %s %s %s\n" % run for run in remaining))
            args = [bed.program("fault_host.exe"), "--dll", winebed.winpath(dll), "--plan",
                    winebed.winpath(plan_path), "--link", ADAPTERS[0][2]]
            if checkpoint_after and len(remaining) == len(plan):
                args += ["--checkpoint-after", checkpoint_after]
            with open(err_path, "wb") as err:
                process = subprocess.Popen(winebed.WINE + args, env=dict(prefix.env, **env),
                                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
                process.wait(timeout=1800)
            with open(err_path, "rb") as f:
                text = f.read().decode("latin-1")
            self.read(text)
            done = [run for run in remaining if run[0] in self.runs or run[0] in self.lost]
            if not done:
                raise winebed.Failure("fault_host made no run (exit %d): %r" % (process.returncode, text[-2000:]))
            remaining = remaining[remaining.index(done[-1]) + 1:]

    def read(self, text):
        for line in text.splitlines():
            if not line.startswith("host: "):
                continue
            fields = dict(re.findall(r"(\w+)=(\S*)", line))
            kind = line.split()[1].split("=")[0]
            if kind == "run":
                self.runs[fields["run"]] = fields
            elif kind == "counts":
                self.counts[line.split()[2][4:]] = {k: int(v) for k, v in fields.items() if k != "run"}
            elif kind == "lookups":
                self.lookups[fields["run"]] = fields["names"].split(",")
            elif kind == "figures":
                self.figures.append((int(fields["handles"]), int(fields["private_kib"])))
            elif kind in ("crash", "hang"):
                self.lost[fields["run"]] = line
            elif kind == "appeared":
                self.appeared[fields["type"]] = int(fields["count"])
            elif kind == "unlisted":
                self.unlisted.add(fields["import"])


def machine(prefix):
    """The adapters, their registry entries and the stand-in provider; the
    environment for the host."""
    winebed.remove_interfaces()
    entries, text = [], ""
    for i, (name, mac, pnp) in enumerate(ADAPTERS):
        guid = winebed.wine_adapter_guid(winebed.add_veth(name, ":".join(mac[j:j + 2] for j in range(0, 12, 2))))
        entries.append({"subkey": "%04d" % i, "if_type": 6, "characteristics": 0x84, "driver_desc": "Adapter " + name,
                        "net_cfg_instance_id": guid, "pnp_instance_id": pnp})
        if i == 1:
            text = "\n".join(ndis_interface_reg_lines(pnp, guid)) + "\n"
    prefix.reg_import(winebed.net_adapter_reg_text(entries) + text)
    wmi_standin.install(bed, prefix)
    return wmi_standin.environment(prefix, table=system_table("SN-FAULT-0001"), major=2, minor=7)


def like_but_for_the_address(result, buffer, reference):
    """Whether an identifier is the UUID-source `reference` with some other
    address: a MAC identifier's source 0 and count 1, or a machine
    identifier's result and every field but the MAC prefix and checksum
    (and GetPCSNEx's record checksum, over them, in its system checksum)."""
    text, ref = bytes.fromhex(buffer).decode("latin-1"), bytes.fromhex(reference[1]).decode("latin-1")
    if text.startswith("TQ11"):
        return result == reference[0] and text[:8] == ref[:8] and re.fullmatch(r"[0-9A-F]{24}", text[8:]) is not None
    record_checksum = ref[16:20] == "0E00"
    return (result == reference[0] and text[:8] == ref[:8] and text[16:20] == ref[16:20]
            and (record_checksum or text[20:24] == ref[20:24]) and text[24:] == ref[24:]
            and re.fullmatch(r"[0-9A-F]{28}", text[4:]) is not None)


def faults(names, call=None):
    """A host fault: every call of `names` fails, and `call` ("NAME:K")."""
    items = ["%s:all" % name for name in names] + ([call] if call else [])
    return ",".join(items) or "-"


@bed.case
def every_call_fails_in_turn(prefix):
    started = time.monotonic()
    env = machine(prefix)
    dll = library_in_scratch(bed, prefix, with_log=True)
    functions = [name for name, _ in EXPORTS]
    run_line = lambda f, key, fault, wmi="-": (  # noqa: E731
        "%s/%s" % (f, key), bed.export_name(f), CONVENTIONS.get(f, "cdecl"), fault, wmi)

    # The unfailed runs with the calls they make (the stand-in's journal
    # counts the COM calls), then the documented fallbacks.
    counting = Host(prefix, dll, [run_line(f, "fallback/0", "-") for f in functions], env)
    journal = wmi_standin.read_journal(prefix)
    env = dict(env, TAVSN_WMI_JOURNAL="")
    plan = []
    for f in functions:
        for i, (_, names) in enumerate(FALLBACKS):
            for firmware in (False, True):
                if i or firmware:
                    plan.append(run_line(f, "fallback/%d%s" % (i, "/nofw" if firmware else ""),
                                         faults(names + (NO_FIRMWARE if firmware else []))))
        plan.append(run_line(f, "fallback/noadapter", faults(NO_ADAPTER)))
    fallbacks = Host(prefix, dll, plan, env)
    runs = dict(counting.runs, **fallbacks.runs)
    uuid_create_call = {}
    for f in functions:
        names = fallbacks.lookups.get("%s/fallback/2" % f, [])
        uuid_create_call[f] = names.index(SEQUENTIAL_UUID) + 1 if SEQUENTIAL_UUID in names else 0
    bed.expect_equal((counting.lost, fallbacks.lost), ({}, {}), "runs that crashed or hung without faults")
    bed.expect_equal(counting.unlisted, set(), "imports that the host's table lacks")
    references = {}
    for f in functions:
        mine = {key: r for key, r in runs.items() if key.startswith(f + "/")}
        references[f] = {(int(r["result"]), r["buffer"]) for r in mine.values() if int(r["result"]) >= 0}
        if f == "tav_get_pc_id":
            bed.expect_equal({int(r["result"]) for r in mine.values()}, {32}, "fingerprint results")
            bed.expect_equal(len(references[f]), 2, "fingerprints with and without the adapter")
            continue
        kind = "TQ11" if f == "GetMacSN" else "TQ12"
        bed.expect(bytes.fromhex(runs[f + "/fallback/0"]["buffer"]).decode().startswith(kind), "%s identifier" % f)
        for i, expected in enumerate(FALLBACK_RESULTS[kind]):
            bed.expect_equal(int(runs["%s/fallback/%d" % (f, i)]["result"]), expected,
                             "%s with %s failing" % (f, FALLBACKS[i][0]))
    print("  identifiers of this machine and its fallbacks: %s" % {f: len(r) for f, r in references.items()})

    # Every call k of every function that can fail, as is and with the MAC
    # taken from IP Helper and from a UUID (whose sources are only reached
    # then); each COM method of the firmware read.
    cannot = {name for name, kind in sweep_table() if kind == "kCannot"}
    plan = [run_line(f, "warm", "-") for f in functions]
    checkpoint = plan[-1][0]
    calls, failed_runs = {}, {}
    for i, (_, names) in enumerate(FALLBACKS[:3]):
        for f in [f for f in functions if i == 0 or f != "tav_get_pc_id"]:  # the fingerprint has no fallbacks
            counts = (counting if i == 0 else fallbacks).counts["%s/fallback/%d" % (f, i)]
            for name, count in sorted(counts.items()):
                calls[name] = calls.get(name, 0) + count
                if name in cannot or name in names:
                    continue
                failed_runs[name] = failed_runs.get(name, 0) + count
                plan += [run_line(f, "%s/%d/%d" % (name, i, k), faults(names, "%s:%d" % (name, k)))
                         for k in range(1, count + 1)]
    reads_wmi = [f for f in functions if counting.counts[f + "/fallback/0"].get("CoCreateInstance")]
    plan += [run_line(f, "com/" + method, "-", step) for method, step, _ in COM_METHODS for f in reads_wmi]
    plan += [run_line(f, "last", "-") for f in functions]
    sweep = Host(prefix, dll, plan, env, checkpoint_after=checkpoint)

    failures, passed, next_handle, outcomes = [], 0, None, {}
    no_firmware = {f: (int(runs[f + "/fallback/0/nofw"]["result"]), runs[f + "/fallback/0/nofw"]["buffer"])
                   for f in reads_wmi}
    for run_id, _, _, fault, wmi in plan:
        f, name = run_id.split("/")[:2]
        problems = []
        run = sweep.runs.get(run_id)
        if run is None:
            problems.append(sweep.lost.get(run_id, "no report"))
        else:
            result, buffer = int(run["result"]), run["buffer"]
            base = runs[f + "/fallback/0"]
            outcome = ("same" if (result, buffer) == (int(base["result"]), base["buffer"])
                       else "error %d" % result if result < 0 else "fallback")
            outcomes.setdefault(f, {}).setdefault(outcome, 0)
            outcomes[f][outcome] += 1
            if result not in CODES[f]:
                problems.append("result %d is not documented" % result)
            if run["front"] != "intact":
                problems.append("bytes before the buffer changed")
            if run["loaded"] != "0":
                problems.append("the DLL stayed loaded")
            if ":" in fault.split(",")[-1] and not fault.endswith(":all") and run["injected"] != "1":
                problems.append("the fault was never reached")
            if next_handle is not None and int(run["next_handle"]) > next_handle:
                problems.append("a handle left open (next handle %s, was %d)" % (run["next_handle"], next_handle))
            next_handle = int(run["next_handle"])
            if result < 0 and buffer != "A5" * 32:
                problems.append("buffer written on %d: %s" % (result, buffer))
            uuid = (int(runs[f + "/fallback/2"]["result"]), runs[f + "/fallback/2"]["buffer"])
            if run_id.endswith("/GetProcAddress/2/%d" % uuid_create_call[f]) and like_but_for_the_address(
                    result, buffer, uuid):
                pass
            elif result >= 0 and (result, buffer) not in references[f]:
                problems.append("identifier %s (%d) is neither the machine's nor a fallback" % (buffer, result))
            if name == "com" and (result, buffer) != no_firmware[f]:
                problems.append("not the identifier without firmware after a failed COM method: %s (%d)"
                                % (buffer, result))
        if problems:
            failures.append("%s: %s" % (run_id, "; ".join(problems)))
        else:
            passed += 1

    for name, _ in sorted(sweep_table(), key=lambda row: row[0].lower()):
        print("fault-sweep: %s calls=%d failed-runs=%d%s" % (name, calls.get(name, 0), failed_runs.get(name, 0),
                                                             " (cannot fail)" if name in cannot else ""))
    for method, _, matches in COM_METHODS:
        print("fault-sweep: %s calls=%d failed-runs=%d"
              % (method, sum(1 for line in journal if matches(line)), len(reads_wmi)))

    # The log: every line whole.
    with open(os.path.join(os.path.dirname(dll), "tavsn.log"), "rb") as f:
        log = f.read().decode("latin-1")
    broken = [line for line in log.split("\r\n")[:-1]
              if not LOG_LINE.fullmatch(line) and not re.fullmatch(r"-+ TavSN [-\d: ]+ -+", line)]
    if broken or not log.endswith("\r\n"):
        failures.append("log lines not whole: %r" % broken[:5])
    figures = sweep.figures
    if len(figures) != 2 or figures[0] != figures[1]:
        failures.append("handles and private KiB after the first round and after the sweep: %r, new handles %r"
                        % (figures, sweep.appeared))
    print("fault-sweep: outcomes %r" % outcomes)
    print("fault-sweep: %d runs, %d log lines, handles and private KiB %r, %.0f s"
          % (len(plan), log.count("\r\n"), figures, time.monotonic() - started))
    for failure in failures:
        print("  FAILED %s" % failure, flush=True)
    print("fault-sweep: %d passed, %d failed" % (passed, len(failures)), flush=True)
    bed.expect(not failures, "%d failed runs" % len(failures))


def sweep_table():
    """(function, kind) of each row of fault_host.cpp's table."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "fault_host.cpp")) as f:
        return re.findall(r"^  [XT]\(\w+, (\w+), (\w+),", f.read(), re.M)


bed.main()
