// The logbook's grid on logbook-shaped data (the 27-field record and the seven-tag .cdx) of
// 100,000 and 1,000,000 contacts ($QM_BENCH_SIZES chooses), made once and kept in the build
// folder. The grid is the table model over the data set in a QTableView on the offscreen platform,
// the data set opened as the program opens a logbook (shared, DATE order, newest contact). What
// the operator waits for, each beside its floor measured in the same run:
//
//   FirstPaint/<size>  opening the logbook and painting the grid with its newest rows. Floor:
//                      opening it the same way, reading the rows the grid shows straight from
//                      the data set (every field as text) and painting them in a table view of
//                      just those rows held in memory.
//   Move/<size>        one record up or down, the grid's current row following it and the grid
//                      painted again. Floor: the same move in a data set without a grid, reading
//                      the record's fields as text and painting the in-memory view again.
//   Jump/<size>        from the newest contact to the oldest and back, the grid following it.
//                      Floor: the same jumps without a grid, reading the rows the grid shows and
//                      painting them in the in-memory view.
//   Search/<size>      to a contact in the middle of the log (as a search lands there) and on
//                      to another, the grid following. The grid finds the row by walking from
//                      the record towards the ends, at most a few thousand records each way.
//                      Floor: the same moves without a grid, reading the rows the grid shows and
//                      painting them in the in-memory view.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QStandardItemModel>
#include <QTableView>

#include "dataset/Sorl6db.h"
#include "bench_support.h"
#include "dbgridmodel.h"

namespace {

using bench::Clock;
using bench::Seconds;

constexpr int kViewWidth = 1000;
constexpr int kViewHeight = 600;

void OpenAsTheProgramDoes(TSorrelDataSet& ds, const bench::LogbookSet& book) {
  ds.SetTableName(book.table);
  ds.SetIndexFiles({book.cdx});
  ds.SetIndexName("DATE");
  ds.Open();
  ds.Last();
}

// The floor's view: the rows read, held in memory and painted.
struct PlainGrid {
  QStandardItemModel model;
  QTableView view;
  PlainGrid() { view.resize(kViewWidth, kViewHeight); }
  void Paint() {
    if (view.model() == nullptr) view.setModel(&model);
    benchmark::DoNotOptimize(view.grab());
  }
};

// Reads `rows` records from the cursor on, going back, every field as text, into the plain
// grid's rows (last row first); the cursor returns.
void ReadRows(TSorrelDataSet& ds, int rows, PlainGrid& into) {
  into.model.setRowCount(rows);
  into.model.setColumnCount(ds.FieldCount());
  int moved = 0;
  for (int i = 0; i < rows; ++i) {
    int column = 0;
    for (const auto& field : ds.Fields()) {
      into.model.setData(into.model.index(rows - 1 - i, column++),
                         QString::fromLatin1(field->AsString().c_str()));
    }
    if (i + 1 < rows) {
      if (ds.MoveBy(-1) == 0) break;
      ++moved;
    }
  }
  ds.MoveBy(moved);
}

// The grid over a data set, shown and painted once.
struct Grid {
  TDataSource source;
  TDBGridModel model;
  QTableView view;

  explicit Grid(TSorrelDataSet& ds) {
    source.SetDataSet(&ds);
    model.SetDataSource(&source);
    QObject::connect(&model, &TDBGridModel::currentRowChanged, &view, [this](int row) {
      if (row >= 0) view.setCurrentIndex(model.index(row, 0));
    });
    view.resize(kViewWidth, kViewHeight);
    view.setModel(&model);
    Paint();
  }
  void Paint() {
    QCoreApplication::processEvents();
    if (model.CurrentRow() >= 0) view.scrollTo(model.index(model.CurrentRow(), 0));
    benchmark::DoNotOptimize(view.grab());
  }
  // Rows the view shows.
  int VisibleRows() const {
    const int top = view.rowAt(0);
    int bottom = view.rowAt(view.viewport()->height() - 1);
    if (bottom < 0) bottom = model.rowCount() - 1;
    return top < 0 ? 0 : bottom - top + 1;
  }
};

void FirstPaint(benchmark::State& state, int64_t records) {
  const bench::LogbookSet& book = bench::Logbook(records);
  double figure = 0;
  double floor = 0;
  int visible = 0;
  for (auto _ : state) {
    {
      const auto start = Clock::now();
      TSorrelDataSet ds;
      OpenAsTheProgramDoes(ds, book);
      Grid grid(ds);
      const double t = Seconds(Clock::now() - start);
      visible = grid.VisibleRows();
      if (grid.model.CurrentRow() != grid.model.rowCount() - 1) state.SkipWithError("not on the newest row");
      state.SetIterationTime(t);
      figure += t;
    }
    const auto start = Clock::now();
    TSorrelDataSet ds;
    OpenAsTheProgramDoes(ds, book);
    PlainGrid plain;
    ReadRows(ds, visible, plain);
    plain.Paint();
    floor += Seconds(Clock::now() - start);
  }
  state.counters["rows"] = visible;
  bench::Report(state, figure / double(state.iterations()), floor / double(state.iterations()));
}

void Move(benchmark::State& state, int64_t records) {
  const bench::LogbookSet& book = bench::Logbook(records);
  TSorrelDataSet ds;
  OpenAsTheProgramDoes(ds, book);
  Grid grid(ds);
  TSorrelDataSet bare;
  OpenAsTheProgramDoes(bare, book);
  PlainGrid plain;
  ReadRows(bare, grid.VisibleRows(), plain);
  plain.Paint();
  double figure = 0;
  double floor = 0;
  int step = -1;
  for (auto _ : state) {
    auto start = Clock::now();
    ds.MoveBy(step);
    grid.Paint();
    const double t = Seconds(Clock::now() - start);
    state.SetIterationTime(t);
    figure += t;
    start = Clock::now();
    bare.MoveBy(step);
    int column = 0;
    for (const auto& field : bare.Fields()) {
      plain.model.setData(plain.model.index(0, column++), QString::fromLatin1(field->AsString().c_str()));
    }
    plain.Paint();
    floor += Seconds(Clock::now() - start);
    step = -step;
  }
  if (grid.model.CurrentRow() < grid.model.rowCount() - 2) state.SkipWithError("the grid lost the record");
  bench::Report(state, figure / double(state.iterations()), floor / double(state.iterations()));
}

void Jump(benchmark::State& state, int64_t records) {
  const bench::LogbookSet& book = bench::Logbook(records);
  TSorrelDataSet ds;
  OpenAsTheProgramDoes(ds, book);
  Grid grid(ds);
  const int visible = grid.VisibleRows();
  TSorrelDataSet bare;
  OpenAsTheProgramDoes(bare, book);
  PlainGrid plain;
  double figure = 0;
  double floor = 0;
  bool toFirst = true;
  for (auto _ : state) {
    auto start = Clock::now();
    if (toFirst) {
      ds.First();
    } else {
      ds.Last();
    }
    grid.Paint();
    const double t = Seconds(Clock::now() - start);
    if (grid.model.CurrentRow() != (toFirst ? 0 : grid.model.rowCount() - 1))
      state.SkipWithError("the grid did not follow");
    state.SetIterationTime(t);
    figure += t;
    start = Clock::now();
    if (toFirst) {
      bare.First();
      bare.MoveBy(visible - 1);
    } else {
      bare.Last();
    }
    ReadRows(bare, visible, plain);
    plain.Paint();
    floor += Seconds(Clock::now() - start);
    toFirst = !toFirst;
  }
  bench::Report(state, figure / double(state.iterations()), floor / double(state.iterations()));
}

void Search(benchmark::State& state, int64_t records) {
  const bench::LogbookSet& book = bench::Logbook(records);
  TSorrelDataSet ds;
  OpenAsTheProgramDoes(ds, book);
  Grid grid(ds);
  const int visible = grid.VisibleRows();
  TSorrelDataSet bare;
  OpenAsTheProgramDoes(bare, book);
  PlainGrid plain;
  double figure = 0;
  double floor = 0;
  int record = static_cast<int>(records / 2);
  for (auto _ : state) {
    record += 997;  // a new place every time, never one the grid has read
    auto start = Clock::now();
    ds.SetRecNoProperty(record);
    grid.Paint();
    const double t = Seconds(Clock::now() - start);
    if (grid.model.CurrentRow() < 0) state.SkipWithError("the grid did not follow");
    state.SetIterationTime(t);
    figure += t;
    start = Clock::now();
    bare.SetRecNoProperty(record);
    bare.MoveBy(visible / 2);
    ReadRows(bare, visible, plain);
    plain.Paint();
    floor += Seconds(Clock::now() - start);
  }
  bench::Report(state, figure / double(state.iterations()), floor / double(state.iterations()));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const int64_t records : bench::Sizes()) {
    const std::string size = bench::SizeName(records);
    benchmark::RegisterBenchmark(("FirstPaint/" + size).c_str(),
                                 [=](benchmark::State& s) { FirstPaint(s, records); })
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Move/" + size).c_str(), [=](benchmark::State& s) { Move(s, records); })
        ->UseManualTime()
        ->Iterations(200)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("Jump/" + size).c_str(), [=](benchmark::State& s) { Jump(s, records); })
        ->UseManualTime()
        ->Iterations(20)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Search/" + size).c_str(), [=](benchmark::State& s) { Search(s, records); })
        ->UseManualTime()
        ->Iterations(20)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
