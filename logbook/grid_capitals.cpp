#include "grid_capitals.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QStyledItemDelegate>

namespace quillmere {

namespace {

class TCapitalKeys : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (text.size() != 1 || text[0] < u'a' || text[0] > u'z') return false;
    // The same key with its capital letter, in place of this one.
    QKeyEvent capital(QEvent::KeyPress, key->key(), key->modifiers(), text.toUpper(), key->isAutoRepeat(),
                      static_cast<ushort>(key->count()));
    QCoreApplication::sendEvent(watched, &capital);
    return true;
  }
};

class TCapitalsDelegate : public QStyledItemDelegate {
 public:
  TCapitalsDelegate(QObject* keys, QObject* parent) : QStyledItemDelegate(parent), keys_(keys) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (editor != nullptr) editor->installEventFilter(keys_);
    return editor;
  }

 private:
  QObject* keys_;
};

}  // namespace

void TypeInCapitals(QAbstractItemView* grid) {
  auto* keys = new TCapitalKeys(grid);
  grid->installEventFilter(keys);
  grid->setItemDelegate(new TCapitalsDelegate(keys, grid));
}

}  // namespace quillmere
