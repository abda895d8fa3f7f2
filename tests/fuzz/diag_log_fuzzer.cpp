// libFuzzer target for the log's insertions: texts (of any length, newlines
// and all), int, long, unsigned and unsigned long numbers and diag_endl, on
// two lines open at once and on chains begun on the log itself, with the log
// opened late, closed early and writes failing, over the fake log layer.
//
// Checked beyond what the sanitizers see:
// - after every single insertion, what reached the fake file since the one
//   before is nothing, a bare CR LF, or one whole line: the time stamp
//   right-aligned in at least 8 characters and ": ", at most 2048 bytes of
//   pieces (each CR or LF in them written as a blank; only the banner's own
//   newline is written as CR LF), and CR LF;
// - the file as a whole is exactly what the plain rules give: a line's
//   pieces reach the file together when the line ends, cut at 2048 bytes,
//   stamped when its first piece came; a line begun while the log was
//   closed is dropped; after a failed write nothing more is written.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "log/diag_log.h"
#include "tests/fakes/fake_log_platform.h"

namespace {

using tavsn::diag_endl;
using tavsn::DiagLine;
namespace fakelog = tavsn::fakelog;

constexpr std::size_t kCapacity = DiagLine::kCapacity;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

std::string FileText() { return fakelog::ProcessLogText(); }

// The log as the plain rules describe it.
struct PlainLog {
  bool found = false;  // the file was looked for and opened once
  bool open = false;
  bool failed = false;
  std::uint32_t tick = 0, step = 0;
  std::string file;

  std::uint32_t Stamp() {
    const std::uint32_t now = tick;
    tick += step;
    return now;
  }
  void Write(const std::string& bytes, bool writes_fail) {
    if (failed) return;
    if (writes_fail)
      failed = true;
    else
      file += bytes;
  }
  static std::string Line(std::uint32_t stamp, const std::string& pieces) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%8lu: ", static_cast<unsigned long>(stamp));
    std::string line = prefix;
    for (char c : pieces) {
      if (c == '\n') line += '\r';
      line += c;
    }
    return line + "\r\n";
  }
};

struct PlainLine {
  bool started = false, dropped = false;
  std::uint32_t stamp = 0;
  std::string pieces;
};

struct Harness {
  PlainLog plain;
  std::size_t checked = 0;  // file bytes already checked

  void Piece(PlainLine& line, const std::string& text) {
    if (!line.started) {
      line.started = true;
      line.dropped = !plain.open;
      if (!line.dropped) line.stamp = plain.Stamp();
    }
    if (line.dropped) return;
    // A carriage return or line feed inside a piece is written as a blank,
    // so that no text ends a line of its own.
    std::string piece = text.substr(0, kCapacity - line.pieces.size());
    for (char& c : piece) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    line.pieces += piece;
  }
  void End(PlainLine& line) {
    if (line.started && !line.dropped && plain.open) {
      plain.Write(PlainLog::Line(line.stamp, line.pieces), fakelog::state().writes_fail);
    }
    line = PlainLine{};
  }
  void EndLine(PlainLine& line) {
    if (!line.started && plain.open) plain.Write("\r\n", fakelog::state().writes_fail);
    End(line);
  }

  // What reached the file since the last check, on its own.
  void CheckNewBytes() {
    const std::string file = FileText();
    Require(file.size() >= checked, "the file shrank");
    const std::string added = file.substr(checked);
    checked = file.size();
    if (added.empty() || added == "\r\n") return;
    Require(added.size() >= 2 && added.compare(added.size() - 2, 2, "\r\n") == 0, "line does not end in CR LF");
    std::size_t blanks = 0;
    while (blanks < added.size() && added[blanks] == ' ') ++blanks;
    std::size_t digits = 0;
    while (blanks + digits < added.size() && added[blanks + digits] >= '0' && added[blanks + digits] <= '9') ++digits;
    Require(digits >= 1 && digits <= 10, "prefix has no stamp");
    Require(blanks + digits >= 8, "prefix narrower than 8");
    Require(blanks == 0 || blanks + digits == 8, "prefix padded beyond 8");
    Require(added.compare(blanks + digits, 2, ": ") == 0, "prefix not followed by ': '");
    const std::size_t prefix = blanks + digits + 2;
    Require(added.size() >= prefix + 2, "line shorter than its prefix");
    std::size_t newlines = 0;
    for (std::size_t i = prefix; i + 2 < added.size(); ++i) {
      if (added[i] == '\n') {
        Require(added[i - 1] == '\r', "newline in a line not written as CR LF");
        ++newlines;
      }
    }
    Require(added.size() - prefix - 2 - newlines <= kCapacity, "line longer than its capacity");
  }
};

std::string PickText(FuzzedDataProvider& input) {
  const std::uint8_t form = input.ConsumeIntegral<std::uint8_t>();
  if (form < 200) return input.ConsumeRandomLengthString(64);
  // A long text from a short input: a fuzzed piece repeated, often to about
  // the capacity of a line or beyond.
  std::string chunk = input.ConsumeRandomLengthString(16);
  if (chunk.empty()) chunk = "x";
  const std::size_t length = form < 230 ? input.ConsumeIntegralInRange<std::size_t>(kCapacity - 8, kCapacity + 8)
                                        : input.ConsumeIntegralInRange<std::size_t>(0, 3 * kCapacity);
  std::string text;
  while (text.size() < length) text += chunk;
  text.resize(length);
  return text;
}

// One piece or a line end into `line`, and into the plain model of it.
void Insert(Harness& harness, FuzzedDataProvider& input, DiagLine& line, PlainLine& plain, std::uint8_t kind) {
  switch (kind % 8) {
    case 0:
    case 1: {
      const std::string text = PickText(input);
      line << text.c_str();
      harness.Piece(plain, std::string(text.c_str()));
      break;
    }
    case 2: {
      const int value = input.ConsumeIntegral<int>();
      line << value;
      harness.Piece(plain, std::to_string(value));
      break;
    }
    case 3: {
      const long value = input.ConsumeIntegral<long>();
      line << value;
      harness.Piece(plain, std::to_string(value));
      break;
    }
    case 4: {
      const unsigned value = input.ConsumeIntegral<unsigned>();
      line << value;
      harness.Piece(plain, std::to_string(value));
      break;
    }
    case 5: {
      const unsigned long value = input.ConsumeIntegral<unsigned long>();
      line << value;
      harness.Piece(plain, std::to_string(value));
      break;
    }
    case 6: {
      line << static_cast<const char*>(nullptr);
      harness.Piece(plain, "");
      break;
    }
    case 7:
      line << diag_endl;
      harness.EndLine(plain);
      break;
  }
}

// The rest of a chain whose first piece, `first_text`, went in when the
// argument was made; the chain ends when the caller's statement does.
void ContinueChain(Harness& harness, FuzzedDataProvider& input, DiagLine&& chain, PlainLine& plain,
                   const std::string& first_text) {
  harness.Piece(plain, first_text);
  harness.CheckNewBytes();
  const std::size_t more = input.ConsumeIntegralInRange<std::size_t>(0, 4);
  for (std::size_t i = 0; i < more; ++i) {
    Insert(harness, input, chain, plain, input.ConsumeIntegral<std::uint8_t>());
    harness.CheckNewBytes();
  }
}

template <typename First>
void Chain(Harness& harness, FuzzedDataProvider& input, First first, const std::string& first_text) {
  PlainLine plain;
  ContinueChain(harness, input, tavsn::ProcessLog() << first, plain, first_text);
  harness.End(plain);
  harness.CheckNewBytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  fakelog::Reset();
  Harness harness;
  const std::uint8_t setup = input.ConsumeIntegral<std::uint8_t>();
  fakelog::state().tick_ms = input.ConsumeIntegral<std::uint32_t>();
  fakelog::state().tick_step =
      (setup & 0x02) ? input.ConsumeIntegral<std::uint32_t>() : input.ConsumeIntegral<std::uint8_t>();
  harness.plain.tick = fakelog::state().tick_ms;
  harness.plain.step = fakelog::state().tick_step;

  auto open_log = [&] {
    if (harness.plain.found) return;
    fakelog::EnableProcessLog();
    harness.plain.found = true;
    harness.plain.open = true;
    harness.plain.failed = false;
    const std::uint32_t stamp = harness.plain.Stamp();
    harness.plain.Write(PlainLog::Line(stamp, "\n------------------ TavSN 2021-03-14 08:15:02 ------------------"),
                        fakelog::state().writes_fail);
    harness.CheckNewBytes();
  };
  if ((setup & 0x01) == 0) open_log();

  {
    // Two lines open at once, each ending on its own.
    std::optional<DiagLine> lines[2];
    PlainLine plain_lines[2];
    for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
      const std::uint8_t op = input.ConsumeIntegral<std::uint8_t>();
      const int which = op & 1;
      switch ((op >> 1) % 8) {
        case 0:
        case 1:
        case 2:
          if (!lines[which]) lines[which].emplace(tavsn::ProcessLog());
          Insert(harness, input, *lines[which], plain_lines[which], input.ConsumeIntegral<std::uint8_t>());
          break;
        case 3:
          // The line object goes away: its line ends, if it has begun.
          lines[which].reset();
          harness.End(plain_lines[which]);
          break;
        case 4: {
          // A chain begun on the log itself, ended with the statement.
          switch (input.ConsumeIntegral<std::uint8_t>() % 6) {
            case 0: {
              const std::string text = PickText(input);
              Chain(harness, input, text.c_str(), std::string(text.c_str()));
              break;
            }
            case 1: {
              const int value = input.ConsumeIntegral<int>();
              Chain(harness, input, value, std::to_string(value));
              break;
            }
            case 2: {
              const long value = input.ConsumeIntegral<long>();
              Chain(harness, input, value, std::to_string(value));
              break;
            }
            case 3: {
              const unsigned value = input.ConsumeIntegral<unsigned>();
              Chain(harness, input, value, std::to_string(value));
              break;
            }
            case 4: {
              const unsigned long value = input.ConsumeIntegral<unsigned long>();
              Chain(harness, input, value, std::to_string(value));
              break;
            }
            case 5: {
              // The form the product writes.
              const int value = input.ConsumeIntegral<int>();
              tavsn::ProcessLog() << "Count [ " << value << " ]" << diag_endl;
              PlainLine literal;
              harness.Piece(literal, "Count [ " + std::to_string(value) + " ]");
              harness.EndLine(literal);
              break;
            }
          }
          break;
        }
        case 5: fakelog::state().writes_fail = !fakelog::state().writes_fail; break;
        case 6: open_log(); break;
        case 7:
          if (op & 0x80) {
            tavsn::CloseProcessLog();
            harness.plain.open = false;
          }
          break;
      }
      harness.CheckNewBytes();
    }
    for (int which = 0; which < 2; ++which) {
      lines[which].reset();
      harness.End(plain_lines[which]);
      harness.CheckNewBytes();
    }
  }

  Require(FileText() == harness.plain.file, "the file differs from the plain rules");
  return 0;
}
