#pragma once
// A small streaming JSON writer for the tool's --json output and the
// registry's answers in JSON (the same texts either way): objects,
// arrays, strings, numbers and booleans, with commas placed for the caller.

#include <cstdio>
#include <string>
#include <vector>

#include "server/display_text.h"

namespace tavsn::server {

class JsonWriter {
 public:
  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }

  JsonWriter& Key(const std::string& key) {
    Separate();
    Quote(key);
    text_ += ':';
    after_key_ = true;
    return *this;
  }
  JsonWriter& String(const std::string& value) {
    Separate();
    Quote(value);
    return *this;
  }
  JsonWriter& Number(long long value) {
    Separate();
    text_ += std::to_string(value);
    return *this;
  }
  // A probability or another real number: the shortest text that reads back
  // as the same double ("1e-05", "0.005", "0").
  JsonWriter& Real(double value) {
    Separate();
    char text[32];
    for (int digits = 1; digits <= 17; ++digits) {
      std::snprintf(text, sizeof text, "%.*g", digits, value);
      if (std::strtod(text, nullptr) == value) break;
    }
    text_ += text;
    return *this;
  }
  JsonWriter& Bool(bool value) {
    Separate();
    text_ += value ? "true" : "false";
    return *this;
  }
  JsonWriter& Null() {
    Separate();
    text_ += "null";
    return *this;
  }
  JsonWriter& Strings(const std::vector<std::string>& values) {
    BeginArray();
    for (const std::string& value : values) String(value);
    return EndArray();
  }

  const std::string& text() const { return text_; }

 private:
  JsonWriter& Open(char bracket) {
    Separate();
    text_ += bracket;
    first_.push_back(true);
    return *this;
  }
  JsonWriter& Close(char bracket) {
    text_ += bracket;
    first_.pop_back();
    return *this;
  }
  // A comma before every element but the first of its container; none
  // between a key and its value.
  void Separate() {
    if (after_key_) {
      after_key_ = false;
      return;
    }
    if (first_.empty()) return;
    if (!first_.back()) text_ += ',';
    first_.back() = false;
  }
  // ASCII out: UTF-8 characters as their \u escapes (a surrogate pair past
  // U+FFFF), so that a text comes back as it went in. A byte that is no
  // UTF-8 (firmware and log texts may hold any) is kept as the code point of
  // its value, so the output stays valid JSON whatever the encoding.
  void Quote(const std::string& value) {
    text_ += '"';
    for (std::size_t at = 0; at < value.size();) {
      char32_t c = 0;
      std::size_t length = Utf8SequenceAt(value, at, c);
      if (length == 0) {
        c = static_cast<unsigned char>(value[at]);
        length = 1;
      }
      at += length;
      if (c == '"' || c == '\\') {
        text_ += '\\';
        text_ += static_cast<char>(c);
      } else if (c >= 0x20 && c < 0x7F) {
        text_ += static_cast<char>(c);
      } else if (c > 0xFFFF) {
        Escape(0xD800 + ((c - 0x10000) >> 10));
        Escape(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        Escape(c);
      }
    }
    text_ += '"';
  }
  void Escape(char32_t unit) {
    char escaped[16];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
    text_ += escaped;
  }

  std::string text_;
  std::vector<bool> first_;
  bool after_key_ = false;
};

}  // namespace tavsn::server
