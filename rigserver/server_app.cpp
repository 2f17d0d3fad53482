#include "server_app.h"

#include <algorithm>

#include "ini_file.h"
#include "program_folder.h"
#include "serial_devices.h"

namespace tarvane {

int32_t BaudRateAt(int index) {
  return index >= 0 && index < static_cast<int>(kBaudTable.size()) ? kBaudTable[static_cast<size_t>(index)]
                                                                    : 9600;
}

int BaudRateIndex(int32_t baud) {
  const auto it = std::find(kBaudTable.begin(), kBaudTable.end(), baud);
  return it == kBaudTable.end() ? 0 : static_cast<int>(it - kBaudTable.begin());
}

TServerApp::TServerApp(std::string programFolder, int versionMajor, int versionMinor)
    : programFolder_(std::move(programFolder)), versionMajor_(versionMajor), versionMinor_(versionMinor) {}

TServerApp::~TServerApp() {
  CloseLog();
  rig1_.reset();
  rig2_.reset();
}

std::string TServerApp::SettingsFileName() const { return ResolveFileCase(programFolder_ + "/Tarvane.ini"); }

std::string TServerApp::LogFileName() const { return ResolveFileCase(programFolder_ + "/Tarvane.log"); }

void TServerApp::Log(const std::string& text) { log_.Log(text); }

void TServerApp::OpenLog() {
  int level = 0;
  try {
    TIniFile ini(SettingsFileName());
    level = ini.ReadInteger("Debug", "Log", 0);
  } catch (const EIniFileError&) {
    level = 0;
  }
  if (level == 0) return;
  if (!log_.Open(programFolder_ + "/Tarvane.log", level)) return;
  log_.LogFmt("Tarvane started: Version %d.%d", versionMajor_, versionMinor_);
}

void TServerApp::CloseLog() {
  log_.Log("Tarvane stopped");
  log_.Close();
}

void TServerApp::CreateRigs(const TRigFactory& factory) {
  auto log = [this](const std::string& text) { Log(text); };
  rig1_ = factory(1, log, events_);
  rig2_ = factory(2, log, events_);
  settings1_ = DefaultSettings(1);
  settings2_ = DefaultSettings(2);
}

int32_t PortNumberOf(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return 0;
  int32_t n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 99999) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

std::vector<TPortChoice> TServerApp::ListComPorts(const std::function<std::vector<std::string>()>& listPorts) {
  std::vector<TPortChoice> ports;
  if (listPorts) {
    for (const std::string& name : listPorts()) ports.push_back({name, PortNumberOf(name)});
  } else {
    // By the name that stays with the device (its serial/by-id link) where it has one; port n
    // of older settings is the n-th of them.
    const auto devices = ListSerialDevices(SerialDevRoot(), SerialSysRoot());
    for (size_t i = 0; i < devices.size(); ++i) {
      const TSerialDevice& d = devices[i];
      ports.push_back({d.ById.empty() ? d.Path : d.ById, static_cast<int32_t>(i + 1)});
    }
  }
  std::string list;
  for (const TPortChoice& p : ports) {
    if (!list.empty()) list += ",";
    list += p.Name;
  }
  Log("COM ports found: " + list);
  return ports;
}

void TServerApp::LoadRigTypes() {
  if (rigsFolders_.empty()) {
    rigTypes_.LoadRigTypes(RigsFolder(programFolder_), log_.Proc());
  } else {
    rigTypes_.LoadRigTypes(rigsFolders_, log_.Proc());
  }
}

std::string TServerApp::TypeName(int index) const {
  const std::string& n = rigTypes_.Name(index);
  return n.empty() ? TRigTypeList::kNoRig : n;
}

std::string TServerApp::SettingsLine(int rigNumber) const {
  const TRigSettings& s = Settings(rigNumber);
  return (rigNumber == 2 ? "RIG 2 settings: " : "RIG 1 settings: ") + SettingsText(s, TypeName(s.RigType));
}

void TServerApp::LoadSettings() {
  auto typeIndex = [this](const std::string& name) { return rigTypes_.IndexOf(name); };
  auto log = [this](const std::string& text) { Log(text); };
  auto rejected = [this](const std::string& name) { return rigTypes_.RejectedFile(name); };
  try {
    TIniFile ini(SettingsFileName());
    settings1_ = LoadRigSettings(ini, 1, typeIndex, log, rejected);
    Log(SettingsLine(1));
    settings2_ = LoadRigSettings(ini, 2, typeIndex, log, rejected);
    Log(SettingsLine(2));
  } catch (const EIniFileError& e) {
    Log(std::string("{!}") + e.what());
  }
}

void TServerApp::SaveSettings() {
  try {
    TIniFile ini(SettingsFileName());
    SaveRigSettings(ini, 1, settings1_, TypeName(settings1_.RigType));
    SaveRigSettings(ini, 2, settings2_, TypeName(settings2_.RigType));
    ini.UpdateFile();
  } catch (const EIniFileError& e) {
    Log(std::string("{!}") + e.what());
  }
}

void TServerApp::ApplyToRig(int rigNumber) {
  const TRigSettings& s = Settings(rigNumber);
  ServerRig& rig = Rig(rigNumber);
  rig.SetEnabled(false);
  try {
    rig.SetRigCommands(rigTypes_.Commands(s.RigType));
    TPortSettings port;
    port.Port = s.Port;
    port.Device = s.Device;
    port.BaudRate = BaudRateAt(s.BaudRate);
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

void TServerApp::FromRig(int rigNumber) {
  TRigSettings& s = Settings(rigNumber);
  ServerRig& rig = Rig(rigNumber);
  s.RigType = 0;
  for (int i = 1; i < rigTypes_.Count(); ++i)
    if (rig.RigCommands() && rigTypes_.Commands(i) == rig.RigCommands()) s.RigType = i;
  const TPortSettings port = rig.PortSettings();
  s.Port = port.Port;
  s.Device = port.Device;
  s.BaudRate = BaudRateIndex(port.BaudRate);
  s.DataBits = port.DataBits - 5;
  s.Parity = port.Parity;
  s.StopBits = port.StopBits;
  s.RtsMode = port.RtsMode;
  s.DtrMode = port.DtrMode;
  s.PollMs = rig.PollMs();
  s.TimeoutMs = rig.TimeoutMs();
}

void TServerApp::TimerTick() {
  rig1_->TimerTick();
  rig2_->TimerTick();
}

}  // namespace tarvane
