#include "band_limits.h"

#include <climits>

#include "data_folders.h"
#include "decimal_frequency.h"

namespace quillmere {

namespace {

// A limit cell: a whole number of 10 kHz units that fits a signed 32-bit integer.
std::optional<int32_t> LimitValue(std::string_view text) {
  const ScaledDecimal value = ScaleDecimalText(text, 0);
  if (value.status != ScaledDecimal::Status::Ok || value.value < INT32_MIN || value.value > INT32_MAX)
    return std::nullopt;
  // Digits only: a point or an exponent makes it no whole number even when its value is one.
  for (char c : text)
    if (c == '.' || c == 'e' || c == 'E') return std::nullopt;
  return static_cast<int32_t>(value.value);
}

int32_t Cell(const GridCells& grid, int column, int row) {
  return *LimitValue(grid[static_cast<size_t>(column)][static_cast<size_t>(row)]);
}

}  // namespace

const std::vector<std::string>& BandLimitClassCaptions() {
  static const std::vector<std::string> captions = {"EXTRA Class", "ADVANCED Class", "GENERAL Class",
                                                    "TECHPLUS Class", "TECH Class", "NOVICE Class",
                                                    "CUSTOM", "OFF"};
  return captions;
}

std::string BandLimitFileName(int licenceClass) {
  if (licenceClass == 0 || licenceClass == kBandLimitClassOff) return "Extra Class.bdl";
  if (licenceClass < 0 || licenceClass > kBandLimitClassOff) return {};
  return BandLimitClassCaptions()[static_cast<size_t>(licenceClass)] + ".bdl";
}

std::string BandLimitFilePath(int licenceClass) {
  const std::string name = BandLimitFileName(licenceClass);
  return name.empty() ? std::string() : DataFilePath(name);
}

void BandLimits::FormCreate(const std::string& path) {
  outOfBand_ = 0;
  if (LoadLimits(path)) SetLimits();
}

bool BandLimits::LoadLimits(const std::string& path) {
  const auto refuse = [&](const std::string& reason) {
    notice_ = "Band limits are not checked: \"" + path + "\" " + reason + ".";
    return false;
  };
  if (path.empty()) {
    notice_ = "Band limits are not checked: this licence class has no band-limits file.";
    return false;
  }
  ColumnGridRead read = ReadColumnGridFile(path, kBandLimitGridRows, kBandLimitColumns, INT_MAX);
  if (read.status == ColumnGridRead::Status::Missing) return refuse("was not found");
  if (read.status == ColumnGridRead::Status::Bad) return refuse("cannot be used: " + read.reason);
  for (int column = 1; column < kBandLimitColumns; ++column)
    for (int row = 1; row <= kBandLimitBands; ++row) {
      const std::string& text = read.cells[static_cast<size_t>(column)][static_cast<size_t>(row)];
      if (!LimitValue(text))
        return refuse("cannot be used: line " + std::to_string(3 + column * kBandLimitGridRows + row) +
                      " (band " + std::to_string(row) + ", column " + std::to_string(column) + ") holds '" +
                      text + "', which is not a whole number");
    }
  grid_ = std::move(read.cells);
  notice_.reset();
  return true;
}

void BandLimits::SetLimits() {
  if (grid_.size() < static_cast<size_t>(kBandLimitColumns)) return;
  for (int band = 1; band <= kBandLimitBands; ++band)
    limits_[static_cast<size_t>(band - 1)] = {Cell(grid_, 1, band), Cell(grid_, 2, band), Cell(grid_, 3, band),
                                              Cell(grid_, 4, band)};
  enabled_ = true;
}

BandCheck BandLimits::Check(std::string_view frequencyText, std::string_view modeText) {
  BandCheck result;
  if (!enabled_) {
    result.notice = TakeNotice();
    return result;
  }
  const bool phone = modeText == "USB" || modeText == "LSB";
  if (!phone && modeText != "CW") return result;
  // A frequency label that is no number changes nothing.
  const ScaledDecimal f = ScaleDecimalText(frequencyText, 2);
  if (f.status == ScaledDecimal::Status::NotANumber) return result;
  bool hit = false;
  for (const BandLimit& band : limits_) {
    const int64_t low = phone ? band.PhoneLow : band.CwLow;
    const int64_t high = phone ? band.PhoneHigh : band.CwHigh;
    if (low <= f.value && f.value <= high) {
      hit = true;
      break;
    }
  }
  if (hit) {
    result.verdict = BandVerdict::Inside;
    outOfBand_ = 0;
  } else {
    result.verdict = BandVerdict::Outside;
    // Every check without a hit sounds: the operator who cannot see the red label hears each
    // time the radio is still outside.
    result.playSound = true;
    outOfBand_ = 1;
  }
  return result;
}

std::optional<std::string> BandLimits::TakeNotice() {
  std::optional<std::string> notice;
  notice.swap(notice_);
  return notice;
}

}  // namespace quillmere
