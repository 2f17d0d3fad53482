#include "RAC.h"

#include "ui_RAC.h"

namespace quillmere {

TRAC* RAC = nullptr;

TRAC::TRAC(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), ui_(std::make_unique<Ui::TRAC>()) {
  RAC = this;
  ui_->setupUi(this);
}

TRAC::~TRAC() {
  if (RAC == this) RAC = nullptr;
}

void TRAC::Button1Click() {}

}  // namespace quillmere
