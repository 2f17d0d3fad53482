#include "server_registration.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <strings.h>
#include <system_error>

#include "tarvane_enums.h"

namespace tarvane {

namespace fs = std::filesystem;

TServerSwitches ParseServerSwitches(const std::vector<std::string>& args) {
  TServerSwitches s;
  for (const std::string& a : args) {
    if (a.size() < 2 || (a[0] != '-' && a[0] != '/')) continue;
    const char* name = a.c_str() + 1;
    if (strcasecmp(name, "REGSERVER") == 0) s.RegServer = true;
    else if (strcasecmp(name, "UNREGSERVER") == 0) s.UnregServer = true;
    else if (strcasecmp(name, "AUTOMATION") == 0 || strcasecmp(name, "EMBEDDING") == 0)
      s.Automation = true;
  }
  return s;
}

std::string ServiceFileDir() {
  if (const char* dir = std::getenv(kServiceDirVariable); dir && *dir) return dir;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
    return std::string(data) + "/dbus-1/services";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/dbus-1/services";
}

std::string ServiceFilePath(const std::string& dir) {
  return dir + "/" + kBusName + ".service";
}

std::string ServiceFileText(const std::string& executable) {
  // The Exec line is split at blanks by the bus; quote a path that has any.
  std::string exec = executable;
  if (exec.find_first_of(" \t\"") != std::string::npos) {
    std::string q = "\"";
    for (char c : exec) {
      if (c == '"' || c == '\\') q += '\\';
      q += c;
    }
    exec = q + "\"";
  }
  return std::string("[D-BUS Service]\nName=") + kBusName + "\nExec=" + exec + " -AUTOMATION\n";
}

bool RegisterServer(const std::string& dir, const std::string& executable, std::string* error) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  const std::string path = ServiceFilePath(dir);
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << ServiceFileText(executable);
    out.flush();
    if (!out) {
      if (error) *error = "cannot write " + temp;
      fs::remove(temp, ec);
      return false;
    }
  }
  fs::rename(temp, path, ec);
  if (ec) {
    if (error) *error = "cannot write " + path + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

bool UnregisterServer(const std::string& dir, std::string* error) {
  std::error_code ec;
  fs::remove(ServiceFilePath(dir), ec);
  if (ec) {
    if (error) *error = "cannot remove " + ServiceFilePath(dir) + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace tarvane
