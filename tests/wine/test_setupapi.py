"""GetMacSN's read through SetupAPI under Wine: an adapter whose direct
driver query fails with error 3 is looked for among the NDIS LAN-class
interfaces that Wine's own SetupAPI lists from the registry, its device and
status are read, and its address is asked for through the path SetupAPI
spelled (in lower case under Wine). Every SetupAPI call the library makes
goes to Wine; setupapi_host.exe records them and what Wine answered.

Wine never reports a device as disabled by its user, and an adapter whose
interface path does not open at first does not open later either: where a
case needs one of these, setupapi_host.exe supplies it (the status it hands
on, or the NT link made when the library first asks SetupAPI) and the case
says so. With --disabled it plays a disabled adapter whole: disabled until
the library's enable request, its driver path (the NT link) there a chosen
delay after it, and gone again with the disable request; the last cases
follow the enable, the wait, the read and the disable on every path.
"""

import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
from library_bed import (device_interface_path, library_in_scratch, log_lines,  # noqa: E402
                         ndis_interface_reg_lines)
from export_host import call_export  # noqa: E402

winebed.in_private_network_namespace()
bed = winebed.TestBed()

EXPORT = bed.export_name("GetMacSN")
MAC = "0A1B2C3D4E5F"
IDENTIFIER = "TQ110101001126374455110037265544"  # one adapter of MAC
DESC = "Intel PRO/1000 MT"
# Mixed case, as Windows spells instance ids; Wine lists the path in lower
# case. Sorted after OTHER_PNP, which Wine lists first.
ADAPTER_PNP = "PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\\3&267A616A&0&18"
OTHER_PNP = "PCI\\VEN_10EC&DEV_8168&SUBSYS_00000000&REV_06\\4&1&0&E0"
# The size members of the public structures in this build.
INTERFACE_DATA_SIZE = 32 if bed.is_64_bit else 28
DEVINFO_DATA_SIZE = 32 if bed.is_64_bit else 28
DETAIL_DATA_SIZE = 8 if bed.is_64_bit else 5
DIF_PROPERTYCHANGE = 0x12
DICS_ENABLE = 1
DICS_DISABLE = 2
DICS_FLAG_GLOBAL = 1
DN_HAS_PROBLEM = 0x400
DN_DISABLEABLE = 0x2000
CM_PROB_DISABLED = 22
ERROR_INSUFFICIENT_BUFFER = 122
ERROR_NO_MORE_ITEMS = 259


def one_adapter(prefix, interfaces):
    """One veth adapter of MAC, registered with ADAPTER_PNP and no NT link,
    so its direct query fails with error 3; `interfaces` lists the PnP ids
    whose NDIS interfaces SetupAPI is to list, each with the adapter's GUID
    as its reference string. Returns the adapter's direct path."""
    winebed.remove_interfaces()
    guid = winebed.wine_adapter_guid(winebed.add_veth("eth0", "0a:1b:2c:3d:4e:5f"))
    adapter = dict(subkey="0000", if_type=6, characteristics=0x84, driver_desc=DESC,
                   net_cfg_instance_id=guid, pnp_instance_id=ADAPTER_PNP)
    text = winebed.net_adapter_reg_text([adapter])
    for pnp in interfaces:
        text += "\n".join(ndis_interface_reg_lines(pnp, guid)) + "\n"
    prefix.reg_import(text)
    return device_interface_path(ADAPTER_PNP, guid), guid


class HostRun:
    def __init__(self, returncode, stderr):
        self.exit_code = returncode
        self.stderr = stderr.decode("latin-1")
        self.records = []
        for line in self.stderr.splitlines():
            if line.startswith("host: "):
                kind = line.split(" ")[1]
                self.records.append((kind, dict(re.findall(r"(\w+)=(\S*)", line))))

    def of(self, kind):
        return [fields for found, fields in self.records if found == kind]

    def __repr__(self):
        return "HostRun(exit=%d, stderr=%r)" % (self.exit_code, self.stderr[-3000:])


def run_setupapi_host(prefix, dll, *options, timeout=120):
    """setupapi_host.exe on GetMacSN; its output goes to a file and the wait
    is for the process, so a Wine service it starts cannot hold it up."""
    err_path = os.path.join(bed.scratch_dir(prefix), "stderr.txt")
    args = winebed.WINE + [bed.program("setupapi_host.exe"), "--dll", winebed.winpath(dll),
                           "--export", EXPORT] + list(options)
    with open(err_path, "wb") as err:
        process = subprocess.Popen(args, env=prefix.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=err)
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise winebed.Failure("setupapi_host still running after %d s" % timeout)
    with open(err_path, "rb") as f:
        run = HostRun(process.returncode, f.read())
    bed.expect_equal(run.exit_code, 0, "setupapi_host exit code (%r)" % run)
    return run


def expect_call(run, result, identifier):
    calls = run.of("call")
    bed.expect_equal(len(calls), 1, "calls (%r)" % run)
    bed.expect_equal(int(calls[0]["result"]), result, "GetMacSN result")
    buffer = bytes.fromhex(calls[0]["buffer"])
    bed.expect_equal(buffer[:32].decode("latin-1"), identifier, "identifier")
    bed.expect_equal(buffer[32:], b"\xCC" * 32, "bytes after the identifier")


def expect_interface_found(run, index, direct_path):
    """The walk up to the matching interface at `index`: one size query and
    one detail read per interface, with the real size members, and the
    detail of the last one the adapter's path in lower case."""
    classdevs = run.of("classdevs")
    bed.expect_equal([(c["flags"], c["result"]) for c in classdevs], [("10", "ok")],
                     "SetupDiGetClassDevsW: DIGCF_DEVICEINTERFACE, and Wine's answer")
    interfaces = run.of("interfaces")
    bed.expect_equal([(i["index"], i["cbsize"], i["result"]) for i in interfaces],
                     [(str(k), str(INTERFACE_DATA_SIZE), "ok") for k in range(index + 1)],
                     "SetupDiEnumDeviceInterfaces")
    details = run.of("detail")
    bed.expect_equal(len(details), 2 * (index + 1), "detail queries (%r)" % details)
    for k in range(index + 1):
        sizing, reading = details[2 * k], details[2 * k + 1]
        bed.expect_equal((sizing["cbsize"], sizing["size"], sizing["result"], sizing["error"]),
                         ("0", "0", "fail", str(ERROR_INSUFFICIENT_BUFFER)), "size-only query %d" % k)
        bed.expect_equal((reading["cbsize"], reading["size"], reading["result"]),
                         (str(DETAIL_DATA_SIZE), sizing["needed"], "ok"), "detail read %d" % k)
    bed.expect_equal(details[-1]["path"], direct_path.lower(),
                     "the matching interface's path as Wine's SetupAPI spells it")
    return details[-1]["path"]


@bed.case
def address_read_through_lower_case_interface_path(prefix):
    direct_path, _ = one_adapter(prefix, [ADAPTER_PNP])
    dll = library_in_scratch(bed, prefix, with_log=True)
    run = run_setupapi_host(prefix, dll, "--link-when-listed", ADAPTER_PNP)
    expect_call(run, 32, IDENTIFIER)
    bed.expect_equal(run.of("link"), [{"status": "00000000", "pnp": ADAPTER_PNP}],
                     "NT link made when the library asked SetupAPI")
    expect_interface_found(run, 0, direct_path)
    devinfo = run.of("devinfo")
    bed.expect_equal([(d["index"], d["cbsize"], d["result"]) for d in devinfo],
                     [("0", str(DEVINFO_DATA_SIZE), "ok")], "SetupDiEnumDeviceInfo")
    status = run.of("status")
    bed.expect_equal([(s["device"], s["cr"], s["status"], s["problem"]) for s in status],
                     [(devinfo[0]["device"], "0", "0", "0")],
                     "CM_Get_DevNode_Status as Wine answers it, for the matching device")
    bed.expect_equal(devinfo[0]["device"].upper(), ADAPTER_PNP.upper(), "the device's instance id")
    bed.expect_equal(run.of("installparams") + run.of("installer") + run.of("changestate"), [],
                     "no state change for a device that is not disabled")
    bed.expect_equal(run.of("destroy"), [{"result": "ok"}], "the set is destroyed")
    bed.expect_equal(log_lines(bed, dll), [
        "GetMacSN start.",
        "GetPhysicalMac",
        "NdisCmd CreatFile Fail [%s] ErrorCode [3]." % direct_path,
        "NdisCmd Fail Index [0] Desc [%s] DevicePath [%s] ErrorCode [3]." % (DESC, direct_path),
        "SetApiGetAdrr Status.No.Support Status [0] Problem [0].",
        "SetApi Index [0] Desc [%s] Mac [%s]." % (DESC, MAC),
        "GetMacSN Mac Count [ 1 ]",
        "GetMacSN First Mac [ %s ]" % MAC,
        "GetMacSN  [ %s ]" % IDENTIFIER,
    ], "log lines")


@bed.case
def lower_case_path_that_does_not_open_either(prefix):
    # No help at all: the export through the plain test host, Wine's
    # SetupAPI finds the interface, and SetupAPI's lower-case path fails to
    # open as the direct one did; IP Helper's list then gives the address.
    direct_path, _ = one_adapter(prefix, [ADAPTER_PNP])
    dll = library_in_scratch(bed, prefix, with_log=True)
    run = call_export(bed, prefix, dll, EXPORT, "stdcall", buffer_len=40, size_arg=40, canary=0xCC)
    bed.expect_equal(run.exit_code, 0, "host exit code (%r)" % run)
    bed.expect_equal(run.calls[0].result, 32, "result")
    bed.expect_equal(run.calls[0].buffer, IDENTIFIER.encode() + b"\xCC" * 8, "identifier")
    bed.expect_equal(log_lines(bed, dll), [
        "GetMacSN start.",
        "GetPhysicalMac",
        "NdisCmd CreatFile Fail [%s] ErrorCode [3]." % direct_path,
        "NdisCmd Fail Index [0] Desc [%s] DevicePath [%s] ErrorCode [3]." % (DESC, direct_path),
        "SetApiGetAdrr Status.No.Support Status [0] Problem [0].",
        "NdisCmd CreatFile Fail [%s] ErrorCode [3]." % direct_path.lower(),
        "SetApi Fail Index [0] Desc [%s] DevicePath [%s] ErrorCode [3]." % (DESC, direct_path),
        "SetApi Mac Count = 0.",
        "GetMacSN  GetPhysicalMac MacCount is 0 .",
        "GetMacSN Mac Count [ 1 ]",
        "GetMacSN First Mac [ %s ]" % MAC,
        "GetMacSN  [ %s ]" % IDENTIFIER,
    ], "log lines")


@bed.case
def enable_attempt_as_wine_answers_it(prefix):
    # The library is told the device was disabled by its user; the enable
    # request itself goes to Wine. Another device's interface is listed
    # first, so the match is the second interface and the device read and
    # changed must be the second one as well.
    direct_path, _ = one_adapter(prefix, [OTHER_PNP, ADAPTER_PNP])
    dll = library_in_scratch(bed, prefix, with_log=True)
    run = run_setupapi_host(prefix, dll, "--link-when-listed", ADAPTER_PNP, "--report-disabled")
    expect_call(run, 32, IDENTIFIER)
    expect_interface_found(run, 1, direct_path)
    devinfo = run.of("devinfo")
    # Once for the status, once more inside the state change.
    bed.expect_equal([(d["index"], d["cbsize"], d["result"]) for d in devinfo],
                     [("1", str(DEVINFO_DATA_SIZE), "ok")] * 2, "SetupDiEnumDeviceInfo")
    bed.expect_equal(devinfo[0]["device"].upper(), ADAPTER_PNP.upper(),
                     "the device at the matching interface's index")
    status = run.of("status")
    bed.expect_equal([(s["device"], s["cr"], s["status"], s["problem"], s["reported"]) for s in status],
                     [(devinfo[0]["device"], "0", "0", "0",
                       "%d,%d" % (DN_HAS_PROBLEM | DN_DISABLEABLE, CM_PROB_DISABLED))],
                     "CM_Get_DevNode_Status: Wine's answer and the one handed on")
    params = run.of("installparams")
    bed.expect_equal(len(params), 1, "SetupDiSetClassInstallParamsW calls (%r)" % run)
    bed.expect_equal({k: params[0][k] for k in ("header", "function", "state", "scope", "profile", "size")},
                     {"header": "8", "function": str(DIF_PROPERTYCHANGE), "state": str(DICS_ENABLE),
                      "scope": str(DICS_FLAG_GLOBAL), "profile": "0", "size": "20"},
                     "the enable request's parameters")
    bed.expect_equal(params[0]["result"], "fail", "Wine's SetupDiSetClassInstallParamsW")
    error = params[0]["error"]
    bed.expect_equal(run.of("installer") + run.of("changestate"), [],
                     "no installer call after the parameters were refused")
    bed.expect_equal(log_lines(bed, dll), [
        "GetMacSN start.",
        "GetPhysicalMac",
        "NdisCmd CreatFile Fail [%s] ErrorCode [3]." % direct_path,
        "NdisCmd Fail Index [0] Desc [%s] DevicePath [%s] ErrorCode [3]." % (DESC, direct_path),
        "SetApiStaCha SetupDiSetClassInstallParams Error Code [%s]." % error,
        "SetApiGetAdrr Enable Fail Index [1] ErrorCode [%s]." % error,
        "SetApi Index [0] Desc [%s] Mac [%s]." % (DESC, MAC),
        "GetMacSN Mac Count [ 1 ]",
        "GetMacSN First Mac [ %s ]" % MAC,
        "GetMacSN  [ %s ]" % IDENTIFIER,
    ], "log lines")
    # Wine's SetupDiSetClassInstallParamsW fails without setting an error
    # of its own: the code the library logs is whatever the thread's last
    # error already was. That depends on the calls before it (the
    # adapter-state mutex, once taken, leaves 0), so only its source is
    # checked here.
    bed.expect_equal(error, params[0]["error_before"], "the code Wine's failure leaves")


@bed.case
def interface_of_another_device_matches_nothing(prefix):
    # SetupAPI lists one interface, of another PnP id (with the adapter's
    # GUID as reference string even): the walk ends without a match, nothing
    # is read, and only the adapter's failure is logged.
    direct_path, guid = one_adapter(prefix, [OTHER_PNP])
    dll = library_in_scratch(bed, prefix, with_log=True)
    run = run_setupapi_host(prefix, dll)
    expect_call(run, 32, IDENTIFIER)
    bed.expect_equal([(i["index"], i["result"], i["error"]) for i in run.of("interfaces")],
                     [("0", "ok", "0"), ("1", "fail", str(ERROR_NO_MORE_ITEMS))],
                     "the walk over the interfaces")
    bed.expect_equal([d["path"] for d in run.of("detail") if d["result"] == "ok"],
                     [device_interface_path(OTHER_PNP, guid).lower()], "the one listed path")
    bed.expect_equal(run.of("devinfo") + run.of("status") + run.of("installparams"), [],
                     "no device read without a match")
    bed.expect_equal(run.of("destroy"), [{"result": "ok"}], "the set is destroyed")
    bed.expect_equal(log_lines(bed, dll), [
        "GetMacSN start.",
        "GetPhysicalMac",
        "NdisCmd CreatFile Fail [%s] ErrorCode [3]." % direct_path,
        "NdisCmd Fail Index [0] Desc [%s] DevicePath [%s] ErrorCode [3]." % (DESC, direct_path),
        "SetApi Fail Index [0] Desc [%s] DevicePath [%s] ErrorCode [3]." % (DESC, direct_path),
        "SetApi Mac Count = 0.",
        "GetMacSN  GetPhysicalMac MacCount is 0 .",
        "GetMacSN Mac Count [ 1 ]",
        "GetMacSN First Mac [ %s ]" % MAC,
        "GetMacSN  [ %s ]" % IDENTIFIER,
    ], "log lines")



# The disabled adapter played whole: (case, host options, another process
# holds the adapter mutex, the state changes made, the log lines between
# the direct query's failure and the MAC's source, in this order).
READ = "SetApi Index [0] Desc [%s] Mac [%s]." % (DESC, MAC)
NOT_STARTED = "SetApiGetAdrr Dev Status [%d] Problem [0]." % DN_DISABLEABLE
DISABLED_ADAPTER_PATHS = [
    ("enabled_read_and_disabled_again", ["--driver-delay", "2500"], False,
     ["enabling", "disabled"], [NOT_STARTED, NOT_STARTED, READ]),
    ("driver_never_starts", ["--driver-delay", "never"], False, ["enabling", "disabled"],
     [NOT_STARTED] * 5 + ["SetApiGetAdrr Loop TimeOut...", "NdisCmd CreatFile Fail [{lower}] ErrorCode [3].",
                          "SetApi Fail Index [0] Desc [%s] DevicePath [{path}] ErrorCode [3]." % DESC]),
    ("read_fails", ["--driver-delay", "1500", "--read-fails"], False, ["enabling", "disabled"],
     [NOT_STARTED, "NdisCmd CreatFile Fail [{lower}] ErrorCode [3].", "NdisCmd CreatFile Fail [{lower}] ErrorCode [3].",
      "SetApi Fail Index [0] Desc [%s] DevicePath [{path}] ErrorCode [3]." % DESC]),
    ("enable_refused", ["--enable-fails"], False, ["disabled"],
     ["SetApiStaCha SetupDiCallClassInstaller/SetupDiChangeState Error Code [5] Is.Vista [1].",
      "SetApiGetAdrr Enable Fail Index [0] ErrorCode [5].", "NdisCmd CreatFile Fail [{lower}] ErrorCode [3]."]),
    ("adapter_mutex_held_by_another_process", ["--driver-delay", "500"], "--hold-adapter-mutex",
     ["enabling", "disabled"], ["SetApiGetAdrr Wait Adapter State TimeOut [10000].", READ]),
    # Made and held by another user: not waited for, and the read goes on.
    ("adapter_mutex_made_by_another_user", ["--driver-delay", "500"], "--squat-adapter-mutex",
     ["enabling", "disabled"], ["SetApiGetAdrr Adapter State Mutex Made By Another User.", READ]),
]


def expect_in_order(lines, expected, what):
    at = 0
    for line in lines:
        if at < len(expected) and line == expected[at]:
            at += 1
    bed.expect(at == len(expected), "%s: %r not found in this order in %r" % (what, expected[at:at + 1], lines))


def disabled_adapter_case(name, options, hold_mutex, states, expected_lines):
    def case(prefix):
        direct_path, _ = one_adapter(prefix, [ADAPTER_PNP])
        dll = library_in_scratch(bed, prefix, with_log=True)
        holder = None
        if hold_mutex:
            holder = subprocess.Popen(winebed.WINE + [bed.program("setupapi_host.exe"), hold_mutex],
                                      env=prefix.env, stdin=subprocess.PIPE, stderr=subprocess.PIPE)
            bed.expect(holder.stderr.readline().startswith(b"host: holding error=0"), "the mutex is held")
        try:
            run = run_setupapi_host(prefix, dll, "--disabled", ADAPTER_PNP, *options)
        finally:
            if holder:
                holder.stdin.close()
                holder.wait(timeout=60)
        expect_call(run, 32, IDENTIFIER)
        status = run.of("status")
        bed.expect_equal([(s["device"].upper(), s["reported"]) for s in status[:1]],
                         [(ADAPTER_PNP.upper(), "%d,%d" % (DN_HAS_PROBLEM | DN_DISABLEABLE, CM_PROB_DISABLED))],
                         "the status read: disabled by its user")
        requests = [(p["state"], p["scope"], p["header"], p["function"], p["profile"], p["size"], p["result"])
                    for p in run.of("installparams")]
        changes = [DICS_ENABLE, DICS_DISABLE][:len(states)]
        bed.expect_equal(requests, [(str(c), str(DICS_FLAG_GLOBAL), "8", str(DIF_PROPERTYCHANGE), "0", "20", "ok")
                                    for c in changes], "the enable and disable requests' parameters")
        bed.expect_equal([(i["function"], i["state"]) for i in run.of("installer")],
                         [(str(DIF_PROPERTYCHANGE), state) for state in states], "the state changes")
        bed.expect_equal(run.of("final"), [{"state": "disabled"}], "the adapter at the end")
        # The wait: a status poll a second after the enable and every second
        # after it, none once the driver is up or five seconds have passed.
        # (GetTickCount counts in steps of up to 16 ms.)
        polls = [int(s["since_enable"]) for s in status if "since_enable" in s]
        bed.expect(all(b - a >= 950 for a, b in zip([0] + polls, polls)) and polls[-1:] < [7000]
                   and bool(polls) == ("enabling" in states), "polls a second apart (%r)" % polls)
        started = run.of("driver")
        if "enabling" in states and "--driver-delay" in options and options[1] != "never":
            bed.expect_equal(len(started), 1, "the driver started (%r)" % run)
            bed.expect(polls[-1] >= int(options[1]), "the read waited for the driver (%r)" % polls)
        lines = log_lines(bed, dll)
        bed.expect_equal(lines[:4], [
            "GetMacSN start.", "GetPhysicalMac",
            "NdisCmd CreatFile Fail [%s] ErrorCode [3]." % direct_path,
            "NdisCmd Fail Index [0] Desc [%s] DevicePath [%s] ErrorCode [3]." % (DESC, direct_path)],
            "the direct query's log lines")
        expect_in_order(lines, [line.format(lower=direct_path.lower(), path=direct_path)
                                for line in expected_lines] + ["GetMacSN  [ %s ]" % IDENTIFIER], "log lines")
        if READ in expected_lines:
            bed.expect_equal(lines.count(NOT_STARTED), expected_lines.count(NOT_STARTED), "polls before the read")
        waits = [line for line in lines if line.startswith("SetApiGetAdrr Wait Adapter State")]
        bed.expect_equal(len(waits), int(hold_mutex == "--hold-adapter-mutex"), "waits for the mutex (%r)" % waits)
    case.__name__ = "disabled_adapter_" + name
    return bed.case(case)


for path in DISABLED_ADAPTER_PATHS:
    disabled_adapter_case(*path)

bed.main()
