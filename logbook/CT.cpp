#include "CT.h"

#include "ui_CT.h"

namespace quillmere {

TCTConvert* CTConvert = nullptr;

TCTConvert::TCTConvert(QWidget* parent) : QWidget(parent, Qt::Tool), ui_(std::make_unique<Ui::TCTConvert>()) {
  CTConvert = this;
  ui_->setupUi(this);
}

TCTConvert::~TCTConvert() {
  if (CTConvert == this) CTConvert = nullptr;
}

void TCTConvert::Button1Click() {}

}  // namespace quillmere
