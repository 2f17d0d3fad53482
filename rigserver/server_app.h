// TServerApp: the server application without its window. It owns the log, the list of rig
// types, both rigs with the events they report through, and the two settings records, and does
// what the settings dialog asks of them: open and close the log, list the ports, load the rig
// types, read and write the settings file, apply a record to its rig and read it back.
// The dialog (TMainForm) only moves values between these records and its controls.
// Main thread only (the log itself may be written from any thread).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "log_file.h"
#include "rig_type_list.h"
#include "server_rig.h"
#include "server_settings.h"

namespace tarvane {

// A port the dialog offers: the name shown, which is also what the settings keep when it is a
// device path; and the port number it stands for (0: none).
struct TPortChoice {
  std::string Name;
  int32_t Number = 0;
};

// The n of "COM<n>"; 0 for any other name.
int32_t PortNumberOf(const std::string& name);

class TServerApp {
 public:
  TServerApp(std::string programFolder, int versionMajor, int versionMinor);
  // Logs "Tarvane stopped", closes the log, then stops and frees both rigs.
  ~TServerApp();
  TServerApp(const TServerApp&) = delete;
  TServerApp& operator=(const TServerApp&) = delete;

  std::string SettingsFileName() const;
  std::string LogFileName() const;

  // Reads [Debug] Log; level 0 (or no file) leaves the log off, otherwise the log is created
  // and starts with "Tarvane started: Version %d.%d".
  void OpenLog();
  void CloseLog();
  void Log(const std::string& text);

  // Makes rig 1 and rig 2 and resets both settings records to their defaults.
  void CreateRigs(const TRigFactory& factory);
  // The ports the dialog offers: the names from `listPorts` ("COM<n>" stands for port n), or when
  // it is empty this machine's serial devices by their stable names, port n being the n-th.
  // Logs "COM ports found: " with the names comma-separated.
  std::vector<TPortChoice> ListComPorts(const std::function<std::vector<std::string>()>& listPorts);
  // The folders LoadRigTypes searches, in order (see RigsFolders); empty, the default: the
  // folder Rigs of the program folder alone.
  void SetRigsFolders(std::vector<std::string> folders) { rigsFolders_ = std::move(folders); }
  // Loads the rig description files of the rigs folders.
  void LoadRigTypes();
  // Reads [RIG1] and [RIG2] and logs each record's settings line.
  void LoadSettings();
  // Rewrites [RIG1] and [RIG2] with all ten keys each.
  void SaveSettings();

  // Disables the rig, sets its type, port, poll and time-out from its record, then enables it
  // again, also after an error (which is logged).
  void ApplyToRig(int rigNumber);
  // Takes the record back from what the running rig uses.
  void FromRig(int rigNumber);
  // "RIG 1 settings: " or "RIG 2 settings: " followed by the record's settings text.
  std::string SettingsLine(int rigNumber) const;

  // The 100 ms tick: rig 1, then rig 2.
  void TimerTick();

  TRigEvents& RigEvents() { return events_; }
  ServerRig& Rig(int rigNumber) { return rigNumber == 2 ? *rig2_ : *rig1_; }
  TRigSettings& Settings(int rigNumber) { return rigNumber == 2 ? settings2_ : settings1_; }
  const TRigSettings& Settings(int rigNumber) const { return rigNumber == 2 ? settings2_ : settings1_; }
  const TRigTypeList& RigTypes() const { return rigTypes_; }

 private:
  std::string TypeName(int index) const;

  std::string programFolder_;
  std::vector<std::string> rigsFolders_;
  int versionMajor_, versionMinor_;
  TLogFile log_;
  TRigTypeList rigTypes_;
  TRigEvents events_;
  std::unique_ptr<ServerRig> rig1_;
  std::unique_ptr<ServerRig> rig2_;
  TRigSettings settings1_;
  TRigSettings settings2_;
};

// The baud rate at `index` of the baud table; 9600 for an index outside it.
int32_t BaudRateAt(int index);
// The position of `baud` in the baud table; 0 when it is not there.
int BaudRateIndex(int32_t baud);

}  // namespace tarvane
