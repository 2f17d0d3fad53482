#include "adif_reader.h"

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

  void Read(bool digiPan, const std::function<void(const AdifRecord&)>& onRecord) {
    if (utf8_ && b_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    if (digiPan) {
      const size_t newline = b_.find('\n', pos_);
      pos_ = newline == std::string_view::npos ? b_.size() : newline + 1;
    } else {
      SkipHeader();
    }
    // One record's fields are filled in place, their strings and the list keeping their room
    // from record to record.
    AdifRecord record;
    size_t used = 0;
    size_t count = 0;
    Specifier marker;
    while (Next(marker, count + 1)) {
      if (marker.hasLength) {
        if (used == record.fields.size()) record.fields.emplace_back();
        AdifField& field = record.fields[used++];
        field.name = marker.name;
        TakeValue(marker, count + 1, field.value);
      } else if (marker.name == "EOR" && used > 0) {
        record.fields.resize(used);
        onRecord(record);
        used = 0;
        ++count;
        if (progress_ && count % 1000 == 0) progress_(pos_, b_.size());
      }
    }
    if (used > 0) Cut(count + 1);
    if (progress_) progress_(b_.size(), b_.size());
  }

 private:
  // The header runs to <EOH>; a file that begins (after blanks) with '<' has none.
  void SkipHeader() {
    size_t first = pos_;
    while (first < b_.size() && IsBlank(b_[first])) ++first;
    if (first == b_.size() || b_[first] == '<') return;
    Specifier marker;
    std::string value;
    while (Next(marker, 0)) {
      if (marker.hasLength)
        TakeValue(marker, 0, value);
      else if (marker.name == "EOH")
        return;
    }
    NoHeaderEnd();
  }

  [[noreturn]] void NoHeaderEnd() const {
    throw EAdifError("Cannot read the ADIF file " + std::string(fileName_) +
                     ": its header has no <EOH>.");
  }

  // Record 0 is the header.
  [[noreturn]] void Cut(size_t record) const {
    if (record == 0) NoHeaderEnd();
    throw EAdifError("Cannot read the ADIF file " + std::string(fileName_) + ": record " +
                     std::to_string(record) + " is cut short (the file ends inside it).");
  }

  enum class Found { Specifier, Text, CutAtEnd };

  // Finds the next data specifier from pos_ and moves past it; false at the end of the file.
  // A specifier that the end of the file cuts short ends a cut record.
  bool Next(Specifier& marker, size_t record) {
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
      if (found == Found::CutAtEnd) Cut(record);
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
    if (at == digits) return Found::Text;
    if (b_[at] == ':') {
      ++at;
      while (at < b_.size() && IsNameChar(b_[at])) ++at;
      if (at >= b_.size()) return Found::CutAtEnd;
    }
    if (b_[at] != '>') return Found::Text;
    marker.hasLength = true;
    marker.length = length;
    marker.end = at + 1;
    return Found::Specifier;
  }

  // Whether a value ending at `end` is followed by what may follow a value in a tidy file.
  bool EndsCleanly(size_t end) const {
    return end == b_.size() || IsBlank(b_[end]) || b_[end] == '<';
  }

  // The value after `marker`, in the tables' code page, into `out`; moves pos_ past it.
  void TakeValue(const Specifier& marker, size_t record, std::string& out) {
    const size_t start = marker.end;
    if (marker.length > b_.size() - start) Cut(record);
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

void ReadAdifRecords(std::string_view bytes, bool digiPan, std::string_view fileName,
                     const std::function<void(const AdifRecord&)>& onRecord,
                     const AdifReadProgress& progress) {
  Reader(bytes, fileName, progress).Read(digiPan, onRecord);
}

std::vector<AdifRecord> ParseAdif(std::string_view bytes, bool digiPan, std::string_view fileName,
                                  const AdifReadProgress& progress) {
  std::vector<AdifRecord> records;
  ReadAdifRecords(bytes, digiPan, fileName, [&records](const AdifRecord& r) { records.push_back(r); },
                  progress);
  return records;
}

}  // namespace quillmere
