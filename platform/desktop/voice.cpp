#include "voice.h"

namespace quillmere {

std::string VoiceDescription(const TVoiceInfo& voice) {
  std::string where = voice.Module;
  if (!voice.Variant.empty() && voice.Variant != "none") where += (where.empty() ? "" : "/") + voice.Variant;
  std::string inside = voice.Language;
  if (!where.empty()) inside += (inside.empty() ? "" : ", ") + where;
  return inside.empty() ? voice.Name : voice.Name + " (" + inside + ")";
}

}  // namespace quillmere
