#include "adif_import.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "dataset/Sorl6db.h"
#include "base/SysSorl.h"
#include "base/hx6_date.h"
#include "base/hx6_disk.h"
#include "adif_export.h"
#include "cp1252_text.h"

namespace quillmere {

namespace {

// The largest whole number NUMBER (N 20.4) holds: 15 digits before the point.
constexpr size_t kMaxDigits = 15;

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// A number is digits 0-9 only (blanks around them allowed), as many as NUMBER holds.
bool IsNumber(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty() || text.size() > kMaxDigits) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

int64_t NumberOf(std::string_view text) {
  int64_t value = 0;
  for (const char c : TrimBlanks(text)) value = value * 10 + (c - '0');
  return value;
}

// A report is a number with an optional sign, as digital modes give theirs ("-10", "+02").
bool IsReport(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  return IsNumber(text);
}

int64_t ReportOf(std::string_view text) {
  text = TrimBlanks(text);
  const bool negative = text.front() == '-';
  if (text.front() == '-' || text.front() == '+') text.remove_prefix(1);
  return negative ? -NumberOf(text) : NumberOf(text);
}

// The value of two digits at `at`.
int TwoDigits(std::string_view digits, size_t at) { return (digits[at] - '0') * 10 + (digits[at + 1] - '0'); }

// The band's number: the metres before the unit ("20M" 20, "160M" 160); the logbook names its
// 70 cm and 23 cm bands 70 and 23, and has no number for any other band ("6CM" is not 6 m): 0,
// as for a value that is no number.
int64_t BandNumber(std::string band) {
  band = std::string(TrimBlanks(band));
  if (band == "70CM" || band == "23CM") return band[0] == '7' ? 70 : 23;
  if (band.size() < 2 || band.back() != 'M' || band[band.size() - 2] == 'C' || band[band.size() - 2] == 'M')
    return IsNumber(band) ? NumberOf(band) : 0;
  band.pop_back();
  return IsNumber(band) ? NumberOf(band) : 0;
}

[[noreturn]] void BadValue(std::string_view fileName, size_t record, const char* what,
                           const std::string& value, const char* kind) {
  throw EAdifError("Cannot import record " + std::to_string(record) + " of " + std::string(fileName) +
                   ": the " + what + " \"" + Cp1252ToUtf8(value) + "\" is not a " + kind + ".");
}

template <typename Contacts>
int64_t NumberByPlace(Contacts& contacts) {
  std::unordered_set<int64_t> taken;
  int64_t pending = 0;
  for (const ImportedContact& c : contacts) {
    if (c.hasSerial)
      taken.insert(c.number);
    else
      ++pending;
  }
  if (pending == 0) return 0;
  // For a taken number, a number at or above which the next free one lies; followed and
  // shortened as numbers are handed out, so a long run of taken numbers is walked once.
  std::unordered_map<int64_t, int64_t> skip;
  std::vector<int64_t> walked;
  auto nextFree = [&](int64_t n) {
    walked.clear();
    while (taken.count(n) != 0) {
      walked.push_back(n);
      const auto hop = skip.find(n);
      n = hop != skip.end() ? hop->second : n + 1;
    }
    for (const int64_t w : walked) skip[w] = n;
    return n;
  };
  for (ImportedContact& c : contacts) {
    if (c.hasSerial) continue;
    c.number = nextFree(c.number);
    taken.insert(c.number);
    skip[c.number] = c.number + 1;
  }
  return pending;
}

// A whole file mapped for reading (an empty file maps nothing).
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("Cannot open", path);
    struct stat info {};
    if (fstat(fd, &info) != 0) {
      const int error = errno;
      close(fd);
      errno = error;
      Fail("Cannot read", path);
    }
    size_ = static_cast<size_t>(info.st_size);
    if (size_ > 0) {
      data_ = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
      const int error = errno;
      close(fd);
      if (data_ == MAP_FAILED) {
        data_ = nullptr;
        errno = error;
        Fail("Cannot read", path);
      }
    } else {
      close(fd);
    }
  }
  ~MappedFile() {
    if (data_ != nullptr) munmap(data_, size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  std::string_view Bytes() const {
    return data_ == nullptr ? std::string_view() : std::string_view(static_cast<const char*>(data_), size_);
  }

 private:
  [[noreturn]] static void Fail(const char* what, const std::string& path) {
    throw std::runtime_error(std::string(what) + " file \"" + path + "\". " + std::strerror(errno));
  }

  void* data_ = nullptr;
  size_t size_ = 0;
};

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

// A temporary folder beside the new logbook, removed with everything in it unless released.
class TempFolder {
 public:
  explicit TempFolder(const std::string& besideFolder) {
    path_ = besideFolder + ".quillmere-import-XXXXXX";
    if (mkdtemp(path_.data()) == nullptr)
      throw std::runtime_error("Cannot create a folder in \"" + besideFolder + "\". " + std::strerror(errno));
    path_ += '/';
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

void MoveInto(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0)
    throw std::runtime_error("Cannot write file \"" + to + "\". " + std::strerror(errno));
}

// Flushes a written file to disk, so that it is whole before it replaces another.
void SyncFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool synced = fd >= 0 && fsync(fd) == 0;
  const int error = errno;
  if (fd >= 0) close(fd);
  if (!synced) throw std::runtime_error("Cannot write file \"" + path + "\". " + std::strerror(error));
}

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Writes the contacts into a new logbook at `path` (a fresh folder) and builds its tags.
void WriteLogbook(const std::string& path, const std::deque<ImportedContact>& contacts,
                  const ImportProgress& progress) {
  if (!CreateLogbookTable(path, ImportFieldLines(), {}))
    throw std::runtime_error("Cannot write file \"" + path + "\".");
  TSorrelDataSet table;
  table.SetTableName(path);
  // Nobody else can know the table yet: exclusive use spares the shared locks of every append.
  table.SetExclusive(true);
  table.Open();
  const LogbookFieldSet f = BindLogbookFields(table);
  const auto total = static_cast<int64_t>(contacts.size());
  int64_t done = 0;
  for (const ImportedContact& c : contacts) {
    table.Append();
    f[fDATE]->SetAsDateTime(JulianToDateTime(c.date));
    f[fTIME]->SetAsString(c.time);
    f[fNUMBER]->SetAsFloat(static_cast<double>(c.number));
    f[fNRSENT]->SetAsFloat(static_cast<double>(c.sent));
    f[fNRRCVD]->SetAsFloat(static_cast<double>(c.received));
    f[fBAND]->SetAsFloat(static_cast<double>(c.band));
    if (c.tenTen > 0) f[fTENTEN]->SetAsFloat(static_cast<double>(c.tenTen));
    for (const LogField i : kImportedTextFields) {
      const std::string_view text = c.Text(i);
      if (!text.empty()) f[static_cast<size_t>(i)]->SetAsString(text);
    }
    table.Post();
    if (progress && ++done % 1000 == 0) progress(ImportPhase::Writing, done, total);
  }
  if (progress) progress(ImportPhase::Writing, total, total);
  IndexProgress tags;
  if (progress) tags = [&progress](int tag, int count, int64_t, int64_t) {
    progress(ImportPhase::Indexing, tag - 1, count);
  };
  BuildLogbookTags(table, path, tags);
  table.Close();
  if (progress) progress(ImportPhase::Indexing, 7, 7);
}

}  // namespace

std::string_view ImportedContact::Text(LogField field) const {
  size_t start = 0;
  for (const LogField slot : kImportedTextFields) {
    const size_t end = texts_.find('\0', start);
    if (end == std::string::npos) return {};
    if (slot == field) return std::string_view(texts_).substr(start, end - start);
    start = end + 1;
  }
  return {};
}

void ImportedContact::SetTexts(const std::array<const std::string*, std::size(kImportedTextFields)>& texts) {
  texts_.clear();
  for (const std::string* text : texts) {
    if (text != nullptr) texts_ += *text;
    texts_ += '\0';
  }
  // A value may span lines in the file; a table field holds one line.
  for (char& c : texts_)
    if (c != '\0' && static_cast<unsigned char>(c) < ' ') c = ' ';
  texts_ = SysUpperCase(texts_);
}

ImportedContact AdifContactConverter::Convert(const AdifRecord& r, std::string_view fileName,
                                              size_t recordNo) {
  ImportedContact c;

  const std::string* date = r.Find("QSO_DATE");
  c.date = DBFDate().EncodeDate(2000, 1, 1);
  const std::string_view dateText = date != nullptr ? TrimBlanks(*date) : std::string_view();
  if (dateText.size() == 8) {
    const bool digits = IsNumber(dateText);
    c.date = digits ? DBFDate().EncodeDate(TwoDigits(dateText, 0) * 100 + TwoDigits(dateText, 2),
                                           TwoDigits(dateText, 4), TwoDigits(dateText, 6))
                    : 0;
    if (c.date == 0) BadValue(fileName, recordNo, "date (QSO_DATE)", *date, "date");
  }

  // hhmm or hhmmss; a writer that drops the leading zero of the hour gives 930 or 93000.
  const std::string* time = r.Find("TIME_ON");
  c.time = "00:00";
  if (time != nullptr && !TrimBlanks(*time).empty()) {
    std::string digits(TrimBlanks(*time));
    if (digits.size() == 3 || digits.size() == 5) digits.insert(0, 1, '0');
    const bool ok = (digits.size() == 4 || digits.size() == 6) && IsNumber(digits) && TwoDigits(digits, 0) < 24 &&
                    TwoDigits(digits, 2) < 60;
    if (!ok) BadValue(fileName, recordNo, "time (TIME_ON)", *time, "time");
    c.time = digits.substr(0, 2) + ":" + digits.substr(2, 2);
  }

  ++count_;
  const std::string* stx = r.Find("STX");
  c.hasSerial = stx != nullptr && IsNumber(*stx);
  c.number = c.hasSerial ? NumberOf(*stx) : count_;

  const std::string* sent = r.Find("RST_SENT");
  const std::string* received = r.Find("RST_RCVD");
  c.sent = sent == nullptr ? 1 : (IsReport(*sent) ? ReportOf(*sent) : 0);
  c.received = received == nullptr ? 1 : (IsReport(*received) ? ReportOf(*received) : 0);
  const std::string* band = r.Find("BAND");
  c.band = band == nullptr ? 0 : BandNumber(SysUpperCase(*band));
  const std::string* tenTen = r.Find("TEN_TEN");
  if (tenTen == nullptr) tenTen = r.Find("TEN-TEN");
  c.tenTen = tenTen != nullptr && IsNumber(*tenTen) ? NumberOf(*tenTen) : 0;

  const std::string* mode = r.Find("MODE");
  const std::string* submode = r.Find("SUBMODE");
  std::string loggedMode;
  if (mode != nullptr) loggedMode = LoggedModeOfAdif(*mode, submode != nullptr ? *submode : std::string());
  c.SetTexts({r.Find("CALL"), r.Find("QTH"), r.Find("NAME"), mode != nullptr ? &loggedMode : nullptr, r.Find("PFX"),
              r.Find("STATE"), r.Find("CQZ"), r.Find("ITUZ"), r.Find("QSL_SENT"), r.Find("QSL_RCVD"),
              r.Find("CITY"), r.Find("COMMENT"), r.Find("FREQ"), r.Find("CNTY"), r.Find("CONTEST_ID"),
              r.Find("OPERATOR"), r.Find("IOTA"), r.Find("TX_PWR"), r.Find("GRIDSQUARE")});
  return c;
}

int64_t NumberContacts(std::vector<ImportedContact>& contacts) { return NumberByPlace(contacts); }
int64_t NumberContacts(std::deque<ImportedContact>& contacts) { return NumberByPlace(contacts); }

std::vector<ImportedContact> ContactsFromAdif(const std::vector<AdifSource>& sources) {
  std::vector<ImportedContact> contacts;
  AdifContactConverter converter;
  for (const AdifSource& source : sources)
    for (size_t n = 0; n < source.records.size(); ++n)
      contacts.push_back(converter.Convert(source.records[n], source.fileName, n + 1));
  NumberContacts(contacts);
  return contacts;
}

std::string ImportTableName(std::string_view adifFileName) {
  std::string name(adifFileName);
  for (const char* extension : {".adi", ".ADI", ".txt", ".TXT"}) {
    const size_t at = name.find(extension);
    if (at != std::string::npos) name.erase(at, 4);
  }
  if (name.size() > 4) {
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (extension == ".adi" || extension == ".txt") name.resize(name.size() - 4);
  }
  return name + ".dbf";
}

std::string AdifImportNote(const AdifImportResult& result) {
  std::string note;
  for (const AdifLeftOutText& left : result.leftOut) {
    if (!note.empty()) note += ' ';
    note += "The text after the last <EOR> of " + left.fileName + " was left out: no <EOR> ends it. It begins on line " +
            std::to_string(left.text.line) + " with \"" + left.text.start + "\".";
  }
  // Every contact numbered by its place is the usual import of a log without serial numbers.
  if (result.numberedByPlace > 0 && result.numberedByPlace < result.records) {
    if (!note.empty()) note += ' ';
    note += std::to_string(result.numberedByPlace) +
            (result.numberedByPlace == 1 ? " contact has" : " contacts have") +
            " no serial number (STX) and " + (result.numberedByPlace == 1 ? "was" : "were") +
            " numbered by " + (result.numberedByPlace == 1 ? "its" : "their") +
            " place in the import, or the next free number.";
  }
  return note;
}

AdifImportResult ImportAdifFiles(const AdifImportRequest& request) {
  AdifImportResult result;
  if (request.files.empty()) return result;

  // Everything is read and converted before anything is written.
  int64_t totalBytes = 0;
  for (const std::string& file : request.files) {
    struct stat info {};
    if (stat(file.c_str(), &info) == 0) totalBytes += info.st_size;
  }
  // A deque: a hundred thousand contacts are never moved as the list grows.
  std::deque<ImportedContact> contacts;
  AdifContactConverter converter;
  int64_t bytesBefore = 0;
  for (const std::string& file : request.files) {
    const MappedFile mapped(file);
    const std::string_view bytes = mapped.Bytes();
    const std::string fileName = FileNameOf(file);
    AdifReadProgress read;
    if (request.progress)
      read = [&](size_t done, size_t) {
        request.progress(ImportPhase::Reading, bytesBefore + static_cast<int64_t>(done), totalBytes);
      };
    if (request.collected) request.collected(AdifCollectedText(bytes, request.digiPan, fileName));
    size_t recordNo = 0;
    const AdifReadSummary summary = ReadAdifRecords(
        bytes, request.digiPan, fileName,
        [&](const AdifRecord& record) { contacts.push_back(converter.Convert(record, fileName, ++recordNo)); },
        read);
    if (summary.leftOut) result.leftOut.push_back({fileName, *summary.leftOut});
    bytesBefore += static_cast<int64_t>(bytes.size());
  }
  result.records = static_cast<int64_t>(contacts.size());
  result.numberedByPlace = NumberContacts(contacts);

  const std::string folder = FolderOf(request.files.front());
  const std::string name = ImportTableName(FileNameOf(request.files.front()));
  result.tablePath = ResolveFileNameCase(folder + name);
  if (IsReservedLogbookBase(LogBaseName(name))) {
    result.outcome = AdifImportOutcome::ReservedName;
    return result;
  }
  const std::string indexPath = LogbookIndexPath(result.tablePath);
  if (!request.openLogbookPath.empty() &&
      (SameFile(result.tablePath, request.openLogbookPath) ||
       SameFile(indexPath, LogbookIndexPath(request.openLogbookPath)))) {
    result.outcome = AdifImportOutcome::OpenLogbook;
    return result;
  }
  // The index counts too: "a.b.dbf" would replace the index of a logbook "a.dbf".
  if ((std::filesystem::exists(result.tablePath) || std::filesystem::exists(indexPath)) &&
      !(request.confirmOverwrite && request.confirmOverwrite("Table exists.  Do you want to overwrite?"))) {
    result.outcome = AdifImportOutcome::Cancelled;
    return result;
  }

  TempFolder temp(folder);
  const std::string tempTable = temp.Path() + FileNameOf(result.tablePath);
  WriteLogbook(tempTable, contacts, request.progress);
  SyncFile(tempTable);
  SyncFile(LogbookIndexPath(tempTable));
  // The table first: should the index not follow, opening the logbook builds its tags anew.
  MoveInto(tempTable, result.tablePath);
  MoveInto(LogbookIndexPath(tempTable), indexPath);
  SyncFolder(folder);
  result.outcome = AdifImportOutcome::Imported;
  return result;
}

}  // namespace quillmere
