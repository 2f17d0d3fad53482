#include "main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <cstring>
#include <filesystem>

#include "ui_main_form.h"

namespace tarvane {

QString PortItemText(int port, bool present) {
  return present ? QString("COM%1").arg(port) : QString("COM%1 (not present)").arg(port);
}

namespace {

constexpr const char* kNotPresent = " (not present)";
// Item data: the port number an entry stands for, and whether the entry was added for one rig's
// settings only (dropped before the next rig's are shown).
constexpr int kNumberRole = Qt::UserRole;
constexpr int kAddedRole = Qt::UserRole + 1;

}  // namespace

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
  for (const TPortChoice& p : app_->ListComPorts(options_.ListPorts))
    ui_->PortBox->addItem(QString::fromStdString(p.Name), p.Number);
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
  // "COM<n>" keeps a port number; any other entry is a device path.
  QString port = ui_->PortBox->currentText();
  if (port.endsWith(kNotPresent)) port.chop(int(std::strlen(kNotPresent)));
  if (port.startsWith('/')) {
    s.Device = port.toStdString();
  } else {
    s.Port = PortFromItemText(port);
    s.Device.clear();
  }
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
  // Entries added for one rig's port only are dropped before another's is shown.
  for (int i = ports->count() - 1; i >= 0; --i)
    if (ports->itemData(i, kAddedRole).toBool()) ports->removeItem(i);
  int port = -1;
  if (!s.Device.empty()) {
    const QString device = QString::fromStdString(s.Device);
    port = ports->findText(device);
    if (port < 0) {
      // A device by another name than the list's, or unplugged: kept as the settings name it.
      std::error_code ec;
      const bool present = std::filesystem::exists(s.Device, ec);
      ports->addItem(present ? device : device + kNotPresent, 0);
      port = ports->count() - 1;
      ports->setItemData(port, true, kAddedRole);
    }
  } else {
    // Port n is shown as the device it stands for now, by the name that stays with it.
    if (s.Port > 0) port = ports->findData(s.Port, kNumberRole);
    if (port < 0) {
      // An unplugged adapter must not silently change the rig's port when OK is pressed.
      ports->addItem(PortItemText(s.Port, false), s.Port);
      port = ports->count() - 1;
      ports->setItemData(port, true, kAddedRole);
    }
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
