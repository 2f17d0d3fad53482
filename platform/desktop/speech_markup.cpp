#include "speech_markup.h"

namespace quillmere {

namespace {

constexpr std::string_view kOpen = "<SPELL>";
constexpr std::string_view kClose = "</SPELL>";

void Add(std::vector<TSpeechPart>& parts, std::string_view text, bool spelled) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  if (e > b) parts.push_back({std::string(text.substr(b, e - b)), spelled});
}

}  // namespace

std::vector<TSpeechPart> SplitSpeechMarkup(std::string_view text) {
  std::vector<TSpeechPart> parts;
  if (text.substr(0, kOpen.size()) != kOpen) {
    if (!text.empty()) parts.push_back({std::string(text), false});
    return parts;
  }
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find(kOpen, pos);
    if (open == std::string_view::npos) {
      Add(parts, text.substr(pos), false);
      break;
    }
    Add(parts, text.substr(pos, open - pos), false);
    const size_t start = open + kOpen.size();
    const size_t close = text.find(kClose, start);
    if (close == std::string_view::npos) {
      Add(parts, text.substr(start), true);
      break;
    }
    Add(parts, text.substr(start, close - start), true);
    pos = close + kClose.size();
  }
  return parts;
}

}  // namespace quillmere
