#include "shortcutscreen.h"

#include "ui_shortcutscreen.h"

namespace quillmere {

Tshortcuts* shortcuts = nullptr;

Tshortcuts::Tshortcuts(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::Tshortcuts>()) {
  shortcuts = this;
  ui_->setupUi(this);
}

Tshortcuts::~Tshortcuts() {
  if (shortcuts == this) shortcuts = nullptr;
}

}  // namespace quillmere
