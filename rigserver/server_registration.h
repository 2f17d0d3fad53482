// The server's command-line switches and its registration with the session bus: REGSERVER
// writes the bus activation .service file that starts this program for its clients,
// UNREGSERVER removes it, AUTOMATION and EMBEDDING mark a start by the bus. A switch is an
// argument beginning with '-' or '/' whose rest equals the switch name in any case.
// Pure functions; safe from any thread.
#pragma once

#include <string>
#include <vector>

namespace tarvane {

struct TServerSwitches {
  bool RegServer = false;
  bool UnregServer = false;
  bool Automation = false;  // AUTOMATION or EMBEDDING
};

TServerSwitches ParseServerSwitches(const std::vector<std::string>& args);

// Overrides the folder of the .service file (used by tests).
inline constexpr const char* kServiceDirVariable = "TARVANE_DBUS_SERVICE_DIR";

// The folder of the user's activation files: the override, else $XDG_DATA_HOME/dbus-1/services,
// else ~/.local/share/dbus-1/services.
std::string ServiceFileDir();
// "<dir>/org.tarvane.TarvaneX.service".
std::string ServiceFilePath(const std::string& dir);
// The file's text: the bus name and the program started with -AUTOMATION.
std::string ServiceFileText(const std::string& executable);

// Creates the folder as needed and writes the file; false (with a reason) on failure.
bool RegisterServer(const std::string& dir, const std::string& executable, std::string* error);
// Removes the file; a missing file is not an error.
bool UnregisterServer(const std::string& dir, std::string* error);

}  // namespace tarvane
