"""Runs tavsn_host.exe (export_host.cpp) and reads its lines.

    from export_host import call_export
    run = call_export(bed, prefix, bed.program("tavsn.dll"), "tav_get_pc_id", "cdecl",
                      buffer_len=64, size_arg=31, calls=2)
    run.exit_code, run.stdout (what the export printed), run.calls[0].result,
    run.calls[0].buffer (bytes), run.calls[0].stack_balanced, ...
"""

import re

import winebed

# The DLL's six exports and their calling conventions on x86.
EXPORTS = [("GetMacSN", "stdcall"), ("GetPCSN", "stdcall"), ("GetPCSNEx", "stdcall"),
           ("tav_get_pc_id_ex", "cdecl"), ("tav_get_pc_id_info", "cdecl"), ("tav_get_pc_id", "cdecl")]


class Call:
    def __init__(self, fields):
        self.number = int(fields["call"])
        self.result = int(fields["result"])
        self.esp_delta = int(fields["esp_delta"])
        self.stack_balanced = fields["stack"] == "balanced"
        self.registers_preserved = fields["registers"] == "preserved"
        self.buffer = b""
        self.guard_intact = None
        self.stack_peak = None

    def __repr__(self):
        return "Call(%d, result=%d, esp_delta=%d, buffer=%s, guard_intact=%r)" % (
            self.number, self.result, self.esp_delta, self.buffer.hex().upper(), self.guard_intact)


class HostRun:
    def __init__(self, completed):
        self.exit_code = completed.returncode
        self.stdout = completed.stdout.decode("latin-1")
        self.stderr = completed.stderr.decode("latin-1")
        self.lines = [line[len("host: "):] for line in self.stderr.splitlines()
                      if line.startswith("host: ")]
        self.calls = []
        self.facts = {}
        for line in self.lines:
            fields = dict(re.findall(r"(\w+)=(\S*)", line))
            if "call" in fields:
                self.calls.append(Call(fields))
            elif "buffer" in fields and self.calls:
                self.calls[-1].buffer = bytes.fromhex(fields["buffer"])
            elif "guard" in fields and self.calls:
                self.calls[-1].guard_intact = fields["guard"] == "intact"
            elif "stack_peak" in fields and self.calls:
                self.calls[-1].stack_peak = int(fields["stack_peak"])
            else:
                self.facts.update(fields)

    def __repr__(self):
        return "HostRun(exit=%d, stdout=%r, lines=%r)" % (self.exit_code, self.stdout, self.lines)


def call_export(bed, prefix, dll, export, convention, buffer_len=None, size_arg=None,
                null_buffer=False, calls=None, canary=None, refill=True, timeout=300,
                apartment=None, stack_peak=False, extra_env=None, program=None):
    """Runs the host (`program`, default the build's) once in `prefix` on
    `dll` (a Linux path)."""
    args = [program or bed.program("tavsn_host.exe"), "--dll", winebed.winpath(dll), "--export", export,
            "--conv", convention]
    for option, value in (("--buffer-len", buffer_len), ("--size-arg", size_arg),
                          ("--calls", calls), ("--canary", canary)):
        if value is not None:
            args += [option, str(value)]
    if null_buffer:
        args.append("--null-buffer")
    if not refill:
        args.append("--no-refill")
    if apartment:
        args += ["--apartment", apartment]
    if stack_peak:
        args.append("--stack-peak")
    return HostRun(prefix.run(args, timeout=timeout, extra_env=extra_env))
