// TMainForm: the server's main window, the settings dialog "Tarvane Settings", laid out in
// main_form.ui. It owns the server application (TServerApp: the log, the list of rig types,
// both rigs and their settings records) and the 100 ms timer that drives the rigs; the window
// itself only moves settings between the records and its controls. It is the DialogHost of the
// bus objects: shown by the user or by a client, hidden when started by the bus. Closing it only
// hides it while clients hold objects. Main thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation_server.h"
#include "server_app.h"

namespace Ui {
class TMainForm;
}

namespace tarvane {

struct TMainFormOptions {
  bool StartedByAutomation = false;
  std::string ProgramFolder;  // where the settings and log are
  // Where rig description files are looked for (see RigsFolders); empty: ProgramFolder's Rigs.
  std::vector<std::string> RigsFolders;
  TRigFactory RigFactory;
  // The names of the serial ports ("COM1" for port 1, or device paths); empty function: the
  // machine's serial devices by their stable names.
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
  TRigEvents& RigEvents() { return app_->RigEvents(); }
  ServerRig& Rig(int rigNumber) { return app_->Rig(rigNumber); }
  const TRigSettings& Settings(int rigNumber) const { return app_->Settings(rigNumber); }
  const TRigTypeList& RigTypes() const { return app_->RigTypes(); }
  std::string SettingsFileName() const { return app_->SettingsFileName(); }
  std::string LogFileName() const { return app_->LogFileName(); }

  void Log(const std::string& text) { app_->Log(text); }

  // DialogHost.
  bool DialogVisible() const override { return isVisible(); }
  void ShowDialog() override;
  void HideDialog() override { hide(); }

  void reject() override { close(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void TabControl1Changing(int leaving);
  void TabControl1Change(int index);
  void OkButtonClick();
  void CancelButtonClick();
  void Timer1Timer();

 private:
  void FormCreate();
  void FormShow();
  void FormHide();
  void StoreControls(TRigSettings& settings);
  void FillControls(const TRigSettings& settings);

  TMainFormOptions options_;
  std::unique_ptr<Ui::TMainForm> ui_;
  std::unique_ptr<TServerApp> app_;
  AutomationServer* server_ = nullptr;
  int currentTab_ = 0;
  QTimer* Timer1 = nullptr;  // owned by the form
};

// "COM<n>"; the marked entry for a configured port number that stands for no device here.
QString PortItemText(int port, bool present);
// The port number in a port box text: the digits after its first three characters, else 1.
int PortFromItemText(const QString& text);

}  // namespace tarvane
