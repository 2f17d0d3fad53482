#include "dbctrls.h"

#include "dbtext.h"

void TFieldDataLink::SetFieldName(std::string name) {
  fieldName_ = std::move(name);
  Notify(OnDataChange);
}

TField* TFieldDataLink::Field() const {
  TDataSet* ds = DataSet();
  if (!Active() || ds == nullptr) return nullptr;
  return ds->FindField(fieldName_);
}

namespace {

// The field's text, empty when the record has none or it cannot be shown.
QString FieldText(TField* field) {
  if (field == nullptr) return {};
  try {
    return FromEngineText(field->AsString());
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

// ---- TDBText ----

TDBText::TDBText(QWidget* parent) : QLabel(parent) {
  link_.OnDataChange = [this] { ShowField(); };
}

TDBText::~TDBText() {
  link_.OnDataChange = nullptr;
  link_.SetDataSource(nullptr);
}

void TDBText::SetDataSource(TDataSource* source) {
  link_.SetDataSource(source);
  ShowField();
}

void TDBText::SetDataField(std::string name) { link_.SetFieldName(std::move(name)); }

void TDBText::ShowField() { setText(FieldText(link_.Field())); }

// ---- TDBEdit ----

TDBEdit::TDBEdit(QWidget* parent) : QLineEdit(parent) {
  link_.OnDataChange = [this] { ShowField(); };
  link_.OnEditingChange = [this] {
    if (!link_.Editing()) modified_ = false;
  };
  link_.OnUpdateData = [this] { WriteField(); };
  connect(this, &QLineEdit::textEdited, this, &TDBEdit::Typed);
  connect(this, &QLineEdit::editingFinished, this, &TDBEdit::Finished);
}

TDBEdit::~TDBEdit() {
  link_.OnDataChange = nullptr;
  link_.OnEditingChange = nullptr;
  link_.OnUpdateData = nullptr;
  link_.SetDataSource(nullptr);
}

void TDBEdit::SetDataSource(TDataSource* source) {
  link_.SetDataSource(source);
  ShowField();
}

void TDBEdit::SetDataField(std::string name) { link_.SetFieldName(std::move(name)); }

void TDBEdit::ShowField() {
  // While the user's text waits to be written, the record being edited keeps showing it.
  if (modified_ && link_.Editing()) return;
  modified_ = false;
  TField* field = link_.Field();
  showing_ = true;
  setText(FieldText(field));
  showing_ = false;
  setReadOnly(field == nullptr || link_.ReadOnly() || !field->CanModify());
  if (field != nullptr && field->DataType() == TFieldType::ftString) {
    setMaxLength(field->Size());
  }
}

void TDBEdit::Typed(const QString& text) {
  if (showing_) return;
  const int cursor = cursorPosition();
  // Starting the edit re-shows the record; the typed text is put back afterwards.
  if (!link_.Edit()) {
    ShowField();
    return;
  }
  modified_ = true;
  if (this->text() != text) {
    showing_ = true;
    setText(text);
    setCursorPosition(cursor);
    showing_ = false;
  }
}

void TDBEdit::WriteField() {
  if (!modified_) return;
  TField* field = link_.Field();
  if (field == nullptr) return;
  modified_ = false;
  field->SetAsString(ToEngineText(text()));
}

void TDBEdit::Finished() {
  if (!modified_) return;
  try {
    link_.UpdateRecord();
  } catch (const std::exception& e) {
    modified_ = true;
    emit writeFailed(FromEngineText(e.what()));
  }
}
