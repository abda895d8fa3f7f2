#pragma once
// Texts from outside (command-line arguments, identifiers a host sent) as a
// person reads them: counted in characters, and with nothing in them that a
// terminal would act on. UTF-8 is assumed; a byte that is not part of a
// well-formed UTF-8 sequence counts as one character of its own.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavsn::server {

// The length of the well-formed UTF-8 sequence at `offset` and its code
// point, or 0 when the byte there starts none (or `offset` is past the end).
std::size_t Utf8SequenceAt(const std::string& text, std::size_t offset, char32_t& code_point);

std::size_t CharacterCount(const std::string& text);
// The 0-based character index of the character that holds byte `offset`.
std::size_t CharacterIndex(const std::string& text, std::size_t offset);
// The character that holds byte `offset`, escaped for display.
std::string CharacterAt(const std::string& text, std::size_t offset);

// The text with every control character (C0, DEL, C1), line separator and
// direction override, and every byte that is not UTF-8, written as an
// escape: \n, \r, \t, \xHH or \uHHHH; so an argument can never start a
// line of its own in a report, or turn one around.
std::string EscapedForDisplay(const std::string& text);

}  // namespace tavsn::server
