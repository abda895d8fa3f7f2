// The Wine tests' window on the adapter reader: runs the commands given on
// its command line, in order, and prints one line per fact, words separated
// by single spaces, for tests/wine/test_netadapter.py to read.
//
//   link PNPID        make the NT link that lets PNPID's interface path open
//                     (kept until the program ends)   -> link STATUS PNPID
//   open PATH         open PATH for the permanent-address query and ask it
//                                         -> open ok MAC | open fail ERROR
//   setupapi          walk the NDIS LAN-class interfaces
//                     -> setupapi set ok | setupapi set fail ERROR,
//                        setupapi interface INDEX PATH,
//                        setupapi detail-fail INDEX ERROR, setupapi end INDEX
//   ipadapters        -> ipadapter MAC DESCRIPTION..., ipadapters ok COUNT
//                        | ipadapters fail ERROR
//   uuid              -> uuid STATUS UUID32HEX | uuid load-fail ERROR
//   facts             -> admin 0|1, version ok MAJOR | version fail
//   regenum PATH      subkeys of HKLM\PATH -> regenum count N, regkey NAME
//   regvalue PATH NAME SIZE
//                     RegQueryValueExA into SIZE bytes prefilled with 0xAB
//                     -> regvalue STATUS SIZE HEXBYTES
//   hold              keep the links until standard input ends, so that
//                     another process can open the paths -> hold ready
//   physical | pci | uuidmac
//                     CGetMac::GetPhysicalMac / GetMacFromPCI / GetUUIDMac
//                     -> NAME count N, then NAME mac MAC per entry
//
// The diagnostic log is opened first, as the exported functions do, so a
// "tavsn.log" beside the program receives the reader's lines.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log/diag_log.h"
#include "netadapter/cgetmac.h"
#include "netadapter/net_platform.h"
#include "tests/wine/nt_device_links.h"

namespace {

using namespace tavsn;

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    text += pair;
  }
  return text;
}

std::u16string Utf16FromAscii(const char* text) {
  std::u16string wide;
  for (const char* c = text; *c != '\0'; ++c) wide.push_back(static_cast<unsigned char>(*c));
  return wide;
}

std::string AsciiFromUtf16(const char16_t* text, std::size_t length) {
  std::string narrow;
  for (std::size_t i = 0; i < length; ++i) narrow.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
  return narrow;
}

void ProbeOpen(const char* path) {
  tavsn::FileHandle device;
  if (!netos::OpenDeviceForQuery(path, device)) {
    std::printf("open fail %u\n", static_cast<unsigned>(netos::LastError()));
    return;
  }
  std::uint8_t address[8] = {};
  if (!netos::QueryPermanentAddress(device, address)) {
    std::printf("open query-fail %u\n", static_cast<unsigned>(netos::LastError()));
    return;
  }
  std::printf("open ok %s\n", HexBytes(address, 6).c_str());
}

void ProbeSetupApi() {
  tavsn::DeviceInfoSet set;
  if (!netos::OpenNdisInterfaceSet(set)) {
    std::printf("setupapi set fail %u\n", static_cast<unsigned>(netos::LastError()));
    return;
  }
  std::printf("setupapi set ok\n");
  for (std::uint32_t index = 0;; ++index) {
    tavsn::HeapArray<char> path;
    std::uint32_t error = 0;
    switch (netos::GetInterfacePath(set, index, path, error)) {
      case netos::InterfaceLookup::kEnded: std::printf("setupapi end %u\n", static_cast<unsigned>(index)); return;
      case netos::InterfaceLookup::kDetailFailed:
        std::printf("setupapi detail-fail %u %u\n", static_cast<unsigned>(index), static_cast<unsigned>(error));
        break;
      case netos::InterfaceLookup::kFound:
        std::printf("setupapi interface %u %s\n", static_cast<unsigned>(index), path.data());
        break;
    }
  }
}

void ProbeIpAdapters() {
  tavsn::HeapArray<netos::IpAdapterEntry> adapters;
  if (!netos::ListIpAdapters(adapters)) {
    std::printf("ipadapters fail %u\n", static_cast<unsigned>(netos::LastError()));
    return;
  }
  for (const auto& adapter : adapters) {
    std::printf("ipadapter %s %s\n", HexBytes(adapter.address, 6).c_str(), adapter.description);
  }
  std::printf("ipadapters ok %u\n", static_cast<unsigned>(adapters.size()));
}

void ProbeUuid() {
  tavsn::LoadedLibrary rpc;
  if (!netos::LoadRpcRuntime(rpc)) {
    std::printf("uuid load-fail %u\n", static_cast<unsigned>(netos::LastError()));
    return;
  }
  void* create = netos::FindProcedure(rpc, "UuidCreateSequential");
  if (create == nullptr) {
    std::printf("uuid find-fail %u\n", static_cast<unsigned>(netos::LastError()));
    return;
  }
  std::uint8_t uuid[16] = {};
  const std::int32_t status = netos::CallUuidCreate(create, uuid);
  std::printf("uuid %d %s\n", static_cast<int>(status), HexBytes(uuid, 16).c_str());
}

void ProbeFacts() {
  std::printf("admin %d\n", netos::IsUserAdmin() ? 1 : 0);
  std::uint32_t major = 0;
  if (netos::GetMajorVersion(major)) {
    std::printf("version ok %u\n", static_cast<unsigned>(major));
  } else {
    std::printf("version fail\n");
  }
}

void ProbeRegEnum(const char* path) {
  tavsn::RegistryKey key;
  const std::u16string wide_path = Utf16FromAscii(path);
  const netos::Status opened = netos::OpenKeyW(nullptr, wide_path.c_str(), key);
  if (opened != netos::kSuccess) {
    std::printf("regenum open-fail %u\n", static_cast<unsigned>(opened));
    return;
  }
  std::uint32_t count = 0;
  const netos::Status counted = netos::QuerySubkeyCount(key, count);
  std::printf("regenum count %u %u\n", static_cast<unsigned>(counted), static_cast<unsigned>(count));
  for (std::uint32_t index = 0; index < count; ++index) {
    char16_t name[260];
    std::uint32_t length = 0;
    const netos::Status status = netos::EnumSubkey(key, index, name, 260, length);
    if (status != netos::kSuccess) {
      std::printf("regkey-fail %u %u\n", static_cast<unsigned>(index), static_cast<unsigned>(status));
      continue;
    }
    std::printf("regkey %s\n", AsciiFromUtf16(name, length).c_str());
  }
}

void ProbeRegValue(const char* path, const char* name, const char* size_text) {
  tavsn::RegistryKey key;
  const netos::Status opened = netos::OpenKeyA(nullptr, path, key);
  if (opened != netos::kSuccess) {
    std::printf("regvalue open-fail %u\n", static_cast<unsigned>(opened));
    return;
  }
  std::uint32_t size = static_cast<std::uint32_t>(std::strtoul(size_text, nullptr, 10));
  std::vector<std::uint8_t> buffer(size, 0xAB);
  const std::uint32_t capacity = size;
  const netos::Status status = netos::QueryValueA(key, name, buffer.data(), size);
  std::printf("regvalue %u %u %s\n", static_cast<unsigned>(status), static_cast<unsigned>(size),
              HexBytes(buffer.data(), capacity).c_str());
}

void PrintList(const char* what, int count, const MacList& macs) {
  std::printf("%s count %d\n", what, count);
  for (int i = 0; i < macs.size(); ++i) std::printf("%s mac %s\n", what, macs[i]);
}

int Usage() {
  std::fprintf(stderr, "adapter_probe: unknown command or missing argument\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  OpenDiagLog();
  winetest::NdisInterfaceLinks links;
  CGetMac reader;
  for (int i = 1; i < argc; ++i) {
    const std::string command = argv[i];
    const int arguments_left = argc - i - 1;
    if (command == "link" && arguments_left >= 1) {
      const char* pnp_instance_id = argv[++i];
      std::printf("link %08X %s\n", static_cast<unsigned>(links.Add(pnp_instance_id)), pnp_instance_id);
    } else if (command == "open" && arguments_left >= 1) {
      ProbeOpen(argv[++i]);
    } else if (command == "setupapi") {
      ProbeSetupApi();
    } else if (command == "ipadapters") {
      ProbeIpAdapters();
    } else if (command == "uuid") {
      ProbeUuid();
    } else if (command == "facts") {
      ProbeFacts();
    } else if (command == "regenum" && arguments_left >= 1) {
      ProbeRegEnum(argv[++i]);
    } else if (command == "regvalue" && arguments_left >= 3) {
      ProbeRegValue(argv[i + 1], argv[i + 2], argv[i + 3]);
      i += 3;
    } else if (command == "hold") {
      std::printf("hold ready\n");
      std::fflush(stdout);
      while (std::getchar() != EOF) {
      }
    } else if (command == "physical") {
      MacList macs;
      macs.Append("stale");
      const int count = reader.GetPhysicalMac(macs);
      PrintList("physical", count, macs);
    } else if (command == "pci") {
      MacList macs;
      macs.Append("stale");
      const int count = reader.GetMacFromPCI(macs);
      PrintList("pci", count, macs);
    } else if (command == "uuidmac") {
      MacList macs;
      macs.Append("stale");
      const int count = reader.GetUUIDMac(macs);
      PrintList("uuidmac", count, macs);
    } else {
      return Usage();
    }
    std::fflush(stdout);
  }
  return 0;
}
