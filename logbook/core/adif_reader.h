// adif_reader: the records of an ADIF file, read as the format defines them.
//
// A field is "<NAME:length>value" or "<NAME:length:type>value": the name in any case, the type
// indicator ignored, the value exactly `length` bytes. Fields come in any order with any text
// (blanks, line breaks) between them; a record ends with <EOR>, the header with <EOH>, both in any
// case. A file whose first non-blank character is '<' has no header. Unknown fields are kept for
// the caller to ignore; a stray '<' that starts no field is text. Inside the records a tag that
// has its ':' but no number for a length, or whose length is not followed by '>', is an error
// that names the record and the field: the field would otherwise be lost without a word.
//
// Records end with <EOR>: what follows the last <EOR> and holds fields (a last record without
// its <EOR>, or a file cut short inside a field) is left out and reported, with where it begins.
//
// Text: a file that is well-formed UTF-8 is read as UTF-8 and its values converted to the
// tables' code page (CP1252). Some writers count the characters of such text instead of its
// bytes: when the byte count would cut a character, or leaves text hanging before the next
// field where counting characters ends cleanly, the characters are counted. Any other file is
// taken as CP1252 bytes.
//
// Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

struct AdifField {
  std::string name;   // upper case
  std::string value;  // CP1252 bytes, as written (case and blanks kept)
};

struct AdifRecord {
  std::vector<AdifField> fields;
  // The value of the first field of that (upper-case) name, or null when the record has none.
  const std::string* Find(std::string_view name) const;
};

// A file that cannot be read as ADIF; the text names the file and what is wrong.
class EAdifError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Bytes read of the file's size.
using AdifReadProgress = std::function<void(size_t done, size_t total)>;

// Text after the last <EOR> that was not taken as a record.
struct AdifLeftOut {
  size_t offset = 0;  // where it begins (its first character that is not blank)
  size_t line = 0;    // that character's line, from 1
  std::string start;  // its first characters on that line (at most 40), in UTF-8 for messages
};

struct AdifReadSummary {
  size_t records = 0;
  std::optional<AdifLeftOut> leftOut;
};

// Hands every record of the file to `onRecord`, in file order (an <EOR> with no field before it
// makes none); the record is valid only during the call. With `digiPan` the first line is
// dropped and the rest holds records only. Raises EAdifError for a header without <EOH> and for a
// malformed tag inside a record (after the records before it were handed over). `fileName` is
// for the messages.
AdifReadSummary ReadAdifRecords(std::string_view bytes, bool digiPan, std::string_view fileName,
                                const std::function<void(const AdifRecord&)>& onRecord,
                                const AdifReadProgress& progress = {});

// Every record of the file, as ReadAdifRecords reads them; what was left out into `summary`.
std::vector<AdifRecord> ParseAdif(std::string_view bytes, bool digiPan, std::string_view fileName,
                                  const AdifReadProgress& progress = {}, AdifReadSummary* summary = nullptr);

// The text after the header (after the first line with `digiPan`) as the window shows it: in the
// tables' code page, upper-cased, one line per line of the file (each ended by '\n', the line
// holding <EOH> left out when nothing follows it there). Raises EAdifError for a header without
// <EOH>.
std::string AdifCollectedText(std::string_view bytes, bool digiPan, std::string_view fileName);

}  // namespace quillmere
