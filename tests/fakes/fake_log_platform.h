#pragma once
// A stand-in for the log's Windows layer: an in-memory file system, a clock
// and a module path that tests set.
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "log/log_platform.h"

namespace tavsn::fakelog {

constexpr char kLibraryPath[] = "C:\\Program Files\\Host\\tavsn.dll";
constexpr char kLogPath[] = "C:\\Program Files\\Host\\tavsn.log";

struct State {
  std::uint32_t tick_ms = 1000;
  // Added to tick_ms after every reading, so that lines get distinct stamps.
  std::uint32_t tick_step = 0;
  logos::UtcTime now{2021, 3, 14, 8, 15, 2};
  std::string library_path = kLibraryPath;
  bool library_path_fails = false;
  std::map<std::string, std::string> files;  // path -> content
  std::set<std::string> directories;
  std::set<std::string> read_only;  // exist, but cannot be opened
  // Files that open but are no plain file of their own: hard links, links,
  // pipes. The real layer closes them again.
  std::set<std::string> not_plain;
  std::function<void()> during_open;  // runs inside every open
  bool writes_fail = false;
  int opens = 0;
  int open_handles = 0;
  int path_checks = 0;
  std::vector<std::string> checked_paths;  // in the order they were tested
  int writes = 0;                          // AppendBytes calls, failed ones too
  int tick_reads = 0;
};

State& state();

// Empties the fake file system and returns the process log to its state at
// load.
void Reset();

// Puts an empty "tavsn.log" beside the library and opens the process log.
void EnableProcessLog();

// What the process log wrote, CR LF as in the file.
std::string ProcessLogText();

// The lines after the banner, without prefixes and without CR LF.
std::string ProcessLogLines();

}  // namespace tavsn::fakelog
