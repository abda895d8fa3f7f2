#pragma once
// What every command writes of an identifier, as text and as JSON, once.

#include <string>
#include <vector>

#include "server/identifier.h"
#include "tools/json_writer.h"

namespace tavsn::cli {

const char* KindName(server::IdentifierKind kind);  // "mac", "machine"
const char* ParseStatusName(server::ParseStatus status);
std::string Joined(const std::vector<std::string>& words, const char* separator);
std::vector<std::string> ComponentNames(unsigned components);

// Text lines about one identifier, indented under a caller's heading: its
// fields, its evidence and what the DLL never writes; or why it is malformed.
std::string DescribeIdentifier(const server::ParsedIdentifier& parsed, const std::string& text);
// The same as JSON members of the caller's object.
void DecodedJson(const server::ParsedIdentifier& parsed, const std::string& text, JsonWriter& json);

}  // namespace tavsn::cli
