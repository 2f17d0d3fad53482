// TTabControl: a row of tabs over one shared panel (the dialog swaps the panel's contents when
// the tab changes). A QTabBar whose tab captions are a property, so that a form file can give
// them ("Tabs", set through the meta-object system). Owned by its parent widget; GUI thread only.
#pragma once

#include <QStringList>
#include <QTabBar>

namespace tarvane {

class TTabControl : public QTabBar {
  Q_OBJECT
  Q_PROPERTY(QStringList Tabs READ Tabs WRITE SetTabs)
 public:
  explicit TTabControl(QWidget* parent = nullptr) : QTabBar(parent) {}

  QStringList Tabs() const {
    QStringList texts;
    for (int i = 0; i < count(); ++i) texts << tabText(i);
    return texts;
  }
  // Replaces every tab by one per caption, in order.
  void SetTabs(const QStringList& texts) {
    while (count() > 0) removeTab(count() - 1);
    for (const QString& t : texts) addTab(t);
  }
};

}  // namespace tarvane
