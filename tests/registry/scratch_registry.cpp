#include "tests/registry/scratch_registry.h"

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "base/unique_resource.h"
#include "registry/libpq_loader.h"
#include "registry/sqlite_loader.h"

namespace tavsn::registry::testing {
namespace {

struct ConnectionTraits {
  using Handle = PGconn*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept {
    std::string unused;
    LoadLibpq(unused)->PQfinish(handle);
  }
};

struct ResultTraits {
  using Handle = PGresult*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept {
    std::string unused;
    LoadLibpq(unused)->PQclear(handle);
  }
};

// postgresql:///tavsn?host=DIR&user=tavsn with another database's name.
std::string WithDatabase(const std::string& location, const std::string& database) {
  const std::size_t query = location.find('?');
  const std::string path = location.substr(0, query);
  const std::size_t slash = path.rfind('/');
  return path.substr(0, slash + 1) + database + (query == std::string::npos ? "" : location.substr(query));
}

}  // namespace

std::string TestPostgresqlLocation() {
  const char* location = std::getenv("TAVSN_TEST_POSTGRESQL");
  return location ? location : "";
}

// SQLite's file, opened by SQLite itself: the registry's store offers no
// way to run SQL of one's own.
std::string RunSqliteStatement(const std::string& path, const std::string& sql) {
  std::string error;
  const Sqlite* sqlite = LoadSqlite(error);
  if (!sqlite) return error;
  sqlite3* handle = nullptr;
  const int opened = sqlite->sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr);
  std::string message;
  char* text = nullptr;
  if (opened != SQLITE_OK) {
    message = handle ? sqlite->sqlite3_errmsg(handle) : "out of memory";
  } else if (sqlite->sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &text) != SQLITE_OK) {
    message = text ? text : "failed";
  }
  sqlite->sqlite3_free(text);
  sqlite->sqlite3_close_v2(handle);
  return message;
}

std::string RunAdminStatement(const std::string& location, const std::string& sql) {
  if (location.rfind("sqlite:", 0) == 0) return RunSqliteStatement(location.substr(7), sql);
  std::string error;
  const Libpq* pq = LoadLibpq(error);
  if (!pq) return error;
  const std::string target = location.empty() ? TestPostgresqlLocation() : location;
  UniqueResource<ConnectionTraits> connection(pq->PQconnectdb(target.c_str()));
  if (pq->PQstatus(connection.get()) != CONNECTION_OK) return pq->PQerrorMessage(connection.get());
  UniqueResource<ResultTraits> result(pq->PQexec(connection.get(), sql.c_str()));
  const ExecStatusType status = pq->PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return "";
  return pq->PQresultErrorMessage(result.get());
}

ScratchRegistry::ScratchRegistry(const std::string& engine) {
  static std::atomic<int> counter{0};
  const std::string unique = std::to_string(getpid()) + "_" + std::to_string(counter++);
  if (engine == "postgresql") {
    const std::string cluster = TestPostgresqlLocation();
    if (cluster.empty()) {
      skip_reason_ = "TAVSN_TEST_POSTGRESQL names no test cluster";
      return;
    }
    name_ = "registry_test_" + unique;
    const std::string error = RunAdminStatement(cluster, "CREATE DATABASE " + name_);
    if (!error.empty()) {
      skip_reason_ = "cannot make a database in the test cluster: " + error;
      name_.clear();
      return;
    }
    location_ = WithDatabase(cluster, name_);
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "tavsn_registry_XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    skip_reason_ = "cannot make a scratch folder";
    return;
  }
  folder_ = pattern;
  name_ = folder_ + "/registry.db";
  location_ = "sqlite:" + name_;
}

ScratchRegistry::~ScratchRegistry() {
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  if (!name_.empty() && folder_.empty()) {
    RunAdminStatement(TestPostgresqlLocation(), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  }
}

}  // namespace tavsn::registry::testing
