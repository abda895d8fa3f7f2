#pragma once
// SQLite loaded when the first registry is opened rather than linked, as
// libpq is (registry/libpq_loader.h): the server library then needs nothing
// outside the manylinux set, and a host without libsqlite3 still judges
// identifiers. The header gives the types and checks every signature
// against the real library's.

#include <sqlite3.h>

#include <string>

namespace tavsn::registry {

#define TAVSN_SQLITE_FUNCTIONS(X) \
  X(sqlite3_open_v2)              \
  X(sqlite3_close_v2)             \
  X(sqlite3_errmsg)               \
  X(sqlite3_extended_errcode)     \
  X(sqlite3_system_errno)         \
  X(sqlite3_busy_timeout)         \
  X(sqlite3_exec)                 \
  X(sqlite3_free)                 \
  X(sqlite3_prepare_v2)           \
  X(sqlite3_finalize)             \
  X(sqlite3_reset)                \
  X(sqlite3_clear_bindings)       \
  X(sqlite3_step)                 \
  X(sqlite3_bind_int64)           \
  X(sqlite3_bind_text)            \
  X(sqlite3_column_int64)         \
  X(sqlite3_column_text)          \
  X(sqlite3_column_bytes)         \
  X(sqlite3_last_insert_rowid)    \
  X(sqlite3_get_autocommit)

struct Sqlite {
#define TAVSN_SQLITE_POINTER(name) decltype(&::name) name = nullptr;
  TAVSN_SQLITE_FUNCTIONS(TAVSN_SQLITE_POINTER)
#undef TAVSN_SQLITE_POINTER
};

// Loaded once per process and kept. Null when libsqlite3.so.0 cannot be
// loaded or lacks a call, with the reason in `error`.
const Sqlite* LoadSqlite(std::string& error);

}  // namespace tavsn::registry
