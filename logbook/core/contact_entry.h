// contact_entry: the LOG page's work on the open logbook without its widgets: the duplicate check
// that runs on every change of the call-sign field, and Log It, which appends one contact.
//
// The duplicate check filters the logbook to the typed station (a starred pattern while fewer
// than four characters are typed, the exact call from four on, when filtering is also switched
// on), then looks for a record with the same STATION and BAND, then moves to the last record of
// the view. The call is compared upper-cased, as Log It stores it. The call reaches the filter as
// a text literal of the expression language quoted by QuoteExpressionLiteral
// (expression_literal.h), so no typed character can end the literal early or add expression text.
//
// Log It numbers the contact after the highest NUMBER of the whole logbook (not of the filtered
// or re-ordered view), takes its UTC date and time from one clock instant, and leaves the data set
// in browse state whatever happens: a failed append or post is cancelled before the error goes on.
//
// Texts are engine text (code-page bytes). The functions use the caller's data set on the calling
// thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class TSorrelDataSet;

namespace quillmere {

using TDateTime = double;

// The call sign as the logbook stores and compares it: upper-cased.
std::string CallSignText(std::string_view typed);

// The filter the duplicate check sets for a call (already upper-cased): "STATION = " + the quoted
// call + "*" for fewer than four characters, "STATION = " + the quoted call from four on, when
// filtering is to be switched on too. None when the call cannot be quoted.
struct TCallFilter {
  std::string Text;
  bool SwitchOn = false;
};
std::optional<TCallFilter> CallFilter(std::string_view call);

struct TDuplicateVerdict {
  // False: the call holds ', " and ], so no filter could be written; the view is as it was.
  bool Filtered = true;
  // A record of the same STATION and BAND exists; its STATION and SPARE1 without trailing blanks.
  bool Found = false;
  std::string Station, Name;
};

// The duplicate check on the open logbook `dbf1` for the typed call (as typed) and the band field
// (none when it holds no whole number: the view is filtered but nothing is looked for). Leaves
// the view on the last record of the filtered logbook. With fewer than four characters,
// filtering keeps the state it had.
TDuplicateVerdict CheckDuplicate(TSorrelDataSet& dbf1, std::string_view typedCall, std::optional<int> band);

// What Log It reads from the LOG page and the preferences.
struct TContactEntry {
  std::string Station;                         // LogEdit3, stored upper-cased
  std::string Name, Qth, City, State, Remark;  // Edit3, LogEdit8, LogEdit9, LogEdit6, Edit4
  std::string Grid;                            // logedit10
  std::string Sent, Received, Band;            // LogEdit4, LogEdit5, LogEdit7: whole numbers
  std::string CqZone, ItuZone;                 // Edit10, Edit11
  std::string Mode, Frequency;                 // the mode and frequency displays
  std::string Prefix;                          // the DX entity's prefix
  std::string Operator, Power;                 // own call, power
  bool SsbAsPsk = false;                       // "Log SSB as PSK"
};

// Why an entry is not logged, with what is spoken (speech on) and what is shown (speech off).
struct TEntryRefusal {
  std::string Spoken, Shown;
};
// The band and both reports must be whole numbers (checked in that order), and the call must not
// be empty or blank. None when the entry can be logged.
std::optional<TEntryRefusal> CheckEntry(const TContactEntry& entry);

// The mode stored for a contact: "PSK" for "USB" when SSB is logged as PSK, else the display.
std::string LoggedMode(std::string_view display, bool ssbAsPsk);

// The highest NUMBER among all records of the logbook at `tablePath` (deleted ones included, no
// filter), read through its NUMBER tag when the index has one, else by a scan; 0 when empty.
double HighestContactNumber(const std::string& tablePath);

struct TLoggedContact {
  int64_t Number = 0;
  std::string Date;  // "yyyymmdd"
  std::string Time;  // "hh:mm"
};

// Appends the contact to the logbook open in `dbf1` (opened from `tablePath`) and posts it: NUMBER
// the highest of the logbook plus one, DATE and TIME from the one instant `utc`, every field the
// entry gives (the entry must have passed CheckEntry). The view then goes to its last record. On
// failure the append is cancelled (nothing stored) and the error goes on to the caller.
TLoggedContact LogContact(TSorrelDataSet& dbf1, const std::string& tablePath, const TContactEntry& entry,
                          TDateTime utc);

}  // namespace quillmere
