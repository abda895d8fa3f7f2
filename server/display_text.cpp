#include "server/display_text.h"

#include <cstdio>

namespace tavsn::server {
namespace {

bool Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Where the character that holds byte `offset` starts.
std::size_t CharacterStart(const std::string& text, std::size_t offset) {
  std::size_t at = 0;
  char32_t code_point = 0;
  while (at < text.size()) {
    const std::size_t length = Utf8SequenceAt(text, at, code_point);
    const std::size_t next = at + (length == 0 ? 1 : length);
    if (offset < next) return at;
    at = next;
  }
  return at;
}

void AppendEscape(const char* format, unsigned value, std::string& out) {
  char escape[16];
  std::snprintf(escape, sizeof escape, format, value);
  out += escape;
}

}  // namespace

std::size_t Utf8SequenceAt(const std::string& text, std::size_t offset, char32_t& code_point) {
  if (offset >= text.size()) return 0;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[offset + i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  char32_t value = 0, lowest = 0;
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (offset + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if (!Continuation(byte(i))) return 0;
    value = value << 6 | (byte(i) & 0x3F);
  }
  // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not UTF-8.
  if (value < lowest || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0;
  code_point = value;
  return length;
}

std::size_t CharacterCount(const std::string& text) { return CharacterIndex(text, text.size()); }

std::size_t CharacterIndex(const std::string& text, std::size_t offset) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size() && at < offset; ++count) {
    char32_t code_point = 0;
    const std::size_t length = Utf8SequenceAt(text, at, code_point);
    const std::size_t next = at + (length == 0 ? 1 : length);
    if (offset < next) break;
    at = next;
  }
  return count;
}

std::string CharacterAt(const std::string& text, std::size_t offset) {
  if (offset >= text.size()) return {};
  const std::size_t start = CharacterStart(text, offset);
  char32_t code_point = 0;
  const std::size_t length = Utf8SequenceAt(text, start, code_point);
  return EscapedForDisplay(text.substr(start, length == 0 ? 1 : length));
}

std::string EscapedForDisplay(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    char32_t code_point = 0;
    const std::size_t length = Utf8SequenceAt(text, at, code_point);
    if (length == 0) {
      AppendEscape("\\x%02X", static_cast<unsigned char>(text[at]), out);
      at += 1;
      continue;
    }
    if (code_point == '\n') {
      out += "\\n";
    } else if (code_point == '\r') {
      out += "\\r";
    } else if (code_point == '\t') {
      out += "\\t";
    } else if (code_point < 0x20 || code_point == 0x7F) {
      AppendEscape("\\x%02X", static_cast<unsigned>(code_point), out);
    } else if ((code_point >= 0x80 && code_point < 0xA0) || (code_point >= 0x2028 && code_point <= 0x202E) ||
               (code_point >= 0x2066 && code_point <= 0x2069)) {
      // C1 controls, and the line separators and direction overrides that
      // would let a text rearrange the line it stands in.
      AppendEscape("\\u%04X", static_cast<unsigned>(code_point), out);
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out;
}

}  // namespace tavsn::server
