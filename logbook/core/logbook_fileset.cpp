#include "logbook_fileset.h"

#include <algorithm>
#include <filesystem>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_creator.h"
#include "dataset/Sorl6db_search.h"
#include "ascii_text.h"
#include "base/hx6_disk.h"

namespace quillmere {

namespace {

// File names are compared and upper-cased in ASCII only (ascii_text.h): on Linux they are UTF-8,
// whose lead bytes a code-page case table would change.

bool IsNumberType(TFieldType type) {
  return type == TFieldType::ftFloat || type == TFieldType::ftInteger ||
         type == TFieldType::ftLargeint || type == TFieldType::ftSmallint ||
         type == TFieldType::ftCurrency;
}

std::vector<std::string> MakeLines(bool numericReports) {
  std::vector<std::string> lines = {
      "DATE;D;8;0",    "TIME;C;6;0",     "NUMBER;N;20;4",  "STATION;C;15;0", "BAND;N;20;4",
      "QTH;C;20;0",    "RST;C;5;0",      "NRSENT;C;20;0",  "NRRCVD;C;20;0",  "SPARE1;C;20;0",
      "MODE;C;6;0",    "PREFIX;C;5;0",   "STATE;C;3;0",    "CQZONE;C;3;0",   "ITUZONE;C;3;0",
      "TENTEN;N;20;4", "QSLS;C;2;0",     "QSLR;C;2;0",     "CITY;C;30;0",    "REMARK;C;100;0",
      "FREQ;C;7;0",    "COUNTY;C;20;0",  "CONTEST;C;15;0", "OPERATR;C;8;0",  "IOTA;C;8;0",
      "TXPWR;C;4;0",   "GRIDSQR;C;6;0"};
  if (numericReports) {
    lines[fNRSENT] = "NRSENT;N;20;4";
    lines[fNRRCVD] = "NRRCVD;N;20;4";
  }
  return lines;
}

// Forwards the engine's progress reports of one tag build: (-1, operation, total) when the build
// starts, (operation, current, 0) per step, (0, 0, 0) at the end.
class TagProgress {
 public:
  TagProgress(TSorrelDataSet& dataSet, const IndexProgress& progress)
      : dataSet_(dataSet), saved_(dataSet.OnStatus) {
    if (!progress) return;
    dataSet_.OnStatus = [this, progress](int stat1, int stat2, int stat3) {
      if (stat1 == -1) {
        total_ = stat3;
        progress(tag_, 7, 0, total_);
      } else if (stat1 != 0) {
        progress(tag_, 7, stat2, total_);
      }
    };
  }
  ~TagProgress() { dataSet_.OnStatus = saved_; }
  TagProgress(const TagProgress&) = delete;
  TagProgress& operator=(const TagProgress&) = delete;
  void SetTag(int tag) { tag_ = tag; }

 private:
  TSorrelDataSet& dataSet_;
  ThxStatusReport saved_;
  int tag_ = 0;
  int64_t total_ = 0;
};

}  // namespace

const std::array<const char*, kLogFieldCount>& LogbookFieldNames() {
  static const std::array<const char*, kLogFieldCount> names = {
      "DATE",   "TIME",   "NUMBER", "STATION", "BAND",    "QTH",    "RST",     "NRSENT",  "NRRCVD",
      "SPARE1", "MODE",   "PREFIX", "STATE",   "CQZONE",  "ITUZONE", "TENTEN", "QSLS",    "QSLR",
      "CITY",   "REMARK", "FREQ",   "COUNTY",  "CONTEST", "OPERATR", "IOTA",   "TXPWR",   "GRIDSQR"};
  return names;
}

const std::vector<std::string>& LogbookFieldLines() {
  static const std::vector<std::string> lines = MakeLines(false);
  return lines;
}

const std::vector<std::string>& ImportFieldLines() {
  static const std::vector<std::string> lines = MakeLines(true);
  return lines;
}

const std::array<LogbookTag, 7>& LogbookTags() {
  static const std::array<LogbookTag, 7> tags = {{{"DATE", "DTOS(DATE)+TIME"},
                                                  {"TIME", "(TIME)"},
                                                  {"STATION", "STATION"},
                                                  {"STATE", "STATE"},
                                                  {"NUMBER", "NUMBER"},
                                                  {"QTH", "QTH"},
                                                  {"BAND", "BAND"}}};
  return tags;
}

std::string FileNameOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FolderOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string LogBaseName(std::string_view fileName) {
  return std::string(fileName.substr(0, fileName.find('.')));
}

std::string LogbookIndexPath(std::string_view tablePath) {
  const std::string base = LogBaseName(FileNameOf(tablePath));
  return ResolveFileNameCase(FolderOf(tablePath) + AsciiUpperCase(base) + ".cdx");
}

bool IsRefusedLogbookName(std::string_view fileName) {
  for (const char* refused : {"dummy.dbf", "STATES.DBF", "DXCC.DBF"})
    if (SameTextAscii(fileName, refused)) return true;
  return false;
}

bool IsReservedLogbookBase(std::string_view baseName) {
  for (const char* reserved : {"dummy", "STATES", "DXCC"})
    if (SameTextAscii(baseName, reserved)) return true;
  return false;
}

std::vector<std::string> MissingLogbookFields(TSorrelDataSet& dataSet) {
  std::vector<std::string> missing;
  const auto& lines = LogbookFieldLines();
  for (int i = 0; i < kLogFieldCount; ++i) {
    const char* name = LogbookFieldNames()[static_cast<size_t>(i)];
    const TField* field = dataSet.FindField(name);
    bool fits = field != nullptr;
    if (fits) {
      const TFieldType type = field->DataType();
      const char letter = lines[static_cast<size_t>(i)][std::string_view(name).size() + 1];
      if (i == fNRSENT || i == fNRRCVD)
        fits = type == TFieldType::ftString || IsNumberType(type);
      else if (letter == 'C')
        fits = type == TFieldType::ftString;
      else if (letter == 'N')
        fits = IsNumberType(type);
      else
        fits = type == TFieldType::ftDate;
    }
    if (!fits) missing.emplace_back(name);
  }
  return missing;
}

LogbookFieldSet BindLogbookFields(const TSorrelDataSet& dataSet) {
  LogbookFieldSet fields{};
  for (int i = 0; i < kLogFieldCount; ++i)
    fields[static_cast<size_t>(i)] = dataSet.FieldByName(LogbookFieldNames()[static_cast<size_t>(i)]);
  return fields;
}

bool CreateLogbookTable(const std::string& path, const std::vector<std::string>& lines,
                        const TSorrelConfirm& confirm) {
  TSorrelDataSet table;
  table.SetTableName(path);
  TCreateSorrelDataSet creator;
  creator.SetDBFTable(&table);
  creator.SetDBFType(DBaseIV);
  creator.SetAutoOverwrite(false);
  creator.SetCreateFields(lines);
  creator.ConfirmOverwrite = confirm;
  const bool created = creator.CreateTable();
  table.Close();
  return created;
}

void CheckIsLogbook(TSorrelDataSet& dataSet, const std::string& tablePath) {
  const std::vector<std::string> missing = MissingLogbookFields(dataSet);
  if (missing.empty()) return;
  std::string list;
  for (const std::string& name : missing) list += (list.empty() ? "" : ", ") + name;
  throw ELogbookRefused(ELogbookRefused::Reason::NotALogbook,
                        FileNameOf(tablePath) + " is not a logbook: it lacks the field" +
                            (missing.size() > 1 ? "s " : " ") + list + ".");
}

void BuildLogbookTags(TSorrelDataSet& dataSet, const std::string& tablePath,
                      const IndexProgress& progress) {
  CheckIsLogbook(dataSet, tablePath);
  const std::string cdx = LogbookIndexPath(tablePath);
  TagProgress forward(dataSet, progress);
  int n = 0;
  for (const LogbookTag& tag : LogbookTags()) {
    forward.SetTag(++n);
    BuildIndexTag(dataSet, cdx, tag.name, tag.key, "", 1, 0);
  }
}

void OpenLogbook(TSorrelDataSet& dbf1, const std::string& path, const IndexProgress& progress,
                 const std::function<void()>& opened) {
  const std::string fileName = FileNameOf(path);
  if (IsRefusedLogbookName(fileName))
    throw ELogbookRefused(ELogbookRefused::Reason::RefusedName, "Cannot use this file. ");
  dbf1.Close();
  // The index files of the logbook open before must not stay attached to the new table: its
  // appends would be written into the other logbook's index.
  dbf1.SetIndexFiles({});
  dbf1.SetTableName(path);
  dbf1.Open();
  try {
    CheckIsLogbook(dbf1, path);
    if (opened) opened();
    BuildLogbookTags(dbf1, path, progress);
  } catch (...) {
    dbf1.Close();
    throw;
  }
  dbf1.Close();
  dbf1.SetIndexFiles({LogbookIndexPath(path)});
  dbf1.SetIndexName("DATE");
  dbf1.Open();
  dbf1.Last();
}

bool IsLogbookTag(std::string_view tag) {
  for (const LogbookTag& t : LogbookTags())
    if (tag == t.name) return true;
  return false;
}

std::vector<std::string> LogListFiles(const std::string& folder) {
  // The group of a name's first letter: a, b, c, e .. z first, d last.
  auto group = [](char first) {
    const char c = AsciiUpper(first);
    return c == 'D' ? 26 : c - 'A';
  };
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    const char first = AsciiUpper(name.empty() ? ' ' : name[0]);
    if (first < 'A' || first > 'Z' || name.size() < 5) continue;
    if (AsciiUpperCase(std::string_view(name).substr(name.size() - 4)) != ".DBF") continue;
    if (!entry.is_regular_file(ec)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    const int ga = group(a[0]), gb = group(b[0]);
    if (ga != gb) return ga < gb;
    const std::string ua = AsciiUpperCase(a), ub = AsciiUpperCase(b);
    return ua != ub ? ua < ub : a < b;
  });
  return names;
}

TControlsDisabled::TControlsDisabled(TSorrelDataSet& dataSet) : dataSet_(dataSet) { dataSet_.DisableControls(); }

TControlsDisabled::~TControlsDisabled() {
  try {
    dataSet_.EnableControls();
  } catch (...) {
    // The links re-read the data set as they are told; one that cannot read it shows what it
    // could, and the work's own error is what the caller reports.
  }
}

TDataSourceOff::TDataSourceOff(TDataSource& source) : source_(source), wasEnabled_(source.Enabled()) {
  source_.SetEnabled(false);
}

TDataSourceOff::~TDataSourceOff() {
  try {
    source_.SetEnabled(wasEnabled_);
  } catch (...) {
    // As above: the controls show what they could read.
  }
}

bool OrderLogbook(TSorrelDataSet& dbf1, const std::string& tablePath, std::string_view tag) {
  const std::string cdx = LogbookIndexPath(tablePath);
  if (!std::filesystem::exists(cdx)) return false;
  dbf1.Close();
  dbf1.Open();
  RebuildIndexes(dbf1);
  OpenIndexList(dbf1, "\"" + cdx + "\"", tag);
  SelectIndexTag(dbf1, tag);
  dbf1.Last();
  return true;
}

}  // namespace quillmere
