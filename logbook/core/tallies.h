// tallies: the worked-all-states and DXCC tallies of the DX page, without its grids.
//
// Each check resets every row of its reference table (STATES.DBF, tag STATE; DXCC.DBF, tag
// CTRYPFX) and then walks the open logbook in its current order, marking per row the mode
// columns CW, SSB and RTTY ("W" worked, "O" QSL sent, "C" confirmed; "-" none) and the band
// columns M10 .. M160 ("YES"; "---" none). A mark never falls back: "C" beats "O" beats "W".
// A band filter in force limits the tally to that band; the duplicate check's call-sign filter
// is lifted for the check and put back afterwards, so the tally always covers every station.
//
// The delivered tables lie in the program folder, which need not be writable: the tallies work
// on copies in the logbook's writable folder (PrepareReferenceTables).
//
// Thread-safety: none; the GUI thread only, like the data sets it drives.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TSorrelDataSet;

namespace quillmere {

enum class TallyKind { WAS, DX };

// One check's reference table and the logbook field it keys on.
struct TallyTable {
  const char* table;      // "STATES.DBF" / "DXCC.DBF"
  const char* indexFile;  // "STATES.CDX" / "DXCC.CDX"
  const char* tag;        // master tag: "STATE" / "CTRYPFX"
  const char* keyField;   // the table's key field (the tag's key)
  const char* nameField;  // "NAME" / "CTRYNAME"
  const char* logField;   // the logbook's field: "STATE" / "PREFIX"
};
const TallyTable& TallyTableOf(TallyKind kind);

// A column of the tally grids DBGrid4 (WAS) and DBGrid6 (DX): the field it shows and its title.
struct TallyGridColumn {
  const char* field;
  const char* title;
};
// WAS: NAME, CW, SSB, RTTY ("RTTY/PSK"), M10 .. M160 ("10" .. "160"); DX: CTRYNAME ("NAME"),
// CTRYPFX ("PFX"), then the same.
const std::vector<TallyGridColumn>& TallyGridColumns(TallyKind kind);
// The legend under the grids.
inline constexpr std::string_view kTallyLegend = "W = Worked        C = Confirmed";

// The reference table's field definition lines: key, name, CW, SSB, RTTY (1 character each),
// M10 .. M160 (3 characters, so "YES" and "---" are stored whole).
std::vector<std::string> ReferenceFieldLines(TallyKind kind);

// The mode columns and the band columns, in grid order.
const std::vector<std::string>& ModeColumns();
const std::vector<std::string>& BandColumns();
inline constexpr std::string_view kModeReset = "-";
inline constexpr std::string_view kBandReset = "---";
inline constexpr std::string_view kBandWorked = "YES";

// The mode column a contact's MODE marks ("CW"; "LSB", "USB" -> "SSB"; "PSK" -> "RTTY"), empty
// for any other mode, "RTTY" and "TTY" included.
std::string ModeColumn(std::string_view mode);
// The band column a contact's BAND marks ("M20" for 20), empty for bands without one (6, 2 ...).
std::string BandColumn(double band);
// A contact's mark: "C" with QSLR filled, else "O" with QSLS filled, else "W".
std::string QslMark(std::string_view qsls, std::string_view qslr);
// A mode cell after a contact with `mark`: the mark when the cell was "-" or held a weaker mark,
// else the cell unchanged.
std::string MergeMark(std::string_view cell, std::string_view mark);

// Makes sure the check's table and its index file lie in `writableFolder`: both are copied from
// `programFolder` when either is missing there or the delivered table is newer than the copy,
// each through a temporary file renamed into place (the index first, so an interrupted copy is
// made again). Returns the folder to open the table from: the program folder itself when both
// are one folder, or when the delivered files are missing (the engine's open error then names
// what is missing); empty when the copy failed, with the reason in `error`.
std::string PrepareReferenceTable(TallyKind kind, const std::string& programFolder,
                                  const std::string& writableFolder, std::string* error = nullptr);

// The result of a check.
struct TallyOutcome {
  bool refused = false;  // no logbook open: nothing was reset or marked
  std::string phrase;    // spoken when speech is on (refusal)
  std::string message;   // shown otherwise (refusal)
  int walked = 0;        // logbook records visited
  int tallied = 0;       // records that marked a row
};

inline constexpr std::string_view kNoLogbookPhrase = "please load a log book. ";
inline constexpr std::string_view kNoLogbookMessage = "Please load a log book!";

// "Check WAS" / "Check DX": opens `reference` on its table in `folder` (engine errors pass
// through), resets it, walks `logbook` and marks. Refused, touching nothing, when `logbook` has
// no table or only the placeholder "dummy.dbf". The logbook is left on its last record.
TallyOutcome RunTally(TallyKind kind, TSorrelDataSet& logbook, TSorrelDataSet& reference,
                      const std::string& folder);

// Whether a filter text is the duplicate check's call-sign filter ("STATION = '...'").
bool IsCallSignFilter(std::string_view filter);

}  // namespace quillmere
