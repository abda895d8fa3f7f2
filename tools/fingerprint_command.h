#pragma once
// The tool's fingerprint commands: verify a fingerprint against a machine's
// facts, and decode, which can only say what it is.

#include <optional>
#include <string>
#include <vector>

#include "tools/cli.h"
#include "tools/command_line.h"
#include "tools/json_writer.h"

namespace tavsn::cli {

// A text of a fingerprint's length (31 characters) that is not an
// identifier cut short: handled as a fingerprint.
bool IsFingerprintText(const std::string& text);

// An option that applies to a fingerprint only, when one was given.
std::optional<std::string> FingerprintOnlyOption(const CommandLine& line);

// tavsn verify FINGERPRINT [--cpu-vendor V | --cpuid-leaf0 HEX] [--highest-leaf N] [--brand TEXT]
// [--mhz N] [--memory-bytes N] [--disk-bytes N] [--mac FIRST [--mac OTHER]...].
int VerifyFingerprint(const std::string& text, const CommandLine& line, std::string& out, std::string& err);

// decode's lines (or JSON members) for one fingerprint; gives its exit code.
int DescribeFingerprint(const std::string& text, bool as_json, JsonWriter& json, std::string& out);

}  // namespace tavsn::cli
