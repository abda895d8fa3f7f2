#pragma once
// The opt-in diagnostic log "tavsn.log". Subsystems write lines in stream
// form:
//
//   DiagLine(ProcessLog()) << "GetMacSN Mac Count [ " << count << " ]";
//
// or, equivalently, starting the chain on the log itself:
//
//   ProcessLog() << "GetMacSN Mac Count [ " << count << " ]" << diag_endl;
//
// A line collects its pieces and reaches the file whole when it ends: at
// diag_endl, or at the end of the statement if diag_endl was left out. Lines
// of several threads therefore never interleave, and a line that was never
// ended cannot run into the next one.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/resources.h"
#include "base/spin_lock.h"
#include "log/log_platform.h"

namespace tavsn {

class DiagLog;

struct DiagEndLine {};
inline constexpr DiagEndLine diag_endl{};

class DiagLine {
 public:
  explicit DiagLine(DiagLog& log) : log_(log) {}
  DiagLine(const DiagLine&) = delete;
  DiagLine& operator=(const DiagLine&) = delete;
  ~DiagLine();

  DiagLine& operator<<(const char* text);
  DiagLine& operator<<(int value);
  DiagLine& operator<<(long value);
  DiagLine& operator<<(unsigned int value);
  DiagLine& operator<<(unsigned long value);
  DiagLine& operator<<(DiagEndLine);

  // Lines longer than this are cut; the longest real line is under 700.
  static constexpr std::size_t kCapacity = 2048;

 private:
  friend class DiagLog;
  template <typename Piece>
  DiagLine(DiagLog& log, Piece first) : log_(log) {
    *this << first;
  }

  void Append(const char* text, std::size_t length);
  void End();

  DiagLog& log_;
  bool started_ = false;
  bool dropped_ = false;  // begun while the log was closed
  std::uint32_t stamp_ = 0;
  std::size_t length_ = 0;
  char pieces_[kCapacity];
};

class DiagLog {
 public:
  DiagLog() = default;
  DiagLog(const DiagLog&) = delete;
  DiagLog& operator=(const DiagLog&) = delete;
  ~DiagLog() = default;

  // Each of these begins a line; see DiagLine.
  DiagLine operator<<(const char* text);
  DiagLine operator<<(int value);
  DiagLine operator<<(long value);
  DiagLine operator<<(unsigned int value);
  DiagLine operator<<(unsigned long value);

  bool active() const { return active_.load(std::memory_order_acquire); }
  bool at_line_start() const;

  // Adopts an open file and writes the banner. Used by OpenDiagLog.
  void Attach(FileHandle file);
  // Closes the file; the log is silent afterwards.
  void Close();

  // Writes one whole line: the prefix with `stamp`, the pieces, the line end.
  // Nothing at all happens while the log is not active.
  void WriteLine(std::uint32_t stamp, const char* pieces, std::size_t length);
  // Writes a line end alone, as diag_endl does at the start of a line.
  void WriteLineEnd();

 private:
  friend class DiagLine;
  friend void OpenDiagLog();
  friend void ResetProcessLogForTesting();

  // The stream primitives; the caller holds lock_.
  void PutPiece(std::uint32_t stamp, const char* text, std::size_t length);
  void PutLineEnd();
  void PutBytes(const char* text, std::size_t length);

  void Flush();

  mutable SpinLock lock_;
  std::atomic<bool> active_{false};
  bool at_line_start_ = true;
  // A failed write is never retried: the rest of the process's lines are
  // dropped, as a failed stream would drop them.
  bool failed_ = false;
  FileHandle file_;
  // The line being assembled, newlines already written as CR LF, so that
  // each line costs one write to the operating system.
  std::size_t pending_length_ = 0;
  char pending_[2 * DiagLine::kCapacity + 64];
};

// The one log of the process, constructed when the library is loaded and
// never destroyed: CloseProcessLog closes its file when the library is
// unloaded, and a process that is ending closes it itself.
DiagLog& ProcessLog();
void CloseProcessLog();

// Looks for "tavsn.log" beside the library until it is found once, then
// opens it for the rest of the process and writes the banner, only when it
// is a plain file of its own (see logos::OpenPlainFileForAppend). Safe to
// call from several threads at once: a thread that comes while another is
// looking goes on without waiting, with the log as it is.
void OpenDiagLog();

// The banner's text, 64 characters with its leading newline, into `out`
// (at least 65 bytes).
void FormatBanner(const logos::UtcTime& time, char* out, std::size_t capacity);

// The line prefix: the stamp right-aligned in 8 characters, then ": ".
// Returns the number of characters written (at most 12, plus a zero).
std::size_t FormatPrefix(std::uint32_t stamp, char* out, std::size_t capacity);

}  // namespace tavsn
