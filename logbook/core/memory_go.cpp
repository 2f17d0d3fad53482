#include "memory_go.h"

#include "cp1252_text.h"
#include "decimal_frequency.h"
#include "tarvane_enums.h"

namespace quillmere {

namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The first `count` characters of UTF-8 `text` (a character is never cut in two).
std::string FirstCharacters(const std::string& text, size_t count) {
  size_t at = 0;
  for (size_t taken = 0; taken < count && at < text.size(); ++taken) {
    const size_t length = Utf8SequenceLength(text, at);
    at += length == 0 ? 1 : length;
  }
  return text.substr(0, at);
}

constexpr size_t kFrequencyCharacters = 10;

}  // namespace

int32_t MemoryModeParam(std::string_view mode) {
  mode = TrimBlanks(mode);
  if (mode == "USB") return tarvane::PM_SSB_U;
  if (mode == "LSB") return tarvane::PM_SSB_L;
  if (mode == "CW") return tarvane::PM_CW_U;
  if (mode == "AM") return tarvane::PM_AM;
  if (mode == "FM") return tarvane::PM_FM;
  if (mode == "RTTY") return tarvane::PM_DIG_L;
  if (mode == "RTTYR") return tarvane::PM_DIG_U;
  return tarvane::PM_SSB_U;
}

MemoryGoResult GoToMemory(const MemoryGrid& grid, int row, MemoryGoSource source, MemoryRig& rig) {
  MemoryGoResult result;
  result.frequencyText = FirstCharacters(grid.Cell(MemoryGrid::kFrequencyColumn, row), kFrequencyCharacters);
  const std::string mode(TrimBlanks(grid.Cell(MemoryGrid::kModeColumn, row)));
  if (!result.frequencyText.empty()) {
    // Checked whole before the first write, so a bad memory sends nothing at all.
    const HertzFromText hz = MHzTextToHertz(result.frequencyText);
    if (!hz.hertz) {
      MemoryGoResult refused;
      refused.error = hz.error;
      return refused;
    }
    result.hertzText = std::to_string(*hz.hertz);
    rig.SetRigValue(tarvane::PM_FREQ, *hz.hertz);
    rig.SetRigValue(tarvane::PM_FREQA, *hz.hertz);
    rig.SetRigParam(MemoryModeParam(mode));
  }
  result.phrases = {source == MemoryGoSource::DoubleClick ? "NOW." : "NOW .", result.frequencyText + "mega hertz.",
                    mode + " . "};
  return result;
}

}  // namespace quillmere
