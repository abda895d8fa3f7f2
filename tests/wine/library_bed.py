"""What the Wine tests of the identifier exports share: a private copy of
tavsn.dll with or without its log file, the log's lines, and network
adapters with chosen addresses and registry entries whose interface paths a
helper process keeps open for the library to reach."""

import os
import re
import shutil
import subprocess

import winebed


# The system UUID of the firmware tables below.
UUID_BYTES = bytes(range(0, 0x100, 0x11))


def system_table(serial):
    """A firmware table with one system structure naming `serial`, and the
    end-of-table structure."""
    table = bytes([1, 0x1B, 0x01, 0x00, 1, 2, 3, 4]) + UUID_BYTES + bytes([6, 0, 0])
    for text in (b"Maker", b"Model", b"1.0", serial.encode()):
        table += text + b"\0"
    return table + b"\0" + bytes([127, 4, 0x02, 0x00, 0, 0])


def library_in_scratch(bed, prefix, with_log):
    """A copy of tavsn.dll in a folder of its own, so that its log file is
    the case's alone."""
    folder = bed.scratch_dir(prefix)
    dll = os.path.join(folder, "tavsn.dll")
    shutil.copy(bed.program("tavsn.dll"), dll)
    if with_log:
        open(os.path.join(folder, "tavsn.log"), "wb").close()
    return dll


def log_lines(bed, dll):
    """The log's lines after the banner, without their time stamps."""
    with open(os.path.join(os.path.dirname(dll), "tavsn.log"), "rb") as f:
        text = f.read().decode("latin-1")
    bed.expect(text.endswith("\r\n"), "log ends with CR LF")
    lines = text.split("\r\n")[:-1]
    bed.expect(re.fullmatch(r" *\d+: ", lines[0]) is not None, "prefix-only line %r" % lines[0])
    bed.expect(lines[1].startswith("------------------ TavSN "), "banner %r" % lines[1])
    return [re.sub(r"^ *\d+: ", "", line) for line in lines[2:]]


class Adapters:
    """veth interfaces with chosen addresses, their registry entries, and a
    probe process that keeps their interface paths open for the host."""

    def __init__(self, bed, prefix):
        self.bed = bed
        self.prefix = prefix
        self.entries = []
        self.holder = None

    def add(self, name, mac, physical=True, registered=True):
        index = winebed.add_veth(name, ":".join(mac[i:i + 2] for i in range(0, 12, 2)))
        if registered:
            self.entries.append({
                "subkey": "%04d" % len(self.entries),
                "if_type": 6,
                "characteristics": 0x84 if physical else 0x80,
                "driver_desc": "Adapter %s" % name,
                "net_cfg_instance_id": winebed.wine_adapter_guid(index),
                "pnp_instance_id": "PCI\\VEN_8086&DEV_100E\\3&%d" % index,
            })

    def start(self):
        if self.entries:
            self.prefix.reg_import(winebed.net_adapter_reg_text(self.entries))
        args = winebed.WINE + [self.bed.program("adapter_probe.exe")]
        for entry in self.entries:
            args += ["link", entry["pnp_instance_id"]]
        args.append("hold")
        env = dict(self.prefix.env)
        self.holder = subprocess.Popen(args, env=env, stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, cwd=self.bed.scratch_dir(self.prefix))
        for line in self.holder.stdout:
            if line.strip() == b"hold ready":
                return
            self.bed.expect(line.startswith(b"link 00000000"), "link made: %r" % line)
        raise winebed.Failure("the link holder ended early")

    def stop(self):
        if self.holder:
            self.holder.stdin.close()
            self.holder.wait(timeout=60)


def with_adapters(bed, prefix, make):
    winebed.remove_interfaces()  # a case sees only its own adapters
    adapters = Adapters(bed, prefix)
    make(adapters)
    adapters.start()
    return adapters


NDIS_LAN_CLASS = "{ad498944-762f-11d0-8dcb-00c04fc3358c}"
DEVICE_CLASSES_KEY = ("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
                      + NDIS_LAN_CLASS)
ENUM_KEY = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum"


def device_interface_path(pnp_instance_id, reference):
    """The interface path the library builds for an adapter: the PnP id
    with "#" for "\\", the NDIS LAN class, then "\\" and the reference."""
    return "\\\\?\\%s#%s\\%s" % (pnp_instance_id.replace("\\", "#"), NDIS_LAN_CLASS, reference)


def ndis_interface_reg_lines(pnp_instance_id, reference):
    """REGEDIT4 lines (without the header) that make Wine's SetupAPI list an
    NDIS LAN-class interface of the device `pnp_instance_id` whose
    reference string is `reference` (the adapter's GUID): the subkey "#"
    followed by the reference string carries it into the listed path."""
    hashed = pnp_instance_id.replace("\\", "#")
    key = "%s\\##?#%s#%s" % (DEVICE_CLASSES_KEY, hashed, NDIS_LAN_CLASS)
    return [
        "[%s]" % key,
        '"DeviceInstance"=%s' % winebed.reg_string(pnp_instance_id),
        "",
        "[%s\\#%s]" % (key, reference),
        '"SymbolicLink"=%s' % winebed.reg_string(device_interface_path(pnp_instance_id, reference)),
        "",
        "[%s\\#%s\\Control]" % (key, reference),
        '"Linked"=dword:00000001',
        "",
        "[%s\\%s]" % (ENUM_KEY, pnp_instance_id),
        '"ClassGUID"="%s"' % winebed.NET_CLASS_GUID.lower(),
        "",
    ]
