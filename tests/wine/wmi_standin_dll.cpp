// wmi_standin.dll: a test-only in-process WMI provider that the Wine tests
// install in place of Wine's wbemprox.dll. Wine's own ROOT\WMI has no SMBIOS
// table, so the firmware path can only be exercised against answers the test
// chooses itself. Every answer comes from the process environment, and every
// call that reaches the provider is appended to a journal file, with the
// reference count of each object after each AddRef and Release.
//
// Environment (all optional):
//   TAVSN_WMI_TABLE       Windows path of a file whose bytes are SMBiosData.
//                         Unset: Get("SMBiosData") fails with WBEM_E_NOT_FOUND.
//   TAVSN_WMI_MAJOR       SmbiosMajorVersion (decimal or 0x hex). Unset: Get
//   TAVSN_WMI_MINOR       of that property fails with WBEM_E_NOT_FOUND.
//   TAVSN_WMI_VERSION_VT  variant type of both versions: 17 (VT_UI1, the
//                         default), 2 (VT_I2), 3 (VT_I4), 18 (VT_UI2), 19 (VT_UI4).
//   TAVSN_WMI_DATA_VT     variant type of SMBiosData: 0x2011 (the default).
//                         Other VT_ARRAY types of 1-, 2- or 4-byte integers
//                         carry the file's bytes as elements of that size;
//                         0 (VT_EMPTY), 1 (VT_NULL), 3 (VT_I4 = byte count),
//                         8 (VT_BSTR of the bytes) are also served.
//   TAVSN_WMI_FAIL        comma-separated step=HRESULT entries; the HRESULT
//                         is hex (0x80041003) or signed decimal. Steps:
//                         class_object, create, connect, query_security,
//                         blanket, enum, next, get_major, get_minor, get_data.
//                         next=none makes Next return WBEM_S_FALSE with no
//                         object.
//   TAVSN_WMI_JOURNAL     Windows path of a text file to append one line per
//                         call to.
//
// No exceptions and no C++ runtime allocations: objects live on the process
// heap, so the provider cannot throw across a COM boundary.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <new>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// {4590F811-1D3A-11D0-891F-00AA004B2E24}
const CLSID kClsidWbemLocator = {0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};

LONG g_live_objects = 0;
LONG g_server_locks = 0;

// --- environment ----------------------------------------------------------

bool env_text(const char* name, char* out, DWORD size) {
  DWORD n = GetEnvironmentVariableA(name, out, size);
  return n > 0 && n < size;
}

bool env_wide(const wchar_t* name, wchar_t* out, DWORD size) {
  DWORD n = GetEnvironmentVariableW(name, out, size);
  return n > 0 && n < size;
}

bool parse_number(const char* text, long long* value) {
  char* end = nullptr;
  long long parsed = strtoll(text, &end, 0);
  if (end == text || *end != '\0') return false;
  *value = parsed;
  return true;
}

bool env_number(const char* name, long long* value) {
  char text[64];
  return env_text(name, text, sizeof text) && parse_number(text, value);
}

// The raw value of `step` in TAVSN_WMI_FAIL, if the step is listed.
bool fail_value(const char* step, char* out, size_t size) {
  char list[1024];
  if (!env_text("TAVSN_WMI_FAIL", list, sizeof list)) return false;
  size_t step_len = strlen(step);
  for (char* entry = list; entry && *entry;) {
    char* next = strchr(entry, ',');
    if (next) *next++ = '\0';
    while (*entry == ' ') ++entry;
    if (strncmp(entry, step, step_len) == 0 && entry[step_len] == '=') {
      snprintf(out, size, "%s", entry + step_len + 1);
      return true;
    }
    entry = next;
  }
  return false;
}

// The HRESULT `step` is told to fail with; false when the step is not listed
// (or listed with something that is no number, like next=none).
bool fail_hresult(const char* step, HRESULT* hr) {
  char value[64];
  long long number = 0;
  if (!fail_value(step, value, sizeof value) || !parse_number(value, &number)) return false;
  *hr = static_cast<HRESULT>(static_cast<unsigned long>(number));
  return true;
}

// --- journal --------------------------------------------------------------

void journal(const char* format, ...) {
  wchar_t path[MAX_PATH];
  if (!env_wide(L"TAVSN_WMI_JOURNAL", path, MAX_PATH)) return;
  char line[2048];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line - 2, format, args);
  va_end(args);
  if (n < 0) return;
  if (n > static_cast<int>(sizeof line) - 3) n = sizeof line - 3;
  line[n++] = '\n';
  // Opened per line with append access, so lines from any thread land whole
  // and in order, and nothing is left open when the DLL is unloaded.
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
  CloseHandle(file);
}

const char* hr_text(HRESULT hr, char (&out)[16]) {
  snprintf(out, sizeof out, "0x%08lX", static_cast<unsigned long>(hr));
  return out;
}
#define HR(hr) hr_text((hr), hr_buffer)

const char* null_or_not(const void* p) { return p ? "nonnull" : "null"; }

// A wide string argument as journal text: null, or quoted UTF-8.
const char* wide_text(const wchar_t* text, char (&out)[512]) {
  if (!text) return "null";
  char utf8[500];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  if (n <= 0) snprintf(utf8, sizeof utf8, "?");
  snprintf(out, sizeof out, "\"%s\"", utf8);
  return out;
}

const char* iid_text(REFIID iid, char (&out)[64]) {
  static const struct {
    const IID* iid;
    const char* name;
  } known[] = {
      {&IID_IUnknown, "IUnknown"},
      {&IID_IClassFactory, "IClassFactory"},
      {&__uuidof(IWbemLocator), "IWbemLocator"},
      {&__uuidof(IWbemServices), "IWbemServices"},
      {&IID_IClientSecurity, "IClientSecurity"},
      {&__uuidof(IEnumWbemClassObject), "IEnumWbemClassObject"},
      {&__uuidof(IWbemClassObject), "IWbemClassObject"},
      {&IID_IMarshal, "IMarshal"},
  };
  for (const auto& entry : known) {
    if (IsEqualIID(iid, *entry.iid)) return entry.name;
  }
  wchar_t wide[40];
  if (StringFromGUID2(iid, wide, 40) <= 0) return "?";
  WideCharToMultiByte(CP_ACP, 0, wide, -1, out, sizeof out, nullptr, nullptr);
  return out;
}

// --- objects --------------------------------------------------------------

template <typename T, typename... Args>
T* make(Args... args) {
  void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(T));
  return memory ? new (memory) T(args...) : nullptr;
}

// Reference counting shared by every object: one count per object, written
// to the journal as "<name> AddRef|Release count=N".
class Counted {
 public:
  explicit Counted(const char* name) : name_(name) {
    InterlockedIncrement(&g_live_objects);
    journal("%s created", name_);
  }

  ULONG add_ref() {
    LONG count = InterlockedIncrement(&count_);
    journal("%s AddRef count=%ld", name_, count);
    return static_cast<ULONG>(count);
  }

  template <typename Self>
  ULONG release(Self* self) {
    LONG count = InterlockedDecrement(&count_);
    journal("%s Release count=%ld", name_, count);
    if (count == 0) {
      journal("%s destroyed", name_);
      self->~Self();
      HeapFree(GetProcessHeap(), 0, self);
      InterlockedDecrement(&g_live_objects);
    }
    return static_cast<ULONG>(count < 0 ? 0 : count);
  }

  // QueryInterface of an object that offers IUnknown and `own` alone.
  HRESULT answer_query(REFIID iid, void** out, REFIID own, void* self) {
    HRESULT hr = E_NOINTERFACE;
    if (!out) {
      hr = E_POINTER;
    } else if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, own)) {
      *out = self;
      add_ref();
      hr = S_OK;
    } else {
      *out = nullptr;
    }
    query_journal(iid, hr);
    return hr;
  }

  void query_journal(REFIID iid, HRESULT hr) {
    char iid_buffer[64], hr_buffer[16];
    journal("%s QueryInterface iid=%s hr=%s", name_, iid_text(iid, iid_buffer), HR(hr));
  }

  void not_implemented(const char* method) { journal("%s %s E_NOTIMPL", name_, method); }

  const char* name() const { return name_; }

 private:
  const char* name_;
  LONG count_ = 1;
};

#define COUNTED_IUNKNOWN                                                   \
  ULONG STDMETHODCALLTYPE AddRef() override { return counted_.add_ref(); } \
  ULONG STDMETHODCALLTYPE Release() override { return counted_.release(this); }

#define NOT_IMPLEMENTED(method)        \
  {                                    \
    counted_.not_implemented(#method); \
    return E_NOTIMPL;                  \
  }

// --- IWbemClassObject -------------------------------------------------------

class ClassObject final : public IWbemClassObject {
 public:
  ClassObject() : counted_("object") {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return counted_.answer_query(iid, out, __uuidof(IWbemClassObject), static_cast<IWbemClassObject*>(this));
  }
  COUNTED_IUNKNOWN

  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
    HRESULT hr = answer(name, value, type, flavor);
    char name_buffer[512], hr_buffer[16];
    journal("object Get name=%s flags=%ld value=%s type=%s flavor=%s hr=%s vt=%u", wide_text(name, name_buffer),
            static_cast<long>(flags), null_or_not(value), null_or_not(type), null_or_not(flavor), HR(hr),
            value ? static_cast<unsigned>(V_VT(value)) : 0u);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override
      NOT_IMPLEMENTED(GetQualifierSet) HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override
      NOT_IMPLEMENTED(Put) HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override
      NOT_IMPLEMENTED(Delete) HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override
      NOT_IMPLEMENTED(GetNames) HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override
      NOT_IMPLEMENTED(BeginEnumeration) HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override
      NOT_IMPLEMENTED(Next) HRESULT STDMETHODCALLTYPE EndEnumeration() override
      NOT_IMPLEMENTED(EndEnumeration) HRESULT STDMETHODCALLTYPE
      GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override
      NOT_IMPLEMENTED(GetPropertyQualifierSet) HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override
      NOT_IMPLEMENTED(Clone) HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override
      NOT_IMPLEMENTED(GetObjectText) HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override
      NOT_IMPLEMENTED(SpawnDerivedClass) HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override
      NOT_IMPLEMENTED(SpawnInstance) HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override
      NOT_IMPLEMENTED(CompareTo) HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override
      NOT_IMPLEMENTED(GetPropertyOrigin) HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override
      NOT_IMPLEMENTED(InheritsFrom) HRESULT STDMETHODCALLTYPE
      GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override
      NOT_IMPLEMENTED(GetMethod) HRESULT STDMETHODCALLTYPE
      PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override
      NOT_IMPLEMENTED(PutMethod) HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override
      NOT_IMPLEMENTED(DeleteMethod) HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override
      NOT_IMPLEMENTED(BeginMethodEnumeration) HRESULT STDMETHODCALLTYPE
      NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override
      NOT_IMPLEMENTED(NextMethod) HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override
      NOT_IMPLEMENTED(EndMethodEnumeration) HRESULT STDMETHODCALLTYPE
      GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override
      NOT_IMPLEMENTED(GetMethodQualifierSet) HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override
      NOT_IMPLEMENTED(GetMethodOrigin)

          private : HRESULT answer(LPCWSTR name, VARIANT* value, CIMTYPE* type, LONG* flavor) {
    if (!name || !value) return WBEM_E_INVALID_PARAMETER;
    if (flavor) *flavor = WBEM_FLAVOR_ORIGIN_PROPAGATED;
    HRESULT hr = WBEM_E_NOT_FOUND;
    if (lstrcmpiW(name, L"SmbiosMajorVersion") == 0) {
      hr = version("get_major", "TAVSN_WMI_MAJOR", value);
    } else if (lstrcmpiW(name, L"SmbiosMinorVersion") == 0) {
      hr = version("get_minor", "TAVSN_WMI_MINOR", value);
    } else if (lstrcmpiW(name, L"SMBiosData") == 0) {
      hr = table(value);
      if (SUCCEEDED(hr) && type) *type = CIM_UINT8 | CIM_FLAG_ARRAY;
      return hr;
    }
    if (SUCCEEDED(hr) && type) *type = CIM_UINT8;
    return hr;
  }

  static HRESULT version(const char* step, const char* variable, VARIANT* value) {
    HRESULT hr = S_OK;
    if (fail_hresult(step, &hr)) return hr;
    long long number = 0;
    if (!env_number(variable, &number)) return WBEM_E_NOT_FOUND;
    long long vt = VT_UI1;
    env_number("TAVSN_WMI_VERSION_VT", &vt);
    switch (vt) {
      case VT_UI1: V_UI1(value) = static_cast<BYTE>(number); break;
      case VT_I2: V_I2(value) = static_cast<SHORT>(number); break;
      case VT_UI2: V_UI2(value) = static_cast<USHORT>(number); break;
      case VT_I4: V_I4(value) = static_cast<LONG>(number); break;
      case VT_UI4: V_UI4(value) = static_cast<ULONG>(number); break;
      default: return E_INVALIDARG;
    }
    V_VT(value) = static_cast<VARTYPE>(vt);
    return S_OK;
  }

  static HRESULT table(VARIANT* value) {
    HRESULT hr = S_OK;
    if (fail_hresult("get_data", &hr)) return hr;
    wchar_t path[MAX_PATH];
    if (!env_wide(L"TAVSN_WMI_TABLE", path, MAX_PATH)) return WBEM_E_NOT_FOUND;
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > 0x1000000) {
      CloseHandle(file);
      return E_FAIL;
    }
    DWORD length = static_cast<DWORD>(size.QuadPart);
    BYTE* bytes = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, length ? length : 1));
    DWORD read = 0;
    bool ok = bytes && ReadFile(file, bytes, length, &read, nullptr) && read == length;
    CloseHandle(file);
    if (ok) {
      long long vt = VT_ARRAY | VT_UI1;
      env_number("TAVSN_WMI_DATA_VT", &vt);
      hr = fill(value, static_cast<VARTYPE>(vt), bytes, length);
    } else {
      hr = E_FAIL;
    }
    if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
    return hr;
  }

  static HRESULT fill(VARIANT* value, VARTYPE vt, const BYTE* bytes, DWORD length) {
    if (vt & VT_ARRAY) {
      VARTYPE element = vt & VT_TYPEMASK;
      DWORD size = 0;
      switch (element) {
        case VT_I1:
        case VT_UI1: size = 1; break;
        case VT_I2:
        case VT_UI2: size = 2; break;
        case VT_I4:
        case VT_UI4: size = 4; break;
        default: return E_INVALIDARG;
      }
      SAFEARRAY* array = SafeArrayCreateVector(element, 0, length / size);
      if (!array) return E_OUTOFMEMORY;
      void* data = nullptr;
      if (FAILED(SafeArrayAccessData(array, &data))) {
        SafeArrayDestroy(array);
        return E_FAIL;
      }
      memcpy(data, bytes, (length / size) * size);
      SafeArrayUnaccessData(array);
      V_VT(value) = vt;
      V_ARRAY(value) = array;
      return S_OK;
    }
    switch (vt) {
      case VT_EMPTY:
      case VT_NULL: break;
      case VT_I4: V_I4(value) = static_cast<LONG>(length); break;
      case VT_BSTR:
        V_BSTR(value) = SysAllocStringByteLen(reinterpret_cast<const char*>(bytes), length);
        if (!V_BSTR(value)) return E_OUTOFMEMORY;
        break;
      default: return E_INVALIDARG;
    }
    V_VT(value) = vt;
    return S_OK;
  }

  Counted counted_;
};

// --- IEnumWbemClassObject ---------------------------------------------------

class Enumerator final : public IEnumWbemClassObject {
 public:
  Enumerator() : counted_("enumerator") {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    HRESULT hr = E_NOINTERFACE;
    if (!out) {
      hr = E_POINTER;
    } else if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IEnumWbemClassObject))) {
      *out = static_cast<IEnumWbemClassObject*>(this);
      counted_.add_ref();
      hr = S_OK;
    } else {
      *out = nullptr;
    }
    counted_.query_journal(iid, hr);
    return hr;
  }
  COUNTED_IUNKNOWN

  HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
    HRESULT hr = S_OK;
    ULONG handed = 0;
    char mode[64];
    if (!objects || !returned) {
      hr = WBEM_E_INVALID_PARAMETER;
    } else if (fail_hresult("next", &hr)) {
      // hr as told, no object
    } else if ((fail_value("next", mode, sizeof mode) && strcmp(mode, "none") == 0) || handed_out_ || count == 0) {
      hr = count == 0 ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    } else {
      // The class has a single instance; it is handed out once.
      objects[0] = make<ClassObject>();
      if (!objects[0]) {
        hr = E_OUTOFMEMORY;
      } else {
        handed = 1;
        handed_out_ = true;
        hr = count == 1 ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
      }
    }
    if (returned) *returned = handed;
    char hr_buffer[16];
    journal("enumerator Next timeout=%lu count=%lu objects=%s returned=%s hr=%s handed=%lu",
            static_cast<unsigned long>(timeout), static_cast<unsigned long>(count), null_or_not(objects),
            null_or_not(returned), HR(hr), static_cast<unsigned long>(handed));
    return hr;
  }

  HRESULT STDMETHODCALLTYPE Reset() override NOT_IMPLEMENTED(Reset) HRESULT STDMETHODCALLTYPE
      NextAsync(ULONG, IWbemObjectSink*) override NOT_IMPLEMENTED(NextAsync) HRESULT STDMETHODCALLTYPE
      Clone(IEnumWbemClassObject**) override NOT_IMPLEMENTED(Clone) HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override
      NOT_IMPLEMENTED(Skip)

          private : Counted counted_;
  bool handed_out_ = false;
};

// --- IWbemServices with IClientSecurity --------------------------------------

// CoSetProxyBlanket asks the object it is given for IClientSecurity and calls
// SetBlanket on it; an in-process object that answers for itself stands in
// for the proxy that real WMI hands out.
class Services final : public IWbemServices, public IClientSecurity {
 public:
  Services() : counted_("services") {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    HRESULT hr = E_NOINTERFACE;
    if (!out) {
      hr = E_POINTER;
    } else if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IWbemServices))) {
      *out = static_cast<IWbemServices*>(this);
      counted_.add_ref();
      hr = S_OK;
    } else if (IsEqualIID(iid, IID_IClientSecurity) && !fail_hresult("query_security", &hr)) {
      *out = static_cast<IClientSecurity*>(this);
      counted_.add_ref();
      hr = S_OK;
    } else {
      *out = nullptr;
    }
    counted_.query_journal(iid, hr);
    return hr;
  }
  COUNTED_IUNKNOWN

  // IClientSecurity
  HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authn, DWORD authz, OLECHAR* principal, DWORD level,
                                       DWORD impersonation, void* identity, DWORD capabilities) override {
    HRESULT hr = S_OK;
    fail_hresult("blanket", &hr);
    const char* proxy_text = !proxy                                         ? "null"
                             : proxy == static_cast<IWbemServices*>(this)   ? "services"
                             : proxy == static_cast<IClientSecurity*>(this) ? "security"
                                                                            : "other";
    char principal_buffer[512], hr_buffer[16];
    const char* principal_text =
        principal == COLE_DEFAULT_PRINCIPAL ? "default" : wide_text(principal, principal_buffer);
    journal(
        "services SetBlanket proxy=%s authn=%lu authz=%lu principal=%s level=%lu "
        "impersonation=%lu identity=%s capabilities=%lu hr=%s",
        proxy_text, static_cast<unsigned long>(authn), static_cast<unsigned long>(authz), principal_text,
        static_cast<unsigned long>(level), static_cast<unsigned long>(impersonation), null_or_not(identity),
        static_cast<unsigned long>(capabilities), HR(hr));
    return hr;
  }
  HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**, DWORD*) override
      NOT_IMPLEMENTED(QueryBlanket) HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override
      NOT_IMPLEMENTED(CopyProxy)

      // IWbemServices
      HRESULT STDMETHODCALLTYPE
      CreateInstanceEnum(const BSTR name, LONG flags, IWbemContext* context, IEnumWbemClassObject** out) override {
    HRESULT hr = S_OK;
    if (out) *out = nullptr;
    if (!out) {
      hr = WBEM_E_INVALID_PARAMETER;
    } else if (!fail_hresult("enum", &hr)) {
      // Any class name is accepted: the journal shows which one was asked for.
      *out = make<Enumerator>();
      hr = *out ? S_OK : E_OUTOFMEMORY;
    }
    char name_buffer[512], hr_buffer[16];
    journal("services CreateInstanceEnum class=%s flags=%ld context=%s out=%s hr=%s", wide_text(name, name_buffer),
            static_cast<long>(flags), null_or_not(context), null_or_not(out), HR(hr));
    return hr;
  }

  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) override
      NOT_IMPLEMENTED(OpenNamespace) HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override
      NOT_IMPLEMENTED(CancelAsyncCall) HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override
      NOT_IMPLEMENTED(QueryObjectSink) HRESULT STDMETHODCALLTYPE
      GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**) override
      NOT_IMPLEMENTED(GetObject) HRESULT STDMETHODCALLTYPE
      GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
      NOT_IMPLEMENTED(GetObjectAsync) HRESULT STDMETHODCALLTYPE
      PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override
      NOT_IMPLEMENTED(PutClass) HRESULT STDMETHODCALLTYPE
      PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override
      NOT_IMPLEMENTED(PutClassAsync) HRESULT STDMETHODCALLTYPE
      DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override
      NOT_IMPLEMENTED(DeleteClass) HRESULT STDMETHODCALLTYPE
      DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
      NOT_IMPLEMENTED(DeleteClassAsync) HRESULT STDMETHODCALLTYPE
      CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override
      NOT_IMPLEMENTED(CreateClassEnum) HRESULT STDMETHODCALLTYPE
      CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
      NOT_IMPLEMENTED(CreateClassEnumAsync) HRESULT STDMETHODCALLTYPE
      PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override
      NOT_IMPLEMENTED(PutInstance) HRESULT STDMETHODCALLTYPE
      PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override
      NOT_IMPLEMENTED(PutInstanceAsync) HRESULT STDMETHODCALLTYPE
      DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override
      NOT_IMPLEMENTED(DeleteInstance) HRESULT STDMETHODCALLTYPE
      DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
      NOT_IMPLEMENTED(DeleteInstanceAsync) HRESULT STDMETHODCALLTYPE
      CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
      NOT_IMPLEMENTED(CreateInstanceEnumAsync) HRESULT STDMETHODCALLTYPE
      ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override
      NOT_IMPLEMENTED(ExecQuery) HRESULT STDMETHODCALLTYPE
      ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
      NOT_IMPLEMENTED(ExecQueryAsync) HRESULT STDMETHODCALLTYPE
      ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override
      NOT_IMPLEMENTED(ExecNotificationQuery) HRESULT STDMETHODCALLTYPE
      ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override
      NOT_IMPLEMENTED(ExecNotificationQueryAsync) HRESULT STDMETHODCALLTYPE
      ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                 IWbemCallResult**) override NOT_IMPLEMENTED(ExecMethod) HRESULT STDMETHODCALLTYPE
      ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemObjectSink*) override
      NOT_IMPLEMENTED(ExecMethodAsync)

          private : Counted counted_;
};

// --- IWbemLocator -----------------------------------------------------------

class Locator final : public IWbemLocator {
 public:
  Locator() : counted_("locator") {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return counted_.answer_query(iid, out, __uuidof(IWbemLocator), static_cast<IWbemLocator*>(this));
  }
  COUNTED_IUNKNOWN

  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password, const BSTR locale,
                                          LONG flags, const BSTR authority, IWbemContext* context,
                                          IWbemServices** out) override {
    HRESULT hr = S_OK;
    if (out) *out = nullptr;
    if (!out) {
      hr = WBEM_E_INVALID_PARAMETER;
    } else if (!fail_hresult("connect", &hr)) {
      Services* services = make<Services>();
      *out = services;
      hr = services ? S_OK : E_OUTOFMEMORY;
    }
    char resource_buffer[512], user_buffer[512], password_buffer[512], locale_buffer[512], authority_buffer[512],
        hr_buffer[16];
    journal(
        "locator ConnectServer resource=%s user=%s password=%s locale=%s security_flags=%ld "
        "authority=%s context=%s out=%s hr=%s",
        wide_text(resource, resource_buffer), wide_text(user, user_buffer), wide_text(password, password_buffer),
        wide_text(locale, locale_buffer), static_cast<long>(flags), wide_text(authority, authority_buffer),
        null_or_not(context), null_or_not(out), HR(hr));
    return hr;
  }

 private:
  Counted counted_;
};

// --- IClassFactory ------------------------------------------------------------

class Factory final : public IClassFactory {
 public:
  Factory() : counted_("factory") {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return counted_.answer_query(iid, out, IID_IClassFactory, static_cast<IClassFactory*>(this));
  }
  COUNTED_IUNKNOWN

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    HRESULT hr = S_OK;
    if (out) *out = nullptr;
    char iid_buffer[64], hr_buffer[16];
    const char* iid_name = iid_text(iid, iid_buffer);
    if (!out) {
      hr = E_POINTER;
    } else if (outer) {
      hr = CLASS_E_NOAGGREGATION;
    } else if (!fail_hresult("create", &hr)) {
      Locator* locator = make<Locator>();
      if (!locator) {
        hr = E_OUTOFMEMORY;
      } else {
        // The caller's reference comes from QueryInterface; the creation
        // reference is dropped, so an unknown interface frees the object.
        hr = locator->QueryInterface(iid, out);
        locator->Release();
      }
    }
    journal("factory CreateInstance outer=%s iid=%s hr=%s", null_or_not(outer), iid_name, HR(hr));
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      InterlockedIncrement(&g_server_locks);
    } else {
      InterlockedDecrement(&g_server_locks);
    }
    journal("factory LockServer lock=%d", lock ? 1 : 0);
    return S_OK;
  }

 private:
  Counted counted_;
};

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    journal("dll attach");
  } else if (reason == DLL_PROCESS_DETACH) {
    journal("dll detach process_exit=%d", reserved ? 1 : 0);
  }
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  HRESULT hr = S_OK;
  if (out) *out = nullptr;
  char clsid_buffer[64], iid_buffer[64], hr_buffer[16];
  const char* clsid_name = IsEqualCLSID(clsid, kClsidWbemLocator) ? "WbemLocator" : iid_text(clsid, clsid_buffer);
  const char* iid_name = iid_text(iid, iid_buffer);
  if (!out) {
    hr = E_POINTER;
  } else if (!IsEqualCLSID(clsid, kClsidWbemLocator)) {
    hr = CLASS_E_CLASSNOTAVAILABLE;
  } else if (!fail_hresult("class_object", &hr)) {
    Factory* factory = make<Factory>();
    if (!factory) {
      hr = E_OUTOFMEMORY;
    } else {
      hr = factory->QueryInterface(iid, out);
      factory->Release();
    }
  }
  journal("DllGetClassObject clsid=%s iid=%s hr=%s", clsid_name, iid_name, HR(hr));
  return hr;
}

HRESULT WINAPI DllCanUnloadNow() {
  LONG objects = InterlockedCompareExchange(&g_live_objects, 0, 0);
  LONG locks = InterlockedCompareExchange(&g_server_locks, 0, 0);
  HRESULT hr = objects == 0 && locks == 0 ? S_OK : S_FALSE;
  char hr_buffer[16];
  journal("DllCanUnloadNow objects=%ld locks=%ld hr=%s", objects, locks, HR(hr));
  return hr;
}

}  // extern "C"
