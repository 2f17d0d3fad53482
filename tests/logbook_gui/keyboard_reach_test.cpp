// Everything reachable and named by keyboard: side windows opened by keys take the keyboard and
// close on Escape, a logbook opened from the list leaves the focus in the call field, the stops a
// screen reader would meet unnamed carry names, results shown in a box are heard too, and the
// grids' magnify boxes grow the columns with the font; the font dialog of Custom Magnify keeps to its
// size limits and the style it was given.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrintPreviewDialog>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <functional>
#include <optional>

#include "../logbook_core/core_test_util.h"
#include "LogPrt.h"
#include "RAC.h"
#include "Unit1.h"
#include "VRN_ADIF.h"
#include "shortcutscreen.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

QString NameOf(QWidget* w) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
  return face != nullptr ? face->text(QAccessible::Name) : QString("<none>");
}

}  // namespace

class KeyboardReachTest : public TWindowTest {
 protected:
  void SetUp() override {
    fakes.clock->Local = 45400.5;  // 19 April 2024, noon
    core_test::MakeLogbook(Path("field.dbf"), {{{"STATION", "W1AW"}, {"DATE", "20240301"}, {"NUMBER", "1"}},
                                               {{"STATION", "K1ABC"}, {"DATE", "20240302"}, {"NUMBER", "2"}}});
    StartActive();
    fakes.voice->Clear();
  }
  std::string Path(const QString& name) const { return (Home() + "/" + name).toStdString(); }
  // A key to whatever has the keyboard focus now, in any of the program's windows.
  static void KeyToFocus(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, key, modifiers);
  }
  void OpenFromList(const QString& file) {
    Key(Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(Settle());
    auto* list = Find<QListWidget>("FileListBox1");
    const QList<QListWidgetItem*> items = list->findItems(file, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    list->setCurrentItem(items[0]);
    ASSERT_EQ(QApplication::focusWidget(), list);
    KeyToFocus(Qt::Key_Return);
    ASSERT_TRUE(Settle());
  }
};

TEST_F(KeyboardReachTest, SideWindowsOpenedByKeysTakeTheKeyboardAndEscapeClosesThem) {
  Find<QLineEdit>("LogEdit3")->setFocus();
  struct Case {
    const char* what;
    std::function<void()> open;
    std::function<QWidget*()> window;
    const char* first;  // the control that has the focus once the window is up
  } cases[] = {
      {"Ctrl+N", [this] { Key(Qt::Key_N, Qt::ControlModifier); }, [] { return quillmere::PrintForm; }, "Edit2"},
      {"Ctrl+A", [this] { Key(Qt::Key_A, Qt::ControlModifier); }, [] { return quillmere::ADIFform; }, "BitBtn1"},
      // (Alt+U itself is driven in the X session test: offscreen, the mnemonic of a button does
      // not reach past the call field.)
      {"Ctrl+C, CallBook LookUp",
       [this] {
         Key(Qt::Key_C, Qt::ControlModifier);
         Find<QPushButton>("BitBtn6")->click();
       },
       [] { return quillmere::RAC; }, "Edit2"},
      {"F2", [this] { Key(Qt::Key_F2); }, [] { return quillmere::shortcuts; }, "Memo1"},
  };
  for (const Case& c : cases) {
    // The window manager gives the keyboard back to the main window when a side window closes.
    Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
    c.open();
    ASSERT_TRUE(Settle());
    QWidget* window = c.window();
    ASSERT_TRUE(window->isVisible()) << c.what;
    EXPECT_TRUE(QTest::qWaitForWindowActive(window)) << c.what;
    ASSERT_NE(QApplication::focusWidget(), nullptr) << c.what;
    EXPECT_EQ(QApplication::focusWidget()->objectName(), c.first) << c.what;
    EXPECT_EQ(QApplication::focusWidget()->window(), window) << c.what;
    KeyToFocus(Qt::Key_Escape);
    ASSERT_TRUE(Settle());
    EXPECT_FALSE(window->isVisible()) << c.what;
  }
  // The review window's menu item follows its window; a second F2 opens it again.
  EXPECT_FALSE(Form().findChild<QAction*>("ShortCut1")->isChecked());

  // The name typed into the new-logbook window lands there, never in the call field.
  Find<QLineEdit>("LogEdit3")->clear();
  Form().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
  Key(Qt::Key_N, Qt::ControlModifier);
  ASSERT_TRUE(QTest::qWaitForWindowActive(quillmere::PrintForm));
  QTest::keyClicks(QApplication::focusWidget(), "day1");
  EXPECT_EQ(quillmere::PrintForm->findChild<QLineEdit*>("Edit2")->text(), "day1");
  EXPECT_EQ(Find<QLineEdit>("LogEdit3")->text(), "");
  KeyToFocus(Qt::Key_Escape);
  // Closed: its name box is empty for the next time.
  EXPECT_EQ(quillmere::PrintForm->findChild<QLineEdit*>("Edit2")->text(), "");
}

TEST_F(KeyboardReachTest, LogbookOpenedFromTheListLeavesTheFocusInTheCallField) {
  OpenFromList("field.dbf");
  EXPECT_EQ(Form().LogPath(), Home() + "/field.dbf");
  EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>("LogEdit3"));
  // A refused file leaves the list where it was, with the focus.
  core_test::MakeLogbook(Path("dummy.dbf"));
  OpenFromList("dummy.dbf");
  EXPECT_EQ(QApplication::focusWidget(), Find<QListWidget>("FileListBox1"));
}

TEST_F(KeyboardReachTest, PrintPreviewToolBarIsReachedByTabWithNamedStops) {
  OpenFromList("field.dbf");
  QSignalSpy ready(quillmere::qrLogPrintForm, &quillmere::TqrLogPrintForm::ReportReady);
  Form().Print1Click();
  ASSERT_TRUE(ready.wait(20000));
  auto* preview = quillmere::qrLogPrintForm->findChild<QPrintPreviewDialog*>("QuickRep1Preview");
  ASSERT_NE(preview, nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowActive(preview));
  auto* toolBar = preview->findChild<QToolBar*>();
  ASSERT_NE(toolBar, nullptr);
  QStringList buttons;
  for (QToolButton* button : toolBar->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (button->defaultAction() == nullptr) continue;
    EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus) << button->text().toStdString();
    // None is hidden behind the tool bar's overflow arrow.
    EXPECT_TRUE(button->isVisible()) << button->text().toStdString();
    buttons << NameOf(button);
  }
  for (const char* name : {"Print", "Page setup", "Zoom in", "Zoom out", "Next page", "Last page"})
    EXPECT_TRUE(buttons.contains(name)) << name;

  // Every stop Tab reaches has a name; the zoom box has its caption as buddy.
  QStringList unnamed;
  QWidget* start = QApplication::focusWidget();
  ASSERT_NE(start, nullptr);
  for (int i = 0; i < 40; ++i) {
    QWidget* focus = QApplication::focusWidget();
    if (NameOf(focus).isEmpty()) unnamed << focus->metaObject()->className();
    KeyToFocus(Qt::Key_Tab);
    if (QApplication::focusWidget() == start) break;
  }
  EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join(", ").toStdString();
  auto* zoom = toolBar->findChild<QComboBox*>();
  auto* caption = toolBar->findChild<QLabel*>("ZoomCaption");
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->buddy(), zoom);

  KeyToFocus(Qt::Key_Escape);
  EXPECT_TRUE(QTest::qWaitFor([] { return quillmere::qrLogPrintForm->findChild<QPrintPreviewDialog*>() == nullptr; }));
}

TEST_F(KeyboardReachTest, StopsWithoutCaptionAreNamedAndTheCurrentValuesTakeTheTab) {
  struct Case {
    QWidget* stop;
    QString name;
  } cases[] = {
      {Find<QTableView>("DBGrid2"), "Log selector grid"},
      {Find<QFrame>("Panel2"), "Log selector"},
      {quillmere::shortcuts->findChild<QPlainTextEdit*>("Memo1"), "Shortcut keys"},
      {quillmere::RAC->findChild<QComboBox*>("ComboBox1")->lineEdit(), "CallBook Drive:"},
  };
  for (const Case& c : cases) {
    ASSERT_NE(c.stop, nullptr) << c.name.toStdString();
    EXPECT_EQ(NameOf(c.stop), c.name);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(c.stop)->text(QAccessible::Description).isEmpty())
        << c.name.toStdString();
  }

  // The nine current values can be reached by Tab, each still labelled by its caption.
  for (const char* name : {"Label11", "Label12", "Label13", "Label14", "Label16", "Label17", "Label32", "Label52",
                           "Label53"}) {
    auto* value = Find<QLabel>(name);
    EXPECT_TRUE(value->focusPolicy() & Qt::TabFocus) << name;
    QStringList labels;
    for (const auto& [label, relation] : QAccessible::queryAccessibleInterface(value)->relations(QAccessible::Label))
      labels << label->text(QAccessible::Name);
    EXPECT_EQ(labels.value(0), Find<QLabel>((QString("cap") + name).toLatin1().constData())->text()) << name;
  }

  // Each titled choice names its items, never the box around it.
  for (const char* name : {"RadioGroup2", "RadioGroup3", "RadioGroup4"}) {
    auto* group = Find<QGroupBox>(name);
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(group);
    EXPECT_EQ(face->text(QAccessible::Name), group->title()) << name;
    EXPECT_TRUE(face->relations(QAccessible::Label).isEmpty()) << name;
    EXPECT_EQ(face->relations(QAccessible::Labelled).size(), group->findChildren<QRadioButton*>().size()) << name;
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(group->findChildren<QRadioButton*>().value(0));
    ASSERT_FALSE(item->relations(QAccessible::Label).isEmpty()) << name;
    EXPECT_EQ(item->relations(QAccessible::Label)[0].first->text(QAccessible::Name), group->title()) << name;
  }
}

TEST_F(KeyboardReachTest, AdifResultsShownInABoxAreHeardToo) {
  core_test::MakeLogbook(Path("fieldday2024.dbf"), {{{"STATION", "N0XY"}}});
  fakes.files->Answers.push_back(QString::fromStdString(Path("fieldday2024.dbf")));
  QSignalSpy ended(quillmere::ADIFform, &quillmere::TADIFform::ConversionEnded);
  quillmere::ADIFform->BitBtn1Click();
  ASSERT_TRUE(ended.wait(20000));
  ASSERT_TRUE(Settle());
  const QStringList shown = {"Message: File name truncated. QMR file names limited to 8 characters.",
                             "Message: fieldday2024.dbf was converted to ADIF as fieldday.adi",
                             // The contact has only its call: the note on incomplete records is shown and heard too.
                             "Message: 1 record was written without a field other logging programs require (QSO_DATE, TIME_ON, CALL, MODE, and BAND or FREQ) or with a mode ADIF does not know; strict programs will refuse it."};
  EXPECT_EQ(fakes.dialogs->Shown, shown);
  EXPECT_EQ(fakes.voice->Spoken(), (std::vector<std::string>{"File name truncated. QMR file names limited to 8 characters. ",
                                                             "fieldday2024.dbf was converted to ADIF as fieldday.adi. ",
                                                             "1 record was written without a field other logging programs require (QSO_DATE, TIME_ON, CALL, MODE, and BAND or FREQ) or with a mode ADIF does not know; strict programs will refuse it. "}));

  // Speech off: the boxes only.
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  fakes.dialogs->Shown.clear();
  fakes.files->Answers.push_back(QString::fromStdString(Path("fieldday2024.dbf")));
  quillmere::ADIFform->BitBtn1Click();
  ASSERT_TRUE(ended.wait(20000));
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.dialogs->Shown, shown);
  EXPECT_TRUE(fakes.voice->Spoken().empty());
}

TEST_F(KeyboardReachTest, MagnifyGrowsTheColumnsWithTheFontAndCustomMagnifyTakesAChosenFont) {
  OpenFromList("field.dbf");
  struct Grid {
    const char* grid;
    const char* box;
  } grids[] = {{"DBGrid1", "CheckBox4"}, {"DBGrid3", "CheckBox6"}};
  for (const Grid& g : grids) {
    auto* grid = Find<QTableView>(g.grid);
    QHeaderView* header = grid->horizontalHeader();
    const int dateColumn = 0;
    int numberColumn = -1;
    for (int c = 0; c < grid->model()->columnCount(); ++c)
      if (grid->model()->headerData(c, Qt::Horizontal).toString() == "NUMBER") numberColumn = c;
    ASSERT_GE(numberColumn, 0);
    const int dateWidth = header->sectionSize(dateColumn);
    const int rowHeight = grid->verticalHeader()->defaultSectionSize();

    Find<QCheckBox>(g.box)->click();
    EXPECT_EQ(grid->font().pointSize(), 18) << g.grid;
    const QFontMetrics big(grid->font());
    const QString date = grid->model()->index(0, dateColumn).data().toString();
    EXPECT_FALSE(date.isEmpty());
    EXPECT_GE(header->sectionSize(dateColumn), big.horizontalAdvance(date)) << g.grid;
    EXPECT_GE(header->sectionSize(numberColumn), big.horizontalAdvance("NUMBER")) << g.grid;
    EXPECT_GE(grid->verticalHeader()->defaultSectionSize(), big.height()) << g.grid;

    // Back to 12 points: the widths and heights the grid had.
    Find<QCheckBox>(g.box)->click();
    EXPECT_EQ(grid->font().pointSize(), 12) << g.grid;
    EXPECT_NEAR(header->sectionSize(dateColumn), dateWidth, 2) << g.grid;
    EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), rowHeight) << g.grid;
  }

  // Custom Magnify: the font dialog offers 12 to 36 points; a cancel changes nothing.
  auto* custom = Find<QCheckBox>("CheckBox9");
  EXPECT_EQ(custom->text(), "Custom Magnify?");
  EXPECT_EQ(custom->toolTip(), "Custom Magnify");
  auto* grid = Find<QTableView>("DBGrid1");
  const QFont before = grid->font();
  custom->click();
  EXPECT_EQ(fakes.dialogs->Shown.value(0), QString("Font 12-36: %1 12").arg(before.family()));
  EXPECT_EQ(grid->font(), before);
  custom->click();  // unchecked: 12 points, as it was
  EXPECT_EQ(grid->font().pointSize(), 12);

  QFont chosen = before;
  chosen.setPointSize(30);
  chosen.setBold(true);
  fakes.dialogs->FontAnswers.push_back(chosen);
  custom->click();
  EXPECT_EQ(grid->font().pointSize(), 30);
  EXPECT_TRUE(grid->font().bold());
  EXPECT_GE(grid->horizontalHeader()->sectionSize(0), QFontMetrics(grid->font()).horizontalAdvance("2024")) << "grew";
  // Unchecked after a 30-point bold font: 12-point bold.
  custom->click();
  EXPECT_EQ(grid->font().pointSize(), 12);
  EXPECT_TRUE(grid->font().bold());
}

TEST(FontDialog, OffersTheSizeLimitsKeepsTheStyleAndNamesItsFields) {
  quillmere::QtDialogs boxes;
  QFont initial("DejaVu Sans", 10);
  initial.setBold(true);
  struct Case {
    int typed;  // the size typed into the box; 0: the dialog is cancelled
    std::optional<int> chosen;
  } cases[] = {{40, 36}, {5, 12}, {20, 20}, {0, std::nullopt}};
  for (const Case& c : cases) {
    QStringList seen;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->objectName(), "FontDialog1");
      auto* size = dialog->findChild<QSpinBox*>("FontSize");
      ASSERT_NE(size, nullptr);
      seen << QString("%1-%2 from %3").arg(size->minimum()).arg(size->maximum()).arg(size->value());
      for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->buddy() != nullptr) seen << label->text() + " " + label->buddy()->objectName();
      if (c.typed == 0) {
        dialog->reject();
        return;
      }
      size->setValue(c.typed);
      dialog->accept();
    });
    const std::optional<QFont> font = boxes.ChooseFont(initial, 12, 36);
    EXPECT_EQ(seen, (QStringList{"12-36 from 12", "&Font: FontFace", "&Size: FontSize"})) << c.typed;
    ASSERT_EQ(font.has_value(), c.chosen.has_value()) << c.typed;
    if (!font) continue;
    EXPECT_EQ(font->pointSize(), *c.chosen);
    EXPECT_TRUE(font->bold());
  }
}
