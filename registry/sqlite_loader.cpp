#include "registry/sqlite_loader.h"

#include <dlfcn.h>

#include "registry/shared_object.h"

namespace tavsn::registry {
namespace {

// The soname of SQLite 3's ABI.
constexpr const char* kSqliteName = "libsqlite3.so.0";

struct LoadedSqlite {
  SharedObject handle;
  Sqlite calls;
  std::string error;
};

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
  const LoadedSqlite& loaded = LoadOnce(&Load);
  if (!loaded.handle) {
    error = loaded.error;
    return nullptr;
  }
  return &loaded.calls;
}

}  // namespace tavsn::registry
