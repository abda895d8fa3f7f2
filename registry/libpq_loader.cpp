#include "registry/libpq_loader.h"

#include <dlfcn.h>

#include <mutex>

#include "base/no_destructor.h"
#include "base/unique_resource.h"

namespace tavsn::registry {
namespace {

struct SharedObjectTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { dlclose(handle); }
};
using SharedObject = UniqueResource<SharedObjectTraits>;

// The soname of libpq's ABI, the same since PostgreSQL 8.
constexpr const char* kLibpqName = "libpq.so.5";

struct LoadedLibpq {
  SharedObject handle;
  Libpq calls;
  std::string error;
};

std::string LastLoaderError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

void Load(LoadedLibpq& loaded) {
  // RTLD_LOCAL: libpq's own symbols (and the OpenSSL it brings) never bind
  // to a host's.
  loaded.handle.reset(dlopen(kLibpqName, RTLD_NOW | RTLD_LOCAL));
  if (!loaded.handle) {
    loaded.error =
        std::string("PostgreSQL's client library could not be loaded (install libpq5): ") + LastLoaderError();
    return;
  }
#define TAVSN_LIBPQ_FIND(name)                                                                      \
  loaded.calls.name = reinterpret_cast<decltype(&::name)>(dlsym(loaded.handle.get(), #name));       \
  if (!loaded.calls.name) {                                                                         \
    loaded.error = std::string(kLibpqName) + " has no " #name ": a libpq older than PostgreSQL 10"; \
    loaded.handle.reset();                                                                          \
    return;                                                                                         \
  }
  TAVSN_LIBPQ_FUNCTIONS(TAVSN_LIBPQ_FIND)
#undef TAVSN_LIBPQ_FIND
}

}  // namespace

const Libpq* LoadLibpq(std::string& error) {
  // Never unloaded: a connection held by another static object may be
  // closed after any destructor of ours would have run, and libpq's TLS
  // library registers exit handlers that must stay mapped.
  static NoDestructor<LoadedLibpq> loaded;
  static std::once_flag once;
  std::call_once(once, [] { Load(loaded.get()); });
  if (!loaded.get().handle) {
    error = loaded.get().error;
    return nullptr;
  }
  return &loaded.get().calls;
}

}  // namespace tavsn::registry
