// libFuzzer target for the adapter records read from the registry:
// EnumNetAdapters with its value reads (numbers and texts), and the device
// path built from each record.
//
// The input builds a fake registry: the class key (present, failing to open
// or to count its subkeys), up to eight subkeys with fuzzed names, open
// errors and enumeration errors, each with "*IfType", "Characteristics",
// "DriverDesc" and "NetCfgInstanceId" values of fuzzed bytes and sizes
// (often close to the record's buffers), present or missing, failing, and
// filling a buffer too small for them or not; the Connection key that the
// NetCfgInstanceId leads to, with a fuzzed "PnpInstanceID"; and whether the
// heap runs out.
//
// Checked beyond what the sanitizers see:
// - the records are exactly those that the plain rule keeps, in order, with
//   exactly the values it gives (a read spilling into a neighbouring field
//   shows up as a wrong value); every text ends within its array;
// - no registry key stays open and no heap block is left behind;
// - the device path of each record, built into an exact-size heap block of
//   a fuzzed capacity, is the plain path cut to that capacity, terminated.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "netadapter/cgetmac_peer.h"
#include "tests/fakes/fake_base.h"
#include "tests/fakes/fake_net_platform.h"

namespace {

using tavsn::CGetMacTestPeer;
using tavsn::NetAdapterRecord;
namespace fakenet = tavsn::fakenet;
namespace netos = tavsn::netos;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

constexpr std::size_t kMostSubkeys = 8;

// What a value query of the fake gives: the value's bytes when they fit,
// ERROR_MORE_DATA (after copying what fits, if asked) when they do not.
struct ValueSpec {
  bool present = false;
  fakenet::FakeValue value;
};

// Sizes near the record's buffers come up often: those are the edges.
std::size_t PickSize(FuzzedDataProvider& input) {
  static constexpr std::size_t kEdges[] = {0, 1, 2, 3, 4, 5, 8, 62, 63, 64, 65, 199, 200, 201};
  const std::uint8_t choice = input.ConsumeIntegral<std::uint8_t>();
  if (choice < 160) return kEdges[choice % (sizeof kEdges / sizeof kEdges[0])];
  return input.ConsumeIntegralInRange<std::size_t>(0, 260);
}

// Printable bytes mostly, so that the texts look like registry texts, but
// any byte, zeros and backslashes included, can appear.
std::vector<std::uint8_t> PickBytes(FuzzedDataProvider& input, std::size_t size, bool terminated) {
  std::vector<std::uint8_t> bytes;
  const std::uint8_t style = input.ConsumeIntegral<std::uint8_t>();
  for (std::size_t i = 0; i < size; ++i) {
    std::uint8_t byte;
    if (style < 128)
      byte = static_cast<std::uint8_t>('A' + (i + style) % 26);
    else
      byte = input.ConsumeIntegral<std::uint8_t>();
    bytes.push_back(byte);
  }
  if (terminated && !bytes.empty()) bytes.back() = 0;
  return bytes;
}

ValueSpec PickValue(FuzzedDataProvider& input) {
  ValueSpec spec;
  const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();
  spec.present = (flags & 0x07) != 0;  // missing one time in eight
  if (!spec.present) return spec;
  if ((flags & 0x38) == 0x38) spec.value.error = netos::kErrorAccessDenied;
  spec.value.fills_small_buffer = (flags & 0x40) != 0;
  spec.value.bytes = PickBytes(input, PickSize(input), (flags & 0x80) != 0);
  return spec;
}

// The plain rule for a number read: the value's bytes over the default,
// when the query succeeds.
std::uint32_t ExpectedNumber(const ValueSpec& spec, std::uint32_t fallback) {
  if (!spec.present || spec.value.error != netos::kSuccess || spec.value.bytes.size() > 4) return fallback;
  std::uint32_t value = fallback;
  if (!spec.value.bytes.empty()) std::memcpy(&value, spec.value.bytes.data(), spec.value.bytes.size());
  return value;
}

// The plain rule for a text read into `capacity` bytes: kept when the query
// succeeds and a zero ends it within the buffer or the buffer has room for
// one; empty otherwise.
bool ExpectedText(const ValueSpec& spec, std::size_t capacity, std::string& text) {
  text.clear();
  if (!spec.present || spec.value.error != netos::kSuccess) return false;
  const std::vector<std::uint8_t>& bytes = spec.value.bytes;
  if (bytes.size() > capacity) return false;
  std::size_t length = 0;
  while (length < bytes.size() && bytes[length] != 0) ++length;
  if (length == capacity) return false;
  text.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
  return true;
}

struct SubkeySpec {
  std::u16string name;
  bool qualifies = false;  // four ASCII letters or digits
  bool enum_fails = false;
  bool open_fails = false;
  ValueSpec if_type, characteristics, driver_desc, net_cfg_instance_id;
  bool connection_present = false;
  bool connection_open_fails = false;
  ValueSpec pnp_instance_id;
};

std::u16string PickName(FuzzedDataProvider& input, std::size_t index, bool& qualifies) {
  const std::uint8_t style = input.ConsumeIntegral<std::uint8_t>();
  std::u16string name;
  if (style < 160) {
    // "0000", "0001", ...
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", static_cast<unsigned>(index + style % 3));
    for (const char* c = digits; *c != '\0'; ++c) name.push_back(static_cast<char16_t>(*c));
  } else {
    const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(1, 6);
    for (std::size_t i = 0; i < length; ++i) {
      char16_t c = input.ConsumeIntegral<std::uint16_t>();
      // A backslash or zero would make another key path or cut the name.
      if (c == u'\\' || c == 0) c = u'-';
      if (input.ConsumeBool()) c = static_cast<char16_t>(u'0' + c % 75);  // mostly ASCII
      if (c == u'\\') c = u'-';
      name.push_back(c);
    }
  }
  auto ascii_alnum = [](char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
  };
  qualifies = name.size() == 4;
  for (char16_t c : name) qualifies = qualifies && ascii_alnum(c);
  return name;
}

std::u16string Wide(const std::string& text) {
  std::u16string wide;
  for (unsigned char c : text) wide.push_back(c);
  return wide;
}

// The fake registry's key for a path: its letters a-z in upper case.
std::u16string FoldedKeyPath(const std::string& path) {
  std::u16string folded = Wide(path);
  for (char16_t& c : folded) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return folded;
}

bool EqualFolded(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  auto fold = [](char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

void RequireTerminated(const char* text, std::size_t capacity, const char* what) {
  Require(std::memchr(text, '\0', capacity) != nullptr, what);
}

std::string PlainDevicePath(const NetAdapterRecord& record) {
  std::string path = "\\\\?\\";
  for (const char* c = record.pnp_instance_id; *c != '\0'; ++c) path.push_back(*c == '\\' ? '#' : *c);
  path += "#{ad498944-762f-11d0-8dcb-00c04fc3358c}";
  if (record.net_cfg_instance_id[0] != '\0') {
    path += "\\";
    path += record.net_cfg_instance_id;
  }
  return path;
}

void CheckDevicePath(const NetAdapterRecord& record, std::size_t capacity) {
  const std::string plain = PlainDevicePath(record);
  // An exact-size block, filled with a marker: a write past it is a heap
  // overflow, and with capacity 0 nothing may be written at all.
  char* path = static_cast<char*>(std::malloc(capacity == 0 ? 1 : capacity));
  std::memset(path, 0x7E, capacity == 0 ? 1 : capacity);
  Require(CGetMacTestPeer::BuildDevicePath(record, path, capacity) == path, "BuildDevicePath returns another pointer");
  if (capacity == 0) {
    Require(path[0] == 0x7E, "BuildDevicePath wrote into no room");
  } else {
    RequireTerminated(path, capacity, "device path not terminated within its buffer");
    const std::size_t kept = plain.size() < capacity - 1 ? plain.size() : capacity - 1;
    Require(std::strlen(path) == kept, "device path length");
    Require(std::memcmp(path, plain.data(), kept) == 0, "device path differs from the plain path");
  }
  std::free(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  fakenet::Reset();
  tavsn::fakebase::ResetHeap();
  const long blocks_before = tavsn::fakebase::heap().live_blocks;

  const std::uint8_t setup = input.ConsumeIntegral<std::uint8_t>();
  const bool class_open_fails = (setup & 0x0F) == 0x0F;
  const bool count_fails = (setup & 0xF0) == 0xF0;
  const bool heap_runs_out = (setup & 0x1E) == 0x1E;
  const std::string class_path = fakenet::kAdapterClassKey;
  fakenet::FakeKey& class_key = fakenet::AddKey(class_path);
  if (class_open_fails) class_key.open_error = netos::kErrorAccessDenied;
  if (count_fails) class_key.subkey_count_error = netos::kErrorAccessDenied;

  const std::size_t subkey_count = input.ConsumeIntegralInRange<std::size_t>(0, kMostSubkeys);
  std::vector<SubkeySpec> specs;
  for (std::size_t i = 0; i < subkey_count; ++i) {
    SubkeySpec spec;
    spec.name = PickName(input, i, spec.qualifies);
    const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();
    spec.enum_fails = (flags & 0x07) == 0x07;
    spec.open_fails = (flags & 0x38) == 0x38;
    spec.connection_present = (flags & 0x40) == 0 || (flags & 0x07) == 0;
    spec.connection_open_fails = (flags & 0xC0) == 0xC0;
    spec.if_type = PickValue(input);
    spec.characteristics = PickValue(input);
    spec.driver_desc = PickValue(input);
    spec.net_cfg_instance_id = PickValue(input);
    spec.pnp_instance_id = PickValue(input);
    specs.push_back(std::move(spec));
  }

  // The same name twice is one key: later subkeys of that name are dropped
  // from the list, and the first one's values are the last ones installed.
  std::vector<SubkeySpec> listed;
  for (SubkeySpec& spec : specs) {
    bool duplicate = false;
    for (const SubkeySpec& earlier : listed) duplicate = duplicate || EqualFolded(earlier.name, spec.name);
    if (!duplicate) listed.push_back(spec);
  }
  for (std::size_t i = 0; i < listed.size(); ++i) {
    SubkeySpec& spec = listed[i];
    fakenet::FakeKey& key = fakenet::AddKey(Wide(class_path) + u"\\" + spec.name);
    if (spec.open_fails) key.open_error = netos::kErrorAccessDenied;
    if (spec.enum_fails) class_key.enum_errors[static_cast<std::uint32_t>(i)] = netos::kErrorAccessDenied;
    for (auto [name, value] :
         {std::pair{"*IfType", &spec.if_type}, std::pair{"Characteristics", &spec.characteristics},
          std::pair{"DriverDesc", &spec.driver_desc}, std::pair{"NetCfgInstanceId", &spec.net_cfg_instance_id}}) {
      if (!value->present) continue;
      std::string folded = name;
      for (char& c : folded) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
      key.values[folded] = value->value;
    }
  }
  // Connection keys, where the text (as far as its first zero, within the
  // record's 64 bytes) leads. A key that several adapters lead to holds the
  // last one's value.
  for (SubkeySpec& spec : listed) {
    if (!spec.connection_present || !spec.net_cfg_instance_id.present) continue;
    std::string id;
    for (std::uint8_t byte : spec.net_cfg_instance_id.value.bytes) {
      if (byte == 0 || id.size() == 63) break;
      id.push_back(static_cast<char>(byte));
    }
    fakenet::FakeKey& connection = fakenet::AddKey(fakenet::ConnectionKeyPath(id));
    connection.open_error = spec.connection_open_fails ? netos::kErrorAccessDenied : netos::kSuccess;
    connection.values.erase("PNPINSTANCEID");
    if (spec.pnp_instance_id.present) connection.values["PNPINSTANCEID"] = spec.pnp_instance_id.value;
  }
  if (heap_runs_out) tavsn::fakebase::heap().allocations_left = 0;

  std::vector<NetAdapterRecord> records;
  const int count = CGetMacTestPeer::EnumNetAdapters(records);
  tavsn::fakebase::heap().allocations_left = -1;

  // The plain rule.
  std::vector<NetAdapterRecord> expected;
  const bool listing = !class_open_fails && !count_fails && !(heap_runs_out && !listed.empty());
  for (std::size_t i = 0; listing && i < listed.size(); ++i) {
    const SubkeySpec& spec = listed[i];
    if (spec.enum_fails || !spec.qualifies || spec.open_fails) continue;
    NetAdapterRecord record;
    record.if_type = ExpectedNumber(spec.if_type, 1);
    record.characteristics = ExpectedNumber(spec.characteristics, 0);
    std::string text;
    ExpectedText(spec.driver_desc, sizeof record.driver_desc, text);
    std::memcpy(record.driver_desc, text.c_str(), text.size() + 1);
    if (!ExpectedText(spec.net_cfg_instance_id, sizeof record.net_cfg_instance_id, text)) continue;
    std::memcpy(record.net_cfg_instance_id, text.c_str(), text.size() + 1);
    // The Connection key this id leads to, as finally installed.
    const fakenet::FakeKey* connection = nullptr;
    auto found = fakenet::state().keys.find(FoldedKeyPath(fakenet::ConnectionKeyPath(text)));
    if (found != fakenet::state().keys.end()) connection = &found->second;
    if (connection == nullptr || connection->open_error != netos::kSuccess) continue;
    ValueSpec pnp;
    auto value = connection->values.find("PNPINSTANCEID");
    if (value != connection->values.end()) {
      pnp.present = true;
      pnp.value = value->second;
    }
    if (!ExpectedText(pnp, sizeof record.pnp_instance_id, text)) continue;
    std::memcpy(record.pnp_instance_id, text.c_str(), text.size() + 1);
    expected.push_back(record);
  }

  Require(count >= 0 && static_cast<std::size_t>(count) == records.size(), "count differs from the records");
  Require(records.size() == expected.size(), "record count differs from the plain rule");
  for (std::size_t i = 0; i < records.size(); ++i) {
    const NetAdapterRecord& got = records[i];
    const NetAdapterRecord& want = expected[i];
    RequireTerminated(got.pnp_instance_id, sizeof got.pnp_instance_id, "PnpInstanceID not terminated");
    RequireTerminated(got.net_cfg_instance_id, sizeof got.net_cfg_instance_id, "NetCfgInstanceId not terminated");
    RequireTerminated(got.driver_desc, sizeof got.driver_desc, "DriverDesc not terminated");
    RequireTerminated(got.mac_text, sizeof got.mac_text, "MAC text not terminated");
    Require(got.outcome == 0, "outcome not 0");
    Require(got.if_type == want.if_type, "IfType differs");
    Require(got.characteristics == want.characteristics, "Characteristics differs");
    Require(std::strcmp(got.pnp_instance_id, want.pnp_instance_id) == 0, "PnpInstanceID differs");
    Require(std::strcmp(got.net_cfg_instance_id, want.net_cfg_instance_id) == 0, "NetCfgInstanceId differs");
    Require(std::strcmp(got.driver_desc, want.driver_desc) == 0, "DriverDesc differs");
    Require(got.mac_text[0] == '\0', "MAC text not empty");
  }
  Require(fakenet::state().keys_open == 0, "a registry key stays open");
  Require(tavsn::fakebase::heap().live_blocks == blocks_before, "a heap block is left behind");

  // Device paths: the capacity the adapter code passes, and fuzzed ones.
  const std::size_t capacity = input.ConsumeIntegralInRange<std::size_t>(0, 600);
  for (const NetAdapterRecord& record : records) {
    CheckDevicePath(record, 513);
    CheckDevicePath(record, capacity);
  }
  return 0;
}
