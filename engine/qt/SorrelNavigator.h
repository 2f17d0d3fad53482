// SorrelNavigator: the navigator button bar as a Qt widget.
//
// TSorrelNavigator shows the twelve buttons of a TSorrelNavModel (Sorl6Nv.h) in one row and
// forwards presses, releases, clicks, keys and resizes to it; the model decides what is visible,
// enabled, hinted and done. Each button is a TSorrelNavButton named after its kind ("nbTop" ..
// "nbRefresh") with its hint as tool tip and accessible name. The bar is one keyboard stop whose
// arrows move a highlight over the buttons; screen readers see the highlighted button as the
// focused object (a focus event each time the highlight moves) with its name and enabled state. The bar owns its buttons, its model
// and the repeat timer of prior and next.
//
// Errors raised by a click (the data set refusing an edit, say) cannot cross Qt's event loop:
// they go to ShowError, which by default shows them in a message box. The delete question goes
// to the model's Confirm, by default a message box with OK and Cancel.
//
// Thread-safety: GUI thread only.
#pragma once

#include <QFrame>
#include <QTimer>
#include <QToolButton>
#include <array>
#include <functional>
#include <memory>

#include "dataset/Sorl6Nv.h"

class TSorrelNavigator;

class TSorrelNavButton : public QToolButton {
  Q_OBJECT
 public:
  TSorrelNavButton(TSorrelNavigator* navigator, TSorrelNavigateBtn index);
  TSorrelNavigateBtn Index() const { return index_; }
  // The bar has the keyboard focus and its highlight is on this button.
  bool Highlighted() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TSorrelNavigator* navigator_;
  TSorrelNavigateBtn index_;
};

class TSorrelNavigator : public QFrame {
  Q_OBJECT
 public:
  explicit TSorrelNavigator(QWidget* parent = nullptr);
  ~TSorrelNavigator() override;

  TSorrelNavModel& Model() { return model_; }
  TSorrelNavButton* Button(TSorrelNavigateBtn index) const { return buttons_[index]; }

  // The model's properties, for convenience.
  TDataSource* DataSource() const { return model_.DataSource(); }
  void SetDataSource(TDataSource* source) { model_.SetDataSource(source); }
  TSorrelButtonSet VisibleButtons() const { return model_.VisibleButtons(); }
  void SetVisibleButtons(TSorrelButtonSet buttons);
  bool Flat() const { return model_.Flat(); }
  void SetFlat(bool on) { model_.SetFlat(on); }
  void SetHints(std::vector<std::string> lines) { model_.SetHints(std::move(lines)); }
  bool ConfirmDelete() const { return model_.ConfirmDelete(); }
  void SetConfirmDelete(bool on) { model_.SetConfirmDelete(on); }
  // Whether the bar fills its parent's width (a layout or alignment sizes it): then the spare
  // pixels are spread over the buttons instead of the bar shrinking to whole buttons.
  bool Aligned() const { return aligned_; }
  void SetAligned(bool on);

  // Where click errors go; by default a message box.
  std::function<void(const std::string& text)> ShowError;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  friend class TSorrelNavButton;
  class RepeatTimer;

  void Sync();
  void Fit();
  void Guard(const std::function<void()>& action);
  void ButtonMouseDown(TSorrelNavigateBtn index);
  // Tells screen readers which button the highlight is on, when it moved there.
  void AnnounceHighlight();

  TSorrelNavModel model_;
  std::array<TSorrelNavButton*, kSorrelNavButtonCount> buttons_{};
  std::unique_ptr<RepeatTimer> timer_;
  bool aligned_ = false;
  bool fitting_ = false;
  int announced_ = -1;  // the button last reported as focused, -1 while the bar has no focus
};
