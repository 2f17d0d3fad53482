// ascii_text: the small text helpers the logbook's files, tables and typed fields share.
//
// Case is changed and compared for ASCII letters only: calls, prefixes, states and file names
// are ASCII, and other bytes (code-page letters, UTF-8 lead bytes) must stay as they are. Blanks
// come in two kinds: spaces, which pad the fixed-width fields of a table, and the white space
// (space, tab, CR, LF) that may surround a typed or read number or item.
//
// Pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

inline char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

inline std::string AsciiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

// Equal but for the case of ASCII letters.
inline bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// `text` without the spaces at its ends.
inline std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

inline bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// `text` without the white space at its ends.
inline std::string_view TrimWhiteSpace(std::string_view text) {
  while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Takes a leading '+' or '-' off `text`; true when it was '-'.
inline bool TakeSign(std::string_view& text) {
  if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
  const bool negative = text.front() == '-';
  text.remove_prefix(1);
  return negative;
}

}  // namespace quillmere
