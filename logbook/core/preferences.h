// preferences: the operator's station preferences, the eleven-line file "ConfigLog.cfg".
//
// File layout (one value per line, lines ended by CR LF, no header, exactly eleven lines):
//   1 own call sign (upper case)        7 default logbook, relative to the program's folders
//   2 own grid square                   8 band-limit class, decimal index 0..7
//   3 latitude, decimal degrees, N+     9 "AUTOSPEECHYES" or "AUTOSPEECHNO"
//   4 longitude, decimal degrees, E+   10 call-book drive, a folder ("/media/cdrom/")
//   5 UTC difference, whole hours      11 "POWER" immediately followed by the power text
//   6 "AUTODXYES" or "AUTODXNO"
//
// Reading never fails: a missing file takes the delivered values; lines missing at the end of
// the file read as empty texts, except that a missing line 5 or 8, or one that is not a number in
// range (-24..24 hours, class 0..7), takes the delivered value; each such repair is described
// once in Problems. Lines 1-4, 6, 7 and 9-11 are texts and are kept as they stand: the lines are
// the file's bytes (CP1252, as the engine's text), never re-encoded. Writing replaces the file
// atomically; a file that is a symbolic link is written through the link (its target replaced).
// Plain values and functions; safe from any thread.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

inline constexpr const char* kPreferencesFile = "ConfigLog.cfg";
inline constexpr int kPreferenceLines = 11;
// Line 5 beyond this many hours either way is taken as damaged.
inline constexpr int kMaxUtcHours = 24;

// Line numbers, 0-based, in file order.
enum TPreferenceLine : int {
  plOwnCall = 0,
  plGrid,
  plLatitude,
  plLongitude,
  plUtcHours,
  plAutoDx,
  plDefaultLog,
  plBandLimit,
  plAutoSpeech,
  plCallBookDrive,
  plPower,
};

// Items of the band-limit choice "BAND LIMITS"; line 8 holds the index.
inline constexpr std::array<const char*, 8> kBandLimitClasses = {
    "EXTRA Class", "ADVANCED Class", "GENERAL Class", "TECHPLUS Class",
    "TECH Class",  "NOVICE Class",   "CUSTOM",        "OFF"};
// The drive letters a file of an earlier version holds on line 10 (the drive box offers mounted
// file systems instead, see call_book_drives.h).
inline constexpr std::array<const char*, 6> kCallBookDrives = {"D:/", "E:/", "F:/", "G:/", "H:/", "I:/"};

struct TPreferences {
  std::array<std::string, kPreferenceLines> Lines;

  std::string& operator[](TPreferenceLine line) { return Lines[size_t(line)]; }
  const std::string& operator[](TPreferenceLine line) const { return Lines[size_t(line)]; }
  bool operator==(const TPreferences&) const = default;
};

// The values delivered with the program (the same as the delivered ConfigLog.cfg).
TPreferences DefaultPreferences();

struct TPreferencesRead {
  TPreferences Prefs;
  // One sentence per repair, in the house style of spoken phrases (ending ". ").
  std::vector<std::string> Problems;
  // False when the file exists but could not be read: writing it back would erase what the
  // operator stored there, so the caller must not.
  bool MayWriteBack = true;
};

// Parses the text of the file (CR LF or LF line ends; lines past the eleventh are ignored).
TPreferencesRead ParsePreferences(std::string_view text, const TPreferences& defaults);
// Reads the file at `path`; a missing file gives `defaults` with one problem.
TPreferencesRead ReadPreferences(const std::string& path, const TPreferences& defaults);

// The file's text: eleven lines, each ended by CR LF.
std::string PreferencesText(const TPreferences& prefs);
// Writes the text atomically (through a symbolic link to its target); false with the reason in
// *error.
bool WritePreferences(const std::string& path, const TPreferences& prefs, std::string* error = nullptr);

// A whole decimal number as the class library converts it: optional blanks around an optional
// sign and at least one digit, within the range of a 32-bit integer.
std::optional<int> ParseWholeNumber(std::string_view text);
// A decimal number with an optional fraction and exponent, blanks around it allowed, read in the
// C locale whatever the user's locale is.
std::optional<double> ParseDecimalNumber(std::string_view text);

// The index of line 10 among kCallBookDrives on an exact match, else -1.
int CallBookDriveIndex(std::string_view line);
// The power shown in its edit: characters 6 to 9 of line 11 (at most four characters).
std::string PowerFromLine(std::string_view line);
// Line 11 from the power edit's text: "POWER" + the text without blanks around it.
std::string PowerLine(std::string_view edit);
// UTC offset in days from the whole hours of line 5.
double UtcOffsetDays(int hours);

// The position check of the Configure button, in its order: the letter tests, then the ranges.
struct TPositionCheck {
  enum TResult { Accepted, Refused, NotANumber };
  TResult Result = Accepted;
  // Refused: the refusal, spoken or shown. NotANumber: the conversion error's text.
  std::string Message;
};
TPositionCheck CheckPosition(std::string_view latitude, std::string_view longitude);

// Blanks (and control characters) removed at both ends, as the class library's Trim.
std::string TrimBlanks(std::string_view text);

}  // namespace quillmere
