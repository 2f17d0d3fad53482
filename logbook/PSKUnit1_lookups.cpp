// TForm1: the look-ups that follow the call sign as it is typed (the DX window, the prefix, the
// call book), the bearing and range to the DX entity, and the LOG-page fields they share.
//
// The road of one call: the duplicate check hands the call to LookUpsForCall. With "Auto
// QTH/&DXCC entity" checked the DX window answers the entity's name, which goes to status panel
// 3, the hidden entity field Edit8 (whose change asks the country file for zones, bearing and
// range: panel 4) and the QTH field LogEdit8; the prefix look-up then finds the QTH in the
// entity list (the prefix Log It stores, panel 5); last the call-book window gets the call.
#include <QLineEdit>
#include <QListWidget>

#include "CT.h"
#include "DXcaller.h"
#include "PSKUnit1.h"
#include "RAC.h"
#include "entity_list.h"
#include "ui_DXcaller.h"
#include "ui_RAC.h"
#include "ui_TabSheet1.h"
#include "ui_TabSheet3.h"

namespace quillmere {

namespace {

// The LOG-page fields the look-ups reach by name.
const char* const kLogFields[] = {"LogEdit8", "Edit8", "Edit9", "Edit10", "Edit11"};

}  // namespace

void TForm1::ConnectLookUpHandlers() {
  // The entity list of the prefix look-up, as the Set page's hidden list box holds it.
  for (const std::string& item : EntityListItems()) set_->ListBox2->addItem(QString::fromStdString(item));
  for (const char* name : kLogFields) LogField(name);
  connect(LogField("Edit8"), &QLineEdit::textChanged, this, &TForm1::Edit8Change);
}

QLineEdit* TForm1::LogField(const char* name) {
  QWidget* page = Page(0);
  if (auto* field = page->findChild<QLineEdit*>(name)) return field;
  auto* field = new QLineEdit(page);
  field->setObjectName(name);
  field->hide();
  return field;
}

void TForm1::ShowHandlerError(const std::exception& error) {
  services_.dialogs->ShowError(QString::fromStdString(error.what()));
}

void TForm1::LookUpsForCall(const QString& call) {
  // The DX window's call box runs the DX look-up and, when its answer changes, the hand-over.
  if (log_->CheckBox2->isChecked() && DXStuff != nullptr) DXStuff->Controls().Edit1->setText(call);
  Button11Click();
  if (RAC != nullptr) RAC->Controls().Edit2->setText(call);
}

void TForm1::Button11Click() {
  prefix_ = QString::fromStdString(FindEntityPrefix(LogField("LogEdit8")->text().toStdString()));
  SetStatusText(5, prefix_);
}

void TForm1::Edit8Change() {
  if (CTConvert == nullptr) return;
  // A home position that is no number ends the look-up before anything is shown.
  if (const std::optional<EntityLookup> found = CTConvert->LookUpEntity())
    SetStatusText(4, QString::fromStdString(found->panel4));
}

}  // namespace quillmere
