#include "radio_group.h"

#include <QGroupBox>
#include <QRadioButton>

namespace quillmere {

namespace {

QList<QRadioButton*> Items(const QGroupBox* group) {
  return group->findChildren<QRadioButton*>(QString(), Qt::FindDirectChildrenOnly);
}

}  // namespace

int RadioGroupCount(const QGroupBox* group) { return int(Items(group).size()); }

int RadioGroupIndex(const QGroupBox* group) {
  const QList<QRadioButton*> items = Items(group);
  for (int i = 0; i < items.size(); ++i)
    if (items[i]->isChecked()) return i;
  return -1;
}

void SetRadioGroupIndex(QGroupBox* group, int index) {
  const QList<QRadioButton*> items = Items(group);
  if (index >= 0 && index < items.size()) {
    items[index]->setChecked(true);
    return;
  }
  // Auto-exclusive buttons refuse to uncheck the last checked one; lift that for a moment.
  for (QRadioButton* item : items) {
    item->setAutoExclusive(false);
    item->setChecked(false);
    item->setAutoExclusive(true);
  }
}

QString RadioGroupCaption(const QGroupBox* group, int index) {
  const QRadioButton* item = RadioGroupItem(group, index);
  if (item == nullptr) return QString();
  QString text = item->text();
  text.remove('&');
  return text;
}

QRadioButton* RadioGroupItem(const QGroupBox* group, int index) {
  const QList<QRadioButton*> items = Items(group);
  return index >= 0 && index < items.size() ? items[index] : nullptr;
}

}  // namespace quillmere
