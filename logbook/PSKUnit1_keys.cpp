// TForm1: keys the window sees before its controls (the F3 abort here; the page and tuning keys
// come with the keyboard shortcuts) and the hint handler.
//
// The window watches the application's key presses and takes each one once: at the focus widget
// when it lies in this window, else at the window itself. Keys go on to the controls afterwards.
#include <QApplication>
#include <QKeyEvent>

#include "PSKUnit1.h"

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
  return false;
}

void TForm1::AppShowHint() {
  // Built with the hints: the hint box and spoken hints follow the current hint.
}

}  // namespace quillmere
