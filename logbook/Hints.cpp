#include "Hints.h"

#include "ui_Hints.h"

namespace quillmere {

THintBox* HintBox = nullptr;

THintBox::THintBox(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::THintBox>()) {
  HintBox = this;
  ui_->setupUi(this);
}

THintBox::~THintBox() {
  if (HintBox == this) HintBox = nullptr;
}

}  // namespace quillmere
