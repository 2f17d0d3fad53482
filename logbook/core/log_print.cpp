#include "log_print.h"

#include <algorithm>
#include <cmath>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_search.h"
#include "base/hx6_date.h"
#include "logbook_fileset.h"
#include "side_window_texts.h"

namespace quillmere {

namespace {

constexpr PrintFont kTitleFont{"Arial", 19, true, true};
constexpr PrintFont kHeaderFont{"Arial", 13, true, true};
constexpr PrintFont kCaptionFont{"Arial", 11, true, false};
constexpr PrintFont kDetailFont{"Arial", 11, false, false};
constexpr PrintFont kDetailBold{"Arial", 11, true, false};

PrintDetailCell Cell(const char* field, double x, double width, PrintAlign align,
                     const PrintFont& font = kDetailFont) {
  return {field, nullptr, {x, 0.0, width, align, font}};
}

// Closes the print's data set whatever happens, so the logbook is not held open by the print.
struct CloseOnExit {
  TSorrelDataSet& dataSet;
  ~CloseOnExit() {
    try {
      dataSet.Close();
    } catch (...) {
    }
  }
};

}  // namespace

int PrintPageGeometry::RowsPerPage() const {
  const double room = pageHeight - 2 * margin - headerHeight;
  return std::max(1, static_cast<int>(std::floor(room / detailHeight)));
}

const PrintPageGeometry& PrintGeometry() {
  static const PrintPageGeometry geometry;
  return geometry;
}

const PrintElement& PrintTitlePlace() {
  static const PrintElement place{88.6, 0.0, 76.5, PrintAlign::Centre, kTitleFont};
  return place;
}
const PrintElement& PrintDateCaptionPlace() {
  static const PrintElement place{0.5, 3.2, 9.0, PrintAlign::Left, kHeaderFont};
  return place;
}
const PrintElement& PrintDatePlace() {
  static const PrintElement place{9.5, 3.2, 30.0, PrintAlign::Left, kHeaderFont};
  return place;
}
const PrintElement& PrintPageCaptionPlace() {
  static const PrintElement place{232.3, 2.1, 9.5, PrintAlign::Left, kHeaderFont};
  return place;
}
const PrintElement& PrintPageNumberPlace() {
  static const PrintElement place{241.8, 2.1, 12.0, PrintAlign::Left, kHeaderFont};
  return place;
}
const PrintFont& PrintCaptionFont() { return kCaptionFont; }

const std::vector<PrintColumn>& PrintColumns() {
  static const std::vector<PrintColumn> columns = {
      {"Callsign", 0.0, 0.0, 15.1},    {"Date", 24.3, 20.1, 15.1},    {"Time", 41.3, 38.1, 15.1},
      {"Freq", 57.2, 55.0, 13.0},      {"Mode", 69.9, 69.9, 7.7},     {"RST-S/R", 82.6, 81.5, 13.0},
      {"Name", 97.4, 97.4, 31.8},      {"QTH", 131.2, 131.2, 40.2},   {"City", 173.6, 173.6, 27.8},
      {"State", 205.3, 205.3, 10.6},   {"Grid", 220.1, 220.1, 10.6},  {"QSL Rcvd", 236.0, 236.0, 14.0},
  };
  return columns;
}

const std::vector<PrintDetailCell>& PrintDetailCells() {
  static const std::vector<PrintDetailCell> cells = {
      Cell("STATION", 0.0, 12.7, PrintAlign::Left, kDetailBold),
      Cell("DATE", 18.0, 20.4, PrintAlign::Centre),
      Cell("TIME", 38.1, 13.0, PrintAlign::Centre),
      Cell("FREQ", 51.9, 16.4, PrintAlign::Right),
      Cell("MODE", 69.9, 7.9, PrintAlign::Centre),
      Cell("NRSENT", 80.4, 6.6, PrintAlign::Right),
      // The report sent and received either side of the slash: sent right-aligned up to it,
      // received left-aligned after it, so the three never overlap.
      {nullptr, "/", {87.8, 0.0, 1.1, PrintAlign::Left, kDetailFont}},
      Cell("NRRCVD", 88.9, 6.6, PrintAlign::Left),
      Cell("SPARE1", 97.4, 31.8, PrintAlign::Left),
      Cell("QTH", 131.2, 40.2, PrintAlign::Left),
      Cell("CITY", 173.3, 28.8, PrintAlign::Left),
      Cell("STATE", 205.1, 9.0, PrintAlign::Left),
      Cell("GRIDSQR", 219.9, 12.4, PrintAlign::Left),
      Cell("QSLR", 235.7, 17.2, PrintAlign::Left),
  };
  return cells;
}

double PrintDetailRoom(size_t cell) {
  const std::vector<PrintDetailCell>& cells = PrintDetailCells();
  if (cell >= cells.size()) return 0;
  const PrintElement& place = cells[cell].place;
  if (place.align != PrintAlign::Left) return place.width;
  const PrintPageGeometry& page = PrintGeometry();
  double next = page.pageWidth - 2 * page.margin;
  for (const PrintDetailCell& other : cells)
    if (other.place.x > place.x) next = std::min(next, other.place.x);
  return std::max(place.width, next - place.x);
}

PrintTextFit FitPrintText(double textWidth, double boxWidth, double roomWidth) {
  roomWidth = std::max(roomWidth, boxWidth);
  if (textWidth <= boxWidth) return {boxWidth, 1.0};
  if (textWidth <= roomWidth) return {textWidth, 1.0};
  return {roomWidth, roomWidth / textWidth};
}

int PrintedLog::PageCount() const {
  const auto perPage = static_cast<size_t>(PrintGeometry().RowsPerPage());
  return rows.empty() ? 1 : static_cast<int>((rows.size() + perPage - 1) / perPage);
}

size_t PrintedLog::FirstRowOfPage(int page) const {
  const auto perPage = static_cast<size_t>(PrintGeometry().RowsPerPage());
  return std::min(rows.size(), static_cast<size_t>(std::max(page - 1, 0)) * perPage);
}

size_t PrintedLog::EndRowOfPage(int page) const {
  const auto perPage = static_cast<size_t>(PrintGeometry().RowsPerPage());
  return std::min(rows.size(), FirstRowOfPage(page) + perPage);
}

PrintedLog LoadPrintedLog(const std::string& logbookPath, std::string_view ownCall, int32_t today) {
  PrintedLog log;
  log.title = texts::PrintTitle(ownCall);
  log.date = DBFDate().DTOC(today);

  TSorrelDataSet data;
  CloseOnExit closer{data};
  data.SetTableName(logbookPath);
  data.Open();
  OpenIndexList(data, "\"" + LogbookIndexPath(logbookPath) + "\"", "DATE");
  SelectIndexTag(data, "DATE");
  std::vector<TField*> fields;
  for (const PrintDetailCell& cell : PrintDetailCells())
    fields.push_back(cell.field != nullptr ? data.FieldByName(cell.field) : nullptr);
  for (data.First(); !data.Eof(); data.Next()) {
    std::vector<std::string> row;
    row.reserve(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i] == nullptr) {
        row.emplace_back(PrintDetailCells()[i].literal);
        continue;
      }
      std::string text = fields[i]->AsString();
      while (!text.empty() && text.back() == ' ') text.pop_back();
      row.push_back(std::move(text));
    }
    log.rows.push_back(std::move(row));
  }
  return log;
}

}  // namespace quillmere
