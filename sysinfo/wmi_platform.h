#pragma once
// The COM and WMI calls behind the raw SMBIOS read, each turned into an
// HRESULT and nothing more: what a failure means, what is logged and in
// which order everything is given back is decided in raw_smbios.cpp.
// wmi_platform_win32.cpp implements these; the native tests link a fake.
//
// Interfaces come back in owners of their own type, so that each is released
// once on every path and none is taken for another; HRESULTs are the signed 32-bit values COM returns.

#include <cstddef>
#include <cstdint>

#include "base/resources.h"

namespace tavsn::wmios {

using HResult = std::int32_t;

constexpr HResult kOk = 0;

inline bool Failed(HResult result) { return result < 0; }

// CoInitializeEx(NULL, COINIT_MULTITHREADED) and CoUninitialize.
HResult InitializeMultithreadedCom();
void UninitializeCom();

// CoCreateInstance(CLSID_WbemLocator, NULL, CLSCTX_INPROC_SERVER,
// IID_IWbemLocator).
HResult CreateWbemLocator(WbemLocator& locator);

// IWbemLocator::ConnectServer to "ROOT\WMI", with no user, password, locale,
// authority or context and security flags 0.
HResult ConnectToWmiNamespace(const WbemLocator& locator, WbemServices& services);

// CoSetProxyBlanket: NTLM authentication, no authorisation service or
// principal, call-level authentication, impersonation, no identity, no
// capabilities.
HResult SetCallLevelProxyBlanket(const WbemServices& services);

// IWbemServices::CreateInstanceEnum of "MSSMBios_RawSMBiosTables", flags 0,
// no context.
HResult EnumerateRawSmbiosTables(const WbemServices& services, WbemEnumerator& enumerator);

// IEnumWbemClassObject::Next with an infinite timeout and a count of 1;
// `returned` is the number of objects it handed out.
HResult NextClassObject(const WbemEnumerator& enumerator, WbemObject& object, std::uint32_t& returned);

// VariantInit, IWbemClassObject::Get(name, 0, &value, &type, NULL), the
// value's low byte whatever its type, VariantClear.
HResult GetLowByteProperty(const WbemObject& object, const char16_t* name, std::uint8_t& value);

// What a byte-array property held.
struct ByteArrayProperty {
  bool is_byte_array = false;       // VT_ARRAY | VT_UI1
  std::uint32_t element_count = 0;  // of its single dimension
};

// Whether a byte array of `element_count` elements is copied into
// `capacity` bytes: only a whole one that fits. Portable (raw_smbios.cpp),
// so that the platform layer does not decide it.
bool ByteArrayFits(std::uint32_t element_count, std::size_t capacity);

// VariantInit, IWbemClassObject::Get(name, 0, &value, &type, NULL); for a
// byte array, its element count and, when ByteArrayFits, its elements copied
// to `destination`; VariantClear.
HResult GetByteArrayProperty(const WbemObject& object, const char16_t* name, std::uint8_t* destination,
                             std::size_t capacity, ByteArrayProperty& property);

}  // namespace tavsn::wmios
