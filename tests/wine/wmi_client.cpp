// wmi_client.exe: reads the raw SMBIOS table through WMI with the very COM
// sequence the library's firmware reader makes, on the calling thread, and
// prints what every step gave. The Wine tests run it against the stand-in
// provider (wmi_standin.dll) to see that the provider answers each step as
// told and that every interface obtained is released once, in reverse order.
//
//   wmi_client.exe [--apartment sta|mta] [--calls N]
//
// --apartment  joins the thread to that apartment before the sequence (and
//              leaves it afterwards), as a host application's thread may be.
// --calls      runs the whole sequence N times (default 1).
//
// Standard output, one line per step reached, HRESULTs in signed decimal:
//   apartment=sta hr=0
//   call=1
//   CoInitializeEx=0
//   CoCreateInstance=0
//   ConnectServer=0
//   CoSetProxyBlanket=0
//   CreateInstanceEnum=0
//   Next=0 returned=1
//   SmbiosMajorVersion=0 vt=17 value=3
//   SmbiosMinorVersion=0 vt=17 value=4
//   SMBiosData=0 vt=8209 length=N
//   table=<hex of the N table bytes>
//   log=<the line the reader writes to its log, when it writes one>
//   CoUninitialize
//   result=true
//   apartment_left
// When TAVSN_WMI_JOURNAL is set, "client <step>" lines go to that journal
// too, so the provider's calls can be placed between the client's steps.
// Exit code 0, or 2 for bad arguments.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// {4590F811-1D3A-11D0-891F-00AA004B2E24}
const CLSID kClsidWbemLocator = {0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
// {DC12A687-737F-11CF-884D-00AA004B2E24}
const IID kIidWbemLocator = {0xdc12a687, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};

constexpr unsigned kTableCapacity = 64000;

struct Raw {
  unsigned char major = 0;
  unsigned char minor = 0;
  unsigned long table_length = 0;
  unsigned char table[kTableCapacity];
};

void journal(const char* text) {
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"TAVSN_WMI_JOURNAL", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  char line[256];
  int length = std::snprintf(line, sizeof line, "client %s\n", text);
  DWORD written = 0;
  if (length > 0) WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}

void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

void log_hresult(const char* step, HRESULT hr) {
  say("log=init_raw_smbios_data %s hResult [%ld].\n", step, static_cast<long>(hr));
}

void uninitialize() {
  journal("CoUninitialize");
  CoUninitialize();
  say("CoUninitialize\n");
}

// Reads one version property; false when Get failed.
bool read_version(IWbemClassObject* object, const wchar_t* name, const char* label, unsigned char* out) {
  VARIANT value;
  VariantInit(&value);
  CIMTYPE type = 0;
  HRESULT hr = object->Get(name, 0, &value, &type, nullptr);
  if (FAILED(hr)) {
    say("%s=%ld\n", label, static_cast<long>(hr));
    VariantClear(&value);
    return false;
  }
  // Only the low byte counts, whatever the variant type.
  *out = V_UI1(&value);
  say("%s=%ld vt=%u value=%u\n", label, static_cast<long>(hr), V_VT(&value), *out);
  VariantClear(&value);
  return true;
}

// The interfaces the sequence holds so far. Every path ends by releasing
// them in reverse order of taking and leaving COM, as the library does.
struct Held {
  IWbemLocator* locator = nullptr;
  IWbemServices* services = nullptr;
  IEnumWbemClassObject* enumerator = nullptr;
  IWbemClassObject* object = nullptr;

  template <typename Interface>
  static void release(const char* name, Interface*& held) {
    if (!held) return;
    char line[64];
    std::snprintf(line, sizeof line, "release %s", name);
    journal(line);
    held->Release();
    held = nullptr;
  }

  void release_all_and_uninitialize() {
    release("object", object);
    release("enumerator", enumerator);
    release("services", services);
    release("locator", locator);
    uninitialize();
  }
};

bool fail(Held& held, const char* step, HRESULT hr) {
  held.release_all_and_uninitialize();
  log_hresult(step, hr);
  return false;
}

// One write for the whole line: a 64 KB table is 128 K hex digits.
void say_table(const Raw& raw) {
  static char hex[2 * kTableCapacity + 1];
  static const char kDigits[] = "0123456789ABCDEF";
  for (unsigned long i = 0; i < raw.table_length; ++i) {
    hex[2 * i] = kDigits[raw.table[i] >> 4];
    hex[2 * i + 1] = kDigits[raw.table[i] & 0xF];
  }
  hex[2 * raw.table_length] = '\0';
  say("table=%s\n", hex);
}

bool read_raw(Raw* raw) {
  std::memset(raw->table, 0, sizeof raw->table);

  journal("CoInitializeEx");
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  say("CoInitializeEx=%ld\n", static_cast<long>(hr));
  if (FAILED(hr)) {
    log_hresult("CoInitializeEx", hr);
    return false;
  }

  Held held;
  journal("CoCreateInstance");
  hr = CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER, kIidWbemLocator,
                        reinterpret_cast<void**>(&held.locator));
  say("CoCreateInstance=%ld\n", static_cast<long>(hr));
  if (FAILED(hr)) return fail(held, "CoCreateInstance", hr);

  journal("ConnectServer");
  hr = held.locator->ConnectServer(const_cast<BSTR>(L"ROOT\\WMI"), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                   &held.services);
  say("ConnectServer=%ld\n", static_cast<long>(hr));
  if (FAILED(hr)) return fail(held, "ConnectServer", hr);

  journal("CoSetProxyBlanket");
  hr = CoSetProxyBlanket(held.services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  say("CoSetProxyBlanket=%ld\n", static_cast<long>(hr));
  if (FAILED(hr)) return fail(held, "CoSetProxyBlanket", hr);

  journal("CreateInstanceEnum");
  hr = held.services->CreateInstanceEnum(const_cast<BSTR>(L"MSSMBios_RawSMBiosTables"), 0, nullptr, &held.enumerator);
  say("CreateInstanceEnum=%ld\n", static_cast<long>(hr));
  if (FAILED(hr)) return fail(held, "CreateInstanceEnum", hr);

  ULONG returned = 0;
  journal("Next");
  hr = held.enumerator->Next(static_cast<LONG>(WBEM_INFINITE), 1, &held.object, &returned);
  say("Next=%ld returned=%lu\n", static_cast<long>(hr), returned);
  IWbemClassObject* object = held.object;
  if (SUCCEEDED(hr) && returned != 0 && object &&
      read_version(object, L"SmbiosMajorVersion", "SmbiosMajorVersion", &raw->major) &&
      read_version(object, L"SmbiosMinorVersion", "SmbiosMinorVersion", &raw->minor)) {
    VARIANT value;
    VariantInit(&value);
    CIMTYPE type = 0;
    hr = object->Get(L"SMBiosData", 0, &value, &type, nullptr);
    if (FAILED(hr) || V_VT(&value) != (VT_ARRAY | VT_UI1)) {
      say("SMBiosData=%ld vt=%u\n", static_cast<long>(hr), V_VT(&value));
    } else {
      SAFEARRAY* array = V_ARRAY(&value);
      raw->table_length = array ? array->rgsabound[0].cElements : 0;
      say("SMBiosData=%ld vt=%u length=%lu\n", static_cast<long>(hr), V_VT(&value), raw->table_length);
      if (raw->table_length >= kTableCapacity) {
        VariantClear(&value);
        held.release_all_and_uninitialize();
        say("log=init_raw_smbios_data Bios Data Overflow length [%lu].\n", raw->table_length);
        return false;
      }
      void* data = nullptr;
      if (raw->table_length && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        std::memcpy(raw->table, data, raw->table_length);
        SafeArrayUnaccessData(array);
      }
      say_table(*raw);
    }
    VariantClear(&value);
  }
  held.release_all_and_uninitialize();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* apartment = nullptr;
  int calls = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--apartment") == 0 && i + 1 < argc) {
      apartment = argv[++i];
      if (std::strcmp(apartment, "sta") != 0 && std::strcmp(apartment, "mta") != 0) return 2;
    } else if (std::strcmp(argv[i], "--calls") == 0 && i + 1 < argc) {
      calls = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: wmi_client.exe [--apartment sta|mta] [--calls N]\n");
      return 2;
    }
  }
  HRESULT apartment_hr = S_OK;
  if (apartment) {
    apartment_hr =
        CoInitializeEx(nullptr, std::strcmp(apartment, "sta") == 0 ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    say("apartment=%s hr=%ld\n", apartment, static_cast<long>(apartment_hr));
  }
  static Raw raw;
  for (int call = 1; call <= calls; ++call) {
    say("call=%d\n", call);
    bool ok = read_raw(&raw);
    say("result=%s\n", ok ? "true" : "false");
  }
  if (apartment && SUCCEEDED(apartment_hr)) {
    CoUninitialize();
    say("apartment_left\n");
  }
  return 0;
}
