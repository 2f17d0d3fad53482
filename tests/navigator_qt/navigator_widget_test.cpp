// The navigator widget offscreen: buttons found by name, hints as tool tips and accessible
// names, enabling mirrored from the model, clicks, keys and auto-repeat through real events.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTest>
#include <QToolButton>
#include <cstring>

#include "SorrelNavigator.h"
#include "dataset/dbset.h"

namespace {

// A data set over a list of numbers (see the engine's navigator test for the same idea).
class Numbers : public TDataSet {
 public:
  explicit Numbers(int count) : rows(static_cast<size_t>(count)) {}
  ~Numbers() override { Destroying(); }
  std::vector<int> rows;
  int Current() {
    char* b = ActiveBuffer();
    if (b == nullptr || IsEmpty()) return -1;
    int index;
    std::memcpy(&index, b, sizeof index);
    return index + 1;
  }
  void SetFieldData(TField*, const void*) override {}

 protected:
  char* AllocRecordBuffer() override { return new char[8]{}; }
  void FreeRecordBuffer(char*& b) override {
    delete[] b;
    b = nullptr;
  }
  void GetBookmarkData(const char* b, char* d) override { std::memcpy(d, b, 4); }
  TBookmarkFlag GetBookmarkFlag(const char* b) override { return static_cast<TBookmarkFlag>(b[4]); }
  void SetBookmarkFlag(char* b, TBookmarkFlag f) override { b[4] = static_cast<char>(f); }
  void SetBookmarkData(char* b, const char* d) override { std::memcpy(b, d, 4); }
  TGetResult GetRecord(char* b, TGetMode mode, bool) override {
    const int n = static_cast<int>(rows.size());
    if (mode == TGetMode::gmNext) {
      if (cursor_ + 1 >= n) return cursor_ = n, TGetResult::grEOF;
      ++cursor_;
    } else if (mode == TGetMode::gmPrior) {
      if (cursor_ - 1 < 0) return cursor_ = -1, TGetResult::grBOF;
      --cursor_;
    } else if (cursor_ < 0 || cursor_ >= n) {
      return cursor_ < 0 ? TGetResult::grBOF : TGetResult::grEOF;
    }
    std::memcpy(b, &cursor_, 4);
    b[4] = 0;
    return TGetResult::grOK;
  }
  int GetRecordSize() override { return 8; }
  void InternalAddRecord(char*, bool) override { rows.push_back(0); }
  void InternalClose() override { open_ = false; }
  void InternalDelete() override { rows.erase(rows.begin() + cursor_); }
  void InternalFirst() override { cursor_ = -1; }
  void InternalGotoBookmark(const char* b) override { std::memcpy(&cursor_, b, 4); }
  void InternalInitFieldDefs() override {}
  void InternalInitRecord(char* b) override { std::memset(b, 0, 8); }
  void InternalLast() override { cursor_ = static_cast<int>(rows.size()); }
  void InternalOpen() override {
    SetBookmarkSize(4);
    open_ = true;
    cursor_ = -1;
  }
  void InternalPost() override {}
  void InternalSetToRecord(char* b) override { std::memcpy(&cursor_, b, 4); }
  bool IsCursorOpen() override { return open_; }

 private:
  bool open_ = false;
  int cursor_ = -1;
};

QToolButton* ButtonNamed(QWidget& bar, const char* name) {
  return bar.findChild<QToolButton*>(name);
}

TEST(NavigatorWidget, ShowsTheModelAndActsOnClicks) {
  Numbers data(5);
  TDataSource source(&data);
  TSorrelNavigator bar;
  bar.SetDataSource(&source);
  bar.show();
  EXPECT_EQ(bar.objectName(), "SorrelNavigator");
  EXPECT_EQ(bar.width(), 240);  // 241 requested, shrunk to whole buttons
  EXPECT_EQ(bar.height(), 25);

  QToolButton* next = ButtonNamed(bar, "nbNext");
  QToolButton* top = ButtonNamed(bar, "nbTop");
  QToolButton* copy = ButtonNamed(bar, "nbCopy");
  ASSERT_NE(next, nullptr);
  ASSERT_NE(top, nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(next->toolTip(), "Next record");
  EXPECT_EQ(next->accessibleName(), "Next record");
  EXPECT_EQ(copy->toolTip(), " Copy record");
  EXPECT_EQ(next->geometry(), QRect(40, 0, 20, 25));
  EXPECT_FALSE(next->isEnabled());  // closed data set

  data.Open();
  EXPECT_TRUE(next->isEnabled());
  EXPECT_FALSE(top->isEnabled());
  QTest::mouseClick(next, Qt::LeftButton);
  EXPECT_EQ(data.Current(), 2);
  EXPECT_TRUE(top->isEnabled());
  QTest::mouseClick(top, Qt::LeftButton);
  EXPECT_EQ(data.Current(), 1);

  // The bar takes the focus on a click; arrows move it, space clicks.
  EXPECT_TRUE(bar.hasFocus() || !QApplication::focusWidget());
  bar.setFocus();
  bar.Model().SetFocusedButton(nbTop);
  QTest::keyClick(&bar, Qt::Key_Right);
  QTest::keyClick(&bar, Qt::Key_Right);
  EXPECT_EQ(bar.Model().FocusedButton(), nbNext);
  QTest::keyClick(&bar, Qt::Key_Space);
  EXPECT_EQ(data.Current(), 2);

  // Delete asks through the confirmer.
  int asked = 0;
  bar.Model().Confirm = [&](const std::string& q) {
    EXPECT_EQ(q, "Delete record?");
    ++asked;
    return false;
  };
  QTest::mouseClick(ButtonNamed(bar, "nbDelete"), Qt::LeftButton);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(data.rows.size(), 5u);

  // Errors of the data set go to ShowError, not through the event loop.
  std::string shown;
  bar.ShowError = [&](const std::string& text) { shown = text; };
  bar.Model().BeforeAction = [](TSorrelNavModel&, TSorrelNavigateBtn) {
    throw EDatabaseError("Record is locked by another user");
  };
  QTest::mouseClick(ButtonNamed(bar, "nbEdit"), Qt::LeftButton);
  EXPECT_EQ(shown, "Record is locked by another user");
  bar.Model().BeforeAction = nullptr;

  // Disabling the bar disables every button; enabling runs the rules again.
  bar.setEnabled(false);
  EXPECT_FALSE(bar.Model().ButtonEnabled(nbNext));
  bar.setEnabled(true);
  EXPECT_TRUE(next->isEnabled());
  EXPECT_FALSE(ButtonNamed(bar, "nbPost")->isEnabled());
}

TEST(NavigatorWidget, VisibleButtonsAndHintsReshapeTheBar) {
  TSorrelNavigator bar;
  TSorrelButtonSet moves;
  for (int i : {nbTop, nbPrev, nbNext, nbBttm}) moves.set(static_cast<size_t>(i));
  bar.SetVisibleButtons(moves);
  bar.show();
  EXPECT_TRUE(ButtonNamed(bar, "nbBttm")->isVisible());
  EXPECT_FALSE(ButtonNamed(bar, "nbInsert")->isVisible());
  bar.resize(100, 30);
  EXPECT_EQ(bar.width(), 100);
  EXPECT_EQ(ButtonNamed(bar, "nbBttm")->geometry(), QRect(75, 0, 25, 30));
  bar.SetHints({"Oldest", "", "Newer"});
  EXPECT_EQ(ButtonNamed(bar, "nbTop")->toolTip(), "Oldest");
  EXPECT_EQ(ButtonNamed(bar, "nbPrev")->toolTip(), "Prior record");
  bar.SetFlat(true);
  EXPECT_TRUE(ButtonNamed(bar, "nbTop")->autoRaise());
}

TEST(NavigatorWidget, HoldingNextRepeats) {
  Numbers data(50);
  TDataSource source(&data);
  TSorrelNavigator bar;
  bar.SetDataSource(&source);
  bar.show();
  data.Open();
  QToolButton* next = ButtonNamed(bar, "nbNext");
  QElapsedTimer held;
  held.start();  // before the press, so it never runs behind the repeat timer
  QTest::mousePress(next, Qt::LeftButton);
  EXPECT_EQ(data.Current(), 2);
  // Not before 400 ms. A loaded machine may oversleep a fixed wait past that mark, so the check
  // only stands for what was seen while the clock was still short of it.
  for (qint64 at = 0; at < 300;) {
    QTest::qWait(20);
    const int now = data.Current();
    at = held.elapsed();  // read after the position, so `at` bounds the time it was read at
    if (at < 400) {
      EXPECT_EQ(now, 2) << "moved again " << at << " ms after the press";
    }
  }
  // 400 ms, then every 100 ms: two more moves come soon (a loaded machine may be late).
  for (int waited = 0; data.Current() < 4 && waited < 5000; waited += 50) QTest::qWait(50);
  EXPECT_GE(data.Current(), 4);
  QTest::mouseRelease(next, Qt::LeftButton);
  const int stopped = data.Current();
  QTest::qWait(300);
  EXPECT_EQ(data.Current(), stopped);
}

TEST(NavigatorWidget, ArrowsFromTheKeypadOrWithShiftStillMoveTheFocus) {
  Numbers data(5);
  TDataSource source(&data);
  TSorrelNavigator bar;
  bar.SetDataSource(&source);
  bar.show();
  data.Open();
  bar.setFocus();
  bar.Model().SetFocusedButton(nbTop);
  // The keypad's arrows (NumLock off) come with the keypad modifier.
  QTest::keyClick(&bar, Qt::Key_Right, Qt::KeypadModifier);
  EXPECT_EQ(bar.Model().FocusedButton(), nbPrev);
  QTest::keyClick(&bar, Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(bar.Model().FocusedButton(), nbNext);
  QTest::keyClick(&bar, Qt::Key_Space, Qt::ShiftModifier);
  EXPECT_EQ(data.Current(), 2);
  QTest::keyClick(&bar, Qt::Key_Left, Qt::KeypadModifier);
  EXPECT_EQ(bar.Model().FocusedButton(), nbPrev);
}

TEST(NavigatorWidget, ScreenReadersFollowTheHighlightedButtonWithItsNameAndState) {
  Numbers data(5);
  TDataSource source(&data);
  QWidget window;
  auto* before = new QPushButton("Before", &window);
  auto* bar = new TSorrelNavigator(&window);
  bar->SetDataSource(&source);
  bar->move(0, 40);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  before->setFocus();
  data.Open();
  data.Last();  // next and last are disabled at the end

  // (The focus events themselves need a platform bridge: the X session test sees them.)
  QTest::keyClick(before, Qt::Key_Tab);
  ASSERT_TRUE(bar->hasFocus());
  QAccessibleInterface* barFace = QAccessible::queryAccessibleInterface(bar);
  ASSERT_NE(barFace, nullptr);
  ASSERT_NE(barFace->focusChild(), nullptr);
  EXPECT_EQ(barFace->focusChild()->text(QAccessible::Name), "First record");
  QTest::keyClick(bar, Qt::Key_Right);
  QTest::keyClick(bar, Qt::Key_Right);
  QTest::keyClick(bar, Qt::Key_Right);

  EXPECT_EQ(barFace->role(), QAccessible::ToolBar);
  // The focus is the button's, never the bar's own.
  EXPECT_FALSE(barFace->state().focused);
  QAccessibleInterface* last = barFace->focusChild();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->object(), bar->Button(nbBttm));
  EXPECT_EQ(last->role(), QAccessible::Button);
  EXPECT_EQ(last->text(QAccessible::Name), "Last record");
  EXPECT_EQ(last->text(QAccessible::Description), "Last record");
  EXPECT_TRUE(last->state().focused);
  EXPECT_TRUE(last->state().focusable);
  EXPECT_TRUE(last->state().disabled);  // at the last record already
  QAccessibleInterface* top = QAccessible::queryAccessibleInterface(bar->Button(nbTop));
  EXPECT_FALSE(top->state().focused);
  EXPECT_FALSE(top->state().disabled);
  EXPECT_GE(barFace->indexOfChild(top), 0);
  EXPECT_EQ(top->parent()->object(), bar);

  // The reader's press action is the button's click; a disabled button ignores it.
  QAccessibleActionInterface* press = top->actionInterface();
  ASSERT_NE(press, nullptr);
  ASSERT_TRUE(press->actionNames().contains(QAccessibleActionInterface::pressAction()));
  last->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(data.Current(), 5);
  press->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(data.Current(), 1);

  // Leaving the bar takes the focus from its buttons too.
  before->setFocus();
  EXPECT_FALSE(last->state().focused);
  EXPECT_EQ(barFace->focusChild(), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // No display in tests, test discovery included.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
