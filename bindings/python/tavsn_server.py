"""Decode, verify and compare tavsn identifiers from Python, through the C
library libtavsn_server.so and ctypes: nothing to compile.

    import tavsn_server
    tavsn_server.decode("TQ1221000A1B7B480E00B8FF26006C9C").made_by   # 'GetPCSNEx'
    tavsn_server.verify("TQ1101020011263744550B3B2B5B4B7B", macs=["102030405060", "0A1B2C3D4E5F"]).verdict

The library is the one given to load(path); else the file named by the
environment variable TAVSN_SERVER_LIBRARY; else the one the system finds
(the ld.so cache, LD_LIBRARY_PATH). Names and
values are those of `tavsn --json`. A malformed identifier, or inputs the C
library refuses, raise TavsnServerError with its result code.
"""
import ctypes
import ctypes.util
import os
from dataclasses import dataclass
from typing import Optional, Sequence, Tuple, Union

# Result codes of tavsn_server.h.
OK = 0
ERROR_NULL = -1
ERROR_LENGTH = -2
ERROR_TAG = -3
ERROR_CHARACTER = -4
ERROR_WRONG_KIND = -5
ERROR_DIFFERENT_KINDS = -6
ERROR_DIFFERENT_EXPORTS = -7
ERROR_BAD_FACT = -8
ERROR_INTERNAL = -9

_KIND_MAC = 1
# Indexed by TAVSN_MADE_BY_*, TAVSN_VERDICT_* and the bit of TAVSN_COMPONENT_*.
_MADE_BY = (None, "GetPCSN (firmware serial number)", "GetPCSN (firmware UUID)", "GetPCSN (firmware not read)",
            "GetPCSNEx", "unknown")
_VERDICTS = ("not given", "match", "mismatch", "not checkable", "bad fact")
COMPONENTS = ("mac", "processor", "firmware", "mac_source")
# The facts of a machine identifier, as tavsn_machine_match names them.
_MACHINE_FACTS = ("mac", "processor", "serial_number", "uuid_text")

Text = Union[str, bytes]


class TavsnServerError(Exception):
    """A result code of the C library below zero."""

    def __init__(self, code: int, text: str, detail: Optional[int] = None):
        super().__init__(f"{text} (result {code}" + ("" if detail is None else f", detail {detail}") + ")")
        self.code = code
        self.text = text
        # The length given (ERROR_LENGTH) or the first wrong position (ERROR_TAG,
        # ERROR_CHARACTER); None for the other codes.
        self.detail = detail


class DecodedStruct(ctypes.Structure):
    _fields_ = [
        ("kind", ctypes.c_int),
        ("error_detail", ctypes.c_size_t),
        ("anomaly_count", ctypes.c_uint),
        ("mac_source", ctypes.c_ubyte),
        ("mac_count", ctypes.c_ubyte),
        ("first_mac_masked", ctypes.c_ubyte * 6),
        ("second_mac_masked", ctypes.c_ubyte * 6),
        ("mac_address_xor", ctypes.c_ubyte * 6),
        ("source_flags", ctypes.c_ushort),
        ("mac_prefix", ctypes.c_ubyte * 2),
        ("mac_checksum", ctypes.c_ushort),
        ("system_length", ctypes.c_ushort),
        ("system_checksum", ctypes.c_ushort),
        ("processor_length", ctypes.c_ushort),
        ("processor_checksum", ctypes.c_ushort),
        ("made_by", ctypes.c_int),
        ("self_checksum_verifies", ctypes.c_int),
    ]


class MachineFactsStruct(ctypes.Structure):
    _fields_ = [(name, ctypes.c_char_p) for name in ("mac", "processor_text", "serial_number", "uuid_text")]


class MachineMatchStruct(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int) for name in (*_MACHINE_FACTS, "overall")]


class ComparePolicyStruct(ctypes.Structure):
    _fields_ = [("max_changed", ctypes.c_uint), ("must_keep", ctypes.c_uint)]


class ComparisonStruct(ctypes.Structure):
    _fields_ = [("changed_components", ctypes.c_uint), ("changed_fields", ctypes.c_uint),
                ("same_machine", ctypes.c_int)]


# Each structure under its name in tavsn_server.h.
C_STRUCTS = {
    "tavsn_decoded": DecodedStruct,
    "tavsn_machine_facts": MachineFactsStruct,
    "tavsn_machine_match": MachineMatchStruct,
    "tavsn_compare_policy": ComparePolicyStruct,
    "tavsn_comparison": ComparisonStruct,
}


@dataclass(frozen=True)
class MacIdentifier:
    """A TQ11 identifier (GetMacSN). Each address is masked with a byte of the
    first one; only their XOR comes back exactly."""
    kind: str
    source: int  # 1: adapter driver or IP Helper, 0: a UUID's node
    mac_count: int
    first_mac_masked: str  # 12 hex digits
    second_mac_masked: str
    address_xor: str
    anomaly_count: int  # things the DLL never writes


@dataclass(frozen=True)
class MachineIdentifier:
    """A TQ12 identifier (GetPCSN, GetPCSNEx)."""
    kind: str
    made_by: str
    source_flags: int
    mac_prefix: str  # 4 hex digits: bytes 0 and 1 of the first MAC
    mac_checksum: int
    system_length: int
    system_checksum: int
    processor_length: int
    processor_checksum: int
    self_checksum_verifies: bool
    anomaly_count: int


@dataclass(frozen=True)
class Verification:
    kind: str
    verdict: str  # "match", "mismatch", "not checkable", "bad fact" or "not given"
    # A machine identifier's verdict for each fact; None for a MAC
    # identifier, whose only verdict is the overall one.
    facts: Optional[dict]


@dataclass(frozen=True)
class ComparePolicy:
    """Same machine when at most max_changed components changed and none of must_keep did."""
    max_changed: int = 1
    must_keep: Tuple[str, ...] = ()


@dataclass(frozen=True)
class Comparison:
    kind: str
    changed_components: Tuple[str, ...]  # in the order of COMPONENTS
    changed_fields: int
    same_machine: bool


def _bytes(text: Text) -> bytes:
    return text if isinstance(text, bytes) else text.encode("utf-8")


def _hex(octets) -> str:
    return bytes(octets).hex().upper()


class Library:
    """libtavsn_server.so, loaded once; its functions are thread-safe."""

    def __init__(self, path: Optional[str] = None):
        # find_library sees LD_LIBRARY_PATH only through binutils, which a
        # server may lack; the dynamic loader, asked for the bare name,
        # searches it and its cache itself.
        path = (path or os.environ.get("TAVSN_SERVER_LIBRARY") or ctypes.util.find_library("tavsn_server")
                or "libtavsn_server.so")
        try:
            lib = ctypes.CDLL(path)
        except OSError as error:
            raise OSError(f"{path} could not be loaded ({error}): pass its path to load() "
                          "or set TAVSN_SERVER_LIBRARY") from error
        text = [ctypes.c_char_p, ctypes.c_size_t]
        for name, arguments in (
            ("tavsn_decode", [*text, ctypes.POINTER(DecodedStruct)]),
            ("tavsn_match_mac", [*text, ctypes.POINTER(ctypes.c_char_p), ctypes.c_size_t, ctypes.c_int,
                                 ctypes.c_int, ctypes.POINTER(ctypes.c_int)]),
            ("tavsn_match_machine", [*text, ctypes.POINTER(MachineFactsStruct), ctypes.POINTER(MachineMatchStruct)]),
            ("tavsn_compare", [*text, *text, ctypes.POINTER(ComparePolicyStruct), ctypes.POINTER(ComparisonStruct)]),
            ("tavsn_server_error_text", [ctypes.c_int]),
        ):
            function = getattr(lib, name)
            function.argtypes = arguments
            function.restype = ctypes.c_char_p if name == "tavsn_server_error_text" else ctypes.c_int
        self._lib = lib

    def _check(self, code: int, detail: Optional[int] = None) -> None:
        if code != OK:
            raise TavsnServerError(code, self._lib.tavsn_server_error_text(code).decode(), detail)

    def decode(self, text: Text) -> Union[MacIdentifier, MachineIdentifier]:
        raw = _bytes(text)
        d = DecodedStruct()
        code = self._lib.tavsn_decode(raw, len(raw), ctypes.byref(d))
        self._check(code, d.error_detail if code in (ERROR_LENGTH, ERROR_TAG, ERROR_CHARACTER) else None)
        if d.kind == _KIND_MAC:
            return MacIdentifier("mac", d.mac_source, d.mac_count, _hex(d.first_mac_masked),
                                 _hex(d.second_mac_masked), _hex(d.mac_address_xor), d.anomaly_count)
        return MachineIdentifier("machine", _MADE_BY[d.made_by], d.source_flags, _hex(d.mac_prefix),
                                 d.mac_checksum, d.system_length, d.system_checksum, d.processor_length,
                                 d.processor_checksum, bool(d.self_checksum_verifies), d.anomaly_count)

    def verify(self, text: Text, macs: Sequence[Text] = (), *, list_order: str = "sorted",
               mac_source: Optional[int] = None, cpu_text: Optional[Text] = None,
               serial: Optional[Text] = None, uuid_text: Optional[Text] = None) -> Verification:
        """Does the identifier fit these facts of a machine, as `tavsn verify`
        decides? macs: all of its MAC addresses; the DLL sorts its adapters'
        list and drops repeats, list_order "given" keeps an IP Helper list's
        order. mac_source (0 or 1) applies to a MAC identifier, the texts to
        a machine identifier."""
        if list_order not in ("sorted", "given"):
            raise ValueError('list_order is "sorted" or "given"')
        raw = _bytes(text)
        macs = [_bytes(mac) for mac in ([macs] if isinstance(macs, (str, bytes)) else macs)]
        if self.decode(raw).kind == "mac":
            if (cpu_text, serial, uuid_text) != (None, None, None):
                raise ValueError("cpu_text, serial and uuid_text do not apply to a MAC identifier")
            if mac_source not in (None, 0, 1):
                raise ValueError("mac_source is 0 or 1")
            verdict = ctypes.c_int()
            code = self._lib.tavsn_match_mac(raw, len(raw), (ctypes.c_char_p * len(macs))(*macs), len(macs),
                                             list_order == "sorted", -1 if mac_source is None else mac_source,
                                             ctypes.byref(verdict))
            if code != ERROR_BAD_FACT:
                self._check(code)
            return Verification("mac", _VERDICTS[verdict.value], None)
        if mac_source is not None:
            raise ValueError("mac_source applies to a MAC identifier only")
        texts = [None if t is None else _bytes(t) for t in (cpu_text, serial, uuid_text)]
        match = self._match_machine(raw, MachineFactsStruct(self._first_mac(raw, macs, list_order), *texts))
        return Verification("machine", _VERDICTS[match.overall],
                            {name: _VERDICTS[getattr(match, name)] for name in _MACHINE_FACTS})

    def _match_machine(self, raw: bytes, facts: MachineFactsStruct) -> MachineMatchStruct:
        match = MachineMatchStruct()
        self._check(self._lib.tavsn_match_machine(raw, len(raw), ctypes.byref(facts), ctypes.byref(match)))
        return match

    def _first_mac(self, raw: bytes, macs: Sequence[bytes], list_order: str) -> Optional[bytes]:
        """Entry 0 of the DLL's list: the lowest address, or the first given.
        A malformed one is passed on for the C library to report."""
        for mac in macs:
            if _VERDICTS[self._match_machine(raw, MachineFactsStruct(mac)).mac] == "bad fact":
                return mac
        if not macs or list_order == "given":
            return next(iter(macs), None)
        return min(macs, key=lambda mac: mac.replace(b"-", b"").replace(b":", b"").upper())

    def compare(self, before: Text, after: Text, policy: Optional[ComparePolicy] = None) -> Comparison:
        """Which components changed between two identifiers of one kind, and
        whether that is still the same machine; policy None: ComparePolicy()."""
        a, b = _bytes(before), _bytes(after)
        kind = self.decode(a).kind  # a malformed text raises with its detail
        self.decode(b)
        c_policy = None
        if policy is not None:
            unknown = set(policy.must_keep) - set(COMPONENTS)
            if unknown:
                raise ValueError(f"must_keep takes {', '.join(COMPONENTS)}; not {', '.join(sorted(unknown))}")
            bits = sum(1 << COMPONENTS.index(name) for name in set(policy.must_keep))
            c_policy = ctypes.byref(ComparePolicyStruct(policy.max_changed, bits))
        out = ComparisonStruct()
        self._check(self._lib.tavsn_compare(a, len(a), b, len(b), c_policy, ctypes.byref(out)))
        changed = tuple(name for bit, name in enumerate(COMPONENTS) if out.changed_components >> bit & 1)
        return Comparison(kind, changed, out.changed_fields, bool(out.same_machine))


_default: Optional[Library] = None


def load(path: Optional[str] = None) -> Library:
    """Loads the library (see the module's help for where it is looked for)
    and makes it the one decode, verify and compare use."""
    global _default
    _default = Library(path)
    return _default


def _library() -> Library:
    return _default or load()


def decode(text: Text) -> Union[MacIdentifier, MachineIdentifier]:
    return _library().decode(text)


def verify(text: Text, macs: Sequence[Text] = (), **facts) -> Verification:
    return _library().verify(text, macs, **facts)


def compare(before: Text, after: Text, policy: Optional[ComparePolicy] = None) -> Comparison:
    return _library().compare(before, after, policy)
