// The COM and WMI calls behind the raw SMBIOS read.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sysinfo/wmi_platform.h"

namespace tavsn::wmios {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "COM strings are UTF-16 on Windows");

// {4590F811-1D3A-11D0-891F-00AA004B2E24} and {DC12A687-737F-11CF-884D-00AA004B2E24},
// spelt out so that no import library of GUIDs is needed.
constexpr CLSID kWbemLocatorClass = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
constexpr IID kWbemLocatorInterface = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

// A string constant laid out as a BSTR: the byte length in the four bytes
// before the text, the terminator after it. The marshaller reads that length,
// so a plain wide literal would have it read whatever the linker put there.
// Constants rather than allocated strings keep the call sequence as it is;
// the service copies what it keeps.
template <std::size_t N>
struct BstrConstant {
  std::uint32_t byte_length;
  wchar_t text[N];
};

template <std::size_t N>
constexpr BstrConstant<N> MakeBstrConstant(const wchar_t (&text)[N]) {
  BstrConstant<N> constant{};
  constant.byte_length = static_cast<std::uint32_t>((N - 1) * sizeof(wchar_t));
  for (std::size_t i = 0; i < N; ++i) constant.text[i] = text[i];
  return constant;
}

constexpr auto kWmiNamespace = MakeBstrConstant(L"ROOT\\WMI");
constexpr auto kRawSmbiosClass = MakeBstrConstant(L"MSSMBios_RawSMBiosTables");
static_assert(offsetof(BstrConstant<1>, text) == sizeof(std::uint32_t), "the length sits right before the text");
static_assert(kWmiNamespace.byte_length == 16 && kRawSmbiosClass.byte_length == 48);

template <std::size_t N>
BSTR Constant(const BstrConstant<N>& constant) {
  return const_cast<BSTR>(constant.text);
}

// A VARIANT that is cleared whenever it goes out of scope.
class ScopedVariant {
 public:
  ScopedVariant() { ::VariantInit(&value_); }
  ~ScopedVariant() { ::VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &value_; }

 private:
  VARIANT value_;
};

HRESULT GetProperty(const WbemObject& object, const char16_t* name, VARIANT* value) {
  CIMTYPE type = 0;
  return object.get()->Get(reinterpret_cast<LPCWSTR>(name), 0, value, &type, nullptr);
}

}  // namespace

HResult InitializeMultithreadedCom() { return ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

void UninitializeCom() { ::CoUninitialize(); }

HResult CreateWbemLocator(WbemLocator& locator) {
  return ::CoCreateInstance(kWbemLocatorClass, nullptr, CLSCTX_INPROC_SERVER, kWbemLocatorInterface,
                            reinterpret_cast<void**>(locator.put()));
}

HResult ConnectToWmiNamespace(const WbemLocator& locator, WbemServices& services) {
  return locator.get()->ConnectServer(Constant(kWmiNamespace), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                      services.put());
}

HResult SetCallLevelProxyBlanket(const WbemServices& services) {
  return ::CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

HResult EnumerateRawSmbiosTables(const WbemServices& services, WbemEnumerator& enumerator) {
  return services.get()->CreateInstanceEnum(Constant(kRawSmbiosClass), 0, nullptr, enumerator.put());
}

HResult NextClassObject(const WbemEnumerator& enumerator, WbemObject& object, std::uint32_t& returned) {
  ULONG count = 0;
  const HRESULT result = enumerator.get()->Next(static_cast<LONG>(WBEM_INFINITE), 1, object.put(), &count);
  returned = count;
  return result;
}

HResult GetLowByteProperty(const WbemObject& object, const char16_t* name, std::uint8_t& value) {
  ScopedVariant property;
  const HRESULT result = GetProperty(object, name, property.get());
  // The low byte of whatever integer the value holds: the variant's data
  // starts with its lowest byte.
  if (SUCCEEDED(result)) value = property.get()->bVal;
  return result;
}

HResult GetByteArrayProperty(const WbemObject& object, const char16_t* name, std::uint8_t* destination,
                             std::size_t capacity, ByteArrayProperty& property) {
  property = ByteArrayProperty{};
  ScopedVariant value;
  HRESULT result = GetProperty(object, name, value.get());
  if (FAILED(result)) return result;
  SAFEARRAY* array = value.get()->parray;
  property.is_byte_array = value.get()->vt == (VT_ARRAY | VT_UI1) && array != nullptr && ::SafeArrayGetDim(array) == 1;
  if (!property.is_byte_array) return result;
  property.element_count = array->rgsabound[0].cElements;
  if (!ByteArrayFits(property.element_count, capacity)) return result;
  void* elements = nullptr;
  const HRESULT accessed = ::SafeArrayAccessData(array, &elements);
  if (FAILED(accessed)) return accessed;
  std::memcpy(destination, elements, property.element_count);
  ::SafeArrayUnaccessData(array);
  return result;
}

}  // namespace tavsn::wmios
