// logbook_fileset: what makes a table a logbook, and the operations every road into a logbook
// shares (the new-logbook window, the ADIF import, the program's open path, export and print).
//
// A logbook is a dBase IV table "<name>.dbf" of the 27-field record below, with a compound index
// beside it named after the table's base name (the file name up to its first '.') in upper case
// plus ".cdx", holding seven tags. Everything here names files by full path; nothing depends on
// the current directory.
//
// Functions that take a TSorrelDataSet use it on the calling thread only; the data set is the
// caller's (the main window's `dbf1`, or one made for a single job).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/Sorl6db_create.h"

class TDataSource;
class TSorrelDataSet;
class TField;

namespace quillmere {

// Positions of the fields in the logbook record.
enum LogField : int {
  fDATE, fTIME, fNUMBER, fSTATION, fBAND, fQTH, fRST, fNRSENT, fNRRCVD, fSPARE1,
  fMODE, fPREFIX, fSTATE, fCQZONE, fITUZONE, fTENTEN, fQSLS, fQSLR, fCITY, fREMARK,
  fFREQ, fCOUNTY, fCONTEST, fOPERATR, fIOTA, fTXPWR, fGRIDSQR,
};
inline constexpr int kLogFieldCount = 27;

// The field names in record order.
const std::array<const char*, kLogFieldCount>& LogbookFieldNames();
// The definition lines the main window and the new-logbook window hand to the table creator
// (NRSENT and NRRCVD text, C 20).
const std::vector<std::string>& LogbookFieldLines();
// The lines of a logbook made by the ADIF import: the same, with NRSENT and NRRCVD numeric N 20.4.
const std::vector<std::string>& ImportFieldLines();

struct LogbookTag {
  const char* name;
  const char* key;
};
// The seven tags in the order they are built: DATE ("DTOS(DATE)+TIME"), TIME ("(TIME)"),
// STATION, STATE, NUMBER, QTH, BAND.
const std::array<LogbookTag, 7>& LogbookTags();

// The file name of a path (after its last '/').
std::string FileNameOf(std::string_view path);
// The folder of a path, ending in '/'; empty for a bare name.
std::string FolderOf(std::string_view path);
// The log base name: the file name up to, not including, its first '.'.
std::string LogBaseName(std::string_view fileName);
// The compound index beside a logbook: folder + base name in upper case + ".cdx", or the existing
// file whose name differs from that only in case.
std::string LogbookIndexPath(std::string_view tablePath);
// The placeholder "dummy.dbf" and the reference tables "STATES.DBF" and "DXCC.DBF", in any case:
// never opened, made or overwritten as logbooks.
bool IsRefusedLogbookName(std::string_view fileName);
// The same test on a base name ("dummy", "STATES", "DXCC", any case).
bool IsReservedLogbookBase(std::string_view baseName);

// Why a table was not taken as a logbook.
class ELogbookRefused : public std::runtime_error {
 public:
  enum class Reason { RefusedName, NotALogbook };
  ELogbookRefused(Reason reason, const std::string& text)
      : std::runtime_error(text), reason_(reason) {}
  Reason GetReason() const { return reason_; }

 private:
  Reason reason_;
};

// The logbook fields an open data set lacks, or has with another type (a date, text or number
// where the logbook has one; NRSENT and NRRCVD may be text or number). Empty for a logbook.
std::vector<std::string> MissingLogbookFields(TSorrelDataSet& dataSet);
// Raises ELogbookRefused (NotALogbook, naming the file and the fields it lacks) when the open
// data set is not a logbook.
void CheckIsLogbook(TSorrelDataSet& dataSet, const std::string& tablePath);

// The fields of an open logbook data set by record position.
using LogbookFieldSet = std::array<TField*, kLogFieldCount>;
LogbookFieldSet BindLogbookFields(const TSorrelDataSet& dataSet);

// Writes a new, empty dBase IV table at `path` from `lines` through the table creator. An
// existing table is replaced only when `confirm` answers OK to "Table exists.  Do you want to
// overwrite?"; false then (nothing written). The table is left closed.
bool CreateLogbookTable(const std::string& path, const std::vector<std::string>& lines,
                        const TSorrelConfirm& confirm);

// Progress of a tag build: the tag being built (1..7), and records done of total.
using IndexProgress = std::function<void(int tag, int tagCount, int64_t done, int64_t total)>;

// Builds the seven tags of the logbook open in `dataSet` (opened from `tablePath`) into its
// compound index; an existing tag of the same name is built again. Refuses a table that is not a
// logbook (ELogbookRefused, NotALogbook) before any tag is built.
void BuildLogbookTags(TSorrelDataSet& dataSet, const std::string& tablePath,
                      const IndexProgress& progress = {});

// The program's open path for a chosen logbook: refuses the placeholder and the reference tables
// (ELogbookRefused, RefusedName) without touching `dbf1`; otherwise closes `dbf1`, detaches the
// index files of whatever it had open, opens the table shared by its full path, checks it is a
// logbook (NotALogbook: `dbf1` is left closed, nothing changed on disk), builds the seven tags,
// and leaves `dbf1` open in DATE order on the newest contact. `opened` runs once the table is
// open and found to be a logbook, before the first tag is built.
void OpenLogbook(TSorrelDataSet& dbf1, const std::string& path, const IndexProgress& progress = {},
                 const std::function<void()>& opened = {});

// Whether `tag` is one of the seven tags (exact name, as the sort box lists them).
bool IsLogbookTag(std::string_view tag);

// The log list of a folder: the ".dbf" files (extension in any case) whose names begin with a
// letter, grouped by that letter in the order a, b, c, e .. z, then d, and sorted within a group
// without regard to case. Names beginning with a digit or any other character are left out.
std::vector<std::string> LogListFiles(const std::string& folder);

// Keeps the grids and edits that show a data set still while a scope moves and filters it without
// closing it; they hear of the outcome once, at the scope's end.
class TControlsDisabled {
 public:
  explicit TControlsDisabled(TSorrelDataSet& dataSet);
  ~TControlsDisabled();
  TControlsDisabled(const TControlsDisabled&) = delete;
  TControlsDisabled& operator=(const TControlsDisabled&) = delete;

 private:
  TSorrelDataSet& dataSet_;
};

// Takes a data source's controls off their data set for a scope's life (they show nothing) and
// puts them back at its end, when they read the data set once. For work that closes and reopens
// the data set, during which the controls must not read it at all.
class TDataSourceOff {
 public:
  explicit TDataSourceOff(TDataSource& source);
  ~TDataSourceOff();
  TDataSourceOff(const TDataSourceOff&) = delete;
  TDataSourceOff& operator=(const TDataSourceOff&) = delete;

 private:
  TDataSource& source_;
  bool wasEnabled_;
};

// Orders the logbook open in `dbf1` by `tag` (the date order after opening, the sort box): when
// its index file exists, reopens, rebuilds the open indexes, opens the index with that tag
// selected and moves to the last record; true. False ("No CDX file.") when there is no index.
bool OrderLogbook(TSorrelDataSet& dbf1, const std::string& tablePath, std::string_view tag);

}  // namespace quillmere
