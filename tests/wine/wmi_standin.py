"""Puts the stand-in WMI provider (wmi_standin.dll) in Wine's place in a test
prefix, tells it what to answer, and reads what it saw.

    import wmi_standin
    wmi_standin.install(bed, prefix)
    env = wmi_standin.environment(prefix, table=b"...", major=3, minor=4,
                                  fail={"connect": 0x8004100E})
    run = wmi_standin.run_client(bed, prefix, env)      # wmi_client.exe
    run.hresults["ConnectServer"], run.table, run.result, run.log
    journal = wmi_standin.read_journal(prefix)             # list of JournalLine

Where the DLL goes. CoCreateInstance(CLSID_WbemLocator) loads the file named
by HKCR\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32, which a
new prefix sets to C:\\windows\\system32\\wbem\\wbemprox.dll. With wine32 alone
the prefix is a 32-bit one (WINEARCH=win32): drive_c/windows holds system32
only, and system32 is where the 32-bit DLLs live. A 64-bit (WoW64) prefix
would redirect a 32-bit process's system32 to syswow64, so install() uses
syswow64 when the prefix has one. The copy of the prepared prefix may share
the file with the base prefix through a hard link, so the file is removed
before the stand-in is copied in; writing through it would change the base.
The prefix's file is Wine's builtin placeholder, so WINEDLLOVERRIDES must ask
for the native wbemprox (wbemprox=n) or Wine loads its own WMI anyway.

The stand-in's environment contract (see wmi_standin_dll.cpp):
  TAVSN_WMI_TABLE       Windows path of the SMBiosData bytes; unset: Get fails
                        with WBEM_E_NOT_FOUND (0x80041002)
  TAVSN_WMI_MAJOR/MINOR the version numbers; unset: Get fails the same way
  TAVSN_WMI_VERSION_VT  variant type of the versions (default 17, VT_UI1)
  TAVSN_WMI_DATA_VT     variant type of SMBiosData (default 0x2011)
  TAVSN_WMI_FAIL        "step=HRESULT,..." for class_object, create, connect,
                        query_security, blanket, enum, next, get_major,
                        get_minor, get_data; "next=none" gives no object
  TAVSN_WMI_JOURNAL     Windows path of the journal file
"""

import os
import re

import winebed

STANDIN_DLL = "wmi_standin.dll"
CLIENT_EXE = "wmi_client.exe"
OVERRIDES = winebed.BASE_ENV["WINEDLLOVERRIDES"] + ";wbemprox=n"

VT_UI1 = 17
VT_ARRAY_UI1 = 0x2011
WBEM_E_NOT_FOUND = 0x80041002
RPC_E_CHANGED_MODE = 0x80010106


def signed(hresult):
    """An HRESULT as the signed 32-bit number that logs and the client print."""
    hresult &= 0xFFFFFFFF
    return hresult - 0x100000000 if hresult & 0x80000000 else hresult


def system32(bed, prefix):
    """The Linux path of the folder the build's processes see as
    C:\\windows\\system32: a 32-bit process in a 64-bit prefix is sent to
    syswow64, a 64-bit process always sees system32."""
    windows = os.path.join(prefix.path, "drive_c", "windows")
    wow64 = os.path.join(windows, "syswow64")
    if not bed.is_64_bit and os.path.isdir(wow64):
        return wow64
    return os.path.join(windows, "system32")


def install(bed, prefix):
    """Replaces wbemprox.dll in the prefix with the stand-in; returns the path."""
    target = os.path.join(system32(bed, prefix), "wbem", "wbemprox.dll")
    os.makedirs(os.path.dirname(target), exist_ok=True)
    if os.path.lexists(target):
        os.remove(target)
    with open(bed.program(STANDIN_DLL), "rb") as source, open(target, "wb") as copy:
        copy.write(source.read())
    return target


def environment(prefix, table=None, major=None, minor=None, version_vt=None, data_vt=None,
                fail=None, journal=True):
    """The extra environment for a process that should meet the stand-in.
    table: bytes served as SMBiosData (None: the property is not found);
    fail: {step: HRESULT int, or "none" for next}; journal: True for a journal
    file in the case's scratch area (read_journal(prefix) reads it)."""
    env = {"WINEDLLOVERRIDES": OVERRIDES}
    scratch = os.path.join(prefix.dir, "wmi")
    os.makedirs(scratch, exist_ok=True)
    if table is not None:
        path = os.path.join(scratch, "table.bin")
        with open(path, "wb") as f:
            f.write(table)
        env["TAVSN_WMI_TABLE"] = winebed.winpath(path)
    for name, value in (("TAVSN_WMI_MAJOR", major), ("TAVSN_WMI_MINOR", minor),
                        ("TAVSN_WMI_VERSION_VT", version_vt), ("TAVSN_WMI_DATA_VT", data_vt)):
        if value is not None:
            env[name] = str(value)
    if fail:
        entries = []
        for step, value in fail.items():
            entries.append("%s=%s" % (step, value if isinstance(value, str)
                                      else "0x%08X" % (value & 0xFFFFFFFF)))
        env["TAVSN_WMI_FAIL"] = ",".join(entries)
    if journal:
        path = os.path.join(scratch, "journal.txt")
        if os.path.exists(path):
            os.remove(path)
        env["TAVSN_WMI_JOURNAL"] = winebed.winpath(path)
    return env


def journal_path(prefix):
    return os.path.join(prefix.dir, "wmi", "journal.txt")


class JournalLine:
    """One journal line: `who` (factory, locator, services, enumerator,
    object, client, dll, DllGetClassObject, DllCanUnloadNow), `what` (the
    call or event) and its key=value fields, quotes removed."""

    FIELD = re.compile(r'(\w+)=("[^"]*"|\S+)')

    def __init__(self, text):
        self.text = text
        words = text.split(" ", 2)
        self.who = words[0]
        self.what = words[1] if len(words) > 1 and "=" not in words[1] else ""
        self.fields = {key: value[1:-1] if value.startswith('"') else value
                       for key, value in self.FIELD.findall(text)}

    def __repr__(self):
        return "JournalLine(%r)" % self.text


def read_journal(prefix):
    path = journal_path(prefix)
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [JournalLine(line.rstrip("\r\n")) for line in f if line.strip()]


class ClientRun:
    """What wmi_client.exe printed. hresults: step -> signed HRESULT for the
    steps reached (of the last call when there were several); calls: one
    dict per call with the same and the other facts."""

    def __init__(self, completed):
        self.exit_code = completed.returncode
        self.stdout = completed.stdout.decode("latin-1")
        self.lines = [line.rstrip("\r") for line in self.stdout.splitlines()]
        self.facts = {}
        self.calls = []
        for line in self.lines:
            if line.startswith("call="):
                self.calls.append({"hresults": {}, "log": None, "table": None,
                                   "result": None, "uninitialized": False})
                continue
            if line.startswith("apartment="):
                self.facts.update(dict(re.findall(r"(\w+)=(\S+)", line)))
                continue
            if not self.calls:
                continue
            call = self.calls[-1]
            if line.startswith("log="):
                call["log"] = line[len("log="):]
            elif line.startswith("table="):
                call["table"] = bytes.fromhex(line[len("table="):])
            elif line.startswith("result="):
                call["result"] = line[len("result="):] == "true"
            elif line == "CoUninitialize":
                call["uninitialized"] = True
            elif "=" not in line:
                self.facts[line] = True
            else:
                step, rest = line.split("=", 1)
                value = rest.split(" ", 1)
                call["hresults"][step] = int(value[0])
                call[step] = dict(re.findall(r"(\w+)=(\S+)", line))

    def __getattr__(self, name):
        if name in ("hresults", "log", "table", "result", "uninitialized"):
            return self.calls[-1][name] if self.calls else None
        raise AttributeError(name)

    def __repr__(self):
        return "ClientRun(exit=%d, stdout=%r)" % (self.exit_code, self.stdout[:2000])


def run_client(bed, prefix, env, apartment=None, calls=None, timeout=120):
    args = [bed.program(CLIENT_EXE)]
    if apartment:
        args += ["--apartment", apartment]
    if calls:
        args += ["--calls", str(calls)]
    return ClientRun(prefix.run(args, extra_env=env, timeout=timeout))
