#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "tests/wine/nt_device_links.h"

extern "C" NTSTATUS NTAPI NtCreateSymbolicLinkObject(PHANDLE link, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                                     PUNICODE_STRING target);

namespace tavsn::winetest {

namespace {

constexpr ACCESS_MASK kSymbolicLinkAllAccess = 0xF0001;

std::wstring LinkNameFor(const char* pnp_instance_id) {
  std::wstring name = L"\\??\\";
  for (const char* c = pnp_instance_id; *c != '\0'; ++c) {
    name.push_back(*c == '\\' ? L'#' : static_cast<wchar_t>(static_cast<unsigned char>(*c)));
  }
  name += L"#{ad498944-762f-11d0-8dcb-00c04fc3358c}";
  return name;
}

UNICODE_STRING CountedString(std::wstring& text) {
  UNICODE_STRING counted;
  counted.Buffer = text.data();
  counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  return counted;
}

}  // namespace

struct NdisInterfaceLinks::Handles {
  std::vector<HANDLE> open;
  ~Handles() {
    for (HANDLE handle : open) ::CloseHandle(handle);
  }
};

NdisInterfaceLinks::NdisInterfaceLinks() : handles_(std::make_unique<Handles>()) {}

NdisInterfaceLinks::~NdisInterfaceLinks() = default;

std::uint32_t NdisInterfaceLinks::Add(const char* pnp_instance_id) {
  std::wstring name = LinkNameFor(pnp_instance_id);
  std::wstring target = L"\\Device";
  UNICODE_STRING counted_name = CountedString(name);
  UNICODE_STRING counted_target = CountedString(target);
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof attributes;
  attributes.ObjectName = &counted_name;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  handles_->open.reserve(handles_->open.size() + 1);  // so that keeping the handle cannot fail
  HANDLE link = nullptr;
  const NTSTATUS status = NtCreateSymbolicLinkObject(&link, kSymbolicLinkAllAccess, &attributes, &counted_target);
  if (status >= 0) handles_->open.push_back(link);
  return static_cast<std::uint32_t>(status);
}

}  // namespace tavsn::winetest
