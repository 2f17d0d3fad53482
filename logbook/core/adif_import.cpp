#include "adif_import.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Sorl6db.h"
#include "SysSorl.h"
#include "hx6_date.h"
#include "hx6_disk.h"

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

// A value as the import stores it: upper case, line breaks and other control characters as
// blanks (a value may span lines in the file; a table field holds one line).
std::string Cleaned(const std::string* value) {
  if (value == nullptr) return {};
  std::string text = SysUpperCase(*value);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < ' ') c = ' ';
  return text;
}

// The band's number: the value without its unit ("20M" 20, "160M" 160, "70CM" 70); 0 when what
// is left is not a number.
int64_t BandNumber(std::string band) {
  band = std::string(TrimBlanks(band));
  if (band.size() >= 2 && band.compare(band.size() - 2, 2, "CM") == 0)
    band.resize(band.size() - 2);
  else if (!band.empty() && band.back() == 'M')
    band.pop_back();
  return IsNumber(band) ? NumberOf(band) : 0;
}

[[noreturn]] void BadValue(const AdifSource& source, size_t record, const char* what,
                           const std::string& value, const char* kind) {
  throw EAdifError("Cannot import record " + std::to_string(record) + " of " + source.fileName +
                   ": the " + what + " \"" + value + "\" is not a " + kind + ".");
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(errno));
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw std::runtime_error("Cannot read file \"" + path + "\". " + std::strerror(errno));
  return std::move(bytes).str();
}

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

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Writes the contacts into a new logbook at `path` (a fresh folder) and builds its tags.
void WriteLogbook(const std::string& path, const std::vector<ImportedContact>& contacts,
                  const ImportProgress& progress) {
  if (!CreateLogbookTable(path, ImportFieldLines(), {}))
    throw std::runtime_error("Cannot write file \"" + path + "\".");
  TSorrelDataSet table;
  table.SetTableName(path);
  // Nobody else can know the table yet: exclusive use spares the shared locks of every append.
  table.SetExclusive(true);
  table.Open();
  const LogbookFieldSet f = BindLogbookFields(table);
  static constexpr int kTextFields[] = {fSTATION, fQTH,    fSPARE1,  fMODE, fPREFIX, fSTATE,  fCITY,
                                        fFREQ,    fCOUNTY, fCONTEST, fOPERATR, fIOTA, fTXPWR, fGRIDSQR};
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
    for (const int i : kTextFields) {
      const std::string& text = c.text[static_cast<size_t>(i)];
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

std::vector<ImportedContact> ContactsFromAdif(const std::vector<AdifSource>& sources) {
  std::vector<ImportedContact> contacts;
  const AdifRecord* first = nullptr;
  for (const AdifSource& source : sources)
    if (!source.records.empty()) {
      first = &source.records.front();
      break;
    }
  const std::string* firstStx = first != nullptr ? first->Find("STX") : nullptr;
  const bool numbered = firstStx != nullptr && IsNumber(*firstStx);

  for (const AdifSource& source : sources) {
    for (size_t n = 0; n < source.records.size(); ++n) {
      const AdifRecord& r = source.records[n];
      const size_t recordNo = n + 1;
      ImportedContact c;

      const std::string* date = r.Find("QSO_DATE");
      c.date = DBFDate().EncodeDate(2000, 1, 1);
      if (date != nullptr && date->size() == 8) {
        int parts[3] = {0, 0, 0};
        bool digits = true;
        for (const char ch : *date) digits = digits && ch >= '0' && ch <= '9';
        if (digits) {
          parts[0] = std::stoi(date->substr(0, 4));
          parts[1] = std::stoi(date->substr(4, 2));
          parts[2] = std::stoi(date->substr(6, 2));
        }
        c.date = digits ? DBFDate().EncodeDate(parts[0], parts[1], parts[2]) : 0;
        if (c.date == 0) BadValue(source, recordNo, "date (QSO_DATE)", *date, "date");
      }

      const std::string* time = r.Find("TIME_ON");
      c.time = "00:00";
      if (time != nullptr && (time->size() == 4 || time->size() == 6)) {
        const std::string hhmm = time->substr(0, 4);
        const bool ok = IsNumber(hhmm) && std::stoi(hhmm.substr(0, 2)) < 24 && std::stoi(hhmm.substr(2, 2)) < 60;
        if (!ok) BadValue(source, recordNo, "time (TIME_ON)", *time, "time");
        c.time = hhmm.substr(0, 2) + ":" + hhmm.substr(2, 2);
      }

      const std::string* stx = r.Find("STX");
      if (numbered) {
        if (stx == nullptr || !IsNumber(*stx))
          BadValue(source, recordNo, "serial number (STX)", stx ? *stx : std::string(), "number");
        c.number = NumberOf(*stx);
      } else {
        c.number = static_cast<int64_t>(contacts.size()) + 1;
      }

      const std::string* sent = r.Find("RST_SENT");
      const std::string* received = r.Find("RST_RCVD");
      c.sent = sent == nullptr ? 1 : (IsNumber(*sent) ? NumberOf(*sent) : 0);
      c.received = received == nullptr ? 1 : (IsNumber(*received) ? NumberOf(*received) : 0);
      c.band = BandNumber(Cleaned(r.Find("BAND")));

      auto& t = c.text;
      t[fSTATION] = Cleaned(r.Find("CALL"));
      t[fQTH] = Cleaned(r.Find("QTH"));
      t[fSPARE1] = Cleaned(r.Find("NAME"));
      t[fMODE] = Cleaned(r.Find("MODE"));
      t[fPREFIX] = Cleaned(r.Find("PFX"));
      t[fSTATE] = Cleaned(r.Find("STATE"));
      t[fCITY] = Cleaned(r.Find("CITY"));
      t[fFREQ] = Cleaned(r.Find("FREQ"));
      t[fCOUNTY] = Cleaned(r.Find("CNTY"));
      t[fCONTEST] = Cleaned(r.Find("CONTEST_ID"));
      t[fOPERATR] = Cleaned(r.Find("OPERATOR"));
      t[fIOTA] = Cleaned(r.Find("IOTA"));
      t[fTXPWR] = Cleaned(r.Find("TX_PWR"));
      t[fGRIDSQR] = Cleaned(r.Find("GRIDSQUARE"));
      contacts.push_back(std::move(c));
    }
  }
  return contacts;
}

std::string ImportTableName(std::string_view adifFileName) {
  std::string name(adifFileName);
  if (name.size() > 4) {
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (extension == ".adi" || extension == ".txt") name.resize(name.size() - 4);
  }
  return name + ".dbf";
}

AdifImportResult ImportAdifFiles(const AdifImportRequest& request) {
  AdifImportResult result;
  if (request.files.empty()) return result;

  // Everything is read and converted before anything is written.
  std::vector<AdifSource> sources;
  std::vector<std::string> bytes;
  int64_t totalBytes = 0;
  for (const std::string& file : request.files) {
    bytes.push_back(ReadWholeFile(file));
    totalBytes += static_cast<int64_t>(bytes.back().size());
  }
  int64_t bytesBefore = 0;
  for (size_t i = 0; i < request.files.size(); ++i) {
    AdifReadProgress read;
    if (request.progress)
      read = [&](size_t done, size_t) {
        request.progress(ImportPhase::Reading, bytesBefore + static_cast<int64_t>(done), totalBytes);
      };
    sources.push_back({FileNameOf(request.files[i]), ParseAdif(bytes[i], request.digiPan, FileNameOf(request.files[i]), read)});
    bytesBefore += static_cast<int64_t>(bytes[i].size());
    bytes[i] = std::string();
  }
  const std::vector<ImportedContact> contacts = ContactsFromAdif(sources);
  sources.clear();
  result.records = static_cast<int64_t>(contacts.size());

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
  if (std::filesystem::exists(result.tablePath) &&
      !(request.confirmOverwrite && request.confirmOverwrite("Table exists.  Do you want to overwrite?"))) {
    result.outcome = AdifImportOutcome::Cancelled;
    return result;
  }

  TempFolder temp(folder);
  const std::string tempTable = temp.Path() + FileNameOf(result.tablePath);
  WriteLogbook(tempTable, contacts, request.progress);
  // The table first: should the index not follow, opening the logbook builds its tags anew.
  MoveInto(tempTable, result.tablePath);
  MoveInto(LogbookIndexPath(tempTable), indexPath);
  SyncFolder(folder);
  result.outcome = AdifImportOutcome::Imported;
  return result;
}

}  // namespace quillmere
