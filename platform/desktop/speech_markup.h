// speech_markup: the spelling markup of spoken texts. A text that starts with "<SPELL>" is markup:
// it splits into plain parts and parts between "<SPELL>" and "</SPELL>" (to be spelled); a missing
// "</SPELL>" spells to the end. Blanks at both ends of each part are dropped and empty parts left
// out. Any other text is one plain part, tags and all. Pure; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

struct TSpeechPart {
  std::string Text;
  bool Spelled = false;
  bool operator==(const TSpeechPart&) const = default;
};

std::vector<TSpeechPart> SplitSpeechMarkup(std::string_view text);

}  // namespace quillmere
