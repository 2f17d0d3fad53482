// adif_reader: the records of an ADIF file, read as the format defines them.
//
// A field is "<NAME:length>value" or "<NAME:length:type>value": the name in any case, the type
// indicator ignored, the value exactly `length` bytes. Fields come in any order with any text
// (blanks, line breaks) between them; a record ends with <EOR>, the header with <EOH>, both in any
// case. A file whose first non-blank character is '<' has no header. Unknown fields are kept for
// the caller to ignore; a stray '<' that starts no field is text.
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

// Hands every record of the file to `onRecord`, in file order (an <EOR> with no field before it
// makes none); the record is valid only during the call. With `digiPan` the first line is
// dropped and the rest holds records only. Raises EAdifError for a header without <EOH>, and for a
// file that ends inside a field's value or after fields that no <EOR> closes (a cut file), after
// the records before it were handed over. `fileName` is for the messages.
void ReadAdifRecords(std::string_view bytes, bool digiPan, std::string_view fileName,
                     const std::function<void(const AdifRecord&)>& onRecord,
                     const AdifReadProgress& progress = {});

// Every record of the file, as ReadAdifRecords reads them.
std::vector<AdifRecord> ParseAdif(std::string_view bytes, bool digiPan, std::string_view fileName,
                                  const AdifReadProgress& progress = {});

}  // namespace quillmere
