// Sorl6Nv: the rules of the navigator button bar, without a toolkit.
//
// TSorrelNavModel holds what the TSorrelNavigator widget (engine/qt) shows and does: twelve
// buttons (first, prior, next, last, insert, copy, edit, delete, post, cancel, find, refresh),
// which are visible and enabled, their hints, the focused button, the layout of the row, the
// click actions on the linked data set (delete confirmed through an injectable confirmer), the
// keys and the auto-repeat of prior and next. It follows its data source through a
// TSorrelNavDataLink, which runs the enabling rules on every active, data and editing change.
// The widget only mirrors the model's state and forwards presses, releases, clicks and keys.
//
// The model owns its data link and its repeat timer (through the TSorrelNavTimer the widget gives
// it); the data source is linked, not owned. Thread-safety: none; used from the GUI thread.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/dblink.h"

enum TSorrelNavigateBtn : uint8_t {
  nbTop,
  nbPrev,
  nbNext,
  nbBttm,
  nbInsert,
  nbCopy,
  nbEdit,
  nbDelete,
  nbPost,
  nbCancel,
  nbFind,
  nbRefresh,
};
inline constexpr int kSorrelNavButtonCount = 12;

// A set of buttons, bit i standing for the button of index i.
using TSorrelButtonSet = std::bitset<kSorrelNavButtonCount>;
inline TSorrelButtonSet SorrelAllButtons() { return TSorrelButtonSet().set(); }

// The hint a button has when Hints gives none.
std::string_view SorrelNavDefaultHint(TSorrelNavigateBtn button);
// The name of a button's two-glyph bitmap: "sorl_" and the upper-case word ("sorl_TOP").
std::string SorrelNavResourceName(TSorrelNavigateBtn button);
// The question asked before a delete.
inline constexpr std::string_view kSorrelDeleteQuestion = "Delete record?";

// Sizes in pixels.
inline constexpr int kSorrelNavMinButtonWidth = 20;
inline constexpr int kSorrelNavMinButtonHeight = 18;
inline constexpr int kSorrelNavDefaultWidth = 241;
inline constexpr int kSorrelNavDefaultHeight = 25;
// Auto-repeat: first repeat after this delay, then at this interval.
inline constexpr int kSorrelNavRepeatDelay = 400;
inline constexpr int kSorrelNavRepeatInterval = 100;

struct TSorrelNavRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const TSorrelNavRect&) const = default;
};

// The fitted size of the bar and the place of each button.
struct TSorrelNavLayout {
  int width = 0;
  int height = 0;
  int buttonWidth = 0;
  std::array<TSorrelNavRect, kSorrelNavButtonCount> buttons{};
};

// Fits a bar of `width` x `height` to `visible` buttons: at least 20 x 18 per visible button
// (one counted when none is visible); with `alignNone` the width shrinks to a whole number of
// buttons, otherwise the spare pixels go one each to buttons spread over the row. Invisible
// buttons are parked just right of the bar.
TSorrelNavLayout SorrelNavFit(int width, int height, TSorrelButtonSet visible, bool alignNone);

// The repeat timer of the auto-repeat buttons, supplied by the toolkit.
class TSorrelNavTimer {
 public:
  virtual ~TSorrelNavTimer() = default;
  // (Re)starts the timer to fire once after `milliseconds`; the model restarts it after each tick.
  virtual void Start(int milliseconds) = 0;
  virtual void Stop() = 0;
};

// Keys the bar reacts to while it has the focus.
enum class TSorrelNavKey : uint8_t { Space, Left, Right, Other };

class TSorrelNavModel;

// Tells its navigator about its data set: active change, data change, editing change.
class TSorrelNavDataLink : public TDataLink {
 public:
  explicit TSorrelNavDataLink(TSorrelNavModel* navigator) : navigator_(navigator) {}
  ~TSorrelNavDataLink() override;

 protected:
  void ActiveChanged() override;
  void DataSetChanged() override;
  void EditingChanged() override;

 private:
  friend class TSorrelNavModel;
  TSorrelNavModel* navigator_;
};

class TSorrelNavModel {
 public:
  TSorrelNavModel();
  TSorrelNavModel(const TSorrelNavModel&) = delete;
  TSorrelNavModel& operator=(const TSorrelNavModel&) = delete;
  ~TSorrelNavModel();

  // Runs once the bar is fully set up (the widget's construction end): applies the hints and the
  // activation rule.
  void Loaded();

  // Properties.
  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  TSorrelButtonSet VisibleButtons() const { return visible_; }
  void SetVisibleButtons(TSorrelButtonSet buttons);
  bool Flat() const { return flat_; }
  void SetFlat(bool on);
  const std::vector<std::string>& Hints() const { return hints_; }
  void SetHints(std::vector<std::string> lines);
  bool ConfirmDelete() const { return confirmDelete_; }
  void SetConfirmDelete(bool on) { confirmDelete_ = on; }
  // The bar's own Enabled.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);

  // Per button.
  bool ButtonEnabled(TSorrelNavigateBtn button) const { return buttonEnabled_[button]; }
  bool ButtonVisible(TSorrelNavigateBtn button) const { return visible_[button]; }
  const std::string& ButtonHint(TSorrelNavigateBtn button) const { return buttonHints_[button]; }
  bool ButtonAutoRepeat(TSorrelNavigateBtn button) const {
    return button == nbPrev || button == nbNext;
  }
  TSorrelNavigateBtn FocusedButton() const { return focused_; }

  // The click of button `button`: BeforeAction and the action on the data set when the source
  // is set and not inactive, then OnClick in every case. Errors of the action propagate.
  void Click(TSorrelNavigateBtn button);
  // A key while the bar has the focus; true when the bar used it.
  bool KeyDown(TSorrelNavKey key);
  // The mouse went down on a button: it becomes the focused one.
  void SetFocusedButton(TSorrelNavigateBtn button);

  // Mouse press and release on a button and the repeat timer's tick. A button that repeats moves
  // at once when pressed, again after 400 ms and then every 100 ms while held; its release does
  // not click again. Other buttons click on release (ButtonClicked).
  void ButtonPressed(TSorrelNavigateBtn button);
  void ButtonReleased(TSorrelNavigateBtn button);
  void ButtonClicked(TSorrelNavigateBtn button);
  void RepeatTick();
  // The timer that drives auto-repeat (not owned; may be null: no repeat).
  void SetRepeatTimer(TSorrelNavTimer* timer) { timer_ = timer; }

  // Events.
  std::function<void(TSorrelNavModel& sender, TSorrelNavigateBtn button)> BeforeAction, OnClick;
  // Sender: the linked data set.
  std::function<void(TDataSet* sender)> OnCopyClick, OnFindClick;
  // Asked "Delete record?" before a delete when ConfirmDelete; true for OK. Without a
  // confirmer the question counts as answered Cancel.
  std::function<bool(const std::string& question)> Confirm;
  // The model's state changed (enabling, hints, visibility, flat, focus): the view re-reads it.
  std::function<void()> OnChange;

  // The enabling rules (the data link runs them).
  void ActiveChanged();
  void DataChanged();
  void EditingChanged();

 private:
  friend class TSorrelNavDataLink;

  void ApplyHints();
  void Changed() {
    if (OnChange) OnChange();
  }
  void DoAction(TSorrelNavigateBtn button, TDataSet& dataSet);

  TSorrelNavDataLink link_;
  TSorrelButtonSet visible_ = SorrelAllButtons();
  std::vector<std::string> hints_;
  std::array<std::string, kSorrelNavButtonCount> buttonHints_;
  std::array<bool, kSorrelNavButtonCount> buttonEnabled_{};
  bool flat_ = false;
  bool confirmDelete_ = true;
  bool enabled_ = true;
  bool loaded_ = false;
  TSorrelNavigateBtn focused_ = nbTop;
  TSorrelNavTimer* timer_ = nullptr;
  int held_ = -1;  // the repeating button held down, -1 when none
};
