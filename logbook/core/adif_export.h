// adif_export: a logbook written as an ADIF file, the log interchange format other logging
// programs read.
//
// The file holds four header lines, then for each contact (table order, deleted records left out)
// one line of tags and the line "<EOR>"; lines end in CR LF. Values are the table's text
// converted to UTF-8, and every tag's length counts the bytes written. The file lies beside the
// logbook and is replaced whole: a failed export leaves any earlier file of that name as it was.
//
// What other programs read: the mode is written as the format's mode with its submode (the rig's
// "USB" is MODE SSB with SUBMODE USB), the band by the format's band names ("70CM"), and numeric
// fields whose 0 or blank means "none" (TEN_TEN, CQZ, ITUZ, BAND) stay empty rather than saying 0.
// A record that still lacks a field strict readers require (QSO_DATE, TIME_ON, CALL, MODE, and
// BAND or FREQ) or whose mode the format does not know is written as it is and counted.
//
// Pure functions are safe from any thread; ExportLogbookToAdif uses a data set of its own and
// may run on a worker thread (its progress callback is called on that thread).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "logbook_fileset.h"

namespace quillmere {

// One contact as the export reads it: each field's text as the data set gives it (text fields
// without trailing blanks, numbers in plain decimal form, empty when blank) in table bytes, and
// the date as the engine's day number (0 for an empty date; text[fDATE] is not used).
struct LogbookRowTexts {
  int32_t date = 0;
  std::array<std::string, kLogFieldCount> text;
};

// The band of a frequency in megahertz ("20M", "70CM", ...), every bound exclusive; empty when
// no band holds it.
std::string AdifBandOfFrequency(double megahertz);
// The band name for the BAND field's text: the number of metres ("20" 20M, "1.25" 1.25M) for a
// band the format names so, "70" and "23" for the 70 cm and 23 cm bands (70CM, 23CM), a band
// name as such in upper case; empty for 0, blank or any number that names no band.
std::string AdifBandOfField(std::string_view bandFieldText);
// The value of the BAND tag: the band of the FREQ text when that is a number some band holds,
// otherwise the band of the BAND field (empty when neither names a band).
std::string AdifBandText(std::string_view freqText, std::string_view bandFieldText);

// The format's mode and submode for a logged mode (upper-cased and trimmed first). `known` is
// false for a text that is no mode of the format (then `mode` is the text as stored, no submode).
struct AdifMode {
  std::string mode;
  std::string submode;
  bool known = false;
};
AdifMode AdifModeOf(std::string_view loggedMode);
// The logged mode an imported MODE and SUBMODE stand for: the program's own name when the pair
// is one AdifModeOf writes ("SSB" + "USB" is "USB"), otherwise the MODE as given.
std::string LoggedModeOfAdif(std::string_view mode, std::string_view submode);
// "<NAME:length>value": the table text converted to UTF-8, its length in bytes ("<CALL:0>" when
// empty).
std::string AdifTag(std::string_view name, std::string_view tableText);
// The tag line of one contact; `complete` (when given) says whether it has every field strict
// readers require, with a mode the format knows.
std::string AdifRecordLine(const LogbookRowTexts& row, bool* complete = nullptr);
// The header lines, "<EOH>" last.
const std::vector<std::string>& AdifHeaderLines();

// The export's file name for a logbook file name: its base name (up to the first '.'), cut to 8
// characters when longer (`truncated` set), + ".txt" when `asTxt`, else ".adi".
std::string AdifExportFileName(std::string_view logbookFileName, bool asTxt, bool* truncated);

// Records done of the table's record count.
using AdifProgress = std::function<void(int64_t done, int64_t total)>;

struct AdifExportResult {
  std::string path;      // the file written, beside the logbook
  std::string fileName;  // its name without folder
  bool nameTruncated = false;
  int64_t records = 0;
  int64_t incomplete = 0;  // records written without a required field or with an unknown mode
};

// What the window adds to its message when some records are incomplete; empty when none is.
std::string AdifIncompleteNote(int64_t incomplete);

// Exports the logbook at `logbookPath` (opened shared, so the program may have it open). Raises
// ELogbookRefused for a table that is not a logbook, the engine's errors for a table it cannot
// read, and std::runtime_error naming the file when the ADIF file cannot be written.
AdifExportResult ExportLogbookToAdif(const std::string& logbookPath, bool asTxt,
                                     const AdifProgress& progress = {});

}  // namespace quillmere
