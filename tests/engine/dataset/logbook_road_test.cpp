// The whole road a logbook takes through the engine, driven only through what the logbook program
// uses: the table creator with the program's 27 definition lines, the data set opened shared, the
// seven tags built, rebuilt and DATE selected, contacts typed (the duplicate check's filter and
// locate) and logged (append, every field, post), an earlier contact edited, contacts deleted, the
// table packed, closed and opened again; a second data set on the same files and a second process
// logging at the same time. After each stage the table is read back through a fresh data set, by
// Python's dbfread, every tag is walked and compared with a sort done here, and the compound index
// is read by Perl's index_dump.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_creator.h"
#include "dataset/Sorl6db_search.h"
#include "base/hx6_date.h"
#include "support/logbook_layout.h"
#include "table/table_images.h"
#include "support/tool_runner.h"

namespace {

// The main window's definition lines, as it hands them to the table creator.
const std::vector<std::string>& DefinitionLines() {
  // "NAME;T;length;decimals", one line a field in record order.
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> out;
    for (const logbook_layout::FieldDef& f : logbook_layout::Fields())
      out.push_back(std::string(f.name) + ';' + f.type + ';' + std::to_string(f.length) + ';' +
                    std::to_string(f.decimals));
    return out;
  }();
  return lines;
}

struct TextField {
  std::string name;
  size_t width;
};

// The text fields of the record, in record order, with their widths.
const std::vector<TextField>& TextFields() {
  static const std::vector<TextField> fields = [] {
    std::vector<TextField> out;
    for (const std::string& line : DefinitionLines()) {
      std::stringstream in(line);
      std::string name, type, length;
      std::getline(in, name, ';');
      std::getline(in, type, ';');
      std::getline(in, length, ';');
      if (type == "C") out.push_back({name, static_cast<size_t>(std::stoi(length))});
    }
    return out;
  }();
  return fields;
}

std::string RTrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// One contact as the operator typed it, and as the file should hold it.
struct Qso {
  int id = 0;
  int32_t date = 0;  // the engine's day number
  double number = 0;
  double band = 0;
  double tenten = 0;
  std::map<std::string, std::string> text;  // as typed; the field layer cuts to the width

  std::string Stored(const std::string& name) const {
    for (const TextField& f : TextFields())
      if (f.name == name) {
        auto it = text.find(name);
        const std::string typed = it == text.end() ? "" : it->second;
        return RTrim(typed.substr(0, std::min(typed.size(), f.width)));
      }
    ADD_FAILURE() << "no text field " << name;
    return "";
  }
  std::string Station() const { return Stored("STATION"); }
};

const char* const kCalls[] = {"W1AW", "K1ABC", "DL1XYZ", "W1AWX", "JA1ZZZ", "VK2DEF/P", "G4ABC",
                              "W1A",  "EA8AA", "ZL1BQD", "KH6ABC", "N0CALL"};
const int kBands[] = {20, 40, 80, 160, 15, 10, 2, 70, 23, 17, 12, 30, 6};

// A contact with every field filled, its texts chosen so that the tags' orders differ from the
// record order and from each other: dates and times scattered, mixed case, blanks, an apostrophe,
// a code-page character, texts longer than their fields.
Qso MakeQso(int id, const std::string& station, int band) {
  Qso q;
  q.id = id;
  q.date = DBFDate().EncodeDate(2024, 1, 1) + (id * 37) % 59;
  q.band = band;
  q.tenten = id % 5 == 0 ? 0 : 1000 + id * 0.25;
  char time[8];
  snprintf(time, sizeof time, "%02d:%02d", (id * 7) % 24, (id * 13) % 60);
  static const char* const qths[] = {"Newington, CT", "berlin", "Tokyo", "Sydney NSW",
                                     "Santa Cruz de Tenerife, Canarias", "o'Hare", "Wellington"};
  static const char* const states[] = {"CT", "MA", "", "NY", "HI", "ca", "TX"};
  q.text = {
      {"TIME", time},
      {"STATION", station},
      {"QTH", qths[id % 7]},
      {"RST", "599"},
      {"NRSENT", std::to_string(50 + id % 10)},
      {"NRRCVD", std::to_string(id * 3)},
      {"SPARE1", id % 4 == 0 ? "Mary O'Neil" : "Op " + std::to_string(id)},
      {"MODE", id % 3 == 0 ? "CW" : (id % 3 == 1 ? "USB" : "PSK")},
      {"PREFIX", station.substr(0, 2)},
      {"STATE", states[id % 7]},
      {"CQZONE", std::to_string(1 + id % 40)},
      {"ITUZONE", std::to_string(1 + id % 75)},
      {"QSLS", "Y"},
      {"QSLR", id % 2 ? "N" : ""},
      {"CITY", id % 6 == 0 ? "Z\xFCrich" : "City " + std::to_string(id)},
      {"REMARK", "QSO #" + std::to_string(id) + (id % 9 == 0 ? std::string(120, '*') : " remark")},
      {"FREQ", "14.2" + std::to_string(10 + id % 80)},
      {"COUNTY", "County"},
      {"CONTEST", id % 2 ? "CQ WW" : ""},
      {"OPERATR", "N0OPERATOR"},
      {"IOTA", "EU-005"},
      {"TXPWR", "100"},
      {"GRIDSQR", "FN31pr"},
  };
  return q;
}

// The id a stored REMARK names.
int IdOfRemark(const std::string& remark) {
  if (remark.rfind("QSO #", 0) != 0) return -1;
  return std::atoi(remark.c_str() + 5);
}

// The main window's logbook data set and the handlers that drive it, as the program runs them.
class Logbook {
 public:
  Logbook(std::string dir, std::string fileName) : dir_(std::move(dir)), fileName_(std::move(fileName)) {
    dbf1.SetDatabaseName(dir_);
  }

  // The log base name: the file name up to its first ".".
  std::string BaseName() const { return fileName_.substr(0, fileName_.find('.')); }
  std::string UpperBase() const {
    std::string s = BaseName();
    for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
  }

  // Opening a logbook: open, move to the last record, build the seven tags, date order.
  void OpenLogbook() {
    dbf1.Close();
    dbf1.SetTableName(fileName_);
    dbf1.Open();
    dbf1.Last();
    MakeIndex();
  }

  void MakeIndex() {
    dbf1.Close();
    dbf1.SetTableName(fileName_);
    dbf1.Close();
    dbf1.SetTableName(fileName_);
    dbf1.Open();
    const std::string cdx = UpperBase() + ".cdx";
    static const std::pair<const char*, const char*> tags[] = {
        {"DATE", "DTOS(DATE)+TIME"}, {"TIME", "(TIME)"}, {"STATION", "STATION"}, {"STATE", "STATE"},
        {"NUMBER", "NUMBER"},        {"QTH", "QTH"},     {"BAND", "BAND"}};
    for (const auto& [tag, key] : tags) BuildIndexTag(dbf1, cdx, tag, key, "", 1, 0);
    dbf1.Close();
    dbf1.SetIndexFiles({cdx});
    dbf1.SetIndexName("DATE");
    DateIndex();
  }

  void DateIndex() {
    dbf1.Close();
    dbf1.Open();
    RebuildIndexes(dbf1);
    OpenIndexList(dbf1, BaseName() + ".Cdx", "DATE");
    SelectIndexTag(dbf1, "DATE");
    dbf1.Last();
  }

  // One keystroke of the call-sign field: the filter, the duplicate locate, the last record.
  bool CallChanged(const std::string& call, int band) {
    dbf1.Open();
    std::string quoted;
    for (char c : call) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    dbf1.SetFilter("STATION = '" + quoted + "*'");
    if (call.size() >= 4) {
      dbf1.SetFilter("STATION = '" + call + "'");
      dbf1.SetFiltered(true);
    }
    const bool duplicate = dbf1.Locate("Station;Band", {TVarValue(call), TVarValue(band)}, 0);
    if (duplicate) duplicateStation = RTrim(dbf1.FieldByName("STATION")->AsString());
    dbf1.Last();
    return duplicate;
  }

  // The operator types the call sign one character at a time; whether the last keystroke found a
  // duplicate.
  bool TypeCall(const std::string& call, int band) {
    bool duplicate = false;
    for (size_t n = 1; n <= call.size(); ++n) duplicate = CallChanged(call.substr(0, n), band);
    return duplicate;
  }

  // Log It: the number follows the last visible record's; every field set; posted. Returns the
  // number given.
  double LogIt(const Qso& q) {
    dbf1.Last();
    dbf1.Last();
    const double number = dbf1.IsEmpty() ? 1 : std::trunc(dbf1.FieldByName("NUMBER")->AsFloat()) + 1;
    dbf1.Append();
    dbf1.FieldByName("DATE")->SetAsDateTime(JulianToDateTime(q.date));
    dbf1.FieldByName("NUMBER")->SetAsFloat(number);
    dbf1.FieldByName("BAND")->SetAsInteger(static_cast<int32_t>(q.band));
    dbf1.FieldByName("TENTEN")->SetAsFloat(q.tenten);
    for (const auto& [name, value] : q.text) dbf1.FieldByName(name)->SetAsString(value);
    dbf1.Post();
    dbf1.Last();
    return number;
  }

  // The sort box: the chosen tag over the rebuilt index, newest last.
  void Sort(const std::string& tag) {
    dbf1.Close();
    dbf1.Open();
    RebuildIndexes(dbf1);
    OpenIndexList(dbf1, BaseName() + ".Cdx", tag);
    SelectIndexTag(dbf1, tag);
    dbf1.Last();
  }

  // The band-filter box.
  void BandFilter(const std::string& item) {
    if (item == "NONE") {
      dbf1.SetFiltered(false);
      return;
    }
    dbf1.SetFilter("BAND =" + item);
    dbf1.SetFiltered(true);
  }

  // Pack: reopened exclusive, packed, reopened shared.
  void Pack() {
    dbf1.Close();
    dbf1.SetExclusive(true);
    dbf1.Open();
    PackTable(dbf1);
    dbf1.Close();
    dbf1.SetExclusive(false);
    dbf1.Open();
  }

  TSorrelDataSet dbf1;
  std::string duplicateStation;

 private:
  std::string dir_;
  std::string fileName_;
};

// A record as read back.
struct Row {
  int32_t recNo = 0;
  int32_t date = 0;
  double number = 0, band = 0, tenten = 0;
  std::map<std::string, std::string> text;
};

struct TagSpec {
  const char* name;
  bool numeric;
};
const TagSpec kTags[] = {{"DATE", false},  {"TIME", false}, {"STATION", false}, {"STATE", false},
                         {"NUMBER", true}, {"QTH", false},  {"BAND", true}};

const char kDbfreadScript[] = R"PY(
import sys
from dbfread import DBF
table = DBF(sys.argv[1], encoding='latin-1')
out = sys.stdout.buffer
out.write(('%d\n' % len(table)).encode())
for record in table:
    values = []
    for name in table.field_names:
        v = record[name]
        if v is None:
            s = '<none>'
        elif isinstance(v, str):
            s = v
        elif hasattr(v, 'isoformat'):
            s = v.strftime('%Y%m%d')
        else:
            s = repr(float(v))
        values.append(s.encode('latin-1'))
    out.write(b'\x1f'.join(values) + b'\n')
)PY";

class LogbookRoadTest : public table_images::TempFolder {
 protected:
  void TearDown() override {
    log_.reset();
    TempFolder::TearDown();
  }

  void CreateLogbook() {
    TSorrelDataSet ds;
    ds.SetDatabaseName(dir_);
    ds.SetTableName(kFile);
    TCreateSorrelDataSet creator;
    creator.SetDBFTable(&ds);
    creator.SetDBFType(DBaseIV);
    creator.SetCreateFields(DefinitionLines());
    ASSERT_TRUE(creator.CreateTable());
    ASSERT_TRUE(ds.Active());
    EXPECT_EQ(ds.RecordCount(), 0);
    ds.Close();
    log_ = std::make_unique<Logbook>(dir_, kFile);
  }

  // The expected number for Log It: the last record of the current filter in DATE order, + 1.
  double ExpectedNumber(const std::string& call) const {
    const Qso* last = nullptr;
    int32_t lastRec = 0;
    for (size_t i = 0; i < model_.size(); ++i) {
      const Qso& q = model_[i];
      if (deleted_[i] || !PassesFilter(q, call)) continue;
      auto key = [](const Qso& x, int32_t r) {
        return std::make_pair(DBFDate().DTOS(x.date) + x.Stored("TIME"), r);
      };
      if (!last || key(*last, lastRec) < key(q, static_cast<int32_t>(i + 1))) {
        last = &q;
        lastRec = static_cast<int32_t>(i + 1);
      }
    }
    return last ? last->number + 1 : 1;
  }

  // The duplicate check's filter after typing `call` (filtering is on once a 4-character call
  // was typed).
  bool PassesFilter(const Qso& q, const std::string& call) const {
    if (call.size() >= 4) return q.Station() == call;
    if (!filterOn_) return true;
    return q.Station().find(call) != std::string::npos;
  }

  bool ExpectedDuplicate(const std::string& call, int band) const {
    for (size_t i = 0; i < model_.size(); ++i)
      if (!deleted_[i] && model_[i].Station() == call && model_[i].band == band) return true;
    return false;
  }

  // Types and logs one contact through the main data set, checking the duplicate warning and the
  // number.
  void TypeAndLog(int id, const std::string& call, int band) {
    SCOPED_TRACE("contact " + std::to_string(id) + " " + call);
    Qso q = MakeQso(id, call, band);
    const bool expectDuplicate = ExpectedDuplicate(call, band);
    EXPECT_EQ(log_->TypeCall(call, band), expectDuplicate);
    if (expectDuplicate) {
      EXPECT_EQ(log_->duplicateStation, call);
    }
    if (call.size() >= 4) filterOn_ = true;
    q.number = log_->LogIt(q);
    EXPECT_EQ(q.number, ExpectedNumber(call));
    model_.push_back(q);
    deleted_.push_back(false);
  }

  // Logs a contact through another data set (a second handle): append, every field, post.
  // `noDate`: the date left empty, as an imported contact may have it.
  void LogThrough(TSorrelDataSet& ds, int id, const std::string& call, int band, bool noDate = false) {
    Qso q = MakeQso(id, call, band);
    q.number = 1000 + id;
    if (noDate) q.date = 0;
    ds.Append();
    if (noDate)
      ds.FieldByName("DATE")->Clear();
    else
      ds.FieldByName("DATE")->SetAsDateTime(JulianToDateTime(q.date));
    ds.FieldByName("NUMBER")->SetAsFloat(q.number);
    ds.FieldByName("BAND")->SetAsInteger(band);
    ds.FieldByName("TENTEN")->SetAsFloat(q.tenten);
    for (const auto& [name, value] : q.text) ds.FieldByName(name)->SetAsString(value);
    ds.Post();
    model_.push_back(q);
    deleted_.push_back(false);
  }

  static Row ReadRow(TSorrelDataSet& ds) {
    Row r;
    r.recNo = ds.RecNo();
    const TDateTime date = ds.FieldByName("DATE")->AsDateTime();
    r.date = date == 0 ? 0 : DateTimeToJulian(date);
    r.number = ds.FieldByName("NUMBER")->AsFloat();
    r.band = ds.FieldByName("BAND")->AsFloat();
    r.tenten = ds.FieldByName("TENTEN")->AsFloat();
    for (const TextField& f : TextFields()) r.text[f.name] = RTrim(ds.FieldByName(f.name)->AsString());
    return r;
  }

  void ExpectRowIs(const Row& row, const Qso& q, bool checkNumber = true) {
    SCOPED_TRACE("record " + std::to_string(row.recNo) + " contact " + std::to_string(q.id));
    EXPECT_EQ(row.date, q.date);
    if (checkNumber) {
      EXPECT_EQ(row.number, q.number);
    }
    EXPECT_EQ(row.band, q.band);
    EXPECT_EQ(row.tenten, q.tenten);
    for (const TextField& f : TextFields()) EXPECT_EQ(row.text.at(f.name), q.Stored(f.name)) << f.name;
  }

  // A fresh data set on the files, in record order or in a tag's order.
  std::unique_ptr<TSorrelDataSet> Fresh(const std::string& tag = "") {
    auto ds = std::make_unique<TSorrelDataSet>();
    ds->SetDatabaseName(dir_);
    ds->SetTableName(kFile);
    if (!tag.empty()) {
      ds->SetIndexFiles({kCdx});
      ds->SetIndexName(tag);
    }
    ds->Open();
    return ds;
  }

  std::vector<Row> Walk(TSorrelDataSet& ds) {
    std::vector<Row> rows;
    ds.First();
    while (!ds.Eof()) {
      rows.push_back(ReadRow(ds));
      ds.Next();
    }
    return rows;
  }

  // Record numbers of the model in a tag's order (equal keys by record number).
  std::vector<int32_t> ExpectedOrder(const std::string& tag, bool withDeleted) const {
    std::vector<int32_t> recs;
    for (size_t i = 0; i < model_.size(); ++i)
      if (withDeleted || !deleted_[i]) recs.push_back(static_cast<int32_t>(i + 1));
    auto textKey = [&](int32_t r) -> std::string {
      const Qso& q = model_[static_cast<size_t>(r - 1)];
      if (tag == "DATE") return RTrim(DBFDate().DTOS(q.date) + q.Stored("TIME"));
      return q.Stored(tag);
    };
    auto numKey = [&](int32_t r) {
      const Qso& q = model_[static_cast<size_t>(r - 1)];
      return tag == "NUMBER" ? q.number : q.band;
    };
    const bool numeric = tag == "NUMBER" || tag == "BAND";
    std::stable_sort(recs.begin(), recs.end(), [&](int32_t a, int32_t b) {
      if (numeric) return numKey(a) < numKey(b);
      return textKey(a) < textKey(b);
    });
    return recs;
  }

  // Every check of a stage: counts, every field through a fresh data set and through dbfread,
  // every tag walked and read by index_dump.
  void CheckFiles(const std::string& stage) {
    SCOPED_TRACE("stage: " + stage);
    std::vector<const Qso*> live;
    for (size_t i = 0; i < model_.size(); ++i)
      if (!deleted_[i]) live.push_back(&model_[i]);
    {
      auto ds = Fresh();
      EXPECT_EQ(ds->RecordCount(), static_cast<int>(model_.size()));
      const std::vector<Row> rows = Walk(*ds);
      ASSERT_EQ(rows.size(), live.size());
      size_t k = 0;
      for (size_t i = 0; i < model_.size(); ++i) {
        if (deleted_[i]) continue;
        EXPECT_EQ(rows[k].recNo, static_cast<int32_t>(i + 1));
        ExpectRowIs(rows[k], model_[i]);
        ++k;
      }
    }
    for (const TagSpec& tag : kTags) {
      SCOPED_TRACE(std::string("tag ") + tag.name);
      auto ds = Fresh(tag.name);
      std::vector<int32_t> walked;
      for (const Row& r : Walk(*ds)) walked.push_back(r.recNo);
      EXPECT_EQ(walked, ExpectedOrder(tag.name, false));
      // Walked backward too: the tree's left links agree with its right ones.
      std::vector<int32_t> back;
      ds->Last();
      while (!ds->Bof()) {
        back.push_back(ds->RecNo());
        ds->Prior();
      }
      std::reverse(back.begin(), back.end());
      EXPECT_EQ(back, walked);
      if (HaveIndexDump()) {
        const auto dump = tool_runner::Run(std::string("index_dump -type=") + (tag.numeric ? "num " : "char ") +
                                           tool_runner::Quote(PathOf(kCdx)) + " " + tag.name + " 2>&1");
        std::vector<int32_t> dumped;
        std::stringstream lines(dump.output);
        std::string line;
        while (std::getline(lines, line)) {
          const size_t sp = line.rfind(' ');
          dumped.push_back(sp == std::string::npos ? -1 : std::atoi(line.c_str() + sp + 1));
        }
        EXPECT_EQ(dumped, ExpectedOrder(tag.name, true)) << dump.output;
      }
    }
    CheckWithDbfread(live);
  }

  void CheckWithDbfread(const std::vector<const Qso*>& live) {
    if (tool_runner::Run("/usr/bin/python3 -c 'import dbfread' 2>/dev/null").status != 0) return;
    const auto result = tool_runner::RunPython(PathOf("read.py"), kDbfreadScript, PathOf(kFile));
    ASSERT_EQ(result.status, 0) << result.output;
    std::stringstream lines(result.output);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(std::atoi(line.c_str()), static_cast<int>(live.size()));
    size_t k = 0;
    while (std::getline(lines, line)) {
      ASSERT_LT(k, live.size());
      const Qso& q = *live[k++];
      SCOPED_TRACE("dbfread contact " + std::to_string(q.id));
      std::vector<std::string> values;
      size_t start = 0;
      for (size_t sep; (sep = line.find('\x1f', start)) != std::string::npos; start = sep + 1)
        values.push_back(line.substr(start, sep - start));
      values.push_back(line.substr(start));
      ASSERT_EQ(values.size(), DefinitionLines().size());
      for (size_t f = 0; f < values.size(); ++f) {
        const std::string name = DefinitionLines()[f].substr(0, DefinitionLines()[f].find(';'));
        if (name == "DATE")
          EXPECT_EQ(values[f], q.date == 0 ? "<none>" : DBFDate().DTOS(q.date));
        else if (name == "NUMBER" || name == "BAND" || name == "TENTEN")
          EXPECT_EQ(std::strtod(values[f].c_str(), nullptr),
                    name == "NUMBER" ? q.number : (name == "BAND" ? q.band : q.tenten))
              << name;
        else
          EXPECT_EQ(values[f], q.Stored(name)) << name;
      }
    }
    EXPECT_EQ(k, live.size());
  }

  // The main data set walked in DATE order without a filter: every contact, whoever logged it.
  void CheckMainSeesAll(TSorrelDataSet& ds, const std::string& who) {
    SCOPED_TRACE("view of " + who);
    // The band filter's "NONE": every contact shows.
    ds.SetFiltered(false);
    if (&ds == &log_->dbf1) filterOn_ = false;
    std::vector<int32_t> walked;
    for (const Row& r : Walk(ds)) walked.push_back(r.recNo);
    EXPECT_EQ(walked, ExpectedOrder("DATE", false));
    EXPECT_EQ(ds.RecordCount(), static_cast<int>(model_.size()));
  }

  std::vector<int32_t> WalkedRecords(TSorrelDataSet& ds) {
    std::vector<int32_t> out;
    for (const Row& r : Walk(ds)) out.push_back(r.recNo);
    return out;
  }

  // The sort and band-filter boxes on the main data set: the view walks the chosen tag's order,
  // newest last; a band filter keeps that band only, "02" selecting band 2.
  void CheckSortsAndBandFilters() {
    TSorrelDataSet& ds = log_->dbf1;
    log_->BandFilter("NONE");
    filterOn_ = false;
    for (const char* tag : {"BAND", "STATION", "STATE", "QTH", "NUMBER", "TIME", "DATE"}) {
      SCOPED_TRACE(std::string("sorted by ") + tag);
      log_->Sort(tag);
      const std::vector<int32_t> order = ExpectedOrder(tag, false);
      EXPECT_EQ(ds.RecNo(), order.back());
      EXPECT_EQ(WalkedRecords(ds), order);
      for (const char* band : {"20", "02", "160", "70"}) {
        log_->BandFilter(band);
        std::vector<int32_t> expected;
        for (int32_t r : order)
          if (model_[static_cast<size_t>(r - 1)].band == std::atoi(band)) expected.push_back(r);
        EXPECT_EQ(WalkedRecords(ds), expected) << "band " << band;
      }
      log_->BandFilter("NONE");
      EXPECT_EQ(WalkedRecords(ds), order);
    }
  }

  // Finds a contact by its unique remark in the main data set (filter off) and returns its row.
  void GoToContact(int id) {
    log_->dbf1.SetFiltered(false);
    filterOn_ = false;
    const Qso& q = ModelById(id);
    ASSERT_TRUE(log_->dbf1.Locate("REMARK", {TVarValue(q.text.at("REMARK").substr(0, 100))}, 0));
    ASSERT_EQ(IdOfRemark(RTrim(log_->dbf1.FieldByName("REMARK")->AsString())), id);
  }

  Qso& ModelById(int id) {
    for (Qso& q : model_)
      if (q.id == id) return q;
    ADD_FAILURE() << "no contact " << id;
    return model_.front();
  }
  size_t IndexById(int id) const {
    for (size_t i = 0; i < model_.size(); ++i)
      if (model_[i].id == id) return i;
    return model_.size();
  }

  static bool HaveIndexDump() {
    static const bool have = tool_runner::Run("command -v index_dump >/dev/null 2>&1").status == 0;
    return have;
  }

  static constexpr const char* kFile = "w1log.dbf";
  static constexpr const char* kCdx = "W1LOG.cdx";

  std::unique_ptr<Logbook> log_;
  std::vector<Qso> model_;
  std::vector<bool> deleted_;
  bool filterOn_ = false;
};

TEST_F(LogbookRoadTest, OneLogbookFromCreationToPackAndReopen) {
  CreateLogbook();
  log_->OpenLogbook();
  EXPECT_TRUE(log_->dbf1.IsEmpty());
  EXPECT_EQ(log_->dbf1.IndexName(), "DATE");
  ASSERT_EQ(SorrelTagCount(log_->dbf1), 7);
  CheckFiles("opened empty");

  // The first contacts, some repeated on the same band (duplicates) and on others.
  int id = 1;
  for (int i = 0; i < 16; ++i, ++id) TypeAndLog(id, kCalls[i % 12], kBands[(i * 5) % 13]);
  TypeAndLog(id++, "W1AW", kBands[0]);   // W1AW on its first band again: a duplicate
  TypeAndLog(id++, "W1AWX", kBands[0]);  // a longer call is no duplicate of W1AW
  CheckFiles("first contacts");
  CheckSortsAndBandFilters();
  // The view shows the newest contact of the current filter.
  EXPECT_EQ(log_->dbf1.RecordCount(), static_cast<int>(model_.size()));

  // A second data set on the same files logs between the first's operations.
  {
    TSorrelDataSet second;
    second.SetDatabaseName(dir_);
    second.SetTableName(kFile);
    second.SetIndexFiles({kCdx});
    second.SetIndexName("DATE");
    second.Open();
    // Enough contacts from the second that every tag splits its pages while the first logs too.
    for (int i = 0; i < 300; ++i) {
      LogThrough(second, id++, kCalls[(i * 11 + 4) % 12], kBands[(i * 7) % 13]);
      if (i % 60 == 59) TypeAndLog(id++, kCalls[i % 12], kBands[i % 13]);
    }
    for (int round = 0; round < 4; ++round) {
      LogThrough(second, id++, kCalls[(round * 5 + 3) % 12], kBands[round]);
      LogThrough(second, id++, "W1AW", kBands[(round + 2) % 13]);
      TypeAndLog(id++, kCalls[(round * 7 + 1) % 12], kBands[(round * 3) % 13]);
      // The first sees the second's contacts in the duplicate check.
      EXPECT_TRUE(log_->TypeCall("W1AW", kBands[(round + 2) % 13]));
      filterOn_ = true;
    }
    log_->dbf1.SetFiltered(false);
    filterOn_ = false;
    CheckMainSeesAll(log_->dbf1, "first");
    CheckMainSeesAll(second, "second");
    CheckFiles("two data sets");

    // A record the first edits is locked against the second until the first lets it go.
    GoToContact(7);
    log_->dbf1.Edit();
    ASSERT_TRUE(second.Locate("REMARK", {TVarValue(ModelById(7).text.at("REMARK"))}, 0));
    EXPECT_EQ(ErrorOf([&] { second.Edit(); }), "Record is locked by another user");
    log_->dbf1.Cancel();
    second.Edit();
    second.Cancel();

    // An earlier contact edited in the first: station, band, QTH and time change keys of four
    // tags; one logged by the second too.
    for (int target : {3, 20}) {
      GoToContact(target);
      log_->dbf1.Edit();
      Qso& q = ModelById(target);
      q.text["STATION"] = "EDITED" + std::to_string(target);
      q.text["QTH"] = "Moved QTH";
      q.text["TIME"] = "23:59";
      q.text["REMARK"] = "QSO #" + std::to_string(target) + " edited";
      q.band = 80;
      q.tenten = 77.5;
      for (const char* name : {"STATION", "QTH", "TIME", "REMARK"})
        log_->dbf1.FieldByName(name)->SetAsString(q.text[name]);
      log_->dbf1.FieldByName("BAND")->SetAsInteger(80);
      log_->dbf1.FieldByName("TENTEN")->SetAsFloat(77.5);
      log_->dbf1.Post();
    }
    LogThrough(second, id++, "EDITED3", 80);
    CheckMainSeesAll(second, "second after edits");
    CheckFiles("edited");

    // Two contacts deleted in the first; the second logs again.
    const int newest = model_[static_cast<size_t>(ExpectedOrder("DATE", false).back() - 1)].id;
    for (int target : {5, 22, newest}) {
      GoToContact(target);
      log_->dbf1.Delete();
      deleted_[IndexById(target)] = true;
    }
    // The newest contact deleted: opening in date order shows the one before it.
    log_->DateIndex();
    EXPECT_EQ(log_->dbf1.RecNo(), ExpectedOrder("DATE", false).back());
    LogThrough(second, id++, "K1ABC", 40);
    LogThrough(second, id++, "NODATE", 40, true);
    TypeAndLog(id++, "G4ABC", 15);
    log_->dbf1.SetFiltered(false);
    filterOn_ = false;
    CheckMainSeesAll(second, "second after deletes");
    CheckFiles("deleted");

    // The second edits a contact the first has shown; the first then edits the same contact: its
    // edit starts from the second's values, and both views follow the keys that moved.
    GoToContact(11);
    ASSERT_TRUE(second.Locate("REMARK", {TVarValue(ModelById(11).text.at("REMARK"))}, 0));
    second.Edit();
    second.FieldByName("STATION")->SetAsString("AA1SECOND");
    second.FieldByName("REMARK")->SetAsString("QSO #11 changed by the second");
    second.Post();
    ModelById(11).text["STATION"] = "AA1SECOND";
    ModelById(11).text["REMARK"] = "QSO #11 changed by the second";
    log_->dbf1.Edit();
    EXPECT_EQ(RTrim(log_->dbf1.FieldByName("STATION")->AsString()), "AA1SECOND");
    log_->dbf1.FieldByName("QTH")->SetAsString("Changed by the first");
    log_->dbf1.Post();
    ModelById(11).text["QTH"] = "Changed by the first";
    CheckMainSeesAll(log_->dbf1, "first after both edited");
    log_->Sort("STATION");
    EXPECT_EQ(WalkedRecords(log_->dbf1), ExpectedOrder("STATION", false));
    second.SetIndexName("QTH");
    EXPECT_EQ(WalkedRecords(second), ExpectedOrder("QTH", false));
    second.SetIndexName("DATE");
    log_->Sort("DATE");
    CheckFiles("edited by both");

    // The second reads in record order (its read-ahead on) while the first edits a contact a
    // few records ahead and logs one: the second shows the edited text and the new contact.
    {
      std::vector<int32_t> live;
      for (size_t i = 0; i < model_.size(); ++i)
        if (!deleted_[i]) live.push_back(static_cast<int32_t>(i + 1));
      second.SetIndexName("");
      second.First();
      for (int i = 0; i < 9; ++i) second.Next();
      ASSERT_EQ(second.RecNo(), live[9]);
      const int target = model_[static_cast<size_t>(live[11] - 1)].id;
      GoToContact(target);
      log_->dbf1.Edit();
      const std::string remark = "QSO #" + std::to_string(target) + " seen by the second";
      log_->dbf1.FieldByName("REMARK")->SetAsString(remark);
      log_->dbf1.Post();
      ModelById(target).text["REMARK"] = remark;
      TypeAndLog(id++, "READ/AHEAD", 40);
      second.Next();
      second.Next();
      ASSERT_EQ(second.RecNo(), live[11]);
      EXPECT_EQ(RTrim(second.FieldByName("REMARK")->AsString()), remark);
      std::vector<Row> rest;
      for (; !second.Eof(); second.Next()) rest.push_back(ReadRow(second));
      ASSERT_FALSE(rest.empty());
      EXPECT_EQ(rest.back().recNo, static_cast<int32_t>(model_.size()));
      EXPECT_EQ(rest.back().text.at("STATION"), "READ/AHEAD");
      second.SetIndexName("DATE");
    }

    // The first is half way through the DATE order while the second logs enough contacts to
    // split pages under it: the first goes on without a contact twice or out of order, and
    // meets every contact that was there before.
    {
      const std::vector<int32_t> before = ExpectedOrder("DATE", false);
      log_->BandFilter("NONE");
      filterOn_ = false;
      log_->Sort("DATE");
      std::vector<int32_t> walked;
      log_->dbf1.First();
      for (int i = 0; i < 100; ++i, log_->dbf1.Next()) walked.push_back(log_->dbf1.RecNo());
      for (int i = 0; i < 120; ++i) LogThrough(second, id++, kCalls[(i * 5 + 6) % 12], kBands[i % 13]);
      for (; !log_->dbf1.Eof(); log_->dbf1.Next()) walked.push_back(log_->dbf1.RecNo());
      std::vector<int32_t> sorted = walked;
      std::sort(sorted.begin(), sorted.end());
      EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a contact met twice";
      for (int32_t r : before)
        EXPECT_NE(std::find(walked.begin(), walked.end(), r), walked.end()) << "record " << r << " missed";
      const std::vector<int32_t> all = ExpectedOrder("DATE", false);
      std::vector<int32_t> allInWalk;
      for (int32_t r : all)
        if (std::find(walked.begin(), walked.end(), r) != walked.end()) allInWalk.push_back(r);
      EXPECT_EQ(walked, allInWalk) << "out of date order";
    }
    CheckFiles("split under a walk");

    // The second is half way through the DATE order when the first sorts (a rebuild) and then
    // opens the logbook again (every tag built anew): the second goes on, and logs.
    {
      const std::vector<int32_t> order = ExpectedOrder("DATE", false);
      std::vector<int32_t> walked;
      second.First();
      for (int i = 0; i < 40; ++i, second.Next()) walked.push_back(second.RecNo());
      log_->Sort("BAND");
      for (int i = 0; i < 40; ++i, second.Next()) walked.push_back(second.RecNo());
      log_->OpenLogbook();
      filterOn_ = false;
      for (; !second.Eof(); second.Next()) walked.push_back(second.RecNo());
      EXPECT_EQ(walked, order);
    }
    LogThrough(second, id++, "AFTER/REBUILD", 20);
    TypeAndLog(id++, "AFTER/REBUILD", 20);
    CheckMainSeesAll(second, "second after the first rebuilt");
    CheckMainSeesAll(log_->dbf1, "first after it rebuilt");
    CheckFiles("rebuilt under the second");

    // Pack needs the table to itself: with the second open it is refused and nothing is lost.
    EXPECT_ANY_THROW(log_->Pack());
    log_->dbf1.SetExclusive(false);
    log_->dbf1.Open();
    CheckMainSeesAll(log_->dbf1, "first after a refused pack");
    CheckFiles("pack refused");
    second.Close();
  }

  // Pack: the deleted contacts go, the others close up in record order.
  log_->Pack();
  {
    std::vector<Qso> kept;
    for (size_t i = 0; i < model_.size(); ++i)
      if (!deleted_[i]) kept.push_back(model_[i]);
    model_ = kept;
    deleted_.assign(model_.size(), false);
  }
  EXPECT_EQ(log_->dbf1.RecordCount(), static_cast<int>(model_.size()));
  CheckFiles("packed");

  // Closed and opened again as the program does at start: tags built again, newest contact shown.
  log_.reset();
  filterOn_ = false;
  log_ = std::make_unique<Logbook>(dir_, kFile);
  log_->OpenLogbook();
  {
    const std::vector<int32_t> order = ExpectedOrder("DATE", false);
    EXPECT_EQ(log_->dbf1.RecNo(), order.back());
  }
  CheckFiles("reopened");
  for (int i = 0; i < 5; ++i) TypeAndLog(id++, kCalls[(i * 5) % 12], kBands[(i + 4) % 13]);
  CheckFiles("logged after reopen");
  CheckSortsAndBandFilters();
}

TEST_F(LogbookRoadTest, SortByAMissingTagLeavesTheLogbookUsable) {
  CreateLogbook();
  log_->OpenLogbook();
  int id = 1;
  for (int i = 0; i < 8; ++i) TypeAndLog(id++, kCalls[i], kBands[i]);
  // The sort box offers GRID, which no tag is built for: refused, and another sort still works.
  EXPECT_ANY_THROW(log_->Sort("GRID"));
  log_->BandFilter("NONE");
  filterOn_ = false;
  log_->Sort("STATION");
  EXPECT_EQ(WalkedRecords(log_->dbf1), ExpectedOrder("STATION", false));
  log_->Sort("DATE");
  TypeAndLog(id++, "W1AW", 20);
  CheckFiles("after a missing tag");
}

TEST_F(LogbookRoadTest, AChildProcessLogsAtTheSameTime) {
  CreateLogbook();
  log_->OpenLogbook();
  int id = 1;
  for (int i = 0; i < 6; ++i) TypeAndLog(id++, kCalls[i], kBands[i]);
  {
    // Enough records that both processes split pages of every tag.
    auto bulk = Fresh("DATE");
    for (int i = 0; i < 250; ++i) LogThrough(*bulk, id++, kCalls[(i * 5 + 1) % 12], kBands[i % 13]);
  }

  constexpr int kEach = 40;
  constexpr int kTurns = 4;
  auto TurnCall = [](int r) { return std::string(kCalls[(r * 7 + 3) % 12]); };
  auto TurnBand = [](int r) { return kBands[(r + 5) % 13]; };
  const int childFirst = 500;
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The other process: its own logbook data set on the same files, logging contacts the
    // program's way. No test macros here: failures end the process with a non-zero status.
    int status = 0;
    try {
      Logbook other(dir_, kFile);
      other.dbf1.SetTableName(kFile);
      other.dbf1.SetIndexFiles({kCdx});
      other.dbf1.SetIndexName("DATE");
      other.dbf1.Open();
      char c = 1;
      if (write(ready[1], &c, 1) != 1 || read(go[0], &c, 1) != 1) _exit(3);
      for (int i = 0; i < kEach; ++i) {
        const std::string call = kCalls[(i * 5 + 2) % 12];
        other.TypeCall(call, kBands[i % 13]);
        other.LogIt(MakeQso(childFirst + i, call, kBands[i % 13]));
        // Now and then the operator sorts: every tag rebuilt while the parent logs and reads.
        if (i % 10 == 9) other.Sort(i % 20 == 9 ? "STATION" : "DATE");
      }
      // Turns: the operator here sorts (every tag rebuilt) and logs while the parent waits
      // between two of its contacts, holding what it read before.
      for (int r = 0; r < kTurns; ++r) {
        if (read(go[0], &c, 1) != 1) _exit(3);
        other.Sort(r % 2 ? "DATE" : "STATION");
        const int turnId = childFirst + kEach + r;
        other.TypeCall(TurnCall(r), TurnBand(r));
        other.LogIt(MakeQso(turnId, TurnCall(r), TurnBand(r)));
        if (write(ready[1], &c, 1) != 1) _exit(3);
      }
      other.dbf1.Close();
    } catch (const std::exception& e) {
      fprintf(stderr, "child: %s\n", e.what());
      status = 1;
    }
    _exit(status);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(write(go[1], &c, 1), 1);
  std::vector<Qso> parentQsos;
  for (int i = 0; i < kEach; ++i) {
    const std::string call = kCalls[(i * 7 + 1) % 12];
    Qso q = MakeQso(id++, call, kBands[(i + 3) % 13]);
    log_->TypeCall(call, static_cast<int>(q.band));
    q.number = log_->LogIt(q);
    parentQsos.push_back(q);
  }
  for (int r = 0; r < kTurns; ++r) {
    ASSERT_EQ(write(go[1], &c, 1), 1);
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    // The contact the child just logged is a duplicate here.
    EXPECT_TRUE(log_->TypeCall(TurnCall(r), TurnBand(r))) << "turn " << r;
    const std::string call = kCalls[(r * 5 + 4) % 12];
    Qso q = MakeQso(id++, call, kBands[r % 13]);
    log_->TypeCall(call, static_cast<int>(q.band));
    q.number = log_->LogIt(q);
    parentQsos.push_back(q);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  // Every contact of both processes is there once, whatever order they came in; the record order
  // becomes the model (the numbers each process gave depend on what it saw).
  std::map<int, Qso> expected;
  for (const Qso& q : model_) expected[q.id] = q;
  for (const Qso& q : parentQsos) expected[q.id] = q;
  for (int i = 0; i < kEach; ++i)
    expected[childFirst + i] = MakeQso(childFirst + i, kCalls[(i * 5 + 2) % 12], kBands[i % 13]);
  for (int r = 0; r < kTurns; ++r)
    expected[childFirst + kEach + r] = MakeQso(childFirst + kEach + r, TurnCall(r), TurnBand(r));
  ASSERT_EQ(expected.size(), model_.size() + 2 * (kEach + kTurns));
  {
    auto ds = Fresh();
    EXPECT_EQ(ds->RecordCount(), static_cast<int>(expected.size()));
    std::vector<Qso> fromFile;
    for (const Row& row : Walk(*ds)) {
      const int rid = IdOfRemark(row.text.at("REMARK"));
      auto it = expected.find(rid);
      ASSERT_NE(it, expected.end()) << "record " << row.recNo << " " << row.text.at("REMARK");
      Qso q = it->second;
      ExpectRowIs(row, q, rid < childFirst);
      q.number = row.number;
      fromFile.push_back(q);
      expected.erase(it);
    }
    EXPECT_TRUE(expected.empty()) << expected.size() << " contacts missing";
    model_ = fromFile;
    deleted_.assign(model_.size(), false);
  }
  CheckFiles("two processes");
  log_->dbf1.SetFiltered(false);
  CheckMainSeesAll(log_->dbf1, "parent");
}

}  // namespace
