#include "tools/command_line.h"

#include <algorithm>

#include "server/display_text.h"

namespace tavsn::cli {
namespace {

using server::EscapedForDisplay;

// Options that take a value, as "--mac VALUE" or "--mac=VALUE".
const char* const kValueOptions[] = {"--mac", "--list-order", "--mac-source", "--cpu-text", "--serial", "--uuid-text",
                                     "--policy", "--max-changed", "--must-keep", "--threshold", "--bundle",
                                     // a fingerprint's facts
                                     "--cpu-vendor", "--cpuid-leaf0", "--highest-leaf", "--brand", "--mhz",
                                     "--memory-bytes", "--disk-bytes",
                                     // the registry
                                     "--db", "--scope", "--seats", "--time"};
const char* const kFlagOptions[] = {"--json", "--help", "--version", "--trace"};

template <std::size_t N>
bool OneOf(const std::string& option, const char* const (&options)[N]) {
  return std::find(std::begin(options), std::end(options), option) != std::end(options);
}

// The options each command takes besides --json, --help and --version.
struct CommandOptions {
  const char* command;
  std::vector<std::string> options;
};
const CommandOptions kCommandOptions[] = {
    {"decode", {}},
    {"verify",
     {"--mac", "--list-order", "--mac-source", "--cpu-text", "--serial", "--uuid-text",
      // a fingerprint's facts
      "--cpu-vendor", "--cpuid-leaf0", "--highest-leaf", "--brand", "--mhz", "--memory-bytes", "--disk-bytes"}},
    {"compare", {"--policy", "--max-changed", "--must-keep", "--threshold", "--bundle"}},
    {"registry check-in", {"--db", "--scope", "--seats", "--time"}},
    {"registry identify", {"--db"}},
    {"registry history", {"--db"}},
    {"registry audit", {"--db"}},
    {"registry export", {"--db"}},
    {"registry import", {"--db"}},
    {"registry", {"--db", "--scope", "--seats", "--time"}},  // an unknown subcommand: reported as such
    {"", {"--trace"}},                                       // this machine's report
};

}  // namespace

// GNU conventions: options anywhere, "--name=value" or "--name value",
// "--" ends the options, "-" alone is an argument, "-h" is --help.
CommandLine Split(const std::vector<std::string>& args) {
  CommandLine line;
  bool options_ended = false;
  // After an error the rest is still read for --json, so that the error
  // comes as JSON when asked; the first error is the one reported.
  const auto fail = [&](const std::string& error) {
    if (line.error.empty()) line.error = error;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_ended || a == "-" || a.empty() || a[0] != '-') {
      line.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      options_ended = true;
      continue;
    }
    const std::size_t equals = a.find('=');
    const std::string name = a == "-h" ? "--help" : a.substr(0, equals);
    line.given.push_back(name);
    if (OneOf(name, kValueOptions)) {
      if (equals == std::string::npos && i + 1 == args.size()) {
        fail(name + " needs a value");
      } else {
        line.values.emplace(name, equals == std::string::npos ? args[++i] : a.substr(equals + 1));
      }
    } else if (!OneOf(name, kFlagOptions)) {
      fail("unknown option " + EscapedForDisplay(name));
    } else if (equals != std::string::npos) {
      fail(name + " takes no value");
    } else {
      (name == "--json"      ? line.json
       : name == "--help"    ? line.help
       : name == "--version" ? line.version
                             : line.trace) = true;
    }
  }
  return line;
}

// An option given that `command` does not take, or nothing.
std::optional<std::string> ForeignOption(const CommandLine& line, const std::string& command) {
  for (const CommandOptions& entry : kCommandOptions) {
    if (entry.command != command) continue;
    for (const std::string& option : line.given) {
      if (option == "--json" || option == "--help" || option == "--version") continue;
      if (std::find(entry.options.begin(), entry.options.end(), option) == entry.options.end()) return option;
    }
  }
  return std::nullopt;
}

std::optional<std::string> Value(const CommandLine& line, const char* option) {
  const auto found = line.values.find(option);
  return found == line.values.end() ? std::nullopt : std::optional<std::string>(found->second);
}

std::vector<std::string> Values(const CommandLine& line, const char* option) {
  std::vector<std::string> values;
  const auto range = line.values.equal_range(option);
  for (auto it = range.first; it != range.second; ++it) values.push_back(it->second);
  return values;
}

std::optional<std::string> Option(const CommandLine& line, const char* option, std::string& error) {
  if (line.values.count(option) > 1) error = std::string(option) + " may be given once";
  return Value(line, option);
}

}  // namespace tavsn::cli
