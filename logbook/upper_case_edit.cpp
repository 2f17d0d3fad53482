#include "upper_case_edit.h"

#include <QLineEdit>

namespace quillmere {

void ConnectUpperCaseChange(QLineEdit* edit, std::function<void()> changed) {
  QObject::connect(edit, &QLineEdit::textChanged, edit, [edit, changed = std::move(changed)](const QString& text) {
    const QString upper = text.toUpper();
    if (upper != text) {
      // The upper-cased text comes back through this handler as a change of its own.
      const int cursor = edit->cursorPosition();
      edit->setText(upper);
      edit->setCursorPosition(cursor);
      return;
    }
    if (changed) changed();
  });
}

}  // namespace quillmere
