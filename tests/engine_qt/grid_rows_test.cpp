// The grid model on views too large to list: rows read on demand around what the view shows,
// counted through the data set's record reads; the rows after filters, order changes, posts,
// deletes and another handle's appends; the current record and the view's current row following
// each other; and small views, which are read whole and numbered exactly.
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_search.h"
#include "dbgridmodel.h"
#include "handler/handler_test_util.h"

using namespace handler_test;

namespace {

// A data set that counts the records its cursor reads.
class CountingDataSet : public TSorrelDataSet {
 public:
  ~CountingDataSet() override { Destroying(); }
  int64_t reads = 0;

 protected:
  TGetResult GetRecord(char* buffer, TGetMode mode, bool doCheck) override {
    ++reads;
    return TSorrelDataSet::GetRecord(buffer, mode, doCheck);
  }
};

std::string StationOf(int key) {
  char text[16];
  std::snprintf(text, sizeof text, "S%05d", key);
  return text;
}

class GridRowsTest : public HandlerTest {
 protected:
  // Record r (from 1) holds station S(r * 7919 mod n), so the STATION order is not record order;
  // odd records are on band 20, even ones on 40. Records after `deletedAfter` are deleted.
  void MakeTable(int n, int deletedAfter = 0) {
    records_ = n;
    MakeLog("LOG.DBF", false);
    {
      HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
      for (int r = 1; r <= n; ++r) {
        Append(h, {StationOf(static_cast<int>(static_cast<int64_t>(r) * 7919 % n)), r % 2 ? 20.0 : 40.0,
                   "Q" + std::to_string(r), deletedAfter > 0 && r > deletedAfter});
      }
      h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
    }
    ds.SetDatabaseName(dir_);
    ds.SetTableName("LOG.DBF");
    ds.SetIndexFiles({"LOG.CDX"});
    ds.SetIndexName("STATION");
    source.SetDataSet(&ds);
  }
  void TearDown() override {
    ds.Close();
    HandlerTest::TearDown();
  }

  // The station the view shows in `row`.
  QString At(int row) { return model.data(model.index(row, 0)).toString(); }
  QString Current() { return QString::fromStdString(ds.FieldByName("STATION")->AsString()); }
  // Lets the model finish what it put off to the event loop.
  static void Settle() { QCoreApplication::processEvents(); }

  int records_ = 0;
  CountingDataSet ds;
  TDataSource source;
  TDBGridModel model;
};

constexpr int kLarge = 30000;

TEST_F(GridRowsTest, LargeViewShowsItsNewestRowsReadingOnlyAWindow) {
  MakeTable(kLarge);
  model.SetDataSource(&source);
  QTableView view;
  view.setModel(&model);
  view.resize(500, 400);
  // The logbook's grid: the view follows the current row.
  QObject::connect(&model, &TDBGridModel::currentRowChanged, &view, [&](int row) {
    if (row >= 0) view.setCurrentIndex(model.index(row, 0));
  });
  ds.Open();
  ds.Last();
  Settle();
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  Settle();
  // The whole view is counted, its last rows shown; what was read stays near the window.
  EXPECT_EQ(model.rowCount(), kLarge);
  EXPECT_EQ(model.CurrentRow(), kLarge - 1);
  EXPECT_EQ(view.currentIndex().row(), kLarge - 1);
  EXPECT_EQ(At(kLarge - 1), "S29999");
  EXPECT_EQ(At(kLarge - 30), "S29970");
  EXPECT_LT(ds.reads, 1000);

  // Moves inside what was read re-read nothing.
  ds.reads = 0;
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  for (int i = 0; i < 5; ++i) ds.Prior();
  EXPECT_EQ(model.CurrentRow(), kLarge - 6);
  model.SetCurrentRow(kLarge - 20);
  EXPECT_EQ(Current(), "S29980");
  EXPECT_EQ(view.currentIndex().row(), kLarge - 20);
  view.setCurrentIndex(model.index(kLarge - 12, 0));
  model.SetCurrentRow(view.currentIndex().row());
  EXPECT_EQ(Current(), "S29988");
  EXPECT_LT(ds.reads, 40);
  EXPECT_EQ(resets.count(), 0);

  // The first row, reached from the top; rows met on the way down are read from there.
  ds.First();
  Settle();
  EXPECT_EQ(model.CurrentRow(), 0);
  EXPECT_EQ(view.currentIndex().row(), 0);
  for (int row : {0, 1, 150, 400}) EXPECT_EQ(At(row), QString::fromStdString(StationOf(row))) << row;

  // A record found far from both ends: the rows around it are its neighbours in the order, and
  // the ends stay exact.
  ds.reads = 0;
  ASSERT_TRUE(ds.Locate("STATION", {TVarValue(std::string("S20000"))}, 0));
  Settle();
  const int row = model.CurrentRow();
  ASSERT_GE(row, 0);
  EXPECT_EQ(At(row), "S20000");
  EXPECT_EQ(At(row - 1), "S19999");
  EXPECT_EQ(At(row + 40), "S20040");
  EXPECT_LT(ds.reads, 3 * TDBGridModel::kProbeRows);
  EXPECT_EQ(At(kLarge - 1), "S29999");
  EXPECT_EQ(At(0), "S00000");
  EXPECT_EQ(Current(), "S20000");  // reading rows leaves the cursor where it was
}

TEST_F(GridRowsTest, LargeViewFollowsFilterOrderPostsDeletesAndAppends) {
  MakeTable(kLarge);
  model.SetDataSource(&source);
  ds.Open();
  ds.Last();
  Settle();

  // Band 20: the odd records, still in STATION order, counted from the filter.
  ds.reads = 0;
  ds.SetFilter("BAND = 20");
  ds.SetFiltered(true);
  Settle();
  EXPECT_EQ(model.rowCount(), kLarge / 2);
  EXPECT_EQ(model.CurrentRow(), 0);
  std::vector<std::string> odd;
  for (int r = 1; r <= kLarge; r += 2) odd.push_back(StationOf(static_cast<int>(int64_t{r} * 7919 % kLarge)));
  std::sort(odd.begin(), odd.end());
  for (int row : {0, 1, 2, 500, kLarge / 2 - 1})
    EXPECT_EQ(At(row).toStdString(), odd[static_cast<size_t>(row)]) << row;
  EXPECT_LT(ds.reads, 1500);

  // Record order: row r is record r + 1.
  ds.SetFiltered(false);
  ds.SetIndexName("");
  ds.Last();
  Settle();
  EXPECT_EQ(model.rowCount(), kLarge);
  EXPECT_EQ(model.CurrentRow(), kLarge - 1);
  EXPECT_EQ(model.data(model.index(kLarge - 3, 2)).toString(), QString("Q%1").arg(kLarge - 2));

  // A cell edit is posted and shown; the view is read again.
  ASSERT_TRUE(model.setData(model.index(kLarge - 3, 2), "Edited"));
  Settle();
  EXPECT_EQ(model.data(model.index(kLarge - 3, 2)).toString(), "Edited");
  EXPECT_EQ(model.CurrentRow(), kLarge - 3);

  // An edit far from both ends keeps its row while the view is read again.
  ds.SetIndexName("STATION");
  ds.Last();
  Settle();
  model.SetCurrentRow(12000);
  ASSERT_EQ(Current(), "S12000");
  ASSERT_TRUE(model.setData(model.index(12000, 2), "Middle"));
  Settle();
  EXPECT_EQ(model.CurrentRow(), 12000);
  EXPECT_EQ(model.data(model.index(12000, 2)).toString(), "Middle");
  EXPECT_EQ(At(12001), "S12001");

  // A deleted record leaves the rows around the cursor.
  ds.Last();
  Settle();
  model.SetCurrentRow(kLarge - 10);
  ASSERT_EQ(Current(), "S29990");
  ds.Delete();
  Settle();
  const int row = model.CurrentRow();
  EXPECT_EQ(At(row), "S29991");
  EXPECT_EQ(At(row - 1), "S29989");
  ds.Last();
  Settle();
  EXPECT_EQ(At(model.CurrentRow()), "S29999");
  EXPECT_EQ(model.CurrentRow(), model.rowCount() - 1);

  // Another handle appends; a refresh shows the new record at the end of the order.
  {
    HXO_dBHandler other(PathOf("LOG.DBF"), true, true);
    other.SetIndexFiles("LOG.CDX", "STATION");
    Append(other, {"S99999", 20, "Elsewhere"});
  }
  ds.Refresh();
  ds.Last();
  Settle();
  EXPECT_EQ(Current(), "S99999");
  EXPECT_EQ(At(model.CurrentRow()), "S99999");
  EXPECT_EQ(model.CurrentRow(), model.rowCount() - 1);
  EXPECT_EQ(At(model.CurrentRow() - 1), "S29999");
}

// Reading rows leaves the program's cursor as it was, Bof and Eof included, and reads nothing
// while the program works with the controls disabled.
TEST_F(GridRowsTest, ReadingRowsLeavesTheProgramsCursorAlone) {
  MakeTable(kLarge);
  model.SetDataSource(&source);
  ds.Open();
  ds.Last();
  EXPECT_EQ(At(5000), "S05000");
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(Current(), "S29999");
  ds.First();
  EXPECT_EQ(At(kLarge - 2), "S29998");
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(Current(), "S00000");

  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  ds.DisableControls();
  ds.MoveBy(10);
  const int64_t reads = ds.reads;
  EXPECT_EQ(At(20000), "");
  EXPECT_EQ(ds.reads, reads);
  EXPECT_EQ(Current(), "S00010");
  ds.EnableControls();
  EXPECT_EQ(changed.count(), 1);  // the view asks again
  EXPECT_EQ(At(20000), "S20000");
  Settle();
  EXPECT_EQ(model.CurrentRow(), 10);
  EXPECT_EQ(Current(), "S00010");
}

// Deleted records count in a large view until walks meet the ends where the count did not
// expect them; then the count and the row numbers are put right.
TEST_F(GridRowsTest, LargeViewCountHidingDeletedRecordsIsCorrectedByWalks) {
  constexpr int kVisible = 10000;
  MakeTable(kLarge, kVisible);
  std::vector<std::string> shown;
  for (int r = 1; r <= kVisible; ++r) shown.push_back(StationOf(static_cast<int>(int64_t{r} * 7919 % kLarge)));
  std::sort(shown.begin(), shown.end());
  model.SetDataSource(&source);
  ds.Open();
  ds.Last();
  Settle();
  EXPECT_EQ(model.rowCount(), kLarge);  // the records in the file
  EXPECT_EQ(model.CurrentRow(), kLarge - 1);
  EXPECT_EQ(At(kLarge - 1).toStdString(), shown.back());

  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  At(kLarge / 2);  // a walk from one end meets the other end
  Settle();
  EXPECT_EQ(resets.count(), 1);
  EXPECT_EQ(model.rowCount(), kVisible);
  EXPECT_EQ(model.CurrentRow(), kVisible - 1);
  for (int row : {0, 1, kVisible / 2, kVisible - 2, kVisible - 1})
    EXPECT_EQ(At(row).toStdString(), shown[static_cast<size_t>(row)]) << row;
  EXPECT_EQ(Current().toStdString(), shown.back());
}

// Small views are read whole: every change gives exact rows, counted rows and current row.
TEST_F(GridRowsTest, SmallViewIsExactAfterEveryKindOfChange) {
  MakeTable(40);
  model.SetDataSource(&source);
  ds.Open();
  auto stations = [&] {
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r) out << At(r);
    return out;
  };
  struct Step {
    const char* what;
    std::function<void()> change;
    int rows;
    QString first, last, current;
  };
  const Step steps[] = {
      {"open", [] {}, 40, "S00000", "S00039", "S00000"},
      {"last", [&] { ds.Last(); }, 40, "S00000", "S00039", "S00039"},
      // Record r holds S(40 - r): the even records, band 40, hold the even stations.
      {"filter", [&] { ds.SetFilter("BAND = 40"); ds.SetFiltered(true); }, 20, "S00000", "S00038", "S00000"},
      {"delete", [&] { ds.Delete(); }, 19, "S00002", "S00038", "S00002"},
      {"unfilter", [&] { ds.SetFiltered(false); }, 39, "S00001", "S00039", "S00001"},
      {"append elsewhere",
       [&] {
         HXO_dBHandler other(PathOf("LOG.DBF"), true, true);
         other.SetIndexFiles("LOG.CDX", "STATION");
         Append(other, {"S00001A", 40, "Elsewhere"});
         ds.Refresh();
       },
       40, "S00001", "S00039", "S00001"},
      {"record order", [&] { ds.SetIndexName(""); ds.Last(); }, 40, "S00039", "S00001A", "S00001A"},
  };
  for (const Step& step : steps) {
    step.change();
    Settle();
    EXPECT_EQ(model.rowCount(), step.rows) << step.what;
    EXPECT_EQ(At(0), step.first) << step.what;
    EXPECT_EQ(At(model.rowCount() - 1), step.last) << step.what;
    ASSERT_GE(model.CurrentRow(), 0) << step.what;
    EXPECT_EQ(At(model.CurrentRow()), step.current) << step.what;
    EXPECT_EQ(Current(), step.current) << step.what;
  }
  EXPECT_EQ(stations().mid(0, 3), (QStringList{"S00039", "S00038", "S00037"}));
}

}  // namespace
