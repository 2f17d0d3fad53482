#include "main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>
#include <filesystem>

#include "program_folder.h"
#include "serial_devices.h"

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
    : QDialog(parent), options_(std::move(options)) {
  SetupUi();
  FormCreate();
}

TMainForm::~TMainForm() {
  // FormDestroy: the log says goodbye, then the rigs stop as they are destroyed.
  Timer1->stop();
  CloseLog();
  rig1_.reset();
  rig2_.reset();
}

std::string TMainForm::SettingsFileName() const {
  return ResolveFileCase(options_.ProgramFolder + "/Tarvane.ini");
}

std::string TMainForm::LogFileName() const {
  return ResolveFileCase(options_.ProgramFolder + "/Tarvane.log");
}

void TMainForm::Log(const std::string& text) { log_.Log(text); }

// ---------------------------------------------------------------------------------------------
// Layout

void TMainForm::SetupUi() {
  setObjectName("MainForm");
  setWindowTitle("Tarvane Settings");
  setAccessibleName("Tarvane Settings");

  TabControl1 = new QTabBar(this);
  TabControl1->setObjectName("TabControl1");
  TabControl1->setAccessibleName("Settings pages");
  TabControl1->addTab("RIG 1");
  TabControl1->addTab("RIG 2");
  TabControl1->addTab("About");

  SettingsPanel = new QWidget(this);
  SettingsPanel->setObjectName("SettingsPanel");
  auto* form = new QFormLayout(SettingsPanel);
  auto addBox = [&](QComboBox*& box, const char* name, const char* caption, QStringList items) {
    box = new QComboBox(SettingsPanel);
    box->setObjectName(name);
    box->setEditable(false);  // drop-down lists only
    box->addItems(items);
    box->setAccessibleName(caption);
    auto* label = new QLabel(caption, SettingsPanel);
    label->setObjectName(QString(name) + "Label");
    label->setBuddy(box);
    form->addRow(label, box);
  };
  addBox(RigTypeBox, "RigTypeBox", "Rig type", {});
  addBox(PortBox, "PortBox", "Port", {});
  addBox(BaudRateBox, "BaudRateBox", "Baud rate", {});
  addBox(DataBitsBox, "DataBitsBox", "Data bits", {});
  for (const char* t : kDataBitsTexts) DataBitsBox->addItem(t);
  addBox(ParityBox, "ParityBox", "Parity", {});
  for (const char* t : kParityTexts) ParityBox->addItem(t);
  addBox(StopBitsBox, "StopBitsBox", "Stop bits", {});
  for (const char* t : kStopBitsTexts) StopBitsBox->addItem(t);
  addBox(RtsBox, "RtsBox", "RTS", {});
  for (const char* t : kRtsTexts) RtsBox->addItem(t);
  addBox(DtrBox, "DtrBox", "DTR", {});
  for (const char* t : kDtrTexts) DtrBox->addItem(t);
  auto addSpin = [&](QSpinBox*& spin, const char* name, const char* caption, int lo, int hi) {
    spin = new QSpinBox(SettingsPanel);
    spin->setObjectName(name);
    spin->setRange(lo, hi);
    spin->setAccessibleName(caption);
    auto* label = new QLabel(caption, SettingsPanel);
    label->setObjectName(QString(name) + "Label");
    label->setBuddy(spin);
    form->addRow(label, spin);
  };
  addSpin(PollSpinEdit, "PollSpinEdit", "Poll int., ms", kPollMin, kPollMax);
  addSpin(TimeoutSpinEdit, "TimeoutSpinEdit", "Timeout, ms", kTimeoutMin, kTimeoutMax);

  AboutPanel = new QWidget(this);
  AboutPanel->setObjectName("AboutPanel");
  auto* about = new QVBoxLayout(AboutPanel);
  auto* name = new QLabel("Tarvane", AboutPanel);
  name->setObjectName("ProgramNameLabel");
  VersionLabel = new QLabel(AboutPanel);
  VersionLabel->setObjectName("VersionLabel");
  auto* freeware = new QLabel(" FREEWARE ", AboutPanel);
  freeware->setObjectName("FreewareLabel");
  for (QLabel* l : {name, VersionLabel, freeware}) {
    l->setAlignment(Qt::AlignCenter);
    about->addWidget(l);
  }
  AboutPanel->hide();

  OkButton = new QPushButton("&OK", this);
  OkButton->setObjectName("OkButton");
  OkButton->setAccessibleName("OK");
  OkButton->setDefault(true);
  CancelButton = new QPushButton("&Cancel", this);
  CancelButton->setObjectName("CancelButton");
  CancelButton->setAccessibleName("Cancel");

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  auto* top = new QVBoxLayout(this);
  top->addWidget(TabControl1);
  top->addWidget(SettingsPanel);
  top->addWidget(AboutPanel);
  top->addLayout(buttons);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(100);

  connect(TabControl1, &QTabBar::currentChanged, this, [this](int index) {
    TabControl1Changing(currentTab_);
    currentTab_ = index;
    TabControl1Change(index);
  });
  connect(OkButton, &QPushButton::clicked, this, &TMainForm::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TMainForm::CancelButtonClick);
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
}

// ---------------------------------------------------------------------------------------------
// Start-up

void TMainForm::FormCreate() {
  OpenLog();
  auto log = [this](const std::string& text) { Log(text); };
  rig1_ = options_.RigFactory(1, log, events_);
  rig2_ = options_.RigFactory(2, log, events_);
  settings1_ = DefaultSettings(1);
  settings2_ = DefaultSettings(2);
  ListComPorts();
  ListBaudRates();
  rigTypes_.LoadRigTypes(RigsFolder(options_.ProgramFolder), log_.Proc());
  RigTypeBox->clear();
  for (const std::string& n : rigTypes_.Names()) RigTypeBox->addItem(QString::fromStdString(n));
  LoadSettings();
  ApplyToRig(settings1_, *rig1_);
  ApplyToRig(settings2_, *rig2_);
  setFixedWidth(std::max(214, sizeHint().width()));
  VersionLabel->setText(QString::asprintf("Version %d.%d", options_.VersionMajor, options_.VersionMinor));
  Timer1->start();
}

void TMainForm::OpenLog() {
  int level = 0;
  try {
    TIniFile ini(SettingsFileName());
    level = ini.ReadInteger("Debug", "Log", 0);
  } catch (const EIniFileError&) {
    level = 0;
  }
  if (level == 0) return;
  const std::string path = options_.ProgramFolder + "/Tarvane.log";
  if (!log_.Open(path, level)) return;
  log_.LogFmt("Tarvane started: Version %d.%d", options_.VersionMajor, options_.VersionMinor);
}

void TMainForm::CloseLog() {
  log_.Log("Tarvane stopped");
  log_.Close();
}

void TMainForm::ListComPorts() {
  std::vector<std::string> names;
  if (options_.ListPorts) {
    names = options_.ListPorts();
  } else {
    const auto devices = ListSerialDevices(SerialDevRoot(), SerialSysRoot());
    for (size_t i = 0; i < devices.size(); ++i) names.push_back("COM" + std::to_string(i + 1));
  }
  PortBox->clear();
  std::string list;
  for (const std::string& n : names) {
    PortBox->addItem(QString::fromStdString(n));
    if (!list.empty()) list += ",";
    list += n;
  }
  Log("COM ports found: " + list);
}

void TMainForm::ListBaudRates() {
  BaudRateBox->clear();
  for (int32_t b : kBaudTable) BaudRateBox->addItem(QString::number(b));
}

std::string TMainForm::TypeName(int index) const {
  const std::string& n = rigTypes_.Name(index);
  return n.empty() ? TRigTypeList::kNoRig : n;
}

std::string TMainForm::SettingsLine(int rigNumber) const {
  const TRigSettings& s = Settings(rigNumber);
  return (rigNumber == 2 ? "RIG 2 settings: " : "RIG 1 settings: ") + SettingsText(s, TypeName(s.RigType));
}

void TMainForm::LoadSettings() {
  auto typeIndex = [this](const std::string& name) { return rigTypes_.IndexOf(name); };
  auto log = [this](const std::string& text) { Log(text); };
  try {
    TIniFile ini(SettingsFileName());
    settings1_ = LoadRigSettings(ini, 1, typeIndex, log);
    Log(SettingsLine(1));
    settings2_ = LoadRigSettings(ini, 2, typeIndex, log);
    Log(SettingsLine(2));
  } catch (const EIniFileError& e) {
    Log(std::string("{!}") + e.what());
  }
}

void TMainForm::SaveSettings() {
  try {
    TIniFile ini(SettingsFileName());
    SaveRigSettings(ini, 1, settings1_, TypeName(settings1_.RigType));
    SaveRigSettings(ini, 2, settings2_, TypeName(settings2_.RigType));
    ini.UpdateFile();
  } catch (const EIniFileError& e) {
    Log(std::string("{!}") + e.what());
  }
}

void TMainForm::ApplyToRig(const TRigSettings& s, ServerRig& rig) {
  rig.SetEnabled(false);
  try {
    rig.SetRigCommands(rigTypes_.Commands(s.RigType));
    TPortSettings port;
    port.Port = s.Port;
    bool ok = false;
    const int baud = BaudRateBox->itemText(s.BaudRate).toInt(&ok);
    port.BaudRate = ok ? baud : 9600;
    port.DataBits = s.DataBits + 5;
    port.Parity = s.Parity;
    port.StopBits = s.StopBits;
    port.DtrMode = s.DtrMode;
    port.RtsMode = s.RtsMode;
    rig.SetPortSettings(port);
    rig.SetPollMs(s.PollMs);
    rig.SetTimeoutMs(s.TimeoutMs);
  } catch (const std::exception& e) {
    Log(std::string("{!}") + e.what());
  }
  rig.SetEnabled(true);
}

void TMainForm::FromRig(TRigSettings& s, ServerRig& rig) {
  s.RigType = 0;
  for (int i = 1; i < rigTypes_.Count(); ++i)
    if (rig.RigCommands() && rigTypes_.Commands(i) == rig.RigCommands()) s.RigType = i;
  const TPortSettings port = rig.PortSettings();
  s.Port = port.Port;
  s.BaudRate = std::max(0, BaudRateBox->findText(QString::number(port.BaudRate)));
  s.DataBits = port.DataBits - 5;
  s.Parity = port.Parity;
  s.StopBits = port.StopBits;
  s.RtsMode = port.RtsMode;
  s.DtrMode = port.DtrMode;
  s.PollMs = rig.PollMs();
  s.TimeoutMs = rig.TimeoutMs();
}

// ---------------------------------------------------------------------------------------------
// Dialog

void TMainForm::StoreControls(TRigSettings& s) {
  s.RigType = std::max(0, RigTypeBox->currentIndex());
  s.Port = PortFromItemText(PortBox->currentText());
  s.BaudRate = std::max(0, BaudRateBox->currentIndex());
  s.DataBits = std::max(0, DataBitsBox->currentIndex());
  s.Parity = std::max(0, ParityBox->currentIndex());
  s.StopBits = std::max(0, StopBitsBox->currentIndex());
  s.RtsMode = std::max(0, RtsBox->currentIndex());
  s.DtrMode = std::max(0, DtrBox->currentIndex());
  s.PollMs = PollSpinEdit->value();
  s.TimeoutMs = TimeoutSpinEdit->value();
}

void TMainForm::FillControls(const TRigSettings& s) {
  RigTypeBox->setCurrentIndex(s.RigType < RigTypeBox->count() ? s.RigType : 0);
  // Entries marked "not present" are made for the configured port only; drop earlier ones.
  for (int i = PortBox->count() - 1; i >= 0; --i)
    if (PortBox->itemText(i).endsWith("(not present)")) PortBox->removeItem(i);
  int port = PortBox->findText(PortItemText(s.Port, true));
  if (port < 0) {
    // An unplugged adapter must not silently change the rig's port when OK is pressed.
    PortBox->addItem(PortItemText(s.Port, false));
    port = PortBox->count() - 1;
  }
  PortBox->setCurrentIndex(port);
  BaudRateBox->setCurrentIndex(s.BaudRate);
  DataBitsBox->setCurrentIndex(s.DataBits);
  ParityBox->setCurrentIndex(s.Parity);
  StopBitsBox->setCurrentIndex(s.StopBits);
  RtsBox->setCurrentIndex(s.RtsMode);
  DtrBox->setCurrentIndex(s.DtrMode);
  PollSpinEdit->setValue(s.PollMs);
  TimeoutSpinEdit->setValue(s.TimeoutMs);
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
    QSignalBlocker block(TabControl1);
    TabControl1->setCurrentIndex(0);
  }
  currentTab_ = 0;
  SettingsPanel->show();
  AboutPanel->hide();
  FromRig(settings1_, *rig1_);
  FromRig(settings2_, *rig2_);
  FillControls(settings1_);
  if (server_) server_->FireVisibleChange();
}

void TMainForm::FormHide() {
  if (server_) server_->FireVisibleChange();
}

void TMainForm::TabControl1Changing(int leaving) {
  if (leaving == 0) StoreControls(settings1_);
  else if (leaving == 1) StoreControls(settings2_);
}

void TMainForm::TabControl1Change(int index) {
  if (index == 0) FillControls(settings1_);
  else if (index == 1) FillControls(settings2_);
  SettingsPanel->setVisible(index == 0 || index == 1);
  AboutPanel->setVisible(index == 2);
}

void TMainForm::OkButtonClick() {
  TabControl1Changing(TabControl1->currentIndex());
  Log(SettingsLine(1));
  Log(SettingsLine(2));
  ApplyToRig(settings1_, *rig1_);
  ApplyToRig(settings2_, *rig2_);
  SaveSettings();
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

void TMainForm::Timer1Timer() {
  rig1_->TimerTick();
  rig2_->TimerTick();
}

}  // namespace tarvane
