// A logbook of the program's own layout shown and edited through the grid model: contacts logged
// the way the logbook logs them (append, fields by name, post), shown newest last in the DATE tag's
// order, filtered by band, a remark edited in its cell.
#include <QTableView>

#include "dataset/Sorl6db.h"
#include "dbgridmodel.h"
#include "handler/handler_test_util.h"
#include "base/hx6_date.h"
#include "support/logbook_layout.h"

namespace {

struct Contact {
  int year, month, day;
  const char* time;
  const char* station;
  int band;
};

class LogbookGridTest : public table_images::TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    {
      HXO_DB4Build builder(PathOf("W1LOG.DBF"));
      logbook_layout::AddLogbookFields(builder);
      builder.CreateFiles();
    }
    {
      HXO_dBHandler h(PathOf("W1LOG.DBF"), false, true);
      h.CreateIndexTag("W1LOG.CDX", "DATE", "DTOS(DATE)+TIME", "", 1, 0);
      h.CreateIndexTag("W1LOG.CDX", "STATION", "STATION", "", 1, 0);
    }
    log.SetDatabaseName(dir_);
    log.SetTableName("W1LOG.DBF");
    log.SetIndexFiles({"W1LOG.CDX"});
    log.SetIndexName("DATE");
    source.SetDataSet(&log);
  }
  void TearDown() override {
    log.Close();
    TempFolder::TearDown();
  }

  // Logs one contact the way Log It does.
  void LogIt(const Contact& c, int number) {
    log.Append();
    log.FieldByName("DATE")->SetAsDateTime(JulianToDateTime(DBFDate().EncodeDate(c.year, c.month, c.day)));
    log.FieldByName("TIME")->SetAsString(c.time);
    log.FieldByName("NUMBER")->SetAsInteger(number);
    log.FieldByName("STATION")->SetAsString(c.station);
    log.FieldByName("BAND")->SetAsInteger(c.band);
    log.FieldByName("MODE")->SetAsString("USB");
    log.FieldByName("FREQ")->SetAsString("14.250");
    log.Post();
  }

  int Column(const TDBGridModel& model, const char* name) {
    for (int c = 0; c < model.columnCount(); ++c) {
      if (model.headerData(c, Qt::Horizontal).toString() == name) return c;
    }
    return -1;
  }
  QStringList Stations(const TDBGridModel& model) {
    QStringList out;
    const int column = Column(model, "STATION");
    for (int r = 0; r < model.rowCount(); ++r) out << model.data(model.index(r, column)).toString();
    return out;
  }

  TSorrelDataSet log;
  TDataSource source;
};

TEST_F(LogbookGridTest, ContactsLoggedShowInDateOrderFilterAndEdit) {
  TDBGridModel model;
  model.SetDataSource(&source);
  log.Open();
  EXPECT_TRUE(log.IsEmpty());
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.columnCount(), 27);

  const Contact contacts[] = {{2024, 3, 1, "1200", "K1ABC", 20}, {2023, 12, 31, "2359", "G3XYZ", 40},
                              {2024, 3, 1, "0900", "JA1AA", 20}, {2024, 1, 15, "1530", "VK2BB", 15}};
  int number = 1;
  for (const Contact& c : contacts) LogIt(c, number++);
  log.Last();
  EXPECT_EQ(log.FieldByName("STATION")->AsString(), "K1ABC");  // the newest contact
  EXPECT_EQ(Stations(model), (QStringList{"G3XYZ", "VK2BB", "JA1AA", "K1ABC"}));
  EXPECT_EQ(model.CurrentRow(), 3);
  const int date = Column(model, "DATE");
  EXPECT_EQ(model.data(model.index(0, date)).toString(),
            QString::fromStdString(DBFDate().DTOC(DBFDate().EncodeDate(2023, 12, 31))));
  EXPECT_EQ(model.data(model.index(0, Column(model, "BAND"))).toString(), "40");
  EXPECT_EQ(model.data(model.index(0, Column(model, "NUMBER"))).toString(), "2");

  log.SetFilter("BAND =20");
  log.SetFiltered(true);
  EXPECT_EQ(Stations(model), (QStringList{"JA1AA", "K1ABC"}));

  const QModelIndex remark = model.index(0, Column(model, "REMARK"));
  EXPECT_TRUE(model.setData(remark, "Worked on a dipole"));
  EXPECT_EQ(model.data(remark).toString(), "Worked on a dipole");
  log.SetFiltered(false);
  log.Close();
  HXO_dBHandler h(PathOf("W1LOG.DBF"), true, false);
  h.GoTo(3);
  EXPECT_EQ(h.GetString("STATION").substr(0, 5), "JA1AA");
  EXPECT_EQ(h.GetString("REMARK").substr(0, 18), "Worked on a dipole");
  EXPECT_EQ(h.GetString("DATE"), "20240301");

  QTableView view;
  view.setModel(&model);  // a closed data set: an empty grid
  EXPECT_EQ(model.rowCount(), 0);
}

}  // namespace
