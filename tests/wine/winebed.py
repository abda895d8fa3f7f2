"""The Wine test bed: private Wine prefixes, network namespaces, and a small
runner for test cases.

A test script:

    import winebed
    bed = winebed.TestBed()            # parses --build
    @bed.case
    def dll_loads(prefix):
        out = prefix.run([bed.program("tavsn_host.exe"), ...])
        bed.expect_equal(out.returncode, 0)
    bed.main()

Every case gets a fresh copy of a prepared prefix; its wineserver is ended
and the copy deleted when the case ends.
"""

import argparse
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import traceback

BASE_ENV = {
    "WINEDEBUG": "-all",
    # No Mono or Gecko install dialogs in a new prefix.
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
}

NETNS_MARKER = "TAVSN_IN_PRIVATE_NETNS"

# ctest reports a script that exits with this code as skipped, not passed.
SKIP_EXIT_CODE = 77
WINESERVER32 = "/usr/lib/wine/wineserver32"
WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"

# The command that starts a Windows program of the build under test: the
# 32-bit and the 64-bit loader are separate programs. TestBed sets it.
WINE = ["wine"]


def pe_file_header_field(path, offset, size):
    """A field of a PE file's COFF header, at `offset` after the signature."""
    with open(path, "rb") as f:
        header = f.read(4096)
    signature = int.from_bytes(header[0x3C:0x40], "little")
    return int.from_bytes(header[signature + 4 + offset:signature + 4 + offset + size], "little")


def pe_machine(path):
    """0x14C for x86, 0x8664 for x64."""
    return pe_file_header_field(path, 0, 2)


def pe_link_time(path):
    """The TimeDateStamp the linker wrote, 0 when it wrote none."""
    return pe_file_header_field(path, 4, 4)


def thirty_two_bit_programs_run():
    """Whether this kernel executes 32-bit x86 programs, as Wine's 32-bit
    half needs. Kernels may be built, or booted, without 32-bit emulation
    (ia32_emulation=off): Wine then cannot start at all."""
    try:
        subprocess.run([WINESERVER32, "--version"], capture_output=True, timeout=60)
        return True
    except OSError:
        return False


def winpath(path):
    """The Windows spelling of a Linux path, through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def in_private_network_namespace():
    """Re-runs this script in a new network namespace (and mount namespace,
    for `ip netns`) unless it already runs in one. Network facts that a test
    sees then come only from the interfaces it makes itself."""
    if os.environ.get(NETNS_MARKER) == "1":
        return
    env = dict(os.environ)
    env[NETNS_MARKER] = "1"
    cmd = ["unshare", "--net", "--mount", "--propagation", "private",
           sys.executable] + sys.argv
    sys.exit(subprocess.call(cmd, env=env))


def sh(*args, check=True):
    return subprocess.run(list(args), check=check, capture_output=True, text=True)


class Prefix:
    """A private copy of the prepared Wine prefix."""

    def __init__(self, base, scratch_root):
        self.dir = tempfile.mkdtemp(prefix="prefix-", dir=scratch_root)
        self.path = os.path.join(self.dir, "wine")
        shutil.copytree(base, self.path, symlinks=True)
        self.env = dict(os.environ)
        self.env.update(BASE_ENV)
        self.env["WINEPREFIX"] = self.path

    def run(self, args, cwd=None, timeout=300, input=None, extra_env=None, loader=None):
        """Runs a Windows program to its end, with the build's Wine loader
        unless another is given. Its output goes through files, not pipes: a
        Wine service that the program started may inherit the pipes and hold
        them open long after the program ended, and a reader waiting for
        their end would wait for that service."""
        env = dict(self.env)
        if extra_env:
            env.update(extra_env)
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            completed = subprocess.run((loader or WINE) + list(args), cwd=cwd, env=env, timeout=timeout,
                                       stdout=out, stderr=err, input=input)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(completed.args, completed.returncode,
                                               out.read(), err.read())

    def reg_import(self, text):
        """Imports a REGEDIT4 text into the prefix's registry."""
        reg = os.path.join(self.dir, "import.reg")
        with open(reg, "w", encoding="latin-1", newline="\r\n") as f:
            f.write(text)
        result = self.run(["regedit", "/S", winpath(reg)], timeout=120)
        if result.returncode != 0:
            raise RuntimeError("regedit failed: %r" % result.stderr)
        self.wait_for_server()

    def wait_for_server(self):
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=120)

    def close(self):
        quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60, **quiet)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60, **quiet)
        shutil.rmtree(self.dir, ignore_errors=True)


class Failure(Exception):
    pass


class TestBed:
    def __init__(self, add_arguments=None):
        """add_arguments(parser), when given, adds a script's own options;
        they are in self.args with --build."""
        parser = argparse.ArgumentParser()
        parser.add_argument("--build", required=True, help="the win32 build folder")
        parser.add_argument("cases", nargs="*", help="run only these cases")
        if add_arguments:
            add_arguments(parser)
        self.args = parser.parse_args()
        self.build = os.path.abspath(self.args.build)
        self.is_64_bit = pe_machine(os.path.join(self.build, "tavsn.dll")) == 0x8664
        if self.is_64_bit:
            WINE[:] = [WINE64]
            os.environ["WINELOADER"] = WINE64
        elif not thirty_two_bit_programs_run():
            print("SKIPPED: this kernel does not execute 32-bit programs (%s cannot start), "
                  "so 32-bit Wine cannot run here" % WINESERVER32, flush=True)
            sys.exit(SKIP_EXIT_CODE)
        self.wine_root = os.path.join(self.build, "wine")
        os.makedirs(self.wine_root, exist_ok=True)
        self.cases = []
        self.errors = []

    def export_name(self, function):
        """The name a host looks up: 32-bit stdcall exports carry their
        decorated names, x64 has only plain ones."""
        stdcall = {"GetMacSN", "GetPCSN", "GetPCSNEx"}
        return "_%s@8" % function if function in stdcall and not self.is_64_bit else function

    def program(self, name):
        """A program or DLL of the build, by file name."""
        path = os.path.join(self.build, name)
        if not os.path.exists(path):
            raise FileNotFoundError(path)
        return path

    def base_prefix(self):
        """The prepared prefix, made once per build folder."""
        base = os.path.join(self.wine_root, "base-prefix")
        with open(os.path.join(self.wine_root, "base.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(os.path.join(base, ".ready")):
                shutil.rmtree(base, ignore_errors=True)
                env = dict(os.environ)
                env.update(BASE_ENV)
                env["WINEPREFIX"] = base
                # Wine's services outlive wineboot: no pipe of theirs is waited on.
                quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
                subprocess.run(WINE + ["wineboot", "-i"], env=env, timeout=600, **quiet)
                # A crash ends the process with its exception code instead of
                # starting the debugger.
                subprocess.run(WINE + ["reg", "delete",
                                r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug",
                                "/v", "Debugger", "/f"], env=env, timeout=120, **quiet)
                subprocess.run(["wineserver", "-w"], env=env, timeout=120)
                open(os.path.join(base, ".ready"), "w").close()
        return base

    def case(self, function):
        self.cases.append(function)
        return function

    def scratch_dir(self, prefix):
        """A folder inside the case's scratch area, removed with it."""
        return tempfile.mkdtemp(prefix="scratch-", dir=prefix.dir)

    # --- assertions: a failed one ends the case ---
    def expect(self, condition, message):
        if not condition:
            raise Failure(message)

    def expect_equal(self, actual, expected, what=""):
        if actual != expected:
            raise Failure("%s: expected %r, got %r" % (what, expected, actual))

    def main(self):
        base = self.base_prefix()
        passed = failed = 0
        for function in self.cases:
            if self.args.cases and function.__name__ not in self.args.cases:
                continue
            prefix = Prefix(base, self.wine_root)
            try:
                function(prefix)
                passed += 1
                print("[ OK ] %s" % function.__name__, flush=True)
            except Exception as error:  # every failure is reported, then the next case
                failed += 1
                print("[FAIL] %s: %s" % (function.__name__, error), flush=True)
                if not isinstance(error, Failure):
                    traceback.print_exc()
            finally:
                prefix.close()
        print("%d passed, %d failed" % (passed, failed))
        sys.exit(1 if failed or not passed else 0)


# --- Network interfaces and adapter registry entries -------------------------
#
# Only for scripts that called in_private_network_namespace(): these helpers
# add and delete Linux interfaces and must never touch the host's own.

SIDE_NAMESPACE = "tavsn-side"
NET_CLASS_GUID = "{4D36E972-E325-11CE-BFC1-08002BE10318}"
NET_CLASS_KEY = ("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                 + NET_CLASS_GUID)
NET_CONNECTIONS_KEY = ("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Network\\"
                       + NET_CLASS_GUID)

_side_namespace_ready = False
_peer_count = 0


def _require_private_network_namespace():
    if os.environ.get(NETNS_MARKER) != "1":
        raise RuntimeError("network helpers run only after in_private_network_namespace()")


def _ensure_side_namespace():
    """A second namespace to hold the veth peers, so that Wine lists only the
    test's own ends. /run/netns gets a tmpfs of this mount namespace first,
    so the name cannot meet another script's."""
    global _side_namespace_ready
    _require_private_network_namespace()
    if _side_namespace_ready:
        return
    os.makedirs("/run/netns", exist_ok=True)
    sh("mount", "-t", "tmpfs", "tavsn-netns", "/run/netns")
    sh("ip", "netns", "add", SIDE_NAMESPACE)
    _side_namespace_ready = True


def _interfaces():
    """(ifindex, name) of this namespace's interfaces. /sys/class/net would
    show the namespace that mounted /sys, which is not this one."""
    found = []
    for line in sh("ip", "-o", "link", "show").stdout.splitlines():
        index, name = line.split(":")[:2]
        found.append((int(index), name.strip().split("@")[0]))
    return found


def remove_interfaces():
    """Deletes every interface of this namespace except lo."""
    _require_private_network_namespace()
    for _, name in _interfaces():
        if name != "lo":
            sh("ip", "link", "del", name)


def add_veth(name, mac):
    """Adds a veth interface `name` with address `mac` ("02:11:22:33:44:55")
    whose peer lives in the side namespace; returns its ifindex. Interfaces
    must exist before the prefix's first Wine process: Wine's NDIS driver
    makes its devices when it starts."""
    global _peer_count
    _ensure_side_namespace()
    _peer_count += 1
    sh("ip", "link", "add", name, "address", mac, "type", "veth",
       "peer", "name", "p%d" % _peer_count, "netns", SIDE_NAMESPACE)
    return interface_index(name)


def interface_index(name):
    for index, found in _interfaces():
        if found == name:
            return index
    raise RuntimeError("no interface %s" % name)


def wine_adapter_guid(ifindex):
    """The AdapterName (and NDIS device name) Wine gives the interface."""
    return "{%08X-0000-0000-0000-4E6574446576}" % ifindex


def reg_string(text):
    """A REGEDIT4 string value."""
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def net_adapter_reg_text(adapters):
    """REGEDIT4 text for network-adapter class entries. Each adapter is a dict:
      subkey            the class subkey name ("0000")
      if_type, characteristics   DWORD values, left out when None or absent
      driver_desc, net_cfg_instance_id   string values, left out when None
      pnp_instance_id   the Connection key's PnpInstanceID, left out when None
      connection        False leaves the Connection key out altogether
    The Connection key is named by net_cfg_instance_id."""
    lines = ["REGEDIT4", ""]
    for adapter in adapters:
        lines.append("[%s\\%s]" % (NET_CLASS_KEY, adapter["subkey"]))
        for value, field in (("*IfType", "if_type"), ("Characteristics", "characteristics")):
            if adapter.get(field) is not None:
                lines.append('"%s"=dword:%08x' % (value, adapter[field]))
        for value, field in (("DriverDesc", "driver_desc"),
                             ("NetCfgInstanceId", "net_cfg_instance_id")):
            if adapter.get(field) is not None:
                lines.append('"%s"=%s' % (value, reg_string(adapter[field])))
        lines.append("")
        guid = adapter.get("net_cfg_instance_id")
        if guid and adapter.get("connection", True):
            lines.append("[%s\\%s\\Connection]" % (NET_CONNECTIONS_KEY, guid))
            if adapter.get("pnp_instance_id") is not None:
                lines.append('"PnpInstanceID"=%s' % reg_string(adapter["pnp_instance_id"]))
            lines.append("")
    return "\n".join(lines) + "\n"
