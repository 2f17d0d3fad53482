// Hints: the tooltip of the control under the mouse goes into the large hint box and, with
// "Audible ToolTips", to the voice whether speech is on or off; a grid that changes its tooltip
// for the cell under the mouse is followed; "Use ToolTips" off hides the box for good, keeps
// tooltips from showing and silences the hints; the "ToolTips" size choice sets the tooltip font.
#include <QToolTip>

#include "Hints.h"
#include "window_fixture.h"

using namespace quillmere_test;

class HintsTest : public TWindowTest {
 protected:
  void SetUp() override {
    StartActive();
    // Hints are spoken by their own check box, not by the speech state.
    Form().Stop1Click();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
  }
  void Hover(QWidget* w) {
    QTest::mouseMove(w, QPoint(2, 2));
    ASSERT_TRUE(Settle());
  }
  QString Box() { return HintBox->PanelText(); }
};

TEST_F(HintsTest, TheHintUnderTheMouseGoesToTheBoxAndIsSpoken) {
  Find<QCheckBox>("CheckBox14")->click();
  Find<QPushButton>("Button38")->click();
  EXPECT_TRUE(HintBox->isVisible());

  auto* button = Find<QPushButton>("Button38");
  auto* grid = Find<QTableView>("DBGrid1");
  struct Step {
    const char* what;
    std::function<void()> act;
    QString hint;
    std::vector<std::string> spoken;
  } steps[] = {
      {"a button with a hint", [&] { Hover(button); }, "Toggle HINT Box", {"Toggle HINT Box"}},
      // The mouse resting on the same control changes nothing.
      {"the same button again", [&] { QTest::mouseMove(button, QPoint(5, 5)); }, "Toggle HINT Box", {}},
      // A grid with no hint yet: the hint is empty, shown so, and not spoken.
      {"a grid without a hint", [&] { Hover(grid->viewport()); }, "", {}},
      // The grid sets its hint to the cell under the mouse, cell after cell.
      {"the grid's cell", [&] { grid->setToolTip("W1AW"); }, "W1AW", {"W1AW"}},
      {"the next cell", [&] { grid->setToolTip("K9Q"); }, "K9Q", {"K9Q"}},
      // A hint changed on a control the mouse is not over is not the current hint.
      {"another control's hint", [&] { button->setToolTip("Toggle the box"); }, "K9Q", {}},
      {"back to the button", [&] { Hover(button); }, "Toggle the box", {"Toggle the box"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    fakes.voice->Clear();
    step.act();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Form().CurrentHint(), step.hint);
    EXPECT_EQ(Box(), step.hint);
    EXPECT_EQ(fakes.voice->Spoken(), step.spoken);
    // A hint repeats what a screen reader says of the control: it gives way to it.
    EXPECT_EQ(fakes.voice->Echoes(), step.spoken);
  }

  // Without "Audible ToolTips" the box still follows, silently.
  Find<QCheckBox>("CheckBox14")->click();
  fakes.voice->Clear();
  Hover(grid->viewport());
  grid->setToolTip("N0AX");
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Box(), "N0AX");
  EXPECT_TRUE(fakes.voice->Spoken().empty());
}

TEST_F(HintsTest, ToolTipsOffHidesTheBoxAndSilencesTheHints) {
  auto* useTips = Find<QCheckBox>("CheckBox13");
  auto* button = Find<QPushButton>("Button38");
  Find<QCheckBox>("CheckBox14")->click();
  button->click();
  ASSERT_TRUE(HintBox->isVisible());

  // A tooltip shows while tooltips are on.
  QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(button, &help);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), "Toggle HINT Box");

  useTips->click();
  EXPECT_FALSE(Form().HintDisplay());
  // The tooltip showing goes (after its short fade).
  EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000));
  // The box button only ever hides the box now.
  button->click();
  EXPECT_TRUE(HintBox->isHidden());
  button->click();
  EXPECT_TRUE(HintBox->isHidden());
  // Hints are neither shown in the box nor spoken, and no tooltip comes up.
  const QString before = Box();
  fakes.voice->Clear();
  Hover(Find<QTableView>("DBGrid1")->viewport());
  Hover(button);
  QApplication::sendEvent(button, &help);
  EXPECT_FALSE(QToolTip::isVisible());
  EXPECT_EQ(Box(), before);
  EXPECT_TRUE(fakes.voice->Spoken().empty());

  // A new size does not switch tooltips back on.
  struct Size {
    int item;
    int points;
  } sizes[] = {{2, 72}, {1, 36}, {0, 8}};
  for (const Size& size : sizes) {
    Find<QRadioButton>(QStringLiteral("RadioGroup3Item%1").arg(size.item).toLatin1().constData())->click();
    EXPECT_EQ(Form().HintFontName(), "Arial");
    EXPECT_EQ(Form().HintFontSize(), size.points);
    EXPECT_EQ(QToolTip::font().pointSize(), size.points);
    EXPECT_EQ(QToolTip::font().family(), "Arial");
    EXPECT_FALSE(Form().HintDisplay());
  }

  // On again: the box button shows the box, and the next hint is shown and spoken.
  useTips->click();
  EXPECT_TRUE(Form().HintDisplay());
  button->click();
  EXPECT_TRUE(HintBox->isVisible());
  Hover(Find<QTableView>("DBGrid1")->viewport());
  Hover(button);
  EXPECT_EQ(Box(), "Toggle HINT Box");
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"Toggle HINT Box"});
}
