#include "tallies.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_search.h"
#include "ascii_text.h"
#include "data_folders.h"

namespace quillmere {

namespace fs = std::filesystem;

namespace {

// Copies `from` to `to` through "<to>.tmp": written, flushed to disk, renamed over `to`.
bool CopyThroughTemporary(const fs::path& from, const fs::path& to, std::string* error) {
  const fs::path temporary = to.string() + ".tmp";
  auto fail = [&](const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
    std::error_code ec;
    fs::remove(temporary, ec);
    return false;
  };
  std::ifstream in(from, std::ios::binary);
  if (!in) return fail("Cannot read " + from.string());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail("Cannot write " + temporary.string());
  char buffer[65536];
  bool ok = true;
  while (ok && in) {
    in.read(buffer, sizeof buffer);
    const char* p = buffer;
    std::streamsize left = in.gcount();
    while (left > 0) {
      const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
      if (n < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      p += n;
      left -= n;
    }
  }
  if (ok && in.bad()) ok = false;
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok) return fail("Cannot write " + temporary.string());
  std::error_code ec;
  fs::rename(temporary, to, ec);
  if (ec) {
    errno = ec.value();
    return fail("Cannot replace " + to.string());
  }
  return true;
}

// Lifts the duplicate check's call-sign filter for the life of the guard.
class CallFilterLift {
 public:
  explicit CallFilterLift(TSorrelDataSet& dataSet) : dataSet_(dataSet) {
    if (dataSet_.Filtered() && IsCallSignFilter(dataSet_.Filter())) {
      dataSet_.SetFiltered(false);
      lifted_ = true;
    }
  }
  ~CallFilterLift() {
    if (!lifted_) return;
    try {
      dataSet_.SetFiltered(true);
    } catch (...) {
      // Putting the filter back on an open table does not fail; a closed one has no view.
    }
  }
  CallFilterLift(const CallFilterLift&) = delete;
  CallFilterLift& operator=(const CallFilterLift&) = delete;

 private:
  TSorrelDataSet& dataSet_;
  bool lifted_ = false;
};

// Keeps a data set's controls from repainting for every row while a check runs.
class ControlsOff {
 public:
  explicit ControlsOff(TSorrelDataSet& dataSet) : dataSet_(dataSet) { dataSet_.DisableControls(); }
  ~ControlsOff() { dataSet_.EnableControls(); }
  ControlsOff(const ControlsOff&) = delete;
  ControlsOff& operator=(const ControlsOff&) = delete;

 private:
  TSorrelDataSet& dataSet_;
};

// Ends an edit left open by an error, so the row's lock is given back.
void CancelEdit(TSorrelDataSet& dataSet) {
  try {
    if (dataSet.State() == TDataSetState::dsEdit || dataSet.State() == TDataSetState::dsInsert)
      dataSet.Cancel();
  } catch (...) {
  }
}

bool NoLogbook(const TSorrelDataSet& logbook) {
  const std::string name = logbook.TableName();
  if (TrimSpaces(name).empty()) return true;
  return SameTextAscii(fs::path(name).filename().string(), "dummy.dbf");
}

}  // namespace

const TallyTable& TallyTableOf(TallyKind kind) {
  static const TallyTable was{"STATES.DBF", "STATES.CDX", "STATE", "STATE", "NAME", "STATE"};
  static const TallyTable dx{"DXCC.DBF", "DXCC.CDX", "CTRYPFX", "CTRYPFX", "CTRYNAME", "PREFIX"};
  return kind == TallyKind::WAS ? was : dx;
}

const std::vector<TallyGridColumn>& TallyGridColumns(TallyKind kind) {
  static const std::vector<TallyGridColumn> tail = {
      {"CW", "CW"},   {"SSB", "SSB"}, {"RTTY", "RTTY/PSK"}, {"M10", "10"}, {"M12", "12"}, {"M15", "15"},
      {"M17", "17"},  {"M20", "20"},  {"M30", "30"},        {"M40", "40"}, {"M80", "80"}, {"M160", "160"}};
  static const std::vector<TallyGridColumn> was = [] {
    std::vector<TallyGridColumn> c = {{"NAME", "NAME"}};
    c.insert(c.end(), tail.begin(), tail.end());
    return c;
  }();
  static const std::vector<TallyGridColumn> dx = [] {
    std::vector<TallyGridColumn> c = {{"CTRYNAME", "NAME"}, {"CTRYPFX", "PFX"}};
    c.insert(c.end(), tail.begin(), tail.end());
    return c;
  }();
  return kind == TallyKind::WAS ? was : dx;
}

const std::vector<std::string>& ModeColumns() {
  static const std::vector<std::string> columns = {"CW", "SSB", "RTTY"};
  return columns;
}

const std::vector<std::string>& BandColumns() {
  static const std::vector<std::string> columns = {"M10", "M12", "M15", "M17", "M20",
                                                   "M30", "M40", "M80", "M160"};
  return columns;
}

std::vector<std::string> ReferenceFieldLines(TallyKind kind) {
  std::vector<std::string> lines;
  if (kind == TallyKind::WAS) {
    lines = {"STATE;C;2;0", "NAME;C;20;0"};
  } else {
    lines = {"CTRYPFX;C;5;0", "CTRYNAME;C;30;0"};
  }
  for (const std::string& c : ModeColumns()) lines.push_back(c + ";C;1;0");
  for (const std::string& c : BandColumns()) lines.push_back(c + ";C;3;0");
  return lines;
}

std::string ModeColumn(std::string_view mode) {
  if (mode == "CW") return "CW";
  if (mode == "LSB" || mode == "USB") return "SSB";
  if (mode == "PSK") return "RTTY";
  return {};
}

std::string BandColumn(double band) {
  if (!std::isfinite(band)) return {};
  const double whole = std::trunc(band);
  for (int b : {10, 12, 15, 17, 20, 30, 40, 80, 160})
    if (whole == b) return "M" + std::to_string(b);
  return {};
}

std::string QslMark(std::string_view qsls, std::string_view qslr) {
  if (!TrimSpaces(qslr).empty()) return "C";
  if (!TrimSpaces(qsls).empty()) return "O";
  return "W";
}

std::string MergeMark(std::string_view cell, std::string_view mark) {
  if (cell == kModeReset || cell > mark) return std::string(mark);
  return std::string(cell);
}

bool IsCallSignFilter(std::string_view filter) {
  const std::string text = AsciiUpperCase(TrimSpaces(filter));
  if (text.rfind("STATION", 0) != 0) return false;
  return TrimSpaces(std::string_view(text).substr(7)).rfind("=", 0) == 0;
}

std::string PrepareReferenceTable(TallyKind kind, const std::string& programFolder,
                                  const std::string& writableFolder, std::string* error) {
  std::error_code ec;
  if (writableFolder.empty() || fs::equivalent(programFolder, writableFolder, ec)) return programFolder;
  const TallyTable& t = TallyTableOf(kind);
  const fs::path sourceTable = ResolveFileCase((fs::path(programFolder) / t.table).string());
  const fs::path sourceIndex = ResolveFileCase((fs::path(programFolder) / t.indexFile).string());
  if (!fs::exists(sourceTable, ec) || !fs::exists(sourceIndex, ec)) return programFolder;
  const fs::path copyTable = fs::path(writableFolder) / t.table;
  const fs::path copyIndex = fs::path(writableFolder) / t.indexFile;
  bool fresh = fs::exists(copyTable, ec) && fs::exists(copyIndex, ec);
  if (fresh) {
    const auto delivered = fs::last_write_time(sourceTable, ec);
    const auto copied = fs::last_write_time(copyTable, ec);
    fresh = !ec && delivered <= copied;
  }
  if (fresh) return writableFolder;
  if (!CopyThroughTemporary(sourceIndex, copyIndex, error)) return {};
  if (!CopyThroughTemporary(sourceTable, copyTable, error)) return {};
  return writableFolder;
}

TallyOutcome RunTally(TallyKind kind, TSorrelDataSet& logbook, TSorrelDataSet& reference,
                      const std::string& folder) {
  TallyOutcome out;
  if (NoLogbook(logbook)) {
    out.refused = true;
    out.phrase = kNoLogbookPhrase;
    out.message = kNoLogbookMessage;
    return out;
  }
  const TallyTable& t = TallyTableOf(kind);
  reference.Close();
  reference.SetDatabaseName(folder);
  reference.SetTableName(t.table);
  reference.SetIndexFiles({t.indexFile});
  reference.SetIndexName(t.tag);
  reference.Open();
  ControlsOff referenceQuiet(reference);
  try {
    for (reference.First(); !reference.Eof(); reference.Next()) {
      reference.Edit();
      for (const std::string& c : ModeColumns()) reference.FieldByName(c)->SetAsString(std::string(kModeReset));
      for (const std::string& c : BandColumns()) reference.FieldByName(c)->SetAsString(std::string(kBandReset));
      reference.Post();
    }

    logbook.Open();
    CallFilterLift lift(logbook);
    ControlsOff logbookQuiet(logbook);
    for (logbook.First(); !logbook.Eof(); logbook.Next()) {
      ++out.walked;
      const std::string text = logbook.FieldByName(t.logField)->AsString();
      if (text.empty()) continue;
      std::string key;
      if (kind == TallyKind::WAS) {
        key = (text + std::string(10, ' ')).substr(0, 2);
      } else {
        // The whole prefix, trimmed and upper-cased: entities that share a stem ("VP2E",
        // "VP2M") stay apart.
        key = AsciiUpperCase(TrimSpaces(text));
        if (key.empty()) continue;
      }
      if (reference.IsEmpty()) continue;
      SeekIndexKey(reference, key, false, true);
      const std::string rowKey = reference.FieldByName(t.keyField)->AsString();
      const bool match = kind == TallyKind::WAS ? rowKey.find(key) != std::string::npos
                                                : AsciiUpperCase(TrimSpaces(rowKey)) == key;
      if (!match) continue;
      reference.Edit();
      const std::string mark =
          QslMark(logbook.FieldByName("QSLS")->AsString(), logbook.FieldByName("QSLR")->AsString());
      const std::string mode = ModeColumn(logbook.FieldByName("MODE")->AsString());
      if (!mode.empty()) {
        TField* cell = reference.FieldByName(mode);
        cell->SetAsString(MergeMark(cell->AsString(), mark));
      }
      const std::string band = BandColumn(logbook.FieldByName("BAND")->AsFloat());
      if (!band.empty()) reference.FieldByName(band)->SetAsString(std::string(kBandWorked));
      reference.Post();
      ++out.tallied;
    }
  } catch (...) {
    CancelEdit(reference);
    throw;
  }
  logbook.Last();
  reference.Refresh();
  return out;
}

}  // namespace quillmere
