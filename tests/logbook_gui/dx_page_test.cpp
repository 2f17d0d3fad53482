// The DX page: "Check WAS" and "Check DX" on a small logbook through the buttons, as the grids
// show the tallies (precedence of the marks, mode and band rules, the band filter that limits a
// tally and the call-sign filter that must not), the refusal without a logbook, a missing table,
// a cell read out, and "Magnify?".
#include <QAbstractItemModel>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include "dataset/Sorl6db_creator.h"
#include "tallies.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

const std::vector<std::string> kLogbookFields = {
    "DATE;D;8;0",    "TIME;C;6;0",    "NUMBER;N;20;4", "STATION;C;15;0", "BAND;N;20;4",
    "QTH;C;20;0",    "RST;C;5;0",     "NRSENT;C;20;0", "NRRCVD;C;20;0",  "SPARE1;C;20;0",
    "MODE;C;6;0",    "PREFIX;C;5;0",  "STATE;C;3;0",   "CQZONE;C;3;0",   "ITUZONE;C;3;0",
    "TENTEN;N;20;4", "QSLS;C;2;0",    "QSLR;C;2;0",    "CITY;C;30;0",    "REMARK;C;100;0",
    "FREQ;C;7;0",    "COUNTY;C;20;0", "CONTEST;C;15;0", "OPERATR;C;8;0", "IOTA;C;8;0",
    "TXPWR;C;4;0",   "GRIDSQR;C;6;0"};

struct Contact {
  const char *station, *state, *prefix, *mode;
  int band;
  const char *qsls, *qslr;
};

const Contact kContacts[] = {
    {"W1AW", "CT", "K", "CW", 20, "", "Y"},    // CT CW confirmed
    {"K1ABC", "CT", "K", "CW", 40, "", ""},    // never downgraded
    {"N1XYZ", "MA", "ja", "USB", 80, "Y", ""}, // SSB QSL sent; the prefix matched upper-cased
    {"W2ABD", "NY", "VP2M", "PSK", 12, "", "Y"},
    {"W3AAA", "TX", "VP2E", "RTTY", 6, "", ""}, // neither a mode column nor a band column
    {"W1AW", "CT", "K", "USB", 20, "", ""},
};

// Name, then the cells CW, SSB, RTTY/PSK, 10 .. 160 (DX: name, prefix, then the same).
using Cells = QStringList;

class DxPageTest : public TWindowTest {
 protected:
  void SetUp() override {
    for (const char* f : {"STATES.DBF", "STATES.CDX", "DXCC.DBF", "DXCC.CDX"}) DeliverBuilt(f);
    Start();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
    was_ = Find<QTableView>("DBGrid4");
    dx_ = Find<QTableView>("DBGrid6");
  }
  void TearDown() override { Form().dbf1().Close(); }

  void MakeLogbook() {
    TSorrelDataSet& log = Form().dbf1();
    log.SetDatabaseName(Home().toStdString());
    log.SetTableName("small.dbf");
    TCreateSorrelDataSet creator;
    creator.SetDBFTable(&log);
    creator.SetDBFType(DBaseIV);
    creator.SetCreateFields(kLogbookFields);
    ASSERT_TRUE(creator.CreateTable());
    for (const Contact& c : kContacts) {
      log.Append();
      log.FieldByName("STATION")->SetAsString(c.station);
      log.FieldByName("STATE")->SetAsString(c.state);
      log.FieldByName("PREFIX")->SetAsString(c.prefix);
      log.FieldByName("MODE")->SetAsString(c.mode);
      log.FieldByName("BAND")->SetAsInteger(c.band);
      log.FieldByName("QSLS")->SetAsString(c.qsls);
      log.FieldByName("QSLR")->SetAsString(c.qslr);
      log.Post();
    }
  }

  static Cells Row(QTableView* grid, const QString& name) {
    QAbstractItemModel* m = grid->model();
    for (int r = 0; r < m->rowCount(); ++r) {
      if (m->index(r, 0).data().toString() != name) continue;
      Cells cells;
      for (int c = 0; c < m->columnCount(); ++c) cells << m->index(r, c).data().toString();
      return cells;
    }
    return {};
  }
  static QStringList Titles(QTableView* grid) {
    QStringList titles;
    for (int c = 0; c < grid->model()->columnCount(); ++c)
      titles << grid->model()->headerData(c, Qt::Horizontal).toString();
    return titles;
  }

  QTableView* was_ = nullptr;
  QTableView* dx_ = nullptr;
};

TEST_F(DxPageTest, PageCarriesItsControls) {
  EXPECT_EQ(Find<QPushButton>("Button5")->text(), "Check WAS");
  EXPECT_EQ(Find<QPushButton>("Button5")->toolTip(), "Check W.A.S.");
  EXPECT_EQ(Find<QPushButton>("Button7")->text(), "Check DX");
  EXPECT_EQ(Find<QPushButton>("Button7")->toolTip(), "Check DX");
  EXPECT_EQ(Find<QLabel>("LabelLegend")->text(), QString::fromLatin1(quillmere::kTallyLegend));
  EXPECT_FALSE(was_->isHidden());
  EXPECT_TRUE(dx_->isHidden());

  // "Magnify?" enlarges both grids and puts them back.
  auto* magnify = Find<QCheckBox>("CheckBox5");
  EXPECT_EQ(magnify->text(), "Magnify?");
  magnify->click();
  EXPECT_EQ(was_->font().pointSize(), 18);
  EXPECT_EQ(dx_->font().pointSize(), 18);
  magnify->click();
  EXPECT_EQ(was_->font().pointSize(), 12);
  EXPECT_EQ(dx_->font().pointSize(), 12);
}

TEST_F(DxPageTest, RefusedWithoutALogbookSpokenOrShown) {
  Find<QPushButton>("Button7")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"please load a log book. "});
  EXPECT_TRUE(was_->isHidden());
  EXPECT_FALSE(dx_->isHidden());
  EXPECT_EQ(dx_->model()->rowCount(), 0);  // nothing opened, nothing reset

  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  Find<QPushButton>("Button5")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Message: Please load a log book!"});
  EXPECT_FALSE(was_->isHidden());
  EXPECT_TRUE(dx_->isHidden());
}

TEST_F(DxPageTest, ChecksThroughTheButtonsFillTheGrids) {
  MakeLogbook();
  TSorrelDataSet& log = Form().dbf1();
  // The duplicate check's filter on one station does not narrow the tally, and stays.
  log.SetFilter("STATION = 'W1AW'");
  log.SetFiltered(true);

  Find<QPushButton>("Button5")->click();
  EXPECT_EQ(Titles(was_), (QStringList{"NAME", "CW", "SSB", "RTTY/PSK", "10", "12", "15", "17", "20", "30",
                                       "40", "80", "160"}));
  EXPECT_EQ(was_->model()->rowCount(), 50);
  EXPECT_EQ(Row(was_, "Connecticut"),
            (Cells{"Connecticut", "C", "W", "-", "---", "---", "---", "---", "YES", "---", "YES", "---", "---"}));
  EXPECT_EQ(Row(was_, "Massachusetts"),
            (Cells{"Massachusetts", "-", "O", "-", "---", "---", "---", "---", "---", "---", "---", "YES", "---"}));
  EXPECT_EQ(Row(was_, "New York"),
            (Cells{"New York", "-", "-", "C", "---", "YES", "---", "---", "---", "---", "---", "---", "---"}));
  EXPECT_EQ(Row(was_, "Texas"),
            (Cells{"Texas", "-", "-", "-", "---", "---", "---", "---", "---", "---", "---", "---", "---"}));
  EXPECT_TRUE(log.Filtered());
  EXPECT_EQ(log.Filter(), "STATION = 'W1AW'");

  Find<QPushButton>("Button7")->click();
  EXPECT_TRUE(was_->isHidden());
  EXPECT_FALSE(dx_->isHidden());
  EXPECT_EQ(Titles(dx_).mid(0, 4), (QStringList{"NAME", "PFX", "CW", "SSB"}));
  EXPECT_EQ(Row(dx_, "United States"), (Cells{"United States", "K", "C", "W", "-", "---", "---", "---", "---",
                                              "YES", "---", "YES", "---", "---"}));
  EXPECT_EQ(Row(dx_, "Japan").mid(1, 3), (Cells{"JA", "-", "O"}));
  // Entities that share a stem stay apart.
  EXPECT_EQ(Row(dx_, "Montserrat").mid(1, 5), (Cells{"VP2M", "-", "-", "C", "---"}));
  EXPECT_EQ(Row(dx_, "Anguilla").mid(1, 4), (Cells{"VP2E", "-", "-", "-"}));

  // A band filter in force limits the tally to that band; the check starts afresh.
  log.SetFilter("BAND =20");
  log.SetFiltered(true);
  Find<QPushButton>("Button5")->click();
  EXPECT_EQ(Row(was_, "Connecticut"),
            (Cells{"Connecticut", "C", "W", "-", "---", "---", "---", "---", "YES", "---", "---", "---", "---"}));
  EXPECT_EQ(Row(was_, "Massachusetts").mid(1, 3), (Cells{"-", "-", "-"}));
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join('\n').toStdString();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // A cell clicked is read out; an empty one is not.
  Form().ShowPage(Form().Page(3));
  QApplication::processEvents();
  const int row = was_->model()->match(was_->model()->index(0, 0), Qt::DisplayRole, "Connecticut").value(0).row();
  const QModelIndex cw = was_->model()->index(row, 1);
  was_->scrollTo(cw);
  QTest::mouseClick(was_->viewport(), Qt::LeftButton, {}, was_->visualRect(cw).center());
  ASSERT_TRUE(Settle());
  // The page announced itself as it came up.
  EXPECT_EQ(fakes.voice->Spoken(), (std::vector<std::string>{"DX. W. A. S. Panel is up.", "C"}));
  // The hint follows the column entered, and in the DXCC grid the key released.
  EXPECT_EQ(was_->toolTip(), "C");
  QTest::keyClick(was_, Qt::Key_Right);
  EXPECT_EQ(was_->toolTip(), "W");
  Find<QPushButton>("Button7")->click();
  QApplication::processEvents();
  dx_->setFocus();
  dx_->setCurrentIndex(dx_->model()->index(0, 1));
  dx_->setToolTip(QString());
  QTest::keyClick(dx_, Qt::Key_Down);
  EXPECT_EQ(dx_->toolTip(), dx_->model()->index(1, 1).data().toString());
  EXPECT_FALSE(dx_->toolTip().isEmpty());
}

TEST_F(DxPageTest, MissingReferenceTableIsReportedAndTheCursorComesBack) {
  MakeLogbook();
  QFile::remove(Home() + "/DXCC.DBF");
  Find<QPushButton>("Button7")->click();
  ASSERT_EQ(fakes.dialogs->Shown.size(), 1);
  EXPECT_TRUE(fakes.dialogs->Shown[0].startsWith("Error: ")) << fakes.dialogs->Shown[0].toStdString();
  EXPECT_TRUE(fakes.dialogs->Shown[0].contains("DXCC.DBF", Qt::CaseInsensitive)) << fakes.dialogs->Shown[0].toStdString();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // The other check still works.
  Find<QPushButton>("Button5")->click();
  EXPECT_EQ(Row(was_, "Connecticut").value(1), "C");
}

}  // namespace
