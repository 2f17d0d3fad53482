// frequency_text: the frequency display's texts, written in the C locale whatever the user's
// locale is (the decimal separator is always '.').
//
// Hertz from the server become MHz by multiplying by 0.000001, as the display always did.
// FormatFixed rounds to `precision` significant digits and shows `digits` decimals (14.074 with
// 7 and 5 gives "14.07400"); FormatGeneral gives the shortest text of up to 15 significant digits
// ("14.074"). Pure; thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace quillmere {

double MHzFromHz(int64_t hz);
std::string FormatFixed(double value, int precision, int digits);
std::string FormatGeneral(double value);

}  // namespace quillmere
