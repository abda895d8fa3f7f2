#pragma once
// A registry of its own for each test, on either engine: a file in a scratch
// folder for SQLite; a database of its own in the test cluster for
// PostgreSQL (tests/registry/postgres_cluster.sh, whose location ctest puts
// in TAVSN_TEST_POSTGRESQL), so that tests running at once never see each
// other's machines. Removed when the test ends.

#include <string>

namespace tavsn::registry::testing {

// The test cluster's location, or "" when none was started (the PostgreSQL
// tests then skip).
std::string TestPostgresqlLocation();

// Runs one statement as the cluster's superuser on the database of
// `location` (or the cluster's own when empty), or on a SQLite location's
// file; "" when it succeeded, else the engine's message. For what the registry never does itself: making
// databases, ending another session, breaking a table.
std::string RunAdminStatement(const std::string& location, const std::string& sql);

class ScratchRegistry {
 public:
  // engine: "sqlite" or "postgresql".
  explicit ScratchRegistry(const std::string& engine);
  ~ScratchRegistry();
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

  // Empty when the engine cannot be tested here, with the reason in
  // skip_reason().
  const std::string& location() const { return location_; }
  const std::string& skip_reason() const { return skip_reason_; }
  // The PostgreSQL database's name, or the SQLite file's path.
  const std::string& name() const { return name_; }

 private:
  std::string location_;
  std::string skip_reason_;
  std::string name_;
  std::string folder_;
};

}  // namespace tavsn::registry::testing
