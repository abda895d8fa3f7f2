// setupapi_host.exe: calls one identifier export of tavsn.dll with the
// library's own SetupAPI imports passed through a recorder, so that the test
// sees every SetupAPI call the library makes and what Wine answered. Made
// for tests/wine/test_setupapi.py.
//
//   setupapi_host.exe --dll PATH --export NAME
//                     [--link-when-listed PNPID]... [--report-disabled]
//                     [--disabled PNPID [--driver-delay MS|never] [--read-fails]
//                      [--enable-fails]]
//   setupapi_host.exe --hold-adapter-mutex
//
// Every call still goes to Wine's own SetupAPI with the library's own
// arguments; two options add what Wine cannot be made to do otherwise:
//
// --link-when-listed  when the library first asks SetupAPI for the NDIS
//     interfaces, make the NT link that lets PNPID's interface paths open
//     (tests/wine/nt_device_links.h). Before that moment the adapter's
//     driver cannot be reached, as for an adapter that is disabled, so the
//     library's direct query fails with error 3 and only its read through
//     SetupAPI's own path can find the address.
// --report-disabled  CM_Get_DevNode_Status is called in Wine, which always
//     answers status 0 and problem 0; the library is then told the device
//     was disabled by its user (DN_HAS_PROBLEM | DN_DISABLEABLE, problem
//     22), so that it makes its enable attempt against Wine's SetupAPI.
// --disabled  PNPID is a device that its user disabled, played here in
//     full: CM_Get_DevNode_Status reports it disabled (as above); its
//     SetupDiSetClassInstallParamsW and SetupDiCallClassInstaller calls are
//     answered here, not by Wine. An enable request (DIF_PROPERTYCHANGE,
//     DICS_ENABLE) starts its driver: from --driver-delay ms after the
//     request on (default 2500; never: the driver never starts) the status
//     is DN_STARTED | DN_DRIVER_LOADED and the NT link of its interface
//     paths exists, unless --read-fails, which leaves the link out. Until
//     then the status is DN_DISABLEABLE with no problem. A disable request
//     removes the link and makes the device disabled again. --enable-fails
//     refuses the enable request (ERROR_ACCESS_DENIED from the installer).
// --hold-adapter-mutex  takes the library's adapter-state mutex, made as the
//     library makes it, says "host: holding", and keeps it until standard
//     input ends. --squat-adapter-mutex does the same with a mutex made as
//     another user would make it: owned by the user, open to everyone.
//
// Lines on standard error, each starting "host: ":
//
//   host: classdevs flags=HEX result=ok|fail error=N
//   host: link status=HEX pnp=PNPID
//   host: interfaces index=N cbsize=N result=ok|fail error=N
//   host: detail cbsize=N size=N needed=N result=ok|fail error=N path=PATH|-
//   host: devinfo index=N cbsize=N result=ok|fail error=N device=ID
//   host: status device=ID cr=N status=N problem=N reported=N,N [since_enable=MS]
//   host: installparams header=N function=N state=N scope=N profile=N size=N result=ok|fail error=N
//         error_before=N   (the thread's last error when the library called)
//   host: installer function=N result=ok|fail error=N [device=ID state=disabled|enabling|started]
//   host: driver started=PNPID link=HEX|none
//   host: changestate result=ok|fail error=N
//   host: destroy result=ok|fail
//   host: call result=R buffer=HEX
//   host: final state=disabled|enabling|started   (with --disabled)
//
// (cbsize is the size member the library set; device is the instance id of
// the device the call was about; size in "detail" is the buffer size the
// library passed, 0 for its size-only query.) Exit code 0 when the export
// was called; 2 bad arguments, 3 the DLL did not load, 4 the export is
// missing, 5 an import could not be redirected.

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tavsn.h"
#include "tests/wine/nt_device_links.h"
#include "tests/wine/host_report.h"

namespace {

const char* Outcome(BOOL ok) { return ok ? "ok" : "fail"; }

std::vector<std::string> g_links_to_make;
bool g_links_made = false;
bool g_report_disabled = false;
tavsn::winetest::NdisInterfaceLinks* g_links = nullptr;

// The device played by --disabled.
enum class DeviceState { kDisabled, kEnabling, kStarted };
const char* const kStateNames[] = {"disabled", "enabling", "started"};
std::string g_disabled_pnp;
DeviceState g_state = DeviceState::kDisabled;
DWORD g_enable_tick = 0;
long g_driver_delay_ms = 2500;  // -1: never
bool g_read_fails = false;
bool g_enable_fails = false;
DWORD g_requested_state = 0;
std::unique_ptr<tavsn::winetest::NdisInterfaceLinks> g_driver_link;

std::string DeviceId(DEVINST device) {
  char id[MAX_DEVICE_ID_LEN + 1] = {};
  if (CM_Get_Device_IDA(device, id, sizeof id, 0) != CR_SUCCESS) return "?";
  return id;
}

// The library's imports, as Wine's SetupAPI exports them.
decltype(&SetupDiGetClassDevsW) real_get_class_devs;
decltype(&SetupDiEnumDeviceInterfaces) real_enum_interfaces;
decltype(&SetupDiGetDeviceInterfaceDetailA) real_get_detail;
decltype(&SetupDiEnumDeviceInfo) real_enum_device_info;
decltype(&CM_Get_DevNode_Status) real_get_status;
decltype(&SetupDiSetClassInstallParamsW) real_set_install_params;
decltype(&SetupDiCallClassInstaller) real_call_installer;
decltype(&SetupDiChangeState) real_change_state;
decltype(&SetupDiDestroyDeviceInfoList) real_destroy;

// Each recorder hands back the real call's result and last error
// unchanged: the library decides on them.

HDEVINFO WINAPI RecordGetClassDevs(const GUID* guid, PCWSTR enumerator, HWND parent, DWORD flags) {
  if (!g_links_made) {
    g_links_made = true;
    for (const std::string& pnp : g_links_to_make) {
      Report("link status=%08X pnp=%s", static_cast<unsigned>(g_links->Add(pnp.c_str())), pnp.c_str());
    }
  }
  const HDEVINFO set = real_get_class_devs(guid, enumerator, parent, flags);
  const DWORD error = GetLastError();
  Report("classdevs flags=%lX result=%s error=%lu", flags, Outcome(set != INVALID_HANDLE_VALUE), error);
  SetLastError(error);
  return set;
}

BOOL WINAPI RecordEnumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* guid, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA data) {
  const DWORD cb_size = data ? data->cbSize : 0;
  const BOOL ok = real_enum_interfaces(set, device, guid, index, data);
  const DWORD error = GetLastError();
  Report("interfaces index=%lu cbsize=%lu result=%s error=%lu", index, cb_size, Outcome(ok), ok ? 0 : error);
  SetLastError(error);
  return ok;
}

BOOL WINAPI RecordGetDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                            DWORD size, PDWORD needed, PSP_DEVINFO_DATA device) {
  const DWORD cb_size = detail ? detail->cbSize : 0;
  const BOOL ok = real_get_detail(set, data, detail, size, needed, device);
  const DWORD error = GetLastError();
  Report("detail cbsize=%lu size=%lu needed=%lu result=%s error=%lu path=%s", cb_size, size, needed ? *needed : 0,
         Outcome(ok), ok ? 0 : error, ok ? detail->DevicePath : "-");
  SetLastError(error);
  return ok;
}

BOOL WINAPI RecordEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
  const DWORD cb_size = data ? data->cbSize : 0;
  const BOOL ok = real_enum_device_info(set, index, data);
  const DWORD error = GetLastError();
  Report("devinfo index=%lu cbsize=%lu result=%s error=%lu device=%s", index, cb_size, Outcome(ok), ok ? 0 : error,
         ok ? DeviceId(data->DevInst).c_str() : "-");
  SetLastError(error);
  return ok;
}

bool IsPlayedDevice(DEVINST device) {
  return !g_disabled_pnp.empty() && lstrcmpiA(DeviceId(device).c_str(), g_disabled_pnp.c_str()) == 0;
}

bool IsPlayedDevice(const SP_DEVINFO_DATA* device) { return device != nullptr && IsPlayedDevice(device->DevInst); }

// The played device's driver starts once its delay has passed.
void StartDriverWhenDue() {
  if (g_state != DeviceState::kEnabling || g_driver_delay_ms < 0 ||
      GetTickCount() - g_enable_tick < static_cast<DWORD>(g_driver_delay_ms)) {
    return;
  }
  g_state = DeviceState::kStarted;
  if (g_read_fails) {
    Report("driver started=%s link=none", g_disabled_pnp.c_str());
    return;
  }
  g_driver_link = std::make_unique<tavsn::winetest::NdisInterfaceLinks>();
  Report("driver started=%s link=%08X", g_disabled_pnp.c_str(),
         static_cast<unsigned>(g_driver_link->Add(g_disabled_pnp.c_str())));
}

CONFIGRET WINAPI RecordGetStatus(PULONG status, PULONG problem, DEVINST device, ULONG flags) {
  const CONFIGRET result = real_get_status(status, problem, device, flags);
  const DWORD error = GetLastError();
  const unsigned long real_status = *status;
  const unsigned long real_problem = *problem;
  const bool played = result == CR_SUCCESS && IsPlayedDevice(device);
  if (played) {
    StartDriverWhenDue();
    *status = g_state == DeviceState::kDisabled  ? DN_HAS_PROBLEM | DN_DISABLEABLE
              : g_state == DeviceState::kStarted ? DN_STARTED | DN_DRIVER_LOADED | DN_DISABLEABLE
                                                 : DN_DISABLEABLE;
    *problem = g_state == DeviceState::kDisabled ? CM_PROB_DISABLED : 0;
  } else if (result == CR_SUCCESS && g_report_disabled) {
    *status = DN_HAS_PROBLEM | DN_DISABLEABLE;
    *problem = CM_PROB_DISABLED;
  }
  char since[32] = "";
  if (played && g_state != DeviceState::kDisabled) {
    std::snprintf(since, sizeof since, " since_enable=%lu", GetTickCount() - g_enable_tick);
  }
  Report("status device=%s cr=%lu status=%lu problem=%lu reported=%lu,%lu%s", DeviceId(device).c_str(),
         static_cast<unsigned long>(result), real_status, real_problem, *status, *problem, since);
  SetLastError(error);
  return result;
}

BOOL WINAPI RecordSetInstallParams(HDEVINFO set, PSP_DEVINFO_DATA device, PSP_CLASSINSTALL_HEADER header, DWORD size) {
  const auto* params = reinterpret_cast<const SP_PROPCHANGE_PARAMS*>(header);
  // What the thread's last error was on the way in: a call that fails
  // without setting one leaves it as it was.
  const DWORD error_before = GetLastError();
  const bool played = IsPlayedDevice(device);
  if (played) g_requested_state = params->StateChange;
  const BOOL ok = played ? TRUE : real_set_install_params(set, device, header, size);
  const DWORD error = played ? error_before : GetLastError();
  Report(
      "installparams header=%lu function=%lu state=%lu scope=%lu profile=%lu size=%lu result=%s error=%lu "
      "error_before=%lu",
      params->ClassInstallHeader.cbSize, static_cast<unsigned long>(params->ClassInstallHeader.InstallFunction),
      params->StateChange, params->Scope, params->HwProfile, size, Outcome(ok), ok ? 0 : error, error_before);
  SetLastError(error);
  return ok;
}

// The played device's state change: the one the last install parameters
// asked for.
BOOL PlayStateChange(DI_FUNCTION function) {
  if (function != DIF_PROPERTYCHANGE) {
    SetLastError(ERROR_DI_DO_DEFAULT);
    return FALSE;
  }
  if (g_requested_state == DICS_ENABLE) {
    if (g_enable_fails) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    g_state = DeviceState::kEnabling;
    g_enable_tick = GetTickCount();
  } else if (g_requested_state == DICS_DISABLE) {
    g_state = DeviceState::kDisabled;
    g_driver_link.reset();
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI RecordCallInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device) {
  const bool played = IsPlayedDevice(device);
  const BOOL ok = played ? PlayStateChange(function) : real_call_installer(function, set, device);
  const DWORD error = GetLastError();
  char state[MAX_DEVICE_ID_LEN + 64] = "";
  if (played) {
    std::snprintf(state, sizeof state, " device=%s state=%s", DeviceId(device->DevInst).c_str(),
                  kStateNames[static_cast<int>(g_state)]);
  }
  Report("installer function=%lu result=%s error=%lu%s", static_cast<unsigned long>(function), Outcome(ok),
         ok ? 0 : error, state);
  SetLastError(error);
  return ok;
}

BOOL WINAPI RecordChangeState(HDEVINFO set, PSP_DEVINFO_DATA device) {
  const BOOL ok = real_change_state(set, device);
  const DWORD error = GetLastError();
  Report("changestate result=%s error=%lu", Outcome(ok), ok ? 0 : error);
  SetLastError(error);
  return ok;
}

BOOL WINAPI RecordDestroy(HDEVINFO set) {
  const BOOL ok = real_destroy(set);
  const DWORD error = GetLastError();
  Report("destroy result=%s", Outcome(ok));
  SetLastError(error);
  return ok;
}

// Points the module's import of `function` from `dll_name` at `hook` and
// returns what it pointed at before, or null when the module has no such
// import.
void* RedirectImport(HMODULE module, const char* dll_name, const char* function, void* hook) {
  auto* base = reinterpret_cast<unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return nullptr;
  for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       import->Name != 0; ++import) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), dll_name) != 0) continue;
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0) continue;
      DWORD old_protection = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old_protection)) {
        return nullptr;
      }
      void* original = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old_protection, &old_protection);
      return original;
    }
  }
  return nullptr;
}

// tavsn.dll loads SetupAPI at run time and looks its functions up: its
// GetProcAddress is pointed at LookUp, which hands out the recording
// function in place of each SetupAPI function and keeps the real one.
struct Redirection {
  const char* name;
  void** real;
  void* hook;
};
std::vector<Redirection> g_redirections;
decltype(&GetProcAddress) real_get_proc_address;

FARPROC WINAPI LookUp(HMODULE module, LPCSTR name) {
  const FARPROC found = real_get_proc_address(module, name);
  if (found == nullptr || IS_INTRESOURCE(name)) return found;
  for (const Redirection& redirection : g_redirections) {
    if (std::strcmp(redirection.name, name) != 0) continue;
    *redirection.real = reinterpret_cast<void*>(found);
    return reinterpret_cast<FARPROC>(redirection.hook);
  }
  return found;
}

template <typename Function>
void Redirect(const char* name, Function hook, Function& original) {
  g_redirections.push_back(Redirection{name, reinterpret_cast<void**>(&original), reinterpret_cast<void*>(hook)});
}

bool RedirectLookUps(HMODULE module) {
  real_get_proc_address = reinterpret_cast<decltype(&GetProcAddress)>(
      RedirectImport(module, "kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&LookUp)));
  if (real_get_proc_address == nullptr) Report("redirect_error=GetProcAddress");
  return real_get_proc_address != nullptr;
}

// The adapter-state mutex as tavsn.dll makes it (SYSTEM and the
// Administrators only, owned by the Administrators), or, when `as_user`, as
// another user would make it: owned by that user, open to everyone.
HANDLE MakeAdapterMutex(bool as_user) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID system = nullptr;
  PSID administrators = nullptr;
  AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system);
  AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                           &administrators);
  alignas(DWORD) unsigned char acl[256];
  alignas(DWORD) unsigned char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (as_user) {
    HANDLE token = nullptr;
    DWORD size = 0;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    CloseHandle(token);
    SetSecurityDescriptorOwner(&descriptor, reinterpret_cast<TOKEN_USER*>(user)->User.Sid, FALSE);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);  // everyone, anything
  } else {
    auto* dacl = reinterpret_cast<ACL*>(acl);
    InitializeAcl(dacl, sizeof acl, ACL_REVISION);
    AddAccessAllowedAce(dacl, ACL_REVISION, MUTEX_ALL_ACCESS, system);
    AddAccessAllowedAce(dacl, ACL_REVISION, MUTEX_ALL_ACCESS, administrators);
    SetSecurityDescriptorOwner(&descriptor, administrators, FALSE);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  const HANDLE mutex = CreateMutexW(&attributes, TRUE, L"Global\\tavsn-adapter-state");
  FreeSid(system);
  FreeSid(administrators);
  return mutex;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dll_path;
  std::string export_name;
  if (argc == 2 &&
      (std::string(argv[1]) == "--hold-adapter-mutex" || std::string(argv[1]) == "--squat-adapter-mutex")) {
    const HANDLE mutex = MakeAdapterMutex(std::string(argv[1]) == "--squat-adapter-mutex");
    Report("holding error=%lu", mutex != nullptr ? 0 : GetLastError());
    while (std::fgetc(stdin) != EOF) {
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--report-disabled") {
      g_report_disabled = true;
    } else if (name == "--read-fails") {
      g_read_fails = true;
    } else if (name == "--enable-fails") {
      g_enable_fails = true;
    } else if (i + 1 < argc && name == "--disabled") {
      g_disabled_pnp = argv[++i];
    } else if (i + 1 < argc && name == "--driver-delay") {
      const std::string delay = argv[++i];
      g_driver_delay_ms = delay == "never" ? -1 : std::atol(delay.c_str());
    } else if (i + 1 < argc && name == "--dll") {
      dll_path = argv[++i];
    } else if (i + 1 < argc && name == "--export") {
      export_name = argv[++i];
    } else if (i + 1 < argc && name == "--link-when-listed") {
      g_links_to_make.push_back(argv[++i]);
    } else {
      Report("usage_error=bad option %s", name.c_str());
      return 2;
    }
  }
  if (dll_path.empty() || export_name.empty()) {
    Report("usage_error=--dll and --export are required");
    return 2;
  }
  tavsn::winetest::NdisInterfaceLinks links;
  g_links = &links;

  const HMODULE dll = LoadLibraryA(dll_path.c_str());
  if (dll == nullptr) {
    Report("load_error=%lu", GetLastError());
    return 3;
  }
  const auto function =
      reinterpret_cast<TavsnIdentifierFn>(reinterpret_cast<void*>(GetProcAddress(dll, export_name.c_str())));
  if (function == nullptr) {
    Report("missing_export_error=%lu", GetLastError());
    return 4;
  }
  Redirect("SetupDiGetClassDevsW", RecordGetClassDevs, real_get_class_devs);
  Redirect("SetupDiEnumDeviceInterfaces", RecordEnumInterfaces, real_enum_interfaces);
  Redirect("SetupDiGetDeviceInterfaceDetailA", RecordGetDetail, real_get_detail);
  Redirect("SetupDiEnumDeviceInfo", RecordEnumDeviceInfo, real_enum_device_info);
  Redirect("CM_Get_DevNode_Status", RecordGetStatus, real_get_status);
  Redirect("SetupDiSetClassInstallParamsW", RecordSetInstallParams, real_set_install_params);
  Redirect("SetupDiCallClassInstaller", RecordCallInstaller, real_call_installer);
  Redirect("SetupDiChangeState", RecordChangeState, real_change_state);
  Redirect("SetupDiDestroyDeviceInfoList", RecordDestroy, real_destroy);
  if (!RedirectLookUps(dll)) return 5;

  unsigned char buffer[64];
  std::memset(buffer, 0xCC, sizeof buffer);
  const int result = function(reinterpret_cast<char*>(buffer), sizeof buffer);
  Report("call result=%d buffer=%s", result, Hex(buffer, sizeof buffer).c_str());
  if (!g_disabled_pnp.empty()) Report("final state=%s", kStateNames[static_cast<int>(g_state)]);
  return 0;
}
