// Details of several windows: the status bar's "not answering" notice going at the next good rig
// report; the shortcut review's first hit for "alt"; the band-limits window's unused buttons and
// open dialog; the call-book window's drive box saying its text; the memory grid's columns sized
// by dragging their borders in the title row; the notice of a missing word list.
#include <QComboBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>

#include "RAC.h"
#include "find_dialog.h"
#include "licenseA.h"
#include "shortcutscreen.h"
#include "tarvane_enums.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

const QString kNotAnswering = "The rig server or the radio is not answering.";

void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

}  // namespace

class WindowDetailsTest : public TWindowTest {
 protected:
  void SetUp() override {
    fakes.rig->Values[TRigProperty::Freq] = 14074000;
    fakes.rig->Values[TRigProperty::Mode] = tarvane::PM_SSB_U;
    fakes.rig->Values[TRigProperty::Rit] = tarvane::PM_RITOFF;
  }
  void StartUp() {
    Start();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
    fakes.dialogs->Shown.clear();
  }
};

TEST_F(WindowDetailsTest, TheNotAnsweringNoticeGoesAtTheNextGoodReport) {
  StartUp();
  QStatusBar* bar = Form().statusBar();
  struct Road {
    const char* what;
    std::function<void()> good;
  } roads[] = {
      {"a parameter change", [&] { Form().TarvaneX1ParamsChange(1, 0); }},
      {"a rig type change", [&] { Form().TarvaneX1RigTypeChange(1); }},
      {"a step the server takes", [&] { Find<QPushButton>("BitBtn8")->click(); }},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.what);
    fakes.rig->IsConnected = false;
    Find<QPushButton>("BitBtn7")->click();
    ASSERT_EQ(bar->currentMessage(), kNotAnswering);
    // A report that fails too leaves the notice.
    Form().TarvaneX1ParamsChange(1, 0);
    EXPECT_EQ(bar->currentMessage(), kNotAnswering);
    fakes.rig->IsConnected = true;
    road.good();
    EXPECT_TRUE(bar->currentMessage().isEmpty());
  }
  // A message shown since the notice is not the notice's to take away.
  fakes.rig->IsConnected = false;
  Find<QPushButton>("BitBtn7")->click();
  bar->showMessage("Exporting");
  fakes.rig->IsConnected = true;
  Form().TarvaneX1ParamsChange(1, 0);
  EXPECT_EQ(bar->currentMessage(), "Exporting");
}

TEST_F(WindowDetailsTest, SearchingTheReviewForAltFindsAltTFirst) {
  StartUp();
  shortcuts->show();
  auto* memo = shortcuts->findChild<QPlainTextEdit*>("Memo1");
  auto* edit = shortcuts->findChild<QLineEdit*>("Edit1");
  edit->setText("alt");
  QTest::keyClick(edit, Qt::Key_Return);
  shortcuts->FindDialog1().FindNextButton()->click();
  ASSERT_TRUE(Settle());
  const QString text = memo->toPlainText();
  EXPECT_EQ(shortcuts->LastHit(), int(text.indexOf("Alt + T")) + 1);
  EXPECT_EQ(int(text.indexOf("alt", 0, Qt::CaseInsensitive)), int(text.indexOf("Alt + T")));
  EXPECT_EQ(memo->textCursor().selectedText(), "Alt");
  EXPECT_EQ(fakes.voice->Spoken(),
            (std::vector<std::string>{"Searching for. alt.", "found. alt.", "Alt + T   Speaks the time now."}));
  // The note still points at the hint box and the band change before the key list.
  EXPECT_LT(text.indexOf("large hint box"), text.indexOf("PROGRAM FUNCTIONS.."));
}

TEST_F(WindowDetailsTest, BandLimitsWindowHoldsButtonsAndAnOpenDialogThatDoNothing) {
  StartUp();
  ASSERT_NE(Constants, nullptr);
  const GridCells grid = Constants->Limits().Grid();
  const bool enabled = Constants->Limits().Enabled();
  for (const char* name : {"Button1", "Button2"}) {
    auto* button = Constants->findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    EXPECT_EQ(button->text(), name);
    button->click();
  }
  ASSERT_TRUE(Settle());
  QObject* dialog = Constants->findChild<QObject*>("OpenDialog1");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->property("filter").toString(), "Band Limits (*.bdl)");
  EXPECT_EQ(Constants->Limits().Grid(), grid);
  EXPECT_EQ(Constants->Limits().Enabled(), enabled);
  EXPECT_FALSE(Constants->isVisible());
  EXPECT_TRUE(fakes.voice->Spoken().empty());
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
  EXPECT_TRUE(fakes.files->Requests.isEmpty());
}

TEST_F(WindowDetailsTest, CallBookDriveBoxSaysItsText) {
  StartUp();
  auto* drives = RAC->findChild<QComboBox*>("ComboBox1");
  ASSERT_NE(drives, nullptr);
  drives->setCurrentIndex(1);
  emit drives->activated(1);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{drives->currentText().toStdString()});
  // Nothing is said for an empty text, nor with speech off.
  fakes.voice->Clear();
  drives->setEditText("");
  emit drives->activated(drives->currentIndex());
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(fakes.voice->Spoken().empty());
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  drives->setCurrentIndex(2);
  emit drives->activated(2);
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(fakes.voice->Spoken().empty());
}

TEST_F(WindowDetailsTest, MemoryColumnsAreSizedByTheirBordersInTheTitleRow) {
  StartUp();
  Form().ShowPage(Form().Page(4));
  ASSERT_TRUE(Settle());
  auto* grid = Find<QTableWidget>("StringGrid1");
  QWidget* view = grid->viewport();
  grid->scrollToTop();
  const int width = grid->columnWidth(1);
  const int border = grid->columnViewportPosition(1) + width;
  const int title = grid->rowViewportPosition(0) + grid->rowHeight(0) / 2;
  fakes.voice->Clear();

  // Dragged 40 pixels to the right, then back past its left edge: never below the least width.
  SendMouse(view, QEvent::MouseButtonPress, {border - 1, title}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseMove, {border + 40, title}, Qt::NoButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseButtonRelease, {border + 40, title}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(grid->columnWidth(1), width + 40);
  const int left = grid->columnViewportPosition(1);
  SendMouse(view, QEvent::MouseButtonPress, {left + grid->columnWidth(1), title}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseMove, {left - 20, title}, Qt::NoButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseButtonRelease, {left - 20, title}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(grid->columnWidth(1), 8);

  // Moves without a press, presses inside a cell and borders below the title row size nothing.
  const int sizes[] = {grid->columnWidth(0), grid->columnWidth(1), grid->columnWidth(2), grid->columnWidth(3)};
  const int inner = grid->columnViewportPosition(2) + grid->columnWidth(2) / 2;
  const int below = grid->rowViewportPosition(3) + grid->rowHeight(3) / 2;
  const int border2 = grid->columnViewportPosition(2) + grid->columnWidth(2);
  SendMouse(view, QEvent::MouseMove, {border2 + 30, title}, Qt::NoButton, Qt::NoButton);
  SendMouse(view, QEvent::MouseButtonPress, {inner, title}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseMove, {inner + 30, title}, Qt::NoButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseButtonRelease, {inner + 30, title}, Qt::LeftButton, Qt::NoButton);
  SendMouse(view, QEvent::MouseButtonPress, {border2, below}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseMove, {border2 + 30, below}, Qt::NoButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseButtonRelease, {border2 + 30, below}, Qt::LeftButton, Qt::NoButton);
  for (int column = 0; column < 4; ++column) EXPECT_EQ(grid->columnWidth(column), sizes[column]) << column;

  // A double click on a border sizes; it sends no memory to the radio.
  fakes.rig->Writes.clear();
  SendMouse(view, QEvent::MouseButtonDblClick, {border2, title}, Qt::LeftButton, Qt::LeftButton);
  SendMouse(view, QEvent::MouseButtonRelease, {border2, title}, Qt::LeftButton, Qt::NoButton);
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(fakes.rig->Writes.empty());
}

TEST_F(WindowDetailsTest, AMissingWordListIsReportedAsItActs) {
  QFile::remove(Home() + "/wordlist.txt");
  WriteFile("ConfigLog.cfg", "W1AW\r\nFN31\r\n41.7\r\n-72.7\r\n0\r\nAUTODXNO\r\n\r\n7\r\nAUTOSPEECHNO\r\nD:/\r\nPOWER5\r\n");
  Start();
  ASSERT_TRUE(Settle());
  const QString notice = fakes.dialogs->Shown.filter("wordlist.txt").value(0);
  EXPECT_TRUE(notice.contains("the state field speaks a state code as it is written")) << notice.toStdString();
  EXPECT_TRUE(notice.contains("a STATE cell of the log grids says nothing")) << notice.toStdString();
  EXPECT_FALSE(notice.contains("state codes are spoken as they are written"));
}
