// The Edit page's data-aware labels DBText1 .. DBText9 following the current contact (the first
// eight keep their hint on the text under the mouse), the LOG grid taking letters in capitals
// once "Edit?" is checked, the search box refusing Enter with no logbook open, and the notice
// label Label51 that the Edit, DX and memory pages hide.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTableView>

#include "../logbook_core/core_test_util.h"
#include "dbctrls.h"
#include "dbgridmodel.h"
#include "logbook_fileset.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

const std::vector<core_test::Contact> kContacts = {
    {{"DATE", "20240301"}, {"TIME", "1200"}, {"STATION", "K1ABC"}, {"SPARE1", "ANN"}, {"QTH", "Maine"},
     {"STATE", "ME"}, {"MODE", "CW"}, {"FREQ", "7.030"}, {"BAND", "40"}},
    {{"DATE", "20240302"}, {"TIME", "0800"}, {"STATION", "W5XYZ"}, {"SPARE1", "BOB"}, {"QTH", "Texas"},
     {"STATE", "TX"}, {"MODE", "USB"}, {"FREQ", "14.250"}, {"BAND", "20"}},
};

int ColumnOf(const TDBGridModel& model, const std::string& name) {
  for (int column = 0; column < model.columnCount(); ++column)
    if (model.ColumnField(column)->FieldName() == name) return column;
  return -1;
}

}  // namespace

class EditControlsTest : public TWindowTest {
 protected:
  void OpenLog() {
    path_ = (Home() + "/w1log.dbf").toStdString();
    core_test::MakeLogbook(path_, kContacts);
    ASSERT_TRUE(Form().OpenChosenLogbook(QString::fromStdString(path_)));
    ASSERT_TRUE(Settle());
  }
  QString Label(int n) { return Find<TDBText>(QStringLiteral("DBText%1").arg(n).toUtf8().constData())->text().trimmed(); }
  std::string path_;
};

TEST_F(EditControlsTest, LabelsFollowTheCurrentContactAndTheFirstEightTheMouse) {
  Start();
  ASSERT_TRUE(Settle());
  // No logbook: the labels show nothing.
  for (int n = 1; n <= 9; ++n) EXPECT_TRUE(Label(n).isEmpty()) << n;
  OpenLog();
  Form().ShowPage(Form().Page(1));
  // The newest contact, then the oldest after a move.
  const QStringList newest = {"", "0800", "W5XYZ", "BOB", "Texas", "TX", "", "USB", "14.250"};
  for (int n = 2; n <= 9; ++n) {
    if (!newest[n - 1].isEmpty()) {
      EXPECT_EQ(Label(n), newest[n - 1]) << n;
    }
  }
  EXPECT_FALSE(Label(1).isEmpty());
  EXPECT_FALSE(Label(7).isEmpty());
  Form().dbf1().First();
  EXPECT_EQ(Label(3), "K1ABC");
  EXPECT_EQ(Label(4), "ANN");
  EXPECT_EQ(Label(9), "7.030");

  // The mouse over a label sets its hint to the label's text, for DBText1 .. DBText8 only.
  for (int n = 1; n <= 9; ++n) {
    auto* label = Find<TDBText>(QStringLiteral("DBText%1").arg(n).toUtf8().constData());
    label->setToolTip(QString());
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), label->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(label, &move);
    EXPECT_EQ(label->toolTip(), n <= 8 ? Label(n) : QString()) << n;
  }
}

TEST_F(EditControlsTest, LogGridTakesLettersInCapitalsWhenEditIsChecked) {
  Start();
  ASSERT_TRUE(Settle());
  OpenLog();
  Form().ShowPage(Form().Page(0));
  auto* grid = Find<QTableView>("DBGrid1");
  auto* model = qobject_cast<TDBGridModel*>(grid->model());
  ASSERT_NE(model, nullptr);
  const int station = ColumnOf(*model, "STATION");
  Find<QCheckBox>("CheckBox3")->click();
  ASSERT_TRUE(Find<QCheckBox>("CheckBox3")->isChecked());
  grid->setFocus();
  const int row = model->CurrentRow();
  grid->setCurrentIndex(model->index(row, station));
  // The first key opens the cell's editor, which takes the others.
  for (const char c : std::string("k9zz/p")) QTest::keyClicks(QApplication::focusWidget(), QString(QChar(c)));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return model->index(row, station).data().toString().trimmed() == "K9ZZ/P"; }, 2000))
      << model->index(row, station).data().toString().toStdString();
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join("|").toStdString();
  Form().dbf1().Close();
  QStringList stored;
  for (const core_test::Contact& c : core_test::ReadContacts(path_)) stored << QString::fromStdString(c.at("STATION"));
  EXPECT_EQ(stored, (QStringList{"K1ABC", "K9ZZ/P"}));
}

TEST_F(EditControlsTest, EnterInTheSearchBoxWithNoLogbookIsRefused) {
  Start();
  ASSERT_TRUE(Settle());
  Form().ShowPage(Form().Page(1));
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  auto* box = Find<QLineEdit>("Edit19");
  box->setFocus();
  box->setText("K1ABC");
  Key(Qt::Key_Return);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"please load a log book first. "});
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
}

TEST_F(EditControlsTest, TheNoticeLabelGoesWhenTheEditDxOrMemoryPageIsShown) {
  Start();
  ASSERT_TRUE(Settle());
  auto* notice = Find<QLabel>("Label51");
  EXPECT_TRUE(notice->isVisibleTo(&Form()));
  EXPECT_FALSE(notice->text().isEmpty());
  for (int page : {1, 2, 3, 4}) {
    notice->show();
    Form().ShowPage(Form().Page(0));
    Form().ShowPage(Form().Page(page));
    // The Set page leaves it; the other three hide it.
    EXPECT_EQ(notice->isVisibleTo(&Form()), page == 2) << page;
  }
}
