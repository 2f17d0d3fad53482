// adif_import: a new logbook made from one or more ADIF files.
//
// The import reads and converts every selected file whole before it writes anything: a file that
// cannot be read or a value that cannot be converted stops it with nothing created. The new
// logbook ("<first file's name without .adi/.txt>.dbf", beside the first file, with NRSENT and
// NRRCVD numeric) is then built with its seven tags under a temporary folder beside it and moved
// into place only when complete, so a failure midway leaves no half logbook and an overwritten
// logbook stays as it was until the new one is whole.
//
// The rules of the conversion (ContactsFromAdif): values are upper-cased; a missing QSO_DATE gives
// 1 January 2000 and a missing TIME_ON 00:00 (blanks around either are no part of it, and a
// three-digit time such as 930 is 09:30); a contact whose STX is a number gets it as its NUMBER,
// one without takes its place in the import (1, 2, 3 ...), or the next number above it that no
// other contact of the import has; RST_SENT and RST_RCVD become numbers with their sign (missing:
// 1; not a number: 0); the band is the number before the unit ("20M" 20), the 70 cm and 23 cm
// bands 70 and 23, any other band 0; MODE SSB with SUBMODE USB or LSB is the logbook's "USB" or
// "LSB". Every field the export writes comes back: COMMENT, CQZ, ITUZ, TEN_TEN, QSL_SENT and
// QSL_RCVD are kept too; RST, SRX and unknown fields are ignored.
//
// ImportAdifFiles may run on a worker thread: it uses data sets of its own, and calls the
// progress callback and the overwrite question on that thread.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/Sorl6db_create.h"
#include "adif_reader.h"
#include "logbook_fileset.h"

namespace quillmere {

// The text fields the import writes, in record order; RST stays blank.
inline constexpr LogField kImportedTextFields[] = {fSTATION, fQTH,     fSPARE1,  fMODE,    fPREFIX, fSTATE,
                                                   fCQZONE,  fITUZONE, fQSLS,    fQSLR,    fCITY,   fREMARK,
                                                   fFREQ,    fCOUNTY,  fCONTEST, fOPERATR, fIOTA,   fTXPWR,
                                                   fGRIDSQR};

// One contact as the import writes it.
class ImportedContact {
 public:
  int32_t date = 0;      // the engine's day number
  std::string time;      // "hh:mm"
  int64_t number = 0;    // NUMBER; the contact's place in the import until numbered (below)
  bool hasSerial = true; // NUMBER is the record's STX
  int64_t sent = 0;      // NRSENT
  int64_t received = 0;  // NRRCVD
  int64_t band = 0;      // BAND
  int64_t tenTen = 0;    // TENTEN, 0 for none

  // The text of one of kImportedTextFields (empty for any other field).
  std::string_view Text(LogField field) const;
  // Sets the texts of kImportedTextFields, in that order, upper-cased, control characters as
  // blanks.
  void SetTexts(const std::array<const std::string*, std::size(kImportedTextFields)>& texts);

 private:
  // The texts one after the other, each ended by a NUL (which no text holds any more).
  std::string texts_;
};

// The records of one file, with its name for messages.
struct AdifSource {
  std::string fileName;
  std::vector<AdifRecord> records;
};

// Converts records into contacts by the import's rules, one after the other across every file of
// an import.
class AdifContactConverter {
 public:
  // Raises EAdifError naming the file, the record's number in it and the field for a date or
  // time that cannot be converted. A contact without a usable STX has its place in the import as
  // NUMBER and hasSerial false until NumberContacts.
  ImportedContact Convert(const AdifRecord& record, std::string_view fileName, size_t recordNo);

 private:
  int64_t count_ = 0;
};

// Numbers the contacts without a serial: each its place in the import, or the next number above
// it that no other contact has. Returns how many were numbered so.
int64_t NumberContacts(std::vector<ImportedContact>& contacts);
int64_t NumberContacts(std::deque<ImportedContact>& contacts);

// The contacts of all sources in order, through one converter, numbered.
std::vector<ImportedContact> ContactsFromAdif(const std::vector<AdifSource>& sources);

// The new logbook's file name for the first selected file: its name with the first ".adi",
// ".ADI", ".txt" and ".TXT" in it removed (and then a final ".adi" or ".txt" in any other case),
// + ".dbf": "log.txt.adi" is "log.dbf", not "log.txt.dbf", whose index would be LOG.cdx.
std::string ImportTableName(std::string_view adifFileName);

enum class ImportPhase { Reading, Writing, Indexing };
// Reading: bytes of all files; Writing: contacts appended; Indexing: tags built (of 7).
using ImportProgress = std::function<void(ImportPhase phase, int64_t done, int64_t total)>;

struct AdifImportRequest {
  std::vector<std::string> files;  // full paths, in the order of the selection
  bool digiPan = false;            // "Is this DigiPan?": drop each file's first line, no header
  std::string openLogbookPath;     // the logbook the program has open, or empty
  TSorrelConfirm confirmOverwrite; // asked "Table exists.  Do you want to overwrite?"
  ImportProgress progress;
  // Given each file's text as the window shows it (AdifCollectedText) before its records are read.
  std::function<void(const std::string& collected)> collected;
};

enum class AdifImportOutcome {
  Imported,
  Cancelled,     // the overwrite question was answered Cancel: nothing written
  OpenLogbook,   // the new logbook would replace the open one (or its index): nothing written
  ReservedName,  // the placeholder or a reference table's name: nothing written
};

struct AdifLeftOutText {
  std::string fileName;
  AdifLeftOut text;
};

struct AdifImportResult {
  AdifImportOutcome outcome = AdifImportOutcome::Cancelled;
  std::string tablePath;  // the logbook written (or that would have been)
  int64_t records = 0;    // contacts found
  int64_t numberedByPlace = 0;  // contacts without a usable STX, numbered by their place
  std::vector<AdifLeftOutText> leftOut;  // per file, the text after its last <EOR>
};

// What the window says after an import that left text out or numbered contacts by their place
// while others had a serial; empty when there is nothing to say.
std::string AdifImportNote(const AdifImportResult& result);

// Runs the import. The overwrite question is asked when the new logbook's table or its index
// exists (a table "a.b.dbf" has the index of "a.dbf"). Raises EAdifError for files that are not ADIF or hold values that cannot be
// converted, std::runtime_error for files that cannot be read, and the engine's errors for
// tables it cannot write; in every such case nothing is left behind.
AdifImportResult ImportAdifFiles(const AdifImportRequest& request);

}  // namespace quillmere
