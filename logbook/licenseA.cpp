#include "licenseA.h"

#include "ui_licenseA.h"

namespace quillmere {

TConstants* Constants = nullptr;

TConstants::TConstants(QWidget* parent) : QWidget(parent, Qt::Tool), ui_(std::make_unique<Ui::TConstants>()) {
  Constants = this;
  ui_->setupUi(this);
}

TConstants::~TConstants() {
  if (Constants == this) Constants = nullptr;
}

}  // namespace quillmere
