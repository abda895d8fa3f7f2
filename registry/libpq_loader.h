#pragma once
// libpq, PostgreSQL's client library, loaded when the first PostgreSQL
// location is opened rather than linked: the server library, the tool and
// the Python wheel then run on hosts that have no libpq (SQLite alone), and
// the wheel's library needs nothing outside the manylinux set. The header
// gives the types and checks every signature against the real library's.

#include <libpq-fe.h>

#include <string>

namespace tavsn::registry {

// Every libpq call the PostgreSQL engine makes, one pointer each.
#define TAVSN_LIBPQ_FUNCTIONS(X) \
  X(PQconnectdb)                 \
  X(PQfinish)                    \
  X(PQstatus)                    \
  X(PQerrorMessage)              \
  X(PQsetNoticeProcessor)        \
  X(PQexec)                      \
  X(PQexecParams)                \
  X(PQprepare)                   \
  X(PQexecPrepared)              \
  X(PQresultStatus)              \
  X(PQresultErrorMessage)        \
  X(PQresultErrorField)          \
  X(PQclear)                     \
  X(PQntuples)                   \
  X(PQgetvalue)                  \
  X(PQgetlength)                 \
  X(PQgetisnull)                 \
  X(PQtransactionStatus)

struct Libpq {
#define TAVSN_LIBPQ_POINTER(name) decltype(&::name) name = nullptr;
  TAVSN_LIBPQ_FUNCTIONS(TAVSN_LIBPQ_POINTER)
#undef TAVSN_LIBPQ_POINTER
};

// The library, loaded once per process and kept until it ends (a
// connection's code must never be unmapped under it). Null when libpq.so.5
// cannot be loaded or lacks a call, with the reason in `error`.
const Libpq* LoadLibpq(std::string& error);

}  // namespace tavsn::registry
