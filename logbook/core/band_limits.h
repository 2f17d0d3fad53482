// band_limits: the logic of the band-limits window `TConstants`: which file holds the limits of a
// licence class, the ".bdl" file read all or nothing, the limits table, and the check of the
// radio's frequency and mode against it with the warning it asks for.
//
// Limits are whole numbers in units of 10 kHz (MHz times 100, truncated): for each of 13 bands a
// phone segment and a CW segment, bounds inclusive. A ".bdl" file is a column grid file (see
// column_grid_file.h) of at least 5 columns and 14 rows: row 0 and column 0 are headings, rows 1
// to 13 the bands, columns 1 to 4 phone low, phone high, CW low, CW high.
//
// A table that could not be loaded switches the check off: every check then leaves the display as
// it is and asks for no sound, and the reason is handed out once (TakeNotice or the first check).
// The warning sound is asked for by every check that finds no segment, also while the display
// stays red, so an operator who keeps tuning outside the band keeps hearing it.
//
// One object per window; one thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "column_grid_file.h"

namespace quillmere {

inline constexpr int kBandLimitBands = 13;
inline constexpr int kBandLimitGridRows = 14;
inline constexpr int kBandLimitColumns = 5;
// The band-limit choice's last item: the check does not run from the radio's reports.
inline constexpr int kBandLimitClassOff = 7;

// The captions of the band-limit choice, by class index 0 to 7: "EXTRA Class", "ADVANCED Class",
// "GENERAL Class", "TECHPLUS Class", "TECH Class", "NOVICE Class", "CUSTOM", "OFF".
const std::vector<std::string>& BandLimitClassCaptions();

// The file of a licence class: "Extra Class.bdl" for class 0 and for "OFF" (7), the class's
// caption + ".bdl" for classes 1 to 6 ("GENERAL Class.bdl", "CUSTOM.bdl"); empty for an index
// outside 0..7.
std::string BandLimitFileName(int licenceClass);
// That file among the delivered data files (see data_folders.h); empty when the class has none.
std::string BandLimitFilePath(int licenceClass);

struct BandLimit {
  int32_t PhoneLow = 0;
  int32_t PhoneHigh = 0;
  int32_t CwLow = 0;
  int32_t CwHigh = 0;
};

enum class BandVerdict {
  Unchanged,  // the display keeps its colour (a mode other than USB, LSB or CW, no number, check off)
  Inside,     // normal background (the tooltip background colour)
  Outside,    // red background
};

struct BandCheck {
  BandVerdict verdict = BandVerdict::Unchanged;
  // Play the warning sound "ding.wav" (without waiting for it): on every check without a hit.
  bool playSound = false;
  // Once: why the check is off (the table could not be loaded); to be shown to the operator.
  std::optional<std::string> notice;
};

class BandLimits {
 public:
  // Start-up of the window: clears the out-of-band flag, loads the file at `path` and sets the
  // limits from it. An empty path (a class without a file) fails like a missing file.
  void FormCreate(const std::string& path);

  // "loadlimits": reads the file at `path` into Grid(). All or nothing: a missing file, a column
  // count below 5, a file that ends early or a limit cell that is not a whole number leaves Grid()
  // as it was and keeps the reason for TakeNotice; false then.
  bool LoadLimits(const std::string& path);
  // "set limits": the limits table from Grid() (cells checked by LoadLimits); switches the check on.
  void SetLimits();

  // The check of the frequency label's text (MHz) and the mode label's text: "USB" and "LSB"
  // against the phone segments, "CW" against the CW segments, the first band whose segment holds
  // the frequency is a hit; any other mode changes nothing.
  BandCheck Check(std::string_view frequencyText, std::string_view modeText);

  bool Enabled() const { return enabled_; }
  // 1 after a check that found no segment, 0 after one that found one; 0 at start.
  int OutOfBand() const { return outOfBand_; }
  // The reason the check is off, the first time it is asked for; nullopt afterwards.
  std::optional<std::string> TakeNotice();

  // The file as read, [column][row], for the window's hidden grid.
  const GridCells& Grid() const { return grid_; }
  const std::array<BandLimit, kBandLimitBands>& Limits() const { return limits_; }

 private:
  GridCells grid_;
  std::array<BandLimit, kBandLimitBands> limits_{};
  bool enabled_ = false;
  int outOfBand_ = 0;
  std::optional<std::string> notice_;
};

}  // namespace quillmere
