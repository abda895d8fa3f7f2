#include "log/diag_log.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "base/no_destructor.h"
#include "log/diag_log_testing.h"

namespace tavsn {
namespace {

constexpr char kLogFileName[] = "tavsn.log";
constexpr std::size_t kPathCapacity = logos::kModulePathCapacity;

NoDestructor<DiagLog> g_process_log;

// Where the search for the file stands. The lock guards only the state,
// never the open itself: an open can be held up for as long as whoever
// holds an opportunistic lock on the file likes.
enum class LogSearch { kNotFound, kOpening, kFound };
SpinLock g_open_lock;
LogSearch g_log_search = LogSearch::kNotFound;

template <typename Integer>
std::size_t FormatInteger(Integer value, char* out, std::size_t capacity) {
  auto result = std::to_chars(out, out + capacity, value);
  return static_cast<std::size_t>(result.ptr - out);
}

}  // namespace

DiagLog& ProcessLog() { return g_process_log.get(); }

void CloseProcessLog() { ProcessLog().Close(); }

// --- DiagLine -------------------------------------------------------------

DiagLine::~DiagLine() { End(); }

void DiagLine::Append(const char* text, std::size_t length) {
  if (!started_) {
    started_ = true;
    dropped_ = !log_.active();
    // The prefix carries the time of the line's first piece.
    if (!dropped_) stamp_ = logos::TickMs();
  }
  if (dropped_) return;
  std::size_t room = kCapacity - length_;
  if (length > room) length = room;
  // Pieces carry texts of the machine (processor brand, firmware strings,
  // adapter names): a line break of theirs would start a line of their
  // choosing in the file, so each becomes a blank. No text of the library's
  // own lines has one.
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    pieces_[length_ + i] = (c == '\r' || c == '\n') ? ' ' : c;
  }
  length_ += length;
}

void DiagLine::End() {
  if (started_ && !dropped_) log_.WriteLine(stamp_, pieces_, length_);
  started_ = false;
  dropped_ = false;
  length_ = 0;
}

DiagLine& DiagLine::operator<<(const char* text) {
  if (text == nullptr) text = "";
  Append(text, std::strlen(text));
  return *this;
}

DiagLine& DiagLine::operator<<(int value) {
  char digits[24];
  Append(digits, FormatInteger(value, digits, sizeof digits));
  return *this;
}

DiagLine& DiagLine::operator<<(long value) {
  char digits[24];
  Append(digits, FormatInteger(value, digits, sizeof digits));
  return *this;
}

DiagLine& DiagLine::operator<<(unsigned int value) {
  char digits[24];
  Append(digits, FormatInteger(value, digits, sizeof digits));
  return *this;
}

DiagLine& DiagLine::operator<<(unsigned long value) {
  char digits[24];
  Append(digits, FormatInteger(value, digits, sizeof digits));
  return *this;
}

DiagLine& DiagLine::operator<<(DiagEndLine) {
  // A line end with no piece before it still ends a line in the file: a
  // bare newline, without a prefix.
  if (!started_) log_.WriteLineEnd();
  End();
  return *this;
}

// --- DiagLog --------------------------------------------------------------

DiagLine DiagLog::operator<<(const char* text) { return DiagLine(*this, text); }

DiagLine DiagLog::operator<<(int value) { return DiagLine(*this, value); }

DiagLine DiagLog::operator<<(long value) { return DiagLine(*this, value); }

DiagLine DiagLog::operator<<(unsigned int value) { return DiagLine(*this, value); }

DiagLine DiagLog::operator<<(unsigned long value) { return DiagLine(*this, value); }

bool DiagLog::at_line_start() const {
  SpinLockGuard lock(lock_);
  return at_line_start_;
}

void DiagLog::Attach(FileHandle file) {
  SpinLockGuard lock(lock_);
  file_ = std::move(file);
  failed_ = false;
  active_.store(file_.is_valid(), std::memory_order_release);
  if (!file_.is_valid()) return;

  char banner[80];
  FormatBanner(logos::UtcNow(), banner, sizeof banner);
  PutPiece(logos::TickMs(), banner, std::strlen(banner));
  PutLineEnd();
}

void DiagLog::Close() {
  SpinLockGuard lock(lock_);
  active_.store(false, std::memory_order_release);
  file_.reset();
  pending_length_ = 0;
}

void DiagLog::WriteLine(std::uint32_t stamp, const char* pieces, std::size_t length) {
  SpinLockGuard lock(lock_);
  if (!file_.is_valid()) return;
  PutPiece(stamp, pieces, length);
  PutLineEnd();
}

void DiagLog::WriteLineEnd() {
  SpinLockGuard lock(lock_);
  if (!file_.is_valid()) return;
  PutLineEnd();
}

void DiagLog::PutPiece(std::uint32_t stamp, const char* text, std::size_t length) {
  if (at_line_start_) {
    char prefix[16];
    PutBytes(prefix, FormatPrefix(stamp, prefix, sizeof prefix));
    at_line_start_ = false;
  }
  PutBytes(text, length);
}

void DiagLog::PutLineEnd() {
  PutBytes("\n", 1);
  Flush();
  at_line_start_ = true;
}

// The file is written in text mode: every newline becomes CR LF.
void DiagLog::PutBytes(const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (pending_length_ + 2 > sizeof pending_) Flush();
    if (text[i] == '\n') pending_[pending_length_++] = '\r';
    pending_[pending_length_++] = text[i];
  }
}

void DiagLog::Flush() {
  if (pending_length_ == 0) return;
  if (!failed_ && !logos::AppendBytes(file_, pending_, pending_length_)) failed_ = true;
  pending_length_ = 0;
}

// --- Formatting -------------------------------------------------------------

void FormatBanner(const logos::UtcTime& t, char* out, std::size_t capacity) {
  std::snprintf(out, capacity, "\n------------------ TavSN %04d-%02d-%02d %02d:%02d:%02d ------------------", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
}

std::size_t FormatPrefix(std::uint32_t stamp, char* out, std::size_t capacity) {
  int written = std::snprintf(out, capacity, "%8lu: ", static_cast<unsigned long>(stamp));
  if (written < 0) return 0;
  return static_cast<std::size_t>(written) < capacity ? static_cast<std::size_t>(written) : capacity - 1;
}

// --- Opening ----------------------------------------------------------------

namespace {

// The log's path: the library's folder, up to and including its last
// backslash (the whole module path when it has none), then "tavsn.log".
// False when no such path fits in `path`: a module path cut to fit may name
// a parent folder, and a log path cut to fit names some other file, and the
// log must never write into either.
bool LogPathBesideLibrary(char (&path)[kPathCapacity]) {
  const std::size_t folder_length = logos::LibraryFolderPath(path, sizeof path);
  if (folder_length == 0 || folder_length + sizeof kLogFileName > sizeof path) return false;
  std::memcpy(path + folder_length, kLogFileName, sizeof kLogFileName);
  return true;
}

}  // namespace

namespace {

// Only one thread looks at a time; the others go on without waiting, their
// lines dropped until the log is open.
bool BeginSearch() {
  SpinLockGuard lock(g_open_lock);
  if (g_log_search != LogSearch::kNotFound) return false;
  g_log_search = LogSearch::kOpening;
  return true;
}

void EndSearch(LogSearch outcome) {
  SpinLockGuard lock(g_open_lock);
  g_log_search = outcome;
}

}  // namespace

void OpenDiagLog() {
  if (!BeginSearch()) return;
  char path[kPathCapacity] = {};
  if (!LogPathBesideLibrary(path) || !logos::PathExists(path)) {
    EndSearch(LogSearch::kNotFound);
    return;
  }
  // A file that is there but cannot be opened, or is no plain file of its
  // own, keeps the log silent for the rest of the process; the open is not
  // tried again.
  FileHandle file = logos::OpenPlainFileForAppend(path);
  if (file.is_valid()) ProcessLog().Attach(std::move(file));
  EndSearch(LogSearch::kFound);
}

void ResetProcessLogForTesting() {
  SpinLockGuard lock(g_open_lock);
  ProcessLog().Close();
  SpinLockGuard log_lock(ProcessLog().lock_);
  ProcessLog().at_line_start_ = true;
  ProcessLog().failed_ = false;
  g_log_search = LogSearch::kNotFound;
}

}  // namespace tavsn
