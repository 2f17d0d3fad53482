#include "adif_reader.h"

#include "base/SysSorl.h"
#include "cp1252_text.h"

namespace quillmere {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool IsNameChar(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b > ' ' && b < 0x7F && c != '<' && c != '>' && c != ':' && c != ',' && c != '{' && c != '}';
}

// One data specifier "<NAME>" or "<NAME:length[:type]>".
struct Specifier {
  size_t end = 0;  // just after the '>'
  std::string name;
  bool hasLength = false;
  size_t length = 0;
};

class Reader {
 public:
  Reader(std::string_view bytes, std::string_view fileName, const AdifReadProgress& progress)
      : b_(bytes), fileName_(fileName), progress_(progress), utf8_(IsUtf8(bytes)) {}

  // Moves past the byte-order mark and the header (the first line with `digiPan`).
  void SkipToBody(bool digiPan) {
    if (utf8_ && b_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    if (digiPan) {
      const size_t newline = b_.find('\n', pos_);
      pos_ = newline == std::string_view::npos ? b_.size() : newline + 1;
    } else {
      SkipHeader();
    }
  }
  size_t Position() const { return pos_; }
  bool Utf8() const { return utf8_; }

  AdifReadSummary Read(bool digiPan, const std::function<void(const AdifRecord&)>& onRecord) {
    SkipToBody(digiPan);
    // One record's fields are filled in place, their strings and the list keeping their room
    // from record to record.
    AdifRecord record;
    size_t used = 0;
    AdifReadSummary summary;
    size_t recordStart = pos_;
    Specifier marker;
    bool cut = false;
    while (Next(marker, summary.records + 1, cut)) {
      if (marker.hasLength) {
        if (used == record.fields.size()) record.fields.emplace_back();
        AdifField& field = record.fields[used++];
        field.name = marker.name;
        if (!TakeValue(marker, field.value)) {
          cut = true;
          break;
        }
      } else if (marker.name == "EOR") {
        if (used > 0) {
          record.fields.resize(used);
          onRecord(record);
          used = 0;
          ++summary.records;
          if (progress_ && summary.records % 1000 == 0) progress_(pos_, b_.size());
        }
        recordStart = pos_;
      }
    }
    if (used > 0 || cut) summary.leftOut = LeftOut(recordStart);
    if (progress_) progress_(b_.size(), b_.size());
    return summary;
  }

 private:
  // The header runs to <EOH>; a file that begins (after blanks) with '<' has none.
  void SkipHeader() {
    size_t first = pos_;
    while (first < b_.size() && IsBlank(b_[first])) ++first;
    if (first == b_.size() || b_[first] == '<') return;
    Specifier marker;
    std::string value;
    bool cut = false;
    while (Next(marker, 0, cut)) {
      if (marker.hasLength) {
        if (!TakeValue(marker, value)) break;
      } else if (marker.name == "EOH") {
        return;
      }
    }
    throw EAdifError("Cannot read the ADIF file " + std::string(fileName_) + ": its header has no <EOH>.");
  }

  // The text from `from` on that no <EOR> closes.
  AdifLeftOut LeftOut(size_t from) const {
    AdifLeftOut left;
    while (from < b_.size() && IsBlank(b_[from])) ++from;
    left.offset = from;
    left.line = 1;
    for (size_t i = 0; i < from; ++i)
      if (b_[i] == '\n') ++left.line;
    size_t end = from;
    size_t characters = 0;
    while (end < b_.size() && b_[end] != '\r' && b_[end] != '\n' && characters < 40) {
      const size_t n = utf8_ ? Utf8SequenceLength(b_, end) : 1;
      end += n == 0 ? 1 : n;
      ++characters;
    }
    left.start = ForMessage(b_.substr(from, end - from));
    return left;
  }

  // Bytes of the file as UTF-8, for a message.
  std::string ForMessage(std::string_view bytes) const {
    return utf8_ ? std::string(bytes) : Cp1252ToUtf8(bytes);
  }

  // The message for a malformed tag of record `record` (0: the header, where it is text).
  [[noreturn]] void Malformed(size_t record, const std::string& field, const std::string& what) const {
    throw EAdifError("Cannot read the ADIF file " + std::string(fileName_) + ": record " + std::to_string(record) +
                     ", field " + field + ": " + what);
  }

  enum class Found { Specifier, Text, CutAtEnd, BadLength, Unclosed };

  // Finds the next data specifier from pos_ and moves past it; false at the end of the file, and
  // with `cut` set when the end of the file cuts a specifier short.
  bool Next(Specifier& marker, size_t record, bool& cut) {
    while (true) {
      const size_t open = b_.find('<', pos_);
      if (open == std::string_view::npos) {
        pos_ = b_.size();
        return false;
      }
      const Found found = Parse(open, marker);
      if (found == Found::Specifier) {
        pos_ = marker.end;
        return true;
      }
      if (found == Found::CutAtEnd) {
        pos_ = b_.size();
        cut = true;
        return false;
      }
      // In the header's free text a '<' with a ':' after a word is still only text.
      if (record > 0 && found == Found::BadLength) {
        const size_t digits = open + 1 + marker.name.size() + 1;
        size_t end = digits;
        while (end < b_.size() && end - digits < 20 && b_[end] != '>' && b_[end] != '<' && !IsBlank(b_[end])) ++end;
        Malformed(record, marker.name,
                  "the length \"" + ForMessage(b_.substr(digits, end - digits)) + "\" is not a number.");
      }
      if (record > 0 && found == Found::Unclosed) Malformed(record, marker.name, "its tag is not closed by '>'.");
      pos_ = open + 1;
    }
  }

  Found Parse(size_t open, Specifier& marker) const {
    size_t at = open + 1;
    const size_t nameStart = at;
    while (at < b_.size() && IsNameChar(b_[at])) ++at;
    if (at >= b_.size()) return at > nameStart ? Found::CutAtEnd : Found::Text;
    if (at == nameStart) return Found::Text;
    marker.name.assign(b_.substr(nameStart, at - nameStart));
    for (char& c : marker.name) c = AsciiUpper(c);
    if (b_[at] == '>') {
      marker.hasLength = false;
      marker.end = at + 1;
      return Found::Specifier;
    }
    if (b_[at] != ':') return Found::Text;
    ++at;
    const size_t digits = at;
    size_t length = 0;
    while (at < b_.size() && b_[at] >= '0' && b_[at] <= '9') {
      // A length beyond any file is kept as "too long": the value then runs past the end.
      if (length < (size_t{1} << 40)) length = length * 10 + static_cast<size_t>(b_[at] - '0');
      ++at;
    }
    if (at >= b_.size()) return Found::CutAtEnd;
    if (at == digits) return Found::BadLength;
    if (b_[at] == ':') {
      ++at;
      while (at < b_.size() && IsNameChar(b_[at])) ++at;
      if (at >= b_.size()) return Found::CutAtEnd;
    }
    if (b_[at] != '>') return Found::Unclosed;
    marker.hasLength = true;
    marker.length = length;
    marker.end = at + 1;
    return Found::Specifier;
  }

  // Whether a value ending at `end` is followed by what may follow a value in a tidy file.
  bool EndsCleanly(size_t end) const {
    return end == b_.size() || IsBlank(b_[end]) || b_[end] == '<';
  }

  // The value after `marker`, in the tables' code page, into `out`; moves pos_ past it. False
  // when the file ends before the value does.
  bool TakeValue(const Specifier& marker, std::string& out) {
    const size_t start = marker.end;
    if (marker.length > b_.size() - start) {
      pos_ = b_.size();
      return false;
    }
    size_t end = start + marker.length;
    if (utf8_) {
      const bool cutsCharacter = end < b_.size() && (static_cast<unsigned char>(b_[end]) & 0xC0) == 0x80;
      if (cutsCharacter || !EndsCleanly(end)) {
        size_t byCharacters = start;
        size_t count = 0;
        while (count < marker.length && byCharacters < b_.size()) {
          const size_t n = Utf8SequenceLength(b_, byCharacters);
          if (n == 0) break;
          byCharacters += n;
          ++count;
        }
        if (count == marker.length && byCharacters != end && EndsCleanly(byCharacters)) end = byCharacters;
      }
    }
    pos_ = end;
    const std::string_view value = b_.substr(start, end - start);
    if (utf8_)
      Utf8ToCp1252(value, out);
    else
      out.assign(value);
    return true;
  }

  std::string_view b_;
  std::string_view fileName_;
  const AdifReadProgress& progress_;
  bool utf8_;
  size_t pos_ = 0;
};

}  // namespace

const std::string* AdifRecord::Find(std::string_view name) const {
  for (const AdifField& field : fields)
    if (field.name == name) return &field.value;
  return nullptr;
}

AdifReadSummary ReadAdifRecords(std::string_view bytes, bool digiPan, std::string_view fileName,
                                const std::function<void(const AdifRecord&)>& onRecord,
                                const AdifReadProgress& progress) {
  return Reader(bytes, fileName, progress).Read(digiPan, onRecord);
}

std::vector<AdifRecord> ParseAdif(std::string_view bytes, bool digiPan, std::string_view fileName,
                                  const AdifReadProgress& progress, AdifReadSummary* summary) {
  std::vector<AdifRecord> records;
  const AdifReadSummary read =
      ReadAdifRecords(bytes, digiPan, fileName, [&records](const AdifRecord& r) { records.push_back(r); }, progress);
  if (summary != nullptr) *summary = read;
  return records;
}

std::string AdifCollectedText(std::string_view bytes, bool digiPan, std::string_view fileName) {
  const AdifReadProgress none;
  Reader reader(bytes, fileName, none);
  reader.SkipToBody(digiPan);
  size_t from = reader.Position();
  // The rest of the line that ends the header, when it holds nothing, is no line of the records.
  size_t blank = from;
  while (blank < bytes.size() && (bytes[blank] == ' ' || bytes[blank] == '\t')) ++blank;
  if (blank < bytes.size() && (bytes[blank] == '\r' || bytes[blank] == '\n')) {
    from = blank + (bytes[blank] == '\r' && blank + 1 < bytes.size() && bytes[blank + 1] == '\n' ? 2 : 1);
  }
  std::string text = SysUpperCase(reader.Utf8() ? Utf8ToCp1252(bytes.substr(from)) : std::string(bytes.substr(from)));
  // One '\n' per line, however the file ends its lines.
  std::string lines;
  lines.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      lines += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      lines += text[i];
    }
  }
  if (!lines.empty() && lines.back() != '\n') lines += '\n';
  return lines;
}

}  // namespace quillmere
