#include "band_tables.h"

#include <array>
#include <cmath>

#include "tarvane_enums.h"

namespace quillmere {

namespace {

struct TBandRow {
  long long Low, High;
  const char* Band;
};

constexpr std::array<TBandRow, 13> kStartRows = {{{1, 2, "160"},
                                                  {3, 4, "80"},
                                                  {7, 8, "40"},
                                                  {10, 11, "30"},
                                                  {14, 15, "20"},
                                                  {18, 19, "17"},
                                                  {21, 22, "15"},
                                                  {24, 25, "12"},
                                                  {28, 30, "10"},
                                                  {50, 52, "6"},
                                                  {144, 148, "2"},
                                                  {432, 440, "70"},
                                                  {1296, 1298, "23"}}};

constexpr std::array<TBandRow, 13> kChangeRows = {{{1, 2, "160"},
                                                   {3, 4, "80"},
                                                   {7, 8, "40"},
                                                   {10, 11, "30"},
                                                   {14, 15, "20"},
                                                   {18, 19, "17"},
                                                   {21, 22, "15"},
                                                   {24, 25, "12"},
                                                   {28, 30, "10"},
                                                   {50, 54, "6"},
                                                   {144, 148, "2"},
                                                   {432, 440, "70"},
                                                   {1240, 1300, "23"}}};

template <size_t N>
std::optional<std::string> Lookup(const std::array<TBandRow, N>& rows, double mhz) {
  if (!std::isfinite(mhz)) return std::nullopt;
  const double whole = std::trunc(mhz);
  for (const TBandRow& row : rows)
    if (whole >= double(row.Low) && whole <= double(row.High)) return std::string(row.Band);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> BandAtStart(double mhz) { return Lookup(kStartRows, mhz); }
std::optional<std::string> BandOnChange(double mhz) { return Lookup(kChangeRows, mhz); }

std::optional<std::string> RigModeText(int32_t mode) {
  switch (mode) {
    case tarvane::PM_CW_U:
    case tarvane::PM_CW_L:
      return "CW";
    case tarvane::PM_SSB_U:
      return "USB";
    case tarvane::PM_SSB_L:
      return "LSB";
    case tarvane::PM_DIG_U:
      return "RTTY-R";
    case tarvane::PM_DIG_L:
      return "RTTY";
    case tarvane::PM_AM:
      return "AM";
    case tarvane::PM_FM:
      return "FM";
    default:
      return std::nullopt;
  }
}

}  // namespace quillmere
