#include "phrases.h"

namespace quillmere {

std::string ModeWord(std::string_view mode, bool manualList) {
  if (mode == "USB") return "Upper Side Band";
  if (mode == "LSB") return "Lower Side Band";
  if (mode == "CW") return "C.W.";
  if (mode == "RTTY") return "R.T.T.Y.";
  if (mode == "FM") return "F.M.";
  if (mode == "AM") return "A.M.";
  if (manualList && mode == "PSK") return "P.S.K.";
  return std::string(mode);
}

std::string SpelledPhrase(std::string_view value) { return "<SPELL> " + std::string(value) + " </SPELL>"; }

}  // namespace quillmere
