#include "RAC.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "PSKUnit1.h"
#include "accessibility.h"
#include "dbtext.h"
#include "ui_RAC.h"
#include "ui_TabSheet3.h"
#include "upper_case_edit.h"

namespace quillmere {

TRAC* RAC = nullptr;

namespace {

// The library named by the settings, or none: its absence is an ordinary state of the window.
std::unique_ptr<CallBookLibrary> OpenConfiguredLibrary() {
  const std::string path = CallBookLibraryPath();
  if (path.empty()) return nullptr;
  std::string error;
  std::unique_ptr<CallBookLibrary> library = CallBookLibrary::Open(path, &error);
  if (!library) qWarning("Call-book library not used: %s", error.c_str());
  return library;
}

}  // namespace

TRAC::TRAC(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint),
      ui_(std::make_unique<Ui::TRAC>()),
      logic_(OpenConfiguredLibrary()) {
  RAC = this;
  ui_->setupUi(this);
  ConnectUpperCaseChange(ui_->Edit2, nullptr);
  connect(ui_->BitBtn1, &QPushButton::clicked, this, &TRAC::BitBtn1Click);
  connect(ui_->Button1, &QPushButton::clicked, this, &TRAC::Button1Click);
  connect(ui_->Button2, &QPushButton::clicked, this, &TRAC::Button2Click);
  connect(ui_->Button3, &QPushButton::clicked, this, &TRAC::Button3Click);
  connect(ui_->ComboBox1, &QComboBox::activated, this, &TRAC::ComboBox1Click);
  ApplyHintsAsAccessibleText(this);
  // The drive box is editable: the reader reports its text field, which takes the box's caption.
  NameStop(ui_->ComboBox1->lineEdit(), ui_->lblComboBox1->text(), ui_->ComboBox1->toolTip());
  CloseOnEscape(this, [this] { Button3Click(); });
  FormCreate();
}

TRAC::~TRAC() {
  if (RAC == this) RAC = nullptr;
}

void TRAC::FormCreate() {
  ShowTexts();
  if (Form1 == nullptr) return;
  // The drive follows the Set page's call-book drive, now and whenever it changes there
  // (TForm1::DriveBoxChange).
  FollowDrive(*Form1->SetPage().DriveBox);
}

void TRAC::FollowDrive(const QComboBox& driveBox) {
  QComboBox* box = ui_->ComboBox1;
  box->clear();
  for (int i = 0; i < driveBox.count(); ++i) box->addItem(driveBox.itemText(i));
  box->setCurrentIndex(driveBox.currentIndex());
  box->setEditText(driveBox.currentText());
}

void TRAC::BitBtn1Click() { LookUp(CallBookAction::Get); }

void TRAC::Button1Click() { LookUp(CallBookAction::Find); }

void TRAC::Button2Click() {
  if (Form1 == nullptr) return;
  for (const std::string& phrase : logic_.Button2Click(Form1->SpeechOn())) Form1->Speak(FromEngineText(phrase));
}

void TRAC::Button3Click() { hide(); }

void TRAC::ComboBox1Click() {
  const QString drive = ui_->ComboBox1->currentText();
  if (Form1 != nullptr && !drive.isEmpty()) Form1->Speak(drive);
}

void TRAC::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  TakeKeyboard(this, ui_->Edit2);
}

void TRAC::LookUp(CallBookAction action) {
  const std::string call = ui_->Edit2->text().toStdString();
  const std::string folder = QFile::encodeName(ui_->ComboBox1->currentText()).toStdString();
  const CallBookNotice notice = logic_.LookUp(call, folder, action);
  ShowTexts();
  if (Form1 == nullptr || notice.phrase.empty()) return;
  // Refusals are heard when speech is on; otherwise the status label says it, and a message box
  // too where there is something the operator must change.
  if (Form1->SpeechOn())
    Form1->Speak(QString::fromStdString(notice.phrase));
  else if (!notice.message.empty())
    Form1->Services().dialogs->ShowMessage(QString::fromStdString(notice.message));
}

void TRAC::ShowTexts() {
  QLabel* labels[] = {nullptr,       ui_->Label1,  ui_->Label2,  ui_->Label3,  ui_->Label4,  ui_->Label5,
                      ui_->Label6,  ui_->Label7,  ui_->Label8,  nullptr,      ui_->Label10, ui_->Label11,
                      ui_->Label12, ui_->Label13, ui_->Label14, ui_->Label15};
  for (size_t i = 0; i < logic_.Label.size(); ++i)
    if (labels[i] != nullptr) labels[i]->setText(FromEngineText(logic_.Label[i]));
  ui_->Memo1->setPlainText(FromEngineText(logic_.Memo));
}

}  // namespace quillmere
