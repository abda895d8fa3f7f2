// What the Wine test hosts tell their scripts: one "host: " line on standard
// error per fact, flushed at once so that a crash loses nothing before it,
// and byte strings as uppercase hex. export_host.py and the test scripts
// read these lines back.
#ifndef TAVSN_TESTS_WINE_HOST_REPORT_H
#define TAVSN_TESTS_WINE_HOST_REPORT_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>

inline void ReportLine(const char* format, va_list args) {
  std::fputs("host: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputs("\n", stderr);
  std::fflush(stderr);
}

inline void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void Report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportLine(format, args);
  va_end(args);
}

inline std::string Hex(const unsigned char* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

#endif  // TAVSN_TESTS_WINE_HOST_REPORT_H
