// spoken_reading: what the LOG page's entry fields, the log grids and the read-out buttons say.
// Each entry field announces itself when it gets the focus and reads its text back on a double
// click or on Enter; a grid cell is read by rules that spell codes, speak mode words and state
// names; the small buttons each build one or two phrases from a label or a record.
//
// State codes are spoken through the word list: its items are "code<tab>full text" lines, in the
// order of the file they came from. Texts are UTF-8. Pure functions; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

// How an entry field reads its text back.
enum class TReadBack {
  Text,       // the text as typed
  StateName,  // the state's name from the word list (the text itself when the list lacks it)
  GridSquare, // spelled (double click) or in lower case (Enter)
  None,       // not at all (the reports, which only prompt and echo)
};

struct TEntryFieldReading {
  const char* Name;    // the control's name
  const char* Prompt;  // said when the field gets the focus
  TReadBack Reading;
};

// The nine entry fields of the LOG page, in the order of their table: LogEdit3, Edit3, LogEdit8,
// LogEdit9, Edit4, LogEdit6, logedit10, LogEdit4, LogEdit5.
const std::vector<TEntryFieldReading>& EntryFieldReadings();
// The entry of the field called `name`, or null.
const TEntryFieldReading* FindEntryFieldReading(std::string_view name);

// The position (0-based) of the first word-list item that begins with `code`, without regard to
// case, or -1 (also for an empty code).
int FindWordListItem(const std::vector<std::string>& items, std::string_view code);
// The state's full name for `code`: the found item's text from its first tab on (from its start
// when it has none), at most 25 characters, blanks and tabs trimmed; empty when the list has no
// item for the code.
std::string StateName(const std::vector<std::string>& items, std::string_view code);

// A double click on a field holding `text`: "empty" for an empty field, otherwise the read-back
// of its kind ("<SPELL>" + lower-case text + "</SPELL>" for the grid square). Nothing for a field
// that does not read back.
std::optional<std::string> DoubleClickPhrase(TReadBack reading, std::string_view text,
                                             const std::vector<std::string>& wordList);
// Enter in a field holding `text`: nothing for an empty field or one that does not read back;
// the grid square in lower case without spelling.
std::optional<std::string> EnterKeyPhrase(TReadBack reading, std::string_view text,
                                          const std::vector<std::string>& wordList);

// The fields of the current record that decide how a grid cell is read.
struct TRecordReading {
  std::string GridSquare;  // GRIDSQR
  std::string Sent;        // NRSENT
  std::string Received;    // NRRCVD
  std::string Mode;        // MODE
  std::string State;       // STATE
};
// A grid cell showing `cell` (trailing blanks do not count): spelled when it equals the record's
// grid square or either report, the mode word when it equals the mode, the state's name when it
// equals the state (nothing when the word list lacks it), else the text itself. Nothing for an
// empty cell. The first equal field decides, in that order.
std::optional<std::string> GridCellPhrase(std::string_view cell, const TRecordReading& record,
                                          const std::vector<std::string>& wordList);

// The mode button's word: "Upper Side Band", "Lower Side Band", "F.M.", "C.W.", "A.M.",
// "R.T.T.Y.", and "Other" for any other mode.
std::string EmissionWord(std::string_view mode);

// The read-out buttons' phrases.
std::string FrequencyPhrase(std::string_view frequency);
std::vector<std::string> EmissionPhrases(std::string_view mode);
std::string BearingPhrase(std::string_view bearing, std::string_view dx);
std::string PrefixPhrase(std::string_view dx);
// "Review Log": the last record's DATE, TIME, STATION and SPARE1, then its STATE.
std::vector<std::string> ReviewLogPhrases(std::string_view date, std::string_view time, std::string_view station,
                                          std::string_view name, std::string_view state);
// A click on a file of the log list: the file's name without its extension between the phrases.
std::vector<std::string> LogListPhrases(std::string_view fileName);

// `text` without the blanks at its end, as a cell or label shows a field.
std::string TrimmedField(std::string_view text);

}  // namespace quillmere
