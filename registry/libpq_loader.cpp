#include "registry/libpq_loader.h"

#include <dlfcn.h>

#include "registry/shared_object.h"

namespace tavsn::registry {
namespace {

// The soname of libpq's ABI, the same since PostgreSQL 8.
constexpr const char* kLibpqName = "libpq.so.5";

struct LoadedLibpq {
  SharedObject handle;
  Libpq calls;
  std::string error;
};

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
  const LoadedLibpq& loaded = LoadOnce(&Load);
  if (!loaded.handle) {
    error = loaded.error;
    return nullptr;
  }
  return &loaded.calls;
}

}  // namespace tavsn::registry
