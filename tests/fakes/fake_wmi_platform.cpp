#include "tests/fakes/fake_wmi_platform.h"

#include <cstring>

#include "tests/fakes/fake_base.h"

namespace tavsn {
namespace fakewmi {

State& state() {
  static State the_state;
  return the_state;
}

void Reset() { state() = State{}; }

namespace {

struct FakeInterface : fakebase::FakeResource {
  explicit FakeInterface(const char* interface_name) : name(interface_name) { ++state().live_interfaces; }
  void Release() override {
    state().journal.push_back("release " + name);
    --state().live_interfaces;
    delete this;
  }
  std::string name;
};

// A call that fails hands out nothing, as COM's out parameters do.
template <typename Interface>
HResult HandOut(HResult result, const char* name, ComPtr<Interface>& owner) {
  owner.reset(result < 0 ? nullptr : fakebase::HandleOf<Interface*>(new FakeInterface(name)));
  return result;
}

void Note(std::string entry) { state().journal.push_back(std::move(entry)); }

std::string Narrowed(const char16_t* text) {
  std::string narrow;
  for (; *text != u'\0'; ++text) narrow.push_back(static_cast<char>(*text));
  return narrow;
}

}  // namespace
}  // namespace fakewmi

namespace wmios {

using fakewmi::Note;
using fakewmi::state;

HResult InitializeMultithreadedCom() {
  Note("CoInitializeEx");
  return state().initialize;
}

void UninitializeCom() { Note("CoUninitialize"); }

HResult CreateWbemLocator(WbemLocator& locator) {
  Note("create locator");
  return fakewmi::HandOut(state().create, "locator", locator);
}

HResult ConnectToWmiNamespace(const WbemLocator& locator, WbemServices& services) {
  Note(locator ? "connect" : "connect without a locator");
  return fakewmi::HandOut(state().connect, "services", services);
}

HResult SetCallLevelProxyBlanket(const WbemServices& services) {
  Note(services ? "blanket" : "blanket without services");
  return state().blanket;
}

HResult EnumerateRawSmbiosTables(const WbemServices& services, WbemEnumerator& enumerator) {
  Note(services ? "enumerate" : "enumerate without services");
  return fakewmi::HandOut(state().enumerate, "enumerator", enumerator);
}

HResult NextClassObject(const WbemEnumerator& enumerator, WbemObject& object, std::uint32_t& returned) {
  Note(enumerator ? "next" : "next without an enumerator");
  returned = state().next < 0 ? 0 : state().next_returns;
  if (returned == 0) {
    object.reset();
    return state().next;
  }
  return fakewmi::HandOut(state().next, "object", object);
}

HResult GetLowByteProperty(const WbemObject& object, const char16_t* name, std::uint8_t& value) {
  const std::string property = fakewmi::Narrowed(name);
  Note("get " + property);
  const bool major = property == "SmbiosMajorVersion";
  const HResult result = major ? state().get_major : state().get_minor;
  if (object && result >= 0) value = static_cast<std::uint8_t>(major ? state().major : state().minor);
  return result;
}

HResult GetByteArrayProperty(const WbemObject& object, const char16_t* name, std::uint8_t* destination,
                             std::size_t capacity, ByteArrayProperty& property) {
  Note("get " + fakewmi::Narrowed(name));
  property = ByteArrayProperty{};
  if (!object || state().get_data < 0) return state().get_data;
  property.is_byte_array = state().data_is_byte_array;
  if (!property.is_byte_array) return state().get_data;
  property.element_count = static_cast<std::uint32_t>(state().table.size());
  if (ByteArrayFits(property.element_count, capacity) && !state().table.empty()) {
    std::memcpy(destination, state().table.data(), state().table.size());
  }
  return state().get_data;
}

}  // namespace wmios
}  // namespace tavsn
