// cp1252_text: the logbook's tables hold text as CP1252 bytes (the engine's code page); files
// written for other programs (ADIF) carry UTF-8. These functions convert between the two and test
// whether bytes are well-formed UTF-8.
//
// Every CP1252 byte survives a round trip: the five bytes CP1252 leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) map to the C1 control characters of the same number, as the platform's own
// conversion does. Characters CP1252 cannot hold become '?'.
//
// Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillmere {

std::string Cp1252ToUtf8(std::string_view text);
// `text` must be well-formed UTF-8 (see IsUtf8); malformed bytes are taken as CP1252 bytes.
std::string Utf8ToCp1252(std::string_view text);
// The same into `out` (replacing its content, keeping its room).
void Utf8ToCp1252(std::string_view text, std::string& out);
// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsUtf8(std::string_view text);
// The length in bytes of the well-formed UTF-8 sequence starting at `text[at]`, or 0 when none
// starts there (a stray continuation byte, a cut or malformed sequence).
size_t Utf8SequenceLength(std::string_view text, size_t at);

}  // namespace quillmere
