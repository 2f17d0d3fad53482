#include "accessibility.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QShortcut>
#include <QWidget>

namespace quillmere {

namespace {

bool HasOwnCaption(const QWidget* w) {
  if (const auto* button = qobject_cast<const QAbstractButton*>(w)) return !button->text().isEmpty();
  if (const auto* group = qobject_cast<const QGroupBox*>(w)) return !group->title().isEmpty();
  if (const auto* label = qobject_cast<const QLabel*>(w)) return !label->text().isEmpty();
  return false;
}

void Apply(QWidget* w, const QList<QLabel*>& labels) {
  const QString hint = w->toolTip();
  if (hint.isEmpty()) return;
  if (w->accessibleDescription().isEmpty()) w->setAccessibleDescription(hint);
  if (!w->accessibleName().isEmpty() || HasOwnCaption(w)) return;
  for (const QLabel* label : labels)
    if (label->buddy() == w) return;
  w->setAccessibleName(hint);
}

}  // namespace

void ApplyHintsAsAccessibleText(QWidget* root) {
  const QList<QLabel*> labels = root->findChildren<QLabel*>();
  Apply(root, labels);
  for (QWidget* w : root->findChildren<QWidget*>()) Apply(w, labels);
}

void TakeKeyboard(QWidget* window, QWidget* first) {
  window->raise();
  window->activateWindow();
  if (first != nullptr && first->isEnabled() && first->isVisibleTo(window)) first->setFocus(Qt::OtherFocusReason);
}

void CloseOnEscape(QWidget* window, std::function<void()> close) {
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);  // owned by the window
  escape->setObjectName("EscapeCloses");
  QObject::connect(escape, &QShortcut::activated, window, std::move(close));
}

void NameStop(QWidget* stop, const QString& name, const QString& description) {
  if (stop == nullptr) return;
  stop->setAccessibleName(name);
  if (stop->accessibleDescription().isEmpty()) stop->setAccessibleDescription(description);
}

}  // namespace quillmere
