#include "preferences.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "atomic_file.h"
#include "call_book_drives.h"

namespace quillmere {

namespace {

const char* const kUtcProblem =
    "Line 5 of ConfigLog.cfg, the UTC difference, is not a whole number of hours from -24 to 24; the delivered "
    "value is used. ";
const char* const kBandLimitProblem =
    "Line 8 of ConfigLog.cfg, the band limit class, is not a number from 0 to 7; the delivered class is used. ";

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

bool HasLetter(std::string_view text) {
  for (char c : text)
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  return false;
}

}  // namespace

TPreferences DefaultPreferences() {
  TPreferences p;
  p.Lines = {"", "", "0", "0", "0", "AUTODXNO", "logbook.dbf", "7", "AUTOSPEECHYES", kDefaultCallBookDrive, "POWER100"};
  return p;
}

std::string TrimBlanks(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::optional<int> ParseWholeNumber(std::string_view text) {
  const std::string t = TrimBlanks(text);
  std::string_view v = t;
  bool negative = false;
  if (!v.empty() && (v[0] == '+' || v[0] == '-')) {
    negative = v[0] == '-';
    v.remove_prefix(1);
  }
  if (v.empty()) return std::nullopt;
  long long value = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 1LL + INT_MAX) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT_MIN || value > INT_MAX) return std::nullopt;
  return int(value);
}

std::optional<double> ParseDecimalNumber(std::string_view text) {
  const std::string t = TrimBlanks(text);
  std::string_view v = t;
  if (!v.empty() && v[0] == '+') {
    v.remove_prefix(1);
    if (!v.empty() && v[0] == '-') return std::nullopt;
  }
  if (v.empty()) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value, std::chars_format::general);
  if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

TPreferencesRead ParsePreferences(std::string_view text, const TPreferences& defaults) {
  TPreferencesRead read;
  // Lines missing at the end read as empty texts; only the UTC difference and the band-limit
  // class, which must be numbers, fall back to their delivered values below.
  read.Prefs = TPreferences{};
  int count = 0;
  size_t pos = 0;
  while (pos < text.size() && count < kPreferenceLines) {
    size_t end = text.find('\n', pos);
    const size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    read.Prefs.Lines[size_t(count++)] = std::string(line);
    pos = next;
  }
  if (count < kPreferenceLines) {
    read.Problems.push_back("The preferences file ConfigLog.cfg has " + std::to_string(count) + " of its " +
                            std::to_string(kPreferenceLines) + " lines; the missing lines are read as empty. ");
  }
  if (count <= plBandLimit) read.Prefs[plBandLimit] = defaults[plBandLimit];
  const std::optional<int> hours = ParseWholeNumber(read.Prefs[plUtcHours]);
  if (!hours || *hours < -kMaxUtcHours || *hours > kMaxUtcHours) {
    read.Prefs[plUtcHours] = defaults[plUtcHours];
    if (count > plUtcHours) read.Problems.push_back(kUtcProblem);
  }
  const std::string& band = read.Prefs[plBandLimit];
  if (!band.empty()) {
    const std::optional<int> index = ParseWholeNumber(band);
    if (!index || *index < 0 || *index >= int(kBandLimitClasses.size())) {
      read.Prefs[plBandLimit] = defaults[plBandLimit];
      read.Problems.push_back(kBandLimitProblem);
    }
  }
  return read;
}

TPreferencesRead ReadPreferences(const std::string& path, const TPreferences& defaults) {
  TPreferencesRead read;
  read.Prefs = defaults;
  const auto unreadable = [&](const std::string& reason) {
    read.MayWriteBack = false;
    read.Problems.push_back("The preferences file ConfigLog.cfg could not be read (" + reason +
                            "); the delivered preferences are used and the file is left as it is. ");
    return read;
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return unreadable(std::strerror(errno));
    read.Problems.push_back("The preferences file ConfigLog.cfg was not found; the delivered preferences are used. ");
    return read;
  }
  if (!S_ISREG(st.st_mode)) return unreadable("it is not a file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return unreadable(std::strerror(errno));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return unreadable(std::strerror(errno));
  return ParsePreferences(text, defaults);
}

std::string PreferencesText(const TPreferences& prefs) {
  std::string text;
  for (const std::string& line : prefs.Lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

bool WritePreferences(const std::string& path, const TPreferences& prefs, std::string* error) {
  // An operator who keeps the file elsewhere and links it here keeps the link: the file it
  // points at is the one replaced.
  return WriteFileAtomically(SymbolicLinkTarget(path), PreferencesText(prefs), error);
}

int CallBookDriveIndex(std::string_view line) {
  for (size_t i = 0; i < kCallBookDrives.size(); ++i)
    if (line == kCallBookDrives[i]) return int(i);
  return -1;
}

std::string PowerFromLine(std::string_view line) {
  if (line.size() <= 5) return std::string();
  return std::string(line.substr(5, 4));
}

std::string PowerLine(std::string_view edit) { return "POWER" + TrimBlanks(edit); }

double UtcOffsetDays(int hours) { return hours / 24.0; }

TPositionCheck CheckPosition(std::string_view latitude, std::string_view longitude) {
  TPositionCheck check;
  check.Result = TPositionCheck::Refused;
  if (latitude.empty() || HasLetter(latitude)) {
    check.Message = "Cannot save.  Latitude must be non-alphanumeric and must be in range -90.0 to 90.0  . ";
    return check;
  }
  if (longitude.empty() || HasLetter(longitude)) {
    check.Message = "Cannot save.  Longitude must be non-alphanumeric and must be in range -180.0 to 180.0  . ";
    return check;
  }
  const std::optional<double> lat = ParseDecimalNumber(latitude);
  if (!lat) {
    check.Result = TPositionCheck::NotANumber;
    check.Message = "'" + std::string(latitude) + "' is not a valid floating point value";
    return check;
  }
  if (!(*lat >= -90.0 && *lat <= 90.0)) {
    check.Message = "Cannot save.  Latitude must be in range -90.0 to 90.0  .";
    return check;
  }
  const std::optional<double> lon = ParseDecimalNumber(longitude);
  if (!lon) {
    check.Result = TPositionCheck::NotANumber;
    check.Message = "'" + std::string(longitude) + "' is not a valid floating point value";
    return check;
  }
  if (!(*lon >= -180.0 && *lon <= 180.0)) {
    check.Message = "Cannot save.  Longitude must be in range -180.0 to 180.0  .";
    return check;
  }
  check.Result = TPositionCheck::Accepted;
  return check;
}

}  // namespace quillmere
