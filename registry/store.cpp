#include "registry/store.h"

#include <cstring>
#include <string_view>

namespace tavsn::registry {

const char* StoreErrorKindName(StoreErrorKind kind) {
  switch (kind) {
    case StoreErrorKind::kNone: return "";
    case StoreErrorKind::kBusy: return "busy";
    case StoreErrorKind::kReadOnly: return "read-only";
    case StoreErrorKind::kFull: return "full";
    case StoreErrorKind::kDamaged: return "damaged";
    case StoreErrorKind::kConnectionLost: return "connection lost";
    case StoreErrorKind::kNewerSchema: return "newer schema";
    case StoreErrorKind::kNotFound: return "not found";
    case StoreErrorKind::kNotBuilt: return "engine not built";
    case StoreErrorKind::kBadLocation: return "bad location";
    case StoreErrorKind::kOther: return "other";
  }
  return "other";
}

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

const char* SchemaUpgrade(const char* schema, int version) {
  if (version <= 0) return schema;
  const std::string marker = "\n-- Upgrade to version " + std::to_string(version + 1) + "\n";
  const char* found = std::strstr(schema, marker.c_str());
  return found ? found + 1 : nullptr;
}

StoreError OpenStore(const std::string& location, const StoreOptions& options, std::unique_ptr<Store>& store) {
  store.reset();
  if (location.empty()) return {StoreErrorKind::kBadLocation, "no database location given"};
  if (StartsWith(location, "postgresql://") || StartsWith(location, "postgres://")) {
    return OpenPostgresqlStore(location, options, store);
  }
  if (StartsWith(location, "sqlite:")) {
    std::string path = location.substr(7);
    if (path.empty()) return {StoreErrorKind::kBadLocation, "sqlite: names no file"};
    return OpenSqliteStore(path, options, store);
  }
  // Any other scheme is a mistake, not a file whose name has a colon:
  // "mysql://host/db" must not quietly make a file of that name.
  std::string_view text = location;
  std::size_t colon = text.find("://");
  if (colon != std::string_view::npos) {
    return {StoreErrorKind::kBadLocation, "no engine for " + location.substr(0, colon + 3)};
  }
  return OpenSqliteStore(location, options, store);
}

}  // namespace tavsn::registry
