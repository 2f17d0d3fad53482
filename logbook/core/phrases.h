// phrases: the house style of the logbook's spoken phrases, shared by every window.
//
// A phrase is a short sentence ending in ". "; a value between words is set off by " . "; values
// to be heard letter by letter are wrapped in the voice's spelling markup; operating modes are
// spoken through one table of mode words. Pure; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

// The spoken word for a mode text: "USB" "Upper Side Band", "LSB" "Lower Side Band", "CW"
// "C.W.", "RTTY" "R.T.T.Y.", "FM" "F.M.", "AM" "A.M."; with `manualList` also "PSK" "P.S.K."
// (the manual mode list is the only place that names PSK). Any other text is returned as it is.
std::string ModeWord(std::string_view mode, bool manualList = false);

// "<SPELL> " + value + " </SPELL>": the value is spelled letter by letter.
std::string SpelledPhrase(std::string_view value);

}  // namespace quillmere
