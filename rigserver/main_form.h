// TMainForm: the server's main window, the settings dialog "Tarvane Settings". It owns the log,
// the list of rig types, both rigs and their settings records, and the 100 ms timer that
// drives the rigs. It is the DialogHost of the bus objects: shown by the user or by a client,
// hidden when started by the bus. Closing it only hides it while clients hold objects.
// Main thread only.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation_server.h"
#include "log_file.h"
#include "rig_type_list.h"
#include "server_rig.h"
#include "server_settings.h"

namespace tarvane {

struct TMainFormOptions {
  bool StartedByAutomation = false;
  std::string ProgramFolder;  // where the settings, log and Rigs folder are
  TRigFactory RigFactory;
  // The names of the serial ports ("COM1", ...); empty function: the machine's serial devices.
  std::function<std::vector<std::string>()> ListPorts;
  int VersionMajor = 0, VersionMinor = 0;
  // Ends the program; empty: quit the application's event loop.
  std::function<void()> Quit;
};

class TMainForm : public QDialog, public DialogHost {
  Q_OBJECT
 public:
  explicit TMainForm(TMainFormOptions options, QWidget* parent = nullptr);
  ~TMainForm() override;

  // The bus server, once it exists: close and hide consult its client count.
  void SetServer(AutomationServer* server) { server_ = server; }
  TRigEvents& RigEvents() { return events_; }
  ServerRig& Rig(int rigNumber) { return rigNumber == 2 ? *rig2_ : *rig1_; }
  const TRigSettings& Settings(int rigNumber) const { return rigNumber == 2 ? settings2_ : settings1_; }
  const TRigTypeList& RigTypes() const { return rigTypes_; }
  std::string SettingsFileName() const;
  std::string LogFileName() const;

  void Log(const std::string& text);

  // DialogHost.
  bool DialogVisible() const override { return isVisible(); }
  void ShowDialog() override;
  void HideDialog() override { hide(); }

  void reject() override { close(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void FormHide();
  void TabControl1Changing(int leaving);
  void TabControl1Change(int index);
  void OkButtonClick();
  void CancelButtonClick();
  void Timer1Timer();

  void SetupUi();
  void OpenLog();
  void CloseLog();
  void ListComPorts();
  void ListBaudRates();
  void LoadSettings();
  void SaveSettings();
  void ApplyToRig(const TRigSettings& settings, ServerRig& rig);
  void FromRig(TRigSettings& settings, ServerRig& rig);
  void StoreControls(TRigSettings& settings);
  void FillControls(const TRigSettings& settings);
  std::string TypeName(int index) const;
  std::string SettingsLine(int rigNumber) const;

  TMainFormOptions options_;
  TLogFile log_;
  TRigTypeList rigTypes_;
  TRigEvents events_;
  std::unique_ptr<ServerRig> rig1_;
  std::unique_ptr<ServerRig> rig2_;
  TRigSettings settings1_;
  TRigSettings settings2_;
  AutomationServer* server_ = nullptr;
  int currentTab_ = 0;

  // Controls (owned by Qt's parent chain).
  QTabBar* TabControl1 = nullptr;
  QWidget* SettingsPanel = nullptr;
  QWidget* AboutPanel = nullptr;
  QComboBox* RigTypeBox = nullptr;
  QComboBox* PortBox = nullptr;
  QComboBox* BaudRateBox = nullptr;
  QComboBox* DataBitsBox = nullptr;
  QComboBox* ParityBox = nullptr;
  QComboBox* StopBitsBox = nullptr;
  QComboBox* RtsBox = nullptr;
  QComboBox* DtrBox = nullptr;
  QSpinBox* PollSpinEdit = nullptr;
  QSpinBox* TimeoutSpinEdit = nullptr;
  QLabel* VersionLabel = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QTimer* Timer1 = nullptr;
};

// "COM<n>"; the marked entry for a configured port that is not on this machine.
QString PortItemText(int port, bool present);
// The port number in a port box text: the digits after its first three characters, else 1.
int PortFromItemText(const QString& text);

}  // namespace tarvane
