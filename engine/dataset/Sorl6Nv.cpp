// The navigator's rules: hints, layout, enabling, clicks, keys and auto-repeat.
#include "dataset/Sorl6Nv.h"

#include <algorithm>

namespace {

struct ButtonText {
  const char* hint;
  const char* word;
};

// In button order. The copy hint's leading blank is part of the text.
constexpr std::array<ButtonText, kSorrelNavButtonCount> kButtons = {{
    {"First record", "TOP"},
    {"Prior record", "PREVIOUS"},
    {"Next record", "NEXT"},
    {"Last record", "BOTTOM"},
    {"Append record", "APPEND"},
    {" Copy record", "COPY"},
    {"Edit record", "EDIT"},
    {"Delete record", "DELETE"},
    {"Save record", "SAVE"},
    {"Cancel edit", "CANCEL"},
    {"Find record", "FIND"},
    {"Refresh data", "REFRESH"},
}};

constexpr TSorrelNavigateBtn Btn(int index) { return static_cast<TSorrelNavigateBtn>(index); }

}  // namespace

std::string_view SorrelNavDefaultHint(TSorrelNavigateBtn button) { return kButtons[button].hint; }

std::string SorrelNavResourceName(TSorrelNavigateBtn button) {
  return std::string("sorl_") + kButtons[button].word;
}

TSorrelNavLayout SorrelNavFit(int width, int height, TSorrelButtonSet visible, bool alignNone) {
  TSorrelNavLayout layout;
  const int count = std::max(1, static_cast<int>(visible.count()));
  width = std::max(width, count * kSorrelNavMinButtonWidth);
  height = std::max(height, kSorrelNavMinButtonHeight);
  const int buttonWidth = width / count;
  if (alignNone) width = count * buttonWidth;
  const int remainder = width - count * buttonWidth;
  layout.width = width;
  layout.height = height;
  layout.buttonWidth = buttonWidth;
  // The spare pixels are spread over the row: a running value steps down by the remainder per
  // button and each time it passes below zero that button is one pixel wider.
  int running = count / 2;
  int x = 0;
  for (int i = 0; i < kSorrelNavButtonCount; ++i) {
    if (!visible[static_cast<size_t>(i)]) {
      layout.buttons[static_cast<size_t>(i)] = {width + 1, 0, buttonWidth, height};
      continue;
    }
    int extra = 0;
    if (remainder != 0) {
      running -= remainder;
      if (running < 0) {
        running += count;
        extra = 1;
      }
    }
    layout.buttons[static_cast<size_t>(i)] = {x, 0, buttonWidth + extra, height};
    x += buttonWidth + extra;
  }
  return layout;
}

TSorrelNavDataLink::~TSorrelNavDataLink() { navigator_ = nullptr; }

void TSorrelNavDataLink::ActiveChanged() {
  if (navigator_ != nullptr) navigator_->ActiveChanged();
}

void TSorrelNavDataLink::DataSetChanged() {
  if (navigator_ != nullptr) navigator_->DataChanged();
}

void TSorrelNavDataLink::EditingChanged() {
  if (navigator_ != nullptr) navigator_->EditingChanged();
}

TSorrelNavModel::TSorrelNavModel() : link_(this) {
  buttonEnabled_.fill(true);
  ApplyHints();
}

TSorrelNavModel::~TSorrelNavModel() {
  // The timer belongs to the view, which stops it. The link is destroyed with the model; it must not call back into a half-destroyed model.
  link_.navigator_ = nullptr;
}

void TSorrelNavModel::Loaded() {
  loaded_ = true;
  ApplyHints();
  ActiveChanged();
}

void TSorrelNavModel::SetDataSource(TDataSource* source) {
  link_.SetDataSource(source);
  if (loaded_) ActiveChanged();
}

void TSorrelNavModel::SetVisibleButtons(TSorrelButtonSet buttons) {
  visible_ = buttons;
  Changed();
}

void TSorrelNavModel::SetFlat(bool on) {
  if (flat_ == on) return;
  flat_ = on;
  Changed();
}

void TSorrelNavModel::SetHints(std::vector<std::string> lines) {
  hints_ = std::move(lines);
  ApplyHints();
}

void TSorrelNavModel::SetEnabled(bool on) {
  enabled_ = on;
  if (loaded_) ActiveChanged();
  else Changed();
}

void TSorrelNavModel::ApplyHints() {
  for (int i = 0; i < kSorrelNavButtonCount; ++i)
    buttonHints_[static_cast<size_t>(i)] = std::string(SorrelNavDefaultHint(Btn(i)));
  const size_t lines = std::min(hints_.size(), static_cast<size_t>(kSorrelNavButtonCount));
  for (size_t i = 0; i < lines; ++i)
    if (!hints_[i].empty()) buttonHints_[i] = hints_[i];
  Changed();
}

void TSorrelNavModel::DataChanged() {
  TDataSet* dataSet = link_.DataSet();
  const bool active = enabled_ && link_.Active() && dataSet != nullptr;
  const bool up = active && !link_.Bof();
  const bool down = active && !link_.Eof();
  buttonEnabled_[nbTop] = buttonEnabled_[nbPrev] = up;
  buttonEnabled_[nbNext] = buttonEnabled_[nbBttm] = down;
  buttonEnabled_[nbDelete] =
      active && dataSet->CanModify() && !(link_.Bof() && link_.Eof());
  Changed();
}

void TSorrelNavModel::EditingChanged() {
  TDataSet* dataSet = link_.DataSet();
  const bool modify = enabled_ && link_.Active() && dataSet != nullptr && dataSet->CanModify();
  const bool editing = link_.Editing();
  for (TSorrelNavigateBtn b : {nbInsert, nbCopy, nbEdit}) buttonEnabled_[b] = modify && !editing;
  // Delete also needs a record: the data rule's condition holds here too, or an empty data set
  // would offer a delete that can only fail.
  buttonEnabled_[nbDelete] = modify && !editing && !(link_.Bof() && link_.Eof());
  buttonEnabled_[nbPost] = buttonEnabled_[nbCancel] = modify && editing;
  buttonEnabled_[nbFind] = buttonEnabled_[nbRefresh] = !editing;
  Changed();
}

void TSorrelNavModel::ActiveChanged() {
  if (enabled_ && link_.Active()) {
    DataChanged();
    EditingChanged();
  } else {
    buttonEnabled_.fill(false);
    Changed();
  }
}

void TSorrelNavModel::Click(TSorrelNavigateBtn button) {
  TDataSource* source = link_.DataSource();
  if (source != nullptr && source->State() != TDataSetState::dsInactive &&
      source->DataSet() != nullptr) {
    if (BeforeAction) BeforeAction(*this, button);
    DoAction(button, *source->DataSet());
  }
  if (OnClick) OnClick(*this, button);
}

void TSorrelNavModel::DoAction(TSorrelNavigateBtn button, TDataSet& dataSet) {
  switch (button) {
    case nbTop:
      dataSet.First();
      break;
    case nbPrev:
      dataSet.Prior();
      break;
    case nbNext:
      dataSet.Next();
      break;
    case nbBttm:
      dataSet.Last();
      break;
    case nbInsert:
      dataSet.Insert();
      break;
    case nbCopy:
      if (OnCopyClick) OnCopyClick(&dataSet);
      break;
    case nbEdit:
      dataSet.Edit();
      break;
    case nbDelete:
      if (!confirmDelete_ || (Confirm && Confirm(std::string(kSorrelDeleteQuestion))))
        dataSet.Delete();
      break;
    case nbPost:
      dataSet.Post();
      break;
    case nbCancel:
      dataSet.Cancel();
      break;
    case nbFind:
      if (OnFindClick) OnFindClick(&dataSet);
      break;
    case nbRefresh:
      dataSet.Refresh();
      break;
  }
}

void TSorrelNavModel::SetFocusedButton(TSorrelNavigateBtn button) {
  if (focused_ == button) return;
  focused_ = button;
  Changed();
}

bool TSorrelNavModel::KeyDown(TSorrelNavKey key) {
  int index = focused_;
  switch (key) {
    case TSorrelNavKey::Space:
      if (buttonEnabled_[focused_]) Click(focused_);
      return true;
    case TSorrelNavKey::Left:
      for (int i = index - 1; i >= 0; --i)
        if (visible_[static_cast<size_t>(i)]) {
          index = i;
          break;
        }
      break;
    case TSorrelNavKey::Right:
      for (int i = index + 1; i < kSorrelNavButtonCount; ++i)
        if (visible_[static_cast<size_t>(i)]) {
          index = i;
          break;
        }
      break;
    case TSorrelNavKey::Other:
      return false;
  }
  SetFocusedButton(Btn(index));
  return true;
}

void TSorrelNavModel::ButtonPressed(TSorrelNavigateBtn button) {
  SetFocusedButton(button);
  if (!ButtonAutoRepeat(button) || !buttonEnabled_[button]) return;
  held_ = button;
  try {
    Click(button);
  } catch (...) {
    held_ = -1;
    throw;
  }
  // The click may have disabled the button (the last record reached).
  if (held_ == button && timer_ != nullptr) timer_->Start(kSorrelNavRepeatDelay);
}

void TSorrelNavModel::ButtonReleased(TSorrelNavigateBtn button) {
  if (held_ != button) return;
  held_ = -1;
  if (timer_ != nullptr) timer_->Stop();
}

void TSorrelNavModel::ButtonClicked(TSorrelNavigateBtn button) {
  // A repeating button already moved when it was pressed.
  if (!ButtonAutoRepeat(button)) Click(button);
}

void TSorrelNavModel::RepeatTick() {
  if (held_ < 0 || !buttonEnabled_[static_cast<size_t>(held_)]) {
    held_ = -1;
    if (timer_ != nullptr) timer_->Stop();
    return;
  }
  if (timer_ != nullptr) timer_->Start(kSorrelNavRepeatInterval);
  try {
    Click(Btn(held_));
  } catch (...) {
    held_ = -1;
    if (timer_ != nullptr) timer_->Stop();
    throw;
  }
}
