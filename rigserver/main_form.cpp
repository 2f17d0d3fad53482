#include "main_form.h"

#include <QApplication>
#include <QCloseEvent>

#include "ui_main_form.h"

namespace tarvane {

QString PortItemText(int port, bool present) {
  return present ? QString("COM%1").arg(port) : QString("COM%1 (not present)").arg(port);
}

int PortFromItemText(const QString& text) {
  QString digits;
  for (qsizetype i = 3; i < text.size() && text[i].isDigit(); ++i) digits += text[i];
  bool ok = false;
  const int port = digits.toInt(&ok);
  return ok ? port : 1;
}

TMainForm::TMainForm(TMainFormOptions options, QWidget* parent)
    : QDialog(parent),
      options_(std::move(options)),
      ui_(std::make_unique<Ui::TMainForm>()),
      app_(std::make_unique<TServerApp>(options_.ProgramFolder, options_.VersionMajor, options_.VersionMinor)) {
  ui_->setupUi(this);
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(100);

  // Leaving a tab stores its controls before the new tab fills them.
  connect(ui_->TabControl1, &QTabBar::currentChanged, this, [this](int index) {
    TabControl1Changing(currentTab_);
    currentTab_ = index;
    TabControl1Change(index);
  });
  connect(ui_->OkButton, &QPushButton::clicked, this, &TMainForm::OkButtonClick);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &TMainForm::CancelButtonClick);
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
  FormCreate();
}

TMainForm::~TMainForm() {
  // FormDestroy: the timer stops first; the server application then logs its goodbye and stops
  // the rigs as they are destroyed.
  Timer1->stop();
  app_.reset();
}

void TMainForm::FormCreate() {
  app_->OpenLog();
  app_->SetRigsFolders(options_.RigsFolders);
  app_->CreateRigs(options_.RigFactory);
  ui_->PortBox->clear();
  for (const std::string& n : app_->ListComPorts(options_.ListPorts))
    ui_->PortBox->addItem(QString::fromStdString(n));
  ui_->BaudRateBox->clear();
  for (int32_t b : kBaudTable) ui_->BaudRateBox->addItem(QString::number(b));
  app_->LoadRigTypes();
  ui_->RigTypeBox->clear();
  for (const std::string& n : app_->RigTypes().Names()) ui_->RigTypeBox->addItem(QString::fromStdString(n));
  app_->LoadSettings();
  app_->ApplyToRig(1);
  app_->ApplyToRig(2);
  setFixedWidth(std::max(214, sizeHint().width()));
  ui_->VersionLabel->setText(QString::asprintf("Version %d.%d", options_.VersionMajor, options_.VersionMinor));
  Timer1->start();
}

void TMainForm::StoreControls(TRigSettings& s) {
  s.RigType = std::max(0, ui_->RigTypeBox->currentIndex());
  s.Port = PortFromItemText(ui_->PortBox->currentText());
  s.BaudRate = std::max(0, ui_->BaudRateBox->currentIndex());
  s.DataBits = std::max(0, ui_->DataBitsBox->currentIndex());
  s.Parity = std::max(0, ui_->ParityBox->currentIndex());
  s.StopBits = std::max(0, ui_->StopBitsBox->currentIndex());
  s.RtsMode = std::max(0, ui_->RtsBox->currentIndex());
  s.DtrMode = std::max(0, ui_->DtrBox->currentIndex());
  s.PollMs = ui_->PollSpinEdit->value();
  s.TimeoutMs = ui_->TimeoutSpinEdit->value();
}

void TMainForm::FillControls(const TRigSettings& s) {
  QComboBox* ports = ui_->PortBox;
  ui_->RigTypeBox->setCurrentIndex(s.RigType < ui_->RigTypeBox->count() ? s.RigType : 0);
  // Entries marked "not present" are made for the configured port only; drop earlier ones.
  for (int i = ports->count() - 1; i >= 0; --i)
    if (ports->itemText(i).endsWith("(not present)")) ports->removeItem(i);
  int port = ports->findText(PortItemText(s.Port, true));
  if (port < 0) {
    // An unplugged adapter must not silently change the rig's port when OK is pressed.
    ports->addItem(PortItemText(s.Port, false));
    port = ports->count() - 1;
  }
  ports->setCurrentIndex(port);
  ui_->BaudRateBox->setCurrentIndex(s.BaudRate);
  ui_->DataBitsBox->setCurrentIndex(s.DataBits);
  ui_->ParityBox->setCurrentIndex(s.Parity);
  ui_->StopBitsBox->setCurrentIndex(s.StopBits);
  ui_->RtsBox->setCurrentIndex(s.RtsMode);
  ui_->DtrBox->setCurrentIndex(s.DtrMode);
  ui_->PollSpinEdit->setValue(s.PollMs);
  ui_->TimeoutSpinEdit->setValue(s.TimeoutMs);
}

void TMainForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TMainForm::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (!event->spontaneous()) FormHide();
}

void TMainForm::FormShow() {
  {
    QSignalBlocker block(ui_->TabControl1);
    ui_->TabControl1->setCurrentIndex(0);
  }
  currentTab_ = 0;
  ui_->SettingsPanel->show();
  ui_->AboutPanel->hide();
  app_->FromRig(1);
  app_->FromRig(2);
  FillControls(app_->Settings(1));
  if (server_) server_->FireVisibleChange();
}

void TMainForm::FormHide() {
  if (server_) server_->FireVisibleChange();
}

void TMainForm::TabControl1Changing(int leaving) {
  if (leaving == 0 || leaving == 1) StoreControls(app_->Settings(leaving + 1));
}

void TMainForm::TabControl1Change(int index) {
  if (index == 0 || index == 1) FillControls(app_->Settings(index + 1));
  ui_->SettingsPanel->setVisible(index == 0 || index == 1);
  ui_->AboutPanel->setVisible(index == 2);
}

void TMainForm::OkButtonClick() {
  TabControl1Changing(ui_->TabControl1->currentIndex());
  app_->Log(app_->SettingsLine(1));
  app_->Log(app_->SettingsLine(2));
  app_->ApplyToRig(1);
  app_->ApplyToRig(2);
  app_->SaveSettings();
  close();
}

void TMainForm::CancelButtonClick() { close(); }

void TMainForm::closeEvent(QCloseEvent* event) {
  // With clients the window only hides; without them the program ends.
  event->accept();
  if (!server_ || server_->ClientCount() == 0) {
    if (options_.Quit)
      options_.Quit();
    else
      QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  }
}

void TMainForm::ShowDialog() {
  show();
  raise();
  activateWindow();
}

void TMainForm::Timer1Timer() { app_->TimerTick(); }

}  // namespace tarvane
