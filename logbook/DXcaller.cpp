#include "DXcaller.h"

#include "ui_DXcaller.h"

namespace quillmere {

TDXStuff* DXStuff = nullptr;

TDXStuff::TDXStuff(QWidget* parent) : QWidget(parent, Qt::Tool), ui_(std::make_unique<Ui::TDXStuff>()) {
  DXStuff = this;
  ui_->setupUi(this);
}

TDXStuff::~TDXStuff() {
  if (DXStuff == this) DXStuff = nullptr;
}

}  // namespace quillmere
