"""The adapter reader under Wine: its Win32 layer, GetPhysicalMac over
registry entries that the test writes, and the two fallback sources.

Every case runs in a private network namespace with veth interfaces of
chosen addresses (their peers live in a side namespace, so Wine lists only
these). Wine registers no NDIS device interfaces; the probe makes the \\??
links for the PnP ids a case wants readable, so their interface paths open
on Wine's NDIS devices, and paths of other PnP ids fail with error 3.
"""

import os
import re
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402

winebed.in_private_network_namespace()

bed = winebed.TestBed()

NDIS_LAN_CLASS = "{ad498944-762f-11d0-8dcb-00c04fc3358c}"
LOG_LINE = re.compile(r"^ *\d+: (.*)$")
MAC_TEXT = re.compile(r"^[0-9A-F]{12}$")


def interface_path(pnp_instance_id, guid):
    return "\\\\?\\" + pnp_instance_id.replace("\\", "#") + "#" + NDIS_LAN_CLASS + "\\" + guid


def make_interfaces(interfaces):
    """Replaces the namespace's interfaces by `interfaces`, a list of
    (name, mac) in the order they are made; returns name -> Wine GUID."""
    winebed.remove_interfaces()
    return {name: winebed.wine_adapter_guid(winebed.add_veth(name, mac))
            for name, mac in interfaces}


class ProbeRun:
    def __init__(self, stdout, log_lines):
        self.lines = stdout.splitlines()
        self.log = log_lines

    def with_word(self, word):
        """The probe's lines that start with `word`, without it."""
        return [line[len(word) + 1:] for line in self.lines if line.split(" ")[0] == word]


def run_probe(prefix, *commands):
    """Runs the probe from a folder of its own with an empty "tavsn.log"
    beside it, so the log module opens it; returns the printed lines and
    the text of each log line without its time stamp."""
    folder = bed.scratch_dir(prefix)
    program = os.path.join(folder, "adapter_probe.exe")
    shutil.copy(bed.program("adapter_probe.exe"), program)
    log_path = os.path.join(folder, "tavsn.log")
    open(log_path, "wb").close()
    result = prefix.run([program] + list(commands))
    bed.expect_equal(result.returncode, 0, "probe exit code (stderr %r)" % result.stderr)
    with open(log_path, "rb") as f:
        raw = f.read().decode("latin-1")
    return ProbeRun(result.stdout.decode("latin-1"), log_texts(raw))


def log_texts(raw):
    """The texts of the lines after the banner; every one of them must carry
    its time stamp and end with CR LF."""
    bed.expect(raw.endswith("\r\n"), "log ends with a whole line: %r" % raw[-40:])
    lines = raw[:-2].split("\r\n")
    banners = [i for i, line in enumerate(lines) if line.startswith("------------------ TavSN ")]
    bed.expect_equal(len(banners), 1, "banners in the log")
    texts = []
    for line in lines[banners[0] + 1:]:
        match = LOG_LINE.match(line)
        bed.expect(match is not None, "log line without time stamp: %r" % line)
        texts.append(match.group(1))
    return texts


def calls_in_log(log, first_line):
    """The log split into the blocks that start with `first_line`."""
    starts = [i for i, line in enumerate(log) if line == first_line]
    bed.expect(starts and starts[0] == 0, "log starts with %r: %r" % (first_line, log))
    return [log[start:end] for start, end in zip(starts, starts[1:] + [len(log)])]


@bed.case
def win32_layer_calls(prefix):
    guids = make_interfaces([("ethPCI", "02:11:22:33:44:55"), ("wlan7", "02:aa:bb:cc:dd:01")])
    linked = "PCI\\VEN_8086&DEV_100E\\3&1"
    unlinked = "PCI\\VEN_10EC&DEV_8168\\4&2"
    environment = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"
    run = run_probe(
        prefix, "facts", "ipadapters", "uuid", "setupapi",
        "open", "\\\\.\\" + guids["ethPCI"],
        "open", interface_path(linked, guids["wlan7"]),
        "link", linked,
        "open", interface_path(linked, guids["wlan7"]),
        # Letter case and the GUID's spelling do not matter to the link.
        "open", interface_path(linked.lower(), guids["ethPCI"]).replace(NDIS_LAN_CLASS, NDIS_LAN_CLASS.upper()),
        "open", interface_path(linked, winebed.wine_adapter_guid(99)),
        "open", interface_path(unlinked, guids["ethPCI"]),
        "regvalue", environment, "OS", "4",
        "regvalue", environment, "OS", "11",
        "regvalue", environment, "NoSuchValue", "4")
    bed.expect_equal(run.with_word("admin"), ["1"], "IsUserAnAdmin")
    version = run.with_word("version")
    bed.expect(len(version) == 1 and version[0].startswith("ok ") and int(version[0][3:]) >= 6,
               "GetVersionExW: %r" % version)
    bed.expect_equal(run.with_word("ipadapter"),
                     ["021122334455 ethPCI", "02AABBCCDD01 wlan7"], "IP Helper list")
    bed.expect_equal(run.with_word("ipadapters"), ["ok 2"], "IP Helper result")
    uuid = run.with_word("uuid")
    bed.expect(len(uuid) == 1 and uuid[0].split(" ")[0] == "0", "UuidCreateSequential: %r" % uuid)
    bed.expect(uuid[0].split(" ")[1][20:] in ("021122334455", "02AABBCCDD01"),
               "UUID node is an interface's address: %r" % uuid)
    bed.expect_equal(run.with_word("setupapi"), ["set ok", "end 0"], "NDIS interfaces under Wine")
    bed.expect_equal(run.with_word("link"), ["00000000 " + linked], "NtCreateSymbolicLinkObject")
    bed.expect_equal(run.with_word("open"), [
        "ok 021122334455",   # \\.\{GUID}: Wine's NDIS device itself
        "fail 3",            # interface path before the link exists
        "ok 02AABBCCDD01",   # ... and after
        "ok 021122334455",
        "fail 2",            # linked, but no adapter of that GUID
        "fail 3",            # a PnP id without a link
    ], "device opens and permanent-address queries")
    bed.expect_equal(run.with_word("regvalue"), [
        "234 11 ABABABAB",   # too small: ERROR_MORE_DATA, buffer untouched
        "0 11 57696E646F77735F4E5400",
        "2 4 ABABABAB",
    ], "RegQueryValueExA")


# GetPhysicalMac over a registry that holds every kind of entry it must
# tell apart. The linked PnP ids open; PNP_DISABLED has no link (error 3,
# then the SetupAPI read, which finds no interface under Wine).
PNP_B = "PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\\3&267A616A&0&18"
PNP_A = "PCI\\VEN_10EC&DEV_8168&SUBSYS_00000000&REV_06\\4&1&0&E0"
PNP_C = "USB\\VID_0B95&PID_1790\\00000000000C"
PNP_STALE = "PCI\\VEN_14E4&DEV_1677\\4&3&0&0"
PNP_DISABLED = "PCI\\VEN_1AF4&DEV_1000\\3&13C0B0C5&0&28"
NO_ADAPTER_GUID = winebed.wine_adapter_guid(99)
LONG_DESC = "Intel(R) Ethernet Connection I219-LM with a name far too long to keep"


def physical_registry(guids):
    def physical(subkey, desc, guid, pnp, if_type=6):
        return dict(subkey=subkey, if_type=if_type, characteristics=0x84, driver_desc=desc,
                    net_cfg_instance_id=guid, pnp_instance_id=pnp)

    def unread(subkey, desc, if_type, characteristics, guid):
        return dict(subkey=subkey, if_type=if_type, characteristics=characteristics,
                    driver_desc=desc, net_cfg_instance_id=guid, pnp_instance_id=PNP_B + "&" + subkey)

    return [
        dict(subkey="00-1", if_type=6, characteristics=4, driver_desc="Hyphen",
             net_cfg_instance_id=guids["ethB"], pnp_instance_id=PNP_B),
        physical("0000", "Intel PRO/1000 B", guids["ethB"], PNP_B),
        physical("0001", "Realtek A", guids["ethA"], PNP_A),
        unread("0002", "Loopback Adapter", 24, 0x84, "{F0000002-0000-0000-0000-000000000000}"),
        unread("0003", "WAN Miniport (PPP)", 23, 0x84, "{F0000003-0000-0000-0000-000000000000}"),
        unread("0004", "WAN Miniport (SLIP)", 28, 0x84, "{F0000004-0000-0000-0000-000000000000}"),
        dict(subkey="0005", if_type=6, driver_desc="No Characteristics",
             net_cfg_instance_id="{F0000005-0000-0000-0000-000000000000}",
             pnp_instance_id=PNP_B + "&5"),
        unread("0006", "Virtual Switch", 6, 0x1, "{F0000006-0000-0000-0000-000000000000}"),
        physical("0007", "Disabled NIC", guids["ethD"], PNP_DISABLED),
        physical("0008", "Stale Adapter", NO_ADAPTER_GUID, PNP_STALE),
        # The same Connection key as 0001, so the same path and address.
        dict(subkey="0009", if_type=6, characteristics=4, driver_desc=LONG_DESC,
             net_cfg_instance_id=guids["ethA"]),
        dict(subkey="000A", if_type=6, characteristics=4, driver_desc="No Connection",
             net_cfg_instance_id="{F000000A-0000-0000-0000-000000000000}", connection=False),
        dict(subkey="000B", if_type=6, characteristics=4, driver_desc="No NetCfgInstanceId"),
        dict(subkey="000C", if_type=6, characteristics=4, driver_desc="No PnpInstanceID",
             net_cfg_instance_id="{F000000C-0000-0000-0000-000000000000}"),
        dict(subkey="000D", characteristics=4, driver_desc="No IfType",
             net_cfg_instance_id=guids["ethC"], pnp_instance_id=PNP_C),
        physical("00000", "Five Characters", guids["ethC"], PNP_C),
        physical("Properties", "Not An Adapter", guids["ethC"], PNP_C),
    ]


@bed.case
def physical_macs_from_registry(prefix):
    guids = make_interfaces([
        ("ethA", "02:00:00:00:00:0a"), ("ethB", "02:00:00:00:00:bb"),
        ("ethC", "02:00:00:00:00:0c"), ("ethD", "02:00:00:00:00:dd")])
    prefix.reg_import(winebed.net_adapter_reg_text(physical_registry(guids)))
    disabled_path = interface_path(PNP_DISABLED, guids["ethD"])
    stale_path = interface_path(PNP_STALE, NO_ADAPTER_GUID)

    run = run_probe(prefix, "link", PNP_A, "link", PNP_B, "link", PNP_C, "link", PNP_STALE,
                    "regenum", winebed.NET_CLASS_KEY.split("\\", 1)[1],
                    "physical", "physical")

    bed.expect_equal(run.with_word("regkey"), [
        "00-1", "0000", "00000", "0001", "0002", "0003", "0004", "0005", "0006", "0007",
        "0008", "0009", "000A", "000B", "000C", "000D", "Properties"], "class subkeys as Wine lists them")
    expected_macs = ["count 3", "mac 02000000000A", "mac 02000000000C", "mac 0200000000BB"]
    bed.expect_equal(run.with_word("physical"), expected_macs * 2, "GetPhysicalMac, called twice")

    # Index counts kept records only: 00-1, 000A, 000B, 000C, 00000 and
    # Properties are dropped.
    expected_log = [
        "GetPhysicalMac",
        "SetApi Index [0] Desc [Intel PRO/1000 B] Mac [0200000000BB].",
        "SetApi Index [1] Desc [Realtek A] Mac [02000000000A].",
        "IF.TYPE No Support Index [2] Desc [Loopback Adapter] Type [24].",
        "IF.TYPE No Support Index [3] Desc [WAN Miniport (PPP)] Type [23].",
        "IF.TYPE No Support Index [4] Desc [WAN Miniport (SLIP)] Type [28].",
        "IF.Characteristics No Support Index [5] Desc [No Characteristics] Value [0].",
        "IF.Characteristics No Support Index [6] Desc [Virtual Switch] Value [1].",
        "NdisCmd CreatFile Fail [%s] ErrorCode [3]." % disabled_path,
        "NdisCmd Fail Index [7] Desc [Disabled NIC] DevicePath [%s] ErrorCode [3]." % disabled_path,
        "SetApi Fail Index [7] Desc [Disabled NIC] DevicePath [%s] ErrorCode [3]." % disabled_path,
        "NdisCmd CreatFile Fail [%s] ErrorCode [2]." % stale_path,
        "NdisCmd Fail Index [8] Desc [Stale Adapter] DevicePath [%s] ErrorCode [2]." % stale_path,
        "SetApi Index [9] Desc [] Mac [02000000000A].",
        "SetApi Index [10] Desc [No IfType] Mac [02000000000C].",
    ]
    bed.expect_equal(calls_in_log(run.log, "GetPhysicalMac"), [expected_log, expected_log],
                     "log of the two calls")


@bed.case
def physical_all_skipped_then_pci_fallback(prefix):
    guids = make_interfaces([
        ("wlan0", "02:00:00:00:01:01"), ("ethpci", "02:00:00:00:01:02"),
        ("ethPCI0", "02:00:00:00:01:03"), ("ethPCI1", "02:00:00:00:01:04")])
    prefix.reg_import(winebed.net_adapter_reg_text([
        dict(subkey="0000", if_type=24, characteristics=4, driver_desc="Loopback",
             net_cfg_instance_id=guids["ethPCI0"], pnp_instance_id=PNP_A),
        dict(subkey="0001", if_type=6, characteristics=0, driver_desc="Virtual",
             net_cfg_instance_id=guids["ethPCI1"], pnp_instance_id=PNP_B),
    ]))
    run = run_probe(prefix, "link", PNP_A, "link", PNP_B, "physical", "pci", "uuid", "uuidmac")
    bed.expect_equal(run.with_word("physical"), ["count 0"], "GetPhysicalMac")
    # The first adapter whose description (the Linux name) has "PCI" in
    # capitals; "ethpci" does not count.
    bed.expect_equal(run.with_word("pci"), ["count 1", "mac 020000000103"], "GetMacFromPCI")
    uuid = run.with_word("uuid")[0].split(" ")
    bed.expect_equal(uuid[0], "0", "UuidCreateSequential status with interfaces")
    bed.expect_equal(run.with_word("uuidmac"), ["count 1", "mac " + uuid[1][20:]], "GetUUIDMac")
    bed.expect(uuid[1][20:] in ("020000000101", "020000000102", "020000000103", "020000000104"),
               "UUID node is an interface's address: %r" % uuid)
    bed.expect_equal(run.log, [
        "GetPhysicalMac",
        "IF.TYPE No Support Index [0] Desc [Loopback] Type [24].",
        "IF.Characteristics No Support Index [1] Desc [Virtual] Value [0].",
        "SetApi Mac Count = 0.",
        "CGetMac GetUUIDMac start ",
    ], "log")


@bed.case
def pci_fallback_without_pci_description(prefix):
    make_interfaces([("pcilow0", "02:00:00:00:02:01"), ("wlan1", "02:00:00:00:02:02")])
    run = run_probe(prefix, "physical", "pci")
    bed.expect_equal(run.with_word("physical"), ["count 0"], "GetPhysicalMac without a class key")
    bed.expect_equal(run.with_word("pci"), ["count 1", "mac 020000000201"], "GetMacFromPCI: the first adapter")
    bed.expect_equal(run.log, ["GetPhysicalMac", "EnumNetAdapters Count = 0."], "log")


@bed.case
def no_interface_at_all(prefix):
    make_interfaces([])
    run = run_probe(prefix, "ipadapters", "physical", "pci", "uuid", "uuidmac", "uuidmac")
    bed.expect_equal(run.with_word("ipadapters"), ["fail 232"], "GetAdaptersInfo without interfaces")
    bed.expect_equal(run.with_word("physical"), ["count 0"], "GetPhysicalMac")
    bed.expect_equal(run.with_word("pci"), ["count 0"], "GetMacFromPCI")
    bed.expect_equal(run.with_word("uuid")[0].split(" ")[0], "1824", "RPC_S_UUID_LOCAL_ONLY")
    uuid_macs = run.with_word("uuidmac")
    bed.expect(len(uuid_macs) == 4 and uuid_macs[0] == uuid_macs[2] == "count 1"
               and all(MAC_TEXT.match(m[4:]) for m in (uuid_macs[1], uuid_macs[3])),
               "GetUUIDMac lists the local-only node: %r" % uuid_macs)
    bed.expect_equal(run.log, [
        "GetPhysicalMac", "EnumNetAdapters Count = 0.",
        "CGetMac GetUUIDMac start ", "CGetMac GetUUIDMac start ",
    ], "log")


bed.main()
