// Windows: loads tavsn.dll by path, calls each export it offers and gathers
// the facts behind the support warnings. With --trace the calls run in a
// private copy of the DLL beside an empty tavsn.log, the only way to switch
// its log on, so that a host's own log and folder are never touched.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "base/process_heap.h"
#include "base/resources.h"
#include "sysinfo/smbios_info.h"
#include "tavsn.h"
#include "tools/machine_reader.h"

namespace tavsn::cli {
namespace {

struct Export {
  const char* name;
  const char* label;
  enum Kind { kIdentifier, kAlias, kPcId } kind;
};

constexpr Export kExports[] = {
    {TAVSN_STDCALL_EXPORT_NAME(GetMacSN), "GetMacSN", Export::kIdentifier},
    {TAVSN_STDCALL_EXPORT_NAME(GetPCSN), "GetPCSN", Export::kIdentifier},
    {TAVSN_STDCALL_EXPORT_NAME(GetPCSNEx), "GetPCSNEx", Export::kIdentifier},
    {"tav_get_pc_id_ex", "tav_get_pc_id_ex", Export::kAlias},
    {"tav_get_pc_id_info", "tav_get_pc_id_info", Export::kAlias},
    {"tav_get_pc_id", "tav_get_pc_id", Export::kPcId},
};

ExportCall CallExport(HMODULE dll, const Export& e) {
  ExportCall call;
  call.label = e.label;
  FARPROC proc = GetProcAddress(dll, e.name);
  if (proc == nullptr) return call;
  call.exported = true;
  // GetProcAddress's generic pointer goes through void* to the real type.
  void* address = reinterpret_cast<void*>(proc);
  char buffer[64] = {};
  switch (e.kind) {
    case Export::kIdentifier: call.result = reinterpret_cast<TavsnIdentifierFn>(address)(buffer, sizeof buffer); break;
    case Export::kAlias: call.result = reinterpret_cast<TavsnAliasFn>(address)(buffer, sizeof buffer); break;
    case Export::kPcId: call.result = reinterpret_cast<TavsnPcIdFn>(address)(buffer, sizeof buffer); break;
  }
  if (call.result >= 0) call.text = buffer;  // the 64-byte buffer was zero-filled
  return call;
}

// The scratch folder of a traced run, removed with everything in it.
class TraceFolder {
 public:
  bool Create(const std::string& dll_path, std::string& error) {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) return Fail("no temporary folder", error);
    char name[64];
    std::snprintf(name, sizeof name, "tavsn-trace-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    folder_ = std::string(temp) + name;
    if (!CreateDirectoryA(folder_.c_str(), nullptr)) return Fail("cannot create " + folder_, error);
    created_ = true;
    if (!CopyFileA(dll_path.c_str(), dll().c_str(), TRUE)) return Fail("cannot copy " + dll_path, error);
    // The DLL writes its log only into a file that already exists.
    const FileHandle log(static_cast<FileObject*>(
        CreateFileA(this->log().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!log) return Fail("cannot create " + this->log(), error);
    return true;
  }
  ~TraceFolder() {
    if (!created_) return;
    DeleteFileA(log().c_str());
    DeleteFileA(dll().c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  std::string dll() const { return folder_ + "\\tavsn.dll"; }
  std::string log() const { return folder_ + "\\tavsn.log"; }

 private:
  static bool Fail(const std::string& what, std::string& error) {
    error = what + ": error " + std::to_string(GetLastError());
    return false;
  }
  std::string folder_;
  bool created_ = false;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The same test the firmware read makes: joining the multithreaded
// apartment fails exactly on a single-threaded one. A join that worked is
// undone at once. (CoGetApartmentType would say it too, but not on XP.)
bool SingleThreadedApartment() {
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(joined)) CoUninitialize();
  return joined == RPC_E_CHANGED_MODE;
}

// The firmware texts GetPCSN chooses between, read with the DLL's own code.
void ReadFirmware(server::SupportFacts& facts) {
  const HeapPointer<SmbiosInfo> info(AllocateSmbiosInfo());
  if (!info || !info.get()->init_system_information()) return;
  facts.firmware_serial = info.get()->get_serial_number();
  facts.firmware_uuid_text = info.get()->get_uuid_text();
}

bool ReadMachine(const MachineOptions& options, MachineReport& report, std::string& error) {
  TraceFolder trace;
  if (options.trace && !trace.Create(options.dll_path, error)) return false;
  const std::string load_path = options.trace ? trace.dll() : options.dll_path;
  // Facts of the thread the exports run on, taken before they run.
  report.facts.single_threaded_apartment = SingleThreadedApartment();
  BOOL wow64 = FALSE;
  report.facts.wow64 = IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
  LoadedLibrary dll(LoadLibraryA(load_path.c_str()));
  if (!dll) {
    error = "cannot load " + load_path + ": error " + std::to_string(GetLastError());
    return false;
  }
  for (const Export& e : kExports) report.calls.push_back(CallExport(dll.get(), e));
  // Unloading closes the log file, so that all of it can be read.
  dll.reset();
  if (options.trace) report.trace_log = ReadFile(trace.log());
  ReadFirmware(report.facts);
  return true;
}

}  // namespace

MachineReader PlatformMachineReader() { return ReadMachine; }

}  // namespace tavsn::cli
