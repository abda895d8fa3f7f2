#include "registry/sqlite_loader.h"

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

// The soname of SQLite 3's ABI.
constexpr const char* kSqliteName = "libsqlite3.so.0";

struct LoadedSqlite {
  SharedObject handle;
  Sqlite calls;
  std::string error;
};

std::string LastLoaderError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

void Load(LoadedSqlite& loaded) {
  loaded.handle.reset(dlopen(kSqliteName, RTLD_NOW | RTLD_LOCAL));
  if (!loaded.handle) {
    loaded.error = std::string("SQLite could not be loaded (install libsqlite3-0): ") + LastLoaderError();
    return;
  }
#define TAVSN_SQLITE_FIND(name)                                                               \
  loaded.calls.name = reinterpret_cast<decltype(&::name)>(dlsym(loaded.handle.get(), #name)); \
  if (!loaded.calls.name) {                                                                   \
    loaded.error = std::string(kSqliteName) + " has no " #name;                               \
    loaded.handle.reset();                                                                    \
    return;                                                                                   \
  }
  TAVSN_SQLITE_FUNCTIONS(TAVSN_SQLITE_FIND)
#undef TAVSN_SQLITE_FIND
}

}  // namespace

const Sqlite* LoadSqlite(std::string& error) {
  // Never unloaded: a registry held by a static object may be closed after
  // any destructor of ours would have run.
  static NoDestructor<LoadedSqlite> loaded;
  static std::once_flag once;
  std::call_once(once, [] { Load(loaded.get()); });
  if (!loaded.get().handle) {
    error = loaded.get().error;
    return nullptr;
  }
  return &loaded.get().calls;
}

}  // namespace tavsn::registry
