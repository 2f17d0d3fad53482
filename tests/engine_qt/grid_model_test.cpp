// The grid model and the data-aware controls over a logbook: rows in tag order under a filter,
// cell edits posted to the file, refused edits cancelled, controls following the cursor.
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include "dataset/Sorl6db.h"
#include "dbctrls.h"
#include "dbgridmodel.h"
#include "dbtext.h"
#include "handler/handler_test_util.h"

using namespace handler_test;

namespace {

class GridModelTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    MakeLog();
    {
      HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
      const char* stations[] = {"K1", "W5", "A2", "N9", "B4", "W6", "C3", "Z0", "M7", "D6", "E8", "F9"};
      for (int i = 0; i < 12; ++i) Append(h, {stations[i], i % 2 ? 40.0 : 20.0, "QTH" + std::to_string(i + 1)});
      h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
    }
    ds.SetDatabaseName(dir_);
    ds.SetTableName("LOG.DBF");
    ds.SetIndexFiles({"LOG.CDX"});
    ds.SetIndexName("STATION");
    ds.SetFilter("BAND = 20");
    ds.SetFiltered(true);
    source.SetDataSet(&ds);
  }
  void TearDown() override {
    ds.Close();
    HandlerTest::TearDown();
  }

  QStringList Column(const TDBGridModel& model, int column) {
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r) out << model.data(model.index(r, column)).toString();
    return out;
  }

  TSorrelDataSet ds;
  TDataSource source;
};

TEST_F(GridModelTest, ShowsTheRowsOfAFilteredTagOrderedTable) {
  TDBGridModel model;
  model.SetDataSource(&source);
  EXPECT_EQ(model.rowCount(), 0);  // closed
  ds.Open();
  ASSERT_EQ(model.columnCount(), 5);
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "STATION");
  EXPECT_EQ(Column(model, 0), (QStringList{"A2", "B4", "C3", "E8", "K1", "M7"}));
  EXPECT_EQ(Column(model, 1), (QStringList{"20", "20", "20", "20", "20", "20"}));
  EXPECT_EQ(model.CurrentRow(), 0);
  // Listing the rows leaves the cursor where it was.
  ds.MoveBy(3);
  QSignalSpy moved(&model, &TDBGridModel::currentRowChanged);
  ds.Next();
  EXPECT_EQ(model.CurrentRow(), 4);
  EXPECT_EQ(moved.count(), 1);
  model.SetCurrentRow(1);
  EXPECT_EQ(ds.FieldByName("STATION")->AsString(), "B4");

  ds.SetFilter("BAND = 40");
  EXPECT_EQ(Column(model, 0), (QStringList{"D6", "F9", "N9", "W5", "W6", "Z0"}));
  ds.SetFiltered(false);
  EXPECT_EQ(model.rowCount(), 12);

  QTableView view;
  view.setModel(&model);
  view.resize(400, 300);
  view.show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
}

TEST_F(GridModelTest, EditingACellPostsTheRecord) {
  TDBGridModel model;
  model.SetDataSource(&source);
  ds.Open();
  const QModelIndex qth = model.index(2, 2);  // C3, record 7
  ASSERT_TRUE(model.flags(qth) & Qt::ItemIsEditable);
  EXPECT_TRUE(model.setData(qth, "Paris"));
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(model.data(qth).toString(), "Paris");
  EXPECT_EQ(ds.FieldByName("STATION")->AsString(), "C3");
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), true, false);
    h.GoTo(7);
    EXPECT_EQ(h.GetString("QTH"), "Paris       ");
  }
  // Changing the key moves the row to its new place.
  EXPECT_TRUE(model.setData(model.index(0, 0), "ZZ"));
  EXPECT_EQ(Column(model, 0), (QStringList{"B4", "C3", "E8", "K1", "M7", "ZZ"}));
  EXPECT_EQ(model.CurrentRow(), 5);

  QSignalSpy failed(&model, &TDBGridModel::editFailed);
  EXPECT_FALSE(model.setData(model.index(1, 1), "abc"));
  EXPECT_EQ(failed.count(), 1);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(model.data(model.index(1, 1)).toString(), "20");

  // A record locked by another data set refuses the edit.
  TSorrelDataSet other;
  other.SetDatabaseName(dir_);
  other.SetTableName("LOG.DBF");
  other.Open();
  other.SetRecNoProperty(5);  // B4
  other.Edit();
  EXPECT_FALSE(model.setData(model.index(0, 2), "Locked"));
  EXPECT_EQ(failed.takeLast().at(0).toString(), "Record is locked by another user");
  other.Cancel();
}

TEST_F(GridModelTest, DataAwareControlsFollowAndWriteTheField) {
  TDBText label;
  label.SetDataField("STATION");
  label.SetDataSource(&source);
  TDBEdit edit;
  edit.SetDataField("QTH");
  edit.SetDataSource(&source);
  EXPECT_TRUE(edit.isReadOnly());  // no data yet
  ds.Open();
  EXPECT_EQ(label.text(), "A2");
  EXPECT_EQ(edit.text(), "QTH3");
  EXPECT_EQ(edit.maxLength(), 12);
  ds.Next();
  EXPECT_EQ(label.text(), "B4");
  EXPECT_EQ(edit.text(), "QTH5");

  edit.show();
  edit.setFocus();
  edit.end(false);
  QTest::keyClicks(&edit, "x");
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  EXPECT_EQ(edit.text(), "QTH5x");
  EXPECT_TRUE(edit.Modified());
  ds.Post();  // asks the edit for its text first
  EXPECT_FALSE(edit.Modified());
  EXPECT_EQ(ds.FieldByName("QTH")->AsString(), "QTH5x");
  EXPECT_EQ(edit.text(), "QTH5x");
  ds.First();
  EXPECT_EQ(edit.text(), "QTH3");

  // Text that is not Latin-1 goes through the code page.
  ds.Edit();
  ds.FieldByName("QTH")->SetAsString(ToEngineText(QString::fromUtf8("\u20AC5")));
  EXPECT_EQ(edit.text(), QString::fromUtf8("\u20AC5"));
  ds.Cancel();
}

}  // namespace
