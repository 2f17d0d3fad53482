#include "VRN_ADIF.h"

#include "ui_VRN_ADIF.h"

namespace quillmere {

TADIFform* ADIFform = nullptr;

TADIFform::TADIFform(QWidget* parent) : QWidget(parent, Qt::Tool), ui_(std::make_unique<Ui::TADIFform>()) {
  ADIFform = this;
  ui_->setupUi(this);
}

TADIFform::~TADIFform() {
  if (ADIFform == this) ADIFform = nullptr;
}

}  // namespace quillmere
