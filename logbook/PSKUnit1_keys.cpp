// TForm1: keys the window sees before its controls (the F3 abort and Ctrl+Enter for Log It here;
// the page and tuning keys come with the keyboard shortcuts) and the hint handler.
//
// The window watches the application's key presses and takes each one once: at the focus widget
// when it lies in this window, else at the window itself. Keys go on to the controls afterwards.
#include <QApplication>
#include <QKeyEvent>

#include "PSKUnit1.h"
#include "ui_TabSheet3.h"

namespace quillmere {

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (keyPreview_ && event->type() == QEvent::KeyPress) {
    QWidget* focus = QApplication::focusWidget();
    QWidget* target = focus != nullptr && focus->window() == this ? focus : this;
    if (watched == target && FormKeyDown(static_cast<QKeyEvent*>(event))) return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TForm1::FormKeyDown(QKeyEvent* event) {
  // F3, with any modifiers: stop speaking.
  if (event->key() == Qt::Key_F3) AbortSpeech();
  // Ctrl+Enter logs the contact when "Use CTRL +Enter" is checked.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers().testFlag(Qt::ControlModifier) && set_->CheckBox12->isChecked()) {
    BitBtn2Click();
    return true;
  }
  return false;
}

void TForm1::AppShowHint() {
  // Built with the hints: the hint box and spoken hints follow the current hint.
}

}  // namespace quillmere
