#include "Unit1.h"

#include "ui_Unit1.h"

namespace quillmere {

TPrintForm* PrintForm = nullptr;

TPrintForm::TPrintForm(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::TPrintForm>()) {
  PrintForm = this;
  ui_->setupUi(this);
}

TPrintForm::~TPrintForm() {
  if (PrintForm == this) PrintForm = nullptr;
}

}  // namespace quillmere
