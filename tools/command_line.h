#pragma once
// The tool's command line, read by GNU conventions: options anywhere, as
// "--name value" or "--name=value"; "--" ends them; each command takes
// only its own.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tavsn::cli {

struct CommandLine {
  bool json = false;
  bool help = false;
  bool version = false;
  bool trace = false;
  std::vector<std::string> positional;
  std::vector<std::string> given;  // every option named, in order
  std::multimap<std::string, std::string> values;
  std::string error;  // the first one
};

CommandLine Split(const std::vector<std::string>& args);

// An option given that `command` ("" for the report of this machine) does
// not take, or nothing.
std::optional<std::string> ForeignOption(const CommandLine& line, const std::string& command);

std::optional<std::string> Value(const CommandLine& line, const char* option);
std::vector<std::string> Values(const CommandLine& line, const char* option);
// The value of an option that may be given once; `error` says so otherwise.
std::optional<std::string> Option(const CommandLine& line, const char* option, std::string& error);

}  // namespace tavsn::cli
