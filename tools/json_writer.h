#pragma once
// The tool writes its JSON with the server library's writer, so that the
// registry's answers read the same from the tool and from the C API.
#include "server/json_writer.h"

namespace tavsn::cli {
using server::JsonWriter;
}  // namespace tavsn::cli
