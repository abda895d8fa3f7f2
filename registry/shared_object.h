#pragma once
// A database engine's client library, opened at run time (dlopen) once per
// process and never unloaded: what registry/sqlite_loader.cpp and
// registry/libpq_loader.cpp share. Never unloaded, because a connection held
// by another static object may be closed after any destructor of ours
// would have run, and a library's TLS code registers exit handlers that
// must stay mapped.

#include <dlfcn.h>

#include <mutex>
#include <string>

#include "base/no_destructor.h"
#include "base/unique_resource.h"

namespace tavsn::registry {

struct SharedObjectTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { dlclose(handle); }
};
using SharedObject = UniqueResource<SharedObjectTraits>;

// What dlopen or dlsym said last.
inline std::string LastLoaderError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

// The one `Loaded` of the process (a struct with a SharedObject `handle`),
// filled by `load` at the first call from any thread.
template <typename Loaded>
const Loaded& LoadOnce(void (*load)(Loaded&)) {
  static NoDestructor<Loaded> loaded;
  static std::once_flag once;
  std::call_once(once, [&] { load(loaded.get()); });
  return loaded.get();
}

}  // namespace tavsn::registry
