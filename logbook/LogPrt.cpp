#include "LogPrt.h"

#include "ui_LogPrt.h"

namespace quillmere {

TqrLogPrintForm* qrLogPrintForm = nullptr;

TqrLogPrintForm::TqrLogPrintForm(QWidget* parent) : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::TqrLogPrintForm>()) {
  qrLogPrintForm = this;
  ui_->setupUi(this);
}

TqrLogPrintForm::~TqrLogPrintForm() {
  if (qrLogPrintForm == this) qrLogPrintForm = nullptr;
}

}  // namespace quillmere
