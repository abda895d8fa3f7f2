// Builds without the PostgreSQL engine: its locations are refused with
// their own error.
#include "registry/store.h"

namespace tavsn::registry {

StoreError OpenPostgresqlStore(const std::string&, const StoreOptions&, std::unique_ptr<Store>& store) {
  store.reset();
  return {StoreErrorKind::kNotBuilt, "this build has no PostgreSQL engine"};
}

}  // namespace tavsn::registry
