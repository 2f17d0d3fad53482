// memory_go: sending a frequency memory to the radio (a double click on the memory grid, or the
// "&GO to Freq." button): which rig writes are made, in which order, what the page shows and what
// it speaks. The window supplies the rig writes through MemoryRig (its SetRigValue and
// SetRigParam, which drop the rig server's errors) and then shows and speaks the result.
//
// Pure logic over the rig interface it is given; one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "memory_grid.h"

namespace quillmere {

// The window's two rig writes: a value (Which is PM_FREQ, PM_FREQA ...; Value in hertz) and a
// parameter (a mode such as PM_SSB_U).
class MemoryRig {
 public:
  virtual ~MemoryRig() = default;
  virtual void SetRigValue(int32_t which, int32_t value) = 0;
  virtual void SetRigParam(int32_t param) = 0;
};

// What started the GO: the grid's double click says "NOW.", the button "NOW .".
enum class MemoryGoSource { DoubleClick, Button };

struct MemoryGoResult {
  // Non-empty when the memory's frequency is refused (no number, 0 Hz or below, beyond the bus's
  // range): nothing was sent and nothing else is to be shown or spoken; the window shows it.
  std::string error;
  // The frequency text (the first 10 characters of the frequency cell) for `Label49` and `Label4`,
  // also when it is empty.
  std::string frequencyText;
  // The hertz sent, as decimal text for `Edit20`; nullopt when the frequency cell is empty.
  std::optional<std::string> hertzText;
  // Spoken in this order when speech is on.
  std::vector<std::string> phrases;
};

// The rig mode sent for a mode cell (blanks trimmed, case as typed): "USB" PM_SSB_U, "LSB"
// PM_SSB_L, "CW" PM_CW_U, "AM" PM_AM, "FM" PM_FM, "RTTY" PM_DIG_L, "RTTYR" PM_DIG_U, anything else
// PM_SSB_U.
int32_t MemoryModeParam(std::string_view mode);

// GO on row `row` of `grid`: with a frequency, writes PM_FREQ then PM_FREQA with its hertz, then
// the mode, through `rig`; answers what to show and speak.
MemoryGoResult GoToMemory(const MemoryGrid& grid, int row, MemoryGoSource source, MemoryRig& rig);

}  // namespace quillmere
