#pragma once
// A small streaming JSON writer for the tool's --json output: objects,
// arrays, strings, numbers and booleans, with commas placed for the caller.

#include <cstdio>
#include <string>
#include <vector>

namespace tavsn::cli {

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
  void Quote(const std::string& value) {
    text_ += '"';
    for (unsigned char c : value) {
      if (c == '"' || c == '\\') {
        text_ += '\\';
        text_ += static_cast<char>(c);
      } else if (c < 0x20 || c >= 0x7F) {
        // Firmware and log texts may hold any byte: each is kept as its own
        // code point, so the output stays valid JSON whatever the encoding.
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        text_ += escaped;
      } else {
        text_ += static_cast<char>(c);
      }
    }
    text_ += '"';
  }

  std::string text_;
  std::vector<bool> first_;
  bool after_key_ = false;
};

}  // namespace tavsn::cli
