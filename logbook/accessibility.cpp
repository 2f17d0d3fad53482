#include "accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
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

constexpr const char* kOwnTitle = "quillmereOwnTitle";

class TChoiceGroupAccessible : public QAccessibleWidget {
 public:
  explicit TChoiceGroupAccessible(QGroupBox* group) : QAccessibleWidget(group, QAccessible::Grouping) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) {
      QString name = Group()->accessibleName();
      if (name.isEmpty()) name = Group()->title().remove('&');
      return name;
    }
    return QAccessibleWidget::text(t);
  }
  QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation match) const override {
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> kept;
    for (const auto& relation : QAccessibleWidget::relations(match)) {
      const bool outerTitle = (relation.second & QAccessible::Label) && relation.first != nullptr &&
                              relation.first->object() == Group()->parentWidget();
      if (!outerTitle) kept << relation;
    }
    // The group's title labels its items, as for any titled group.
    if (match & QAccessible::Labelled) {
      for (QWidget* item : Group()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!item->isWindow())
          if (QAccessibleInterface* face = QAccessible::queryAccessibleInterface(item)) kept << qMakePair(face, QAccessible::Labelled);
    }
    return kept;
  }

 private:
  QGroupBox* Group() const { return static_cast<QGroupBox*>(widget()); }
};

QAccessibleInterface* ChoiceGroupFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("QGroupBox") && object != nullptr && object->property(kOwnTitle).toBool())
    return new TChoiceGroupAccessible(static_cast<QGroupBox*>(object));
  return nullptr;
}

}  // namespace

void NameChoiceGroup(QGroupBox* group) {
  static const bool installed = (QAccessible::installFactory(ChoiceGroupFactory), true);
  (void)installed;
  group->setProperty(kOwnTitle, true);
  // The toolkit made (and keeps) the group's interface when its title was set: it goes, so the
  // next query makes the one above.
  if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(group))
    if (dynamic_cast<TChoiceGroupAccessible*>(made) == nullptr) QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
  group->setAccessibleName(group->title().remove('&'));
}

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
