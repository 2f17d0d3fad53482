// text_utils: small text helpers shared by the server's core: printf-style formatting of log and
// error lines, ASCII case folding, trimming, number parsing in the C locale whatever the user's
// locale is, and splitting of '|'-separated entries of rig description files.
//
// All functions are pure and safe to call from any thread.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvane {

// printf-style formatting into a std::string ("RIG%d sending %s command: %s").
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The same with the arguments already gathered.
std::string FormatV(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));

// ASCII upper-casing; bytes above 127 are left alone.
std::string UpperCase(std::string_view s);
// Case-insensitive (ASCII) equality and three-way comparison.
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
// True when `s` begins with `prefix`, ignoring case.
bool StartsText(std::string_view prefix, std::string_view s);

// Removes characters with codes 0 to 32 from both ends.
std::string Trim(std::string_view s);

// A signed 32-bit decimal integer: leading blanks, an optional sign, digits and nothing after.
std::optional<int32_t> TryStrToInt(std::string_view s);
// A decimal number with '.' as the separator and an optional exponent; blanks around it allowed.
// Infinities, NaN and hexadecimal forms are refused.
std::optional<double> TryStrToFloat(std::string_view s);

// Splits a '|'-separated entry the way the rig description files expect: leading control
// characters are skipped; an item beginning with '"' is quoted (a doubled quote stands for one);
// other items run up to the next control character or '|'; blanks belong to the items; two
// adjacent delimiters give an empty item and a trailing delimiter adds none.
std::vector<std::string> SplitDelimitedText(std::string_view text, char delimiter = '|');

}  // namespace tarvane
