"""Decode, verify and compare tavsn identifiers from Python, through the C
library libtavsn_server.so and ctypes: nothing to compile.

    import tavsn_server
    tavsn_server.decode("TQ1221000A1B7B480E00B8FF26006C9C").made_by   # 'GetPCSNEx'
    tavsn_server.verify("TQ1101020011263744550B3B2B5B4B7B", macs=["102030405060", "0A1B2C3D4E5F"]).verdict
    tavsn_server.compare("TQ1221000A1B7B480E00B8FF26006C9C", "TQ1221000A1B7B470E00B90026006C9C").verdict
    # 'undecided': two GetPCSNEx records that share only the processor model

The library is the one given to load(path); else the file named by the
environment variable TAVSN_SERVER_LIBRARY; else the one installed with this
module (beside it, or in the library folder of its install prefix); else
the one the system finds (the ld.so cache, LD_LIBRARY_PATH). Names and
values are those of `tavsn --json`.

Errors: a malformed identifier, a record the DLL never writes (which is
never verified or compared), or inputs the C library refuses, raise
TavsnServerError with its result code, text and detail. An argument of the
wrong type raises TypeError, one out of its range (a policy's max_changed
outside 0 to 4, an unknown component or policy name, a fact with a NUL
character, a mac_source other than 0 or 1) ValueError; each names the
argument. Texts are str (taken as UTF-8) or bytes.
"""
import ctypes
import ctypes.util
import json
import os
import pathlib
import sysconfig
from dataclasses import dataclass
from typing import Optional, Sequence, Tuple, Union

# The release this module belongs to; installing it (cmake --install, the
# Debian package, the wheel) writes the project's version here.
__version__ = "0+unknown"

# The library's SOVERSION, the project's major version.
_SONAME_VERSION = 1

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
ERROR_NOT_DLL_RECORD = -10
ERROR_BAD_ARGUMENT = -11

_KIND_MAC = 1
# Indexed by TAVSN_MADE_BY_*, TAVSN_VERDICT_* and the bit of TAVSN_COMPONENT_*.
_MADE_BY = (None, "GetPCSN (firmware serial number)", "GetPCSN (firmware UUID)", "GetPCSN (firmware not read)",
            "GetPCSNEx", "unknown")
_VERDICTS = ("not given", "match", "mismatch", "not checkable", "bad fact", "not written by the DLL", "weak match")
# Indexed by TAVSN_IMPOSTOR_*.
IMPOSTOR_CLASSES = ("sibling", "model", "moved_adapter")
DEFAULT_FALSE_ACCEPT_THRESHOLD = 1e-5
COMPONENTS = ("mac", "processor", "firmware", "mac_source")
# Indexed by TAVSN_STRENGTH_*, TAVSN_SAME_MACHINE... and TAVSN_POLICY_*.
_STRENGTHS = ("absent", "weak", "strong")
_MACHINE_VERDICTS = (None, "same machine", "different machine", "undecided")
POLICIES = ("evidence", "count")
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


class EvidenceStruct(ctypes.Structure):
    _fields_ = [("component", ctypes.c_uint), ("strength", ctypes.c_int), ("reason", ctypes.c_char_p)]


class DetailsStruct(ctypes.Structure):
    _fields_ = [("anomaly_count", ctypes.c_uint), ("anomalies", ctypes.c_char_p * 8),
                ("flag_word_count", ctypes.c_uint), ("source_flag_words", ctypes.c_char_p * 7),
                ("evidence", EvidenceStruct * 4), ("firmware_placeholder", ctypes.c_char * 80),
                ("address_count", ctypes.c_uint)]


class PolicyStruct(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_int), ("max_changed", ctypes.c_uint), ("must_keep", ctypes.c_uint)]


class FieldChangeStruct(ctypes.Structure):
    _fields_ = [("field", ctypes.c_char_p), ("before", ctypes.c_char * 16), ("after", ctypes.c_char * 16),
                ("component", ctypes.c_uint)]


class ComponentJudgmentStruct(ctypes.Structure):
    _fields_ = [("component", ctypes.c_uint), ("before", ctypes.c_int), ("after", ctypes.c_int),
                ("changed", ctypes.c_int), ("reason", ctypes.c_char_p)]


class JudgmentStruct(ctypes.Structure):
    _fields_ = [("verdict", ctypes.c_int), ("reason", ctypes.c_char_p), ("changed_components", ctypes.c_uint),
                ("strong_matches", ctypes.c_uint), ("strong_changes", ctypes.c_uint),
                ("change_count", ctypes.c_uint), ("changes", FieldChangeStruct * 12),
                ("evidence", ComponentJudgmentStruct * 4), ("error_side", ctypes.c_int),
                ("error_detail", ctypes.c_size_t)]


class RiskStruct(ctypes.Structure):
    _fields_ = [("verdict", ctypes.c_int), ("false_accept_probability", ctypes.c_double),
                ("by_class", ctypes.c_double * 3), ("likeliest", ctypes.c_int), ("events", ctypes.c_uint),
                ("explanation", ctypes.c_char * 160)]


# Each structure under its name in tavsn_server.h.
C_STRUCTS = {
    "tavsn_decoded": DecodedStruct,
    "tavsn_machine_facts": MachineFactsStruct,
    "tavsn_machine_match": MachineMatchStruct,
    "tavsn_compare_policy": ComparePolicyStruct,
    "tavsn_comparison": ComparisonStruct,
    "tavsn_evidence": EvidenceStruct,
    "tavsn_details": DetailsStruct,
    "tavsn_policy": PolicyStruct,
    "tavsn_field_change": FieldChangeStruct,
    "tavsn_component_judgment": ComponentJudgmentStruct,
    "tavsn_judgment": JudgmentStruct,
    "tavsn_risk": RiskStruct,
}


@dataclass(frozen=True)
class Evidence:
    """How much one component of an identifier tells about one machine."""
    component: str  # one of COMPONENTS
    strength: str  # "strong", "weak" or "absent"
    reason: str


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
    address_count: int  # 1 or 2 addresses held
    anomaly_count: int  # things the DLL never writes
    anomalies: Tuple[str, ...]
    evidence: Tuple[Evidence, ...]  # one per component; empty when there are anomalies


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
    firmware_placeholder: str  # the placeholder the firmware fields hold, or ""
    source_flag_words: Tuple[str, ...]
    anomaly_count: int
    anomalies: Tuple[str, ...]
    evidence: Tuple[Evidence, ...]


@dataclass(frozen=True)
class Verification:
    kind: str
    # "match", "weak match" (only facts many machines share matched),
    # "mismatch", "not checkable", "bad fact" or "not given"
    verdict: str
    # A machine identifier's verdict for each fact; None for a MAC
    # identifier, whose only verdict is the overall one.
    facts: Optional[dict]


@dataclass(frozen=True)
class ComparePolicy:
    """name "evidence" (the default): equal identifiers are the same machine, a
    real firmware text that changed is another; after a change, same machine
    only when another machine of every impostor class would show the evidence
    that still matches with probability at most threshold; different machine
    when more than max_changed components changed and no real firmware text
    matches; else undecided. name "count" (release 1.0's, only when named):
    same machine when at most max_changed components of any strength changed.
    Either way a change in must_keep is a different machine."""
    max_changed: int = 1
    must_keep: Tuple[str, ...] = ()
    name: str = "evidence"
    threshold: float = DEFAULT_FALSE_ACCEPT_THRESHOLD


@dataclass(frozen=True)
class FieldChange:
    field: str
    before: str
    after: str
    component: str


@dataclass(frozen=True)
class ComponentJudgment:
    component: str
    before: str  # strength in each record
    after: str
    relation: str  # "same" or "changed"
    reason: str


@dataclass(frozen=True)
class Comparison:
    kind: str
    changed_components: Tuple[str, ...]  # in the order of COMPONENTS
    changed_fields: int
    changes: Tuple[FieldChange, ...]
    evidence: Tuple[ComponentJudgment, ...]
    strong_matches: int
    strong_changes: int
    verdict: str  # "same machine", "different machine" or "undecided"
    reason: str
    same_machine: bool
    policy: ComparePolicy
    false_accept_probability: float  # the verdict's estimated risk
    likeliest_impostor: str  # one of IMPOSTOR_CLASSES
    impostor_odds: dict  # per impostor class: how likely it shows what matches
    events: int  # benign events the changes need
    explanation: str  # undecided: the competing explanations, else ""


def _bytes(text: Text, name: str = "text") -> bytes:
    """A str (as UTF-8) or bytes argument; anything else is a TypeError
    that names the argument."""
    if isinstance(text, bytes):
        return text
    if isinstance(text, str):
        return text.encode("utf-8")
    raise TypeError(f"{name} must be str or bytes, not {type(text).__name__}")


def _fact(text: Optional[Text], name: str) -> Optional[bytes]:
    """A fact for the C library, which reads it up to its first zero byte: a
    NUL inside would cut it short, so it is refused."""
    if text is None:
        return None
    raw = _bytes(text, name)
    if b"\0" in raw:
        raise ValueError(f"{name} must not contain a NUL character")
    return raw


def _whole_number(value, name: str, low: int, high: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{name} is {low} to {high}, not {value}")
    return value


def _hex(octets) -> str:
    return bytes(octets).hex().upper()


def _component(bit: int) -> str:
    return COMPONENTS[bit.bit_length() - 1]


def _installed_library() -> Optional[str]:
    """The library installed with this module: beside it, or in the library
    folder of the prefix it was installed under (P/share/tavsn/python, so P
    is three folders up), whichever folder GNUInstallDirs chose there."""
    here = pathlib.Path(__file__).resolve().parent
    prefix = here.parents[2] if len(here.parents) > 2 else here
    multiarch = sysconfig.get_config_var("MULTIARCH")
    folders = [here] + [prefix / d for d in ("lib", "lib64", f"lib/{multiarch}" if multiarch else None) if d]
    for folder in folders:
        for name in (f"libtavsn_server.so.{_SONAME_VERSION}", "libtavsn_server.so"):
            if (folder / name).is_file():
                return str(folder / name)
    return None


def _checked_policy(policy: Optional["ComparePolicy"]):
    """The policy (the default for None), its must_keep names and its C
    structure; a value out of range raises."""
    policy = ComparePolicy() if policy is None else policy
    if not isinstance(policy, ComparePolicy):
        raise TypeError(f"policy must be a ComparePolicy, not {type(policy).__name__}")
    if policy.name not in POLICIES:
        raise ValueError(f"policy name is {' or '.join(POLICIES)}; not {policy.name!r}")
    _whole_number(policy.max_changed, "max_changed", 0, len(COMPONENTS))
    if isinstance(policy.threshold, bool) or not isinstance(policy.threshold, (int, float)):
        raise TypeError(f"threshold must be a float, not {type(policy.threshold).__name__}")
    if not 0.0 < policy.threshold <= 1.0:
        raise ValueError(f"threshold is above 0 and at most 1, not {policy.threshold}")
    # One name alone is a set of one, not of its letters.
    keep = (policy.must_keep,) if isinstance(policy.must_keep, str) else tuple(policy.must_keep)
    unknown = [name for name in keep if name not in COMPONENTS]
    if unknown:
        raise ValueError(f"must_keep takes {', '.join(COMPONENTS)}; not {', '.join(map(repr, unknown))}")
    bits = sum(1 << COMPONENTS.index(name) for name in set(keep))
    return policy, keep, PolicyStruct(POLICIES.index(policy.name), policy.max_changed, bits)


class Library:
    """libtavsn_server.so, loaded once; its functions are thread-safe."""

    def __init__(self, path: Optional[str] = None):
        # find_library sees LD_LIBRARY_PATH only through binutils, which a
        # server may lack; the dynamic loader, asked for the SONAME, searches
        # it and its cache itself (the unversioned name is a development
        # link, absent where only the library is installed).
        path = (path or os.environ.get("TAVSN_SERVER_LIBRARY") or _installed_library()
                or ctypes.util.find_library("tavsn_server") or f"libtavsn_server.so.{_SONAME_VERSION}")
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
            ("tavsn_describe", [*text, ctypes.POINTER(DetailsStruct)]),
            ("tavsn_judge", [*text, *text, ctypes.POINTER(PolicyStruct), ctypes.POINTER(JudgmentStruct)]),
            ("tavsn_judge_risk", [*text, *text, ctypes.POINTER(PolicyStruct), ctypes.c_double,
                                  ctypes.POINTER(JudgmentStruct), ctypes.POINTER(RiskStruct)]),
            ("tavsn_server_error_text", [ctypes.c_int]),
        ):
            function = getattr(lib, name)
            function.argtypes = arguments
            function.restype = ctypes.c_char_p if name == "tavsn_server_error_text" else ctypes.c_int
        _bind_fingerprint(lib)
        _bind_bundles(lib)
        _bind_registry(lib)
        self._lib = lib

    def _check(self, code: int, detail: Optional[int] = None) -> None:
        if code != OK:
            raise TavsnServerError(code, self._lib.tavsn_server_error_text(code).decode(), detail)

    def decode(self, text: Text) -> Union[MacIdentifier, MachineIdentifier]:
        raw = _bytes(text)
        d = DecodedStruct()
        code = self._lib.tavsn_decode(raw, len(raw), ctypes.byref(d))
        self._check(code, d.error_detail if code in (ERROR_LENGTH, ERROR_TAG, ERROR_CHARACTER) else None)
        x = DetailsStruct()
        self._check(self._lib.tavsn_describe(raw, len(raw), ctypes.byref(x)))
        anomalies = tuple(text.decode() for text in x.anomalies[:min(x.anomaly_count, 8)])
        evidence = () if x.anomaly_count else tuple(
            Evidence(_component(e.component), _STRENGTHS[e.strength], e.reason.decode()) for e in x.evidence)
        if d.kind == _KIND_MAC:
            return MacIdentifier("mac", d.mac_source, d.mac_count, _hex(d.first_mac_masked),
                                 _hex(d.second_mac_masked), _hex(d.mac_address_xor), x.address_count,
                                 d.anomaly_count, anomalies, evidence)
        return MachineIdentifier("machine", _MADE_BY[d.made_by], d.source_flags, _hex(d.mac_prefix),
                                 d.mac_checksum, d.system_length, d.system_checksum, d.processor_length,
                                 d.processor_checksum, bool(d.self_checksum_verifies),
                                 x.firmware_placeholder.decode(),
                                 tuple(w.decode() for w in x.source_flag_words[:x.flag_word_count]),
                                 d.anomaly_count, anomalies, evidence)

    def verify(self, text: Text, macs: Sequence[Text] = (), *, list_order: str = "sorted",
               mac_source: Optional[int] = None, cpu_text: Optional[Text] = None,
               serial: Optional[Text] = None, uuid_text: Optional[Text] = None) -> Verification:
        """Does the identifier fit these facts of a machine, as `tavsn verify`
        decides? macs: all of its MAC addresses; the DLL sorts its adapters'
        list and drops repeats, list_order "given" keeps an IP Helper list's
        order. mac_source (0 or 1) applies to a MAC identifier, the texts to
        a machine identifier."""
        raw = _bytes(text)
        if not isinstance(list_order, str):
            raise TypeError(f"list_order must be str, not {type(list_order).__name__}")
        if list_order not in ("sorted", "given"):
            raise ValueError(f'list_order is "sorted" or "given", not {list_order!r}')
        if isinstance(macs, (str, bytes)):
            macs = [macs]
        try:
            macs = [_fact(mac, f"macs[{i}]") for i, mac in enumerate(macs)]
        except TypeError as error:
            if "macs[" in str(error):
                raise
            raise TypeError(f"macs must be a sequence of str or bytes, not {type(macs).__name__}") from None
        texts = [_fact(t, name) for t, name in ((cpu_text, "cpu_text"), (serial, "serial"), (uuid_text, "uuid_text"))]
        if mac_source is not None:
            _whole_number(mac_source, "mac_source", 0, 1)
        if self.decode(raw).kind == "mac":
            if (cpu_text, serial, uuid_text) != (None, None, None):
                raise ValueError("cpu_text, serial and uuid_text do not apply to a MAC identifier")
            verdict = ctypes.c_int()
            code = self._lib.tavsn_match_mac(raw, len(raw), (ctypes.c_char_p * len(macs))(*macs), len(macs),
                                             list_order == "sorted", -1 if mac_source is None else mac_source,
                                             ctypes.byref(verdict))
            if code != ERROR_BAD_FACT:
                self._check(code)
            return Verification("mac", _VERDICTS[verdict.value], None)
        if mac_source is not None:
            raise ValueError("mac_source applies to a MAC identifier only")
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
        digits = {mac: mac.replace(b"-", b"").replace(b":", b"").upper() for mac in macs}
        # The adapters' list leaves out all-zero addresses; with none left the
        # DLL would have taken a fallback, which no address given describes.
        listed = [mac for mac in macs if digits[mac] != b"0" * 12]
        return min(listed, key=digits.get) if listed else macs[0]

    def compare(self, before: Text, after: Text, policy: Optional[ComparePolicy] = None) -> Comparison:
        """Which fields and components changed between two identifiers of one
        kind, the evidence of each component, and the verdict; policy None:
        ComparePolicy()."""
        a, b = _bytes(before, "before"), _bytes(after, "after")
        policy, keep, c_policy = _checked_policy(policy)
        kind = self.decode(a).kind  # a malformed text raises with its detail
        self.decode(b)
        out = JudgmentStruct()
        risk = RiskStruct()
        code = self._lib.tavsn_judge_risk(a, len(a), b, len(b), ctypes.byref(c_policy), float(policy.threshold),
                                          ctypes.byref(out), ctypes.byref(risk))
        self._check(code, out.error_side if code == ERROR_NOT_DLL_RECORD else None)
        changes = tuple(FieldChange(c.field.decode(), c.before.decode(), c.after.decode(), _component(c.component))
                        for c in out.changes[:out.change_count])
        evidence = tuple(ComponentJudgment(_component(e.component), _STRENGTHS[e.before], _STRENGTHS[e.after],
                                           "changed" if e.changed else "same", e.reason.decode())
                         for e in out.evidence)
        changed = tuple(name for bit, name in enumerate(COMPONENTS) if out.changed_components >> bit & 1)
        kept = tuple(name for name in COMPONENTS if name in keep)
        return Comparison(kind, changed, out.change_count, changes, evidence, out.strong_matches,
                          out.strong_changes, _MACHINE_VERDICTS[out.verdict], out.reason.decode(),
                          out.verdict == 1, ComparePolicy(policy.max_changed, kept, policy.name, policy.threshold),
                          risk.false_accept_probability, IMPOSTOR_CLASSES[risk.likeliest],
                          dict(zip(IMPOSTOR_CLASSES, risk.by_class)), risk.events, risk.explanation.decode())


# ---- The fingerprint of tav_get_pc_id ----------------------------------------
# The causes of another fingerprint on the same machine, in the order of the
# TAVSN_CAUSE_* bits (most likely first); names as `tavsn --json` gives them.
FINGERPRINT_CAUSES = ("disk_unreadable", "other_first_adapter", "no_adapter", "highest_leaf_limited",
                      "brand_missing", "brand_unpadded", "clock_unreadable", "other_memory_reading")


class FingerprintComparisonStruct(ctypes.Structure):
    _fields_ = [("equal", ctypes.c_int), ("same_processor", ctypes.c_int), ("same_disk_text", ctypes.c_int),
                ("same_first_adapter", ctypes.c_int), ("error_side", ctypes.c_int),
                ("error_detail", ctypes.c_size_t)]


class FingerprintFactsStruct(ctypes.Structure):
    _fields_ = [("cpu_vendor", ctypes.c_char_p), ("has_leaf0", ctypes.c_int), ("leaf0", ctypes.c_uint * 4),
                ("highest_leaf", ctypes.c_longlong), ("brand", ctypes.c_char_p), ("mhz", ctypes.c_longlong),
                ("memory_bytes", ctypes.c_longlong), ("disk_bytes", ctypes.c_longlong),
                ("mac", ctypes.c_char_p), ("other_macs", ctypes.POINTER(ctypes.c_char_p)),
                ("other_mac_count", ctypes.c_size_t)]


class FingerprintExplanationStruct(ctypes.Structure):
    _fields_ = [("causes", ctypes.c_uint), ("first_adapter", ctypes.c_char * 13), ("highest_leaf", ctypes.c_uint)]


class FingerprintMatchStruct(ctypes.Structure):
    _fields_ = [("verdict", ctypes.c_int), ("expected", ctypes.c_char * 32), ("highest_leaf", ctypes.c_uint),
                ("highest_leaf_searched", ctypes.c_int), ("explanation_count", ctypes.c_uint),
                ("explanations", FingerprintExplanationStruct * 8), ("without_effect", ctypes.c_uint)]


def _bind_fingerprint(lib) -> None:
    text = [ctypes.c_char_p, ctypes.c_size_t]
    for name, arguments, result in (
        ("tavsn_parse_fingerprint", [*text, ctypes.POINTER(ctypes.c_size_t)], ctypes.c_int),
        ("tavsn_compare_fingerprints", [*text, *text, ctypes.POINTER(FingerprintComparisonStruct)], ctypes.c_int),
        ("tavsn_match_fingerprint", [*text, ctypes.POINTER(FingerprintFactsStruct),
                                     ctypes.POINTER(FingerprintMatchStruct)], ctypes.c_int),
        ("tavsn_fingerprint_cause_text", [ctypes.c_uint], ctypes.c_char_p),
    ):
        function = getattr(lib, name)
        function.argtypes = arguments
        function.restype = result


@dataclass(frozen=True)
class FingerprintComparison:
    """Equal: the same processor, first-disk text and first adapter (all six
    bytes); different: at least one of them differs."""
    equal: bool
    same_processor: bool
    same_disk_text: bool
    same_first_adapter: bool


@dataclass(frozen=True)
class FingerprintExplanation:
    causes: Tuple[str, ...]  # FINGERPRINT_CAUSES, most likely first
    first_adapter: Optional[str]  # with "other_first_adapter": the address taken
    highest_leaf: int


@dataclass(frozen=True)
class FingerprintMatch:
    verdict: str  # "match", "mismatch", "bad fact" or "not checkable"
    expected_text: Optional[str]  # the facts' fingerprint
    highest_leaf: int
    highest_leaf_searched: bool
    explanations: Tuple[FingerprintExplanation, ...]
    without_effect: Tuple[str, ...]


def _causes(bits: int) -> Tuple[str, ...]:
    return tuple(name for bit, name in enumerate(FINGERPRINT_CAUSES) if bits >> bit & 1)


def _optional_number(value, name: str, high: int) -> int:
    return -1 if value is None else _whole_number(value, name, 0, high)


def _parse_fingerprint(library: "Library", raw: bytes) -> None:
    detail = ctypes.c_size_t()
    library._check(library._lib.tavsn_parse_fingerprint(raw, len(raw), ctypes.byref(detail)), detail.value)


def parse_fingerprint_with(library: "Library", text: Text) -> str:
    raw = _bytes(text)
    _parse_fingerprint(library, raw)
    return raw[:31].decode()


def compare_fingerprints_with(library: "Library", first: Text, second: Text) -> FingerprintComparison:
    a, b = _bytes(first, "first"), _bytes(second, "second")
    out = FingerprintComparisonStruct()
    code = library._lib.tavsn_compare_fingerprints(a, len(a), b, len(b), ctypes.byref(out))
    library._check(code, out.error_detail if code in (ERROR_LENGTH, ERROR_CHARACTER) else None)
    return FingerprintComparison(bool(out.equal), bool(out.same_processor), bool(out.same_disk_text),
                                 bool(out.same_first_adapter))


def match_fingerprint_with(library: "Library", text: Text, *, cpu_vendor: Optional[Text] = None,
                           cpuid_leaf0: Optional[Sequence[int]] = None, highest_leaf: Optional[int] = None,
                           brand: Optional[Text] = None, mhz: Optional[int] = None,
                           memory_bytes: Optional[int] = None, disk_bytes: Optional[int] = None,
                           mac: Optional[Text] = None, other_macs: Sequence[Text] = ()) -> FingerprintMatch:
    raw = _bytes(text)
    _parse_fingerprint(library, raw)
    if isinstance(other_macs, (str, bytes)):
        other_macs = [other_macs]
    others = [_fact(m, f"other_macs[{i}]") for i, m in enumerate(other_macs)]
    if len(others) > 32:
        raise ValueError(f"other_macs holds at most 32 addresses, not {len(others)}")
    leaf0 = (0, 0, 0, 0)
    if cpuid_leaf0 is not None:
        leaf0 = tuple(cpuid_leaf0)
        if len(leaf0) != 4:
            raise ValueError("cpuid_leaf0 is four registers: EAX, EBX, ECX, EDX")
        for i, word in enumerate(leaf0):
            _whole_number(word, f"cpuid_leaf0[{i}]", 0, 0xFFFFFFFF)
    facts = FingerprintFactsStruct(
        _fact(cpu_vendor, "cpu_vendor"), int(cpuid_leaf0 is not None), (ctypes.c_uint * 4)(*leaf0),
        _optional_number(highest_leaf, "highest_leaf", 0xFFFFFFFF), _fact(brand, "brand"),
        _optional_number(mhz, "mhz", 0xFFFFFFFF), _optional_number(memory_bytes, "memory_bytes", 2**63 - 1),
        _optional_number(disk_bytes, "disk_bytes", 2**63 - 1), _fact(mac, "mac"),
        (ctypes.c_char_p * len(others))(*others), len(others))
    out = FingerprintMatchStruct()
    code = library._lib.tavsn_match_fingerprint(raw, len(raw), ctypes.byref(facts), ctypes.byref(out))
    if code != ERROR_BAD_FACT:
        library._check(code)
    explanations = tuple(
        FingerprintExplanation(_causes(e.causes), e.first_adapter.decode() or None, e.highest_leaf)
        for e in out.explanations[:out.explanation_count])
    return FingerprintMatch(_VERDICTS[out.verdict], out.expected.decode() or None, out.highest_leaf,
                            bool(out.highest_leaf_searched), explanations, _causes(out.without_effect))


C_STRUCTS.update({
    "tavsn_fingerprint_comparison": FingerprintComparisonStruct,
    "tavsn_fingerprint_facts": FingerprintFactsStruct,
    "tavsn_fingerprint_explanation": FingerprintExplanationStruct,
    "tavsn_fingerprint_match": FingerprintMatchStruct,
})
Library.parse_fingerprint = parse_fingerprint_with
Library.compare_fingerprints = compare_fingerprints_with
Library.match_fingerprint = match_fingerprint_with


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
    """The fields of an identifier, its anomalies and evidence. See Library.decode."""
    return _library().decode(text)


def verify(text: Text, macs: Sequence[Text] = (), *, list_order: str = "sorted", mac_source: Optional[int] = None,
           cpu_text: Optional[Text] = None, serial: Optional[Text] = None,
           uuid_text: Optional[Text] = None) -> Verification:
    """Does the identifier fit these facts of a machine? See Library.verify."""
    return _library().verify(text, macs, list_order=list_order, mac_source=mac_source, cpu_text=cpu_text,
                             serial=serial, uuid_text=uuid_text)


def compare(before: Text, after: Text, policy: Optional[ComparePolicy] = None) -> Comparison:
    """What changed between two identifiers of one kind, and the verdict. See Library.compare."""
    return _library().compare(before, after, policy)


def parse_fingerprint(text: Text) -> str:
    """The 31 digits of a fingerprint (tav_get_pc_id), also from the host's
    whole 32-byte buffer; a malformed one raises TavsnServerError."""
    return _library().parse_fingerprint(text)


def compare_fingerprints(first: Text, second: Text) -> FingerprintComparison:
    return _library().compare_fingerprints(first, second)


def match_fingerprint(text: Text, **facts) -> FingerprintMatch:
    """Does a fingerprint fit these facts of a machine, and if not, which
    causes reproduce it? A fact left out is its probe failing, except
    highest_leaf, which is then searched."""
    return _library().match_fingerprint(text, **facts)


# ---- A machine's identifiers judged together ---------------------------------
# Members of a bundle, in the order of TAVSN_MEMBER_*.
BUNDLE_MEMBERS = ("GetMacSN", "GetPCSN", "GetPCSNEx", "tav_get_pc_id")
BUNDLE_MAX_MEMBERS = 4
ERROR_INCONSISTENT_BUNDLE = -12


class BundleStruct(ctypes.Structure):
    _fields_ = [("count", ctypes.c_size_t), ("texts", ctypes.c_char_p * 4), ("lengths", ctypes.c_size_t * 4)]


class BundleJudgmentStruct(ctypes.Structure):
    _fields_ = [("risk", RiskStruct), ("reason", ctypes.c_char_p), ("changed_components", ctypes.c_uint),
                ("member_changed", ctypes.c_int * 4), ("member_verdict", ctypes.c_int * 4),
                ("error_side", ctypes.c_int), ("error_member", ctypes.c_size_t), ("error_detail", ctypes.c_size_t),
                ("inconsistency", ctypes.c_char_p)]


C_STRUCTS.update({"tavsn_bundle": BundleStruct, "tavsn_bundle_judgment": BundleJudgmentStruct})


class BundleError(TavsnServerError):
    """A bundle refused: side (1 or 2) and member (0-based position) name
    the member; inconsistency says why members cannot come from one machine."""

    def __init__(self, code: int, text: str, detail: Optional[int], side: int, member: int, inconsistency: str):
        super().__init__(code, text, detail)
        self.side = side
        self.member = member
        self.inconsistency = inconsistency


@dataclass(frozen=True)
class BundleComparison:
    members: dict  # per member on both sides: {"changed": bool, "verdict": str (not for fingerprints)}
    changed_components: Tuple[str, ...]
    verdict: str
    reason: str
    same_machine: bool
    false_accept_probability: float
    likeliest_impostor: str
    impostor_odds: dict
    events: int
    explanation: str


def _bundle_struct(texts: Sequence[Text], name: str):
    if isinstance(texts, (str, bytes)):
        raise TypeError(f"{name} must be a sequence of texts, not one text")
    raw = [_bytes(text, name) for text in texts]
    if not 1 <= len(raw) <= BUNDLE_MAX_MEMBERS:
        raise ValueError(f"{name} holds 1 to {BUNDLE_MAX_MEMBERS} texts, not {len(raw)}")
    bundle = BundleStruct()
    bundle.count = len(raw)
    for i, text in enumerate(raw):
        bundle.texts[i] = text
        bundle.lengths[i] = len(text)
    return bundle, raw


def compare_bundles_with(library: "Library", before: Sequence[Text], after: Sequence[Text],
                         policy: Optional[ComparePolicy] = None) -> BundleComparison:
    """Judges two bundles (each what one call site wrote: at most one each of
    GetMacSN, GetPCSN, GetPCSNEx and tav_get_pc_id) as one machine. A bundle
    refused raises BundleError."""
    a, kept_a = _bundle_struct(before, "before")
    b, kept_b = _bundle_struct(after, "after")
    policy, _, c_policy = _checked_policy(policy)
    out = BundleJudgmentStruct()
    code = library._lib.tavsn_judge_bundles(ctypes.byref(a), ctypes.byref(b), ctypes.byref(c_policy),
                                            float(policy.threshold), ctypes.byref(out))
    del kept_a, kept_b  # the texts lived until here
    if code != OK:
        raise BundleError(code, library._lib.tavsn_server_error_text(code).decode(), out.error_detail or None,
                          out.error_side, out.error_member, (out.inconsistency or b"").decode())
    members = {}
    for i, name in enumerate(BUNDLE_MEMBERS):
        if out.member_changed[i] < 0:
            continue
        members[name] = {"changed": bool(out.member_changed[i])}
        if out.member_verdict[i]:  # fingerprints have none
            members[name]["verdict"] = _MACHINE_VERDICTS[out.member_verdict[i]]
    risk = out.risk
    changed = tuple(name for bit, name in enumerate(COMPONENTS) if out.changed_components >> bit & 1)
    return BundleComparison(members, changed, _MACHINE_VERDICTS[risk.verdict], out.reason.decode(),
                            risk.verdict == 1, risk.false_accept_probability, IMPOSTOR_CLASSES[risk.likeliest],
                            dict(zip(IMPOSTOR_CLASSES, risk.by_class)), risk.events, risk.explanation.decode())


def _bind_bundles(lib) -> None:
    lib.tavsn_judge_bundles.argtypes = [ctypes.POINTER(BundleStruct), ctypes.POINTER(BundleStruct),
                                        ctypes.POINTER(PolicyStruct), ctypes.c_double,
                                        ctypes.POINTER(BundleJudgmentStruct)]
    lib.tavsn_judge_bundles.restype = ctypes.c_int


Library.compare_bundles = compare_bundles_with


def compare_bundles(before: Sequence[Text], after: Sequence[Text],
                    policy: Optional[ComparePolicy] = None) -> BundleComparison:
    """Two bundles of one machine's identifiers judged together. See compare_bundles_with."""
    return _library().compare_bundles(before, after, policy)


# ---- The machine registry (tavsn_registry.h) ---------------------------------
# Which stored machine an identifier belongs to, on SQLite ("sqlite:PATH" or a
# path) or PostgreSQL ("postgresql://..."). One Registry is one connection:
# use it from one thread at a time.
REGISTRY_MAX_CANDIDATES = 16
_REGISTRY_TEXT = 256
_REGISTRY_READ_ONLY, _REGISTRY_NO_CREATE, _REGISTRY_POWER_CUT_SAFE = 1, 2, 4
# Indexed by TAVSN_CHECK_IN_* and TAVSN_DECIDED_BY_*, named as tavsn --json names them.
CHECK_IN_OUTCOMES = (None, "known unchanged", "known changed", "activated", "refused: no seat",
                     "refused: not written by the DLL", "refused: inconsistent bundle", "undecided")
_DECIDED_BY = (None, "equal identifiers", "judgment", "history: silence", "history: overlap", "none")


class RegistryCandidateStruct(ctypes.Structure):
    _fields_ = [("machine", ctypes.c_longlong), ("verdict", ctypes.c_int),
                ("false_accept_probability", ctypes.c_double), ("last_check_in", ctypes.c_longlong),
                ("scope_length", ctypes.c_size_t), ("scope", ctypes.c_char * _REGISTRY_TEXT)]


class CheckInStruct(ctypes.Structure):
    _fields_ = [("outcome", ctypes.c_int), ("decided_by", ctypes.c_int), ("machine", ctypes.c_longlong),
                ("seats", ctypes.c_longlong), ("used", ctypes.c_longlong), ("candidate_count", ctypes.c_size_t),
                ("other_scope_count", ctypes.c_size_t),
                ("candidates", RegistryCandidateStruct * REGISTRY_MAX_CANDIDATES),
                ("other_scopes", RegistryCandidateStruct * REGISTRY_MAX_CANDIDATES),
                ("detail", ctypes.c_char * _REGISTRY_TEXT), ("settle", ctypes.c_char * _REGISTRY_TEXT)]


class IdentificationStruct(ctypes.Structure):
    _fields_ = [("machine_count", ctypes.c_size_t),
                ("machines", RegistryCandidateStruct * REGISTRY_MAX_CANDIDATES)]


class ImportTotalsStruct(ctypes.Structure):
    _fields_ = [("lines", ctypes.c_longlong), ("imported", ctypes.c_longlong), ("refused", ctypes.c_longlong)]


C_STRUCTS.update({"tavsn_registry_candidate": RegistryCandidateStruct, "tavsn_check_in": CheckInStruct,
                  "tavsn_identification": IdentificationStruct, "tavsn_import_totals": ImportTotalsStruct})

# Answers that are no database's refusal (tavsn_registry.h).
_REGISTRY_NO_MACHINE = -30
_REGISTRY_TOO_SMALL = -31
_REGISTRY_FILE = -32
_LINE_WRITER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char), ctypes.c_size_t)
_PROGRESS = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(ImportTotalsStruct))


class RegistryError(TavsnServerError):
    """The database refused: code is one of TAVSN_REGISTRY_ERROR_* (busy -20,
    read-only -21, full -22, damaged -23, connection lost -24, newer -25, not
    found -26, engine not built -27, bad location -28, other -29); message
    is the engine's own."""

    def __init__(self, code: int, text: str, message: str = ""):
        super().__init__(code, text + (": " + message if message else ""))
        self.message = message


@dataclass(frozen=True)
class RegistryMachine:
    machine: int
    scope: str  # the scope's first 255 bytes, as UTF-8 (undecodable bytes escaped)
    verdict: str  # "same machine" or "undecided"
    false_accept_probability: float
    last_check_in: int  # seconds since 1970 UTC


@dataclass(frozen=True)
class CheckIn:
    outcome: str  # one of CHECK_IN_OUTCOMES
    decided_by: str
    machine: Optional[int]
    seats: Optional[int]
    used: int
    detail: str
    settle: str
    candidates: Tuple[RegistryMachine, ...]
    other_scopes: Tuple[RegistryMachine, ...]


def _bind_registry(lib) -> None:
    texts = [ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t), ctypes.c_size_t]
    for name, arguments, result in (
        ("tavsn_registry_open", [ctypes.c_char_p, ctypes.c_uint, ctypes.POINTER(ctypes.c_void_p)], ctypes.c_int),
        ("tavsn_registry_close", [ctypes.c_void_p], None),
        ("tavsn_registry_last_error", [ctypes.c_void_p], ctypes.c_char_p),
        ("tavsn_registry_error_text", [ctypes.c_int], ctypes.c_char_p),
        ("tavsn_registry_set_windows", [ctypes.c_void_p, ctypes.c_longlong, ctypes.c_longlong], ctypes.c_int),
        ("tavsn_registry_check_in", [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, *texts, ctypes.c_longlong,
                                     ctypes.c_longlong, ctypes.POINTER(CheckInStruct)], ctypes.c_int),
        ("tavsn_registry_identify", [ctypes.c_void_p, *texts, ctypes.POINTER(IdentificationStruct)], ctypes.c_int),
        ("tavsn_registry_history", [ctypes.c_void_p, ctypes.c_longlong, ctypes.c_char_p, ctypes.c_size_t,
                                    ctypes.POINTER(ctypes.c_size_t)], ctypes.c_int),
        ("tavsn_registry_audit", [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t,
                                  ctypes.POINTER(ctypes.c_size_t)], ctypes.c_int),
        ("tavsn_registry_export", [ctypes.c_void_p, _LINE_WRITER, ctypes.c_void_p], ctypes.c_int),
        ("tavsn_registry_import", [ctypes.c_void_p, ctypes.c_char_p, _PROGRESS, ctypes.c_void_p,
                                   ctypes.POINTER(ImportTotalsStruct)], ctypes.c_int),
    ):
        function = getattr(lib, name)
        function.argtypes = arguments
        function.restype = result


def _machines(entries, count: int) -> Tuple[RegistryMachine, ...]:
    return tuple(RegistryMachine(e.machine, e.scope.decode("utf-8", "surrogateescape"),
                                 _MACHINE_VERDICTS[e.verdict], e.false_accept_probability, e.last_check_in)
                 for e in entries[:count])


class Registry:
    """A machine registry, opened (and made, unless read_only or create is
    False) at `location`. power_cut_safe: every committed check-in also
    survives a power cut (SQLite's synchronous=FULL), at some speed.

        with tavsn_server.Registry("sqlite:/var/lib/app/licences.db") as registry:
            answer = registry.check_in("L-1001", [getmacsn, getpcsn, getpcsnex], seats=3)
            if answer.outcome in ("known unchanged", "known changed", "activated"): ...
    """

    def __init__(self, location: Text, *, read_only: bool = False, create: bool = True,
                 power_cut_safe: bool = False, library: Optional[Library] = None):
        self._library = library or _library()
        self._handle = None
        lib = self._library._lib
        flags = ((_REGISTRY_READ_ONLY if read_only else 0) | (0 if create else _REGISTRY_NO_CREATE) |
                 (_REGISTRY_POWER_CUT_SAFE if power_cut_safe else 0))
        raw = _bytes(location, "location")
        if b"\0" in raw:
            raise ValueError("location holds a NUL character")
        handle = ctypes.c_void_p()
        code = lib.tavsn_registry_open(raw, flags, ctypes.byref(handle))
        if code != OK:
            raise RegistryError(code, lib.tavsn_registry_error_text(code).decode())
        self._handle = handle

    def close(self) -> None:
        if self._handle is not None:
            self._library._lib.tavsn_registry_close(self._handle)
            self._handle = None

    def __enter__(self) -> "Registry":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self):
        self.close()

    def _open_handle(self):
        if self._handle is None:
            raise ValueError("the registry is closed")
        return self._handle

    def _check(self, code: int) -> None:
        if code == OK:
            return
        lib = self._library._lib
        text = lib.tavsn_registry_error_text(code).decode()
        if code <= -20:
            raise RegistryError(code, text, lib.tavsn_registry_last_error(self._handle).decode("utf-8", "replace"))
        raise TavsnServerError(code, text)

    @staticmethod
    def _texts(identifiers: Sequence[Text]):
        if isinstance(identifiers, (str, bytes)):
            raise TypeError("identifiers must be a sequence of texts, not one text")
        raw = [_bytes(text, "identifiers") for text in identifiers]
        return (ctypes.c_char_p * len(raw))(*raw), (ctypes.c_size_t * len(raw))(*map(len, raw)), len(raw)

    def set_windows(self, silence: int, overlap: int) -> None:
        """History's windows in seconds (defaults 3 days and 1 hour)."""
        self._check(self._library._lib.tavsn_registry_set_windows(
            self._open_handle(), _whole_number(silence, "silence", 0, 2**62),
            _whole_number(overlap, "overlap", 0, 2**62)))

    def check_in(self, scope: Text, identifiers: Sequence[Text], time: Optional[int] = None,
                 seats: Optional[int] = None) -> CheckIn:
        """One check-in of one call site's identifiers under `scope` at
        `time` (seconds since 1970 UTC; default now). seats sets the scope's
        limit; None keeps it."""
        import time as _time
        raw_scope = _bytes(scope, "scope")
        texts, lengths, count = self._texts(identifiers)
        at = int(_time.time()) if time is None else _whole_number(time, "time", -2**62, 2**62)
        limit = -1 if seats is None else _whole_number(seats, "seats", 0, 2**62)
        out = CheckInStruct()
        self._check(self._library._lib.tavsn_registry_check_in(self._open_handle(), raw_scope, len(raw_scope), texts,
                                                               lengths, count, at, limit, ctypes.byref(out)))
        return CheckIn(CHECK_IN_OUTCOMES[out.outcome], _DECIDED_BY[out.decided_by], out.machine or None,
                       None if out.seats < 0 else out.seats, out.used, out.detail.decode("utf-8", "replace"),
                       out.settle.decode("utf-8", "replace"), _machines(out.candidates, out.candidate_count),
                       _machines(out.other_scopes, out.other_scope_count))

    def identify(self, identifiers: Sequence[Text]) -> Tuple[RegistryMachine, ...]:
        """Every machine in every scope that may be this one, likeliest first."""
        texts, lengths, count = self._texts(identifiers)
        out = IdentificationStruct()
        self._check(self._library._lib.tavsn_registry_identify(self._open_handle(), texts, lengths, count,
                                                               ctypes.byref(out)))
        return _machines(out.machines, out.machine_count)

    def _json_answer(self, call) -> dict:
        # The answer's length is known only once asked: ask again with room
        # for it (again if the registry grew in between).
        size = 4096
        while True:
            buffer = ctypes.create_string_buffer(size)
            length = ctypes.c_size_t()
            code = call(buffer, size, ctypes.byref(length))
            if code != _REGISTRY_TOO_SMALL:
                self._check(code)
                return json.loads(buffer.raw[:length.value].decode("ascii"))
            size = length.value + 1

    def history(self, machine: int) -> Optional[dict]:
        """The machine's identifiers, first and last seen, and changes with
        their evidence, as `tavsn registry history --json` gives them
        (without exit_code); None when no machine has that number."""
        number = _whole_number(machine, "machine", 0, 2**62)
        lib = self._library._lib
        try:
            return self._json_answer(lambda *out: lib.tavsn_registry_history(self._open_handle(), number, *out))
        except TavsnServerError as error:
            if error.code == _REGISTRY_NO_MACHINE:
                return None
            raise

    def audit(self) -> dict:
        """Machines that are one machine under several scopes, identifiers
        passed back and forth between machines of one scope, and counts, as
        `tavsn registry audit --json` gives them (without exit_code)."""
        lib = self._library._lib
        return self._json_answer(lambda *out: lib.tavsn_registry_audit(self._open_handle(), *out))

    def export(self) -> str:
        """The CSV of `tavsn registry export`: a header line, then one line
        per machine and identifier (scope, machine, identifier, first seen,
        last seen), each ended by a newline."""
        lines = []

        def write(_context, line, length):
            lines.append(ctypes.string_at(line, length).decode("utf-8", "surrogateescape") + "\n")
            return 0

        self._check(self._library._lib.tavsn_registry_export(self._open_handle(), _LINE_WRITER(write), None))
        return "".join(lines)

    def import_(self, path: Union[str, os.PathLike], progress=None) -> dict:
        """Checks in the stored identifiers of a CSV file (scope, identifier,
        time), as `tavsn registry import` does; returns its counts (lines,
        imported, refused). progress, if given, is called now and then with
        the counts so far."""
        raw = os.fsencode(path)
        if b"\0" in raw:
            raise ValueError("path holds a NUL character")
        failure = []

        def report(_context, totals):
            try:
                progress({"lines": totals[0].lines, "imported": totals[0].imported, "refused": totals[0].refused})
            except BaseException as error:  # raised again below: ctypes would only print it
                failure.append(error)

        callback = _PROGRESS(report) if progress is not None else ctypes.cast(None, _PROGRESS)
        out = ImportTotalsStruct()
        code = self._library._lib.tavsn_registry_import(self._open_handle(), raw, callback, None, ctypes.byref(out))
        if failure:
            raise failure[0]
        if code == _REGISTRY_FILE:
            raise OSError("cannot read " + os.fsdecode(raw))
        self._check(code)
        return {"lines": out.lines, "imported": out.imported, "refused": out.refused}
