#pragma once
// What every C entry point of the server library (server/c_api.cpp,
// registry/c_api.cpp) does around its body: no C++ exception ever crosses
// into a C caller.

#include "tavsn_server.h"

namespace tavsn::server {

// Runs `body`, turning an exception (only std::bad_alloc can arise) into a code.
template <typename Body>
int Guarded(Body body) {
  try {
    return body();
  } catch (...) {
    return TAVSN_SERVER_ERROR_INTERNAL;
  }
}

}  // namespace tavsn::server
