"""The stand-in WMI provider under Wine, driven by wmi_client.exe: the table
and versions it is told to serve reach the client whole, each step it is told
to fail returns its HRESULT to the client, the journal shows the arguments of
every call and that each interface is released once, in reverse order of
acquisition, down to a count of 0; and a thread already in a single-threaded
apartment is refused at CoInitializeEx."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winebed  # noqa: E402
import wmi_standin  # noqa: E402
from wmi_standin import signed  # noqa: E402

bed = winebed.TestBed()

TABLE = bytes(range(256)) * 3 + b"\x7f\x04\x00\x00"
SUCCESS_STEPS = ["CoInitializeEx", "CoCreateInstance", "ConnectServer", "CoSetProxyBlanket",
                 "CreateInstanceEnum", "Next", "SmbiosMajorVersion", "SmbiosMinorVersion",
                 "SMBiosData"]
RELEASE_ORDER = ["object", "enumerator", "services", "locator"]


def run(prefix, apartment=None, calls=None, **options):
    env = wmi_standin.environment(prefix, **options)
    result = wmi_standin.run_client(bed, prefix, env, apartment=apartment, calls=calls)
    bed.expect_equal(result.exit_code, 0, "wmi_client exit code (%r)" % result)
    return result, wmi_standin.read_journal(prefix)


def installed(prefix):
    wmi_standin.install(bed, prefix)
    return prefix


def lines_of(journal, who, what=None):
    return [line for line in journal if line.who == who and (what is None or line.what == what)]


def one(journal, who, what):
    found = lines_of(journal, who, what)
    bed.expect_equal(len(found), 1, "journal lines '%s %s'" % (who, what))
    return found[0]


def expect_all_released(journal):
    """Every object the provider made was destroyed, its count never went
    below 0 and its last count was 0; no method outside the sequence was
    called."""
    bed.expect(journal, "the provider wrote no journal")
    for name in ("factory",) + tuple(RELEASE_ORDER):
        created = lines_of(journal, name, "created")
        destroyed = lines_of(journal, name, "destroyed")
        bed.expect_equal(len(destroyed), len(created), "%s destroyed as often as created" % name)
        counts = [int(line.fields["count"]) for line in journal
                  if line.who == name and line.what in ("AddRef", "Release")]
        bed.expect(all(count >= 0 for count in counts), "%s count below 0: %r" % (name, counts))
        if created:
            bed.expect_equal(counts[-1], 0, "%s final count" % name)
    stray = [line.text for line in journal if line.what == "E_NOTIMPL"]
    bed.expect_equal(stray, [], "calls outside the sequence")
    uninit = [i for i, line in enumerate(journal) if line.text == "client CoUninitialize"]
    last_destroyed = max([i for i, line in enumerate(journal) if line.what == "destroyed"],
                         default=-1)
    if uninit:
        bed.expect(last_destroyed < uninit[-1], "an object outlived CoUninitialize")


def expect_release_order(journal, names):
    """The final Release of each name comes in this order, each right after
    the client's own release of it."""
    positions = []
    for name in names:
        finals = [i for i, line in enumerate(journal)
                  if line.who == name and line.what == "Release" and line.fields["count"] == "0"]
        bed.expect_equal(len(finals), 1, "final Release of %s" % name)
        asked = [i for i, line in enumerate(journal) if line.text == "client release " + name]
        bed.expect_equal(len(asked), 1, "client releases of %s" % name)
        bed.expect(asked[0] < finals[0], "%s freed before the client released it" % name)
        positions.append(finals[0])
    bed.expect_equal(positions, sorted(positions), "release order of %r" % names)


@bed.case
def table_and_versions_served_whole(prefix):
    client, journal = run(installed(prefix), table=TABLE, major=3, minor=4)
    bed.expect_equal([client.hresults.get(step) for step in SUCCESS_STEPS],
                     [0] * len(SUCCESS_STEPS), "HRESULT of every step (%r)" % client)
    call = client.calls[0]
    bed.expect_equal(call["Next"]["returned"], "1", "objects returned by Next")
    bed.expect_equal((call["SmbiosMajorVersion"]["vt"], call["SmbiosMajorVersion"]["value"]),
                     ("17", "3"), "major version")
    bed.expect_equal((call["SmbiosMinorVersion"]["vt"], call["SmbiosMinorVersion"]["value"]),
                     ("17", "4"), "minor version")
    bed.expect_equal(call["SMBiosData"]["vt"], str(wmi_standin.VT_ARRAY_UI1), "table type")
    bed.expect_equal(call["SMBiosData"]["length"], str(len(TABLE)), "table length")
    bed.expect_equal(client.table, TABLE, "table bytes")
    bed.expect_equal((client.result, client.log, client.uninitialized), (True, None, True),
                     "result, log line, CoUninitialize")
    expect_all_released(journal)


@bed.case
def versions_keep_their_low_byte_whatever_the_type(prefix):
    client, _ = run(installed(prefix), table=TABLE, major=0x1203, minor=0x0507, version_vt=3)
    call = client.calls[0]
    bed.expect_equal((call["SmbiosMajorVersion"]["vt"], call["SmbiosMajorVersion"]["value"],
                      call["SmbiosMinorVersion"]["value"]), ("3", "3", "7"), "versions as VT_I4")
    bed.expect_equal(client.table, TABLE, "table bytes")


@bed.case
def journal_shows_arguments_and_release_order(prefix):
    client, journal = run(installed(prefix), table=TABLE, major=2, minor=8)
    bed.expect_equal(client.result, True, "result")

    asked = lines_of(journal, "DllGetClassObject")
    bed.expect_equal(len(asked), 1, "DllGetClassObject calls")
    fields = asked[0].fields
    bed.expect_equal((fields["clsid"], fields["hr"]), ("WbemLocator", "0x00000000"),
                     "class object asked for")
    create = one(journal, "factory", "CreateInstance").fields
    bed.expect_equal((create["outer"], create["iid"]), ("null", "IWbemLocator"),
                     "CreateInstance arguments")

    connect = one(journal, "locator", "ConnectServer").fields
    bed.expect_equal({key: connect[key] for key in ("resource", "user", "password", "locale",
                                                    "security_flags", "authority", "context")},
                     {"resource": "ROOT\\WMI", "user": "null", "password": "null",
                      "locale": "null", "security_flags": "0", "authority": "null",
                      "context": "null"}, "ConnectServer arguments")

    security = [line for line in lines_of(journal, "services", "QueryInterface")
                if line.fields["iid"] == "IClientSecurity"]
    bed.expect_equal(len(security), 1, "CoSetProxyBlanket asks once for IClientSecurity")
    blanket = one(journal, "services", "SetBlanket").fields
    bed.expect_equal(blanket, {"proxy": "services", "authn": "10", "authz": "0",
                               "principal": "null", "level": "3", "impersonation": "3",
                               "identity": "null", "capabilities": "0", "hr": "0x00000000"},
                     "SetBlanket arguments (CoSetProxyBlanket passes the services itself)")

    enum = one(journal, "services", "CreateInstanceEnum").fields
    bed.expect_equal((enum["class"], enum["flags"], enum["context"]),
                     ("MSSMBios_RawSMBiosTables", "0", "null"), "CreateInstanceEnum arguments")
    next_call = one(journal, "enumerator", "Next").fields
    bed.expect_equal((next_call["timeout"], next_call["count"], next_call["handed"]),
                     ("4294967295", "1", "1"), "Next arguments")

    gets = lines_of(journal, "object", "Get")
    bed.expect_equal([line.fields["name"] for line in gets],
                     ["SmbiosMajorVersion", "SmbiosMinorVersion", "SMBiosData"], "properties read")
    for line in gets:
        bed.expect_equal((line.fields["flags"], line.fields["value"], line.fields["type"],
                          line.fields["flavor"]), ("0", "nonnull", "nonnull", "null"),
                         "Get arguments of %s" % line.fields["name"])

    expect_release_order(journal, RELEASE_ORDER)
    expect_all_released(journal)
    unload = lines_of(journal, "DllCanUnloadNow")
    if unload:
        bed.expect_equal(unload[-1].fields["objects"], "0", "objects alive at unload check")


@bed.case
def each_failing_step_returns_its_hresult(prefix):
    installed(prefix)
    steps = [("create", 0x80004005, "CoCreateInstance", []),
             ("connect", 0x8004100E, "ConnectServer", ["locator"]),
             ("blanket", 0x80070005, "CoSetProxyBlanket", ["services", "locator"]),
             ("query_security", 0x80004002, "CoSetProxyBlanket", ["services", "locator"]),
             ("enum", 0x80041010, "CreateInstanceEnum", ["services", "locator"])]
    for fail_step, hresult, client_step, released in steps:
        client, journal = run(prefix, table=TABLE, major=3, minor=4,
                              fail={fail_step: hresult})
        what = "%s=0x%08X" % (fail_step, hresult)
        bed.expect_equal(client.hresults.get(client_step), signed(hresult),
                         "%s returned by %s (%r)" % (client_step, what, client))
        later = SUCCESS_STEPS[SUCCESS_STEPS.index(client_step) + 1:]
        bed.expect_equal([step for step in later if step in client.hresults], [],
                         "steps after a failed %s" % client_step)
        bed.expect_equal(client.log, "init_raw_smbios_data %s hResult [%d]."
                         % (client_step, signed(hresult)), "log line for " + what)
        bed.expect_equal((client.result, client.uninitialized), (False, True),
                         "result and CoUninitialize for " + what)
        if released:
            expect_release_order(journal, released)
        expect_all_released(journal)

    # DllGetClassObject failing: CoCreateInstance fails; the value COM hands
    # on is checked for sign only, the provider's own line shows what it said.
    client, journal = run(prefix, table=TABLE, fail={"class_object": 0x80004005})
    bed.expect(client.hresults.get("CoCreateInstance", 0) < 0,
               "CoCreateInstance fails with the class object (%r)" % client)
    said = lines_of(journal, "DllGetClassObject")
    bed.expect(said and said[-1].fields["hr"] == "0x80004005", "DllGetClassObject journal line")
    bed.expect_equal(client.result, False, "result with no class object")
    expect_all_released(journal)


@bed.case
def silent_failures_after_the_enumerator(prefix):
    installed(prefix)
    cases = [
        # (options, last step reached, its HRESULT, steps never reached)
        (dict(fail={"next": 0x80041001}), "Next", signed(0x80041001),
         ["SmbiosMajorVersion"]),
        (dict(fail={"next": "none"}), "Next", 1, ["SmbiosMajorVersion"]),
        (dict(fail={"get_major": 0x80041002}), "SmbiosMajorVersion", signed(0x80041002),
         ["SmbiosMinorVersion", "SMBiosData"]),
        (dict(fail={"get_minor": 0x80041003}), "SmbiosMinorVersion", signed(0x80041003),
         ["SMBiosData"]),
        (dict(fail={"get_data": 0x80041004}), "SMBiosData", signed(0x80041004), []),
        (dict(data_vt=0x2010), "SMBiosData", 0, []),
        (dict(data_vt=1), "SMBiosData", 0, []),
        (dict(table=None), "SMBiosData", signed(wmi_standin.WBEM_E_NOT_FOUND), []),
    ]
    for options, step, hresult, unreached in cases:
        options.setdefault("table", TABLE)
        options.setdefault("major", 3)
        options.setdefault("minor", 4)
        client, journal = run(prefix, **options)
        bed.expect_equal(client.hresults.get(step), hresult, "%s with %r (%r)"
                         % (step, options.get("fail") or options, client))
        bed.expect_equal([s for s in unreached if s in client.hresults], [],
                         "steps after %s" % step)
        bed.expect_equal((client.result, client.log, client.table, client.uninitialized),
                         (True, None, None, True), "silent row %r" % options.get("fail"))
        names = RELEASE_ORDER if step != "Next" else RELEASE_ORDER[1:]
        expect_release_order(journal, names)
        expect_all_released(journal)
        if options.get("fail", {}).get("next") == "none":
            bed.expect_equal(client.calls[0]["Next"]["returned"], "0", "objects of next=none")
    wrong = [line for line in lines_of(journal, "object", "Get")
             if line.fields["name"] == "SMBiosData"]
    bed.expect(wrong and wrong[-1].fields["hr"] == "0x80041002", "missing table not found")


@bed.case
def table_capacity_edge(prefix):
    installed(prefix)
    client, journal = run(prefix, table=bytes([0x5A]) * 63999, major=3, minor=4)
    bed.expect_equal((client.result, len(client.table or b""), client.log), (True, 63999, None),
                     "63999-byte table")
    bed.expect_equal(client.table, bytes([0x5A]) * 63999, "63999 bytes whole")
    client, journal = run(prefix, table=bytes(64000), major=3, minor=4)
    bed.expect_equal((client.result, client.table, client.log),
                     (False, None, "init_raw_smbios_data Bios Data Overflow length [64000]."),
                     "64000-byte table refused")
    expect_release_order(journal, RELEASE_ORDER)
    expect_all_released(journal)


@bed.case
def single_threaded_apartment_is_refused(prefix):
    client, journal = run(installed(prefix), apartment="sta", table=TABLE, major=3, minor=4)
    bed.expect_equal(client.facts.get("hr"), "0", "joining the single-threaded apartment")
    bed.expect_equal(client.hresults, {"CoInitializeEx": -2147417850},
                     "steps of a call from a single-threaded apartment")
    bed.expect_equal(client.log, "init_raw_smbios_data CoInitializeEx hResult [-2147417850].",
                     "log line")
    bed.expect_equal((client.result, client.uninitialized), (False, False),
                     "result, no CoUninitialize")
    bed.expect_equal([line.text for line in journal if line.who != "client"], [],
                     "provider never reached")


@bed.case
def multithreaded_apartment_already_joined(prefix):
    client, journal = run(installed(prefix), apartment="mta", calls=2, table=TABLE,
                          major=3, minor=4)
    for number, call in enumerate(client.calls, 1):
        bed.expect_equal(call["hresults"]["CoInitializeEx"], 1, "S_FALSE on call %d" % number)
        bed.expect_equal((call["result"], call["table"], call["uninitialized"]),
                         (True, TABLE, True), "call %d" % number)
    bed.expect_equal(len(lines_of(journal, "locator", "destroyed")), 2, "one locator per call")
    expect_all_released(journal)


bed.main()
