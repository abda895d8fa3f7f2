#include "tests/fakes/fake_net_platform.h"

#include "tests/fakes/fake_base.h"

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace tavsn {
namespace fakenet {
namespace {

// Where the fake keeps its mark and the interface's index in a device's
// opaque SP_DEVINFO_DATA bytes.
constexpr std::uint32_t kDeviceInfoMagic = 0x5E7A01u;
constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kIndexOffset = sizeof kDeviceInfoMagic;
constexpr std::size_t kRegisteredNumberBytes = sizeof(std::uint32_t);  // a REG_DWORD

thread_local std::uint32_t t_last_error = 0;

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

std::string Folded(std::string text) {
  for (char& c : text) c = FoldAscii(c);
  return text;
}

std::u16string Folded(std::u16string text) {
  for (char16_t& c : text) c = FoldAscii(c);
  return text;
}

std::u16string Widened(const std::string& text) {
  std::u16string wide;
  for (unsigned char c : text) wide.push_back(static_cast<char16_t>(c));
  return wide;
}

std::u16string JoinPath(const std::u16string& parent, const std::u16string& child) {
  return parent.empty() ? child : parent + u"\\" + child;
}

struct OpenKey : fakebase::FakeResource {
  explicit OpenKey(std::u16string path) : folded_path(std::move(path)) {}
  void Release() override {
    const FakeCall call;
    --state().keys_open;
    delete this;
  }
  std::u16string folded_path;
};

FakeKey* KeyOf(const RegistryKey& key) {
  auto* open = fakebase::FakeOf<OpenKey>(key.get());
  if (open == nullptr) return nullptr;
  auto it = state().keys.find(open->folded_path);
  return it == state().keys.end() ? nullptr : &it->second;
}

Status OpenKeyAt(const RegistryKey* parent, const std::u16string& path, RegistryKey& key) {
  std::u16string full = path;
  if (parent != nullptr) {
    auto* open = fakebase::FakeOf<OpenKey>(parent->get());
    if (open == nullptr) return kErrorInvalidHandle;
    full = JoinPath(open->folded_path, path);
  }
  const std::u16string folded = Folded(full);
  auto it = state().keys.find(folded);
  if (it == state().keys.end()) return netos::kErrorFileNotFound;
  if (it->second.open_error != netos::kSuccess) return it->second.open_error;
  key.reset(fakebase::HandleOf<HKEY__*>(new OpenKey(folded)));
  ++state().keys_open;
  return netos::kSuccess;
}

Status QueryValue(const RegistryKey& key, const std::string& name, void* data, std::uint32_t& size) {
  FakeKey* fake = KeyOf(key);
  if (fake == nullptr) return kErrorInvalidHandle;
  auto it = fake->values.find(Folded(name));
  if (it == fake->values.end()) return netos::kErrorFileNotFound;
  const FakeValue& value = it->second;
  if (value.error != netos::kSuccess) return value.error;
  if (value.bytes.size() > size) {
    if (value.fills_small_buffer) std::memcpy(data, value.bytes.data(), size);
    size = static_cast<std::uint32_t>(value.bytes.size());
    return netos::kErrorMoreData;
  }
  if (!value.bytes.empty()) std::memcpy(data, value.bytes.data(), value.bytes.size());
  size = static_cast<std::uint32_t>(value.bytes.size());
  return netos::kSuccess;
}

std::string Narrowed(const char16_t* text) {
  std::string narrow;
  for (; *text != u'\0'; ++text) narrow.push_back(static_cast<char>(*text));
  return narrow;
}

struct OpenDevice : fakebase::FakeResource {
  explicit OpenDevice(std::string path) : folded_path(std::move(path)) {}
  // Closing disturbs the last error on purpose: see kErrorLeftByClose.
  void Release() override {
    const FakeCall call;
    --state().devices_open;
    ++state().device_closes;
    netos::SetLastError(kErrorLeftByClose);
    delete this;
  }
  std::string folded_path;
};

struct OpenSet : fakebase::FakeResource {
  explicit OpenSet(int set_serial) : serial(set_serial) {}
  void Release() override {
    const FakeCall call;
    ++state().sets_destroyed;
    netos::SetLastError(kErrorLeftByClose);
    delete this;
  }
  int serial;
};

struct OpenMutex : fakebase::FakeResource {
  void Release() override {
    const FakeCall call;
    --state().mutex_handles_open;
    delete this;
  }
};

struct HeldFakeMutex : fakebase::FakeResource {
  void Release() override {
    const FakeCall call;
    --state().mutexes_held;
    delete this;
  }
};

struct OpenLibrary : fakebase::FakeResource {
  void Release() override {
    const FakeCall call;
    ++state().libraries_freed;
    delete this;
  }
};

int g_sequential_marker;
int g_random_marker;

void StoreIndex(std::uint32_t index, netos::DeviceInfoData& device) {
  std::memset(device.bytes, 0, sizeof device.bytes);
  std::memcpy(device.bytes + kMagicOffset, &kDeviceInfoMagic, sizeof kDeviceInfoMagic);
  std::memcpy(device.bytes + kIndexOffset, &index, sizeof index);
}

FakeInterface* InterfaceOf(const netos::DeviceInfoData& device) {
  std::uint32_t magic = 0;
  std::uint32_t index = 0;
  std::memcpy(&magic, device.bytes + kMagicOffset, sizeof magic);
  std::memcpy(&index, device.bytes + kIndexOffset, sizeof index);
  if (magic != kDeviceInfoMagic || index >= state().interfaces.size()) return nullptr;
  return &state().interfaces[index];
}

std::uint32_t IndexOf(const netos::DeviceInfoData& device) {
  std::uint32_t index = 0;
  std::memcpy(&index, device.bytes + kIndexOffset, sizeof index);
  return index;
}

// The state change that SetupDiSetClassInstallParamsW installed, by device.
std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> g_pending_changes;
std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> g_found_states;

bool ApplyStateChange(const DeviceInfoSet& set, netos::DeviceInfoData& device, bool through_installer) {
  FakeInterface* fake = InterfaceOf(device);
  if (!set.is_valid() || fake == nullptr) {
    netos::SetLastError(kErrorInvalidData);
    return false;
  }
  const std::uint32_t index = IndexOf(device);
  auto pending = g_pending_changes.find(index);
  if (pending == g_pending_changes.end()) {
    netos::SetLastError(kErrorNoClassInstallParams);
    return false;
  }
  const auto [state_change, scope] = pending->second;
  auto error = fake->apply_errors.find(state_change);
  if (error != fake->apply_errors.end()) {
    netos::SetLastError(error->second);
    return false;
  }
  state().state_changes.push_back({index, state_change, scope, through_installer});
  if (state_change == kDicsEnable && !fake->enabled_here) {
    g_found_states[index] = {fake->status, fake->problem};
    fake->enabled_here = true;
    fake->polls_since_enable = 0;
    fake->status = fake->starting_status;
    fake->problem = fake->starting_problem;
  } else if (state_change == kDicsDisable && fake->enabled_here) {
    fake->enabled_here = false;
    fake->status = g_found_states[index].first;
    fake->problem = g_found_states[index].second;
  }
  return true;
}

}  // namespace

State& state() {
  static State the_state;
  return the_state;
}

namespace {
std::recursive_mutex& FakeLayerLock() {
  static std::recursive_mutex lock;
  return lock;
}
}  // namespace

FakeCall::FakeCall() { FakeLayerLock().lock(); }
FakeCall::~FakeCall() { FakeLayerLock().unlock(); }

void Reset() {
  state() = State{};
  g_pending_changes.clear();
  g_found_states.clear();
  t_last_error = 0;
}

const char kAdapterClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
const char kNetworkClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

std::string AdapterKeyPath(const std::string& subkey) { return std::string(kAdapterClassKey) + "\\" + subkey; }

std::string ConnectionKeyPath(const std::string& net_cfg_instance_id) {
  return std::string(kNetworkClassKey) + "\\" + net_cfg_instance_id + "\\Connection";
}

FakeKey& AddKey(const std::u16string& path) {
  std::u16string parent;
  std::size_t start = 0;
  FakeKey* key = &state().keys[u""];
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    const std::u16string name = path.substr(start, end - start);
    const std::u16string full = JoinPath(parent, name);
    auto [it, created] = state().keys.try_emplace(Folded(full));
    if (created) key->subkeys.push_back(name);
    key = &it->second;
    parent = Folded(full);
    start = end + 1;
  }
  return *key;
}

FakeKey& AddKey(const std::string& path) { return AddKey(Widened(path)); }

void SetValue(const std::string& key_path, const std::string& name, std::vector<std::uint8_t> bytes) {
  AddKey(key_path).values[Folded(name)].bytes = std::move(bytes);
}

void SetNumber(const std::string& key_path, const std::string& name, std::uint32_t value) {
  std::vector<std::uint8_t> bytes(kRegisteredNumberBytes);
  std::memcpy(bytes.data(), &value, kRegisteredNumberBytes);
  SetValue(key_path, name, std::move(bytes));
}

void SetText(const std::string& key_path, const std::string& name, const std::string& text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  SetValue(key_path, name, std::move(bytes));
}

void SetRawText(const std::string& key_path, const std::string& name, const std::string& text) {
  SetValue(key_path, name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void AddAdapter(const std::string& subkey, std::uint32_t if_type, std::uint32_t characteristics,
                const std::string& driver_desc, const std::string& net_cfg_instance_id,
                const std::string& pnp_instance_id) {
  const std::string key = AdapterKeyPath(subkey);
  SetNumber(key, "*IfType", if_type);
  SetNumber(key, "Characteristics", characteristics);
  SetText(key, "DriverDesc", driver_desc);
  SetText(key, "NetCfgInstanceId", net_cfg_instance_id);
  SetText(ConnectionKeyPath(net_cfg_instance_id), "PnpInstanceID", pnp_instance_id);
}

std::string DevicePathOf(const std::string& net_cfg_instance_id, const std::string& pnp_instance_id) {
  std::string instance = pnp_instance_id;
  std::replace(instance.begin(), instance.end(), '\\', '#');
  return "\\\\?\\" + instance + "#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\" + net_cfg_instance_id;
}

FakeDevice& AddDevice(const std::string& path, const std::vector<std::uint8_t>& address) {
  FakeDevice& device = state().devices[Folded(path)];
  std::copy_n(address.begin(), std::min(address.size(), sizeof device.answer), device.answer);
  return device;
}

void AddPhysicalAdapter(int index, const std::vector<std::uint8_t>& address) {
  char subkey[8];
  std::snprintf(subkey, sizeof subkey, "%04d", index);
  const std::string guid = "{0000000" + std::to_string(index) + "-0000-0000-0000-4E6574446576}";
  const std::string pnp = "PCI\\VEN_8086&DEV_100E\\3&" + std::to_string(index);
  AddAdapter(subkey, kIfTypeEthernet, kPhysicalCharacteristics, "Ethernet " + std::to_string(index), guid, pnp);
  AddDevice(DevicePathOf(guid, pnp), address);
}

bool IsRunning(const FakeInterface& interface) {
  return (interface.status & (kDnStarted | kDnDriverLoaded)) == (kDnStarted | kDnDriverLoaded) &&
         (interface.status & kDnHasProblem) == 0;
}

}  // namespace fakenet

namespace netos {

using fakenet::state;

std::uint32_t LastError() { return fakenet::t_last_error; }
void SetLastError(std::uint32_t code) { fakenet::t_last_error = code; }

// Registry ------------------------------------------------------------------

Status OpenKeyW(const RegistryKey* parent, const char16_t* path, RegistryKey& key) {
  const fakenet::FakeCall call;
  return fakenet::OpenKeyAt(parent, path, key);
}

Status OpenKeyA(const RegistryKey* parent, const char* path, RegistryKey& key) {
  const fakenet::FakeCall call;
  return fakenet::OpenKeyAt(parent, fakenet::Widened(path), key);
}

Status QuerySubkeyCount(const RegistryKey& key, std::uint32_t& count) {
  const fakenet::FakeCall call;
  fakenet::FakeKey* fake = fakenet::KeyOf(key);
  if (fake == nullptr) return fakenet::kErrorInvalidHandle;
  if (fake->subkey_count_error != kSuccess) return fake->subkey_count_error;
  count = static_cast<std::uint32_t>(fake->subkeys.size());
  return kSuccess;
}

Status EnumSubkey(const RegistryKey& key, std::uint32_t index, char16_t* name, std::uint32_t capacity,
                  std::uint32_t& length) {
  const fakenet::FakeCall call;
  fakenet::FakeKey* fake = fakenet::KeyOf(key);
  if (fake == nullptr) return fakenet::kErrorInvalidHandle;
  auto error = fake->enum_errors.find(index);
  if (error != fake->enum_errors.end()) return error->second;
  if (index >= fake->subkeys.size()) return fakenet::kErrorNoMoreItems;
  const std::u16string& subkey = fake->subkeys[index];
  if (subkey.size() + 1 > capacity) return kErrorMoreData;
  std::copy(subkey.begin(), subkey.end(), name);
  name[subkey.size()] = u'\0';
  length = static_cast<std::uint32_t>(subkey.size());
  return kSuccess;
}

Status QueryValueW(const RegistryKey& key, const char16_t* name, void* data, std::uint32_t& size) {
  const fakenet::FakeCall call;
  const std::string narrow = fakenet::Narrowed(name);
  state().value_queries.push_back("W " + narrow);
  return fakenet::QueryValue(key, narrow, data, size);
}

Status QueryValueA(const RegistryKey& key, const char* name, void* data, std::uint32_t& size) {
  const fakenet::FakeCall call;
  state().value_queries.push_back(std::string("A ") + name);
  return fakenet::QueryValue(key, name, data, size);
}

// NDIS devices -----------------------------------------------------------------

bool OpenDeviceForQuery(const char* path, FileHandle& device) {
  const fakenet::FakeCall call;
  state().opened_paths.push_back(path);
  const std::string folded = fakenet::Folded(path);
  auto it = state().devices.find(folded);
  if (it == state().devices.end()) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  const fakenet::FakeDevice& fake = it->second;
  if (fake.interface_index >= 0 &&
      !fakenet::IsRunning(state().interfaces.at(static_cast<std::size_t>(fake.interface_index)))) {
    SetLastError(fake.error_while_down);
    return false;
  }
  if (fake.open_error != kSuccess) {
    SetLastError(fake.open_error);
    return false;
  }
  device.reset(fakebase::HandleOf<FileObject*>(new fakenet::OpenDevice(folded)));
  ++state().devices_open;
  return true;
}

bool QueryPermanentAddress(const FileHandle& device, std::uint8_t (&address)[8]) {
  const fakenet::FakeCall call;
  auto* open = fakebase::FakeOf<fakenet::OpenDevice>(device.get());
  const fakenet::FakeDevice& fake = state().devices.at(open->folded_path);
  if (fake.ioctl_error != kSuccess) {
    SetLastError(fake.ioctl_error);
    return false;
  }
  std::memcpy(address, fake.answer, sizeof address);
  return true;
}

// SetupAPI ----------------------------------------------------------------------

bool OpenNdisInterfaceSet(DeviceInfoSet& set) {
  const fakenet::FakeCall call;
  if (state().set_open_error != kSuccess) {
    SetLastError(state().set_open_error);
    return false;
  }
  set.reset(fakebase::HandleOf<DeviceInfoSetObject*>(new fakenet::OpenSet(++state().sets_opened)));
  return true;
}

InterfaceLookup GetInterfacePath(const DeviceInfoSet& set, std::uint32_t index, HeapArray<char>& path,
                                 std::uint32_t& error) {
  const fakenet::FakeCall call;
  path.clear();
  if (!set.is_valid() || index >= state().interfaces.size()) {
    error = fakenet::kErrorNoMoreItems;
    SetLastError(error);
    return InterfaceLookup::kEnded;
  }
  const fakenet::FakeInterface& fake = state().interfaces[index];
  if (fake.detail_error != kSuccess) {
    error = fake.detail_error;
    SetLastError(error);
    return InterfaceLookup::kDetailFailed;
  }
  error = kSuccess;
  if (!path.resize(fake.path.size() + 1)) {
    error = kErrorNotEnoughMemory;
    SetLastError(error);
    return InterfaceLookup::kDetailFailed;
  }
  std::memcpy(path.data(), fake.path.c_str(), fake.path.size() + 1);
  return InterfaceLookup::kFound;
}

bool EnumDeviceInfo(const DeviceInfoSet& set, std::uint32_t index, DeviceInfoData& device) {
  const fakenet::FakeCall call;
  if (!set.is_valid() || index >= state().interfaces.size()) {
    SetLastError(fakenet::kErrorNoMoreItems);
    return false;
  }
  fakenet::FakeInterface& fake = state().interfaces[index];
  if (fake.failing_enum_info_calls.count(++fake.enum_info_calls) != 0) {
    SetLastError(fake.enum_info_error);
    return false;
  }
  fakenet::StoreIndex(index, device);
  return true;
}

// Like the configuration manager, a failed read leaves the last error alone
// and its outputs zero.
bool GetDevNodeStatus(const DeviceInfoData& device, std::uint32_t& status, std::uint32_t& problem) {
  const fakenet::FakeCall call;
  fakenet::FakeInterface* fake = fakenet::InterfaceOf(device);
  status = 0;
  problem = 0;
  if (fake == nullptr) return false;
  if (fake->failing_status_reads.count(++fake->status_reads) != 0) return false;
  if (fake->enabled_here && !fakenet::IsRunning(*fake)) {
    ++fake->polls_since_enable;
    if (fake->polls_until_started >= 0 && fake->polls_since_enable >= fake->polls_until_started) {
      fake->status = fakenet::kRunningStatus;
      fake->problem = 0;
    }
  }
  status = fake->status;
  problem = fake->problem;
  return true;
}

bool SetPropertyChangeParams(const DeviceInfoSet& set, DeviceInfoData& device, std::uint32_t state_change,
                             std::uint32_t scope) {
  const fakenet::FakeCall call;
  fakenet::FakeInterface* fake = fakenet::InterfaceOf(device);
  if (!set.is_valid() || fake == nullptr) {
    SetLastError(fakenet::kErrorInvalidData);
    return false;
  }
  auto error = fake->set_params_errors.find(state_change);
  if (error != fake->set_params_errors.end()) {
    SetLastError(error->second);
    return false;
  }
  fakenet::g_pending_changes[fakenet::IndexOf(device)] = {state_change, scope};
  return true;
}

bool CallPropertyChangeInstaller(const DeviceInfoSet& set, DeviceInfoData& device) {
  const fakenet::FakeCall call;
  return fakenet::ApplyStateChange(set, device, true);
}

bool ChangeDeviceState(const DeviceInfoSet& set, DeviceInfoData& device) {
  const fakenet::FakeCall call;
  return fakenet::ApplyStateChange(set, device, false);
}

// System facts ------------------------------------------------------------------

bool GetMajorVersion(std::uint32_t& major) {
  const fakenet::FakeCall call;
  if (state().version_fails) return false;
  major = state().major_version;
  return true;
}

bool IsUserAdmin() {
  const fakenet::FakeCall call;
  ++state().admin_checks;
  return state().is_admin;
}

std::uint32_t TickCount() {
  const fakenet::FakeCall call;
  return state().tick_ms;
}

void SleepMs(std::uint32_t milliseconds) {
  int pause = 0;
  {
    const fakenet::FakeCall call;
    state().sleeps.push_back(milliseconds);
    state().tick_ms += milliseconds;
    pause = state().real_ms_per_sleep;
  }
  if (pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
}

// Serialising device state changes --------------------------------------------------

bool OpenNamedMutex(const char16_t* name, KernelHandle& mutex, bool& foreign) {
  const fakenet::FakeCall call;
  state().mutex_names.push_back(name);
  foreign = state().mutex_foreign;
  if (state().mutex_open_error != kSuccess) {
    SetLastError(state().mutex_open_error);
    return false;
  }
  if (foreign) return true;
  ++state().mutex_handles_open;
  mutex.reset(fakebase::HandleOf<KernelObject*>(new fakenet::OpenMutex));
  return true;
}

MutexWait WaitForMutex(const KernelHandle& mutex, std::uint32_t, HeldMutex& held) {
  const fakenet::FakeCall call;
  if (!mutex || state().mutex_wait == MutexWait::kFailed) {
    SetLastError(state().mutex_wait_error);
    return MutexWait::kFailed;
  }
  if (state().mutex_wait == MutexWait::kTimedOut) return MutexWait::kTimedOut;
  ++state().mutexes_held;
  held.reset(fakebase::HandleOf<KernelObject*>(new fakenet::HeldFakeMutex));
  return MutexWait::kAcquired;
}

// IP Helper ------------------------------------------------------------------------

bool ListIpAdapters(HeapArray<IpAdapterEntry>& adapters) {
  const fakenet::FakeCall call;
  ++state().ip_list_calls;
  adapters.clear();
  if (state().ip_list_fails) {
    SetLastError(fakenet::kErrorNoData);
    return false;
  }
  for (const IpAdapterEntry& entry : state().ip_adapters) {
    if (!adapters.push_back(entry)) {
      adapters.clear();
      SetLastError(kErrorNotEnoughMemory);
      return false;
    }
  }
  return true;
}

// rpcrt4 ---------------------------------------------------------------------------

bool LoadRpcRuntime(LoadedLibrary& library) {
  const fakenet::FakeCall call;
  if (state().rpc.load_error != kSuccess) {
    SetLastError(state().rpc.load_error);
    return false;
  }
  library.reset(fakebase::HandleOf<HINSTANCE__*>(new fakenet::OpenLibrary));
  ++state().libraries_loaded;
  return true;
}

void* FindProcedure(const LoadedLibrary& library, const char* name) {
  const fakenet::FakeCall call;
  const std::string wanted = name;
  if (library.is_valid()) {
    if (wanted == "UuidCreateSequential" && state().rpc.has_sequential) {
      return &fakenet::g_sequential_marker;
    }
    if (wanted == "UuidCreate" && state().rpc.has_create) return &fakenet::g_random_marker;
  }
  SetLastError(state().rpc.lookup_error);
  return nullptr;
}

std::int32_t CallUuidCreate(void* procedure, std::uint8_t (&uuid)[16]) {
  const fakenet::FakeCall call;
  const fakenet::RpcBehaviour& rpc = state().rpc;
  if (procedure == &fakenet::g_sequential_marker) {
    state().procedures_called.push_back("UuidCreateSequential");
    std::memcpy(uuid, rpc.sequential_uuid, sizeof uuid);
    return rpc.sequential_status;
  }
  state().procedures_called.push_back("UuidCreate");
  std::memcpy(uuid, rpc.random_uuid, sizeof uuid);
  return rpc.random_status;
}

}  // namespace netos
}  // namespace tavsn
