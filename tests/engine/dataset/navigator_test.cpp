// Tests of the navigator's rules over a small in-memory data set.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "dataset/Sorl6Nv.h"
#include "dataset/dblink.h"
#include "dataset/dbset.h"

namespace {

// A data set over a list of numbers: just enough of the cursor contract for the navigator.
class NumberDataSet : public TDataSet {
 public:
  explicit NumberDataSet(int count) {
    for (int i = 1; i <= count; ++i) rows.push_back(i);
  }
  ~NumberDataSet() override { Destroying(); }

  std::vector<int> rows;
  bool readOnly = false;
  // The record the active buffer shows (-1 when none).
  int Current() {
    char* b = ActiveBuffer();
    if (b == nullptr || IsEmpty()) return -1;
    int index;
    std::memcpy(&index, b, sizeof index);
    return index >= 0 && index < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(index)] : -1;
  }
  void SetFieldData(TField*, const void*) override {}

 protected:
  static constexpr int kSize = sizeof(int) + 1;
  char* AllocRecordBuffer() override { return new char[kSize]{}; }
  void FreeRecordBuffer(char*& buffer) override {
    delete[] buffer;
    buffer = nullptr;
  }
  void GetBookmarkData(const char* buffer, char* data) override { std::memcpy(data, buffer, sizeof(int)); }
  TBookmarkFlag GetBookmarkFlag(const char* buffer) override {
    return static_cast<TBookmarkFlag>(buffer[sizeof(int)]);
  }
  void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override {
    buffer[sizeof(int)] = static_cast<char>(flag);
  }
  void SetBookmarkData(char* buffer, const char* data) override { std::memcpy(buffer, data, sizeof(int)); }
  TGetResult GetRecord(char* buffer, TGetMode mode, bool) override {
    const int n = static_cast<int>(rows.size());
    switch (mode) {
      case TGetMode::gmNext:
        if (cursor_ + 1 >= n) {
          cursor_ = n;
          return TGetResult::grEOF;
        }
        ++cursor_;
        break;
      case TGetMode::gmPrior:
        if (cursor_ - 1 < 0) {
          cursor_ = -1;
          return TGetResult::grBOF;
        }
        --cursor_;
        break;
      case TGetMode::gmCurrent:
        if (cursor_ < 0) return TGetResult::grBOF;
        if (cursor_ >= n) return TGetResult::grEOF;
        break;
    }
    std::memcpy(buffer, &cursor_, sizeof cursor_);
    buffer[sizeof(int)] = static_cast<char>(TBookmarkFlag::bfCurrent);
    return TGetResult::grOK;
  }
  int GetRecordSize() override { return kSize; }
  void InternalAddRecord(char*, bool) override { rows.push_back(0); }
  void InternalClose() override { open_ = false; }
  void InternalDelete() override {
    if (cursor_ >= 0 && cursor_ < static_cast<int>(rows.size())) rows.erase(rows.begin() + cursor_);
  }
  void InternalFirst() override { cursor_ = -1; }
  void InternalGotoBookmark(const char* bookmark) override { std::memcpy(&cursor_, bookmark, sizeof cursor_); }
  void InternalInitFieldDefs() override {}
  void InternalInitRecord(char* buffer) override { std::memset(buffer, 0, kSize); }
  void InternalLast() override { cursor_ = static_cast<int>(rows.size()); }
  void InternalOpen() override {
    SetBookmarkSize(sizeof(int));
    open_ = true;
    cursor_ = -1;
  }
  void InternalPost() override {
    if (State() == TDataSetState::dsInsert) rows.push_back(0);
  }
  void InternalSetToRecord(char* buffer) override { std::memcpy(&cursor_, buffer, sizeof cursor_); }
  bool IsCursorOpen() override { return open_; }
  bool GetCanModify() override { return !readOnly; }

 private:
  bool open_ = false;
  int cursor_ = -1;
};

// The enabled buttons as a string of twelve '1'/'0' in button order.
std::string Enabled(const TSorrelNavModel& m) {
  std::string s;
  for (int i = 0; i < kSorrelNavButtonCount; ++i)
    s += m.ButtonEnabled(static_cast<TSorrelNavigateBtn>(i)) ? '1' : '0';
  return s;
}

class FakeTimer : public TSorrelNavTimer {
 public:
  void Start(int ms) override {
    running = true;
    interval = ms;
    ++starts;
  }
  void Stop() override { running = false; }
  bool running = false;
  int interval = 0;
  int starts = 0;
};

struct NavFixture : ::testing::Test {
  NumberDataSet data{5};
  TDataSource source{&data};
  TSorrelNavModel nav;
  void SetUp() override {
    nav.SetDataSource(&source);
    nav.Loaded();
  }
};

//                                    TPNB ICED PCFR
constexpr const char* kAllOff =      "000000000000";

TEST_F(NavFixture, EnablingFollowsPositionEditingAndRights) {
  EXPECT_EQ(Enabled(nav), kAllOff);  // closed data set
  data.Open();
  EXPECT_EQ(Enabled(nav), "001111110011");  // on the first record
  data.Next();
  EXPECT_EQ(Enabled(nav), "111111110011");
  data.Last();
  EXPECT_EQ(Enabled(nav), "110011110011");
  data.Edit();
  EXPECT_EQ(Enabled(nav), "110000001100");  // post and cancel only, find and refresh off
  data.Cancel();
  EXPECT_EQ(Enabled(nav).substr(4), "11110011");
  data.Insert();
  EXPECT_EQ(Enabled(nav).substr(4, 3) + Enabled(nav).substr(8), "0001100");
  data.Cancel();
  data.Last();

  // The bar's own Enabled switches everything off and back.
  nav.SetEnabled(false);
  EXPECT_EQ(Enabled(nav), kAllOff);
  nav.SetEnabled(true);
  EXPECT_EQ(Enabled(nav), "110011110011");

  // A data set that cannot be modified keeps only movement, find and refresh.
  data.Close();
  data.readOnly = true;
  data.Open();
  EXPECT_EQ(Enabled(nav), "001100000011");
  data.Close();
  EXPECT_EQ(Enabled(nav), kAllOff);
  // A disabled source looks inactive.
  data.readOnly = false;
  data.Open();
  source.SetEnabled(false);
  EXPECT_EQ(Enabled(nav), kAllOff);
  source.SetEnabled(true);
  EXPECT_EQ(Enabled(nav), "001111110011");
}

TEST_F(NavFixture, EmptyDataSetHasNothingToMoveOrDelete) {
  data.rows.clear();
  data.Open();
  EXPECT_EQ(Enabled(nav), "000011100011");
}

TEST(NavigatorModel, WithoutSourceEverythingIsDisabledOnceLoaded) {
  TSorrelNavModel nav;
  EXPECT_EQ(Enabled(nav), "111111111111");  // as constructed
  nav.Loaded();
  EXPECT_EQ(Enabled(nav), kAllOff);
  std::vector<TSorrelNavigateBtn> clicks;
  int before = 0;
  nav.BeforeAction = [&](TSorrelNavModel&, TSorrelNavigateBtn) { ++before; };
  nav.OnClick = [&](TSorrelNavModel& sender, TSorrelNavigateBtn b) {
    EXPECT_EQ(&sender, &nav);
    clicks.push_back(b);
  };
  nav.Click(nbNext);  // no data source: only OnClick
  EXPECT_EQ(before, 0);
  EXPECT_EQ(clicks, std::vector<TSorrelNavigateBtn>{nbNext});
}

TEST_F(NavFixture, ClicksActOnTheDataSet) {
  std::vector<std::string> log;
  nav.BeforeAction = [&](TSorrelNavModel&, TSorrelNavigateBtn b) { log.push_back("before " + std::to_string(b)); };
  nav.OnClick = [&](TSorrelNavModel&, TSorrelNavigateBtn b) { log.push_back("click " + std::to_string(b)); };
  nav.Click(nbNext);  // closed: only OnClick
  EXPECT_EQ(log, std::vector<std::string>{"click 2"});
  data.Open();
  log.clear();
  nav.Click(nbNext);
  EXPECT_EQ(data.Current(), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"before 2", "click 2"}));
  nav.Click(nbBttm);
  EXPECT_EQ(data.Current(), 5);
  nav.Click(nbPrev);
  EXPECT_EQ(data.Current(), 4);
  nav.Click(nbTop);
  EXPECT_EQ(data.Current(), 1);
  nav.Click(nbEdit);
  EXPECT_EQ(data.State(), TDataSetState::dsEdit);
  nav.Click(nbCancel);
  EXPECT_EQ(data.State(), TDataSetState::dsBrowse);
  nav.Click(nbInsert);
  EXPECT_EQ(data.State(), TDataSetState::dsInsert);
  nav.Click(nbPost);
  EXPECT_EQ(data.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(data.rows.size(), 6u);

  TDataSet* copySender = nullptr;
  TDataSet* findSender = nullptr;
  nav.OnCopyClick = [&](TDataSet* s) { copySender = s; };
  nav.OnFindClick = [&](TDataSet* s) { findSender = s; };
  nav.Click(nbCopy);
  nav.Click(nbFind);
  EXPECT_EQ(copySender, &data);
  EXPECT_EQ(findSender, &data);
  nav.Click(nbRefresh);
}

TEST_F(NavFixture, DeleteAsksUnlessConfirmDeleteIsOff) {
  data.Open();
  std::vector<std::string> asked;
  bool answer = false;
  nav.Confirm = [&](const std::string& q) {
    asked.push_back(q);
    return answer;
  };
  nav.Click(nbDelete);
  EXPECT_EQ(asked, std::vector<std::string>{"Delete record?"});
  EXPECT_EQ(data.rows.size(), 5u);
  answer = true;
  nav.Click(nbDelete);
  EXPECT_EQ(data.rows.size(), 4u);
  nav.SetConfirmDelete(false);
  nav.Click(nbDelete);
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_EQ(data.rows.size(), 3u);
  // Without a confirmer the question counts as Cancel.
  nav.SetConfirmDelete(true);
  nav.Confirm = nullptr;
  nav.Click(nbDelete);
  EXPECT_EQ(data.rows.size(), 3u);
}

TEST_F(NavFixture, ActionErrorsReachTheCallerAfterBeforeAction) {
  data.Open();
  int clicks = 0;
  nav.BeforeAction = [&](TSorrelNavModel&, TSorrelNavigateBtn) { throw std::runtime_error("refused"); };
  nav.OnClick = [&](TSorrelNavModel&, TSorrelNavigateBtn) { ++clicks; };
  EXPECT_THROW(nav.Click(nbNext), std::runtime_error);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(data.Current(), 1);
}

TEST(NavigatorModel, ADestroyedSourceLeavesTheBarWithoutOne) {
  NumberDataSet data(3);
  TSorrelNavModel nav;
  nav.Loaded();
  {
    TDataSource source(&data);
    nav.SetDataSource(&source);
    data.Open();
    EXPECT_TRUE(nav.ButtonEnabled(nbNext));
  }
  EXPECT_EQ(nav.DataSource(), nullptr);
  EXPECT_EQ(Enabled(nav), kAllOff);
  int clicks = 0;
  nav.OnClick = [&](TSorrelNavModel&, TSorrelNavigateBtn) { ++clicks; };
  nav.Click(nbNext);
  EXPECT_EQ(clicks, 1);
}

TEST(NavigatorModel, HintsReplaceDefaultsLineByLine) {
  TSorrelNavModel nav;
  EXPECT_EQ(nav.ButtonHint(nbTop), "First record");
  EXPECT_EQ(nav.ButtonHint(nbCopy), " Copy record");
  EXPECT_EQ(nav.ButtonHint(nbRefresh), "Refresh data");
  nav.SetHints({"Oldest contact", "", "Newer contact"});
  EXPECT_EQ(nav.ButtonHint(nbTop), "Oldest contact");
  EXPECT_EQ(nav.ButtonHint(nbPrev), "Prior record");
  EXPECT_EQ(nav.ButtonHint(nbNext), "Newer contact");
  EXPECT_EQ(nav.ButtonHint(nbBttm), "Last record");
  // More than twelve lines: the rest is not used; fewer again: the defaults come back.
  nav.SetHints(std::vector<std::string>(14, "x"));
  EXPECT_EQ(nav.ButtonHint(nbRefresh), "x");
  nav.SetHints({});
  EXPECT_EQ(nav.ButtonHint(nbTop), "First record");
  EXPECT_EQ(SorrelNavResourceName(nbPrev), "sorl_PREVIOUS");
  EXPECT_EQ(SorrelNavResourceName(nbPost), "sorl_SAVE");
}

TEST(NavigatorLayout, SparePixelsAndShrinking) {
  // Filling its parent, 241 pixels over twelve buttons: 20 each and one more for one button in
  // the middle.
  TSorrelNavLayout l = SorrelNavFit(241, 25, SorrelAllButtons(), false);
  EXPECT_EQ(l.width, 241);
  EXPECT_EQ(l.buttonWidth, 20);
  int x = 0;
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(l.buttons[i].x, x);
    EXPECT_EQ(l.buttons[i].width, i == 6 ? 21 : 20) << i;
    EXPECT_EQ(l.buttons[i].height, 25);
    x += l.buttons[i].width;
  }
  EXPECT_EQ(x, 241);
  // Free standing, the bar shrinks to whole buttons.
  l = SorrelNavFit(241, 25, SorrelAllButtons(), true);
  EXPECT_EQ(l.width, 240);
  // Too small: raised to 20 x 18 per visible button; none visible still counts one.
  l = SorrelNavFit(5, 5, TSorrelButtonSet(), true);
  EXPECT_EQ(l.width, 20);
  EXPECT_EQ(l.height, 18);
  for (const auto& b : l.buttons) EXPECT_EQ(b.x, 21);
  // Four visible over 103 pixels, aligned: 25 each, three spare pixels spread.
  TSorrelButtonSet four;
  for (int i : {0, 1, 2, 3}) four.set(i);
  l = SorrelNavFit(103, 20, four, false);
  int total = 0;
  for (int i = 0; i < 4; ++i) total += l.buttons[i].width;
  EXPECT_EQ(total, 103);
  EXPECT_EQ(l.buttons[4].x, 104);
  EXPECT_EQ(l.buttons[4].width, 25);
}

TEST_F(NavFixture, KeysMoveTheFocusOverVisibleButtonsAndSpaceClicks) {
  data.Open();
  TSorrelButtonSet visible = SorrelAllButtons();
  visible.reset(nbPrev);
  visible.reset(nbBttm);
  nav.SetVisibleButtons(visible);
  EXPECT_EQ(nav.FocusedButton(), nbTop);
  EXPECT_TRUE(nav.KeyDown(TSorrelNavKey::Left));
  EXPECT_EQ(nav.FocusedButton(), nbTop);
  nav.KeyDown(TSorrelNavKey::Right);
  EXPECT_EQ(nav.FocusedButton(), nbNext);
  nav.KeyDown(TSorrelNavKey::Right);
  EXPECT_EQ(nav.FocusedButton(), nbInsert);
  nav.KeyDown(TSorrelNavKey::Left);
  nav.KeyDown(TSorrelNavKey::Space);
  EXPECT_EQ(data.Current(), 2);
  for (int i = 0; i < 20; ++i) nav.KeyDown(TSorrelNavKey::Right);
  EXPECT_EQ(nav.FocusedButton(), nbRefresh);
  EXPECT_FALSE(nav.KeyDown(TSorrelNavKey::Other));
  // Space on a disabled button does nothing.
  nav.SetFocusedButton(nbPost);
  int clicks = 0;
  nav.OnClick = [&](TSorrelNavModel&, TSorrelNavigateBtn) { ++clicks; };
  nav.KeyDown(TSorrelNavKey::Space);
  EXPECT_EQ(clicks, 0);
}

TEST_F(NavFixture, HoldingNextRepeatsUntilReleasedOrAtTheEnd) {
  FakeTimer timer;
  nav.SetRepeatTimer(&timer);
  data.Open();
  nav.ButtonPressed(nbNext);
  EXPECT_EQ(data.Current(), 2);  // at once
  EXPECT_TRUE(timer.running);
  EXPECT_EQ(timer.interval, 400);
  nav.RepeatTick();
  EXPECT_EQ(data.Current(), 3);
  EXPECT_EQ(timer.interval, 100);
  nav.RepeatTick();
  EXPECT_EQ(data.Current(), 4);
  nav.ButtonReleased(nbNext);
  nav.ButtonClicked(nbNext);  // the release's click does not move again
  EXPECT_FALSE(timer.running);
  EXPECT_EQ(data.Current(), 4);

  // Held to the end: the repeat stops once the button is disabled.
  nav.ButtonPressed(nbNext);
  nav.RepeatTick();
  EXPECT_EQ(data.Current(), 5);
  nav.RepeatTick();
  EXPECT_FALSE(timer.running);
  EXPECT_EQ(data.Current(), 5);
  nav.ButtonReleased(nbNext);

  // Buttons without auto-repeat click on release only.
  nav.ButtonPressed(nbTop);
  EXPECT_EQ(data.Current(), 5);
  nav.ButtonClicked(nbTop);
  EXPECT_EQ(data.Current(), 1);

  // An error in a repeated click stops the timer and reaches the caller.
  int n = 0;
  nav.BeforeAction = [&](TSorrelNavModel&, TSorrelNavigateBtn) {
    if (++n == 2) throw std::runtime_error("refused");
  };
  nav.ButtonPressed(nbNext);
  EXPECT_THROW(nav.RepeatTick(), std::runtime_error);
  EXPECT_FALSE(timer.running);
  nav.RepeatTick();  // nothing held any more
  EXPECT_EQ(data.Current(), 2);
  nav.SetRepeatTimer(nullptr);
}

}  // namespace
