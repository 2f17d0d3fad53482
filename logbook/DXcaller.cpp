#include "DXcaller.h"

#include <QLineEdit>

#include "CT.h"
#include "PSKUnit1.h"
#include "ui_DXcaller.h"
#include "upper_case_edit.h"

namespace quillmere {

TDXStuff* DXStuff = nullptr;

TDXStuff::TDXStuff(QWidget* parent) : QWidget(parent, Qt::Tool), ui_(std::make_unique<Ui::TDXStuff>()) {
  DXStuff = this;
  ui_->setupUi(this);
  ConnectUpperCaseChange(ui_->Edit1, [this] { Button1Click(); });
  connect(ui_->Edit2, &QLineEdit::textChanged, this, &TDXStuff::Edit2Change);
}

TDXStuff::~TDXStuff() {
  if (DXStuff == this) DXStuff = nullptr;
}

void TDXStuff::Button1Click() {
  if (!logic_) {
    std::shared_ptr<const CountryFile> countries;
    if (CTConvert != nullptr) countries = CTConvert->Logic().SharedCountries();
    std::string note;
    logic_ = std::make_unique<TDXStuffLogic>(MakeDXCheck(DXCheckLibraryPath(), countries, &note));
    // A configured library that cannot be used leaves the look-up to our own component.
    if (!note.empty()) qWarning("DX look-up library not used: %s", note.c_str());
  }
  if (const std::optional<DXHandover> answer = logic_->Button1Click(ui_->Edit1->text().toStdString()))
    ui_->Edit2->setText(QString::fromStdString(answer->edit8));
}

void TDXStuff::Edit2Change() {
  if (Form1 == nullptr) return;
  const QString entity = ui_->Edit2->text();
  Form1->SetStatusText(3, entity);
  Form1->LogField("Edit8")->setText(entity);
  Form1->LogField("LogEdit8")->setText(entity);
}

}  // namespace quillmere
