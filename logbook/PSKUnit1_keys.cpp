// TForm1: the keys the window sees before its controls (page keys, the F3 abort, Ctrl+Enter for
// Log It, Ctrl+Left / Ctrl+Right to tune), the menu shortcuts kept from the text fields, the
// announcements of the pages as they come up, a click on the window's free area, and the hints:
// the tooltip options of the Set page, the large hint box and the spoken hints.
//
// The window watches the application's events. It takes each key press once: at the focus widget
// when it lies in this window, else at the window itself; keys go on to the controls afterwards
// unless a key here consumed them. The menu's shortcuts work from every window of the program
// and win over a text field that would use the same key. The application's current hint is the tooltip of the control
// under the mouse (or of the nearest control around it that has one); it changes when the mouse
// enters or leaves a control or when that control's tooltip changes (the grids set theirs to the
// cell under the mouse), and each change runs AppShowHint.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTableWidget>
#include <QToolTip>

#include "Hints.h"
#include "PSKUnit1.h"
#include "radio_group.h"
#include "shortcutscreen.h"
#include "ui_TForm1.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet2.h"
#include "ui_TabSheet3.h"
#include "ui_TabSheet5.h"

namespace quillmere {

namespace {

// The tooltip a control shows: its own, else that of the nearest control around it in its window.
QString EffectiveHint(const QWidget* w) {
  for (; w != nullptr; w = w->isWindow() ? nullptr : w->parentWidget())
    if (!w->toolTip().isEmpty()) return w->toolTip();
  return QString();
}

// The hint font sizes of the "ToolTips" choice: Normal, Medium, Large.
constexpr int kHintFontSizes[] = {8, 36, 72};

}  // namespace

void TForm1::ConnectKeyHandlers() {
  // The menu's shortcuts work from every window of the program, as the main window's menu does
  // for the whole application.
  for (QAction* menu : ui_->MainMenu1->actions())
    if (menu->menu() != nullptr)
      for (QAction* item : menu->menu()->actions()) item->setShortcutContext(Qt::ApplicationShortcut);
  connect(set_->CheckBox13, &QCheckBox::clicked, this, &TForm1::CheckBox13Click);
  for (int i = 0; i < RadioGroupCount(set_->RadioGroup3); ++i)
    connect(RadioGroupItem(set_->RadioGroup3, i), &QRadioButton::clicked, this, &TForm1::RadioGroup3Click);
  connect(log_->Button38, &QPushButton::clicked, this, &TForm1::Button38Click);
  connect(ui_->PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
    if (index == 1) TabSheet2Show();
    if (index == 2) TabSheet3Show();
    if (index == 3) TabSheet4Show();
  });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (keyPreview_ && event->type() == QEvent::KeyPress) {
    QWidget* focus = QApplication::focusWidget();
    QWidget* target = focus != nullptr && focus->window() == this ? focus : this;
    if (watched == target && FormKeyDown(static_cast<QKeyEvent*>(event))) return true;
  }
  if (keyPreview_ && event->type() == QEvent::ShortcutOverride) {
    // A text field would take Ctrl+C, Ctrl+A, Ctrl+V ... for itself, in any of the program's
    // windows; left unaccepted on its way out from the focus, the key goes to the menu item.
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && watched->isWidgetType() &&
        (watched == focus || static_cast<QWidget*>(watched)->isAncestorOf(focus)) &&
        MenuShortcut(static_cast<QKeyEvent*>(event))) {
      event->ignore();
      return true;
    }
  }
  if (watched->isWidgetType()) {
    auto* w = static_cast<QWidget*>(watched);
    switch (event->type()) {
      case QEvent::Enter:
        SetHintControl(w);
        break;
      case QEvent::Leave:
        if (w == hintControl_) SetHintControl(w->isWindow() ? nullptr : w->parentWidget());
        break;
      case QEvent::ToolTip:
        // The event travels outwards from the control under the mouse; the first receiver is it.
        if (hintControl_ == nullptr || (w != hintControl_ && !w->isAncestorOf(hintControl_))) SetHintControl(w);
        if (!hintDisplay_) return true;
        break;
      case QEvent::ToolTipChange:
        if (hintControl_ != nullptr && (w == hintControl_ || w->isAncestorOf(hintControl_))) RefreshHint();
        break;
      case QEvent::MouseButtonPress:
        // The window's free area: the margins of its central panel, outside every control.
        if ((w == ui_->CentralPanel || w == this) &&
            w->childAt(static_cast<QMouseEvent*>(event)->position().toPoint()) == nullptr)
          FormClick();
        break;
      default:
        break;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TForm1::MenuShortcut(const QKeyEvent* event) const {
  // A modal box keeps its keys: the menu does not work behind it.
  if (QApplication::activeModalWidget() != nullptr) return false;
  const QKeySequence pressed(event->keyCombination());
  for (QAction* menu : ui_->MainMenu1->actions()) {
    if (menu->menu() == nullptr) continue;
    for (QAction* item : menu->menu()->actions())
      if (item->isEnabled() && !item->shortcut().isEmpty() && item->shortcut().matches(pressed) == QKeySequence::ExactMatch)
        return true;
  }
  return false;
}

void TForm1::SwitchPage(int index) { ShowPage(Page(index)); }

bool TForm1::FormKeyDown(QKeyEvent* event) {
  const int key = event->key();
  // Any combination with Ctrl counts, whatever else is held.
  const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
  // F3, with any modifiers: stop speaking. Ctrl+F3 then goes on to the Edit page.
  if (key == Qt::Key_F3) AbortSpeech();
  if (!ctrl) return false;
  switch (key) {
    case Qt::Key_F2:
      SwitchPage(0);
      log_->LogEdit3->setFocus();
      Speak("Log sheet active");
      return true;
    case Qt::Key_F3:
      SwitchPage(1);
      Speak("Edit sheet active.");
      return true;
    case Qt::Key_F4:
      SwitchPage(2);
      Speak("Configuration sheet active.");
      return true;
    case Qt::Key_F5:
      SwitchPage(3);
      Speak("DX. W. A. S. sheet active.");
      return true;
    case Qt::Key_F6:
      SwitchPage(4);
      memory_->StringGrid1->setFocus();
      Speak("Memory sheet active.");
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Ctrl+Enter logs the contact when "Use CTRL +Enter" is checked.
      if (!set_->CheckBox12->isChecked()) return false;
      BitBtn2Click();
      return true;
    case Qt::Key_Left:
      BitBtn7Click();
      return false;
    case Qt::Key_Right:
      BitBtn8Click();
      return false;
    default:
      return false;
  }
}

void TForm1::FormClick() {
  SwitchPage(0);
  log_->LogEdit3->setFocus();
}

void TForm1::HideNoticeLabel() {
  if (auto* notice = findChild<QLabel*>("Label51")) notice->hide();
}

void TForm1::TabSheet2Show() {
  edit_->Edit19->setFocus();
  HideNoticeLabel();
  Speak("Search and Edit Panel is up.");
}

void TForm1::TabSheet3Show() { Speak("Set Configuration Panelis up."); }

void TForm1::TabSheet4Show() {
  HideNoticeLabel();
  Speak("DX. W. A. S. Panel is up.");
}

void TForm1::ShortCut1Click() {
  if (shortcuts == nullptr) return;
  if (!ui_->ShortCut1->isChecked()) {
    ui_->ShortCut1->setChecked(true);
    shortcuts->show();
    Speak(" Short cut review is loading.");
  } else {
    ui_->ShortCut1->setChecked(false);
    shortcuts->hide();
    Speak(" Short cut review is closing.");
  }
}

// ---- Hints ------------------------------------------------------------------------------------

void TForm1::SetHintControl(QWidget* control) {
  hintControl_ = control;
  RefreshHint();
}

void TForm1::RefreshHint() {
  const QString hint = EffectiveHint(hintControl_);
  if (hint == hint_) return;
  hint_ = hint;
  AppShowHint();
}

void TForm1::AppShowHint() {
  // With tooltips off the hint is neither shown in the box nor spoken.
  if (!set_->CheckBox13->isChecked()) return;
  if (HintBox != nullptr) HintBox->SetPanelText(hint_);
  // Spoken by the check box alone, whether speech is on or off.
  // A hint repeats what a screen reader says of the control: it gives way.
  if (set_->CheckBox14->isChecked() && !hint_.isEmpty()) EchoAlways(hint_);
}

void TForm1::CheckBox13Click() {
  hintDisplay_ = set_->CheckBox13->isChecked();
  if (!hintDisplay_) QToolTip::hideText();
}

void TForm1::RadioGroup3Click() {
  // The tooltip showing now keeps its font; the next one takes the new one.
  QToolTip::hideText();
  const int item = RadioGroupIndex(set_->RadioGroup3);
  hintFontName_ = "Arial";
  hintFontSize_ = item >= 0 && item < 3 ? kHintFontSizes[item] : kHintFontSizes[0];
  QToolTip::setFont(QFont(hintFontName_, hintFontSize_));
  // A new size does not switch tooltips back on when "Use ToolTips" is off.
  hintDisplay_ = set_->CheckBox13->isChecked();
}

void TForm1::Button38Click() {
  if (HintBox == nullptr) return;
  if (HintBox->isHidden() && set_->CheckBox13->isChecked())
    HintBox->show();
  else
    HintBox->hide();
}

}  // namespace quillmere
