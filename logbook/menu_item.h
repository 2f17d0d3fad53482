// Menu items of the main window: a click leaves the check mark to the handler, as the window's
// design expects; the toolkit's own toggle is undone before the handler runs.
#pragma once

#include <QAction>
#include <QObject>
#include <QSignalBlocker>

namespace quillmere {

template <typename Form, typename Slot>
void ConnectMenuItem(Form* form, QAction* action, Slot slot) {
  QObject::connect(action, &QAction::triggered, form, [form, action, slot](bool) {
    if (action->isCheckable()) {
      const QSignalBlocker block(action);
      action->setChecked(!action->isChecked());
    }
    (form->*slot)();
  });
}

}  // namespace quillmere
